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
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <unistd.h>

#include <nlohmann/json.hpp>

#include "bench/bare_page.h"
#include "bench/measure.h"
#include "bench/report.h"
#include "composition/process_environment.h"
#include "frame/interfaces.h"
#include "frame/late_binding.h"
#include "platform/chromium/chromium_process.h"

namespace varne::bench {

namespace {

using nlohmann::json;
using namespace std::chrono_literals;

constexpr int kLaunchRuns = 7;
constexpr int kPageRuns = 15;
constexpr int kRoundTrips = 1000;
// Left between launches, so that the zygotes of the browser just closed are gone before the next start.
constexpr auto kSettleAfterClose = 500ms;
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

void progress(const std::string& text)
{
    std::cerr << "browser_bench: " << text << std::endl;
}

// A Browser made through the library, as a program that uses it makes one, logging into a temporary folder.
class LibraryBrowser {
public:
    LibraryBrowser() : m_browser(create_library_object<_Browser>(u"Varne.Browser")) {}

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

    // Runs `run` (given the run's number) once unmeasured and then kPageRuns times; it gives the
    // times of its bare step and of its member. Adds the medians, the bare one as the baseline.
    template <class Run>
    void add_against_bare(const std::string& name, Run&& run)
    {
        std::vector<double> base;
        std::vector<double> member;
        for (int number = -1; number < kPageRuns; ++number) {
            const auto [bare_ms, member_ms] = run(number);
            if (number >= 0) {
                base.push_back(bare_ms);
                member.push_back(member_ms);
            }
        }
        add({name, median(member), median(base), "ms"});
    }

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
        parts.push_back({"its first ReadyState", {}});
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
            part("bare total").push_back(ms_since(started));
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
            part("Browser's commands, bare: total").push_back(ms_since(started));
        };
        auto browser = [&] {
            Ref<_Browser> created;
            part("create_object(\"Varne.Browser\")").push_back(time_ms([&] {
                created = create_library_object<_Browser>(u"Varne.Browser");
            }));
            part("its first ReadyState").push_back(time_ms([&] {
                get_property(*created->GetBrowser(), u"ReadyState");
            }));
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
        add_against_bare("GotoURL small page (base: Page.navigate + load event)", [&](int run) {
            const std::string page = url(run % 2 ? "small_a.html" : "small_b.html");
            const double bare_ms = time_ms([&] { bare.navigate(page); });
            return std::pair{bare_ms, time_ms([&] { browser->GotoURL(from_utf8(page)); })};
        });
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
        add_against_bare("ClickLink + its wait (base: click + load event)", [&](int run) {
            const double bare_ms = time_ms([&] { bare.click_and_load(); });
            const std::u16string text = run % 2 ? u"Next" : u"Back";
            return std::pair{bare_ms, time_ms([&] {
                                 expect(browser->ClickLink(browser.document(), text, brwInnerText, 0) == 0,
                                        "ClickLink");
                             })};
        });
    }

    // A link whose handler calls confirm(): the dialog is opened, then answered with OK.
    void answer_confirm(BarePage& bare, LibraryBrowser& browser)
    {
        progress("PopupClickOk");
        bare.navigate(url("confirm.html"));
        browser->GotoURL(from_utf8(url("confirm.html")));
        add_against_bare("PopupClickOk on confirm() (base: handleJavaScriptDialog)", [&](int) {
            bare.open_dialog();
            const double bare_ms = time_ms([&] { bare.accept_dialog(); });
            expect(browser->ClickLink(browser.document(), u"Ask", brwInnerText, 0) == 0, "ClickLink of Ask");
            return std::pair{bare_ms, time_ms([&] { expect(browser->PopupClickOk() == 0, "PopupClickOk"); })};
        });
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
