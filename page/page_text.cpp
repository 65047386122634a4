#include "page/page_text.h"

#include <algorithm>

#include "platform/transport/reserved_form.h"

namespace varne::page {

using namespace reserved_form;

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

}  // namespace varne::page
