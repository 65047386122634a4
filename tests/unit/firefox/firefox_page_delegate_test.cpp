#include "platform/firefox/firefox_page_delegate.h"

#include "tests/support/scripted_transport.h"

#include <gtest/gtest.h>

#include <future>

// The delegate against exchanges recorded from firefox-esr 153 (ids and shapes as Firefox sent
// them; network events cut to the fields that matter).
namespace varne::bidi {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr auto kPatient = 60s;
const std::string kTab = "ca288e52-996b-41f6-94a3-a38ccdaa4703";
const std::string kFrame = "12884901889";
const std::string kPage = "http://127.0.0.1:48345/";

class ScriptedHost final : public FirefoxHost {
public:
    // `spare_tab`, `subscription`: a window opened ahead, with its page's events asked for.
    explicit ScriptedHost(std::shared_ptr<ScriptedWire> wire, std::string spare_tab = {}, std::string subscription = {})
        : m_session(std::make_unique<ScriptedTransport>(wire)),
          m_spare_tab(std::move(spare_tab)),
          m_subscription(std::move(subscription))
    {
    }
    BidiSession& session() override { return m_session; }
    bool window_on_this_machine() const override { return false; }
    std::optional<std::string> own_tab() const override
    {
        if (m_spare_tab.empty())
            return std::nullopt;
        return m_spare_tab;
    }
    std::string own_tab_subscription() const override { return m_subscription; }
    void close() noexcept override { m_session.close(); }

private:
    BidiSession m_session;
    std::string m_spare_tab;
    std::string m_subscription;
};

class FirefoxPageDelegateTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto opening = std::async(std::launch::async, [this] {
            return std::make_unique<FirefoxPageDelegate>(std::make_unique<ScriptedHost>(m_wire), m_state);
        });
        const Json create = expect("browsingContext.create");
        EXPECT_EQ(create["params"], Json({{"type", "window"}}));
        answer(create, {{"context", kTab}});
        const Json subscribe = expect("session.subscribe");
        m_subscribed = subscribe["params"]["events"];
        EXPECT_EQ(subscribe["params"]["contexts"], Json::array({kTab}));
        // Subscribing reports the tab at once; its realm came before and is asked for.
        event("browsingContext.contextCreated", {{"context", kTab}, {"parent", nullptr}, {"url", "about:blank"}});
        answer(subscribe, {{"subscription", "a83ede50"}});
        const Json realms = expect("script.getRealms");
        answer(realms,
               {{"realms", {{{"realm", "r-blank"}, {"origin", "null"}, {"context", kTab}, {"type", "window"}}}}});
        m_delegate = opening.get();
        m_state.set_main_frame(m_delegate->main_frame_id());
    }

    Json expect(const std::string& method)
    {
        const auto text = m_wire->next_sent(ScriptedWire::Clock::now() + kPatient);
        if (!text) {
            ADD_FAILURE() << "nothing sent, expected " << method;
            return Json();
        }
        Json command = Json::parse(*text);
        EXPECT_EQ(command["method"], method);
        return command;
    }
    void answer(const Json& command, Json result)
    {
        m_wire->deliver(Json{{"type", "success"}, {"id", command["id"]}, {"result", std::move(result)}}.dump());
    }
    void refuse(const Json& command, const std::string& error, const std::string& message)
    {
        m_wire->deliver(
            Json{{"type", "error"}, {"id", command["id"]}, {"error", error}, {"message", message}, {"stacktrace", ""}}
                .dump());
    }
    void event(const std::string& method, Json params)
    {
        m_wire->deliver(Json{{"type", "event"}, {"method", method}, {"params", std::move(params)}}.dump());
    }
    // The top document's DOMContentLoaded, and the library asking the document to say when its own
    // images and fonts have come.
    void parsed(const std::string& navigation, const std::string& url)
    {
        event("browsingContext.domContentLoaded", {{"context", kTab}, {"navigation", navigation}, {"url", url}});
        const Json call = expect("script.callFunction");
        EXPECT_EQ(call["params"]["target"], Json({{"context", kTab}}));
        EXPECT_EQ(call["params"]["arguments"][1], Json({{"type", "string"}, {"value", navigation}}));
        m_own_load_channel = call["params"]["arguments"][0]["value"]["channel"];
    }
    // The document's word that its own images and fonts came, as Firefox relays it.
    void own_load_told(const std::string& navigation, const std::string& context = kTab)
    {
        event("script.message", {{"channel", m_own_load_channel},
                                 {"data", {{"type", "string"}, {"value", navigation}}},
                                 {"source", {{"realm", "d14a186f"}, {"context", context}}}});
    }
    // Every event delivered before has been handled once this returns.
    void sync()
    {
        auto activate = std::async(std::launch::async, [this] { m_delegate->bring_to_front(); });
        answer(expect("browsingContext.activate"), Json::object());
        activate.get();
    }

    page::NavigationStart navigate(const std::string& url, const std::function<void(const Json&)>& firefox)
    {
        auto started = std::async(std::launch::async, [&] { return m_delegate->navigate(kTab, url); });
        firefox(expect("browsingContext.navigate"));
        return started.get();
    }
    static AutomationError error_of(const std::function<void()>& call)
    {
        try {
            call();
        } catch (const AutomationError& error) {
            return error;
        }
        ADD_FAILURE() << "no AutomationError raised";
        return {0, ""};
    }

    std::shared_ptr<ScriptedWire> m_wire = std::make_shared<ScriptedWire>();
    page::PageState m_state;
    std::unique_ptr<FirefoxPageDelegate> m_delegate;
    Json m_subscribed;
    Json m_own_load_channel;
};

