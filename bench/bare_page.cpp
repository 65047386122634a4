#include "bench/bare_page.h"

#include "composition/process_environment.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <stdexcept>

namespace varne::bench {

using nlohmann::json;
using namespace std::chrono_literals;

namespace {

constexpr auto kEventTimeout = 10s;

}  // namespace

// Counts the events of one target session by method, so that bare runs can wait for the next one.
class EventCounter {
public:
    EventCounter(ProtocolSession& session, std::string session_id)
        : m_session(session),
          m_session_id(std::move(session_id)),
          m_listener(m_session.add_listener([this](const ProtocolEvent& event) { count(event); }))
    {
    }
    ~EventCounter() { m_session.remove_listener(m_listener); }

    EventCounter(const EventCounter&) = delete;
    EventCounter& operator=(const EventCounter&) = delete;

    int64_t seen(const std::string& method)
    {
        std::lock_guard lock(m_mutex);
        return m_counts[method];
    }

    // Ends once more than `before` events of `method` have come; throws after kEventTimeout.
    void wait_beyond(const std::string& method, int64_t before)
    {
        std::unique_lock lock(m_mutex);
        if (!m_arrived.wait_for(lock, kEventTimeout, [&] { return m_counts[method] > before; }))
            throw std::runtime_error("no " + method + " within " + std::to_string(kEventTimeout.count()) + " s");
    }

private:
    void count(const ProtocolEvent& event)
    {
        if (event.session_id != m_session_id)
            return;
        {
            std::lock_guard lock(m_mutex);
            ++m_counts[event.method];
        }
        m_arrived.notify_all();
    }

    ProtocolSession& m_session;
    std::string m_session_id;
    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::map<std::string, int64_t> m_counts;
    ProtocolSession::ListenerId m_listener;
};

BarePage::BarePage() : m_process(ChromiumProcess::launch(process_environment))
{
    const std::string target =
        session().send("Target.createTarget", {{"url", "about:blank"}})["targetId"].get<std::string>();
    m_session_id = session().attach_to_target(target);
    evaluate("1");
}

BarePage::~BarePage() = default;

json BarePage::evaluate(const std::string& expression, bool by_value)
{
    return session().send("Runtime.evaluate", {{"expression", expression}, {"returnByValue", by_value}}, m_session_id);
}

void BarePage::watch_page()
{
    m_events = std::make_unique<EventCounter>(session(), m_session_id);
    session().send("Page.enable", json::object(), m_session_id);
}

void BarePage::navigate(const std::string& url)
{
    const int64_t before = m_events->seen("Page.loadEventFired");
    session().send("Page.navigate", {{"url", url}}, m_session_id);
    m_events->wait_beyond("Page.loadEventFired", before);
}

void BarePage::click_and_load()
{
    const int64_t before = m_events->seen("Page.loadEventFired");
    evaluate("document.links[0].click()");
    m_events->wait_beyond("Page.loadEventFired", before);
}

void BarePage::open_dialog()
{
    const int64_t before = m_events->seen("Page.javascriptDialogOpening");
    session().post("Runtime.evaluate", {{"expression", "document.links[0].click()"}}, m_session_id);
    m_events->wait_beyond("Page.javascriptDialogOpening", before);
}

json BarePage::call_function(const std::string& object_id, const std::string& declaration)
{
    return session().send("Runtime.callFunctionOn",
                          {{"objectId", object_id}, {"functionDeclaration", declaration}, {"returnByValue", true}},
                          m_session_id);
}

void BarePage::accept_dialog()
{
    session().send("Page.handleJavaScriptDialog", {{"accept", true}}, m_session_id);
}

}  // namespace varne::bench
