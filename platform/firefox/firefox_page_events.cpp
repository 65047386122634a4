#include "platform/firefox/firefox_page_delegate.h"

#include "platform/firefox/bidi_values.h"
#include "platform/firefox/firefox_scripts.h"

#include <utility>

namespace varne::bidi {

using Json = nlohmann::json;

namespace {

// The channel over which a top document says that its own images and fonts have come.
constexpr const char* kOwnLoadChannel = "varne.ownLoad";

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

}  // namespace

void FirefoxPageDelegate::on_event(const BidiEvent& event)
{
    const Json& params = event.params;
    const std::string& method = event.method;
    const std::string context = text_of(params, "context");
    if (method == "script.realmDestroyed") {
        const std::string realm = text_of(params, "realm");
        {
            std::lock_guard lock(m_mutex);
            m_realm_frames.erase(realm);
        }
        m_state.realm_destroyed(realm);
        return;
    }
    if (method == "script.message") {
        on_own_load(params);
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
            std::erase_if(m_realm_frames, [&](const auto& entry) { return entry.second == context; });
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
        if (!of_current_load(context, params))
            return;
        // Firefox's own page for a failed load never fires load.
        if (m_error_pages.contains(context)) {
            if (context == m_main_frame_id)
                m_state.top_content_loaded();
            end_load(context);
        } else if (context == m_main_frame_id) {
            watch_own_load(text_of(params, "navigation"));
        }
    } else if (method == "browsingContext.load") {
        if (of_current_load(context, params))
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
            document_realm_created(text_of(params, "realm"), context);
    } else if (method == "network.beforeRequestSent") {
        const Json request = params.value("request", Json::object());
        if (!params.contains("navigation") || params["navigation"].is_null()) {
            if (holds_the_load(text_of(request, "destination")))
                m_state.resource_requested(context, text_of(request, "request"));
        }
    } else if (method == "network.responseStarted") {
        const auto load = m_loads.find(context);
        if (load != m_loads.end() && load->second.navigation == text_of(params, "navigation"))
            load->second.answered = true;
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
    // The navigation that a "leave this page?" dialog holds comes without its address.
    if (!url.empty() && !loads_a_document(url))
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
        if (context != m_main_frame_id)
            return;
        std::lock_guard lock(m_mutex);
        // Told already, by a call that failed: a navigation since may have restored the page.
        if (!std::exchange(m_crash_told, false))
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
    if (reason == "NS_BINDING_ABORTED") {
        // Before its answer, another navigation cut it short; its navigationFailed ends it.
        if (!load->second.answered) {
            m_state.navigation_cut_short(context, true);
            return;
        }
        // A 204 or a download: the old document stays and Firefox says nothing more of this
        // load until the next one begins.
        m_state.load_cancelled(context, url, reason);
        end_load(context);
        return;
    }
    load->second.failed = true;
    m_state.load_failed(url, reason);
}

bool FirefoxPageDelegate::of_current_load(const std::string& context, const Json& params) const
{
    // The load event of a document that a later navigation replaces can come after that
    // navigation began, the first empty document's above all.
    const auto load = m_loads.find(context);
    return load == m_loads.end() || load->second.navigation == text_of(params, "navigation");
}

void FirefoxPageDelegate::watch_own_load(const std::string& navigation)
{
    session().post("script.callFunction",
                   {{"functionDeclaration", std::string(scripts::kOwnLoad)},
                    {"arguments", Json::array({{{"type", "channel"}, {"value", {{"channel", kOwnLoadChannel}}}},
                                               {{"type", "string"}, {"value", navigation}}})},
                    {"target", {{"context", m_main_frame_id}}},
                    {"awaitPromise", false},
                    {"resultOwnership", "none"}});
}

void FirefoxPageDelegate::on_own_load(const Json& params)
{
    if (text_of(params, "channel") != kOwnLoadChannel)
        return;
    const Json source = params.value("source", Json::object());
    const Json data = params.value("data", Json::object());
    const auto load = m_loads.find(m_main_frame_id);
    if (text_of(source, "context") == m_main_frame_id && load != m_loads.end() &&
        load->second.navigation == text_of(data, "value"))
        m_state.top_content_loaded();
}

void FirefoxPageDelegate::end_load(const std::string& context)
{
    m_loads.erase(context);
    m_state.frame_stopped_loading(context);
}

}  // namespace varne::bidi
