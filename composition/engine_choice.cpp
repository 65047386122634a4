#include "composition/engine_choice.h"

#include "frame/automation_error.h"

#include <algorithm>
#include <cctype>

namespace varne {

namespace {

constexpr std::string_view kDefaultEngine = "chromium";

bool is_set(const char* value)
{
    return value != nullptr && *value != '\0';
}

std::string lowercase(std::string_view text)
{
    std::string lower(text);
    std::ranges::transform(lower, lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower;
}

AutomationError refusal(std::string description)
{
    return {error_number::kInvalidProcedureCall, std::move(description)};
}

}  // namespace

std::string chosen_engine(const std::function<const char*(const char* name)>& lookup,
                          std::span<const std::string_view> engines)
{
    const char* asked = lookup("VARNE_BROWSER");
    const std::string engine = is_set(asked) ? lowercase(asked) : std::string(kDefaultEngine);
    if (std::ranges::find(engines, engine) == engines.end()) {
        std::string known;
        for (const auto name : engines)
            known += (known.empty() ? "" : " or ") + std::string(name);
        throw refusal("VARNE_BROWSER must be " + known + ", not \"" + asked + "\"");
    }
    if (engine != kDefaultEngine) {
        for (const char* chromium_only : {"VARNE_CDP_URL", "VARNE_REMOTE_URL"}) {
            if (is_set(lookup(chromium_only)))
                throw refusal("VARNE_BROWSER=" + engine + " contradicts " + chromium_only +
                              ", which reaches a Chromium; unset one of them");
        }
    }
    return engine;
}

}  // namespace varne
