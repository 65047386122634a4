#include "platform/chromium/chromium_page_delegate.h"

#include "frame/automation_error.h"
#include "tests/support/automation_errors.h"
#include "tests/support/scripted_transport.h"

#include <gtest/gtest.h>

#include <future>

// The delegate against exchanges recorded from Chromium (ids and shapes as the browser sent them,
// cut to the fields that matter).
namespace varne::cdp {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;
using varne::testing::raised;

constexpr auto kPatient = 60s;
const std::string kTarget = "8D2A3F4E6B1C07A9E5D3B2C1F0E9D8C7";
const std::string kSession = "5B7E0F1C2D3A4B5C6D7E8F9A0B1C2D3E";
const std::string kPage = "http://127.0.0.1:41733/";

class ScriptedHost final : public BrowserHost {
public:
    explicit ScriptedHost(std::shared_ptr<ScriptedWire> wire, OpenedPage opened_page = {})
        : m_session(std::make_unique<ScriptedTransport>(wire)), m_opened_page(std::move(opened_page))
    {
    }
    ProtocolSession& session() override { return m_session; }
    OpenedPage opened_page() const override { return m_opened_page; }
    void close() override { m_session.close(); }

private:
    ProtocolSession m_session;
    BrowserHost::OpenedPage m_opened_page;
};

class ChromiumExchange {
public:
    Json expect(const std::string& method)
    {
        const auto text = m_wire->next_sent(ScriptedWire::Clock::now() + kPatient);
        if (!text) {
            ADD_FAILURE() << "nothing sent, expected " << method;
            return Json{{"id", -1}, {"params", Json::object()}};
        }
        Json command = Json::parse(*text);
        EXPECT_EQ(command["method"], method);
        return command;
    }
    void answer(const Json& command, Json result)
    {
        Json message{{"id", command["id"]}, {"result", std::move(result)}};
        if (command.contains("sessionId"))
            message["sessionId"] = command["sessionId"];
        m_wire->deliver(message.dump());
    }
    void refuse(const Json& command, const std::string& message)
    {
        Json reply{{"id", command["id"]}, {"error", {{"code", -32000}, {"message", message}}}};
        if (command.contains("sessionId"))
            reply["sessionId"] = command["sessionId"];
        m_wire->deliver(reply.dump());
    }
    void event(const std::string& method, Json params, const std::string& session_id = kSession)
    {
        Json message{{"method", method}, {"params", std::move(params)}};
        if (!session_id.empty())
            message["sessionId"] = session_id;
        m_wire->deliver(message.dump());
    }

    // Plays the page's creation up to the answer of `last` (every command before it succeeds).
    std::future<std::unique_ptr<ChromiumPageDelegate>> open_page(const BrowserHost::OpenedPage& opened_page = {})
    {
        return std::async(std::launch::async, [this, opened_page] {
            return std::make_unique<ChromiumPageDelegate>(std::make_unique<ScriptedHost>(m_wire, opened_page), m_state);
        });
    }

    std::shared_ptr<ScriptedWire> m_wire = std::make_shared<ScriptedWire>();
    page::PageState m_state;
};

class ChromiumPageDelegateTest : public ::testing::Test, protected ChromiumExchange {
protected:
    void SetUp() override
    {
        auto opening = open_page();
        const Json create = expect("Target.createTarget");
        m_created_with = create["params"];
        answer(create, {{"targetId", kTarget}});
        const Json attach = expect("Target.attachToTarget");
        m_attached_with = attach["params"];
        answer(attach, {{"sessionId", kSession}});
        // Sent together: each is expected before any is answered.
        std::vector<Json> watches;
        for (const char* method : {"Page.enable", "Network.enable", "Target.setAutoAttach", "Runtime.enable"}) {
            watches.push_back(expect(method));
            EXPECT_EQ(watches.back().value("sessionId", ""), kSession) << method;
        }
        m_auto_attach = watches[2]["params"];
        for (const auto& command : watches)
            answer(command, Json::object());
        m_delegate = opening.get();
        m_state.set_main_frame(m_delegate->main_frame_id());
        event("Runtime.executionContextCreated",
              {{"context",
                {{"id", 1},
                 {"origin", ""},
                 {"name", ""},
                 {"uniqueId", "-3960593471543424735.-1420432133562016380"},
                 {"auxData", {{"isDefault", true}, {"type", "default"}, {"frameId", kTarget}}}}}});
        sync();
    }

