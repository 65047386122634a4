#include "browser/log_text.h"

#include <string>

namespace varne {

namespace {

bool written_escaped(char16_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029;
}

// Whether a backslash before `next` could be read as the start of an escape.
bool backslash_needs_doubling(char16_t next)
{
    switch (next) {
    case u'\\':
    case u'r':
    case u'n':
    case u't':
    case u'x':
    case u'u':
        return true;
    default:
        return written_escaped(next);
    }
}

void append_hex(BStr& out, char16_t c, int digits)
{
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4)
        out += kDigits[(c >> shift) & 0xF];
}

}  // namespace

BStr log_line_text(std::u16string_view text)
{
    BStr out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\\') {
            out += i + 1 < text.size() && backslash_needs_doubling(text[i + 1]) ? u"\\\\" : u"\\";
        } else if (!written_escaped(c)) {
            out += c;
        } else if (c == u'\r') {
            out += u"\\r";
        } else if (c == u'\n') {
            out += u"\\n";
        } else if (c == u'\t') {
            out += u"\\t";
        } else if (c < 0x80) {
            out += u"\\x";
            append_hex(out, c, 2);
        } else {
            out += u"\\u";
            append_hex(out, c, 4);
        }
    }
    return out;
}

BStr quoted(const BStr& text)
{
    return u"\"" + text + u"\"";
}

BStr decimal(int32_t value)
{
    return from_utf8(std::to_string(value));
}

}  // namespace varne
