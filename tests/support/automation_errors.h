#pragma once

#include <gtest/gtest.h>

#include "frame/automation_error.h"

#include <utility>

namespace varne::testing {

// Runs `call`, which must raise an `Error`, and returns the error it raised; a call that raises
// nothing is a test failure and answers `nothing`.
template <class Error, class Call>
Error raised_as(Call&& call, Error nothing)
{
    try {
        call();
    } catch (const Error& error) {
        return error;
    }
    ADD_FAILURE() << "no error of the expected type was raised";
    return nothing;
}

// raised_as() for an AutomationError; a call that raises nothing answers one numbered 0 with no description.
template <class Call>
AutomationError raised(Call&& call)
{
    return raised_as(std::forward<Call>(call), AutomationError(0, ""));
}

}  // namespace varne::testing