    // Every event delivered before has been handled once this returns.
    void sync()
    {
        auto front = std::async(std::launch::async, [this] { m_delegate->bring_to_front(); });
        answer(expect("Page.bringToFront"), Json::object());
        front.get();
    }

    page::NavigationStart navigate(const std::string& url, const std::function<void(const Json&)>& chromium)
    {
        auto started = std::async(std::launch::async, [&] { return m_delegate->navigate(kTarget, url); });
        chromium(expect("Page.navigate"));
        return started.get();
    }

    // A whole load of the main frame, as a Page.navigate of `url` produces it.
    void load_document(const std::string& url, int context_id)
    {
        const auto start = navigate(url, [&](const Json& command) {
            event("Page.frameStartedNavigating",
                  {{"frameId", kTarget}, {"url", url}, {"loaderId", "A1B2"}, {"navigationType", "differentDocument"}});
            event("Page.frameStartedLoading", {{"frameId", kTarget}});
            answer(command, {{"frameId", kTarget}, {"loaderId", "A1B2"}});
        });
        EXPECT_EQ(start.outcome, page::NavigationStart::Outcome::kStarted);
        event("Runtime.executionContextsCleared", Json::object());
        event("Page.frameNavigated", {{"frame",
                                       {{"id", kTarget},
                                        {"loaderId", "A1B2"},
                                        {"url", url},
                                        {"securityOrigin", "http://127.0.0.1:41733"},
                                        {"mimeType", "text/html"}}},
                                      {"type", "Navigation"}});
        event("Runtime.executionContextCreated",
              {{"context", {{"id", context_id}, {"auxData", {{"isDefault", true}, {"frameId", kTarget}}}}}});
        event("Page.domContentEventFired", {{"timestamp", 1.5}});
        event("Page.frameStoppedLoading", {{"frameId", kTarget}});
    }

    // The page asks, as a click on a link does, for `url` to open where `disposition` says.
    void request_navigation(const std::string& url, const std::string& disposition)
    {
        event("Page.frameRequestedNavigation",
              {{"frameId", kTarget}, {"reason", "anchorClick"}, {"url", url}, {"disposition", disposition}});
        sync();
    }

