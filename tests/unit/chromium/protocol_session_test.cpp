#include "platform/chromium/protocol_session.h"

#include "page/page_text.h"
#include "platform/transport/pipe_transport.h"
#include "tests/support/automation_errors.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace varne::cdp {
namespace {

using page::page_text;
using page::protocol_text;

using namespace std::chrono_literals;
using Json = nlohmann::json;

// Long enough never to end a passing test; a failing one shows the wrong error text instead.
constexpr ProtocolSession::Timeout kPatient = 60s;

// The browser's side of the pipe, scripted by the test thread.
class FakeBrowser {
public:
    // Makes the pipes and returns the transport for the session under test.
    std::unique_ptr<PipeTransport> connect()
    {
        int commands[2];
        int messages[2];
        EXPECT_EQ(::pipe2(commands, O_CLOEXEC), 0);
        EXPECT_EQ(::pipe2(messages, O_CLOEXEC), 0);
        m_raw_write_fd = ::dup(messages[1]);
        m_wire = std::make_unique<PipeTransport>(messages[1], commands[0]);
        return std::make_unique<PipeTransport>(commands[1], messages[0]);
    }
    ~FakeBrowser()
    {
        if (m_raw_write_fd >= 0)
            ::close(m_raw_write_fd);
    }

    // Writes one message in `parts` pieces, `pause` apart, as a browser sends a large answer.
    void write_in_parts(const std::string& text, size_t parts, std::chrono::milliseconds pause)
    {
        const std::string message = text + '\0';
        const size_t part = message.size() / parts + 1;
        for (size_t at = 0; at < message.size(); at += part) {
            if (at > 0)
                std::this_thread::sleep_for(pause);
            const size_t size = std::min(part, message.size() - at);
            EXPECT_EQ(::write(m_raw_write_fd, message.data() + at, size), static_cast<ssize_t>(size));
        }
    }

    Json next_command()
    {
        const auto text = next_text();
        return text ? Json::parse(*text) : Json();
    }
    std::optional<std::string> next_text() { return m_wire->receive(PipeTransport::Clock::now() + kPatient); }

    void write(const std::string& text) { m_wire->send(text, PipeTransport::Clock::now() + kPatient); }
    void answer(const Json& command, Json result)
    {
        write(Json{{"id", command["id"]}, {"result", std::move(result)}}.dump());
    }
    void event(const std::string& method, Json params = Json::object(), const std::string& session_id = {})
    {
        Json message{{"method", method}, {"params", std::move(params)}};
        if (!session_id.empty())
            message["sessionId"] = session_id;
        write(message.dump());
    }
    void hang_up()
    {
        ::close(m_raw_write_fd);
        m_raw_write_fd = -1;
        m_wire->close("test hung up");
    }

private:
    std::unique_ptr<PipeTransport> m_wire;
    int m_raw_write_fd = -1;
};

class ProtocolSessionTest : public ::testing::Test {
protected:
    FakeBrowser m_browser;
    ProtocolSession m_session{m_browser.connect()};

    std::future<Json> send_async(std::string method, Json params = Json::object(), std::string session_id = {},
                                 ProtocolSession::Timeout timeout = kPatient)
    {
        return std::async(std::launch::async,
                          [=, this] { return m_session.send(method, params, session_id, timeout); });
    }

