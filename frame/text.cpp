#include "frame/text.h"

#include "frame/upper_case_table.h"

#include <algorithm>
#include <iterator>

namespace varne {

namespace {

// A byte that does not decode stands for itself as the lone surrogate U+DC80 to U+DCFF, so that
// text read from a file writes back to the same bytes.
constexpr char16_t kByteEscapeBase = 0xDC00;
constexpr char16_t kFirstByteEscape = 0xDC80;
constexpr char16_t kLastByteEscape = 0xDCFF;

void append_utf8(std::string& out, char32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// One table of the library's own, so that keys compare alike on every platform and under any
// locale the host program has set.
char16_t upper_unit(char16_t c)
{
    if (c < 0x80)
        return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    const auto* after = std::upper_bound(std::begin(upper_case::kRuns), std::end(upper_case::kRuns), c,
                                         [](char16_t unit, const upper_case::Run& run) { return unit < run.first; });
    if (after == std::begin(upper_case::kRuns))
        return c;
    const auto& run = *std::prev(after);
    if (c > run.last || (c - run.first) % run.stride != 0)
        return c;
    return static_cast<char16_t>(c + run.delta);
}

}  // namespace

void append_utf16(BStr& out, char32_t cp)
{
    if (cp < 0x10000) {
        out += static_cast<char16_t>(cp);
    } else {
        cp -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (cp >> 10));
        out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    }
}

std::string to_utf8(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            append_utf8(out, 0x10000 + ((char32_t(unit) - 0xD800) << 10) + (char32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if (unit >= kFirstByteEscape && unit <= kLastByteEscape) {
            out += static_cast<char>(unit - kByteEscapeBase);
        } else if (unit >= 0xD800 && unit <= 0xDFFF) {
            out += '?';
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

BStr from_utf8(std::string_view text)
{
    BStr out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        int extra = lead < 0x80 ? 0 : (lead >> 5) == 0x6 ? 1 : (lead >> 4) == 0xE ? 2 : (lead >> 3) == 0x1E ? 3 : -1;
        char32_t cp = extra == 0 ? lead : extra == 1 ? (lead & 0x1F) : extra == 2 ? (lead & 0x0F) : (lead & 0x07);
        bool valid = extra >= 0 && i + static_cast<size_t>(extra) < text.size();
        for (int k = 1; valid && k <= extra; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                valid = false;
            else
                cp = (cp << 6) | (next & 0x3F);
        }
        static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (valid && (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)))
            valid = false;
        if (!valid) {
            out += static_cast<char16_t>(kByteEscapeBase + lead);
            ++i;
            continue;
        }
        append_utf16(out, cp);
        i += static_cast<size_t>(extra) + 1;
    }
    return out;
}

BStr to_upper(std::u16string_view text)
{
    BStr out(text);
    for (auto& c : out)
        c = upper_unit(c);
    return out;
}

bool equals_ignoring_case(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (upper_unit(a[i]) != upper_unit(b[i]))
            return false;
    }
    return true;
}

std::u16string_view trim_spaces(std::u16string_view text)
{
    auto first = text.find_first_not_of(u' ');
    if (first == std::u16string_view::npos)
        return {};
    auto last = text.find_last_not_of(u' ');
    return text.substr(first, last - first + 1);
}

}  // namespace varne
