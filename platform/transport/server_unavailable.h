#pragma once

#include "frame/automation_error.h"

#include <string>
#include <utility>

namespace varne {

// A browser, Grid or peer that could not be started, reached or kept.
inline AutomationError server_unavailable(std::string description)
{
    return {error_number::kServerUnavailable, std::move(description)};
}

}  // namespace varne
