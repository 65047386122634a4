#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>

#include "frame/automation_date.h"
#include "frame/text.h"

namespace varne {
namespace {

TEST(Text, Utf8RoundTripKeepsEveryCodePoint)
{
    BStr text = u"Caf\u00e9 \u65e5\u672c \U0001F600";
    EXPECT_EQ(from_utf8(to_utf8(text)), text);
    EXPECT_EQ(to_utf8(u"\u00e9"), "\xC3\xA9");
}

TEST(Text, LoneSurrogatesBecomeQuestionMarksButTheByteEscapes)
{
    EXPECT_EQ(to_utf8(BStr(u"a") + char16_t(0xD800) + u"b"), "a?b");
    for (char16_t unit : {0xDC00, 0xDC7F, 0xDD00, 0xDFFF, 0xDBFF})
        EXPECT_EQ(to_utf8(BStr(1, unit)), "?") << int(unit);
    EXPECT_EQ(to_utf8(BStr{char16_t(0xDC80), u'x', char16_t(0xDCFF)}), "\x80x\xFF");
    EXPECT_EQ(to_utf8(BStr{char16_t(0xD83D), char16_t(0xDE00)}), "\xF0\x9F\x98\x80");
}

TEST(Text, BytesThatDoNotDecodeAreKeptAsByteEscapes)
{
    auto units = [](std::initializer_list<char16_t> list) { return BStr(list); };
    const std::pair<std::string, BStr> cases[] = {
        {"a\xFF"
         "b",
         units({u'a', 0xDCFF, u'b'})},
        {"\xC3", units({0xDCC3})},  // cut short
        {"\xC0\xAF", units({0xDCC0, 0xDCAF})},  // overlong
        {"\xED\xA0\x80", units({0xDCED, 0xDCA0, 0xDC80})},  // an encoded surrogate
        {"\xF4\x90\x80\x80", units({0xDCF4, 0xDC90, 0xDC80, 0xDC80})},  // past U+10FFFF
        {"caf\xE9=\xE2\x82", units({u'c', u'a', u'f', 0xDCE9, u'=', 0xDCE2, 0xDC82})},
        {"\xC3\xA9\x80", units({0xE9, 0xDC80})},
    };
    for (const auto& [bytes, text] : cases) {
        EXPECT_EQ(from_utf8(bytes), text);
        EXPECT_EQ(to_utf8(from_utf8(bytes)), bytes);
    }
    std::string every_byte;
    for (int byte = 0; byte < 256; ++byte)
        every_byte += static_cast<char>(byte);
    EXPECT_EQ(to_utf8(from_utf8(every_byte + every_byte)), every_byte + every_byte);
}

TEST(Text, TrimRemovesOnlySpaces)
{
    EXPECT_EQ(trim_spaces(u"  Hello  "), u"Hello");
    EXPECT_EQ(trim_spaces(u"\tHello\u00a0"), u"\tHello\u00a0");
    EXPECT_EQ(trim_spaces(u"   "), u"");
}

TEST(Text, UpperCaseKeepsLength)
{
    EXPECT_EQ(to_upper(u"port-80"), u"PORT-80");
    EXPECT_TRUE(equals_ignoring_case(u"Varne.Timing", u"VARNE.timing"));
    EXPECT_FALSE(equals_ignoring_case(u" Port", u"Port"));
    EXPECT_TRUE(equals_ignoring_case(u"\u0414\u0430\u043d\u043d\u044b\u0435", u"\u0414\u0410\u041d\u041d\u042b\u0415"));
    EXPECT_EQ(to_upper(u"stra\u00dfe"), u"STRA\u00dfE");  // no one-unit upper case: kept
}

// The units on which system case mappings disagree get Unicode's simple mapping on every platform.
TEST(Text, UpperCaseIsTheSameWhateverTheSystemMapsTheseUnitsTo)
{
    EXPECT_EQ(to_upper(u"\u00b5\u0131\u017f\u03c2\u03d0\u03d1\u03d5\u03d6\u03f0\u03f1\u03f5"),
              u"\u039cIS\u03a3\u0392\u0398\u03a6\u03a0\u039a\u03a1\u0395");
    EXPECT_EQ(to_upper(u"\u0345\u01c5\u01c8\u01cb\u01f2\u1c80\u1c88\u1e9b\u1fbe"),
              u"\u0399\u01c4\u01c7\u01ca\u01f1\u0412\ua64a\u1e60\u0399");
    // Every other unit of a block of case pairs, and the first and last units of the plane.
    EXPECT_EQ(to_upper(u"\u0100\u0101\u017e\u017f"), u"\u0100\u0100\u017dS");
    EXPECT_EQ(to_upper(std::u16string{u'\0', u'\uffff'}), (std::u16string{u'\0', u'\uffff'}));
    EXPECT_EQ(to_upper(u"\xd800\xdfff"), u"\xd800\xdfff");
}

TEST(AutomationDate, MatchesTheKnownEpochAndFractions)
{
    EXPECT_EQ(to_automation_date({1899, 12, 30, 0, 0, 0}), 0.0);
    EXPECT_EQ(to_automation_date({1900, 1, 1, 0, 0, 0}), 2.0);
    EXPECT_EQ(to_automation_date({1999, 9, 7, 12, 0, 0}), 36410.5);
    EXPECT_EQ(to_automation_date({1899, 12, 29, 6, 0, 0}), -1.25);
}

TEST(AutomationDate, RoundTripsToTheWholeSecond)
{
    for (CivilTime time : {CivilTime{2026, 12, 7, 23, 59, 59}, CivilTime{2094, 2, 28, 0, 0, 1},
                           CivilTime{1899, 12, 29, 6, 30, 15}, CivilTime{2000, 2, 29, 12, 0, 0}}) {
        CivilTime back = to_civil_time(to_automation_date(time));
        EXPECT_EQ(std::tie(back.year, back.month, back.day, back.hour, back.minute, back.second),
                  std::tie(time.year, time.month, time.day, time.hour, time.minute, time.second));
    }
    EXPECT_EQ(automation_date_seconds(to_automation_date({2026, 1, 1, 0, 0, 5})) -
                  automation_date_seconds(to_automation_date({2026, 1, 1, 0, 0, 0})),
              5);
    EXPECT_EQ(automation_date_seconds(-1.25), -64800);
}

}  // namespace
}  // namespace varne
