#include "browser/log_text.h"

#include "browser_fixture.h"

namespace varne::testing {
namespace {

using dom::ElementProperty;

TEST(LogLineText, ControlsAndSeparatorsAreWrittenVisiblyAndBackslashesStayReadable)
{
    const struct {
        std::u16string_view given;
        std::u16string_view written;
    } cases[] = {
        {u"plain text, \u00e9 and \U0001F600", u"plain text, \u00e9 and \U0001F600"},
        {u"a\r\nb\tc", u"a\\r\\nb\\tc"},
        {std::u16string_view(u"nul\0bel\x07"
                             u"esc\x1b"
                             u"del\x7f",
                             16),
         u"nul\\x00bel\\x07esc\\x1Bdel\\x7F"},
        {u"nel\u0085ls\u2028ps\u2029", u"nel\\u0085ls\\u2028ps\\u2029"},
        {u"C:\\pages\\a.html", u"C:\\pages\\a.html"},
        {u"C:\\new\\x\\u\\r\\t", u"C:\\\\new\\\\x\\\\u\\\\r\\\\t"},
        {u"two \\\\ one \\", u"two \\\\\\ one \\"},
        {u"\\\n", u"\\\\\\n"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(log_line_text(c.given), c.written) << to_utf8(c.written);
}

class HonestLogTest : public BrowserTest {};

TEST_F(HonestLogTest, TextsFromThePageOrAnAddressNeverMakeEntriesOfTheirOwn)
{
    constexpr char16_t kForged[] = u"Next\r\n\r\n09:30:05 07/Dec/2026:\r\nLogged in as admin";
    constexpr char16_t kAddress[] = u"http://127.0.0.1/\r\n\r\n09:30:06 07/Dec/2026:\r\nok";
    auto page = model.document();
    auto image_link = model.link(u"");
    image_link->append(model.image(u"Logo\u2028line", u"logo.gif"));
    auto form = model.form(u"f");
    form->append(model.input(u"submit", u"Go\nnow"));
    page->append(model.link(kForged)).append(image_link).append(form);
    model.add_page(kAddress, page);
    model.fail_page(kAddress, u"HTTP 500\r\nInternal");
    open_log();

    browser->GotoURL(kAddress);
    EXPECT_EQ(browser->ClickLink(page, kForged), 0);
    EXPECT_EQ(browser->ClickLink(page, u"Missing\x07"), -1);
    EXPECT_EQ(browser->ClickLink(page, u"Logo\u2028line", brwImgAlt), 0);
    EXPECT_EQ(browser->ClickFormButton(form, u"Go\nnow"), 0);
    EXPECT_EQ(browser->WaitForText(u"C:\\new\r", 0), -1);

    auto logging = make_object<Logging>(files, clock);
    logging->StartLog(u"script.log");
    EXPECT_EQ(logging->AppendLog(u"one\r\ntwo"), 0);
    logging->EndLog();
    browser->CloseBrowserLog();

    std::vector<std::string> expected_entries = {
        "Could not load \"http://127.0.0.1/\\r\\n\\r\\n09:30:06 07/Dec/2026:\\r\\nok\": HTTP 500\\r\\nInternal",
        "Browser set to \"http://127.0.0.1/\\r\\n\\r\\n09:30:06 07/Dec/2026:\\r\\nok\". [0 days 00:00:00]",
        "Clicked text link \"Next\\r\\n\\r\\n09:30:05 07/Dec/2026:\\r\\nLogged in as admin\" [0 days 00:00:00]",
        "Text link not found \"Missing\\x07\"",
        "Clicked graphic link \"Logo\\u2028line\" (0) [0 days 00:00:00]",
        "Clicked form button \"Go\\nnow\" [0 days 00:00:00]",
        "Text \"C:\\\\new\\r\" not shown after 0 seconds",
    };
    std::vector<std::string> expected = {"Log file started at 09:30:00 07/Dec/2026", std::string(96, '='), ""};
    for (const auto& entry : expected_entries) {
        expected.push_back("09:30:00 07/Dec/2026:");
        expected.push_back(entry);
        expected.push_back("");
    }
    expected.insert(expected.end(), {"", std::string(96, '='), "Log file closed at 09:30:00 07/Dec/2026",
                                     "Log file run time: 0 days 00:00:00"});
    EXPECT_EQ(log_lines(), expected);

    auto script_lines = log_lines(u"script.log");
    ASSERT_GE(script_lines.size(), 6u);
    EXPECT_EQ(script_lines[4], "one") << "what a script logs itself stays as given";
    EXPECT_EQ(script_lines[5], "two");
}

}  // namespace
}  // namespace varne::testing
