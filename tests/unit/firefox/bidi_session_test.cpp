#include "platform/firefox/bidi_session.h"

#include "page/page_text.h"
#include "platform/transport/lone_surrogates.h"
#include "tests/support/automation_errors.h"
#include "tests/support/scripted_transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <string>
#include <vector>

namespace varne::bidi {
namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

// Long enough never to end a passing test; a failing one shows the wrong error text instead.
constexpr BidiSession::Timeout kPatient = 60s;

class BidiSessionTest : public ::testing::Test {
protected:
    std::shared_ptr<ScriptedWire> m_wire = std::make_shared<ScriptedWire>();
    BidiSession m_session{std::make_unique<ScriptedTransport>(m_wire)};

    Json next_command()
    {
        const auto text = m_wire->next_sent(ScriptedWire::Clock::now() + kPatient);
        return text ? Json::parse(*text) : Json();
    }
    void answer(const Json& command, Json result)
    {
        m_wire->deliver(Json{{"type", "success"}, {"id", command["id"]}, {"result", std::move(result)}}.dump());
    }
    void event(const std::string& method, Json params)
    {
        m_wire->deliver(Json{{"type", "event"}, {"method", method}, {"params", std::move(params)}}.dump());
    }

    std::future<Json> send_async(std::string method, Json params = Json::object(),
                                 BidiSession::Timeout timeout = kPatient)
    {
        return std::async(std::launch::async, [=, this] { return m_session.send(method, params, timeout); });
    }

