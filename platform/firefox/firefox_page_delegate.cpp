#include "platform/firefox/firefox_page_delegate.h"

#include "platform/firefox/bidi_values.h"
#include "platform/firefox/firefox_scripts.h"
#include "platform/transport/base64.h"

#include <array>
#include <cctype>

namespace varne::bidi {

using Json = nlohmann::json;
using namespace std::chrono_literals;

namespace {

// A navigation answers at its commit; the start comes within milliseconds even for a slow server.
constexpr BidiSession::Timeout kNavigateTimeout = 10s;
// How long a probe behind a click or a dialog's answer waits for the page to run on past it.
constexpr BidiSession::Timeout kSettleTimeout = 2s;
// A new window takes seconds on a busy machine (2.6 s measured under a load of 17).
constexpr BidiSession::Timeout kOpenTimeout = 30s;

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
                             "network.beforeRequestSent",
                             "network.responseCompleted",
                             "network.fetchError"};

std::string scheme_of(const std::string& url)
{
    std::string scheme = url.substr(0, url.find(':'));
    for (char& c : scheme)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return scheme;
}

// Firefox begins a navigation to any address, but announces nothing more for one that makes no
// document (an unknown scheme, a script address): such a start is no load.
bool loads_a_document(const std::string& url)
{
    static const std::set<std::string> kSchemes{"http", "https", "file", "about", "data", "blob", "view-source"};
    return kSchemes.contains(scheme_of(url));
}

// The kinds of request that a document's load event waits for, apart from its frames, as a
// request's destination names them.
bool holds_the_load(const std::string& destination)
{
    return destination == "image" || destination == "style" || destination == "script" || destination == "font";
}

// "scheme://host:port" of an address, as a security origin is written.
std::string origin_of(const std::string& url)
{
    const auto scheme_end = url.find("://");
    if (scheme_end == std::string::npos)
        return "null";
    return url.substr(0, url.find('/', scheme_end + 3));
}

// Firefox shows a page of its own for a load that failed, at an about: address that names the
// address asked for and the error.
bool is_error_page(const std::string& url)
{
    return url.starts_with("about:neterror?") || url.starts_with("about:certerror?") ||
           url.starts_with("about:blocked?");
}

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
        const Json subscribed = session().send(
            "session.subscribe", {{"events", kEvents}, {"contexts", Json::array({m_main_frame_id})}}, kOpenTimeout);
        m_subscription = text_of(subscribed, "subscription");
        // The tab's first realm came before anyone listened.
        const Json realms = session().send("script.getRealms", {{"context", m_main_frame_id}, {"type", "window"}});
        for (const Json& realm : realms.value("realms", Json::array())) {
            if (!realm.contains("sandbox"))
                m_state.realm_created(text_of(realm, "realm"), m_main_frame_id);
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
        return result_of(session().send("script.evaluate", {{"expression", expression},
                                                            {"target", {{"realm", realm_id}}},
                                                            {"awaitPromise", false},
                                                            {"resultOwnership", by_value ? "none" : "root"},
                                                            {"serializationOptions", serialization(by_value)}}));
    } catch (const BidiError& error) {
        rethrow_translated(error);
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
                {"target", {{"realm", self.realm}}},
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
        rethrow_translated(error);
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
                                                   {"target", {{"realm", element.realm}}},
                                                   {"awaitPromise", false},
                                                   {"resultOwnership", "none"},
                                                   {"serializationOptions", serialization(false)}});
        result_of(answer);
        const Json window = answer.value("result", Json::object());
        return text_of(window.value("value", Json::object()), "context");
    } catch (const BidiError& error) {
        rethrow_translated(error);
    }
}

