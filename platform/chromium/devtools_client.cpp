#include "platform/chromium/devtools_client.h"

#include <charconv>

#include "frame/automation_error.h"
#include "platform/chromium/page_text.h"

namespace varne::cdp {

using nlohmann::json;

namespace {

// How long answering a dialog waits for the page to run on past it.
constexpr std::chrono::milliseconds kSettleTimeout{2000};

double number_from_text(const std::string& text)
{
    double number = 0;
    std::from_chars(text.data(), text.data() + text.size(), number);
    return number;
}

std::string text_of(const json& object, const char* key)
{
    auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

// "scheme://host:port" of an address, as a security origin is written.
std::string origin_of(const std::string& url)
{
    auto scheme_end = url.find("://");
    if (scheme_end == std::string::npos)
        return {};
    return url.substr(0, url.find('/', scheme_end + 3));
}

// The protocol carries binary data (a screenshot) as base64 text.
std::string decode_base64(std::string_view text)
{
    auto value_of = [](char c) -> int {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        return c == '+' ? 62 : c == '/' ? 63 : -1;
    };
    std::string bytes;
    bytes.reserve(text.size() / 4 * 3);
    uint32_t buffer = 0;
    int bits = 0;
    for (char c : text) {
        int value = value_of(c);
        if (value < 0)
            continue;
        buffer = (buffer << 6) | static_cast<uint32_t>(value);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            bytes += static_cast<char>((buffer >> bits) & 0xFF);
        }
    }
    return bytes;
}

RemoteValue remote_value(const json& object)
{
    RemoteValue value;
    const std::string type = text_of(object, "type");
    value.subtype = text_of(object, "subtype");
    value.class_name = text_of(object, "className");
    value.description = text_of(object, "description");
    value.object_id = text_of(object, "objectId");
    auto raw = object.find("value");
    if (type == "undefined") {
        value.kind = RemoteValue::Kind::Undefined;
    } else if (value.subtype == "null" || (type == "object" && raw != object.end() && raw->is_null())) {
        value.kind = RemoteValue::Kind::Null;
    } else if (type == "boolean") {
        value.kind = RemoteValue::Kind::Boolean;
        value.boolean = raw != object.end() && raw->get<bool>();
    } else if (type == "number") {
        value.kind = RemoteValue::Kind::Number;
        if (raw != object.end() && raw->is_number())
            value.number = raw->get<double>();
        else  // NaN, Infinity and -0 come as unserializableValue; read whatever the C locale
            value.number = number_from_text(text_of(object, "unserializableValue"));
    } else if (type == "string") {
        value.kind = RemoteValue::Kind::String;
        value.text = raw != object.end() ? raw->get<std::string>() : std::string();
    } else if (type == "function") {
        value.kind = RemoteValue::Kind::Function;
    } else if (type == "object") {
        value.kind = RemoteValue::Kind::Object;
        if (value.object_id.empty() && raw != object.end() && raw->is_array()) {
            value.kind = RemoteValue::Kind::StringList;
            for (const auto& item : *raw)
                value.items.push_back(item.is_string() ? std::optional(item.get<std::string>()) : std::nullopt);
        } else if (value.object_id.empty()) {
            value.kind = RemoteValue::Kind::Other;
            value.text = raw != object.end() ? raw->dump() : value.description;
        }
    } else {
        value.kind = RemoteValue::Kind::Other;
        value.text = value.description;
    }
    return value;
}

json call_argument(const CallArgument& argument)
{
    switch (argument.kind) {
    case CallArgument::Kind::Undefined:
        return json::object();
    case CallArgument::Kind::Null:
        return {{"value", nullptr}};
    case CallArgument::Kind::Boolean:
        return {{"value", argument.boolean}};
    case CallArgument::Kind::Number:
        return {{"value", argument.number}};
    case CallArgument::Kind::String:
        return {{"value", argument.text}};
    case CallArgument::Kind::Object:
        return {{"objectId", argument.object_id}};
    }
    return json::object();
}

// A script that threw: a security refusal is the permission error scripts know, anything else
// carries the page's own message.
[[noreturn]] void throw_script_error(const json& details)
{
    std::string text =
        details.contains("exception") ? text_of(details["exception"], "description") : text_of(details, "text");
    if (text.empty())
        text = text_of(details, "text");
    // The message without the script's stack, as a description's UTF-8 holds it.
    text = to_utf8(page_text(text.substr(0, text.find('\n'))));
    if (text.rfind("SecurityError", 0) == 0)
        throw AutomationError(error_number::kPermissionDenied, "Permission denied: " + text);
    throw AutomationError(error_number::kUnspecified, "The page's script failed: " + text);
}

// Handles of a document that the page has left behind fail with these messages.
[[noreturn]] void rethrow_translated(const ProtocolError& error)
{
    const std::string& message = error.message();
    if (error.kind() == ProtocolError::Kind::kBrowserError &&
        (message.find("Cannot find context") != std::string::npos ||
         message.find("Could not find object") != std::string::npos ||
         message.find("Cannot find default execution context") != std::string::npos))
        throw AutomationError(error_number::kObjectDisconnected,
                              "The object invoked has disconnected from its clients: the page that held it is gone");
    throw error;
}

RemoteValue result_of(const json& answer)
{
    if (answer.contains("exceptionDetails"))
        throw_script_error(answer["exceptionDetails"]);
    return remote_value(answer.value("result", json::object()));
}

}  // namespace

PageClient::PageClient(ProtocolSession& session, PageEvents events) : m_session(session), m_events(std::move(events))
{
    m_target_id = m_session.send("Target.createTarget", {{"url", "about:blank"}})["targetId"].get<std::string>();
    m_session_id = m_session.attach_to_target(m_target_id);
    m_main_frame_id = m_target_id;  // a page's main frame has the target's id
    m_listener = m_session.add_listener([this](const ProtocolEvent& event) { on_event(event); });
    m_session.send("Page.enable", json::object(), m_session_id);
    m_session.send("Runtime.enable", json::object(), m_session_id);
    // Only the network tells why a document did not load.
    m_session.send("Network.enable", json::object(), m_session_id);
    // Nested targets (out-of-process frames, popups) wait until their events are watched, and
    // must then be told to run, or the page that made them waits with them.
    m_session.send("Target.setAutoAttach", {{"autoAttach", true}, {"waitForDebuggerOnStart", true}, {"flatten", true}},
                   m_session_id);
}

PageClient::~PageClient()
{
    m_session.remove_listener(m_listener);
}

void PageClient::on_event(const ProtocolEvent& event)
{
    const json& params = event.params;
    if (event.method == "Target.attachedToTarget") {
        const std::string child = params.value("sessionId", "");
        // A frame of another site runs in a process of its own, with a session of its own whose
        // frame events belong to this page's frame tree.
        const json& target = params["targetInfo"];
        if (target.value("type", "") == "iframe") {
            {
                std::lock_guard lock(m_frame_sessions_mutex);
                m_frame_sessions.insert(child);
            }
            // Its document arrived in the other process, before this session could watch it.
            const std::string url = text_of(target, "url");
            m_events.frame_navigated(text_of(target, "targetId"), {}, url, origin_of(url));
        }
        m_session.post("Page.enable", json::object(), child);
        if (target.value("type", "") == "iframe")
            m_session.post("Network.enable", json::object(), child);
        m_session.post("Runtime.runIfWaitingForDebugger", json::object(), child);
        return;
    }
    bool from_frame_session = false;
    if (event.session_id != m_session_id) {
        std::lock_guard lock(m_frame_sessions_mutex);
        from_frame_session = m_frame_sessions.contains(event.session_id);
    }
    if (event.session_id != m_session_id && !from_frame_session) {
        if (event.method == "Target.targetCrashed" && text_of(params, "targetId") == m_target_id)
            m_events.target_crashed();
        if (event.method == "Target.detachedFromTarget" &&
            (text_of(params, "targetId") == m_target_id || text_of(params, "sessionId") == m_session_id))
            m_events.target_gone("the browser's page was detached");
        return;
    }
    const std::string& method = event.method;
    if (method.starts_with("Network.")) {
        on_network_event(event);
    } else if (method == "Page.frameAttached") {
        m_events.frame_attached(text_of(params, "frameId"), text_of(params, "parentFrameId"));
    } else if (method == "Page.frameDetached") {
        // A frame that moves to a process of its own is detached here with the reason "swap"; it stays in the page.
        if (text_of(params, "reason") != "swap")
            m_events.frame_detached(text_of(params, "frameId"));
    } else if (method == "Page.frameNavigated") {
        const json& frame = params["frame"];
        std::string url = text_of(frame, "unreachableUrl");
        if (url.empty())
            url = text_of(frame, "url") + text_of(frame, "urlFragment");
        m_events.frame_navigated(text_of(frame, "id"), text_of(frame, "parentId"), url,
                                 text_of(frame, "securityOrigin"));
    } else if (method == "Page.navigatedWithinDocument") {
        m_events.navigated_within_document(text_of(params, "frameId"), text_of(params, "url"));
    } else if (method == "Page.frameStartedNavigating") {
        m_events.navigation_started(text_of(params, "frameId"));
    } else if (method == "Page.frameStartedLoading") {
        m_events.frame_started_loading(text_of(params, "frameId"));
    } else if (method == "Page.frameStoppedLoading") {
        // A load that was cancelled before any answer and that no newer request replaced leaves
        // the old document: the browser refused the address (a scheme it cannot load, for one), or
        // a navigation asked for next replaces it still. It is told before the frame counts as
        // loaded, so that a wait that ends sees it.
        const std::string frame_id = text_of(params, "frameId");
        auto last = m_last_document.find(frame_id);
        if (last != m_last_document.end()) {
            auto request = m_documents.find(last->second);
            // A newer document of the frame is still on its way (a click that started two
            // navigations, the second replacing the first): the load that stopped is the one
            // replaced, and the frame loads on until the newer one stops.
            if (request != m_documents.end() && request->second.aborted.empty())
                return;
            if (request != m_documents.end() && !request->second.aborted.empty()) {
                m_events.load_cancelled(frame_id, request->second.url, request->second.aborted);
                m_documents.erase(request);
            }
            m_last_document.erase(last);
        }
        m_events.frame_stopped_loading(frame_id);
    } else if (method == "Page.frameRequestedNavigation") {
        if (text_of(params, "disposition") == "currentTab")
            m_events.frame_requested_navigation(text_of(params, "frameId"));
    } else if (from_frame_session) {
        return;  // the contexts and dialogs of a frame session are not this page's
    } else if (method == "Page.domContentEventFired") {
        m_events.top_content_loaded();
    } else if (method == "Runtime.executionContextCreated") {
        const json& context = params["context"];
        const json aux = context.value("auxData", json::object());
        if (aux.value("isDefault", false))
            m_events.default_context_created(context["id"].get<int64_t>(), text_of(aux, "frameId"));
    } else if (method == "Runtime.executionContextDestroyed") {
        m_events.context_destroyed(params["executionContextId"].get<int64_t>());
    } else if (method == "Runtime.executionContextsCleared") {
        m_events.contexts_cleared();
    } else if (method == "Page.javascriptDialogOpening") {
        m_events.dialog_opening(text_of(params, "type"), text_of(params, "message"), text_of(params, "defaultPrompt"));
    } else if (method == "Page.javascriptDialogClosed") {
        m_events.dialog_closed(params.value("result", false));
    } else if (method == "Inspector.targetCrashed") {
        m_events.target_crashed();
    }
}

void PageClient::on_network_event(const ProtocolEvent& event)
{
    const json& params = event.params;
    const std::string request_id = text_of(params, "requestId");
    if (event.method == "Network.requestWillBeSent") {
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
        if (status >= 400) {
            std::string reason = "HTTP " + std::to_string(status);
            if (const std::string text = text_of(response, "statusText"); !text.empty())
                reason += " " + text;
            m_events.load_failed(request.frame_id, request.url, reason);
        }
    } else if (event.method == "Network.loadingFinished") {
        m_documents.erase(found);
    } else if (event.method == "Network.loadingFailed") {
        const std::string reason = text_of(params, "errorText");
        if (!params.value("canceled", false)) {
            m_events.load_failed(request.frame_id, request.url, reason);
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

bool PageClient::navigate(const std::string& url, const std::string& frame_id)
{
    json params{{"url", url}};
    if (frame_id != m_main_frame_id)
        params["frameId"] = frame_id;
    const std::string session_id = m_session_id;
    // A failure after the load started needs no word here: its own events end the load.
    auto outcome = m_session.send_until("Page.navigate", params, m_session_id, [&](const ProtocolEvent& event) {
        return event.session_id == session_id &&
               ((event.method == "Page.frameStartedLoading" && text_of(event.params, "frameId") == frame_id) ||
                event.method == "Page.javascriptDialogOpening");
    });
    return outcome.event.has_value();
}

RemoteValue PageClient::evaluate(int64_t context_id, const std::string& expression, bool by_value)
{
    try {
        return result_of(m_session.send("Runtime.evaluate",
                                        {{"expression", expression},
                                         {"contextId", context_id},
                                         {"returnByValue", by_value},
                                         {"awaitPromise", false}},
                                        m_session_id));
    } catch (const ProtocolError& error) {
        rethrow_translated(error);
    }
}

std::optional<RemoteValue> PageClient::call_function(const std::string& object_id, const std::string& declaration,
                                                     const std::vector<CallArgument>& arguments, bool by_value,
                                                     bool user_gesture)
{
    json args = json::array();
    for (const auto& argument : arguments)
        args.push_back(call_argument(argument));
    json params{{"objectId", object_id},
                {"functionDeclaration", declaration},
                {"arguments", std::move(args)},
                {"returnByValue", by_value},
                {"userGesture", user_gesture}};
    try {
        const std::string session_id = m_session_id;
        auto outcome = m_session.send_until(
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

std::string PageClient::frame_id_of(const std::string& element_object_id)
{
    try {
        json answer = m_session.send("DOM.describeNode", {{"objectId", element_object_id}}, m_session_id);
        return text_of(answer["node"], "frameId");
    } catch (const ProtocolError& error) {
        rethrow_translated(error);
    }
}

bool PageClient::handle_dialog(bool accept, const std::string& prompt_text)
{
    json params{{"accept", accept}};
    if (accept)
        params["promptText"] = prompt_text;
    try {
        m_session.send("Page.handleJavaScriptDialog", params, m_session_id);
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
        m_session.send_until(
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

void PageClient::bring_to_front()
{
    m_session.send("Page.bringToFront", json::object(), m_session_id);
}

std::string PageClient::capture_screenshot()
{
    try {
        json answer = m_session.send("Page.captureScreenshot", {{"format", "png"}}, m_session_id);
        return decode_base64(answer.value("data", std::string()));
    } catch (const ProtocolError& error) {
        rethrow_translated(error);
    }
}

void PageClient::release_object(const std::string& object_id)
{
    m_session.post("Runtime.releaseObject", {{"objectId", object_id}}, m_session_id);
}

}  // namespace varne::cdp
