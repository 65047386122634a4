#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace varne {

// The last `count` lines of `text` that are not blank, joined by " | ": what a browser that failed
// to start printed last, for its error text.
std::string last_lines(std::string_view text, size_t count);

}  // namespace varne
