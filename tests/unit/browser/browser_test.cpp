#include "browser_fixture.h"

#include <sstream>

#include "tests/support/disk_files.h"

namespace varne::testing {
namespace {

constexpr char16_t kHome[] = u"http://127.0.0.1:8000/index.html";

class BrowserWindowTest : public BrowserTest {};

TEST_F(BrowserWindowTest, CreationStartsOneApplicationReadsItsHandleOnceAndShowsIt)
{
    EXPECT_EQ(model.launcher().starts(), 1);
    EXPECT_TRUE(app().visible());
    EXPECT_EQ(browser->GetBrowserHWnd(), FakeDocumentModel::kWindowHandle);
    EXPECT_EQ(browser->GetBrowserHWnd(), FakeDocumentModel::kWindowHandle);
    EXPECT_EQ(model.calls().names(), (std::vector<std::string>{"Application.HWND", "Application.Visible"}));
    EXPECT_EQ(browser->GetBrowser().get(), static_cast<Dispatch*>(&app()));
    EXPECT_EQ(invoke(*browser, u"GetBrowserHWnd"), Variant(FakeDocumentModel::kWindowHandle));
}

TEST_F(BrowserWindowTest, TheLogOpensOnceAndClosesOnRequestOrRelease)
{
    browser->SetBrowserLog(u"");
    EXPECT_FALSE(files.file(u"").has_value());
    browser->CloseBrowserLog();
    browser->SetBrowserLog(u"first.log");
    browser->SetBrowserLog(u"second.log");
    EXPECT_TRUE(files.file(u"first.log").has_value());
    EXPECT_FALSE(files.file(u"second.log").has_value());

    browser->CloseBrowserLog();
    EXPECT_EQ(log_lines(u"first.log").back(), "Log file run time: 0 days 00:00:00");
    browser->SetBrowserLog(u"second.log");
    model.calls().clear();
    browser = nullptr;
    auto lines = log_lines(u"second.log");
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[5], "Log file closed at 09:30:00 07/Dec/2026");
    EXPECT_TRUE(model.calls().names().empty()) << "release leaves the browser alone";
    EXPECT_EQ(files.open_writers(), 0);
}

class NavigationTest : public BrowserTest {
protected:
    Ref<FakeDocument> frameset(int frames)
    {
        auto page = model.document();
        for (int i = 0; i < frames; ++i)
            page->add_frame(model.frame(model.document()));
        return page;
    }
};

TEST_F(NavigationTest, GotoURLNavigatesWaitsAndLogsTheAddressAsPassed)
{
    model.add_page(u" http://127.0.0.1/a b ", model.document(), Loading::after(25), u"http://127.0.0.1/landed");
    open_log();

    browser->GotoURL(u" http://127.0.0.1/a b ");
    EXPECT_EQ(app().navigations(), std::vector<BStr>{u" http://127.0.0.1/a b "});
    EXPECT_EQ(clock.sleeps(), 25);
    EXPECT_EQ(appended(), std::vector<std::string>{"Browser set to \" http://127.0.0.1/a b \". [0 days 00:00:02]"});
}

TEST_F(NavigationTest, TheLastActionsMillisecondsAreThoseOfItsLoggedSpan)
{
    model.add_page(kHome, model.document(), Loading::after(12));
    EXPECT_EQ(browser->GetLastActionMilliseconds(), -1);

    browser->GotoURL(kHome);
    EXPECT_EQ(browser->GetLastActionMilliseconds(), 1200);
    clock.advance_milliseconds(5000);
    EXPECT_EQ(browser->WaitForBrowser(), 0);
    EXPECT_EQ(browser->GetLastActionMilliseconds(), 1200) << "a wait alone is no timed action";
    EXPECT_EQ(invoke(*browser, u"GetLastActionMilliseconds"), Variant(int32_t(1200)));
}

TEST_F(NavigationTest, AGotoURLThatTimesOutLogsTheTimeOutThenTheWholeWait)
{
    model.add_page(kHome, model.document(), Loading::never());
    open_log();

    browser->GotoURL(kHome);
    EXPECT_EQ(appended(), (std::vector<std::string>{
                              "Browser not ready after 30 seconds",
                              "Browser set to \"http://127.0.0.1:8000/index.html\". [0 days 00:00:30]",
                          }));
}

TEST_F(NavigationTest, WithoutALogNavigationStillWaitsAndWritesNothing)
{
    model.add_page(kHome, frameset(1), Loading::after(3));
    model.add_page(u"frame.html", model.document());
    browser->GotoURL(kHome);
    EXPECT_EQ(browser->FrameGotoURL(0, u"frame.html"), 0);
    EXPECT_EQ(browser->FrameGotoURL(1, u"frame.html"), -1);
    EXPECT_EQ(clock.sleeps(), 3);
    EXPECT_EQ(files.write_line_calls(), 0);
}

TEST_F(NavigationTest, FrameGotoURLLoadsOneFrameOfTheTopDocument)
{
    auto page = frameset(3);
    auto detail = model.document(Loading::after(12));
    model.add_page(kHome, page, Loading::done(), u"http://127.0.0.1:8000/home");
    model.add_page(u"detail.html", detail);
    browser->GotoURL(kHome);
    open_log();
    auto third = to_object(call_default(*to_object(get_property(*top_document(), u"frames")), std::vector<Variant>{2}));

    EXPECT_EQ(browser->FrameGotoURL(3, u"detail.html"), -1);
    EXPECT_EQ(browser->FrameGotoURL(2, u"detail.html"), 0);
    EXPECT_EQ(dynamic_cast<FakeFrameWindow&>(*third).locations(), std::vector<BStr>{u"detail.html"});
    EXPECT_EQ(detail->loading().checks(), 13);
    EXPECT_EQ(appended(), (std::vector<std::string>{
                              "Invalid frame number (3) specified for base URL http://127.0.0.1:8000/home",
                              "Frame 2 set to \"detail.html\". [0 days 00:00:01]",
                          }));
    EXPECT_EQ(raised([&] { browser->FrameGotoURL(-1, u"detail.html"); }).number(), error_number::kSubscriptOutOfRange);
}

TEST_F(NavigationTest, FrameGotoURLOnAPageWithoutFramesOrTimingOut)
{
    EXPECT_EQ(raised([&] { browser->FrameGotoURL(0, kHome); }).description(), "The window holds no document yet");
    model.add_page(kHome, model.document());
    model.add_page(u"framed.html", frameset(1));
    model.add_page(u"stuck.html", model.document(Loading::never()));
    open_log();

    browser->GotoURL(kHome);
    EXPECT_EQ(browser->FrameGotoURL(0, u"stuck.html"), -1);
    browser->GotoURL(u"framed.html");
    EXPECT_EQ(browser->FrameGotoURL(0, u"stuck.html"), 0);
    EXPECT_EQ(appended(), (std::vector<std::string>{
                              "Browser set to \"http://127.0.0.1:8000/index.html\". [0 days 00:00:00]",
                              "Invalid frame number (0) specified for base URL http://127.0.0.1:8000/index.html",
                              "Browser set to \"framed.html\". [0 days 00:00:00]",
                              "Frame not ready after 30 seconds",
                              "Frame 0 set to \"stuck.html\". [0 days 00:00:30]",
                          }));
}

// A load's line comes after its failed loads and says whether the page was replaced, or whether
// a dialog holds it: a dialog ends the wait at once.
TEST_F(NavigationTest, TheMembersLineFollowsItsFailedLoadsAndSaysHowTheLoadEnded)
{
    constexpr int32_t kDialog = 0x20020;
    model.add_page(kHome, frameset(1));
    model.add_page(u"http://127.0.0.1:9/", model.document());
    model.fail_page(u"http://127.0.0.1:9/", u"net::ERR_CONNECTION_REFUSED");
    model.add_page(u"gone.html", model.document());
    model.fail_page(u"gone.html", u"HTTP 404 Not Found");
    model.add_page(u"no_content", model.document());
    model.keep_page_at(u"no_content");
    open_log();

    browser->GotoURL(kHome);
    model.report_failure(u"http://127.0.0.1:8000/earlier", u"net::ERR_ABORTED");
    browser->GotoURL(u"http://127.0.0.1:9/");
    auto lines = appended();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"Could not load \"http://127.0.0.1:9/\": net::ERR_CONNECTION_REFUSED",
                                        "Browser set to \"http://127.0.0.1:9/\". [0 days 00:00:00]"}));

    browser->GotoURL(u"no_content");
    EXPECT_EQ(app().LocationURL(), u"http://127.0.0.1:9/");
    EXPECT_EQ(appended().back(), "Browser not set to \"no_content\": the page shown stayed. [0 days 00:00:00]");

    windows.open_popup(FakeDocumentModel::kWindowHandle, kDialog, {{"OK", kDialog + 1}});
    browser->GotoURL(kHome);
    EXPECT_EQ(appended().back(), "Dialog open while loading \"http://127.0.0.1:8000/index.html\". [0 days 00:00:00]");
    EXPECT_EQ(browser->FrameGotoURL(0, u"gone.html"), 0);
    lines = appended();
    EXPECT_EQ(std::vector<std::string>(lines.end() - 2, lines.end()),
              (std::vector<std::string>{"Could not load \"gone.html\": HTTP 404 Not Found",
                                        "Dialog open while loading frame 0 with \"gone.html\". [0 days 00:00:00]"}));
    EXPECT_EQ(lines.size(), 7u) << "the failure of a load that nobody asked for is not this member's";
}