    template <typename Call>
    static BidiError error_of(Call&& call)
    {
        return testing::raised_as(std::forward<Call>(call), BidiError{BidiError::Kind::kBrowserError, ""});
    }
};

TEST_F(BidiSessionTest, SendsParamsAlwaysAndMatchesAnswersByIdWhateverTheirOrder)
{
    auto tree = send_async("browsingContext.getTree");
    const Json first = next_command();
    auto evaluate = send_async("script.evaluate", {{"expression", "1+1"}});
    const Json second = next_command();

    EXPECT_EQ(first["method"], "browsingContext.getTree");
    EXPECT_EQ(first["params"], Json::object());
    EXPECT_NE(first["id"], second["id"]);

    answer(second, {{"realm", "r1"}, {"type", "success"}, {"result", {{"type", "number"}, {"value", 2}}}});
    answer(first, {{"contexts", Json::array()}});
    EXPECT_EQ(evaluate.get()["result"]["value"], 2);
    EXPECT_EQ(tree.get()["contexts"], Json::array());
}

TEST_F(BidiSessionTest, AFirefoxErrorCarriesItsCodeAndMessage)
{
    auto call = send_async("script.disown", {{"handles", {"h"}}});
    const Json command = next_command();
    // As Firefox 153 answers a handle that a new document has made unknown.
    m_wire->deliver(Json{{"type", "error"},
                         {"id", command["id"]},
                         {"error", "no such handle"},
                         {"message", "Unable to find an object reference for \"handle\" h"},
                         {"stacktrace", "RemoteError@chrome://remote/content/shared/RemoteError.sys.mjs:8:8\n"}}
                        .dump());

    const BidiError error = error_of([&] { call.get(); });
    EXPECT_EQ(error.kind(), BidiError::Kind::kBrowserError);
    EXPECT_EQ(error.error(), "no such handle");
    EXPECT_EQ(error.message(), "Unable to find an object reference for \"handle\" h");
    EXPECT_EQ(error.description(),
              "Firefox rejected script.disown: no such handle (Unable to find an object reference for \"handle\" h)");
    EXPECT_EQ(error.number(), error_number::kUnspecified);
}

TEST_F(BidiSessionTest, AnUnansweredCommandEndsAtItsBoundAndItsLateAnswerIsDropped)
{
    const BidiError error = error_of([&] { m_session.send("session.new", Json::object(), 50ms); });
    EXPECT_EQ(error.kind(), BidiError::Kind::kTimedOut);
    EXPECT_EQ(error.description(), "Firefox did not answer session.new within 50 ms");

    answer(next_command(), Json::object());
    auto status = send_async("session.status");
    const Json command = next_command();
    answer(command, {{"ready", false}});
    EXPECT_EQ(status.get()["ready"], false);
}

TEST_F(BidiSessionTest, AFirefoxThatHangsUpFailsPendingAndLaterCallsAtOnce)
{
    auto call = send_async("browsingContext.navigate", {{"url", "about:blank"}});
    next_command();
    m_wire->hang_up("Firefox ended the connection");

    const BidiError pending = error_of([&] { call.get(); });
    EXPECT_EQ(pending.kind(), BidiError::Kind::kDisconnected);
    EXPECT_EQ(pending.number(), error_number::kServerUnavailable);
    EXPECT_EQ(pending.description(),
              "The connection to Firefox closed before it answered browsingContext.navigate: Firefox ended the "
              "connection");

    const BidiError later = error_of([&] { m_session.send("browsingContext.getTree"); });
    EXPECT_EQ(
        later.description(),
        "Cannot send browsingContext.getTree: the connection to Firefox is closed (Firefox ended the connection)");
    EXPECT_FALSE(m_session.post("session.end"));
}

TEST_F(BidiSessionTest, ListenersSeeEventsInOrderBeforeTheCallerOfALaterAnswerWakes)
{
    std::vector<std::string> seen;
    m_session.add_listener([&](const BidiEvent& e) { seen.push_back(e.method + " " + e.params.value("url", "")); });

    auto navigate = send_async("browsingContext.navigate", {{"url", "http://127.0.0.1/a"}, {"wait", "none"}});
    const Json command = next_command();
    event("browsingContext.navigationStarted", {{"context", "c"}, {"url", "http://127.0.0.1/a"}});
    event("browsingContext.navigationCommitted", {{"context", "c"}, {"url", "http://127.0.0.1/a"}});
    answer(command, {{"navigation", "n1"}, {"url", "http://127.0.0.1/a"}});
    navigate.get();

    EXPECT_EQ(seen, (std::vector<std::string>{"browsingContext.navigationStarted http://127.0.0.1/a",
                                              "browsingContext.navigationCommitted http://127.0.0.1/a"}));
}

TEST_F(BidiSessionTest, SendUntilEndsAtAMatchingEventAndDropsTheLateAnswer)
{
    auto click = std::async(std::launch::async, [&] {
        return m_session.send_until(
            "script.callFunction", {{"functionDeclaration", "function(){this.click()}"}},
            [](const BidiEvent& e) { return e.method == "browsingContext.userPromptOpened"; }, kPatient);
    });
    const Json command = next_command();
    event("browsingContext.load", {{"context", "c"}});
    event("browsingContext.userPromptOpened", {{"context", "c"}, {"type", "alert"}, {"message", "hi"}});

    const BidiOutcome outcome = click.get();
    EXPECT_FALSE(outcome.result);
    ASSERT_TRUE(outcome.event);
    EXPECT_EQ(outcome.event->params["message"], "hi");

    answer(command, {{"type", "success"}, {"result", {{"type", "undefined"}}}});
    auto tree = send_async("browsingContext.getTree");
    answer(next_command(), {{"contexts", Json::array()}});
    EXPECT_EQ(tree.get()["contexts"], Json::array());
}

TEST_F(BidiSessionTest, ListenersMayPostButNotWaitAndRemovedListenersHearNothing)
{
    std::promise<std::string> waited;
    int heard = 0;
    const auto id = m_session.add_listener([&](const BidiEvent& e) {
        ++heard;
        if (e.method != "browsingContext.userPromptOpened")
            return;
        m_session.post("browsingContext.handleUserPrompt", {{"context", "c"}, {"accept", true}});
        try {
            m_session.send("browsingContext.getTree");
        } catch (const AutomationError& error) {
            waited.set_value(error.description());
        }
    });
    event("browsingContext.userPromptOpened", {{"context", "c"}, {"type", "alert"}});

    EXPECT_EQ(waited.get_future().get(),
              "browsingContext.getTree cannot wait for its answer inside a Firefox event listener");
    EXPECT_EQ(next_command()["method"], "browsingContext.handleUserPrompt");

    m_session.remove_listener(id);
    event("browsingContext.load", {{"context", "c"}});
    auto tree = send_async("browsingContext.getTree");
    answer(next_command(), Json::object());
    tree.get();
    EXPECT_EQ(heard, 1);
}

TEST_F(BidiSessionTest, CarriesLoneSurrogatesBothWaysAndReportsUnreadableAnswers)
{
    auto evaluate = send_async("script.evaluate", {{"expression", page::protocol_text(u"'\xD800'")}});
    const auto sent = m_wire->next_sent(ScriptedWire::Clock::now() + kPatient);
    ASSERT_TRUE(sent);
    EXPECT_NE(sent->find(R"(\ud800)"), std::string::npos) << *sent;
    std::string readable = *sent;
    reserve_lone_surrogates(readable);
    const int64_t id = Json::parse(readable)["id"];
    m_wire->deliver(R"({"type":"success","id":)" + std::to_string(id) +
                    R"(,"result":{"type":"success","result":{"type":"string","value":"\udc01x"}}})");
    EXPECT_EQ(page::page_text(evaluate.get()["result"]["value"].get<std::string>()), BStr(u"\xDC01x"));

    auto broken = send_async("browsingContext.getTree");
    const int64_t broken_id = next_command()["id"];
    m_wire->deliver(R"({"type":"success","id":)" + std::to_string(broken_id) + R"(,"result":{)");
    EXPECT_EQ(error_of([&] { broken.get(); }).description(),
              "Firefox's answer to browsingContext.getTree is not valid JSON");
}

TEST_F(BidiSessionTest, AnErrorWithoutAnIdDisturbsNoCaller)
{
    auto tree = send_async("browsingContext.getTree");
    const Json command = next_command();
    m_wire->deliver(
        R"({"type":"error","id":null,"error":"invalid argument","message":"Expected \"id\" to be a positive integer, got [object Null] null","stacktrace":""})");
    answer(command, {{"contexts", Json::array()}});
    EXPECT_EQ(tree.get()["contexts"], Json::array());
}

}  // namespace
}  // namespace varne::bidi
