#pragma once

#include <gtest/gtest.h>

#include "frame/automation_error.h"

namespace varne::testing {

// Runs `call`, which must raise, and returns the AutomationError it raised; a call that raises nothing
// is a test failure and answers an error numbered 0 with no description.
template <class Call>
AutomationError raised(Call&& call)
{
    try {
        call();
    } catch (const AutomationError& error) {
        return error;
    }
    ADD_FAILURE() << "no AutomationError was raised";
    return AutomationError(0, "");
}

}  // namespace varne::testing
