#include "frame/late_binding.h"

#include <gtest/gtest.h>

#include <thread>

#include "frame/automation_error.h"
#include "frame/interfaces.h"
#include "tests/support/automation_errors.h"

namespace varne {
namespace {

using testing::raised;

TEST(LibraryDescriptor, ListsTheClassesAndMembersInInterfaceOrder)
{
    const auto& library = library_descriptor();
    EXPECT_EQ(library.name, u"Varne");
    EXPECT_EQ(library.major_version, 14);
    EXPECT_EQ(library.minor_version, 0);
    EXPECT_EQ(library.locale, 0x409u);
    EXPECT_EQ(library.threading_model, u"Apartment");

    std::vector<std::u16string_view> classes;
    for (const auto& cls : library.classes)
        classes.push_back(cls.prog_id);
    EXPECT_EQ(classes, (std::vector<std::u16string_view>{u"Varne.Browser", u"Varne.Config", u"Varne.Logging",
                                                         u"Varne.Timing", u"Varne.ExcelConn"}));

    const auto& browser = library.classes[0];
    // The old interface's 16 members keep their places; this library's own follow them.
    ASSERT_EQ(browser.members.size(), 20u);
    EXPECT_EQ(browser.members[15].name, u"PopupClickCancel");
    EXPECT_EQ(browser.members[16].name, u"GetLastActionMilliseconds");
    EXPECT_EQ(browser.members[12].name, u"ClickLink");
    const auto& click_link = browser.members[12].params;
    ASSERT_EQ(click_link.size(), 4u);
    EXPECT_EQ(click_link[2].name, u"IdentMethod");
    EXPECT_EQ(click_link[2].type.name, "BrowserIdentType");
    EXPECT_EQ(*click_link[2].default_value, Variant(int32_t(3)));
    EXPECT_EQ(*click_link[3].default_value, Variant(int16_t(0)));
    EXPECT_EQ(library.classes[1].members.size(), 6u);
    EXPECT_EQ(library.classes[2].members.size(), 5u);
    EXPECT_EQ(library.classes[3].members.size(), 7u);
    EXPECT_EQ(library.classes[3].members[5].name, u"LapsedString");
    EXPECT_EQ(library.classes[4].members.size(), 2u);
    EXPECT_EQ(library.classes[4].members[1].params[1].default_value, Variant(BStr()));
}

TEST(LibraryDescriptor, IdentifiersAreDistinct)
{
    std::vector<Guid> ids{library_descriptor().type_library_id};
    for (const auto& cls : library_descriptor().classes) {
        ids.push_back(cls.class_id);
        ids.push_back(cls.interface_id);
    }
    for (size_t i = 0; i < ids.size(); ++i) {
        for (size_t j = i + 1; j < ids.size(); ++j)
            EXPECT_NE(ids[i], ids[j]) << ids[i].to_string();
    }
    EXPECT_EQ(library_descriptor().classes[3].class_id.to_string(), "{62C63BF6-E19D-454F-9442-20F43F537D72}");
}

TEST(LateBinding, CallsMembersByNameIgnoringCaseAndByPosition)
{
    Ref<Dispatch> timing = create_object(u"varne.timing");
    Variant name = BStr(u"Load");
    invoke(*timing, u"STARTTIMING", {&name, 1});
    EXPECT_EQ(invoke(*timing, u"getlapsed", {&name, 1}), Variant(int32_t(0)));
    // GetLapsed is the third member of the interface.
    EXPECT_EQ(invoke(*timing, 3, {&name, 1}), Variant(int32_t(0)));
    EXPECT_EQ(invoke(*timing, 3, {}, std::vector<NamedArgument>{{u"timingname", BStr(u"Other")}}),
              Variant(int32_t(-1)));
}

TEST(LateBinding, ConvertsArgumentsToTheirDeclaredTypes)
{
    Ref<Dispatch> timing = create_object(u"Varne.Timing");
    // A number given for a string parameter arrives as its text.
    Variant number = int32_t(42);
    invoke(*timing, u"StartTiming", {&number, 1});
    Variant text = BStr(u"42");
    EXPECT_EQ(invoke(*timing, u"GetLapsed", {&text, 1}), Variant(int32_t(0)));

    EXPECT_EQ(to_i2(Variant(2.5)), 2);
    EXPECT_EQ(to_i2(Variant(3.5)), 4);
    EXPECT_EQ(to_i2(Variant(BStr(u" 12 "))), 12);
    EXPECT_EQ(to_i2(Variant(true)), -1);
    EXPECT_EQ(raised([] { to_i2(Variant(int32_t(40000))); }).number(), 6);
    EXPECT_EQ(raised([] { to_i2(Variant(int32_t(40000))); }).description(), "Overflow");
    EXPECT_EQ(raised([] { to_i4(Variant(3e10)); }).number(), 6);
    EXPECT_EQ(raised([] { to_i2(Variant(BStr(u"twelve"))); }).number(), 13);
    EXPECT_EQ(raised([] { to_bstr(Variant(Variant::Null{})); }).number(), 94);
}

TEST(LateBinding, ReportsBadCallsWithTheirNumbers)
{
    Ref<Dispatch> timing = create_object(u"Varne.Timing");
    std::vector<Variant> two{BStr(u"a"), BStr(u"b")};
    EXPECT_EQ(raised([&] { invoke(*timing, u"Nope"); }).number(), 438);
    EXPECT_EQ(raised([&] { invoke(*timing, u"GetLapsed"); }).number(), 449);
    EXPECT_EQ(raised([&] { invoke(*timing, u"GetLapsed", two); }).number(), 450);
    const auto past_the_last = static_cast<int32_t>(library_descriptor().classes[3].members.size()) + 1;
    EXPECT_EQ(raised([&] { invoke(*timing, past_the_last); }).number(), 438);
    EXPECT_EQ(raised([&] {
                  invoke(*timing, u"GetLapsed", {}, std::vector<NamedArgument>{{u"Name", BStr(u"a")}});
              }).number(),
              448);
    EXPECT_EQ(raised([] { create_object(u"Varne.Nothing"); }).number(), 429);
}

TEST(LateBinding, RefusesCallsFromAnotherThread)
{
    Ref<Dispatch> timing = create_object(u"Varne.Timing");
    AutomationError refusal{0, ""};
    std::thread other([&] { refusal = raised([&] { invoke(*timing, u"GetLapsed", std::vector<Variant>{BStr()}); }); });
    other.join();
    EXPECT_EQ(refusal.number(), error_number::kWrongThread);
    EXPECT_EQ(refusal.description(), "The object was called from a thread other than the one that created it");
}

TEST(ObjectLifetime, TwoObjectsOfOneClassAreIndependent)
{
    auto first = create_library_object<_Timing>(u"Varne.Timing");
    auto second = create_library_object<_Timing>(u"Varne.Timing");
    first->StartTiming(u"x");
    EXPECT_EQ(first->GetLapsed(u"x"), 0);
    EXPECT_EQ(second->GetLapsed(u"x"), -1);
}

TEST(ObjectLifetime, TheLastReleaseDestroysTheObject)
{
    int64_t before = Object::live_objects();
    {
        Ref<Dispatch> timing = create_object(u"Varne.Timing");
        Ref<Dispatch> copy = timing;
        EXPECT_EQ(Object::live_objects(), before + 1);
    }
    EXPECT_EQ(Object::live_objects(), before);
}

}  // namespace
}  // namespace varne
