#include "browser_fixture.h"

namespace varne::testing {
namespace {

class WaitTest : public BrowserTest {
protected:
    // Loads `document` as the window's page, which is complete at once, and opens the log.
    void show(const Ref<FakeDocument>& document)
    {
        model.add_page(u"http://127.0.0.1/", document);
        app().load(u"http://127.0.0.1/");
        open_log();
    }
    Ref<FakeFrameWindow> frame_with(Loading loading) { return model.frame(model.document(loading)); }
};

TEST_F(WaitTest, ALoadedPageIsReadyAtOnceAndNothingIsLogged)
{
    auto page = model.document();
    page->append(model.applet(Loading::done())).add_frame(frame_with(Loading::done()));
    show(page);

    EXPECT_EQ(browser->WaitForBrowser(), 0);
    EXPECT_EQ(clock.sleeps(), 0);
    EXPECT_TRUE(appended().empty());
}

TEST_F(WaitTest, ATopDocumentThatNeverCompletesTimesOutAfter301Sleeps)
{
    show(model.document());
    app().start_load(Loading::never());
    model.calls().clear();

    EXPECT_EQ(browser->WaitForBrowser(), -1);
    EXPECT_EQ(clock.sleeps(), 301);
    EXPECT_EQ(clock.slept_ms(), 30100);
    EXPECT_EQ(app().ready_checks(), 302);
    EXPECT_EQ(appended(), std::vector<std::string>{"Browser not ready after 30 seconds"});
    EXPECT_EQ(model.calls().count("Application.Document"), 0) << "applets and frames are not looked at";
}

TEST_F(WaitTest, EachPartGetsABudgetOfItsOwn)
{
    auto page = model.document();
    page->append(model.applet(Loading::after(250)));
    page->add_frame(frame_with(Loading::after(250))).add_frame(frame_with(Loading::after(250)));
    show(page);
    app().start_load(Loading::after(250));

    EXPECT_EQ(browser->WaitForBrowser(), 0);
    EXPECT_EQ(clock.sleeps(), 1000);
    EXPECT_TRUE(appended().empty());
}

TEST_F(WaitTest, AnAppletOfTheTopDocumentThatNeverLoadsUsesTheBrowserText)
{
    auto late_frame = frame_with(Loading::done());
    auto page = model.document();
    page->append(model.applet(Loading::after(3))).append(model.applet(Loading::never())).add_frame(late_frame);
    show(page);

    EXPECT_EQ(browser->WaitForBrowser(), -1);
    EXPECT_EQ(clock.sleeps(), 3 + 301);
    EXPECT_EQ(appended(), std::vector<std::string>{"Browser not ready after 30 seconds"});
    EXPECT_EQ(model.calls().count("FrameWindow.document"), 0) << "the frames are not waited for";
}

TEST_F(WaitTest, AnAppletWithoutReadyStateCountsAsReady)
{
    auto applet = model.applet(Loading::never());
    applet->set_null_ready_state();
    auto page = model.document();
    page->append(applet);
    show(page);

    EXPECT_EQ(browser->WaitForBrowser(), 0);
    EXPECT_EQ(clock.sleeps(), 0);
}

TEST_F(WaitTest, AFramesetWhoseSecondFrameNeverCompletesStopsThere)
{
    auto first = model.document(Loading::after(2));
    auto second = model.document(Loading::never());
    auto third = model.document(Loading::never());
    auto page = model.document();
    page->add_frame(model.frame(first)).add_frame(model.frame(second)).add_frame(model.frame(third));
    show(page);

    EXPECT_EQ(browser->WaitForBrowser(), -1);
    EXPECT_EQ(first->loading().checks(), 3);
    EXPECT_EQ(second->loading().checks(), 302);
    EXPECT_EQ(third->loading().checks(), 0);
    EXPECT_EQ(clock.sleeps(), 2 + 301);
    EXPECT_EQ(appended(), std::vector<std::string>{"Frame not ready after 30 seconds"});
}

TEST_F(WaitTest, AnAppletInsideAFrameThatNeverLoadsFailsTheFrameAndTheBrowser)
{
    auto frame_page = model.document();
    frame_page->append(model.element(u"DIV")).append(model.applet(Loading::never()));
    auto page = model.document();
    page->add_frame(model.frame(frame_page));
    show(page);

    EXPECT_EQ(browser->WaitForBrowser(), -1);
    EXPECT_EQ(clock.sleeps(), 301);
    EXPECT_EQ(appended(), std::vector<std::string>{"Applet not ready after 30 seconds"});

    EXPECT_EQ(browser->WaitForFrame(model.frame(frame_page)), -1);
}

TEST_F(WaitTest, AFrameDocumentWithFramesDoesNotWaitForItsApplets)
{
    auto frameset = model.document();
    frameset->append(model.applet(Loading::never())).add_frame(frame_with(Loading::done()));
    auto page = model.document();
    page->add_frame(model.frame(frameset));
    show(page);

    EXPECT_EQ(browser->WaitForBrowser(), 0);
    EXPECT_EQ(model.calls().count("Element.readyState"), 0);
}

TEST_F(WaitTest, NestedFramesAreWalkedDepthFirstAndAnInnerFailureDoesNotStopTheWalk)
{
    // top: frame 0 = [inner 0 = [deep, never], inner 1 = [ready after 1]], frame 1 = [ready after 4]
    auto deep = model.document(Loading::never());
    auto inner0 = model.document();
    inner0->add_frame(model.frame(deep));
    auto inner1 = model.document(Loading::after(1));
    auto outer0 = model.document();
    outer0->add_frame(model.frame(inner0)).add_frame(model.frame(inner1));
    auto outer1 = model.document(Loading::after(4));
    auto page = model.document();
    page->add_frame(model.frame(outer0)).add_frame(model.frame(outer1));
    show(page);

    EXPECT_EQ(browser->WaitForBrowser(), 0);
    EXPECT_EQ(deep->loading().checks(), 302);
    EXPECT_EQ(inner1->loading().checks(), 2);
    EXPECT_EQ(outer1->loading().checks(), 5);
    EXPECT_EQ(clock.sleeps(), 301 + 1 + 4);
    EXPECT_EQ(appended(), std::vector<std::string>{"Frame not ready after 30 seconds"});
}

TEST_F(WaitTest, WaitForFrameTakesAFrameWindowByLateBinding)
{
    auto frame_page = model.document(Loading::after(7));
    auto page = model.document();
    page->add_frame(model.frame(frame_page));
    show(page);
    Ref<Dispatch> frames = to_object(get_property(*top_document(), u"frames"));
    Variant window = call_default(*frames, std::vector<Variant>{int16_t(0)});

    EXPECT_EQ(invoke(*browser, u"WaitForFrame", std::vector<Variant>{window}), Variant(int16_t(0)));
    EXPECT_EQ(clock.sleeps(), 7);

    auto not_a_window = raised([&] { invoke(*browser, u"WaitForFrame", std::vector<Variant>{top_document()}); });
    EXPECT_EQ(not_a_window.number(), error_number::kTypeMismatch);
    auto nothing = raised([&] { browser->WaitForFrame(nullptr); });
    EXPECT_EQ(nothing.number(), error_number::kObjectRequired);
}

TEST_F(WaitTest, MoreThan32767AppletsOrFramesOverflow)
{
    auto page = model.document();
    for (int i = 0; i < 32769; ++i)
        page->append(model.applet(Loading::done()));
    show(page);

    auto error = raised([&] { browser->WaitForBrowser(); });
    EXPECT_EQ(error.number(), error_number::kOverflow);
    EXPECT_EQ(model.calls().count("Element.readyState"), 0) << "the walk fails before it begins";

    auto frameset = model.document();
    for (int i = 0; i < 32768; ++i)
        frameset->add_frame(model.frame(model.document()));
    model.add_page(u"http://127.0.0.1/frames", frameset);
    app().load(u"http://127.0.0.1/frames");
    model.calls().clear();
    // Exactly 32,768 frames: all are waited for, then the step past position 32,767 overflows.
    EXPECT_EQ(raised([&] { browser->WaitForBrowser(); }).number(), error_number::kOverflow);
    EXPECT_EQ(model.calls().count("Document.readyState"), 32768);
}

// A script of the frame sends the window to another page while the frame is waited for.
TEST_F(WaitTest, AFrameThatGoesWithItsDocumentIsFollowedByTheWindowsNewDocument)
{
    auto leaving = frame_with(Loading::after(2));
    auto page = model.document();
    page->add_frame(leaving);
    show(page);
    auto arriving_document = model.document(Loading::after(2));
    auto arriving = model.frame(arriving_document);
    auto next = model.document();
    next->add_frame(arriving);
    model.add_page(u"http://127.0.0.1/next", next);
    int32_t frame_reads = 0;
    model.calls().observe([&](const std::string& name) {
        if (name == "FrameWindow.document" && ++frame_reads == 2) {
            app().load(u"http://127.0.0.1/next");
            leaving->go();
        }
    });

    EXPECT_EQ(browser->WaitForBrowser(), 0);
    EXPECT_EQ(arriving_document->loading().checks(), 3);
    EXPECT_TRUE(appended().empty());

    // A page that never stops replacing its frames fails once the restarts have taken a wait's time.
    arriving->go();
    auto sleeps_before = clock.sleeps();
    EXPECT_EQ(raised([&] { browser->WaitForBrowser(); }).number(), error_number::kObjectDisconnected);
    EXPECT_EQ(clock.sleeps() - sleeps_before, 301);
}

}  // namespace
}  // namespace varne::testing