Json ids(const std::string& navigation, const std::string& url, const std::string& context = kTab)
{
    return {{"context", context}, {"navigation", navigation}, {"url", url}};
}

TEST_F(FirefoxPageDelegateTest, OpensAWindowWithItsRealmAndWatchesEveryEventTheModelNeeds)
{
    EXPECT_EQ(m_delegate->main_frame_id(), kTab);
    for (const char* name :
         {"browsingContext.navigationStarted", "browsingContext.load", "browsingContext.userPromptOpened",
          "script.realmCreated", "network.beforeRequestSent", "network.fetchError"})
        EXPECT_NE(std::find(m_subscribed.begin(), m_subscribed.end(), name), m_subscribed.end()) << name;
    EXPECT_EQ(m_state.realm_of(kTab, 0ms), "r-blank");
}

TEST_F(FirefoxPageDelegateTest, ANavigationLoadsFromItsStartToItsLoadEvent)
{
    const auto start = navigate(kPage, [&](const Json& command) {
        EXPECT_EQ(command["params"], Json({{"context", kTab}, {"url", kPage}, {"wait", "none"}}));
        event("browsingContext.navigationStarted", ids("8501e5aa", kPage));
    });
    EXPECT_EQ(start.outcome, page::NavigationStart::Outcome::kStarted);
    event("script.realmDestroyed", {{"realm", "r-blank"}});
    event("script.realmCreated",
          {{"realm", "d14a186f"}, {"origin", "http://127.0.0.1:48345"}, {"context", kTab}, {"type", "window"}});
    event("script.realmCreated", {{"realm", "s1"}, {"context", kTab}, {"type", "window"}, {"sandbox", "s1"}});
    event("browsingContext.navigationCommitted", ids("8501e5aa", kPage));
    parsed("8501e5aa", kPage);
    sync();
    EXPECT_EQ(m_state.ready_state(), 1);
    EXPECT_EQ(m_state.url_of(kTab), kPage);
    EXPECT_EQ(m_state.origin_of(kTab), "http://127.0.0.1:48345");
    EXPECT_EQ(m_state.realm_of(kTab, 0ms), "d14a186f");

    event("browsingContext.load", ids("8501e5aa", kPage));
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);
    EXPECT_TRUE(m_state.take_load_failures().empty());
}

