#include "platform/windows/com/typed_page_null.h"

#include <gtest/gtest.h>

namespace varne::com {
namespace {

bool is_nothing(const Variant& value)
{
    return value.type() == VarType::Object && !value.object();
}

TEST(TypedPageNull, AMemberThatGivesAnObjectGivesNothing)
{
    for (std::u16string_view member : {u"getElementById", u"querySelector", u"parentNode", u"closest", u"item",
                                       u"namedItem", u"nextSibling", u"offsetParent", u"frameElement"})
        EXPECT_TRUE(is_nothing(typed_page_null(member, Variant::Null{}))) << to_utf8(member);
    // Scripts of the old browser wrote names in any case.
    EXPECT_TRUE(is_nothing(typed_page_null(u"GETELEMENTBYID", Variant::Null{})));
    EXPECT_TRUE(is_nothing(typed_page_null(u"parentnode", Variant::Null{})));
    // A collection's default member is its item.
    EXPECT_TRUE(is_nothing(typed_page_null({}, Variant::Null{})));
}

TEST(TypedPageNull, DataKeepsItsNull)
{
    for (std::u16string_view member :
         {u"getAttribute", u"nodeValue", u"textContent", u"onclick", u"ColumnWidth", u"myValue", u"getElementByIdx"})
        EXPECT_EQ(typed_page_null(member, Variant::Null{}).type(), VarType::Null) << to_utf8(member);
}

TEST(TypedPageNull, AnythingButNullPassesAsItIs)
{
    EXPECT_EQ(typed_page_null(u"getElementById", Variant()).type(), VarType::Empty);
    EXPECT_EQ(typed_page_null(u"item", Variant(BStr(u"text"))), Variant(BStr(u"text")));
    EXPECT_EQ(typed_page_null(u"parentNode", Variant(int32_t(0))), Variant(int32_t(0)));
}

}  // namespace
}  // namespace varne::com
