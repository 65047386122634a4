#include "composition/engine_choice.h"

#include "frame/automation_error.h"

#include <algorithm>
#include <cctype>
#include <utility>

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

std::string capitalized(std::string name)
{
    name[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    return name;
}

AutomationError refusal(std::string description)
{
    return {error_number::kInvalidProcedureCall, std::move(description)};
}

}  // namespace

std::string chosen_engine(const std::function<const char*(const char* name)>& lookup,
                          std::span<const std::string_view> engines)
{
    // Each engine's variable for a browser that runs already, which names that engine.
    const std::pair<const char*, std::string_view> attach_variables[] = {{"VARNE_CDP_URL", "chromium"},
                                                                         {"VARNE_BIDI_URL", "firefox"}};
    const char* asked = lookup("VARNE_BROWSER");
    std::string engine(kDefaultEngine);
    if (is_set(asked)) {
        engine = lowercase(asked);
    } else {
        for (const auto& [variable, named] : attach_variables) {
            if (is_set(lookup(variable)))
                engine = named;
        }
    }
    if (std::ranges::find(engines, engine) == engines.end()) {
        std::string known;
        for (const auto name : engines)
            known += (known.empty() ? "" : " or ") + std::string(name);
        throw refusal(is_set(asked) ? "VARNE_BROWSER must be " + known + ", not \"" + asked + "\""
                                    : "VARNE_BIDI_URL names a Firefox, which this build does not offer");
    }
    for (const auto& [variable, named] : attach_variables) {
        if (named != engine && is_set(lookup(variable)))
            throw refusal((is_set(asked) ? "VARNE_BROWSER=" + engine : std::string("VARNE_BIDI_URL")) +
                          " contradicts " + variable + ", which reaches a " + capitalized(std::string(named)) +
                          "; unset one of them");
    }
    return engine;
}

}  // namespace varne