    std::unique_ptr<ChromiumPageDelegate> m_delegate;
    Json m_created_with;
    Json m_attached_with;
    Json m_auto_attach;
};

TEST_F(ChromiumPageDelegateTest, CreatesABlankPageAttachesFlattenedAndHoldsNestedTargetsUntilWatched)
{
    EXPECT_EQ(m_created_with["url"], "about:blank");
    EXPECT_EQ(m_attached_with, Json({{"targetId", kTarget}, {"flatten", true}}));
    EXPECT_EQ(m_auto_attach, Json({{"autoAttach", true}, {"waitForDebuggerOnStart", true}, {"flatten", true}}));
    EXPECT_EQ(m_delegate->main_frame_id(), kTarget);
    EXPECT_EQ(m_state.realm_of(kTarget, 0ms), "1");
}

TEST(ChromiumPageOpenedAhead, IsAttachedWithItsWatchesOnButNotItsRuntimeWhoseContextsItsPageMustHear)
{
    ChromiumExchange chromium;
    ProtocolSession session(std::make_unique<ScriptedTransport>(chromium.m_wire));
    auto attaching =
        std::async(std::launch::async, [&] { return ChromiumPageDelegate::attach_ahead(session, kTarget); });
    const Json attach = chromium.expect("Target.attachToTarget");
    EXPECT_EQ(attach["params"], Json({{"targetId", kTarget}, {"flatten", true}}));
    chromium.answer(attach, {{"sessionId", "AHEAD"}});
    std::vector<Json> watches;
    for (const char* method : {"Page.enable", "Network.enable", "Target.setAutoAttach"}) {
        watches.push_back(chromium.expect(method));
        EXPECT_EQ(watches.back()["sessionId"], "AHEAD") << method;
    }
    for (const auto& command : watches)
        chromium.answer(command, Json::object());
    EXPECT_EQ(attaching.get(), "AHEAD");
    EXPECT_EQ(chromium.m_wire->next_sent(ScriptedWire::Clock::now() + 200ms), std::nullopt);
}

TEST(ChromiumPageOpenedAhead, IsTakenWithOneCommandThatTellsItsRealmAndThatItsRendererLives)
{
    ChromiumExchange chromium;
    auto opening = chromium.open_page({kTarget, "AHEAD"});
    const Json runtime = chromium.expect("Runtime.enable");
    EXPECT_EQ(runtime["sessionId"], "AHEAD");
    chromium.event("Runtime.executionContextCreated",
                   {{"context", {{"id", 7}, {"auxData", {{"isDefault", true}, {"frameId", kTarget}}}}}}, "AHEAD");
    chromium.answer(runtime, Json::object());
    auto delegate = opening.get();
    EXPECT_EQ(delegate->main_frame_id(), kTarget);
    chromium.m_state.set_main_frame(kTarget);
    EXPECT_EQ(chromium.m_state.realm_of(kTarget, 0ms), "7");
}

TEST(ChromiumPageOpenedAhead, APageWhoseRendererIsGoneIsClosedAndAFreshOneTakesItsPlace)
{
    ChromiumExchange chromium;
    const std::string ahead = "0F1E2D3C4B5A69788796A5B4C3D2E1F0";
    auto opening = chromium.open_page({ahead, "AHEAD"});
    chromium.refuse(chromium.expect("Runtime.enable"), "Target crashed");
    EXPECT_EQ(chromium.expect("Target.closeTarget")["params"]["targetId"], ahead);
    chromium.answer(chromium.expect("Target.createTarget"), {{"targetId", kTarget}});
    chromium.answer(chromium.expect("Target.attachToTarget"), {{"sessionId", kSession}});
    std::vector<Json> watches;
    for (const char* method : {"Page.enable", "Network.enable", "Target.setAutoAttach", "Runtime.enable"})
        watches.push_back(chromium.expect(method));
    for (const auto& command : watches)
        chromium.answer(command, Json::object());
    EXPECT_EQ(opening.get()->main_frame_id(), kTarget);
}

TEST_F(ChromiumPageDelegateTest, ANavigationLoadsFromItsStartToTheFrameStoppingLoading)
{
    load_document(kPage, 2);
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);
    EXPECT_EQ(m_state.url_of(kTarget), kPage);
    EXPECT_EQ(m_state.origin_of(kTarget), "http://127.0.0.1:41733");
    EXPECT_EQ(m_state.realm_of(kTarget, 0ms), "2");
    EXPECT_TRUE(m_state.take_load_failures().empty());
}

TEST_F(ChromiumPageDelegateTest, AnAddressTheBrowserRefusesIsRefusedWithItsReason)
{
    const auto start = navigate("http://127.0.0.1:9/", [&](const Json& command) {
        EXPECT_FALSE(command["params"].contains("frameId"));
        answer(command, {{"frameId", kTarget}, {"errorText", "net::ERR_UNSAFE_PORT"}});
    });
    EXPECT_EQ(start.outcome, page::NavigationStart::Outcome::kRefused);
    EXPECT_EQ(start.reason, "net::ERR_UNSAFE_PORT");
}

TEST_F(ChromiumPageDelegateTest, AnAddressTheBrowserRejectsAsACommandIsRefusedWithItsMessage)
{
    const auto start =
        navigate("not an address", [&](const Json& command) { refuse(command, "Cannot navigate to invalid URL"); });
    EXPECT_EQ(start.outcome, page::NavigationStart::Outcome::kRefused);
    EXPECT_EQ(start.reason, "Cannot navigate to invalid URL");
}