// A quick frame beside a slow image of the top document.
TEST_F(FirefoxPageDelegateTest, TheTopDocumentsOwnImageHoldsItsLoadBesideItsFrames)
{
    navigate(kPage, [&](const Json&) { event("browsingContext.navigationStarted", ids("8501e5aa", kPage)); });
    event("browsingContext.navigationCommitted", ids("8501e5aa", kPage));
    event("browsingContext.contextCreated", {{"context", "frame-1"}, {"parent", kTab}, {"url", "about:blank"}});
    event("browsingContext.navigationStarted", ids("9a", kPage + "frame.html", "frame-1"));
    const auto subresource = [&](const char* method, const char* id, const char* destination) {
        event(method, {{"context", kTab},
                       {"navigation", nullptr},
                       {"request", {{"request", id}, {"url", kPage + id}, {"destination", destination}}},
                       {"response", {{"url", kPage + id}, {"status", 200}}}});
    };
    subresource("network.beforeRequestSent", "slow.png", "image");
    subresource("network.beforeRequestSent", "poll", "");
    parsed("8501e5aa", kPage);
    own_load_told("8501e5aa");
    sync();
    EXPECT_EQ(m_state.ready_state(), 1);
    subresource("network.responseCompleted", "slow.png", "image");
    sync();
    EXPECT_EQ(m_state.ready_state(), 4) << "only the frame loads; a request of a script's own holds nothing";
}

// Recorded under load: Firefox told the parse before the request for the image. The first empty
// document's events that come after the next navigation began count for nothing either.
TEST_F(FirefoxPageDelegateTest, ThePageCountsAsParsedOnlyOnceItSaysItsOwnImagesCame)
{
    navigate(kPage, [&](const Json&) { event("browsingContext.navigationStarted", ids("d02e4952", kPage)); });
    event("browsingContext.load", ids("5f0c1d2e", "about:blank"));
    event("browsingContext.domContentLoaded", ids("5f0c1d2e", "about:blank"));
    event("browsingContext.navigationCommitted", ids("d02e4952", kPage));
    event("browsingContext.contextCreated", {{"context", "frame-1"}, {"parent", kTab}, {"url", "about:blank"}});
    event("browsingContext.navigationStarted", ids("abf72b6c", kPage + "quick", "frame-1"));
    parsed("d02e4952", kPage);
    sync();
    EXPECT_EQ(m_state.ready_state(), 1) << "the image has not been asked for yet";

    // A word from another tab, from an earlier navigation, or on another channel counts for nothing.
    own_load_told("d02e4952", "another-tab");
    own_load_told("5f0c1d2e");
    event("script.message", {{"channel", "elsewhere"},
                             {"data", {{"type", "string"}, {"value", "d02e4952"}}},
                             {"source", {{"realm", "d14a186f"}, {"context", kTab}}}});
    sync();
    EXPECT_EQ(m_state.ready_state(), 1);

    own_load_told("d02e4952");
    sync();
    EXPECT_EQ(m_state.ready_state(), 4) << "only the frame loads";
    event("browsingContext.load", ids("d02e4952", kPage));
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);
}

