#include "platform/firefox/firefox_page_delegate.h"

#include "platform/firefox/bidi_values.h"
#include "platform/firefox/firefox_scripts.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/base64.h"

#include <array>

namespace varne::bidi {

using Json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

// A navigation answers at its commit; its start comes within milliseconds even for a slow server,
// unless the machine is busy.
constexpr BidiSession::Timeout kNavigateTimeout = session_bounds::kCommand;
// How long a probe behind a click or a dialog's answer waits for the page to run on past it.
constexpr BidiSession::Timeout kSettleTimeout = 2s;
// A new window takes seconds on a busy machine (2.6 s measured under a load of 17).
constexpr BidiSession::Timeout kOpenTimeout = session_bounds::kCommand;

constexpr std::array kEvents{"browsingContext.contextCreated",
                             "browsingContext.contextDestroyed",
                             "browsingContext.navigationStarted",
                             "browsingContext.navigationCommitted",
                             "browsingContext.navigationFailed",
                             "browsingContext.domContentLoaded",
                             "browsingContext.load",
                             "browsingContext.fragmentNavigated",
                             "browsingContext.historyUpdated",
                             "browsingContext.userPromptOpened",
                             "browsingContext.userPromptClosed",
                             "script.realmCreated",
                             "script.realmDestroyed",
                             "script.message",
                             "network.beforeRequestSent",
                             "network.responseStarted",
                             "network.responseCompleted",
                             "network.fetchError"};

[[noreturn]] void throw_task_error(const BidiError& error)
{
    throw page::TaskError(error.number(), error.description(), error.kind() != BidiError::Kind::kBrowserError);
}

Json serialization(bool by_value)
{
    // Objects are held by handle, so their contents need not travel; strings in a list do.
    return {{"maxObjectDepth", by_value ? 1 : 0}, {"maxDomDepth", 0}};
}

}  // namespace

std::string subscribe_to_page_events(BidiSession& session, const std::string& tab)
{
    const Json subscribed =
        session.send("session.subscribe", {{"events", kEvents}, {"contexts", Json::array({tab})}}, kOpenTimeout);
    return text_of(subscribed, "subscription");
}

FirefoxPageDelegate::FirefoxPageDelegate(std::unique_ptr<FirefoxHost> host, page::PageState& state)
    : m_host(std::move(host)), m_state(state)
{
    try {
        if (auto tab = m_host->own_tab()) {
            m_main_frame_id = std::move(*tab);
        } else {
            Json window{{"type", "window"}};
            if (const std::string user_context = m_host->user_context(); !user_context.empty())
                window["userContext"] = user_context;
            m_main_frame_id = text_of(session().send("browsingContext.create", window, kOpenTimeout), "context");
            if (m_main_frame_id.empty())
                throw page::TaskError(error_number::kServerUnavailable, "Firefox opened no window to show a page in",
                                      false);
        }
        m_parents[m_main_frame_id] = "";
        m_listener = session().add_listener([this](const BidiEvent& event) { on_event(event); });
        m_subscription = m_host->own_tab_subscription();
        if (m_subscription.empty())
            m_subscription = subscribe_to_page_events(session(), m_main_frame_id);
        // The tab's first realm came before anyone listened.
        const Json realms = session().send("script.getRealms", {{"context", m_main_frame_id}, {"type", "window"}});
        for (const Json& realm : realms.value("realms", Json::array())) {
            if (!realm.contains("sandbox"))
                document_realm_created(text_of(realm, "realm"), m_main_frame_id);
        }
    } catch (const BidiError& error) {
        session().remove_listener(m_listener);
        if (error.kind() == BidiError::Kind::kTimedOut)
            throw AutomationError(error_number::kStartTimedOut, "The browser did not start: " + error.description());
        throw;
    } catch (...) {
        // The listener refers to this object, which is never made.
        session().remove_listener(m_listener);
        throw;
    }
}

FirefoxPageDelegate::~FirefoxPageDelegate()
{
    close();
}