TEST_F(ChromiumPageDelegateTest, AJavascriptAddressLoadsNothing)
{
    const auto start = navigate("javascript:void(0)", [&](const Json& command) {
        answer(command, {{"frameId", kTarget}, {"loaderId", "C3D4"}});
    });
    EXPECT_EQ(start.outcome, page::NavigationStart::Outcome::kNoLoad);
}

TEST_F(ChromiumPageDelegateTest, APageThatAsksForANavigationLoadsUntilTheNewDocumentStops)
{
    load_document(kPage, 2);
    request_navigation(kPage + "next", "currentTab");
    EXPECT_EQ(m_state.ready_state(), 1);
    // The old document's end of loading, arriving meanwhile, does not end the navigation asked for.
    event("Page.frameStoppedLoading", {{"frameId", kTarget}});
    sync();
    EXPECT_EQ(m_state.ready_state(), 1);
    event(
        "Page.frameStartedNavigating",
        {{"frameId", kTarget}, {"url", kPage + "next"}, {"loaderId", "E5F6"}, {"navigationType", "differentDocument"}});
    event("Page.frameStartedLoading", {{"frameId", kTarget}});
    event("Page.frameNavigated",
          {{"frame", {{"id", kTarget}, {"url", kPage + "next"}, {"securityOrigin", "http://127.0.0.1:41733"}}}});
    event("Page.domContentEventFired", {{"timestamp", 2.5}});
    sync();
    EXPECT_EQ(m_state.ready_state(), 1);
    event("Page.frameStoppedLoading", {{"frameId", kTarget}});
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);
    EXPECT_EQ(m_state.url_of(kTarget), kPage + "next");
}

TEST_F(ChromiumPageDelegateTest, ANavigationIntoAnotherTabLeavesThisPageLoaded)
{
    load_document(kPage, 2);
    request_navigation(kPage + "tab", "newTab");
    EXPECT_EQ(m_state.ready_state(), 4);
}

TEST_F(ChromiumPageDelegateTest, OnlyTheDefaultWorldOfAFrameBecomesItsRealm)
{
    event("Runtime.executionContextCreated",
          {{"context", {{"id", 7}, {"auxData", {{"isDefault", false}, {"type", "isolated"}, {"frameId", kTarget}}}}}});
    sync();
    EXPECT_EQ(m_state.realm_of(kTarget, 0ms), "1");
    event("Runtime.executionContextDestroyed", {{"executionContextId", 1}});
    sync();
    EXPECT_EQ(m_state.realm_of(kTarget, 0ms), std::nullopt);
}

class ChromiumScriptCallTest : public ChromiumPageDelegateTest {
protected:
    std::future<std::optional<page::RemoteValue>> call(const std::string& handle)
    {
        return std::async(std::launch::async, [this, handle] {
            return m_delegate->call_function(handle, "function() { return alert('hi'); }", {}, true, true);
        });
    }
    std::future<page::RemoteValue> evaluate(const std::string& expression)
    {
        return std::async(std::launch::async,
                          [this, expression] { return m_delegate->evaluate("1", expression, true); });
    }
};

TEST_F(ChromiumScriptCallTest, ACallThatOpensADialogReturnsNothingAndTheDialogCanBeAnswered)
{
    auto pending = call("-1.1.42");
    const Json command = expect("Runtime.callFunctionOn");
    EXPECT_EQ(command["params"]["objectId"], "-1.1.42");
    EXPECT_EQ(command["params"]["userGesture"], true);
    event("Page.javascriptDialogOpening", {{"url", kPage},
                                           {"frameId", kTarget},
                                           {"message", "hi"},
                                           {"type", "alert"},
                                           {"hasBrowserHandler", false},
                                           {"defaultPrompt", ""}});
    EXPECT_EQ(pending.get(), std::nullopt);
    ASSERT_TRUE(m_state.dialog());
    EXPECT_EQ(m_state.dialog()->type, "alert");
    EXPECT_EQ(m_state.dialog()->message, "hi");

    auto answered = std::async(std::launch::async, [this] { return m_delegate->answer_dialog(true, "typed"); });
    const Json handle = expect("Page.handleJavaScriptDialog");
    EXPECT_EQ(handle["params"], Json({{"accept", true}, {"promptText", "typed"}}));
    event("Page.javascriptDialogClosed", {{"frameId", kTarget}, {"result", true}, {"userInput", ""}});
    answer(handle, Json::object());
    // The call's late answer, then the probe that lets the page run on past the dialog.
    answer(command, {{"result", {{"type", "undefined"}}}});
    answer(expect("Runtime.evaluate"), {{"result", {{"type", "number"}, {"value", 0}, {"description", "0"}}}});
    EXPECT_TRUE(answered.get());
    EXPECT_FALSE(m_state.dialog());
}

