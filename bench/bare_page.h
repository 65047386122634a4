#pragma once

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/chromium/chromium_process.h"
#include "platform/chromium/protocol_session.h"

namespace varne::bench {

using cdp::ChromiumProcess;
using cdp::ProtocolEvent;
using cdp::ProtocolSession;

class EventCounter;

// The same Chromium as Browser starts, launched over the pipe with one page target attached and
// driven by plain protocol commands: the baseline that every figure is set against.
class BarePage {
public:
    // Launch until the page answers: the part that the launch figure times.
    BarePage();
    ~BarePage();

    ProtocolSession& session() { return m_process->session(); }

    nlohmann::json evaluate(const std::string& expression, bool by_value = false);

    // Page events from here on; needed by navigate(), click_and_load() and open_dialog().
    void watch_page();

    // Page.navigate, then the page's load event.
    void navigate(const std::string& url);

    // Clicks the first link, then waits for the load event of the page it leads to.
    void click_and_load();

    // Clicks the first link, whose handler opens a dialog, and waits for the dialog. The click's own
    // answer comes only once the dialog is answered, so it is not waited for.
    void open_dialog();

    // Runtime.callFunctionOn with `this` set to the object and its result by value.
    nlohmann::json call_function(const std::string& object_id, const std::string& declaration);

    void accept_dialog();

private:
    std::unique_ptr<ChromiumProcess> m_process;
    std::string m_session_id;
    std::unique_ptr<EventCounter> m_events;
};

}  // namespace varne::bench
