#pragma once

#include <string_view>

// The reserved form in which a lone surrogate of a page travels as valid UTF-8 between the wire and
// the page model: the noncharacter U+FDD0 followed by U+E000 to U+E7FF for U+D800 to U+DFFF, and a
// U+FDD0 of the page's own doubled. The protocol sessions write it (lone_surrogates.h); the page
// model reads it (page/page_text.h).
namespace varne::reserved_form {

constexpr char16_t kMarker = 0xFDD0;
constexpr std::string_view kMarkerUtf8 = "\xEF\xB7\x90";
constexpr std::string_view kDoubledMarkerUtf8 = "\xEF\xB7\x90\xEF\xB7\x90";
// A surrogate's carrier is the private-use character as far above U+E000 as it is above U+D800.
constexpr char16_t kCarrierOffset = 0xE000 - 0xD800;
constexpr char16_t kFirstCarrier = 0xE000;
constexpr char16_t kLastCarrier = 0xE7FF;

constexpr bool is_high(unsigned unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

constexpr bool is_low(unsigned unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

constexpr bool is_surrogate(unsigned unit)
{
    return unit >= 0xD800 && unit <= 0xDFFF;
}

}  // namespace varne::reserved_form
