#include "browser/element_identity.h"

#include "frame/text.h"

namespace varne {

bool text_matches(std::u16string_view property, const BStr& given)
{
    return trim_spaces(property) == given;
}

std::vector<bool> identify_links(dom::Document& document, const BStr& text, BrowserIdentType method)
{
    using dom::ElementProperty;
    std::vector<bool> identified;
    auto links = document.links();
    if (method == brwInnerText) {
        for (const auto& link_text : links->read_each(ElementProperty::innerText))
            identified.push_back(text_matches(link_text, text));
    } else {
        auto property = method == brwImgAlt ? ElementProperty::alt : ElementProperty::nameProp;
        for (const auto& image_text : links->read_each_first_image(property))
            identified.push_back(image_text && text_matches(*image_text, text));
    }
    return identified;
}

}  // namespace varne