page::NavigationStart FirefoxPageDelegate::navigate(const std::string& frame_id, const std::string& url)
{
    const Json params{{"context", frame_id}, {"url", url}, {"wait", "none"}};
    // Firefox never answers a script address that makes no new document; the script runs all the same.
    if (scheme_of(url) == "javascript") {
        if (!session().post("browsingContext.navigate", params))
            throw page::TaskError(error_number::kServerUnavailable,
                                  "Cannot send browsingContext.navigate: the connection to Firefox is closed", true);
        return {page::NavigationStart::Outcome::kNoLoad, {}};
    }
    BidiOutcome outcome;
    try {
        outcome = session().send_until(
            "browsingContext.navigate", params,
            [&](const BidiEvent& event) {
                // A "leave this page?" dialog holds the navigation until it is answered.
                return (event.method == "browsingContext.navigationStarted" &&
                        text_of(event.params, "context") == frame_id) ||
                       event.method == "browsingContext.userPromptOpened";
            },
            kNavigateTimeout);
    } catch (const BidiError& error) {
        if (error.kind() != BidiError::Kind::kBrowserError)
            throw_task_error(error);
        // Firefox lets a navigation that the page begins cancel one that the script asked for.
        if (error.message().find("NS_BINDING_ABORTED") != std::string::npos ||
            error.message().find("interrupted") != std::string::npos)
            return {page::NavigationStart::Outcome::kCutShort, {}};
        return {page::NavigationStart::Outcome::kRefused, error.message()};
    }
    // An answer before any start: a move within the document.
    if (!outcome.event)
        return {page::NavigationStart::Outcome::kNoLoad, {}};
    return {};
}

page::RemoteValue FirefoxPageDelegate::evaluate(const std::string& realm_id, const std::string& expression,
                                                bool by_value)
{
    try {
        const Json target = script_target(realm_id);
        const Json answer = session().send("script.evaluate", {{"expression", expression},
                                                               {"target", target},
                                                               {"awaitPromise", false},
                                                               {"resultOwnership", by_value ? "none" : "root"},
                                                               {"serializationOptions", serialization(by_value)}});
        if (text_of(answer, "realm") != realm_id) {
            if (const std::string held = text_of(answer.value("result", Json::object()), "handle"); !held.empty())
                session().post("script.disown", {{"handles", {held}}, {"target", target}});
            throw_stale_object();
        }
        return result_of(answer);
    } catch (const BidiError& error) {
        rethrow(error);
    }
}

std::optional<page::RemoteValue> FirefoxPageDelegate::call_function(const std::string& handle,
                                                                    const std::string& declaration,
                                                                    const std::vector<page::CallArgument>& arguments,
                                                                    bool by_value, bool user_gesture)
{
    const ObjectRef self = object_ref(handle);
    Json args = Json::array();
    for (const auto& argument : arguments)
        args.push_back(local_value(argument, self.realm));
    Json params{{"functionDeclaration", declaration},
                {"this", {{"handle", self.handle}}},
                {"arguments", std::move(args)},
                {"target", script_target(self.realm)},
                {"awaitPromise", false},
                {"resultOwnership", by_value ? "none" : "root"},
                {"serializationOptions", serialization(by_value)},
                {"userActivation", user_gesture}};
    std::optional<page::RemoteValue> value;
    try {
        // The call that opens a dialog answers only once the dialog is closed.
        const BidiOutcome outcome =
            session().send_until("script.callFunction", std::move(params), [this](const BidiEvent& event) {
                return event.method == "browsingContext.userPromptOpened" && is_page_event(event);
            });
        if (!outcome.result)
            return std::nullopt;
        value = result_of(*outcome.result);
    } catch (const BidiError& error) {
        rethrow(error);
    }
    // A link's click() or a form's submit() announces its navigation only after the call's
    // answer, but before the answer of the next command.
    if (user_gesture)
        settle_after(self.realm);
    return value;
}

std::string FirefoxPageDelegate::frame_of(const std::string& element_handle)
{
    const ObjectRef element = object_ref(element_handle);
    try {
        const Json answer =
            session().send("script.callFunction", {{"functionDeclaration", std::string(scripts::kContentWindow)},
                                                   {"this", {{"handle", element.handle}}},
                                                   {"target", script_target(element.realm)},
                                                   {"awaitPromise", false},
                                                   {"resultOwnership", "none"},
                                                   {"serializationOptions", serialization(false)}});
        result_of(answer);
        const Json window = answer.value("result", Json::object());
        return text_of(window.value("value", Json::object()), "context");
    } catch (const BidiError& error) {
        rethrow(error);
    }
}

void FirefoxPageDelegate::release(const std::string& handle) noexcept
{
    if (m_closed)
        return;
    try {
        const ObjectRef object = object_ref(handle);
        session().post("script.disown", {{"handles", {object.handle}}, {"target", script_target(object.realm)}});
    } catch (...) {
        // A handle left in a page that goes away costs nothing.
    }
}

