#include "frame/descriptions.h"

#include <gtest/gtest.h>

#include "frame/descriptor.h"
#include "frame/late_binding.h"
#include "frame/reference.h"
#include "tests/support/automation_errors.h"

namespace varne {
namespace {

using testing::raised;

TEST(Descriptions, DescribeEveryClassMemberAndParameterOfTheDescriptorAndNothingElse)
{
    const auto& classes = library_descriptor().classes;
    ASSERT_EQ(class_descriptions().size(), classes.size());
    for (const auto& cls : classes) {
        const auto* about = find_class_description(cls.name);
        ASSERT_NE(about, nullptr) << to_utf8(cls.name);
        EXPECT_FALSE(about->summary.empty());
        ASSERT_EQ(about->members.size(), cls.members.size()) << to_utf8(cls.name);
        for (const auto& member : cls.members) {
            const auto* text = find_member_description(cls.name, member.name);
            ASSERT_NE(text, nullptr) << to_utf8(cls.name) << "." << to_utf8(member.name);
            EXPECT_FALSE(text->summary.empty());
            ASSERT_EQ(text->params.size(), member.params.size()) << to_utf8(member.name);
            for (size_t i = 0; i < member.params.size(); ++i)
                EXPECT_EQ(text->params[i].name, member.params[i].name) << to_utf8(member.name);
            // The library's own members follow those of the old interface.
            if (&member != &cls.members.front()) {
                EXPECT_TRUE(text->addition || !find_member_description(cls.name, (&member - 1)->name)->addition)
                    << to_utf8(member.name) << " stands after an addition";
            }
            // A member with a 16-bit result code lists its codes.
            if (member.result.kind == ValueType::I2) {
                EXPECT_FALSE(text->codes.empty()) << to_utf8(member.name);
            }
        }
    }
}

TEST(Reference, TheDocstringShowsParametersDefaultsAndCodes)
{
    const auto& browser = library_descriptor().classes[0];
    const auto& click_link = *find_member(browser, u"ClickLink");
    std::string text = member_docstring(browser, click_link);
    EXPECT_NE(text.find("IdentMethod (BrowserIdentType, optional, default 3 = brwInnerText): "), std::string::npos);
    EXPECT_NE(text.find("Occurrence (16-bit integer, optional, default 0): "), std::string::npos);
    EXPECT_NE(text.find("\n    -2: IdentMethod is not 1, 2 or 3"), std::string::npos);
    std::string stub = python_stub();
    EXPECT_NE(stub.find("    def ClickLink(self, Document: Object, LinkText: str, IdentMethod: int = 3, "
                        "Occurrence: int = 0) -> int:\n"),
              std::string::npos);
    EXPECT_NE(stub.find("    def SaveWorkbook(self, Filename: str, DefaultSheet: str = '') -> None:\n"),
              std::string::npos);
}

TEST(LateBinding, UnknownNamesSuggestTheNearestOne)
{
    Ref<Dispatch> timing = create_object(u"Varne.Timing");
    EXPECT_EQ(raised([&] { invoke(*timing, u"lapsedstrng"); }).description(),
              "Object doesn't support this property or method: Timing.lapsedstrng (did you mean LapsedString?)");
    EXPECT_EQ(raised([&] { invoke(*timing, u"Nope"); }).description(),
              "Object doesn't support this property or method: Timing.Nope");
    auto keyword = raised([&] {
        invoke(*timing, u"GetLapsed", {}, std::vector<NamedArgument>{{u"TimingNam", BStr(u"a")}});
    });
    EXPECT_EQ(keyword.number(), 448);
    EXPECT_EQ(keyword.description(),
              "Named argument not found: TimingNam of Timing.GetLapsed (did you mean TimingName?)");
    auto creation = raised([] { create_object(u"Varne.Timng"); });
    EXPECT_EQ(creation.number(), 429);
    EXPECT_EQ(creation.description(),
              "ActiveX component can't create object: Varne.Timng (did you mean Varne.Timing?)");
    auto count = raised([&] { invoke(*timing, u"StartTiming", std::vector<Variant>{BStr(u"a"), BStr(u"b")}); });
    EXPECT_EQ(count.number(), 450);
    EXPECT_EQ(
        count.description(),
        "Wrong number of arguments or invalid property assignment: Timing.StartTiming takes 1 (TimingName), got 2");
    EXPECT_EQ(raised([&] { invoke(*timing, u"StartTiming"); }).description(),
              "Argument not optional: TimingName of Timing.StartTiming");
}

}  // namespace
}  // namespace varne