void FirefoxPageDelegate::release(const std::string& handle) noexcept
{
    if (m_closed)
        return;
    try {
        const ObjectRef object = object_ref(handle);
        session().post("script.disown", {{"handles", {object.handle}}, {"target", {{"realm", object.realm}}}});
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

void FirefoxPageDelegate::settle_after(const std::string& realm)
{
    try {
        session().send_until(
            "script.evaluate", {{"expression", "0"}, {"target", {{"realm", realm}}}, {"awaitPromise", false}},
            [](const BidiEvent& event) { return event.method == "browsingContext.userPromptOpened"; }, kSettleTimeout);
    } catch (const BidiError&) {
        // The document went away: its navigation has been announced.
    }
}

void FirefoxPageDelegate::on_event(const BidiEvent& event)
{
    const Json& params = event.params;
    const std::string& method = event.method;
    const std::string context = text_of(params, "context");
    if (method == "script.realmDestroyed") {
        m_state.realm_destroyed(text_of(params, "realm"));
        return;
    }
    if (method == "browsingContext.contextCreated") {
        const std::string parent = text_of(params, "parent");
        {
            std::lock_guard lock(m_mutex);
            // Tabs and windows that the page opens are not this page's frames.
            if (parent.empty() || !m_parents.contains(parent))
                return;
            m_parents[context] = parent;
        }
        m_state.frame_attached(context, parent);
        return;
    }
    if (!is_page_event(event))
        return;

    if (method == "browsingContext.contextDestroyed") {
        {
            std::lock_guard lock(m_mutex);
            m_parents.erase(context);
        }
        m_loads.erase(context);
        m_error_pages.erase(context);
        if (context == m_main_frame_id)
            m_state.page_gone("Firefox closed the tab");
        else
            m_state.frame_detached(context);
    } else if (method == "browsingContext.navigationStarted") {
        on_navigation_started(context, params);
    } else if (method == "browsingContext.navigationCommitted") {
        on_navigation_committed(context, params);
    } else if (method == "browsingContext.domContentLoaded") {
        if (context == m_main_frame_id)
            m_state.top_content_loaded();
        // Firefox's own page for a failed load never fires load.
        if (m_error_pages.contains(context))
            end_load(context);
    } else if (method == "browsingContext.load") {
        end_load(context);
    } else if (method == "browsingContext.navigationFailed") {
        const auto load = m_loads.find(context);
        if (load != m_loads.end() && load->second.navigation == text_of(params, "navigation"))
            end_load(context);
    } else if (method == "browsingContext.fragmentNavigated" || method == "browsingContext.historyUpdated") {
        m_state.navigated_within_document(context, text_of(params, "url"));
    } else if (method == "browsingContext.userPromptOpened") {
        {
            std::lock_guard lock(m_mutex);
            m_dialog_context = context;
        }
        m_state.dialog_opening({text_of(params, "type"), text_of(params, "message"), text_of(params, "defaultValue")});
    } else if (method == "browsingContext.userPromptClosed") {
        m_state.dialog_closed(params.value("accepted", false));
    } else if (method == "script.realmCreated") {
        // Sandboxes are the library's own worlds, not the document's.
        if (text_of(params, "type") == "window" && !params.contains("sandbox"))
            m_state.realm_created(text_of(params, "realm"), context);
    } else if (method == "network.beforeRequestSent") {
        const Json request = params.value("request", Json::object());
        if (!params.contains("navigation") || params["navigation"].is_null()) {
            if (holds_the_load(text_of(request, "destination")))
                m_state.resource_requested(context, text_of(request, "request"));
        }
    } else if (method == "network.responseCompleted") {
        m_state.resource_finished(text_of(params.value("request", Json::object()), "request"));
        const auto load = m_loads.find(context);
        const Json response = params.value("response", Json::object());
        const int64_t status = response.value("status", int64_t{0});
        if (load != m_loads.end() && load->second.navigation == text_of(params, "navigation")) {
            m_state.document_answered(context, static_cast<int32_t>(status));
            if (status >= 400) {
                std::string reason = "HTTP " + std::to_string(status);
                if (const std::string text = text_of(response, "statusText"); !text.empty())
                    reason += " " + text;
                m_state.load_failed(text_of(response, "url"), reason);
            }
        }
    } else if (method == "network.fetchError") {
        on_fetch_error(context, params);
    }
}

void FirefoxPageDelegate::on_navigation_started(const std::string& context, const Json& params)
{
    const std::string url = text_of(params, "url");
    if (!loads_a_document(url))
        return;
    m_loads[context] = {text_of(params, "navigation"), url};
    m_state.navigation_started(context);
}

void FirefoxPageDelegate::on_navigation_committed(const std::string& context, const Json& params)
{
    const std::string url = text_of(params, "url");
    std::string parent;
    {
        std::lock_guard lock(m_mutex);
        parent = m_parents[context];
    }
    // A content process that died leaves the tab at a page of Firefox's; a new navigation restores it.
    if (url.starts_with("about:tabcrashed")) {
        m_loads.erase(context);
        if (context == m_main_frame_id)
            m_state.page_crashed();
        return;
    }
    if (!is_error_page(url)) {
        m_error_pages.erase(context);
        m_state.frame_navigated(context, parent, url, origin_of(url));
        return;
    }
    // The frame shows the address asked for, as its location says.
    std::string asked = query_value(url, "u");
    if (asked.empty())
        asked = url;
    m_error_pages.insert(context);
    Load& load = m_loads[context];
    if (!load.failed) {
        load.failed = true;
        m_state.load_failed(asked, query_value(url, "e"));
    }
    m_state.frame_navigated(context, parent, asked, origin_of(asked));
}

void FirefoxPageDelegate::on_fetch_error(const std::string& context, const Json& params)
{
    m_state.resource_finished(text_of(params.value("request", Json::object()), "request"));
    const auto load = m_loads.find(context);
    if (load == m_loads.end() || load->second.navigation != text_of(params, "navigation"))
        return;
    const std::string reason = text_of(params, "errorText");
    const std::string url = text_of(params.value("request", Json::object()), "url");
    // A 204 or a download: the old document stays and Firefox says nothing more of this load
    // until the next one begins.
    if (reason == "NS_BINDING_ABORTED") {
        m_state.load_cancelled(context, url, reason);
        end_load(context);
        return;
    }
    load->second.failed = true;
    m_state.load_failed(url, reason);
}

void FirefoxPageDelegate::end_load(const std::string& context)
{
    m_loads.erase(context);
    m_state.frame_stopped_loading(context);
}

}  // namespace varne::bidi
