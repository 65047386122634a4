#pragma once

#include <functional>
#include <span>
#include <string>
#include <string_view>

namespace varne {

// Which engine drives the browsers of this process, as VARNE_BROWSER says when a Browser is
// created: "chromium" (the default, also when empty) or another of `engines`, in any case. Unset,
// it is the engine whose browser that runs already is named: Firefox for VARNE_BIDI_URL.
// Raises AutomationError (invalid procedure call) naming VARNE_BROWSER for a name that is not among
// `engines`, and naming both variables when one engine is asked for together with the other's
// address of a running browser (VARNE_CDP_URL, VARNE_BIDI_URL).
std::string chosen_engine(const std::function<const char*(const char* name)>& lookup,
                          std::span<const std::string_view> engines);

}  // namespace varne
