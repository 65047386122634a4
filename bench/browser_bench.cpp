// Times Browser members against bare use of the same Chromium over its debugging pipe, on pages
// that the caller serves on 127.0.0.1, and prints one row per figure: the figure, its baseline
// from the same run, their ratio, the target and whether the figure meets it.
//
//   browser_bench --site http://127.0.0.1:<port> [--tsv] [--detail]
//
// The site must serve /links?count=N and the pages of bench/bench_site.py; python_client_bench.py
// starts it and runs this program. --tsv prints the rows tab-separated, for that script to merge;
// --detail adds rows that split a start into its parts.

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "composition/process_environment.h"
#include "frame/interfaces.h"
#include "frame/late_binding.h"
#include "platform/chromium/chromium_process.h"
#include "platform/chromium/protocol_session.h"

namespace varne::bench {

namespace {

using nlohmann::json;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kLaunchRuns = 7;
constexpr int kPageRuns = 15;
constexpr int kRoundTrips = 1000;
// Left between launches, so that the zygotes of the browser just closed are gone before the next start.
constexpr auto kSettleAfterClose = 500ms;
constexpr auto kEventTimeout = 10s;
constexpr int kLinkCount = 10000;

constexpr double kLaunchTarget = 1.2;
constexpr double kSearchTarget = 1.5;
constexpr double kRoundTripTargetMs = 0.5;

const char kLinkTexts[] = "Array.from(document.links, a => a.innerText)";
const char kImageAlts[] = "Array.from(document.images, i => i.alt)";
// The function that LinkExists has the page run on document.links (for --detail), with its property reader.
const char kReadEachInnerText[] =
    "function() { const a = ['innerText'];"
    " const prop = (e, p) => { if (p === 'nameProp') { const s = e.src || e.href || ''; if (!s) return '';"
    " try { return new URL(s, e.ownerDocument.baseURI).pathname.split('/').pop(); } catch (x) { return ''; } }"
    " const v = e[p]; return v === undefined || v === null ? '' : String(v); };"
    " const c = this; return Array.from(c, e => prop(e, a[0])); }";

double elapsed_ms(Clock::time_point since)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

template <class Work>
double time_ms(Work&& work)
{
    const auto start = Clock::now();
    work();
    return elapsed_ms(start);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Runs every work once per round, each round starting with the next work, so that no work always
// follows the same other; gives the times of each work in the order given.
std::vector<std::vector<double>> interleaved(int rounds, const std::vector<std::function<void()>>& works)
{
    std::vector<std::vector<double>> times(works.size());
    for (int round = 0; round < rounds; ++round) {
        for (size_t turn = 0; turn < works.size(); ++turn) {
            const size_t index = (round + turn) % works.size();
            times[index].push_back(time_ms(works[index]));
        }
    }
    return times;
}

void progress(const std::string& text)
{
    std::cerr << "browser_bench: " << text << std::endl;
}

// One line of the report. A row without a target is reported only.
struct Row {
    std::string name;
    double figure;
    std::optional<double> baseline;
    std::string unit;
    enum class Target { kReportOnly, kRatioAtMost, kFigureBelow } target = Target::kReportOnly;
    double limit = 0;
};

std::string number(double value, const std::string& unit)
{
    char text[64];
    std::snprintf(text, sizeof text, value < 10 ? "%.3f %s" : "%.1f %s", value, unit.c_str());
    return text;
}

std::vector<std::string> columns(const Row& row)
{
    char ratio[32] = "-";
    if (row.baseline && *row.baseline > 0)
        std::snprintf(ratio, sizeof ratio, "%.2fx", row.figure / *row.baseline);
    std::string target = "report";
    std::string verdict = "-";
    char limit[32];
    if (row.target == Row::Target::kRatioAtMost) {
        std::snprintf(limit, sizeof limit, "<= %.1fx", row.limit);
        target = limit;
        verdict = row.figure <= row.limit * *row.baseline ? "PASS" : "FAIL";
    } else if (row.target == Row::Target::kFigureBelow) {
        target = "< " + number(row.limit, row.unit);
        verdict = row.figure < row.limit ? "PASS" : "FAIL";
    }
    return {row.name, number(row.figure, row.unit), row.baseline ? number(*row.baseline, row.unit) : "-", ratio, target,
            verdict};
}

void print_table(const std::vector<Row>& rows)
{
    std::vector<std::vector<std::string>> lines{{"figure", "value", "baseline", "ratio", "target", "result"}};
    for (const auto& row : rows)
        lines.push_back(columns(row));
    std::vector<size_t> widths(lines.front().size(), 0);
    for (const auto& line : lines) {
        for (size_t column = 0; column < line.size(); ++column)
            widths[column] = std::max(widths[column], line[column].size());
    }
    for (const auto& line : lines) {
        std::string text = line[0] + std::string(widths[0] - line[0].size(), ' ');
        for (size_t column = 1; column < line.size(); ++column)
            text += "  " + std::string(widths[column] - line[column].size(), ' ') + line[column];
        std::cout << text << '\n';
    }
    std::cout.flush();
}

// The rows as raw numbers, one per line: name, figure, baseline, unit, target kind, limit.
void print_tab_separated(const std::vector<Row>& rows)
{
    for (const auto& row : rows) {
        const char* kind = row.target == Row::Target::kRatioAtMost   ? "ratio"
                           : row.target == Row::Target::kFigureBelow ? "below"
                                                                     : "report";
        std::cout << row.name << '\t' << row.figure << '\t' << (row.baseline ? std::to_string(*row.baseline) : "")
                  << '\t' << row.unit << '\t' << kind << '\t' << row.limit << '\n';
    }
    std::cout.flush();
}

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

// The same Chromium as Browser starts, launched over the pipe with one page target attached and
// driven by plain protocol commands: the baseline that every figure is set against.
class BarePage {
public:
    // Launch until the page answers: the part that the launch figure times.
    BarePage() : m_process(ChromiumProcess::launch(process_environment))
    {
        const std::string target =
            session().send("Target.createTarget", {{"url", "about:blank"}})["targetId"].get<std::string>();
        m_session_id = session().attach_to_target(target);
        evaluate("1");
    }

    ProtocolSession& session() { return m_process->session(); }

    json evaluate(const std::string& expression, bool by_value = false)
    {
        return session().send("Runtime.evaluate", {{"expression", expression}, {"returnByValue", by_value}},
                              m_session_id);
    }

    // Page events from here on; needed by navigate(), click_and_load() and open_dialog().
    void watch_page()
    {
        m_events = std::make_unique<EventCounter>(session(), m_session_id);
        session().send("Page.enable", json::object(), m_session_id);
    }

    // Page.navigate, then the page's load event.
    void navigate(const std::string& url)
    {
        const int64_t before = m_events->seen("Page.loadEventFired");
        session().send("Page.navigate", {{"url", url}}, m_session_id);
        m_events->wait_beyond("Page.loadEventFired", before);
    }

    // Clicks the first link, then waits for the load event of the page it leads to.
    void click_and_load()
    {
        const int64_t before = m_events->seen("Page.loadEventFired");
        evaluate("document.links[0].click()");
        m_events->wait_beyond("Page.loadEventFired", before);
    }

    // Clicks the first link, whose handler opens a dialog, and waits for the dialog. The click's own
    // answer comes only once the dialog is answered, so it is not waited for.
    void open_dialog()
    {
        const int64_t before = m_events->seen("Page.javascriptDialogOpening");
        session().post("Runtime.evaluate", {{"expression", "document.links[0].click()"}}, m_session_id);
        m_events->wait_beyond("Page.javascriptDialogOpening", before);
    }

    // Runtime.callFunctionOn with `this` set to the object and its result by value.
    json call_function(const std::string& object_id, const std::string& declaration)
    {
        return session().send("Runtime.callFunctionOn",
                              {{"objectId", object_id}, {"functionDeclaration", declaration}, {"returnByValue", true}},
                              m_session_id);
    }

    void accept_dialog() { session().send("Page.handleJavaScriptDialog", {{"accept", true}}, m_session_id); }

private:
    std::unique_ptr<ChromiumProcess> m_process;
    std::string m_session_id;
    std::unique_ptr<EventCounter> m_events;
};

// A Browser made through the library, as a program that uses it makes one, logging into a temporary folder.
class LibraryBrowser {
public:
    LibraryBrowser() : m_browser(create_library_object<_Browser>(u"Varne.Browser"))
    {
        if (m_browser->WaitForBrowser() != 0)
            throw std::runtime_error("the new Browser's first page did not get ready");
    }

    void log_to(const std::filesystem::path& path) { m_browser->SetBrowserLog(from_utf8(path.string())); }

    _Browser& operator*() { return *m_browser; }
    _Browser* operator->() { return m_browser.get(); }

    Ref<Dispatch> document() { return to_object(get_property(*m_browser->GetBrowser(), u"Document")); }

private:
    Ref<_Browser> m_browser;
};

void expect(bool held, const std::string& what)
{
    if (!held)
        throw std::runtime_error("unexpected result: " + what);
}

class Bench {
public:
    Bench(std::string site, bool detail) : m_site(std::move(site)), m_detail(detail)
    {
        m_log_folder = std::filesystem::temp_directory_path() / ("varne-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_log_folder);
    }
    ~Bench()
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_log_folder, ignored);
    }

    std::vector<Row> run()
    {
        launch();
        if (m_detail)
            launch_detail();
        pages();
        round_trips();
        return m_rows;
    }

private:
    std::string url(const std::string& path) const { return m_site + "/" + path; }

    void add(Row row) { m_rows.push_back(std::move(row)); }

    // Browser creation until its first page is ready, against a bare launch until its page target
    // answers; interleaved, alternating which goes first, after one unmeasured start of each.
    void launch()
    {
        progress("launching");
        auto bare_launch = [] {
            std::unique_ptr<BarePage> page;
            double ms = time_ms([&] { page = std::make_unique<BarePage>(); });
            page.reset();
            return ms;
        };
        auto library_launch = [] {
            std::unique_ptr<LibraryBrowser> browser;
            double ms = time_ms([&] { browser = std::make_unique<LibraryBrowser>(); });
            browser.reset();
            return ms;
        };
        std::vector<double> bare;
        std::vector<double> library;
        for (int run = -1; run < kLaunchRuns; ++run) {
            const bool bare_first = run % 2 == 0;
            for (int turn = 0; turn < 2; ++turn) {
                const bool is_bare = (turn == 0) == bare_first;
                const double ms = is_bare ? bare_launch() : library_launch();
                if (run >= 0)
                    (is_bare ? bare : library).push_back(ms);
                std::this_thread::sleep_for(kSettleAfterClose);
            }
        }
        add({"Browser create + first page ready", median(library), median(bare), "ms", Row::Target::kRatioAtMost,
             kLaunchTarget});
    }

    // Where a Browser's start goes: per round, in turn, the bare launch of the launch figure, the same
    // launch followed by the commands with which Browser prepares its page session instead of the
    // evaluation, and a Browser's creation apart from its first wait.
    void launch_detail()
    {
        progress("launch detail");
        const std::vector<std::pair<std::string, json>> setup{
            {"Page.enable", json::object()},
            {"Runtime.enable", json::object()},
            {"Page.setLifecycleEventsEnabled", {{"enabled", false}}},
            {"Target.setAutoAttach", {{"autoAttach", true}, {"waitForDebuggerOnStart", true}, {"flatten", true}}}};
        std::vector<std::pair<std::string, std::vector<double>>> parts{{"bare: ChromiumProcess::launch", {}},
                                                                       {"bare: createTarget + attachToTarget", {}},
                                                                       {"bare: first Runtime.evaluate \"1\"", {}},
                                                                       {"bare total", {}}};
        for (const auto& [method, params] : setup)
            parts.push_back({"Browser's commands, bare: " + method, {}});
        parts.push_back({"Browser's commands, bare: total", {}});
        parts.push_back({"create_object(\"Varne.Browser\")", {}});
        parts.push_back({"its first WaitForBrowser", {}});
        auto part = [&](const std::string& name) -> std::vector<double>& {
            return std::find_if(parts.begin(), parts.end(), [&](const auto& p) { return p.first == name; })->second;
        };

        auto bare_launch = [&] {
            const auto started = Clock::now();
            std::unique_ptr<ChromiumProcess> process;
            part("bare: ChromiumProcess::launch").push_back(time_ms([&] {
                process = ChromiumProcess::launch(process_environment);
            }));
            auto& session = process->session();
            std::string session_id;
            part("bare: createTarget + attachToTarget").push_back(time_ms([&] {
                session_id = session.attach_to_target(
                    session.send("Target.createTarget", {{"url", "about:blank"}})["targetId"].get<std::string>());
            }));
            part("bare: first Runtime.evaluate \"1\"").push_back(time_ms([&] {
                session.send("Runtime.evaluate", {{"expression", "1"}}, session_id);
            }));
            part("bare total").push_back(elapsed_ms(started));
        };
        auto browser_commands = [&] {
            const auto started = Clock::now();
            auto process = ChromiumProcess::launch(process_environment);
            auto& session = process->session();
            const std::string session_id = session.attach_to_target(
                session.send("Target.createTarget", {{"url", "about:blank"}})["targetId"].get<std::string>());
            for (const auto& [method, params] : setup)
                part("Browser's commands, bare: " + method).push_back(time_ms([&] {
                    session.send(method, params, session_id);
                }));
            part("Browser's commands, bare: total").push_back(elapsed_ms(started));
        };
        auto browser = [&] {
            Ref<_Browser> created;
            part("create_object(\"Varne.Browser\")").push_back(time_ms([&] {
                created = create_library_object<_Browser>(u"Varne.Browser");
            }));
            part("its first WaitForBrowser").push_back(time_ms([&] { created->WaitForBrowser(); }));
        };
        const std::vector<std::function<void()>> variants{bare_launch, browser_commands, browser};
        for (int round = 0; round < kLaunchRuns; ++round) {
            for (size_t turn = 0; turn < variants.size(); ++turn) {
                variants[(round + turn) % variants.size()]();
                std::this_thread::sleep_for(kSettleAfterClose);
            }
        }
        for (const auto& [name, times] : parts)
            add({"  launch detail: " + name, median(times), std::nullopt, "ms"});
    }

    void pages()
    {
        progress("starting one bare page and one Browser");
        BarePage bare;
        bare.watch_page();
        LibraryBrowser browser;
        browser.log_to(m_log_folder / "bench.log");

        goto_small_page(bare, browser);
        search_links(bare, browser);
        click_link(bare, browser);
        answer_confirm(bare, browser);
    }

    void goto_small_page(BarePage& bare, LibraryBrowser& browser)
    {
        progress("GotoURL");
        std::vector<double> base;
        std::vector<double> member;
        for (int run = -1; run < kPageRuns; ++run) {
            const std::string page = url(run % 2 ? "small_a.html" : "small_b.html");
            const double bare_ms = time_ms([&] { bare.navigate(page); });
            const double member_ms = time_ms([&] { browser->GotoURL(from_utf8(page)); });
            if (run >= 0) {
                base.push_back(bare_ms);
                member.push_back(member_ms);
            }
        }
        add({"GotoURL small page (base: Page.navigate + load event)", median(member), median(base), "ms"});
    }

    void search_links(BarePage& bare, LibraryBrowser& browser)
    {
        progress("LinkExists, MatchInnerText on " + std::to_string(kLinkCount) + " links");
        const std::string links = url("links?count=" + std::to_string(kLinkCount));
        bare.navigate(links);
        browser->GotoURL(from_utf8(links));
        Ref<Dispatch> document = browser.document();
        const std::u16string last = u"Link " + from_utf8(std::to_string(kLinkCount - 1));
        // The first reads include the page's layout; they are left out.
        expect(bare.evaluate(kLinkTexts, true)["result"]["value"].size() == kLinkCount, "bare read of link texts");
        expect(browser->LinkExists(document, last, brwInnerText) == 1, "LinkExists of the last link");
        expect(browser->MatchInnerText(document, last, u"A", brwExactMatch, kLinkCount - 1) == 0,
               "MatchInnerText of the last link");

        std::vector<std::function<void()>> works{
            [&] { bare.evaluate(kLinkTexts, true); }, [&] { browser->LinkExists(document, last, brwInnerText); },
            [&] { browser->MatchInnerText(document, last, u"A", brwExactMatch, kLinkCount - 1); }};
        if (m_detail) {
            const std::string links_object = bare.evaluate("document.links")["result"]["objectId"];
            works.push_back([&bare, links_object] { bare.call_function(links_object, kReadEachInnerText); });
        }
        const auto times = interleaved(kPageRuns, works);
        m_link_texts_ms = median(times[0]);
        add({"LinkExists, 10,000 links", median(times[1]), m_link_texts_ms, "ms", Row::Target::kRatioAtMost,
             kSearchTarget});
        add({"MatchInnerText, 10,000 links", median(times[2]), m_link_texts_ms, "ms", Row::Target::kRatioAtMost,
             kSearchTarget});
        if (m_detail)
            add({"  LinkExists detail: its own callFunctionOn, bare", median(times[3]), m_link_texts_ms, "ms"});

        progress("ImageExists on " + std::to_string(kLinkCount) + " image links");
        bare.navigate(url("images.html"));
        browser->GotoURL(from_utf8(url("images.html")));
        document = browser.document();
        const std::u16string last_image = u"Image " + from_utf8(std::to_string(kLinkCount - 1));
        expect(bare.evaluate(kImageAlts, true)["result"]["value"].size() == kLinkCount, "bare read of image alts");
        expect(browser->ImageExists(document, last_image, brwImgAlt) == 1, "ImageExists of the last image");
        const auto image_times =
            interleaved(kPageRuns, {[&] { bare.evaluate(kImageAlts, true); },
                                    [&] { browser->ImageExists(document, last_image, brwImgAlt); }});
        add({"ImageExists, 10,000 image links", median(image_times[1]), m_link_texts_ms, "ms",
             Row::Target::kRatioAtMost, kSearchTarget});
        add({"ImageExists (base: same page, every image's alt)", median(image_times[1]), median(image_times[0]), "ms"});
    }

    // From one small page to the other and back by their links.
    void click_link(BarePage& bare, LibraryBrowser& browser)
    {
        progress("ClickLink");
        bare.navigate(url("small_a.html"));
        browser->GotoURL(from_utf8(url("small_a.html")));
        std::vector<double> base;
        std::vector<double> member;
        for (int run = -1; run < kPageRuns; ++run) {
            const double bare_ms = time_ms([&] { bare.click_and_load(); });
            const std::u16string text = run % 2 ? u"Next" : u"Back";
            const double member_ms = time_ms(
                [&] { expect(browser->ClickLink(browser.document(), text, brwInnerText, 0) == 0, "ClickLink"); });
            if (run >= 0) {
                base.push_back(bare_ms);
                member.push_back(member_ms);
            }
        }
        add({"ClickLink + its wait (base: click + load event)", median(member), median(base), "ms"});
    }

    // A link whose handler calls confirm(): the dialog is opened, then answered with OK.
    void answer_confirm(BarePage& bare, LibraryBrowser& browser)
    {
        progress("PopupClickOk");
        bare.navigate(url("confirm.html"));
        browser->GotoURL(from_utf8(url("confirm.html")));
        std::vector<double> base;
        std::vector<double> member;
        for (int run = -1; run < kPageRuns; ++run) {
            bare.open_dialog();
            const double bare_ms = time_ms([&] { bare.accept_dialog(); });
            expect(browser->ClickLink(browser.document(), u"Ask", brwInnerText, 0) == 0, "ClickLink of Ask");
            const double member_ms = time_ms([&] { expect(browser->PopupClickOk() == 0, "PopupClickOk"); });
            if (run >= 0) {
                base.push_back(bare_ms);
                member.push_back(member_ms);
            }
        }
        add({"PopupClickOk on confirm() (base: handleJavaScriptDialog)", median(member), median(base), "ms"});
    }

    void round_trips()
    {
        progress("protocol round trips");
        BarePage bare;
        std::vector<double> evaluate;
        std::vector<double> version;
        for (int run = 0; run < kRoundTrips; ++run) {
            evaluate.push_back(time_ms([&] { bare.evaluate("1"); }));
            version.push_back(time_ms([&] { bare.session().send("Browser.getVersion"); }));
        }
        add({"Round trip: Runtime.evaluate \"1\"", median(evaluate), std::nullopt, "ms", Row::Target::kFigureBelow,
             kRoundTripTargetMs});
        add({"Round trip: Browser.getVersion", median(version), std::nullopt, "ms", Row::Target::kFigureBelow,
             kRoundTripTargetMs});
    }

    std::string m_site;
    bool m_detail;
    std::filesystem::path m_log_folder;
    double m_link_texts_ms = 0;
    std::vector<Row> m_rows;
};

}  // namespace

}  // namespace varne::bench

int main(int argc, char** argv)
{
    std::string site;
    bool tab_separated = false;
    bool detail = false;
    for (int index = 1; index < argc; ++index) {
        const std::string arg = argv[index];
        if (arg == "--site" && index + 1 < argc)
            site = argv[++index];
        else if (arg == "--tsv")
            tab_separated = true;
        else if (arg == "--detail")
            detail = true;
    }
    if (site.empty()) {
        std::cerr << "usage: browser_bench --site http://127.0.0.1:<port> [--tsv] [--detail]\n"
                     "(bench/python_client_bench.py serves the pages and runs it)\n";
        return 2;
    }
    // Both sides run the browser headless; a headed Browser would also outlive its object.
    ::unsetenv("DISPLAY");
    try {
        varne::bench::Bench bench(site, detail);
        const auto rows = bench.run();
        if (tab_separated)
            varne::bench::print_tab_separated(rows);
        else
            varne::bench::print_table(rows);
    } catch (const varne::AutomationError& error) {
        std::cerr << "browser_bench: AutomationError " << error.number() << ": " << error.description() << '\n';
        return 1;
    } catch (const std::exception& error) {
        std::cerr << "browser_bench: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
