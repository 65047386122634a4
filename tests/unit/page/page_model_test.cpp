#include <gtest/gtest.h>

#include "frame/collection.h"
#include "page/browser_application.h"
#include "page/dialog_window_functions.h"
#include "page/page_launcher.h"
#include "platform/win32_api.h"
#include "tests/support/automation_errors.h"
#include "tests/support/fake_page_delegate.h"
#include "tests/support/memory_file_system.h"

namespace varne::page {
namespace {

using testing::FakeEngine;
using testing::FakePageDelegate;
using testing::MemoryFileSystem;
using testing::raised;

const char* no_variables(const char*)
{
    return nullptr;
}

constexpr int32_t kCallRejected = static_cast<int32_t>(0x80010001);

// A browser application of a fake engine, showing a loaded page.
class PageModelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        engines.add("fake", engine);
        app = launcher.start_application();
        page = engine.last_page;
        app->Navigate(u"http://127.0.0.1:8000/start.html");
        page->load_top_document("http://127.0.0.1:8000/start.html");
    }

    // The last call's arguments as text, as the page scripts take them.
    std::vector<std::string> last_call_texts() const
    {
        std::vector<std::string> texts;
        for (const auto& argument : page->calls.back().arguments)
            texts.push_back(argument.kind == CallArgument::Kind::Number ? std::to_string(int(argument.number))
                                                                        : argument.text);
        return texts;
    }

    FakeEngine engine;
    EngineRegistry engines;
    MemoryFileSystem files;
    PageLauncher launcher{engines, [] { return std::string("fake"); }, files, no_variables};
    Ref<dom::Application> app;
    FakePageDelegate* page = nullptr;
};

TEST_F(PageModelTest, TheApplicationNamesItsEngineAndAnswersFromThePageState)
{
    EXPECT_EQ(to_bstr(app->get_property(u"Name")), u"Fake");
    EXPECT_EQ(app->ReadyState(), 4);
    EXPECT_EQ(app->LocationURL(), u"http://127.0.0.1:8000/start.html");
    ASSERT_EQ(page->navigations.size(), 1u);
    EXPECT_EQ(page->navigations[0],
              std::make_pair(std::string("top"), std::string("http://127.0.0.1:8000/start.html")));
}

// A reply without content: the load starts and stops, and the page shown stays.
TEST_F(PageModelTest, TheApplicationTellsWhetherItsLastNavigationShowedAnything)
{
    EXPECT_TRUE(app->navigation_shown());
    app->Navigate(u"http://127.0.0.1:8000/nocontent");
    EXPECT_FALSE(app->navigation_shown());
    page->state().navigation_started("top");
    page->state().frame_started_loading("top");
    page->state().frame_stopped_loading("top");
    EXPECT_EQ(app->ReadyState(), 4);
    EXPECT_FALSE(app->navigation_shown());

    app->Navigate(u"http://127.0.0.1:8000/start.html#part");
    page->state().navigated_within_document("top", "http://127.0.0.1:8000/start.html#part");
    EXPECT_TRUE(app->navigation_shown());
    app->Navigate(u"http://127.0.0.1:8000/next.html");
    page->load_top_document("http://127.0.0.1:8000/next.html");
    EXPECT_TRUE(app->navigation_shown());
}

TEST_F(PageModelTest, AnEngineThatIsNotRegisteredFailsTheCreation)
{
    PageLauncher unknown{engines, [] { return std::string("netscape"); }, files, no_variables};
    auto error = raised([&] { unknown.start_application(); });
    EXPECT_EQ(error.number(), error_number::kInvalidProcedureCall);
    EXPECT_EQ(error.description(), "No browser engine is called \"netscape\"");
}

