#include "platform/transport/lone_surrogates.h"

#include "frame/text.h"
#include "platform/transport/reserved_form.h"

#include <cstdio>
#include <optional>
#include <string_view>

namespace varne {

using namespace reserved_form;

namespace {

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

std::string carried_form(unsigned surrogate)
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
                editor.replace(escape, length, carried_form(*unit));
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

}  // namespace varne
