#include "platform/chromium/page_text.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace varne {

namespace {

constexpr char16_t kMarker = 0xFDD0;
constexpr std::string_view kMarkerUtf8 = "\xEF\xB7\x90";
constexpr std::string_view kDoubledMarkerUtf8 = "\xEF\xB7\x90\xEF\xB7\x90";
// A surrogate's carrier is the private-use character as far above U+E000 as it is above U+D800.
constexpr char16_t kCarrierOffset = 0xE000 - 0xD800;
constexpr char16_t kFirstCarrier = 0xE000;
constexpr char16_t kLastCarrier = 0xE7FF;

bool is_high(unsigned unit)
{
    return unit >= 0xD800 && unit <= 0xDBFF;
}

bool is_low(unsigned unit)
{
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

bool is_surrogate(unsigned unit)
{
    return unit >= 0xD800 && unit <= 0xDFFF;
}

int hex_digit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    const char lower = static_cast<char>(c | 0x20);
    return lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : -1;
}

// The code unit of the escape "\uXXXX" at `at`, or none.
std::optional<unsigned> escaped_unit(std::string_view json, size_t at)
{
    if (at + 6 > json.size() || json[at] != '\\' || json[at + 1] != 'u')
        return std::nullopt;
    unsigned unit = 0;
    for (size_t i = at + 2; i < at + 6; ++i) {
        const int digit = hex_digit(json[i]);
        if (digit < 0)
            return std::nullopt;
        unit = unit * 16 + static_cast<unsigned>(digit);
    }
    return unit;
}

// Surrogates and the marker are U+Dxxx and U+Fxxx: most escapes are passed over at their first digit.
bool may_matter(std::string_view json, size_t escape)
{
    if (escape + 2 >= json.size())
        return false;
    const char lead = static_cast<char>(json[escape + 2] | 0x20);
    return lead == 'd' || lead == 'f';
}

// The surrogate whose carrier, in UTF-8, follows the marker at `at`, or none.
std::optional<unsigned> reserved_surrogate(std::string_view json, size_t at)
{
    const size_t carrier = at + kMarkerUtf8.size();
    if (carrier + 3 > json.size() || json[carrier] != '\xEE')
        return std::nullopt;
    const auto second = static_cast<unsigned char>(json[carrier + 1]);
    const auto third = static_cast<unsigned char>(json[carrier + 2]);
    if (second < 0x80 || second > 0x9F || (third & 0xC0) != 0x80)
        return std::nullopt;
    return 0xD800 + (((second & 0x3Fu) << 6) | (third & 0x3Fu));
}

std::string reserved_form(unsigned surrogate)
{
    return to_utf8(std::u16string{kMarker, static_cast<char16_t>(surrogate + kCarrierOffset)});
}

// Builds an edited copy of a text only once the first edit comes, so that a text with nothing
// to edit is never copied.
class Editor {
public:
    explicit Editor(std::string_view text) : m_text(text) {}

    void replace(size_t at, size_t length, std::string_view with)
    {
        m_out.append(m_text, m_copied, at - m_copied);
        m_out += with;
        m_copied = at + length;
        m_edited = true;
    }

    // Puts the edited text into `text`; false when nothing was edited.
    bool finish(std::string& text)
    {
        if (!m_edited)
            return false;
        m_out.append(m_text, m_copied);
        text = std::move(m_out);
        return true;
    }

private:
    std::string_view m_text;
    std::string m_out;
    size_t m_copied = 0;
    bool m_edited = false;
};

}  // namespace

bool reserve_lone_surrogates(std::string& json)
{
    Editor editor(json);
    // Escapes are ASCII, so a raw marker never sits inside one: the two are looked for apart.
    size_t escape = json.find('\\');
    size_t raw_marker = json.find(kMarkerUtf8);
    while (escape != std::string::npos || raw_marker != std::string::npos) {
        if (raw_marker < escape) {
            editor.replace(raw_marker, kMarkerUtf8.size(), kDoubledMarkerUtf8);
            raw_marker = json.find(kMarkerUtf8, raw_marker + kMarkerUtf8.size());
            continue;
        }
        // "\u0436" and the like, or a short one: "\\", "\"", "\n"...
        size_t length = escape + 1 < json.size() && json[escape + 1] == 'u' ? 6 : 2;
        if (const auto unit = may_matter(json, escape) ? escaped_unit(json, escape) : std::nullopt) {
            const auto next = escaped_unit(json, escape + 6);
            if (is_high(*unit) && next && is_low(*next))
                length = 12;
            else if (is_surrogate(*unit))
                editor.replace(escape, length, reserved_form(*unit));
            else if (*unit == kMarker)
                editor.replace(escape, length, kDoubledMarkerUtf8);
        }
        escape = json.find('\\', escape + length);
    }
    return editor.finish(json);
}

void escape_reserved_surrogates(std::string& json)
{
    Editor editor(json);
    for (size_t at = json.find(kMarkerUtf8); at != std::string::npos; at = json.find(kMarkerUtf8, at)) {
        if (json.compare(at, kDoubledMarkerUtf8.size(), kDoubledMarkerUtf8) == 0) {
            editor.replace(at, kDoubledMarkerUtf8.size(), kMarkerUtf8);
            at += kDoubledMarkerUtf8.size();
        } else if (const auto surrogate = reserved_surrogate(json, at)) {
            char escape[7];
            std::snprintf(escape, sizeof escape, "\\u%04x", *surrogate);
            editor.replace(at, kMarkerUtf8.size() + 3, escape);
            at += kMarkerUtf8.size() + 3;
        } else {
            at += kMarkerUtf8.size();
        }
    }
    editor.finish(json);
}

BStr page_text(std::string_view text)
{
    BStr units = from_utf8(text);
    if (text.find(kMarkerUtf8) == std::string_view::npos)
        return units;
    BStr page;
    page.reserve(units.size());
    for (size_t i = 0; i < units.size(); ++i) {
        const char16_t next = i + 1 < units.size() ? units[i + 1] : 0;
        if (units[i] == kMarker && next == kMarker) {
            page += kMarker;
            ++i;
        } else if (units[i] == kMarker && next >= kFirstCarrier && next <= kLastCarrier) {
            page += static_cast<char16_t>(next - kCarrierOffset);
            ++i;
        } else {
            page += units[i];
        }
    }
    return page;
}

std::string protocol_text(std::u16string_view text)
{
    if (std::none_of(text.begin(), text.end(), [](char16_t unit) { return is_surrogate(unit) || unit == kMarker; }))
        return to_utf8(text);
    BStr reserved;
    reserved.reserve(text.size() + 8);
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (is_high(unit) && i + 1 < text.size() && is_low(text[i + 1])) {
            reserved += unit;
            reserved += text[++i];
        } else if (is_surrogate(unit)) {
            reserved += kMarker;
            reserved += static_cast<char16_t>(unit + kCarrierOffset);
        } else if (unit == kMarker) {
            reserved += kMarker;
            reserved += kMarker;
        } else {
            reserved += unit;
        }
    }
    return to_utf8(reserved);
}

}  // namespace varne