TEST_F(PageModelTest, ADocumentOfAFrameThatMovedOnIsStale)
{
    auto document = app->Document();
    page->answer_call = [](const FakePageDelegate::Call&) {
        RemoteValue title;
        title.kind = RemoteValue::Kind::String;
        title.text = "Start";
        return title;
    };
    EXPECT_EQ(to_bstr(document->get_property(u"title")), u"Start");
    EXPECT_EQ(page->calls.back().handle, "document@realm-1");
    EXPECT_EQ(last_call_texts(), (std::vector<std::string>{"get", "title"}));

    page->load_top_document("http://127.0.0.1:8000/next.html");
    auto error = raised([&] { document->get_property(u"title"); });
    EXPECT_EQ(error.number(), error_number::kObjectDisconnected);
    EXPECT_EQ(error.description(),
              "The object invoked has disconnected from its clients: the frame has gone on to another document");
    // A document taken now is the new one's.
    app->Document()->get_property(u"title");
    EXPECT_EQ(page->calls.back().handle, "document@realm-2");
}

TEST_F(PageModelTest, AnOpenDialogBlocksCallsIntoThePageButNotItsState)
{
    auto document = app->Document();
    page->open_dialog("confirm", "Leave?");
    const size_t calls = page->calls.size();
    for (auto call : std::vector<std::function<void()>>{[&] { document->get_property(u"title"); },
                                                        [&] { app->Navigate(u"http://127.0.0.1:8000/b.html"); },
                                                        [&] { app->Document()->get_property(u"title"); }}) {
        auto error = raised(call);
        EXPECT_EQ(error.number(), kCallRejected);
        EXPECT_EQ(error.description(), "A JavaScript confirm dialog is open in the page; answer it with "
                                       "PopupClickOk or PopupClickCancel first");
    }
    EXPECT_EQ(page->calls.size(), calls);
    EXPECT_EQ(page->navigations.size(), 1u);
    EXPECT_EQ(app->ReadyState(), 4);
}

TEST_F(PageModelTest, ANavigationTheBrowserRefusesIsAFailedLoadAndEndsAtOnce)
{
    page->next_navigation = {NavigationStart::Outcome::kRefused, "net::ERR_ABORTED"};
    app->Navigate(u"foo://nowhere");
    EXPECT_EQ(app->ReadyState(), 4);
    auto failures = app->take_load_failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].url, u"foo://nowhere");
    EXPECT_EQ(failures[0].reason, u"net::ERR_ABORTED");
    EXPECT_TRUE(app->take_load_failures().empty());
}

TEST_F(PageModelTest, StatusCodeAndLoadFailuresTellAScriptHowTheLastLoadWent)
{
    EXPECT_EQ(to_i4(app->get_property(u"StatusCode")), 200);
    app->Navigate(u"http://127.0.0.1:8000/missing.html");
    page->load_top_document("http://127.0.0.1:8000/missing.html", 404);
    page->state().load_failed("http://127.0.0.1:8000/missing.html", "HTTP 404 Not Found");
    page->state().load_failed("http://127.0.0.1:8000/frame.html", "HTTP 500 Internal Server Error");
    EXPECT_EQ(to_i4(app->get_property(u"statuscode")), 404);
    ASSERT_EQ(app->take_load_failures().size(), 2u);

    auto failures = to_object(app->get_property(u"LoadFailures"));
    EXPECT_EQ(to_i4(failures->get_property(u"length")), 2);
    EXPECT_EQ(collection_count(*failures), 2);
    Variant position[] = {int32_t(1)};
    auto second = to_object(failures->call_method(u"item", position));
    EXPECT_EQ(to_bstr(second->get_property(u"URL")), u"http://127.0.0.1:8000/frame.html");
    EXPECT_EQ(to_bstr(second->get_property(u"Reason")), u"HTTP 500 Internal Server Error");
    Enumeration walk(*failures);
    EXPECT_EQ(to_bstr(to_object(*walk.next())->get_property(u"URL")), u"http://127.0.0.1:8000/missing.html");
    EXPECT_TRUE(walk.next().has_value());
    EXPECT_FALSE(walk.next().has_value());
    Variant beyond[] = {int32_t(2)};
    EXPECT_EQ(raised([&] { failures->call_method(u"item", beyond); }).number(), error_number::kSubscriptOutOfRange);

    app->Navigate(u"http://127.0.0.1:8000/next.html");
    EXPECT_EQ(to_i4(to_object(app->get_property(u"LoadFailures"))->get_property(u"length")), 0);
}