TEST_F(ChromiumScriptCallTest, AnsweringADialogThatIsNoLongerShowingSaysSo)
{
    auto answered = std::async(std::launch::async, [this] { return m_delegate->answer_dialog(false, ""); });
    const Json handle = expect("Page.handleJavaScriptDialog");
    EXPECT_EQ(handle["params"], Json({{"accept", false}}));
    refuse(handle, "No dialog is showing");
    EXPECT_FALSE(answered.get());
}

TEST_F(ChromiumScriptCallTest, ASecurityErrorIsPermissionDenied)
{
    auto pending = evaluate("window.top.document");
    answer(expect("Runtime.evaluate"),
           {{"result", {{"type", "object"}, {"subtype", "error"}, {"className", "DOMException"}}},
            {"exceptionDetails",
             {{"exceptionId", 3},
              {"text", "Uncaught"},
              {"exception",
               {{"type", "object"},
                {"subtype", "error"},
                {"description", "SecurityError: Failed to read a named property 'document' from 'Window': Blocked a "
                                "frame with origin \"http://127.0.0.1:41733\" from accessing a cross-origin frame.\n"
                                "    at <anonymous>:1:12"}}}}}});
    const AutomationError error = raised([&] { pending.get(); });
    EXPECT_EQ(error.number(), error_number::kPermissionDenied);
    EXPECT_EQ(error.number(), 70);
    EXPECT_NE(error.description().find("Permission denied: SecurityError: Failed to read"), std::string::npos);
    EXPECT_EQ(error.description().find("<anonymous>"), std::string::npos);
}

TEST_F(ChromiumScriptCallTest, AnotherScriptErrorCarriesThePagesMessage)
{
    auto pending = evaluate("undefinedName");
    answer(
        expect("Runtime.evaluate"),
        {{"result", {{"type", "object"}, {"subtype", "error"}}},
         {"exceptionDetails",
          {{"text", "Uncaught"},
           {"exception", {{"description", "ReferenceError: undefinedName is not defined\n    at <anonymous>:1:1"}}}}}});
    const AutomationError error = raised([&] { pending.get(); });
    EXPECT_NE(error.number(), error_number::kPermissionDenied);
    EXPECT_NE(error.description().find("ReferenceError: undefinedName is not defined"), std::string::npos);
}

TEST_F(ChromiumScriptCallTest, AnObjectOfAGoneDocumentIsDisconnected)
{
    auto in_old_context = evaluate("document");
    refuse(expect("Runtime.evaluate"), "Cannot find context with specified id");
    const AutomationError stale_context = raised([&] { in_old_context.get(); });
    EXPECT_EQ(stale_context.description(),
              "The object invoked has disconnected from its clients: the page that held it is gone");

    auto replaced_while_running = evaluate("document");
    refuse(expect("Runtime.evaluate"), "Inspected target navigated or closed");
    EXPECT_EQ(raised([&] { replaced_while_running.get(); }).number(), error_number::kObjectDisconnected);

    auto on_old_object = call("-7.2.5");
    refuse(expect("Runtime.callFunctionOn"), "Could not find object with given id");
    const AutomationError stale_object = raised([&] { on_old_object.get(); });
    EXPECT_EQ(stale_object.number(), stale_context.number());
    EXPECT_EQ(stale_object.description(), stale_context.description());
}

