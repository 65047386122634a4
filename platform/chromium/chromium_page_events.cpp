#include "platform/chromium/chromium_page_delegate.h"

#include "platform/chromium/protocol_values.h"

namespace varne::cdp {

using nlohmann::json;

namespace {

// The kinds of request that a document's load event waits for, apart from its frames.
bool holds_the_load(const std::string& type)
{
    return type == "Image" || type == "Stylesheet" || type == "Script" || type == "Font";
}

// "scheme://host:port" of an address, as a security origin is written.
std::string origin_of(const std::string& url)
{
    auto scheme_end = url.find("://");
    if (scheme_end == std::string::npos)
        return {};
    return url.substr(0, url.find('/', scheme_end + 3));
}

}  // namespace

void ChromiumPageDelegate::on_event(const ProtocolEvent& event)
{
    const json& params = event.params;
    bool from_frame_session = false;
    if (event.session_id != m_session_id) {
        std::lock_guard lock(m_frame_sessions_mutex);
        from_frame_session = m_frame_sessions.contains(event.session_id);
    }
    if (event.session_id != m_session_id && !from_frame_session) {
        if (event.method == "Target.targetCrashed" && text_of(params, "targetId") == m_target_id)
            m_state.page_crashed();
        if (event.method == "Target.detachedFromTarget" &&
            (text_of(params, "targetId") == m_target_id || text_of(params, "sessionId") == m_session_id))
            m_state.page_gone("the browser's page was detached");
        return;
    }
    // Targets that this page makes are announced on its sessions; other pages of the browser have theirs.
    if (event.method == "Target.attachedToTarget") {
        const std::string child = params.value("sessionId", "");
        // A frame of another site runs in a process of its own, with a session of its own whose
        // frame events belong to this page's frame tree.
        const json target = params.value("targetInfo", json::object());
        if (target.value("type", "") == "iframe") {
            {
                std::lock_guard lock(m_frame_sessions_mutex);
                m_frame_sessions.insert(child);
            }
            // Its document arrived in the other process, before this session could watch it.
            const std::string url = text_of(target, "url");
            m_state.frame_navigated(text_of(target, "targetId"), {}, url, origin_of(url));
        }
        session().post("Page.enable", json::object(), child);
        if (target.value("type", "") == "iframe")
            session().post("Network.enable", json::object(), child);
        session().post("Runtime.runIfWaitingForDebugger", json::object(), child);
        return;
    }
    const std::string& method = event.method;
    if (method.starts_with("Network.")) {
        on_network_event(event);
    } else if (method == "Page.frameAttached") {
        m_state.frame_attached(text_of(params, "frameId"), text_of(params, "parentFrameId"));
    } else if (method == "Page.frameDetached") {
        // A frame that moves to a process of its own is detached here with the reason "swap"; it stays in the page.
        if (text_of(params, "reason") != "swap")
            m_state.frame_detached(text_of(params, "frameId"));
    } else if (method == "Page.frameNavigated") {
        const json frame = params.value("frame", json::object());
        std::string url = text_of(frame, "unreachableUrl");
        if (url.empty())
            url = text_of(frame, "url") + text_of(frame, "urlFragment");
        m_state.frame_navigated(text_of(frame, "id"), text_of(frame, "parentId"), url,
                                text_of(frame, "securityOrigin"));
    } else if (method == "Page.navigatedWithinDocument") {
        m_state.navigated_within_document(text_of(params, "frameId"), text_of(params, "url"));
    } else if (method == "Page.frameStartedNavigating") {
        m_state.navigation_started(text_of(params, "frameId"));
    } else if (method == "Page.frameStartedLoading") {
        m_state.frame_started_loading(text_of(params, "frameId"));
    } else if (method == "Page.frameStoppedLoading") {
        on_frame_stopped_loading(text_of(params, "frameId"));
    } else if (method == "Page.frameRequestedNavigation") {
        if (text_of(params, "disposition") == "currentTab")
            m_state.navigation_requested(text_of(params, "frameId"));
    } else if (from_frame_session) {
        return;  // the contexts and dialogs of a frame session are not this page's
    } else if (method == "Page.domContentEventFired") {
        m_state.top_content_loaded();
    } else if (method == "Runtime.executionContextCreated") {
        const json context = params.value("context", json::object());
        const json aux = context.value("auxData", json::object());
        if (aux.value("isDefault", false) && context.contains("id") && context["id"].is_number_integer())
            m_state.realm_created(std::to_string(context["id"].get<int64_t>()), text_of(aux, "frameId"));
    } else if (method == "Runtime.executionContextDestroyed") {
        if (params.contains("executionContextId") && params["executionContextId"].is_number_integer())
            m_state.realm_destroyed(std::to_string(params["executionContextId"].get<int64_t>()));
    } else if (method == "Runtime.executionContextsCleared") {
        m_state.realms_cleared();
    } else if (method == "Page.javascriptDialogOpening") {
        m_state.dialog_opening({text_of(params, "type"), text_of(params, "message"), text_of(params, "defaultPrompt")});
    } else if (method == "Page.javascriptDialogClosed") {
        m_state.dialog_closed(params.value("result", false));
    } else if (method == "Inspector.targetCrashed") {
        m_state.page_crashed();
    }
}

void ChromiumPageDelegate::on_network_event(const ProtocolEvent& event)
{
    const json& params = event.params;
    const std::string request_id = text_of(params, "requestId");
    if (event.method == "Network.loadingFinished" || event.method == "Network.loadingFailed")
        m_state.resource_finished(request_id);
    if (event.method == "Network.requestWillBeSent") {
        if (holds_the_load(text_of(params, "type")))
            m_state.resource_requested(text_of(params, "frameId"), request_id);
        if (text_of(params, "type") != "Document")
            return;
        // A redirection comes as the same request again, to its new address.
        DocumentRequest& request = m_documents[request_id];
        request.frame_id = text_of(params, "frameId");
        request.url = params.contains("request") ? text_of(params["request"], "url") : std::string();
        std::string& last = m_last_document[request.frame_id];
        if (auto replaced = m_documents.find(last);
            last != request_id && replaced != m_documents.end() && !replaced->second.aborted.empty())
            m_documents.erase(replaced);
        last = request_id;
        return;
    }
    auto found = m_documents.find(request_id);
    if (found == m_documents.end())
        return;
    DocumentRequest& request = found->second;
    if (event.method == "Network.responseReceived") {
        request.answered = true;
        const json response = params.value("response", json::object());
        const int64_t status = response.value("status", int64_t{0});
        m_state.document_answered(request.frame_id, static_cast<int32_t>(status));
        if (status >= 400) {
            std::string reason = "HTTP " + std::to_string(status);
            if (const std::string text = text_of(response, "statusText"); !text.empty())
                reason += " " + text;
            m_state.load_failed(request.url, reason);
        }
    } else if (event.method == "Network.loadingFinished") {
        m_documents.erase(found);
    } else if (event.method == "Network.loadingFailed") {
        const std::string reason = text_of(params, "errorText");
        if (!params.value("canceled", false)) {
            m_state.load_failed(request.url, reason);
            m_documents.erase(found);
        } else if (!request.answered) {
            // Cancelled: a newer navigation took its place, or the browser would not load it.
            // Which one, the frame's end of loading tells.
            request.aborted = reason;
        } else {
            m_documents.erase(found);
        }
    }
}

void ChromiumPageDelegate::on_frame_stopped_loading(const std::string& frame_id)
{
    // A load that was cancelled before any answer and that no newer request replaced leaves
    // the old document: the browser refused the address (a scheme it cannot load, for one), or
    // a navigation asked for next replaces it still. It is told before the frame counts as
    // loaded, so that a wait that ends sees it.
    auto last = m_last_document.find(frame_id);
    if (last != m_last_document.end()) {
        auto request = m_documents.find(last->second);
        // A newer document of the frame is still on its way (a click that started two
        // navigations, the second replacing the first): the load that stopped is the one
        // replaced, and the frame loads on until the newer one stops.
        if (request != m_documents.end() && request->second.aborted.empty())
            return;
        if (request != m_documents.end() && !request->second.aborted.empty()) {
            m_state.load_cancelled(frame_id, request->second.url, request->second.aborted);
            m_documents.erase(request);
        }
        m_last_document.erase(last);
    }
    m_state.frame_stopped_loading(frame_id);
}

}  // namespace varne::cdp