TEST_F(PageModelTest, ANavigationStartedLoadsUntilTheBrowserSaysItEnded)
{
    app->Navigate(u"http://127.0.0.1:8000/next.html");
    EXPECT_EQ(app->ReadyState(), 1);
    page->load_top_document("http://127.0.0.1:8000/next.html");
    EXPECT_EQ(app->ReadyState(), 4);
    // A javascript: address loads nothing even when the browser says it started.
    app->Navigate(u"javascript:void 0");
    EXPECT_EQ(app->ReadyState(), 4);
}

// A frame that sends the window away again and again: each of its navigations that begins while
// the script's is under way cuts the script's short, as the browsers do.
TEST_F(PageModelTest, AScriptsNavigationThatThePagesOwnCutShortIsAskedForAgainWithThePageHeldStill)
{
    const std::string next = "http://127.0.0.1:8000/next.html";
    app->Navigate(u"http://127.0.0.1:8000/next.html");
    page->state().navigation_started("top");
    page->load_top_document("http://127.0.0.1:8000/start.html?sent=1");
    EXPECT_EQ(app->ReadyState(), 1);
    ASSERT_EQ(page->navigations.size(), 3u);
    EXPECT_EQ(page->navigations.back().second, next);
    ASSERT_EQ(page->evaluated.size(), 1u);
    // Held still in the document of the page's navigation, the one shown.
    EXPECT_EQ(page->evaluated.back().first, "realm-2");
    page->load_top_document(next);
    EXPECT_EQ(app->ReadyState(), 4);
    EXPECT_TRUE(app->navigation_shown());
    EXPECT_EQ(page->navigations.size(), 3u);

    // The page may send the window on once the script's document is shown, once the script's load
    // was cancelled without one (a reply without content), or once the script has been told how its
    // navigation went: those navigations are the page's own.
    page->load_top_document("http://127.0.0.1:8000/onwards.html");
    app->Navigate(u"http://127.0.0.1:8000/nocontent");
    page->state().navigation_started("top");
    page->state().frame_started_loading("top");
    page->state().load_cancelled("top", "http://127.0.0.1:8000/nocontent", "net::ERR_ABORTED");
    page->state().frame_stopped_loading("top");
    page->load_top_document("http://127.0.0.1:8000/start.html?sent=2");
    EXPECT_EQ(app->ReadyState(), 4);
    app->Navigate(u"http://127.0.0.1:8000/next.html");
    page->state().navigation_started("top");
    page->state().frame_stopped_loading("top");
    EXPECT_FALSE(app->navigation_shown());
    page->load_top_document("http://127.0.0.1:8000/start.html?sent=3");
    EXPECT_EQ(app->ReadyState(), 4);
    EXPECT_EQ(page->navigations.size(), 5u);
    EXPECT_EQ(page->evaluated.size(), 1u);
}

// A browser that says so in its answer to the navigation, the start of the script's never told.
TEST_F(PageModelTest, AScriptsNavigationThatTheBrowserCutShortBeforeItBeganIsAskedForAgain)
{
    page->next_navigation = {NavigationStart::Outcome::kCutShort, {}};
    app->Navigate(u"http://127.0.0.1:8000/next.html");
    page->next_navigation = {};
    EXPECT_EQ(app->ReadyState(), 1);
    ASSERT_EQ(page->navigations.size(), 3u);
    EXPECT_EQ(page->evaluated.size(), 1u);
    page->load_top_document("http://127.0.0.1:8000/next.html");
    EXPECT_EQ(app->ReadyState(), 4);
    EXPECT_TRUE(app->navigation_shown());

    page->next_navigation = {NavigationStart::Outcome::kCutShort, {}};
    app->Navigate(u"http://127.0.0.1:8000/away.html");
    for (int check = 0; check <= BrowserApplication::kMostNavigationsAgain; ++check)
        EXPECT_EQ(app->ReadyState(), 4);
    EXPECT_EQ(page->navigations.size(), size_t{3 + 1 + BrowserApplication::kMostNavigationsAgain});
    EXPECT_FALSE(app->navigation_shown());
    EXPECT_TRUE(app->take_load_failures().empty());
}

