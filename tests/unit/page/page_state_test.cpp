#include "page/page_state.h"

#include <gtest/gtest.h>

namespace varne::page {
namespace {

using namespace std::chrono_literals;

// A page whose top document has loaded, with a frameset of two frames.
class PageStateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        state.set_main_frame("top");
        load("top", "", "http://127.0.0.1:8000/frames.html");
        state.frame_attached("f0", "top");
        state.frame_attached("f1", "top");
        load("f0", "top", "http://127.0.0.1:8000/a.html");
        load("f1", "top", "http://127.0.0.1:8000/b.html");
        state.frame_stopped_loading("top");
    }

    void load(const std::string& frame, const std::string& parent, const std::string& url)
    {
        state.frame_started_loading(frame);
        state.frame_navigated(frame, parent, url, url.substr(0, url.find('/', 8)));
        state.frame_stopped_loading(frame);
    }

    PageState state;
};

TEST_F(PageStateTest, ReadyStateFollowsTheTopDocumentAndFrameReadinessEachFrame)
{
    EXPECT_EQ(state.ready_state(), 4);
    state.navigation_requested("f1");
    EXPECT_EQ(state.ready_state(), 4);  // the frame walk waits for the frame
    EXPECT_FALSE(state.frame_ready("f1"));
    EXPECT_TRUE(state.frame_ready("f0"));
    state.frame_started_loading("f1");
    state.frame_stopped_loading("f1");
    EXPECT_EQ(state.ready_state(), 4);

    // Between the request and the start of the load, the old document's "stopped" is no answer.
    state.navigation_requested("top");
    EXPECT_EQ(state.ready_state(), 1);
    state.frame_stopped_loading("f0");
    EXPECT_EQ(state.ready_state(), 1);
    state.frame_started_loading("top");
    EXPECT_EQ(state.ready_state(), 1);
    state.frame_navigated("top", "", "http://127.0.0.1:8000/next.html", "http://127.0.0.1:8000");
    state.frame_stopped_loading("top");
    EXPECT_EQ(state.ready_state(), 4);
}

TEST_F(PageStateTest, TheTopDocumentHasLoadedWhenOnlyItsFramesStillLoad)
{
    state.navigation_requested("top");
    state.frame_started_loading("top");
    state.frame_navigated("top", "", "http://127.0.0.1:8000/frames.html", "http://127.0.0.1:8000");
    state.frame_attached("g0", "top");
    state.frame_attached("g1", "top");
    state.top_content_loaded();
    EXPECT_EQ(state.ready_state(), 1) << "its frames have not begun to load";
    state.frame_started_loading("g0");
    state.frame_started_loading("g1");
    state.frame_navigated("g0", "top", "http://127.0.0.1:8000/a.html", "http://127.0.0.1:8000");
    state.frame_stopped_loading("g0");
    EXPECT_EQ(state.ready_state(), 4) << "only the frame g1 still loads";
    EXPECT_TRUE(state.frame_ready("g0"));
    EXPECT_FALSE(state.frame_ready("g1"));

    state.navigation_requested("top");
    state.frame_started_loading("top");
    state.frame_navigated("top", "", "http://127.0.0.1:8000/plain.html", "http://127.0.0.1:8000");
    EXPECT_EQ(state.ready_state(), 1) << "a new document is not parsed yet";
    state.top_content_loaded();
    EXPECT_EQ(state.ready_state(), 1) << "without frames, the top's own load is still on";
    state.frame_stopped_loading("top");
    EXPECT_EQ(state.ready_state(), 4);
}

// A page whose frame comes at once while an image of its own is still on its way.
TEST_F(PageStateTest, TheTopDocumentsOwnImagesStyleSheetsAndScriptsHoldItsLoadBesideItsFrames)
{
    state.navigation_requested("top");
    state.navigation_started("top");
    state.frame_started_loading("top");
    state.frame_navigated("top", "", "http://127.0.0.1:8000/slow_image.html", "http://127.0.0.1:8000");
    state.resource_requested("top", "r1");
    state.frame_attached("g0", "top");
    state.frame_attached("g1", "top");
    state.top_content_loaded();
    state.navigation_started("g0");
    state.navigation_started("g1");
    load("g0", "top", "http://127.0.0.1:8000/a.html");
    EXPECT_EQ(state.ready_state(), 1) << "the image is still coming";
    state.resource_finished("r1");
    EXPECT_EQ(state.ready_state(), 4) << "only the frame g1 still loads";
    state.resource_requested("g1", "r2");  // a frame's own requests are its own walk's affair
    EXPECT_EQ(state.ready_state(), 4);

    // The requests of a document that has gone no longer hold its successor.
    state.resource_requested("top", "r3");
    state.navigation_started("top");
    load("top", "", "http://127.0.0.1:8000/plain.html");
    EXPECT_EQ(state.ready_state(), 4);
    state.resource_finished("r3");
    EXPECT_EQ(state.ready_state(), 4);
}