std::vector<std::string> crlf_lines(const std::string& bytes)
{
    std::vector<std::string> lines;
    std::istringstream in(bytes);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line.ends_with('\r') ? line.substr(0, line.size() - 1) : line);
    return lines;
}

// One Browser's whole log through navigation, clicks, a frame, popups and time-outs.
TEST_F(BrowserTest, WritesTheWholeRunLogAsTheGoldenFile)
{
    constexpr int32_t kPopup = 0x20020;
    auto home = model.document();
    auto products = model.link(u"Products ");
    home->append(products);
    auto catalogue = model.document();
    auto first_next = model.link(u"");
    first_next->append(model.image(u"Next", u"next.gif"));
    auto second_next = model.link(u"");
    second_next->append(model.image(u"Next", u"next.gif"));
    catalogue->append(first_next).append(second_next);
    auto order = model.form(u"order");
    order->append(model.input(u"text", u"")).append(model.input(u"submit", u"Buy"));
    auto checkout = model.document();
    checkout->append(order).add_frame(model.frame(model.document())).add_frame(model.frame(model.document()));
    model.add_page(kHome, home, Loading::after(25));
    model.add_page(u"http://127.0.0.1:8000/products.html", catalogue, Loading::after(15));
    model.add_page(u"http://127.0.0.1:8000/checkout.html", checkout, Loading::after(10),
                   u"http://127.0.0.1:8000/checkout.html?step=1");
    model.add_page(u"http://127.0.0.1:8000/detail.html", model.document(Loading::after(30)));
    model.add_page(u"http://127.0.0.1:8000/slow.html", model.document(), Loading::never());
    products->on_click([&] { app().load(u"http://127.0.0.1:8000/products.html"); });
    second_next->on_click([&] {
        clock.advance(1);
        app().load(u"http://127.0.0.1:8000/checkout.html");
    });
    order->child_elements()[1]->on_click([&] {
        windows.open_popup(FakeDocumentModel::kWindowHandle, kPopup, {{"OK", kPopup + 1}, {"Cancel", kPopup + 2}},
                           windows.popup_checks() + 12);
        app().start_load(Loading::after(5));
    });

    browser->SetBrowserLog(kLogName);
    browser->GotoURL(kHome);
    EXPECT_EQ(browser->ClickLink(top_document(), u"Products"), 0);
    EXPECT_EQ(browser->ClickLink(top_document(), u"Next", brwImgAlt, 1), 0);
    EXPECT_EQ(browser->FrameGotoURL(2, u"http://127.0.0.1:8000/detail.html"), -1);
    EXPECT_EQ(browser->FrameGotoURL(1, u"http://127.0.0.1:8000/detail.html"), 0);
    EXPECT_EQ(browser->ClickFormButton(order, u"Buy"), 0);
    EXPECT_EQ(browser->PopupClickOk(), 0);
    EXPECT_EQ(browser->ClickLink(top_document(), u"Missing"), -1);
    EXPECT_EQ(browser->PopupClickCancel(), -1);
    browser->GotoURL(u"http://127.0.0.1:8000/slow.html");
    browser->CloseBrowserLog();

    const std::string golden = read_bytes(VARNE_BROWSER_GOLDEN_DIR "/browser_run.log");
    ASSERT_FALSE(golden.empty()) << "missing golden file";
    auto expected = crlf_lines(golden);
    auto written = log_lines();
    ASSERT_EQ(written.size(), expected.size());
    for (size_t line = 0; line < expected.size(); ++line)
        EXPECT_EQ(written[line], expected[line]) << "line " << line + 1;
    EXPECT_EQ(*files.file(kLogName), golden) << "lines end in CR LF";
}

}  // namespace
}  // namespace varne::testing