// A page that the holding cannot stop: the script's navigation is asked for a bounded number of
// times, and the application then says that it did not show what the script asked for.
TEST_F(PageModelTest, APageThatOvertakesEveryTryKeepsTheWindowAndSaysSo)
{
    constexpr int kNavigations = 2 + BrowserApplication::kMostNavigationsAgain;
    app->Navigate(u"http://127.0.0.1:8000/next.html");
    for (int sent = 1; sent <= kNavigations; ++sent) {
        page->state().navigation_started("top");
        page->load_top_document("http://127.0.0.1:8000/start.html?sent=" + std::to_string(sent));
        app->ReadyState();
    }
    EXPECT_EQ(page->navigations.size(), size_t{kNavigations});
    EXPECT_EQ(app->ReadyState(), 4);
    EXPECT_FALSE(app->navigation_shown());
}

TEST_F(PageModelTest, ABrowserThatIsGoneOrCrashedFailsEveryMemberWithItsReason)
{
    page->state().page_crashed();
    auto crashed = raised([&] { app->Document()->get_property(u"title"); });
    EXPECT_EQ(crashed.number(), error_number::kObjectDisconnected);
    EXPECT_EQ(crashed.description(), "The object invoked has disconnected from its clients: the browser's page "
                                     "crashed; GotoURL loads a fresh page");
    app->Navigate(u"http://127.0.0.1:8000/again.html");
    EXPECT_EQ(page->navigations.back().second, "http://127.0.0.1:8000/again.html");
    EXPECT_FALSE(page->state().crashed());

    page->lost = "the pipe closed";
    auto gone = raised([&] { app->ReadyState(); });
    EXPECT_EQ(gone.number(), error_number::kServerUnavailable);
    EXPECT_EQ(gone.description(), "The browser is gone: the pipe closed");
}

TEST_F(PageModelTest, TheWindowFunctionsFindTheDialogsButtonsAndClickingOneAnswersIt)
{
    DialogWindowFunctions windows;
    const int32_t window = app->HWND();
    EXPECT_EQ(windows.GetLastActivePopup(window), window);
    EXPECT_EQ(windows.FindWindowExA(window + 1, 0, "Button", "OK"), 0);

    page->open_dialog("prompt", "Your name?", "Ann");
    const int32_t popup = windows.GetLastActivePopup(window);
    ASSERT_EQ(popup, window + 1);
    EXPECT_EQ(windows.FindWindowExA(popup, 0, "BUTTON", "&OK"), window + 2);
    EXPECT_EQ(windows.FindWindowExA(popup, 0, "Button", "cancel"), window + 3);
    EXPECT_EQ(windows.FindWindowExA(popup, 0, "Edit", "OK"), 0);
    EXPECT_EQ(windows.FindWindowExA(window, 0, "Button", "OK"), 0);
    windows.SendMessageA(window + 2, Win32API::kBmClick, 0, 0);
    ASSERT_EQ(page->dialog_answers.size(), 1u);
    EXPECT_EQ(page->dialog_answers[0], std::make_pair(true, std::string("Ann")));
    EXPECT_EQ(windows.GetLastActivePopup(window), window);

    // An alert has no Cancel button.
    page->open_dialog("alert", "Saved");
    EXPECT_EQ(windows.FindWindowExA(window + 1, 0, "Button", "Cancel"), 0);
    windows.SendMessageA(window + 2, Win32API::kBmClick, 0, 0);
    EXPECT_EQ(page->dialog_answers.back(), std::make_pair(true, std::string()));
}

TEST_F(PageModelTest, ACollectionIsReadAfreshThroughItsSourceAndTagNames)
{
    page->answer_call = [](const FakePageDelegate::Call&) {
        RemoteValue length;
        length.kind = RemoteValue::Kind::Number;
        length.number = 3;
        return length;
    };
    auto images = app->Document()->all()->tags(u"IMG")->tags(u"img");
    EXPECT_EQ(images->length(), 3);
    EXPECT_EQ(last_call_texts(), (std::vector<std::string>{"length", "all", "2", "IMG", "img"}));
}

}  // namespace
}  // namespace varne::page