// Its frames never finish, and its successor's request waits behind theirs.
TEST_F(PageStateTest, AWindowNavigationUnderWayLeavesTheOldDocumentsFramesOutOfItsLoad)
{
    state.navigation_requested("f1");
    state.navigation_started("f1");
    state.top_content_loaded();
    state.frame_started_loading("top");
    EXPECT_EQ(state.ready_state(), 4) << "only the frame f1 loads";
    state.navigation_requested("top");
    state.navigation_started("top");
    EXPECT_EQ(state.ready_state(), 1) << "the old document's frames are no part of the new one";
    EXPECT_EQ(state.addresses_shown("top"), 1u);
    load("top", "", "http://127.0.0.1:8000/next.html");
    EXPECT_EQ(state.ready_state(), 4);
    state.navigated_within_document("top", "http://127.0.0.1:8000/next.html#part");
    EXPECT_EQ(state.addresses_shown("top"), 3u);
}

// A click whose handler reloads the document and submits its form: the submit cancels the
// reload, and the reload's end is not the end of the frame's load.
TEST_F(PageStateTest, AFrameThatIsAskedForASecondNavigationWhileLoadingLoadsOnUntilTheSecondHasLoaded)
{
    state.navigation_requested("f1");  // the reload
    state.navigation_started("f1");
    state.frame_started_loading("f1");
    state.navigation_requested("f1");  // the submit
    state.load_cancelled("f1", "http://127.0.0.1:8000/b.html", "net::ERR_ABORTED");
    state.frame_stopped_loading("f1");
    EXPECT_FALSE(state.frame_ready("f1")) << "the submit has not begun";
    state.navigation_started("f1");
    state.frame_started_loading("f1");
    state.frame_navigated("f1", "top", "http://127.0.0.1:8000/echo", "http://127.0.0.1:8000");
    EXPECT_FALSE(state.frame_ready("f1"));
    state.frame_stopped_loading("f1");
    EXPECT_TRUE(state.frame_ready("f1"));
    EXPECT_TRUE(state.take_load_failures().empty()) << "the reload was replaced, not refused";
}

TEST_F(PageStateTest, TwoNavigationsAskedForAtOnceAreEachBegunBeforeThePageHasLoaded)
{
    state.navigation_requested("top");
    state.navigation_requested("top");
    state.navigation_started("top");
    state.frame_started_loading("top");
    state.frame_stopped_loading("top");  // the first, cancelled by the second
    EXPECT_EQ(state.ready_state(), 1);
    state.navigation_started("top");
    load("top", "", "http://127.0.0.1:8000/echo");
    EXPECT_EQ(state.ready_state(), 4);
}

TEST_F(PageStateTest, ACancelledLoadIsAFailureOnlyWhenNoNavigationReplacesIt)
{
    // The submit was asked for after the reload had already stopped.
    state.navigation_requested("f1");
    state.navigation_started("f1");
    state.load_cancelled("f1", "http://127.0.0.1:8000/b.html", "net::ERR_ABORTED");
    state.frame_stopped_loading("f1");
    state.navigation_requested("f1");
    EXPECT_TRUE(state.take_load_failures().empty());

    // An address that the browser will not load: nothing follows.
    state.navigation_started("f1");
    state.load_cancelled("f1", "foo://bar", "net::ERR_ABORTED");
    state.frame_stopped_loading("f1");
    state.load_cancelled("f0", "http://127.0.0.1:8000/other.html", "net::ERR_ABORTED");
    state.navigation_requested("f0");  // replaces only its own frame's load
    auto failures = state.take_load_failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].url, "foo://bar");
    EXPECT_TRUE(state.frame_ready("f1"));
}

TEST_F(PageStateTest, ABrowserThatDoesNotAnnounceNavigationStartsEndsARequestWithTheLoad)
{
    // A reply of no content: the load starts and stops, and no document comes.
    state.navigation_requested("f1");
    state.frame_started_loading("f1");
    state.frame_stopped_loading("f1");
    EXPECT_TRUE(state.frame_ready("f1"));
}

TEST_F(PageStateTest, ARefusedNavigationLeavesThePageReady)
{
    state.navigation_requested("top");
    state.navigation_refused("top");
    EXPECT_EQ(state.ready_state(), 4);
}

TEST_F(PageStateTest, FramesKeepTheOrderTheyWereMadeInAndGoWithTheirDocument)
{
    EXPECT_EQ(state.child_frames("top"), (std::vector<std::string>{"f0", "f1"}));
    state.frame_attached("f1a", "f1");
    state.frame_detached("f0");
    EXPECT_EQ(state.child_frames("top"), (std::vector<std::string>{"f1"}));

    uint64_t before = state.generation("f1");
    state.frame_navigated("f1", "top", "http://127.0.0.1:8000/c.html", "http://127.0.0.1:8000");
    EXPECT_EQ(state.generation("f1"), before + 1);
    EXPECT_TRUE(state.child_frames("f1").empty());
    EXPECT_FALSE(state.has_frame("f1a"));
}

