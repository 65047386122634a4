#pragma once

#include <string_view>

#include "frame/automation_error.h"
#include "frame/text.h"

namespace varne {

// Raised by members whose class has not been built yet: nothing reports success without doing the work.
[[noreturn]] inline void throw_not_built(std::string_view member)
{
    throw AutomationError(error_number::kNotImplemented, std::string(member) + " is not built yet");
}

}  // namespace varne