TEST_F(FirefoxPageDelegateTest, FailedLoadsEndWithoutALoadEventAndAreRecordedOnce)
{
    // An HTTP error status loads normally; only the network says it failed.
    navigate(kPage + "404",
             [&](const Json&) { event("browsingContext.navigationStarted", ids("fbfb72be", kPage + "404")); });
    event("network.responseCompleted",
          {{"context", kTab},
           {"navigation", "fbfb72be"},
           {"response", {{"url", kPage + "404"}, {"status", 404}, {"statusText", "Not Found"}}}});
    event("browsingContext.navigationCommitted", ids("fbfb72be", kPage + "404"));
    event("browsingContext.load", ids("fbfb72be", kPage + "404"));

    // A refused connection commits Firefox's error page, which fires no load.
    const std::string refused = "http://127.0.0.1:9/";
    navigate(refused, [&](const Json&) { event("browsingContext.navigationStarted", ids("0e35f32d", refused)); });
    event("network.fetchError", {{"context", kTab},
                                 {"navigation", "0e35f32d"},
                                 {"errorText", "NS_ERROR_CONNECTION_REFUSED"},
                                 {"request", {{"url", refused}}}});
    const std::string error_page = "about:neterror?e=connectionFailure&u=http%3A//127.0.0.1%3A9/&c=UTF-8&d=x";
    event("browsingContext.navigationCommitted", ids("0e35f32d", error_page));
    event("browsingContext.domContentLoaded", ids("0e35f32d", error_page));
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);
    EXPECT_EQ(m_state.url_of(kTab), refused);

    // A port Firefox will not use: the error page alone tells.
    const std::string denied = "http://127.0.0.1:1/";
    navigate(denied, [&](const Json&) { event("browsingContext.navigationStarted", ids("7a1", denied)); });
    event("browsingContext.navigationCommitted",
          ids("7a1", "about:neterror?e=deniedPortAccess&u=http%3A//127.0.0.1%3A1/"));
    event("browsingContext.domContentLoaded",
          ids("7a1", "about:neterror?e=deniedPortAccess&u=http%3A//127.0.0.1%3A1/"));
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);

    const auto failures = m_state.take_load_failures();
    ASSERT_EQ(failures.size(), 3u);
    EXPECT_EQ(failures[0].url, kPage + "404");
    EXPECT_EQ(failures[0].reason, "HTTP 404 Not Found");
    EXPECT_EQ(failures[1].url, refused);
    EXPECT_EQ(failures[1].reason, "NS_ERROR_CONNECTION_REFUSED");
    EXPECT_EQ(failures[2].url, denied);
    EXPECT_EQ(failures[2].reason, "deniedPortAccess");
}

TEST_F(FirefoxPageDelegateTest, LoadsThatMakeNoDocumentDoNotHoldTheReadyState)
{
    // A 204: Firefox says nothing after the network's abort until the next navigation begins.
    navigate(kPage + "204",
             [&](const Json&) { event("browsingContext.navigationStarted", ids("0e4158b5", kPage + "204")); });
    event("network.responseStarted",
          {{"context", kTab}, {"navigation", "0e4158b5"}, {"response", {{"url", kPage + "204"}, {"status", 204}}}});
    event("network.fetchError", {{"context", kTab},
                                 {"navigation", "0e4158b5"},
                                 {"errorText", "NS_BINDING_ABORTED"},
                                 {"request", {{"url", kPage + "204"}}}});
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);
    const auto failures = m_state.take_load_failures();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].reason, "NS_BINDING_ABORTED");

    // A link to an unknown scheme: a start and nothing more.
    event("browsingContext.navigationStarted", ids("5c2", "foo://bar/baz"));
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);

    // A script address is never answered when it makes no document: it is sent, not waited for.
    EXPECT_EQ(m_delegate->navigate(kTab, "javascript:void(document.title='x')").outcome,
              page::NavigationStart::Outcome::kNoLoad);
    EXPECT_EQ(expect("browsingContext.navigate")["params"]["url"], "javascript:void(document.title='x')");

    // An address Firefox refuses outright.
    const auto refused = navigate("foo://bar/baz", [&](const Json& command) {
        refuse(command, "unsupported operation", "Navigation to \"foo://bar/baz\" is not allowed in this context");
    });
    EXPECT_EQ(refused.outcome, page::NavigationStart::Outcome::kRefused);
    EXPECT_EQ(refused.reason, "Navigation to \"foo://bar/baz\" is not allowed in this context");
}

// Firefox lets a navigation that the page begins cancel the script's, before or after its start
// is told, where a 204 aborts only once its answer has come.
TEST_F(FirefoxPageDelegateTest, AScriptsNavigationThatAnotherCancelsIsOvertakenNotRefusedNorEmpty)
{
    const auto cut = navigate(
        kPage + "home", [&](const Json& command) { refuse(command, "unknown error", "Error: NS_BINDING_ABORTED"); });
    EXPECT_EQ(cut.outcome, page::NavigationStart::Outcome::kCutShort);

    m_state.script_navigation_asked();
    navigate(kPage + "home",
             [&](const Json&) { event("browsingContext.navigationStarted", ids("6f4f4b69", kPage + "home")); });
    event("network.fetchError", {{"context", kTab},
                                 {"navigation", "6f4f4b69"},
                                 {"errorText", "NS_BINDING_ABORTED"},
                                 {"request", {{"url", kPage + "home"}}}});
    sync();
    EXPECT_TRUE(m_state.script_navigation_overtaken());
    EXPECT_EQ(m_state.ready_state(), 1);
    event("browsingContext.navigationFailed", {{"context", kTab}, {"navigation", "6f4f4b69"}, {"url", kPage + "home"}});
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);
    EXPECT_TRUE(m_state.take_load_failures().empty());
}