bool FirefoxPageDelegate::answer_dialog(bool accept, const std::string& prompt_text)
{
    std::string context = dialog_context();
    if (context.empty())
        context = m_main_frame_id;
    Json params{{"context", context}, {"accept", accept}};
    const auto dialog = m_state.dialog();
    if (accept && dialog && dialog->type == "prompt")
        params["userText"] = prompt_text;
    try {
        session().send("browsingContext.handleUserPrompt", params);
    } catch (const BidiError& error) {
        if (error.kind() == BidiError::Kind::kBrowserError)
            return false;  // no dialog was showing any more
        throw_task_error(error);
    }
    // The script that opened the dialog runs on first, and with it any navigation it asks for.
    try {
        session().send_until(
            "script.evaluate", {{"expression", "0"}, {"target", {{"context", context}}}, {"awaitPromise", false}},
            [](const BidiEvent& event) { return event.method == "browsingContext.userPromptOpened"; }, kSettleTimeout);
    } catch (const BidiError&) {
        // A page that moves on to another document, or stays busy, has nothing more to show here.
    }
    return true;
}

void FirefoxPageDelegate::bring_to_front()
{
    try {
        session().send("browsingContext.activate", {{"context", m_main_frame_id}});
    } catch (const BidiError& error) {
        throw_task_error(error);
    }
}

std::string FirefoxPageDelegate::screenshot()
{
    try {
        const Json answer = session().send("browsingContext.captureScreenshot", {{"context", m_main_frame_id}});
        return decode_base64(text_of(answer, "data"));
    } catch (const BidiError& error) {
        throw_task_error(error);
    }
}

std::optional<std::string> FirefoxPageDelegate::connection_lost() const
{
    if (m_closed)
        return "it was closed";
    if (session().closed())
        return session().close_reason();
    return std::nullopt;
}

void FirefoxPageDelegate::close() noexcept
{
    if (m_closed)
        return;
    m_closed = true;
    session().remove_listener(m_listener);
    m_host->close();
}

void FirefoxPageDelegate::leave_open() noexcept
{
    if (m_closed)
        return;
    m_closed = true;
    session().remove_listener(m_listener);
    // Firefox stops sending the tab's events over a connection that other pages may share.
    if (!m_subscription.empty())
        session().post("session.unsubscribe", {{"subscriptions", Json::array({m_subscription})}});
    m_host->leave_open();
}

bool FirefoxPageDelegate::is_page_event(const BidiEvent& event) const
{
    std::lock_guard lock(m_mutex);
    return m_parents.contains(text_of(event.params, "context"));
}

std::string FirefoxPageDelegate::dialog_context() const
{
    std::lock_guard lock(m_mutex);
    return m_dialog_context;
}

bool FirefoxPageDelegate::tab_crashed()
{
    if (m_state.crashed())
        return true;
    try {
        session().send("script.evaluate",
                       {{"expression", "0"}, {"target", {{"context", m_main_frame_id}}}, {"awaitPromise", false}});
    } catch (const BidiError& error) {
        // The tab shows Firefox's own page for a crash, in the parent process, as soon as its
        // content process is gone; the commit of that page is told later.
        if (error.kind() == BidiError::Kind::kBrowserError && error.error() == "unsupported operation" &&
            error.message().find("parent process") != std::string::npos) {
            std::lock_guard lock(m_mutex);
            if (!m_state.crashed()) {
                m_crash_told = true;
                m_state.page_crashed();
            }
            return true;
        }
    }
    return false;
}

void FirefoxPageDelegate::rethrow(const BidiError& error)
{
    // A call into a document of a tab whose content process died fails as one into a document
    // that has gone: the page crashed, which every later call tells.
    if (error.kind() == BidiError::Kind::kBrowserError &&
        (error.error() == "no such frame" || error.error() == "unsupported operation") && tab_crashed())
        throw page::TaskError(error_number::kObjectDisconnected, "Firefox's tab crashed", true);
    rethrow_translated(error);
}

Json FirefoxPageDelegate::script_target(const std::string& realm) const
{
    std::lock_guard lock(m_mutex);
    const auto frame = m_realm_frames.find(realm);
    if (frame == m_realm_frames.end())
        return {{"realm", realm}};
    return {{"context", frame->second}};
}

void FirefoxPageDelegate::document_realm_created(const std::string& realm, const std::string& context)
{
    {
        std::lock_guard lock(m_mutex);
        m_realm_frames[realm] = context;
    }
    m_state.realm_created(realm, context);
}

void FirefoxPageDelegate::settle_after(const std::string& realm)
{
    try {
        session().send_until(
            "script.evaluate", {{"expression", "0"}, {"target", script_target(realm)}, {"awaitPromise", false}},
            [](const BidiEvent& event) { return event.method == "browsingContext.userPromptOpened"; }, kSettleTimeout);
    } catch (const BidiError&) {
        // The document went away: its navigation has been announced.
    }
}

}  // namespace varne::bidi
