#pragma once

#include <span>
#include <string_view>

#include "page/page_delegate.h"

namespace varne {

// The engines that this build offers, each registered under its name; the names in the order that
// VARNE_BROWSER's error text lists them. One file per system defines it, chosen by CMake.
struct OfferedEngines {
    page::EngineRegistry registry;
    std::span<const std::string_view> names;
};

const OfferedEngines& offered_engines();

}  // namespace varne