class ChromiumDocumentLoadTest : public ChromiumPageDelegateTest {
protected:
    void request_document(const std::string& request_id, const std::string& url)
    {
        event("Network.requestWillBeSent", {{"requestId", request_id},
                                            {"loaderId", request_id},
                                            {"documentURL", url},
                                            {"request", {{"url", url}, {"method", "GET"}}},
                                            {"type", "Document"},
                                            {"frameId", kTarget}});
    }
};

TEST_F(ChromiumDocumentLoadTest, ADocumentThatCannotBeFetchedIsRecordedWithTheNetworksReason)
{
    request_document("R1", "http://127.0.0.1:1/");
    event(
        "Network.loadingFailed",
        {{"requestId", "R1"}, {"type", "Document"}, {"errorText", "net::ERR_CONNECTION_REFUSED"}, {"canceled", false}});
    sync();
    const auto failures = m_state.take_load_failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].url, "http://127.0.0.1:1/");
    EXPECT_EQ(failures[0].reason, "net::ERR_CONNECTION_REFUSED");
}

TEST_F(ChromiumDocumentLoadTest, ADocumentAnsweredWithAnHttpErrorIsRecordedWithItsStatus)
{
    request_document("R2", kPage + "missing");
    event("Network.responseReceived",
          {{"requestId", "R2"},
           {"type", "Document"},
           {"frameId", kTarget},
           {"response", {{"url", kPage + "missing"}, {"status", 404}, {"statusText", "Not Found"}}}});
    event("Network.loadingFinished", {{"requestId", "R2"}, {"encodedDataLength", 120}});
    sync();
    const auto failures = m_state.take_load_failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].url, kPage + "missing");
    EXPECT_EQ(failures[0].reason, "HTTP 404 Not Found");
}

TEST_F(ChromiumDocumentLoadTest, AFailedImageIsNoFailedLoad)
{
    event("Network.requestWillBeSent",
          {{"requestId", "R3"}, {"request", {{"url", kPage + "a.png"}}}, {"type", "Image"}, {"frameId", kTarget}});
    event("Network.loadingFailed",
          {{"requestId", "R3"}, {"type", "Image"}, {"errorText", "net::ERR_FAILED"}, {"canceled", false}});
    sync();
    EXPECT_TRUE(m_state.take_load_failures().empty());
}

// A quick frame beside a slow image of the top document.
TEST_F(ChromiumDocumentLoadTest, TheTopDocumentsOwnImageHoldsItsLoadBesideItsFrames)
{
    event("Page.frameStartedLoading", {{"frameId", kTarget}});
    event("Page.frameNavigated",
          {{"frame", {{"id", kTarget}, {"url", kPage}, {"securityOrigin", "http://127.0.0.1:41733"}}}});
    event("Page.frameAttached", {{"frameId", "F1"}, {"parentFrameId", kTarget}});
    event("Page.frameStartedLoading", {{"frameId", "F1"}});
    event("Network.requestWillBeSent",
          {{"requestId", "R4"}, {"request", {{"url", kPage + "slow.png"}}}, {"type", "Image"}, {"frameId", kTarget}});
    event("Network.requestWillBeSent",
          {{"requestId", "R5"}, {"request", {{"url", kPage + "poll"}}}, {"type", "XHR"}, {"frameId", kTarget}});
    event("Page.domContentEventFired", {{"timestamp", 2.5}});
    sync();
    EXPECT_EQ(m_state.ready_state(), 1);
    event("Network.loadingFinished", {{"requestId", "R4"}, {"encodedDataLength", 120}});
    sync();
    EXPECT_EQ(m_state.ready_state(), 4) << "only the frame loads; a request of a script's own holds nothing";
}

TEST_F(ChromiumPageDelegateTest, ACrashedTargetCrashesThePage)
{
    event("Target.targetCrashed", {{"targetId", kTarget}, {"status", "crashed"}, {"errorCode", 133}}, "");
    sync();
    EXPECT_TRUE(m_state.crashed());
}