TEST_F(FirefoxPageDelegateTest, FramesOfThePageAreTrackedAndOtherTabsIgnored)
{
    event("browsingContext.contextCreated", {{"context", kFrame}, {"parent", kTab}, {"url", "about:blank"}});
    event("script.realmCreated", {{"realm", "8341989b"}, {"context", kFrame}, {"type", "window"}});
    event("browsingContext.contextCreated", {{"context", "popup"}, {"parent", nullptr}, {"url", "about:blank"}});
    event("script.realmCreated", {{"realm", "popup-realm"}, {"context", "popup"}, {"type", "window"}});
    event("browsingContext.navigationStarted", ids("648666df", kPage + "inner", kFrame));
    event("browsingContext.navigationCommitted", ids("648666df", kPage + "inner", kFrame));
    sync();
    EXPECT_EQ(m_state.child_frames(kTab), std::vector<std::string>{kFrame});
    EXPECT_EQ(m_state.realm_of(kFrame, 0ms), "8341989b");
    EXPECT_FALSE(m_state.has_frame("popup"));
    EXPECT_FALSE(m_state.frame_ready(kFrame));

    event("browsingContext.load", ids("648666df", kPage + "inner", kFrame));
    sync();
    EXPECT_TRUE(m_state.frame_ready(kFrame));
    event("browsingContext.contextDestroyed", {{"context", kFrame}, {"parent", kTab}});
    sync();
    EXPECT_TRUE(m_state.child_frames(kTab).empty());
}

TEST_F(FirefoxPageDelegateTest, ObjectsAreHeldByHandleInTheirRealmAndGoStaleWithTheirDocument)
{
    auto document = std::async(std::launch::async, [&] { return m_delegate->evaluate("d14a186f", "document", false); });
    const Json command = expect("script.evaluate");
    EXPECT_EQ(command["params"]["target"], Json({{"realm", "d14a186f"}}));
    EXPECT_EQ(command["params"]["resultOwnership"], "root");
    answer(command, {{"realm", "d14a186f"},
                     {"type", "success"},
                     {"result",
                      {{"type", "node"},
                       {"handle", "aaf337f3"},
                       {"sharedId", "9c14d86a"},
                       {"value", {{"nodeType", 9}, {"childNodeCount", 1}}}}}});
    const page::RemoteValue value = document.get();
    EXPECT_EQ(value.kind, page::RemoteValue::Kind::Object);
    EXPECT_EQ(value.class_name, "HTMLDocument");
    EXPECT_EQ(value.subtype, "node");

    // The call goes by handle, never by the shared id that would reach the old document.
    auto title = std::async(std::launch::async, [&] {
        return m_delegate->call_function(value.handle, "function(p) { return this[p]; }",
                                         {page::CallArgument::of(std::string("title"))}, true, false);
    });
    const Json call = expect("script.callFunction");
    EXPECT_EQ(call["params"]["this"], Json({{"handle", "aaf337f3"}}));
    EXPECT_EQ(call["params"]["target"], Json({{"realm", "d14a186f"}}));
    EXPECT_EQ(call["params"]["arguments"], Json::parse(R"([{"type":"string","value":"title"}])"));
    refuse(call, "no such handle", "Unable to find an object reference for \"handle\" aaf337f3");
    const AutomationError stale = error_of([&] { title.get(); });
    EXPECT_EQ(stale.number(), error_number::kObjectDisconnected);
    EXPECT_EQ(stale.description(),
              "The object invoked has disconnected from its clients: the page that held it is gone");
    // A frame of a tab whose content process died has lost its realm: its objects are gone too.
    auto lost = std::async(std::launch::async, [&] { return m_delegate->evaluate("d14a186f", "document", false); });
    refuse(expect("script.evaluate"), "unknown error", "TypeError: can't access property \"context\", realm is null");
    EXPECT_EQ(error_of([&] { lost.get(); }).number(), error_number::kObjectDisconnected);

    auto thrown =
        std::async(std::launch::async, [&] { return m_delegate->evaluate("d14a186f", "frames[1].document", false); });
    answer(expect("script.evaluate"), Json::parse(R"({"realm":"d14a186f","type":"exception","exceptionDetails":{
        "text":"SecurityError: Permission denied to access property \"document\" on cross-origin object",
        "lineNumber":0}})"));
    const AutomationError denied = error_of([&] { thrown.get(); });
    EXPECT_EQ(denied.number(), error_number::kPermissionDenied);
    EXPECT_EQ(denied.description(),
              "Permission denied: SecurityError: Permission denied to access property \"document\" on cross-origin "
              "object");

    m_delegate->release(value.handle);
    EXPECT_EQ(expect("script.disown")["params"],
              Json({{"handles", {"aaf337f3"}}, {"target", {{"realm", "d14a186f"}}}}));
}

