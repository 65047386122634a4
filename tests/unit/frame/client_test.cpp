#include "frame/client.h"

#include <gtest/gtest.h>

#include <type_traits>
#include <varne/version.h>

#include "frame/interfaces.h"
#include "tests/support/automation_errors.h"

namespace varne {
namespace {

using testing::raised;

TEST(VariantFromClientValues, NarrowTextIsUtf8NotABoolean)
{
    Variant literal = "alice";
    ASSERT_EQ(literal.type(), VarType::String);
    EXPECT_EQ(literal.string(), u"alice");
    EXPECT_EQ(Variant("N\xC3\xA9gatif \xE2\x82\xAC").string(), u"Négatif €");
    EXPECT_EQ(Variant(std::string("bob")).string(), u"bob");
    EXPECT_EQ(Variant(static_cast<const char*>(nullptr)), Variant(BStr()));
    EXPECT_EQ(Variant(static_cast<const char16_t*>(nullptr)), Variant(BStr()));

    EXPECT_EQ(Variant(true).type(), VarType::Bool);
    EXPECT_EQ(Variant(nullptr), Variant(Ref<Dispatch>()));
    // Pointers of any other kind would silently become true.
    static_assert(!std::is_constructible_v<Variant, const int*>);
    static_assert(!std::is_constructible_v<Variant, const char8_t*>);
    static_assert(!std::is_constructible_v<Variant, void*>);
}

TEST(VersionOfHeadersAndLibrary, AgreeWithTheFileVersion)
{
    EXPECT_EQ(kVersion, "1.0.0.14");
    EXPECT_EQ(library_version(), kVersion);
    EXPECT_EQ(VARNE_VERSION_MAJOR * 1000 + VARNE_VERSION_TWEAK, 1014);
}

TEST(ClientHelpers, WalkAnObjectModelByName)
{
    Ref<_ExcelConn> excel = create_library_object<_ExcelConn>(u"Varne.ExcelConn");
    Ref<Dispatch> sheets = get_object(excel->GetXL(), u"Sheets");
    Ref<Dispatch> first = get_item(sheets, 1);
    put_property(first, u"Name", "Summary");
    EXPECT_EQ(get_text(get_item(sheets, u"summary"), u"Name"), u"Summary");
    EXPECT_EQ(get_text(sheets, u"Count"), u"3");

    put_property(to_object(call(first, u"Cells", {2, 3})), u"Value", 2.5);
    EXPECT_EQ(call(to_object(call(first, u"Range", {u"C2"})), u"Value"), Variant(2.5));
}

TEST(ClientHelpers, NullReferenceIsObjectRequiredNamingTheMember)
{
    Ref<Dispatch> none;
    auto error = raised([&] { get_object(none, u"Document"); });
    EXPECT_EQ(error.number(), error_number::kObjectRequired);
    EXPECT_EQ(error.description(), "Object required: Document");
    EXPECT_EQ(raised([&] { get_text(none, u"title"); }).description(), "Object required: title");
    EXPECT_EQ(raised([&] { put_property(none, u"value", u"x"); }).number(), error_number::kObjectRequired);
    EXPECT_EQ(raised([&] { call(none, u"click"); }).description(), "Object required: click");
    EXPECT_EQ(raised([&] { get_item(none, 0); }).description(), "Object required: item");
}

TEST(ClientHelpers, ObjectOfWrongKindOrUnknownNameFailsAsTheObjectSays)
{
    Ref<_ExcelConn> excel = create_library_object<_ExcelConn>(u"Varne.ExcelConn");
    Ref<Dispatch> sheet = get_item(get_object(excel->GetXL(), u"Sheets"), 1);
    EXPECT_EQ(raised([&] { get_object(sheet, u"Name"); }).number(), error_number::kTypeMismatch);
    EXPECT_EQ(raised([&] { get_text(sheet, u"NoSuchMember"); }).number(), error_number::kNotSupported);
}

}  // namespace
}  // namespace varne
