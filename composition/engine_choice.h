#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace varne {

// Which engine drives the browsers of this process, as VARNE_BROWSER says when a Browser is
// created: "chromium" (the default, also when empty) or another of `engines`, in any case.
// Raises AutomationError (invalid procedure call) naming VARNE_BROWSER for a name that is not among
// `engines`, and naming both variables when Firefox is asked for together with VARNE_CDP_URL or
// VARNE_REMOTE_URL, which reach a Chromium.
std::string chosen_engine(const std::function<const char*(const char* name)>& lookup,
                          std::span<const std::string_view> engines);

}  // namespace varne