TEST_F(FirefoxPageDelegateTest, ScriptsGoToTheFrameOfTheirDocumentsRealmAndNeverAnswerFromAnother)
{
    event("browsingContext.contextCreated", {{"context", kFrame}, {"parent", kTab}, {"url", "about:blank"}});
    event("script.realmCreated", {{"realm", "8341989b"}, {"context", kFrame}, {"type", "window"}});
    event("script.realmCreated", {{"realm", "s1"}, {"context", kFrame}, {"type", "window"}, {"sandbox", "s1"}});
    sync();

    auto sum = std::async(std::launch::async, [&] { return m_delegate->evaluate("8341989b", "1+1", true); });
    const Json command = expect("script.evaluate");
    EXPECT_EQ(command["params"]["target"], Json({{"context", kFrame}}));
    answer(command, {{"realm", "8341989b"}, {"type", "success"}, {"result", {{"type", "number"}, {"value", 2}}}});
    EXPECT_EQ(sum.get().number, 2);
    auto title = std::async(std::launch::async, [&] {
        return m_delegate->call_function("8341989b aaf337f3", "function() { return this.title; }", {}, true, false);
    });
    const Json call = expect("script.callFunction");
    EXPECT_EQ(call["params"]["target"], Json({{"context", kFrame}}));
    answer(call, {{"realm", "8341989b"}, {"type", "success"}, {"result", {{"type", "string"}, {"value", "t"}}}});
    EXPECT_EQ(title.get()->text, "t");
    m_delegate->release("8341989b aaf337f3");
    EXPECT_EQ(expect("script.disown")["params"]["target"], Json({{"context", kFrame}}));

    // The frame's next document ran the expression before its realm was told: its answer is not
    // taken, and the object it made there is let go.
    auto document = std::async(std::launch::async, [&] { return m_delegate->evaluate("8341989b", "document", false); });
    answer(expect("script.evaluate"), Json::parse(R"({"realm":"r-next","type":"success",
        "result":{"type":"node","handle":"f00d","value":{"nodeType":9}}})"));
    EXPECT_EQ(error_of([&] { document.get(); }).number(), error_number::kObjectDisconnected);
    EXPECT_EQ(expect("script.disown")["params"], Json({{"handles", {"f00d"}}, {"target", {{"context", kFrame}}}}));

    // A realm told gone, or one of a sandbox, is looked for by Firefox itself.
    event("script.realmDestroyed", {{"realm", "8341989b"}});
    sync();
    for (const std::string realm : {"8341989b", "s1"}) {
        auto gone = std::async(std::launch::async, [&] { return m_delegate->evaluate(realm, "1", true); });
        const Json asked = expect("script.evaluate");
        EXPECT_EQ(asked["params"]["target"], Json({{"realm", realm}}));
        refuse(asked, "no such frame", "Realm with id " + realm + " not found");
        answer(expect("script.evaluate"),
               {{"realm", "r-blank"}, {"type", "success"}, {"result", {{"type", "number"}, {"value", 0}}}});
        EXPECT_EQ(error_of([&] { gone.get(); }).number(), error_number::kObjectDisconnected);
    }
}