TEST_F(ChromiumPageDelegateTest, AnotherTargetsCrashLeavesThePage)
{
    event("Target.targetCrashed", {{"targetId", "0F0F0F0F"}, {"status", "crashed"}, {"errorCode", 133}}, "");
    sync();
    EXPECT_FALSE(m_state.crashed());
}

TEST_F(ChromiumPageDelegateTest, ADetachedTargetTakesThePageAway)
{
    // A call in flight fails with the detach, after the page has heard of it.
    auto front = std::async(std::launch::async, [this] { m_delegate->bring_to_front(); });
    expect("Page.bringToFront");
    event("Target.detachedFromTarget", {{"sessionId", kSession}, {"targetId", kTarget}}, "");
    const AutomationError error = raised([&] { front.get(); });
    EXPECT_NE(error.description().find("Page.bringToFront"), std::string::npos) << error.description();
    EXPECT_EQ(m_state.gone(), "the browser's page was detached");
}

TEST_F(ChromiumPageDelegateTest, OnlyTargetsThatThisPageMadeAreTakenOnAndToldToRun)
{
    const Json frame{{"targetId", "F1"}, {"type", "iframe"}, {"url", "http://b.test:41733/"}};
    // Another page of the same browser, over the same connection.
    event("Target.attachedToTarget", {{"sessionId", "OTHER-CHILD"}, {"targetInfo", frame}}, "OTHER-PAGE");
    event("Target.attachedToTarget", {{"sessionId", "CHILD"}, {"targetInfo", frame}});
    for (const char* method : {"Page.enable", "Network.enable", "Runtime.runIfWaitingForDebugger"})
        EXPECT_EQ(expect(method).value("sessionId", ""), "CHILD") << method;
    sync();
}

TEST_F(ChromiumPageDelegateTest, LeftOpenItDetachesItsSessionAndLeavesThePageToItsBrowser)
{
    m_delegate->leave_open();
    const Json detach = expect("Target.detachFromTarget");
    EXPECT_EQ(detach["params"]["sessionId"], kSession);
    EXPECT_EQ(m_delegate->connection_lost(), "it was closed");
}

TEST(ChromiumPageCreationTest, AnAnswerWithoutTheNewTargetIsAnErrorNamingTheCommand)
{
    ChromiumExchange chromium;
    auto opening = chromium.open_page();
    chromium.answer(chromium.expect("Target.createTarget"), Json::object());
    const AutomationError error = raised([&] { opening.get(); });
    EXPECT_NE(error.description().find("Target.createTarget"), std::string::npos) << error.description();
}

TEST(ChromiumPageCreationTest, AnAttachAnswerWithoutASessionIsAnErrorNamingTheCommand)
{
    ChromiumExchange chromium;
    auto opening = chromium.open_page();
    chromium.answer(chromium.expect("Target.createTarget"), {{"targetId", kTarget}});
    chromium.answer(chromium.expect("Target.attachToTarget"), Json::object());
    const AutomationError error = raised([&] { opening.get(); });
    EXPECT_NE(error.description().find("Target.attachToTarget"), std::string::npos) << error.description();
}

TEST_F(ChromiumPageDelegateTest, EventsMissingTheirFieldsLeaveThePageWorking)
{
    event("Runtime.executionContextCreated", {{"context", {{"auxData", {{"isDefault", true}, {"frameId", kTarget}}}}}});
    event("Runtime.executionContextDestroyed", Json::object());
    event("Page.frameNavigated", Json::object());
    event("Network.responseReceived", {{"requestId", 5}});
    sync();
    EXPECT_EQ(m_state.realm_of(kTarget, 0ms), "1");
}

TEST_F(ChromiumPageDelegateTest, AnAnswerWithoutAFrameIsAnErrorNamingTheCommand)
{
    auto described = std::async(std::launch::async, [this] { return m_delegate->frame_of("-1.1.9"); });
    answer(expect("DOM.describeNode"), Json::object());
    const AutomationError error = raised([&] { described.get(); });
    EXPECT_NE(error.description().find("DOM.describeNode"), std::string::npos) << error.description();
}

}  // namespace
}  // namespace varne::cdp