    // Runs `call`, which must raise, and returns the error it raised.
    template <typename Call>
    static ProtocolError error_of(Call&& call)
    {
        return testing::raised_as(std::forward<Call>(call), ProtocolError{ProtocolError::Kind::kBrowserError, 0, ""});
    }
};

TEST_F(ProtocolSessionTest, MatchesAnswersToCallersByIdWhateverTheirOrder)
{
    auto evaluate = send_async("Runtime.evaluate", {{"expression", "1+1"}}, "PAGE-1");
    const Json first = m_browser.next_command();
    auto version = send_async("Browser.getVersion");
    const Json second = m_browser.next_command();

    EXPECT_EQ(first["method"], "Runtime.evaluate");
    EXPECT_EQ(first["params"], (Json{{"expression", "1+1"}}));
    EXPECT_EQ(first["sessionId"], "PAGE-1");
    EXPECT_EQ(second["method"], "Browser.getVersion");
    EXPECT_FALSE(second.contains("sessionId"));
    EXPECT_NE(first["id"], second["id"]);

    m_browser.answer(second, {{"product", "Chrome/1"}});
    m_browser.answer(first, {{"result", {{"value", 2}}}});
    EXPECT_EQ(version.get(), (Json{{"product", "Chrome/1"}}));
    EXPECT_EQ(evaluate.get(), (Json{{"result", {{"value", 2}}}}));
}

TEST_F(ProtocolSessionTest, SendAllSendsEveryCommandBeforeAnyAnswerAndRaisesTheFirstThatFailedOnceAllAnswered)
{
    const std::vector<BatchedCommand> commands{{"Page.enable"}, {"Network.enable"}, {"Runtime.evaluate", {{"x", 1}}}};
    auto all = std::async(std::launch::async, [&] { return m_session.send_all(commands, "PAGE-1", kPatient); });
    std::vector<Json> sent;
    for (int i = 0; i < 3; ++i)
        sent.push_back(m_browser.next_command());
    EXPECT_EQ(sent[2]["params"], (Json{{"x", 1}}));
    for (const auto& command : sent)
        EXPECT_EQ(command["sessionId"], "PAGE-1");
    m_browser.answer(sent[2], {{"n", 3}});
    m_browser.answer(sent[0], {{"n", 1}});
    m_browser.answer(sent[1], {{"n", 2}});
    EXPECT_EQ(all.get(), (std::vector<Json>{{{"n", 1}}, {{"n", 2}}, {{"n", 3}}}));

    auto failing = std::async(std::launch::async, [&] { return m_session.send_all(commands, "PAGE-1", kPatient); });
    sent.clear();
    for (int i = 0; i < 3; ++i)
        sent.push_back(m_browser.next_command());
    for (size_t i : {1, 2})
        m_browser.write(
            Json{{"id", sent[i]["id"]}, {"error", {{"code", -32000}, {"message", "no " + std::to_string(i)}}}}.dump());
    EXPECT_EQ(failing.wait_for(200ms), std::future_status::timeout);  // the first is still waited for
    m_browser.answer(sent[0], Json::object());
    EXPECT_EQ(error_of([&] { failing.get(); }).message(), "no 1");
}

TEST_F(ProtocolSessionTest, ABrowserErrorNamesTheCommandAndWhatTheBrowserSaid)
{
    auto navigate = send_async("Page.navigate", {{"url", "about:blank"}});
    auto evaluate = send_async("Runtime.evaluate");
    for (int i = 0; i < 2; ++i) {
        const Json command = m_browser.next_command();
        Json error{{"code", -32601}, {"message", "'Page.navigate' wasn't found"}};
        if (command["method"] == "Runtime.evaluate")
            error = {{"code", -32000}, {"message", "Object reference chain is too long"}, {"data", "at depth 1000"}};
        m_browser.write(Json{{"id", command["id"]}, {"error", error}}.dump());
    }

    const ProtocolError rejected = error_of([&] { navigate.get(); });
    EXPECT_EQ(rejected.kind(), ProtocolError::Kind::kBrowserError);
    EXPECT_EQ(rejected.number(), error_number::kUnspecified);
    EXPECT_EQ(rejected.code(), -32601);
    EXPECT_EQ(rejected.message(), "'Page.navigate' wasn't found");
    EXPECT_EQ(rejected.description(), "Chromium rejected Page.navigate: -32601 'Page.navigate' wasn't found");
    EXPECT_EQ(error_of([&] { evaluate.get(); }).description(),
              "Chromium rejected Runtime.evaluate: -32000 Object reference chain is too long (at depth 1000)");
}

TEST_F(ProtocolSessionTest, AnAnswerStillArrivingWhenItsBoundRunsOutIsWaitedFor)
{
    auto value = send_async("Runtime.evaluate", Json::object(), "PAGE-1", 1s);
    const Json command = m_browser.next_command();
    const std::string large(100000, 'x');
    m_browser.write_in_parts(Json{{"id", command["id"]}, {"result", {{"value", large}}}}.dump(), 8, 400ms);
    EXPECT_EQ(value.get(), (Json{{"value", large}}));
}

TEST_F(ProtocolSessionTest, EventsThatKeepArrivingDoNotHoldAnUnansweredCommandPastItsBound)
{
    auto value = send_async("Runtime.evaluate", Json::object(), "PAGE-1", 300ms);
    m_browser.next_command();
    // Events split across reads, as a page that navigates without end floods them: bytes of some
    // message are always arriving, but never those of the answer.
    const auto flood_ends = std::chrono::steady_clock::now() + kPatient;
    const std::string event = Json{{"method", "Page.frameStartedNavigating"}, {"params", {{"url", "x"}}}}.dump();
    bool ended_in_the_flood = false;
    while (!ended_in_the_flood && std::chrono::steady_clock::now() < flood_ends) {
        m_browser.write_in_parts(event, 2, 20ms);
        ended_in_the_flood = value.wait_for(0s) == std::future_status::ready;
    }
    EXPECT_TRUE(ended_in_the_flood);
    EXPECT_EQ(error_of([&] { value.get(); }).kind(), ProtocolError::Kind::kTimedOut);
}

TEST_F(ProtocolSessionTest, AnUnansweredCommandEndsAtItsBoundAndItsLateAnswerIsDropped)
{
    const ProtocolError timed_out =
        error_of([&] { m_session.send("Runtime.evaluate", Json::object(), "PAGE-1", 30ms); });
    EXPECT_EQ(timed_out.kind(), ProtocolError::Kind::kTimedOut);
    EXPECT_EQ(timed_out.number(), error_number::kUnspecified);
    EXPECT_EQ(timed_out.description(), "Chromium did not answer Runtime.evaluate within 30 ms");

    m_session.set_default_timeout(20ms);
    EXPECT_EQ(error_of([&] { m_session.send("Page.enable"); }).description(),
              "Chromium did not answer Page.enable within 20 ms");

    const Json late = m_browser.next_command();
    m_browser.next_command();
    auto version = send_async("Browser.getVersion");
    const Json current = m_browser.next_command();
    m_browser.answer(late, {{"stale", true}});
    m_browser.answer(current, {{"fresh", true}});
    EXPECT_EQ(version.get(), (Json{{"fresh", true}}));
}

TEST_F(ProtocolSessionTest, ABrowserThatHangsUpFailsPendingAndLaterCallsAtOnce)
{
    auto evaluate = send_async("Runtime.evaluate");
    m_browser.next_command();
    m_browser.hang_up();

    const ProtocolError pending = error_of([&] { evaluate.get(); });
    EXPECT_EQ(pending.kind(), ProtocolError::Kind::kDisconnected);
    EXPECT_EQ(pending.number(), error_number::kServerUnavailable);
    EXPECT_EQ(pending.description(),
              "The connection to Chromium closed before it answered Runtime.evaluate: end of pipe");

    const ProtocolError later = error_of([&] { m_session.send("Browser.getVersion", Json::object(), {}, kPatient); });
    EXPECT_EQ(later.number(), error_number::kServerUnavailable);
    EXPECT_EQ(later.description(),
              "Cannot send Browser.getVersion: the connection to Chromium is closed (end of pipe)");
    EXPECT_TRUE(m_session.closed());
    EXPECT_FALSE(m_session.post("Runtime.runIfWaitingForDebugger"));
}

TEST_F(ProtocolSessionTest, ListenersSeeEventsInOrderBeforeTheCallerOfALaterAnswerWakes)
{
    std::vector<std::string> seen;
    m_session.add_listener([&](const ProtocolEvent& event) { seen.push_back(event.method + "@" + event.session_id); });

    auto navigate = send_async("Page.navigate", {{"url", "http://127.0.0.1/"}}, "PAGE-1");
    const Json command = m_browser.next_command();
    m_browser.event("Page.frameStartedLoading", {{"frameId", "F"}}, "PAGE-1");
    m_browser.event("Target.targetInfoChanged");
    m_browser.answer(command, {{"frameId", "F"}});
    navigate.get();
    EXPECT_EQ(seen, (std::vector<std::string>{"Page.frameStartedLoading@PAGE-1", "Target.targetInfoChanged@"}));
}

TEST_F(ProtocolSessionTest, SendUntilEndsAtAMatchingEventAndDropsTheLateAnswer)
{
    bool listener_saw_dialog = false;
    m_session.add_listener([&](const ProtocolEvent& event) {
        listener_saw_dialog = listener_saw_dialog || event.method == "Page.javascriptDialogOpening";
    });
    auto click = std::async(std::launch::async, [&] {
        return m_session.send_until(
            "Runtime.callFunctionOn", Json::object(), "PAGE-1",
            [](const ProtocolEvent& e) { return e.method == "Page.javascriptDialogOpening"; }, kPatient);
    });
    const Json command = m_browser.next_command();
    m_browser.event("Page.lifecycleEvent", Json::object(), "PAGE-1");
    m_browser.event("Page.javascriptDialogOpening", {{"type", "alert"}, {"message", "hi"}}, "PAGE-1");

    const CommandOutcome outcome = click.get();
    EXPECT_FALSE(outcome.result);
    ASSERT_TRUE(outcome.event);
    EXPECT_EQ(outcome.event->params["message"], "hi");
    EXPECT_TRUE(listener_saw_dialog);

    m_browser.answer(command, {{"late", true}});
    auto answered = std::async(std::launch::async, [&] {
        return m_session.send_until(
            "Runtime.callFunctionOn", Json::object(), "PAGE-1", [](const ProtocolEvent&) { return false; }, kPatient);
    });
    m_browser.answer(m_browser.next_command(), {{"clicked", true}});
    const CommandOutcome plain = answered.get();
    EXPECT_EQ(plain.result, (Json{{"clicked", true}}));
    EXPECT_FALSE(plain.event);
}

TEST_F(ProtocolSessionTest, ListenersMayPostButNotWait)
{
    std::string refusal;
    m_session.add_listener([&](const ProtocolEvent& event) {
        if (event.method != "Target.attachedToTarget")
            return;
        const std::string child = event.params["sessionId"];
        m_session.post("Runtime.runIfWaitingForDebugger", Json::object(), child);
        try {
            m_session.send("Page.enable", Json::object(), child);
        } catch (const AutomationError& error) {
            refusal = error.description();
        }
    });
    m_browser.event("Target.attachedToTarget", {{"sessionId", "CHILD"}}, "PAGE-1");
    const Json posted = m_browser.next_command();
    EXPECT_EQ(posted["method"], "Runtime.runIfWaitingForDebugger");
    EXPECT_EQ(posted["sessionId"], "CHILD");

    m_browser.answer(posted, Json::object());
    auto version = send_async("Browser.getVersion");
    m_browser.answer(m_browser.next_command(), {{"product", "x"}});
    EXPECT_EQ(version.get(), (Json{{"product", "x"}}));
    EXPECT_EQ(refusal, "Page.enable cannot wait for its answer inside a Chromium event listener");
}

TEST_F(ProtocolSessionTest, ACrashedOrDetachedTargetFailsOnlyItsOwnCalls)
{
    auto on_crashed = send_async("Runtime.evaluate", Json::object(), "CRASHED");
    m_browser.next_command();
    auto on_detached = send_async("DOM.describeNode", Json::object(), "DETACHED");
    m_browser.next_command();
    auto on_other = send_async("Runtime.evaluate", Json::object(), "OTHER");
    const Json other = m_browser.next_command();

    m_browser.event("Inspector.targetCrashed", Json::object(), "CRASHED");
    m_browser.event("Target.detachedFromTarget", {{"sessionId", "DETACHED"}});
    const ProtocolError crashed = error_of([&] { on_crashed.get(); });
    EXPECT_EQ(crashed.kind(), ProtocolError::Kind::kTargetGone);
    EXPECT_EQ(crashed.number(), error_number::kObjectDisconnected);
    EXPECT_EQ(crashed.description(), "The page crashed before Chromium answered Runtime.evaluate");
    EXPECT_EQ(error_of([&] { on_detached.get(); }).description(),
              "The target was detached before Chromium answered DOM.describeNode");

    m_browser.answer(other, {{"ok", true}});
    EXPECT_EQ(on_other.get(), (Json{{"ok", true}}));
}

TEST_F(ProtocolSessionTest, CarriesLoneSurrogatesBothWaysAndReportsUnreadableAnswers)
{
    const BStr page = {u'a', 0xD800, u'b', 0xD83D, 0xDE00, u'c', 0xDC00, 0xFDD0};
    auto text = send_async("Runtime.evaluate", {{"expression", protocol_text(page)}});
    const auto command = m_browser.next_text();
    ASSERT_TRUE(command);
    EXPECT_NE(command->find("\"expression\":\"a\\ud800b\xf0\x9f\x98\x80"
                            "c\\udc00\xef\xb7\x90\""),
              std::string::npos)
        << *command;
    const std::string id = command->substr(6, command->find(',') - 6);
    m_browser.write(R"({"id":)" + id + R"(,"result":{"value":"a\ud800b\ud83d\ude00c\udc00\ufdd0"}})");
    EXPECT_EQ(page_text(text.get()["value"].get<std::string>()), page);

    std::promise<std::string> message;
    const auto listener = m_session.add_listener(
        [&](const ProtocolEvent& event) { message.set_value(event.params["message"].get<std::string>()); });
    m_browser.write(R"({"method":"Page.javascriptDialogOpening","params":{"message":"\udfff\ufdd0\ue000"}})");
    EXPECT_EQ(page_text(message.get_future().get()), (BStr{0xDFFF, 0xFDD0, 0xE000}));
    m_session.remove_listener(listener);

    auto broken = send_async("DOM.getDocument");
    m_browser.write(R"({"id":)" + m_browser.next_command()["id"].dump() + R"(,"result":{"root":})");
    EXPECT_EQ(error_of([&] { broken.get(); }).description(), "Chromium's answer to DOM.getDocument is not valid JSON");
}

TEST_F(ProtocolSessionTest, AttachAsksForAFlatSessionAndRemovedListenersHearNothing)
{
    int heard = 0;
    const auto id = m_session.add_listener([&](const ProtocolEvent&) { ++heard; });
    auto attach = std::async(std::launch::async, [&] { return m_session.attach_to_target("T1", kPatient); });
    const Json command = m_browser.next_command();
    EXPECT_EQ(command["method"], "Target.attachToTarget");
    EXPECT_EQ(command["params"], (Json{{"targetId", "T1"}, {"flatten", true}}));
    m_browser.event("Target.attachedToTarget", {{"sessionId", "S1"}});
    m_browser.answer(command, {{"sessionId", "S1"}});
    EXPECT_EQ(attach.get(), "S1");
    EXPECT_EQ(heard, 1);

    m_session.remove_listener(id);
    m_browser.event("Target.detachedFromTarget", {{"sessionId", "S1"}});
    auto version = send_async("Browser.getVersion");
    m_browser.answer(m_browser.next_command(), Json::object());
    version.get();
    EXPECT_EQ(heard, 1);
}

}  // namespace
}  // namespace varne::cdp