TEST_F(FirefoxPageDelegateTest, AClickThatOpensADialogReturnsAndTheDialogIsAnsweredWhereItOpened)
{
    auto click = std::async(std::launch::async, [&] {
        return m_delegate->call_function("d14a186f b1", "function() { this.click(); }", {}, false, true);
    });
    const Json call = expect("script.callFunction");
    EXPECT_EQ(call["params"]["userActivation"], true);
    event("browsingContext.userPromptOpened",
          {{"context", kTab}, {"handler", "ignore"}, {"message", "name?"}, {"type", "prompt"}, {"defaultValue", "x"}});
    EXPECT_FALSE(click.get());
    ASSERT_TRUE(m_state.dialog());
    EXPECT_EQ(m_state.dialog()->message, "name?");
    EXPECT_EQ(m_state.dialog()->default_prompt, "x");

    auto answered = std::async(std::launch::async, [&] { return m_delegate->answer_dialog(true, "typed"); });
    const Json handle = expect("browsingContext.handleUserPrompt");
    EXPECT_EQ(handle["params"], Json({{"context", kTab}, {"accept", true}, {"userText", "typed"}}));
    event("browsingContext.userPromptClosed", {{"context", kTab}, {"accepted", true}, {"type", "prompt"}});
    answer(handle, Json::object());
    answer(call, {{"realm", "d14a186f"}, {"type", "success"}, {"result", {{"type", "undefined"}}}});
    answer(expect("script.evaluate"),
           {{"realm", "d14a186f"}, {"type", "success"}, {"result", {{"type", "number"}, {"value", 0}}}});
    EXPECT_TRUE(answered.get());
    EXPECT_FALSE(m_state.dialog());

    auto late = std::async(std::launch::async, [&] { return m_delegate->answer_dialog(false, ""); });
    refuse(expect("browsingContext.handleUserPrompt"), "no such alert", "");
    EXPECT_FALSE(late.get());
}

TEST_F(FirefoxPageDelegateTest, TheNavigationALeaveThisPageDialogHoldsLoadsOnceTheDialogIsLeft)
{
    // Recorded: the link's navigation starts while the dialog is open, without its address.
    event("browsingContext.userPromptOpened", {{"context", kTab}, {"type", "beforeunload"}, {"handler", "ignore"}});
    event("browsingContext.navigationStarted", {{"context", kTab}, {"navigation", "2ff01496"}});
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);  // the page shown is loaded; the dialog asks first
    event("browsingContext.userPromptClosed", {{"context", kTab}, {"accepted", true}, {"type", "beforeunload"}});
    sync();
    EXPECT_EQ(m_state.ready_state(), 1);
    event("browsingContext.navigationCommitted", ids("2ff01496", kPage + "second.html"));
    event("browsingContext.load", ids("2ff01496", kPage + "second.html"));
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);

    // Stay: the held navigation fails.
    event("browsingContext.userPromptOpened", {{"context", kTab}, {"type", "beforeunload"}, {"handler", "ignore"}});
    event("browsingContext.navigationStarted", {{"context", kTab}, {"navigation", "5c1e0a7b"}});
    event("browsingContext.navigationFailed", {{"context", kTab}, {"navigation", "5c1e0a7b"}, {"url", ""}});
    event("browsingContext.userPromptClosed", {{"context", kTab}, {"accepted", false}, {"type", "beforeunload"}});
    sync();
    EXPECT_EQ(m_state.ready_state(), 4);
    EXPECT_EQ(m_state.url_of(kTab), kPage + "second.html");
}

