#include "browser/browser.h"

#include "browser/collection_walk.h"
#include "browser/element_identity.h"
#include "browser/log_text.h"

namespace varne {

namespace {

constexpr char16_t kClickLinkTiming[] = u"ClickLink";
constexpr char16_t kClickFormButtonTiming[] = u"ClickFormButton";

// The position of the link numbered `occurrence` among those that `text` identifies.
std::optional<int16_t> choose_link(dom::Document& document, const BStr& text, BrowserIdentType method,
                                   int16_t occurrence)
{
    auto identified = identify_links(document, text, method);
    return find_occurrence(static_cast<int64_t>(identified.size()), occurrence,
                           [&](int16_t position) { return identified[position]; });
}

}  // namespace

int16_t Browser::ClickLink(const Ref<Dispatch>& Document, const BStr& LinkText, BrowserIdentType IdentMethod,
                           int16_t Occurrence)
{
    if (IdentMethod == brwImgAlt || IdentMethod == brwImgSrc)
        return ClickGraphicLink(*dom::expect<dom::Document>(Document), LinkText, IdentMethod, Occurrence);
    if (IdentMethod == brwInnerText)
        return ClickTextLink(*dom::expect<dom::Document>(Document), LinkText, Occurrence);
    return -2;
}

int16_t Browser::ClickTextLink(dom::Document& document, const BStr& LinkText, int16_t Occurrence)
{
    auto chosen = choose_link(document, LinkText, brwInnerText, Occurrence);
    if (!chosen) {
        log(u"Text link not found " + quoted(LinkText));
        return -1;
    }
    // The stopwatch starts after the click: a text link's time is that of the wait alone.
    forget_load_failures();
    document.links()->item(*chosen)->click();
    m_timing->StartTiming(kClickLinkTiming);
    WaitForBrowser();
    // A click's line reports the click, which happened whether or not a dialog holds the page.
    log_load(kClickLinkTiming, u"Clicked text link " + quoted(LinkText));
    return 0;
}

int16_t Browser::ClickGraphicLink(dom::Document& document, const BStr& LinkText, BrowserIdentType IdentMethod,
                                  int16_t Occurrence)
{
    auto chosen = choose_link(document, LinkText, IdentMethod, Occurrence);
    if (!chosen)
        return -1;
    m_timing->StartTiming(kClickLinkTiming);
    forget_load_failures();
    document.links()->item(*chosen)->click();
    WaitForBrowser();
    // The match counter at the chosen link equals the occurrence asked for.
    log_load(kClickLinkTiming, u"Clicked graphic link " + quoted(LinkText) + u" (" + decimal(Occurrence) + u")");
    return 0;
}

int16_t Browser::ClickFormButton(const Ref<Dispatch>& FormElement, const BStr& Button, int16_t Occurrence)
{
    auto form = dom::expect<dom::Element>(FormElement);
    // Every read takes the form's inputs afresh, so each sees the form as it is then. The walk
    // covers the inputs that the first read found; a value that the second read no longer found
    // is asked of that position itself, which answers or fails as a read of a missing input fails.
    auto inputs = [&] { return form->elements()->tags(u"INPUT"); };
    auto types = inputs()->read_each(dom::ElementProperty::type);
    auto values = inputs()->read_each(dom::ElementProperty::value);
    auto value_at = [&](int16_t position) {
        if (static_cast<size_t>(position) < values.size())
            return values[static_cast<size_t>(position)];
        return inputs()->item(position)->property(dom::ElementProperty::value);
    };
    auto chosen = find_occurrence(static_cast<int64_t>(types.size()), Occurrence, [&](int16_t position) {
        BStr type = to_upper(types[static_cast<size_t>(position)]);
        return (type == u"SUBMIT" || type == u"BUTTON") && value_at(position) == Button;
    });
    if (!chosen)
        return -1;
    m_timing->StartTiming(kClickFormButtonTiming);
    forget_load_failures();
    inputs()->item(*chosen)->click();
    WaitForBrowser();
    log_load(kClickFormButtonTiming, u"Clicked form button " + quoted(Button));
    return 0;
}

}  // namespace varne
