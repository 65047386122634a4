#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "frame/dispatch.h"
#include "frame/variant.h"
#include "tests/support/automation_errors.h"

namespace varne {
namespace {

using testing::raised;

TEST(NumberText, NumbersReadAndWriteWithAPoint)
{
    EXPECT_EQ(to_bstr(Variant(1.5)), u"1.5");
    EXPECT_EQ(to_bstr(Variant(0.1 + 0.2)), u"0.3");
    EXPECT_EQ(to_bstr(Variant(1e20)), u"1e+20");
    EXPECT_EQ(to_bstr(Variant(-2.0)), u"-2");
    EXPECT_EQ(to_r8(Variant(u"2.25")), 2.25);
    EXPECT_EQ(to_r8(Variant(u"  +7.5e1 ")), 75.0);
    EXPECT_EQ(to_r8(Variant(u"\t-3")), -3.0);
    EXPECT_EQ(to_i2(Variant(u"2.5")), 2);
}

TEST(NumberText, WhatIsNoNumberIsATypeMismatchAndTooLargeAnOverflow)
{
    for (const char16_t* text : {u"1,5", u"", u"+", u"+-1", u"1.5x", u"0x10", u"1.5\t"})
        EXPECT_EQ(raised([&] { to_r8(Variant(text)); }).number(), 13) << to_utf8(text);
    EXPECT_EQ(raised([] { to_r8(Variant(u"1e400")); }).number(), 6);
}

// A host that sets a locale with a decimal comma changes nothing a script reads or sees.
TEST(NumberText, TheCLocaleOfTheProcessChangesNothing)
{
    const std::string previous = std::setlocale(LC_ALL, nullptr);
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE", "German_Germany.1252", "de-DE", "fr_FR.UTF-8"}) {
        if (std::setlocale(LC_ALL, name)) {
            chosen = name;
            break;
        }
    }
    if (!chosen)
        GTEST_SKIP() << "no locale with a decimal comma is installed";
    EXPECT_EQ(*std::localeconv()->decimal_point, ',') << chosen;
    EXPECT_EQ(to_bstr(Variant(1.5)), u"1.5");
    EXPECT_EQ(to_r8(Variant(u"2.25")), 2.25);
    EXPECT_EQ(raised([] { to_r8(Variant(u"2,25")); }).number(), 13);
    std::setlocale(LC_ALL, previous.c_str());
}

}  // namespace
}  // namespace varne