TEST_F(FirefoxPageDelegateTest, ACallIntoATabWhoseContentProcessDiedTellsTheCrashBeforeFirefoxShowsIt)
{
    auto title = std::async(std::launch::async, [&] {
        return m_delegate->call_function("r-blank aaf337f3", "function() { return this.title; }", {}, true, false);
    });
    refuse(expect("script.callFunction"), "no such frame", "Realm with id r-blank not found");
    // Recorded: the tab shows Firefox's crash page in the parent process before its commit is told.
    const Json probe = expect("script.evaluate");
    EXPECT_EQ(probe["params"]["target"], Json({{"context", kTab}}));
    refuse(probe, "unsupported operation",
           "script.evaluate and script.callFunction are not supported for parent process browsing contexts: 13");
    try {
        title.get();
        ADD_FAILURE() << "the call returned";
    } catch (const page::TaskError& error) {
        EXPECT_TRUE(error.cut_short());
    }
    EXPECT_TRUE(m_state.crashed());

    // A navigation restores the page before Firefox tells the commit of its crash page.
    m_state.page_restarting();
    event("browsingContext.navigationCommitted", ids("c9617bc2", "about:tabcrashed?e=tabcrashed&u=x"));
    sync();
    EXPECT_FALSE(m_state.crashed());

    // A call into a document that went with a navigation is stale, the tab alive.
    auto stale = std::async(std::launch::async, [&] { return m_delegate->evaluate("r-old", "document", false); });
    refuse(expect("script.evaluate"), "no such frame", "Realm with id r-old not found");
    answer(expect("script.evaluate"),
           {{"realm", "r-new"}, {"type", "success"}, {"result", {{"type", "number"}, {"value", 0}}}});
    EXPECT_EQ(error_of([&] { stale.get(); }).number(), error_number::kObjectDisconnected);
    EXPECT_FALSE(m_state.crashed());
}

TEST_F(FirefoxPageDelegateTest, ACrashedTabIsReportedAndANavigationRestoresIt)
{
    event("script.realmDestroyed", {{"realm", "r-blank"}});
    event("browsingContext.navigationCommitted", ids("c1", "about:tabcrashed?e=tabcrashed&u=http%3A//127.0.0.1/"));
    sync();
    EXPECT_TRUE(m_state.crashed());

    m_state.page_restarting();
    navigate(kPage, [&](const Json&) { event("browsingContext.navigationStarted", ids("n2", kPage)); });
    event("browsingContext.navigationCommitted", ids("n2", kPage));
    event("browsingContext.load", ids("n2", kPage));
    sync();
    EXPECT_FALSE(m_state.crashed());
    EXPECT_EQ(m_state.ready_state(), 4);
    EXPECT_EQ(m_state.url_of(kTab), kPage);
}

TEST(FirefoxSpareWindowTest, APageInAWindowOpenedAheadAsksOnlyForTheRealmOfItsBlankDocument)
{
    auto wire = std::make_shared<ScriptedWire>();
    page::PageState state;
    auto opening = std::async(std::launch::async, [&] {
        return std::make_unique<FirefoxPageDelegate>(std::make_unique<ScriptedHost>(wire, kTab, "a83ede50"), state);
    });
    const auto sent = wire->next_sent(ScriptedWire::Clock::now() + kPatient);
    ASSERT_TRUE(sent);
    const Json realms = Json::parse(*sent);
    EXPECT_EQ(realms["method"], "script.getRealms");
    EXPECT_EQ(realms["params"]["context"], kTab);
    wire->deliver(Json{{"type", "success"},
                       {"id", realms["id"]},
                       {"result", {{"realms", {{{"realm", "r-blank"}, {"context", kTab}, {"type", "window"}}}}}}}
                      .dump());
    const auto delegate = opening.get();
    EXPECT_EQ(delegate->main_frame_id(), kTab);
    EXPECT_EQ(state.realm_of(kTab, 0ms), "r-blank");

    // Left open, it ends the subscription made ahead for it.
    delegate->leave_open();
    const auto unsubscribe = Json::parse(wire->next_sent(ScriptedWire::Clock::now() + kPatient).value_or("{}"));
    EXPECT_EQ(unsubscribe["method"], "session.unsubscribe");
    EXPECT_EQ(unsubscribe["params"]["subscriptions"], Json::array({"a83ede50"}));
}

}  // namespace
}  // namespace varne::bidi
