// Times each step of a browser's start and each kind of command, for both engines, so that the
// library's bounds can be set from what a machine under load really takes. Run it beside a load
// (busy loops, a CPU quota) and compare the slowest figures with the bounds in
// platform/session/session_bounds.h. Prints one JSON object per engine and run.
//
//   load_bench --page URL [--runs N] [--large-mb M]

#include "bench/arguments.h"
#include "bench/measure.h"
#include "composition/process_environment.h"
#include "platform/chromium/chromium_process.h"
#include "platform/chromium/protocol_session.h"
#include "platform/firefox/firefox_process.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <condition_variable>
#include <iostream>
#include <mutex>
#include <string>

namespace {

using Json = nlohmann::json;
using namespace std::chrono_literals;
using varne::bench::time_ms;

// A page script whose value is a string of `megabytes` MB.
std::string large_value(int megabytes)
{
    return "'x'.repeat(" + std::to_string(megabytes) + " * 1024 * 1024)";
}

Json chromium_run(const std::string& page, int megabytes)
{
    using varne::cdp::ChromiumProcess;
    Json figures;
    std::unique_ptr<ChromiumProcess> process;
    figures["launch_to_first_answer"] = time_ms([&] {
        process = ChromiumProcess::launch(varne::process_environment, {{}, true, 120s});
    });
    auto& session = process->session();
    const auto slow = 120000ms;
    std::string target;
    figures["Target.createTarget"] = time_ms([&] {
        target = session.send("Target.createTarget", {{"url", "about:blank"}}, {}, slow)["targetId"];
    });
    std::string id;
    figures["Target.attachToTarget"] = time_ms([&] { id = session.attach_to_target(target, slow); });

    std::mutex mutex;
    std::condition_variable loaded_cv;
    bool loaded = false;
    session.add_listener([&](const varne::cdp::ProtocolEvent& event) {
        if (event.method == "Page.loadEventFired") {
            std::lock_guard lock(mutex);
            loaded = true;
            loaded_cv.notify_all();
        }
    });
    figures["Page.enable"] = time_ms([&] { session.send("Page.enable", Json::object(), id, slow); });
    figures["Runtime.enable"] = time_ms([&] { session.send("Runtime.enable", Json::object(), id, slow); });
    figures["navigate_to_load"] = time_ms([&] {
        session.send("Page.navigate", {{"url", page}}, id, slow);
        std::unique_lock lock(mutex);
        loaded_cv.wait_for(lock, 120s, [&] { return loaded; });
    });
    figures["Runtime.evaluate"] = time_ms([&] {
        session.send("Runtime.evaluate", {{"expression", "document.title"}, {"returnByValue", true}}, id, slow);
    });
    figures["Runtime.evaluate_large"] = time_ms([&] {
        session.send("Runtime.evaluate", {{"expression", large_value(megabytes)}, {"returnByValue", true}}, id, slow);
    });
    figures["close"] = time_ms([&] { process->close(); });
    return figures;
}

Json firefox_run(const std::string& page, int megabytes)
{
    using varne::bidi::FirefoxProcess;
    Json figures;
    std::unique_ptr<FirefoxProcess> process;
    figures["launch_to_session"] = time_ms([&] {
        process = FirefoxProcess::launch(varne::process_environment, {true, 120s, 120s});
    });
    auto& session = process->session();
    const auto slow = 120000ms;
    std::string context;
    figures["browsingContext.getTree"] = time_ms(
        [&] { context = session.send("browsingContext.getTree", Json::object(), slow)["contexts"][0]["context"]; });
    figures["session.subscribe"] = time_ms([&] {
        session.send("session.subscribe", {{"events", {"browsingContext.load", "log.entryAdded"}}}, slow);
    });
    figures["navigate_to_load"] = time_ms([&] {
        session.send("browsingContext.navigate", {{"context", context}, {"url", page}, {"wait", "complete"}}, slow);
    });
    const auto evaluate = [&](const std::string& expression) {
        session.send("script.evaluate",
                     {{"expression", expression}, {"target", {{"context", context}}}, {"awaitPromise", false}}, slow);
    };
    figures["script.evaluate"] = time_ms([&] { evaluate("document.title"); });
    figures["script.evaluate_large"] = time_ms([&] { evaluate(large_value(megabytes)); });
    figures["close"] = time_ms([&] { process->close(); });
    return figures;
}

}  // namespace

int main(int argc, char** argv)
{
    const varne::bench::NamedArguments arguments(argc, argv);
    const std::string page = arguments.text("--page", "about:blank");
    const int runs = arguments.number("--runs", 3);
    const int megabytes = arguments.number("--large-mb", 50);
    for (int run = 0; run < runs; ++run) {
        for (const char* engine : {"chromium", "firefox"}) {
            try {
                const Json figures =
                    std::string(engine) == "chromium" ? chromium_run(page, megabytes) : firefox_run(page, megabytes);
                std::cout << Json{{"engine", engine}, {"ms", figures}} << std::endl;
            } catch (const std::exception& error) {
                std::cout << Json{{"engine", engine}, {"error", error.what()}} << std::endl;
            }
        }
    }
    return 0;
}
