#include "browser/browser.h"

#include <algorithm>

#include "browser/collection_walk.h"
#include "browser/element_identity.h"

namespace varne {

namespace {

// The answer of a search whose identification method is not one it knows, which the walk judges
// at its first position: `with_items` for a collection with items, `without_items` for an empty one.
int16_t unknown_method_answer(int32_t length, int16_t with_items, int16_t without_items)
{
    return walk(length, [](int16_t) { return true; }) ? with_items : without_items;
}

}  // namespace

int16_t Browser::MatchInnerText(const Ref<Dispatch>& Document, const BStr& SearchString, const BStr& Tag,
                                BrowserMatchType MatchType, int16_t Occurrence)
{
    auto document = dom::expect<dom::Document>(Document);
    if (document->all()->tags(Tag)->length() <= Occurrence)
        return -2;
    if (MatchType != brwExactMatch && MatchType != brwLeftMatch && MatchType != brwRightMatch)
        return -1;
    BStr text = document->all()->tags(Tag)->item(Occurrence)->property(dom::ElementProperty::innerText);
    // The cut is made on the untrimmed texts, in UTF-16 code units; both sides are trimmed after it.
    std::u16string_view element_text = text;
    size_t cut = std::min(SearchString.size(), text.size());
    if (MatchType == brwLeftMatch)
        element_text = element_text.substr(0, cut);
    else if (MatchType == brwRightMatch)
        element_text = element_text.substr(text.size() - cut);
    return trim_spaces(element_text) == trim_spaces(SearchString) ? 0 : 1;
}

int16_t Browser::FormExists(const Ref<Dispatch>& Document, const BStr& FormName)
{
    auto names = dom::expect<dom::Document>(Document)->forms()->read_each(dom::ElementProperty::name);
    auto found = walk(static_cast<int64_t>(names.size()),
                      [&](int16_t position) { return text_matches(names[position], FormName); });
    return found ? *found : int16_t(-1);
}

int16_t Browser::ImageExists(const Ref<Dispatch>& Document, const BStr& ImageText, BrowserIdentType IdentMethod)
{
    auto images = dom::expect<dom::Document>(Document)->all()->tags(u"IMG");
    if (IdentMethod != brwImgAlt && IdentMethod != brwImgSrc)
        return unknown_method_answer(images->length(), -2, -1);
    const auto property = IdentMethod == brwImgAlt ? dom::ElementProperty::alt : dom::ElementProperty::nameProp;
    int16_t count = walked_count(images->count_named(property, false, ImageText, kMostWalkedItems));
    return count > 0 ? count : int16_t(-1);
}

int16_t Browser::LinkExists(const Ref<Dispatch>& Document, const BStr& LinkText, BrowserIdentType IdentMethod)
{
    auto document = dom::expect<dom::Document>(Document);
    if (IdentMethod != brwImgAlt && IdentMethod != brwImgSrc && IdentMethod != brwInnerText)
        return unknown_method_answer(document->links()->length(), -1, 0);
    const bool by_text = IdentMethod == brwInnerText;
    const auto property = by_text                    ? dom::ElementProperty::innerText
                          : IdentMethod == brwImgAlt ? dom::ElementProperty::alt
                                                     : dom::ElementProperty::nameProp;
    return walked_count(document->links()->count_named(property, !by_text, LinkText, kMostWalkedItems));
}

}  // namespace varne