TEST_F(PageStateTest, ADialogHoldsThePageAsLoaded)
{
    // An alert in onload stops the load event until it is answered.
    state.navigation_requested("top");
    state.frame_started_loading("top");
    state.frame_navigated("top", "", "http://127.0.0.1:8000/alert.html", "http://127.0.0.1:8000");
    state.dialog_opening({"alert", "Loaded", ""});
    EXPECT_EQ(state.ready_state(), 4);
    EXPECT_TRUE(state.frame_ready("top"));
    state.dialog_closed(true);
    EXPECT_EQ(state.ready_state(), 1);
}

TEST_F(PageStateTest, ALeaveThisPageDialogKeepsThePageShownReady)
{
    // A click asks for a navigation; the page asks first whether to leave.
    state.navigation_requested("top");
    state.dialog_opening({"beforeunload", "", ""});
    EXPECT_EQ(state.ready_state(), 4);
    EXPECT_TRUE(state.frame_ready("top"));
    state.dialog_closed(false);  // Cancel: the page stays
    EXPECT_EQ(state.ready_state(), 4);
    EXPECT_TRUE(state.frame_ready("top"));

    state.navigation_requested("top");
    state.dialog_opening({"beforeunload", "", ""});
    state.dialog_closed(true);  // OK: the navigation goes on
    EXPECT_EQ(state.ready_state(), 1);
}

TEST_F(PageStateTest, FailedLoadsAreTakenOnceInOrder)
{
    state.load_failed("http://127.0.0.1:9/", "net::ERR_CONNECTION_REFUSED");
    state.load_failed("http://127.0.0.1:8000/missing", "HTTP 404 Not Found");
    auto failures = state.take_load_failures();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].url, "http://127.0.0.1:9/");
    EXPECT_EQ(failures[1].reason, "HTTP 404 Not Found");
    EXPECT_TRUE(state.take_load_failures().empty());
}

TEST_F(PageStateTest, EachFrameShowsTheStatusItsDocumentWasAnsweredWith)
{
    EXPECT_EQ(state.status_of("top"), 0) << "no answer came for the documents loaded so far";

    // Answered before the document commits, as one browser tells it, or after, as another does.
    state.navigation_started("top");
    state.document_answered("top", 404);
    EXPECT_EQ(state.status_of("top"), 0) << "the document shown is still the old one";
    load("top", "", "http://127.0.0.1:8000/missing.html");
    EXPECT_EQ(state.status_of("top"), 404);
    state.navigation_started("f0");
    load("f0", "top", "http://127.0.0.1:8000/a.html");
    state.document_answered("f0", 200);
    EXPECT_EQ(state.status_of("f0"), 200);
    EXPECT_EQ(state.status_of("top"), 404);

    // A move within the document keeps its status; a connection refused shows an error page without one.
    state.navigation_started("top");
    state.navigated_within_document("top", "http://127.0.0.1:8000/missing.html#part");
    EXPECT_EQ(state.status_of("top"), 404);
    state.navigation_started("top");
    load("top", "", "http://127.0.0.1:9/");
    EXPECT_EQ(state.status_of("top"), 0);
}

TEST_F(PageStateTest, TheWindowsFailuresLastUntilItsNextNavigationWhetherTakenOrNot)
{
    state.navigation_requested("top");
    state.navigation_started("top");
    state.load_failed("http://127.0.0.1:8000/missing.html", "HTTP 404 Not Found");
    state.navigation_started("f0");  // a frame's own navigation keeps the window's failures
    state.load_failed("http://127.0.0.1:8000/gone.html", "HTTP 410 Gone");
    EXPECT_EQ(state.take_load_failures().size(), 2u);
    auto failures = state.failures_since_navigation();
    ASSERT_EQ(failures.size(), 2u);
    EXPECT_EQ(failures[0].url, "http://127.0.0.1:8000/missing.html");
    EXPECT_EQ(failures[1].reason, "HTTP 410 Gone");

    // A cancelled load that a navigation replaced is no failure in either view.
    state.load_cancelled("f1", "http://127.0.0.1:8000/b.html", "net::ERR_ABORTED");
    state.navigation_requested("f1");
    EXPECT_EQ(state.failures_since_navigation().size(), 2u);
    EXPECT_TRUE(state.take_load_failures().empty());

    // The window's next navigation begins afresh, asked for by the page or begun by the browser.
    state.navigation_requested("top");
    EXPECT_TRUE(state.failures_since_navigation().empty());
    state.load_failed("http://127.0.0.1:9/", "net::ERR_CONNECTION_REFUSED");
    state.navigation_started("top");
    EXPECT_TRUE(state.failures_since_navigation().empty());
    EXPECT_EQ(state.take_load_failures().size(), 1u) << "the log still takes what came before";
}

TEST_F(PageStateTest, ContextsBelongToTheFrameDocumentOfTheMoment)
{
    state.realm_created("7", "f0");
    EXPECT_EQ(state.realm_of("f0", 0ms), "7");
    state.realm_destroyed("7");
    EXPECT_EQ(state.realm_of("f0", 0ms), std::nullopt);
    state.realm_created("9", "f0");
    state.realms_cleared();
    EXPECT_EQ(state.realm_of("f0", 10ms), std::nullopt);
    EXPECT_EQ(state.realm_of("gone", 1000ms), std::nullopt);  // an unknown frame answers at once
}

}  // namespace
}  // namespace varne::page
