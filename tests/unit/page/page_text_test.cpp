#include "page/page_text.h"

#include "platform/transport/lone_surrogates.h"

#include <nlohmann/json.hpp>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace varne {
namespace {

using page::page_text;
using page::protocol_text;

using Json = nlohmann::json;

BStr units(std::initializer_list<char16_t> list)
{
    return BStr(list);
}

// The string "v" of a message as the browser wrote it, as the page holds it.
BStr received(std::string message)
{
    reserve_lone_surrogates(message);
    const Json parsed = Json::parse(message, nullptr, false);
    EXPECT_FALSE(parsed.is_discarded()) << message;
    return parsed.is_discarded() ? BStr(u"(unreadable)") : page_text(parsed["v"].get<std::string>());
}

BStr received_value(const std::string& escaped)
{
    return received(R"({"v":")" + escaped + R"("})");
}

// The message that carries `text` to the browser, as it goes on the wire.
std::string sent(std::u16string_view text)
{
    std::string message = Json{{"v", protocol_text(text)}}.dump();
    escape_reserved_surrogates(message);
    return message;
}

std::string escape_of(unsigned unit)
{
    char escape[7];
    std::snprintf(escape, sizeof escape, "\\u%04x", unit);
    return escape;
}

TEST(PageText, LoneSurrogatesOfTheBrowserComeBackAsTheyAre)
{
    EXPECT_EQ(received_value(R"(a\ud800b\ud83d\ude00c\udc00)"),
              units({u'a', 0xD800, u'b', 0xD83D, 0xDE00, u'c', 0xDC00}));
    EXPECT_EQ(received_value(R"(\udbff\udfff\udfff\udbff)"), units({0xDBFF, 0xDFFF, 0xDFFF, 0xDBFF}));
    EXPECT_EQ(received_value(R"(\uDC00\uD800)"), units({0xDC00, 0xD800}));
    // A high surrogate is paired only with the low one that follows it at once.
    EXPECT_EQ(received_value(R"(\ud800\ud83d\ude00)"), units({0xD800, 0xD83D, 0xDE00}));
    EXPECT_EQ(received_value(R"(\ud800\n\udc00)"), units({0xD800, u'\n', 0xDC00}));
    EXPECT_EQ(received_value(R"(\ud800\\udc00)"), units({0xD800, u'\\', u'u', u'd', u'c', u'0', u'0'}));
    EXPECT_EQ(received_value(R"(\\ud800)"), u"\\ud800");
    EXPECT_EQ(received(R"({"k\udfff":["\ud800",{"v":"x\udc80"}],"v":"\ud800"})"), units({0xD800}));
}

TEST(PageText, EverySurrogateValueComesAndGoesAsItIs)
{
    for (unsigned unit = 0xD800; unit <= 0xDFFF; ++unit) {
        const BStr text = units({u'x', static_cast<char16_t>(unit), u'y'});
        ASSERT_EQ(received_value("x" + escape_of(unit) + "y"), text) << std::hex << unit;
        const std::string wire = sent(text);
        ASSERT_EQ(wire, R"({"v":"x)" + escape_of(unit) + R"(y"})") << std::hex << unit;
        ASSERT_EQ(received(wire), text) << std::hex << unit;
    }
}

TEST(PageText, TheMarkerOfThePageIsNeverTakenForAReservedSurrogate)
{
    // U+FDD0 as an escape, in either case, and as raw UTF-8; then before a private-use
    // character that would otherwise carry a surrogate.
    EXPECT_EQ(received_value(R"(\ufdd0\uFDD0)"), units({0xFDD0, 0xFDD0}));
    EXPECT_EQ(received_value("\xEF\xB7\x90"), units({0xFDD0}));
    EXPECT_EQ(received_value(R"(\ufdd0\ue000\ufdd0\ue7ff)"), units({0xFDD0, 0xE000, 0xFDD0, 0xE7FF}));
    EXPECT_EQ(received_value("\xEF\xB7\x90\xEE\x80\x80"), units({0xFDD0, 0xE000}));
    EXPECT_EQ(received_value(R"(\ufdd0\ud800\ufdd0)"), units({0xFDD0, 0xD800, 0xFDD0}));

    const BStr tricky = units({0xFDD0, 0xE000, 0xFDD0, 0xD800, 0xFDD0, 0xFDD0, 0xE7FF, 0xDFFF, 0xFDD0});
    EXPECT_EQ(sent(tricky), "{\"v\":\"\xEF\xB7\x90\xEE\x80\x80\xEF\xB7\x90\\ud800\xEF\xB7\x90\xEF\xB7\x90\xEE\x9F\xBF"
                            "\\udfff\xEF\xB7\x90\"}");
    EXPECT_EQ(received(sent(tricky)), tricky);
}

TEST(PageText, ValidTextsPassUntouched)
{
    // Noncharacters, private use in and beyond the Basic Multilingual Plane, pairs and escapes.
    const std::string plain = R"({"v":"\u00e9\u0436\uffff\ufffe\ufdd1\ufdef\ue000\ue7ff\uf8ff\udb80\udc00)"
                              R"(\udbff\udffd\ud83d\ude00 \\ \" \n \u2028 end"})";
    std::string message = plain;
    EXPECT_FALSE(reserve_lone_surrogates(message));
    EXPECT_EQ(message, plain);
    const BStr text = received(plain);
    EXPECT_EQ(
        text,
        u"\u00E9\u0436\uFFFF\uFFFE\uFDD1\uFDEF\uE000\uE7FF\uF8FF\U000F0000\U0010FFFD\U0001F600 \\ \" \n \u2028 end");
    EXPECT_EQ(protocol_text(text), to_utf8(text));
    EXPECT_EQ(sent(text), (Json{{"v", to_utf8(text)}}.dump()));
    EXPECT_EQ(received(sent(text)), text);
}

TEST(PageText, TheFilesConventionIsLeftToTheFiles)
{
    // U+DC80 to U+DCFF are page text here, not bytes: they go out as escapes, never as raw bytes.
    EXPECT_EQ(sent(units({0xDC80, 0xDCFF})), R"({"v":"\udc80\udcff"})");
    EXPECT_EQ(to_utf8(received_value(R"(\udcff\ud800)")), "\xFF?");
}

}  // namespace
}  // namespace varne
