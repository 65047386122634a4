#include "platform/chromium/chromium_page_delegate.h"

#include <charconv>
#include <utility>

#include "frame/automation_error.h"
#include "platform/chromium/protocol_values.h"
#include "platform/transport/base64.h"

namespace varne::cdp {

using nlohmann::json;

namespace {

// How long answering a dialog waits for the page to run on past it.
constexpr std::chrono::milliseconds kSettleTimeout{2000};
// A live blank page answers within milliseconds; one whose renderer is gone never does.
constexpr std::chrono::milliseconds kAdoptedPageCheck{2000};

// What the page model watches in a page that tells nothing of a blank page itself, so that a page
// opened ahead can have it on before anyone watches: its contexts are told when the runtime is
// turned on, which is left to the page's delegate.
std::vector<BatchedCommand> blank_page_watches()
{
    return {{"Page.enable"},
            // Only the network tells why a document did not load.
            {"Network.enable"},
            // Nested targets (out-of-process frames, popups) wait until their events are watched, and
            // must then be told to run, or the page that made them waits with them.
            {"Target.setAutoAttach", {{"autoAttach", true}, {"waitForDebuggerOnStart", true}, {"flatten", true}}}};
}

// A field of an answer that this code cannot go on without; an answer that lacks it is the
// browser's failure of that command, not a reason to fail in some other way.
const json& required(const json& answer, const char* key, json::value_t type, std::string_view method)
{
    auto found = answer.find(key);
    if (found == answer.end() || found->type() != type)
        throw ProtocolError(ProtocolError::Kind::kBrowserError, error_number::kUnspecified,
                            "Chromium answered " + std::string(method) + " without its " + key + ": " +
                                answer.dump(-1, ' ', false, json::error_handler_t::replace));
    return *found;
}

}  // namespace

ChromiumPageDelegate::ChromiumPageDelegate(std::unique_ptr<BrowserHost> host, page::PageState& state)
    : m_host(std::move(host)), m_state(state)
{
    try {
        prepare_page();
    } catch (const ProtocolError& error) {
        // The listener refers to this object, which is never made; the page goes with it.
        close();
        if (error.kind() == ProtocolError::Kind::kTimedOut)
            throw AutomationError(error_number::kStartTimedOut, "The browser did not start: " + error.description());
        throw;
    } catch (...) {
        close();
        throw;
    }
}

std::string ChromiumPageDelegate::attach_ahead(ProtocolSession& session, const std::string& target_id)
{
    std::string session_id = session.attach_to_target(target_id);
    session.send_all(blank_page_watches(), session_id);
    return session_id;
}

bool ChromiumPageDelegate::take_page_opened_ahead(const BrowserHost::OpenedPage& ahead)
{
    m_target_id = ahead.target_id;
    m_session_id = ahead.session_id;
    m_listener = session().add_listener([this](const ProtocolEvent& event) { on_event(event); });
    try {
        // Its answer also tells that the page still has its renderer: one that is gone never answers.
        session().send("Runtime.enable", json::object(), m_session_id, kAdoptedPageCheck);
        return true;
    } catch (const ProtocolError& error) {
        if (error.kind() == ProtocolError::Kind::kDisconnected)
            throw;
    }
    session().remove_listener(std::exchange(m_listener, 0));
    session().post("Target.closeTarget", {{"targetId", m_target_id}});
    return false;
}

void ChromiumPageDelegate::prepare_page()
{
    ProtocolSession& session = m_host->session();
    // A page opened ahead may have lost its renderer since; a fresh one takes its place.
    if (const auto ahead = m_host->opened_page(); ahead.target_id.empty() || !take_page_opened_ahead(ahead)) {
        json target{{"url", "about:blank"}};
        if (const std::string context = m_host->browser_context(); !context.empty())
            target["browserContextId"] = context;
        const json created = session.send("Target.createTarget", target);
        m_target_id = required(created, "targetId", json::value_t::string, "Target.createTarget").get<std::string>();
        m_session_id = session.attach_to_target(m_target_id);
        m_listener = session.add_listener([this](const ProtocolEvent& event) { on_event(event); });
        auto watches = blank_page_watches();
        watches.push_back({"Runtime.enable"});
        session.send_all(watches, m_session_id);
    }
    m_main_frame_id = m_target_id;  // a page's main frame has the target's id
}

ChromiumPageDelegate::~ChromiumPageDelegate()
{
    close();
}

page::NavigationStart ChromiumPageDelegate::navigate(const std::string& frame_id, const std::string& url)
{
    json params{{"url", url}};
    if (frame_id != m_main_frame_id)
        params["frameId"] = frame_id;
    const std::string session_id = m_session_id;
    // A failure after the load started needs no word here: its own events end the load.
    CommandOutcome outcome;
    try {
        outcome = session().send_until("Page.navigate", params, m_session_id, [&](const ProtocolEvent& event) {
            return event.session_id == session_id &&
                   ((event.method == "Page.frameStartedLoading" && text_of(event.params, "frameId") == frame_id) ||
                    event.method == "Page.javascriptDialogOpening");
        });
    } catch (const ProtocolError& error) {
        if (error.kind() != ProtocolError::Kind::kBrowserError)
            throw;
        return {page::NavigationStart::Outcome::kRefused, error.message()};
    }
    if (!outcome.event) {
        if (const std::string refused = text_of(*outcome.result, "errorText"); !refused.empty())
            return {page::NavigationStart::Outcome::kRefused, refused};
        return {page::NavigationStart::Outcome::kNoLoad, {}};
    }
    return {};
}

page::RemoteValue ChromiumPageDelegate::evaluate(const std::string& realm_id, const std::string& expression,
                                                 bool by_value)
{
    int64_t context_id = 0;
    std::from_chars(realm_id.data(), realm_id.data() + realm_id.size(), context_id);
    try {
        return result_of(session().send("Runtime.evaluate",
                                        {{"expression", expression},
                                         {"contextId", context_id},
                                         {"returnByValue", by_value},
                                         {"awaitPromise", false}},
                                        m_session_id));
    } catch (const ProtocolError& error) {
        rethrow_translated(error);
    }
}

std::optional<page::RemoteValue> ChromiumPageDelegate::call_function(const std::string& handle,
                                                                     const std::string& declaration,
                                                                     const std::vector<page::CallArgument>& arguments,
                                                                     bool by_value, bool user_gesture)
{
    json args = json::array();
    for (const auto& argument : arguments)
        args.push_back(call_argument(argument));
    json params{{"objectId", handle},
                {"functionDeclaration", declaration},
                {"arguments", std::move(args)},
                {"returnByValue", by_value},
                {"userGesture", user_gesture}};
    try {
        const std::string session_id = m_session_id;
        auto outcome = session().send_until(
            "Runtime.callFunctionOn", std::move(params), m_session_id, [&](const ProtocolEvent& event) {
                return event.session_id == session_id && event.method == "Page.javascriptDialogOpening";
            });
        if (!outcome.result)
            return std::nullopt;
        return result_of(*outcome.result);
    } catch (const ProtocolError& error) {
        rethrow_translated(error);
    }
}

std::string ChromiumPageDelegate::frame_of(const std::string& element_handle)
{
    try {
        const json answer = session().send("DOM.describeNode", {{"objectId", element_handle}}, m_session_id);
        return text_of(required(answer, "node", json::value_t::object, "DOM.describeNode"), "frameId");
    } catch (const ProtocolError& error) {
        rethrow_translated(error);
    }
}

bool ChromiumPageDelegate::answer_dialog(bool accept, const std::string& prompt_text)
{
    json params{{"accept", accept}};
    if (accept)
        params["promptText"] = prompt_text;
    try {
        session().send("Page.handleJavaScriptDialog", params, m_session_id);
    } catch (const ProtocolError& error) {
        if (error.kind() == ProtocolError::Kind::kBrowserError)
            return false;  // no dialog was showing any more
        throw;
    }
    // The page answers in order: the script that opened the dialog finishes first, and with it
    // any navigation that it asks for is announced. A probe behind it makes that visible before
    // this returns, so that a wait that follows sees the navigation.
    const std::string session_id = m_session_id;
    try {
        session().send_until(
            "Runtime.evaluate", {{"expression", "0"}}, m_session_id,
            [&](const ProtocolEvent& event) {
                return event.session_id == session_id && event.method == "Page.javascriptDialogOpening";
            },
            kSettleTimeout);
    } catch (const ProtocolError&) {
        // A page that moves on to another document, or stays busy, has nothing more to show here.
    }
    return true;
}

void ChromiumPageDelegate::bring_to_front()
{
    session().send("Page.bringToFront", json::object(), m_session_id);
}

std::string ChromiumPageDelegate::screenshot()
{
    try {
        json answer = session().send("Page.captureScreenshot", {{"format", "png"}}, m_session_id);
        return decode_base64(answer.value("data", std::string()));
    } catch (const ProtocolError& error) {
        rethrow_translated(error);
    }
}

void ChromiumPageDelegate::release(const std::string& handle) noexcept
{
    if (m_closed)
        return;
    try {
        session().post("Runtime.releaseObject", {{"objectId", handle}}, m_session_id);
    } catch (...) {
        // A handle left in a page that goes away costs nothing.
    }
}

std::optional<std::string> ChromiumPageDelegate::connection_lost() const
{
    if (m_closed)
        return "it was closed";
    if (session().closed())
        return session().close_reason();
    return std::nullopt;
}

void ChromiumPageDelegate::close() noexcept
{
    if (m_closed)
        return;
    m_closed = true;
    session().remove_listener(m_listener);
    m_host->close();
}

void ChromiumPageDelegate::leave_open() noexcept
{
    if (m_closed)
        return;
    m_closed = true;
    session().remove_listener(m_listener);
    // The browser stops sending the page's events over a connection that other pages may share.
    session().post("Target.detachFromTarget", {{"sessionId", m_session_id}});
    m_host->leave_open();
}

}  // namespace varne::cdp
