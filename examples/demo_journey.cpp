// The Varne demo journey in C++: the same walk through the bundled demo shop as
// demo_journey.py, through the library's C++ API.
//
//     build/examples/demo_journey [--output DIR] [--settings FILE]
//
// It reads its settings with Config from demo_journey.cfg beside the program, starts the demo
// shop (demo_server.py, beside it too) unless BASE_URL names another, drives a Browser through
// the shop step by step, times every step with Timing, prints a table of the steps and leaves
// in the output folder the browser's log, the settings it ran with and a workbook of the steps
// (written with ExcelConn). It exits with status 1, naming the step, when a check fails.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <initializer_list>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <varne/varne.h>

extern char** environ;

namespace {

using namespace varne;
namespace fs = std::filesystem;

constexpr char kDefaultOutput[] = "varne-demo-output";
constexpr char kLogFile[] = "demo_journey.log";
constexpr char kSettingsFile[] = "demo_journey_settings.cfg";
constexpr char kWorkbookFile[] = "demo_journey.xls";
constexpr int16_t kShelfFrame = 1;  // the catalogue's middle frame, where products are shown
constexpr const char16_t* kStepColumns[] = {u"Step", u"Result", u"Started", u"Lapsed", u"Milliseconds"};
constexpr char16_t kTimeFormat[] = u"hh:mm:ss";
constexpr char16_t kDateTimeFormat[] = u"yyyy-mm-dd hh:mm:ss";
constexpr char16_t kMillisecondsFormat[] = u"#,##0";

// A check of the journey that did not hold; the text says what was expected.
class StepFailed : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

void check(bool condition, const std::string& expected)
{
    if (!condition)
        throw StepFailed("expected " + expected);
}

// The browser on the demo shop, and the account that the journey logs in with.
struct Shop {
    Ref<_Browser> browser;
    BStr base;
    BStr user;
    BStr password;

    BStr url(std::u16string_view page) const { return base + u"/" + BStr(page); }

    // The document shown now: take it afresh after every load, as a gone page's document fails.
    Ref<Dispatch> page() const { return get_object(browser->GetBrowser(), u"Document"); }

    // The document in the catalogue's shelf frame.
    Ref<Dispatch> shelf() const
    {
        return get_object(get_item(get_object(page(), u"frames"), kShelfFrame), u"document");
    }

    Ref<Dispatch> form(const Ref<Dispatch>& document, std::u16string_view name) const
    {
        int16_t position = browser->FormExists(document, BStr(name));
        check(position >= 0, "a form named '" + to_utf8(name) + "'");
        return get_item(get_object(document, u"forms"), position);
    }
};

// The steps, in the order they run. Each raises StepFailed when a check fails.

void open_home_page(Shop& shop)
{
    shop.browser->GotoURL(shop.url(u"index.html"));  // returns once the page has loaded
    shop.form(shop.page(), u"login");
}

void log_in(Shop& shop)
{
    Ref<Dispatch> form = shop.form(shop.page(), u"login");
    // The form's fields are the page's own DOM objects: set them as a person would type.
    put_property(get_item(get_object(form, u"elements"), u"user"), u"value", shop.user);
    put_property(get_item(get_object(form, u"elements"), u"password"), u"value", shop.password);
    check(shop.browser->ClickFormButton(form, u"Log in") == 0, "a 'Log in' button");
}

void check_greeting(Shop& shop)
{
    BStr greeting = u"Welcome, " + shop.user;
    Ref<Dispatch> page = shop.page();
    check(shop.browser->MatchInnerText(page, greeting, u"H1") == 0,
          "the heading '" + to_utf8(greeting) + "' (the page is '" + to_utf8(get_text(page, u"title")) + "')");
}

void open_catalogue(Shop& shop)
{
    // GotoURL waits for every frame, nested ones too, so it comes back only after the
    // deliberately slow offers frame (about a second).
    shop.browser->GotoURL(shop.url(u"catalogue.html"));
    Ref<Dispatch> frames = get_object(shop.page(), u"frames");
    check(to_i4(get_property(*frames, u"length")) == 3, "a frameset of three frames");
    Ref<Dispatch> offers =
        get_object(get_item(get_object(get_object(get_item(frames, 2), u"document"), u"frames"), 1), u"document");
    check(shop.browser->MatchInnerText(offers, u"Offer of the day", u"P", brwLeftMatch) == 0,
          "the slow offers frame to have loaded");
}

void load_product_list(Shop& shop)
{
    check(shop.browser->FrameGotoURL(kShelfFrame, shop.url(u"products.html")) == 0, "a shelf frame");
    check(get_text(shop.shelf(), u"title") == u"Products", "the product list in the shelf frame");
}

void count_text_links(Shop& shop)
{
    // Two links read "Kettle": today's pick and the one in the list.
    int16_t count = shop.browser->LinkExists(shop.shelf(), u"Kettle");
    check(count == 2, "2 links reading 'Kettle', found " + std::to_string(count));
}

void count_image_links(Shop& shop)
{
    Ref<Dispatch> shelf = shop.shelf();
    int16_t by_alt = shop.browser->LinkExists(shelf, u"Teapot", brwImgAlt);
    int16_t by_file = shop.browser->ImageExists(shelf, u"teapot.svg", brwImgSrc);
    check(by_alt == 1, "1 link made of the image 'Teapot', found " + std::to_string(by_alt));
    check(by_file == 1, "1 image teapot.svg, found " + std::to_string(by_file));
}

void open_product_by_text(Shop& shop)
{
    // Occurrence 1 picks the second link reading "Kettle", the one in the list.
    check(shop.browser->ClickLink(shop.shelf(), u"Kettle", brwInnerText, 1) == 0, "a second 'Kettle' link");
    check(shop.browser->MatchInnerText(shop.shelf(), u"Kettle", u"H1") == 0, "the Kettle's page");
}

void open_product_by_image(Shop& shop)
{
    check(shop.browser->ClickLink(shop.shelf(), u"Back to products") == 0, "a 'Back to products' link");
    check(shop.browser->ClickLink(shop.shelf(), u"Teapot", brwImgAlt) == 0, "a link made of the image 'Teapot'");
    check(shop.browser->MatchInnerText(shop.shelf(), u"Teapot", u"H1") == 0, "the Teapot's page");
}

void check_out(Shop& shop)
{
    Ref<Dispatch> form = shop.form(shop.shelf(), u"buy");
    put_property(get_item(get_object(form, u"elements"), u"quantity"), u"value", u"2");
    // The form targets the top window: the checkout replaces the whole catalogue.
    check(shop.browser->ClickFormButton(form, u"Check out") == 0, "a 'Check out' button");
    check(shop.browser->MatchInnerText(shop.page(), u"Checkout", u"H1") == 0, "the checkout page");
}

void place_order(Shop& shop)
{
    Ref<Dispatch> form = shop.form(shop.page(), u"order");
    // The form asks a JavaScript confirm before it is sent: the click comes back with the
    // dialog open, PopupClickOk answers it, and only then does the order page start to
    // load, so it is waited for with WaitForBrowser.
    check(shop.browser->ClickFormButton(form, u"Place order") == 0, "a 'Place order' button");
    check(shop.browser->PopupClickOk() == 0, "a confirm dialog to answer");
    check(shop.browser->WaitForBrowser() == 0, "the order page to load");
}

void check_confirmation(Shop& shop)
{
    Ref<Dispatch> page = shop.page();
    check(shop.browser->MatchInnerText(page, u"Order confirmed", u"H1") == 0,
          "the order confirmation (the page is '" + to_utf8(get_text(page, u"title")) + "')");
    // The shop lists what it received; each field can be read back by its id.
    std::string product = to_utf8(get_text(to_object(call(page, u"getElementById", {u"product"})), u"innerText"));
    std::string quantity = to_utf8(get_text(to_object(call(page, u"getElementById", {u"quantity"})), u"innerText"));
    check(product == "Teapot" && quantity == "2",
          "an order of 2 Teapot, the shop received " + quantity + " " + product);
}

struct Step {
    const char* name;
    void (*run)(Shop&);
};

constexpr Step kSteps[] = {
    {"Open home page", open_home_page},
    {"Log in", log_in},
    {"Check greeting", check_greeting},
    {"Open catalogue", open_catalogue},
    {"Load product list", load_product_list},
    {"Count text links", count_text_links},
    {"Count image links", count_image_links},
    {"Open product by text", open_product_by_text},
    {"Open product by image", open_product_by_image},
    {"Check out", check_out},
    {"Place order", place_order},
    {"Check confirmation", check_confirmation},
};
constexpr size_t kStepCount = std::size(kSteps);

std::string align_left(std::string text, size_t width)
{
    text.resize(std::max(text.size(), width), ' ');
    return text;
}

std::string align_right(const std::string& text, size_t width)
{
    return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

// One step as it ran: when it started (an automation date, to the whole second), its lapsed
// time as Timing counts it (whole seconds and the lapsed text) and its duration in
// milliseconds, measured around it with the monotonic clock.
struct StepResult {
    std::string name;
    bool passed;
    Variant started;
    int32_t seconds;
    BStr lapsed;
    int64_t milliseconds;
};

// Runs the steps in order, each timed under its own name, and stops at the first that
// fails: the later ones build on it. The failure's text is left in `failure`.
std::vector<StepResult> run_steps(Shop& shop, _Timing& timing, std::string& failure)
{
    std::vector<StepResult> results;
    for (size_t number = 1; const Step& step : kSteps) {
        std::cout << "[" << align_right(std::to_string(number++), 2) << "/" << kStepCount << "] "
                  << align_left(step.name, 24) << " " << std::flush;
        BStr name = from_utf8(step.name);
        timing.StartTiming(name);
        auto started = std::chrono::steady_clock::now();
        try {
            step.run(shop);
        } catch (const StepFailed& error) {
            failure = error.what();
        } catch (const AutomationError& error) {
            failure = error.description() + " (error " + std::to_string(error.number()) + ")";
        }
        auto lasted = std::chrono::steady_clock::now() - started;
        timing.EndTiming(name);
        results.push_back({step.name, failure.empty(), timing.GetStartTime(name), timing.GetLapsed(name),
                           timing.LapsedString(name),
                           std::chrono::duration_cast<std::chrono::milliseconds>(lasted).count()});
        std::cout << (failure.empty() ? "PASS" : "FAIL") << std::endl;
        if (!failure.empty()) {
            failure = "step '" + std::string(step.name) + "' failed: " + failure;
            break;
        }
    }
    return results;
}

size_t count_passed(const std::vector<StepResult>& results)
{
    return static_cast<size_t>(
        std::count_if(results.begin(), results.end(), [](const StepResult& result) { return result.passed; }));
}

void print_table(const std::vector<StepResult>& results, int32_t total_seconds)
{
    std::cout << "\n" << align_left("Step", 24) << " Result  Seconds  Milliseconds\n";
    for (const StepResult& result : results)
        std::cout << align_left(result.name, 24) << " " << (result.passed ? "PASS  " : "FAIL  ") << "  "
                  << align_right(std::to_string(result.seconds), 7) << "  "
                  << align_right(std::to_string(result.milliseconds), 12) << "\n";
    std::cout << results.size() << " of " << kStepCount << " steps run, " << count_passed(results) << " passed, "
              << total_seconds << " s in all\n";
}

Ref<Dispatch> cell(const Ref<Dispatch>& sheet, int32_t row, int32_t column)
{
    return to_object(call(sheet, u"Cells", {row, column}));
}

void set_cell(const Ref<Dispatch>& sheet, int32_t row, int32_t column, const Variant& value)
{
    put_property(cell(sheet, row, column), u"Value", value);
}

// Writes the summary and the steps into a workbook through the spreadsheet's object model,
// with formats for times and durations and columns as wide as their texts, and saves it as
// an .xls that opens on the summary.
void write_workbook(const fs::path& path, const std::vector<StepResult>& results, _Timing& timing, const BStr& journey)
{
    Ref<_ExcelConn> excel = create_library_object<_ExcelConn>(u"Varne.ExcelConn");
    Ref<Dispatch> sheets = get_object(excel->GetXL(), u"Sheets");
    // A new workbook has three sheets: the first becomes the summary, the second the steps.
    Ref<Dispatch> summary = get_item(sheets, 1);
    Ref<Dispatch> steps = get_item(sheets, 2);
    put_property(summary, u"Name", u"Summary");
    put_property(steps, u"Name", u"Steps");
    call(get_item(sheets, 3), u"Delete");

    const auto run = static_cast<int32_t>(results.size());
    const auto passed = static_cast<int32_t>(count_passed(results));
    struct Total {
        const char16_t* label;
        Variant value;
        const char16_t* format = nullptr;
    };
    const Total totals[] = {
        {u"Steps", static_cast<int32_t>(kStepCount)},
        {u"Run", run},
        {u"Passed", passed},
        {u"Failed", run - passed},
        {u"Started", timing.GetStartTime(journey), kDateTimeFormat},
        {u"Seconds", timing.GetLapsed(journey)},
        {u"Lapsed", timing.LapsedString(journey)},
        {u"Result", passed == static_cast<int32_t>(kStepCount) ? u"PASS" : u"FAIL"},
    };
    for (int32_t row = 1; const Total& total : totals) {
        set_cell(summary, row, 1, total.label);
        set_cell(summary, row, 2, total.value);
        if (total.format)
            put_property(cell(summary, row, 2), u"NumberFormat", total.format);
        ++row;
    }

    for (int32_t column = 1; const char16_t* title : kStepColumns)
        set_cell(steps, 1, column++, title);
    for (int32_t row = 2; const StepResult& result : results) {
        set_cell(steps, row, 1, from_utf8(result.name));
        set_cell(steps, row, 2, result.passed ? u"PASS" : u"FAIL");
        set_cell(steps, row, 3, result.started);
        set_cell(steps, row, 4, result.lapsed);
        set_cell(steps, row++, 5, static_cast<double>(result.milliseconds));
    }
    const std::string last = std::to_string(results.size() + 1);
    put_property(to_object(call(steps, u"Range", {"C2:C" + last})), u"NumberFormat", kTimeFormat);
    put_property(to_object(call(steps, u"Range", {"E2:E" + last})), u"NumberFormat", kMillisecondsFormat);
    for (const Ref<Dispatch>& sheet : {summary, steps})
        call(get_object(sheet, u"Columns"), u"AutoFit");
    excel->SaveWorkbook(from_utf8(path.string()), u"Summary");
}

// The bundled demo shop, run as `python3 demo_server.py` for as long as this object lives.
// The server prints its address as its first line and stops when its standard input closes.
class DemoServerProcess {
public:
    explicit DemoServerProcess(const fs::path& script)
    {
        int input[2];
        int output[2];
        // Close-on-exec, so that the browser started later does not inherit them and keep
        // the server's input open.
        if (pipe2(input, O_CLOEXEC) != 0 || pipe2(output, O_CLOEXEC) != 0)
            throw std::runtime_error("cannot make pipes for the demo server");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
        posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
        std::string path = script.string();
        char* argv[] = {const_cast<char*>("python3"), path.data(), nullptr};
        int failed = posix_spawnp(&m_pid, "python3", &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(input[0]);
        close(output[1]);
        m_input = input[1];
        if (failed != 0) {
            close(output[0]);
            throw std::runtime_error("cannot start python3 " + path);
        }
        m_base = read_line(output[0]);
        close(output[0]);
        if (m_base.empty())
            throw std::runtime_error("the demo server " + path + " did not say its address");
    }

    ~DemoServerProcess()
    {
        close(m_input);
        if (m_pid > 0)
            waitpid(m_pid, nullptr, 0);
    }

    DemoServerProcess(const DemoServerProcess&) = delete;
    DemoServerProcess& operator=(const DemoServerProcess&) = delete;

    const std::string& base() const { return m_base; }

private:
    static std::string read_line(int fd)
    {
        std::string line;
        char c;
        while (read(fd, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

    pid_t m_pid = -1;
    int m_input = -1;
    std::string m_base;
};

[[noreturn]] void usage()
{
    std::cerr << "usage: demo_journey [--output DIR] [--settings FILE]\n";
    std::exit(2);
}

struct Arguments {
    std::optional<std::string> output;
    fs::path settings;
};

Arguments parse_arguments(int argc, char** argv, const fs::path& here)
{
    Arguments arguments{std::nullopt, here / "demo_journey.cfg"};
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        if (option == "--output" && i + 1 < argc)
            arguments.output = argv[++i];
        else if (option == "--settings" && i + 1 < argc)
            arguments.settings = argv[++i];
        else
            usage();
    }
    return arguments;
}

// Loads the settings file; an --output on the command line wins over its OUTPUT.
Ref<_Config> read_settings(const Arguments& arguments)
{
    Ref<_Config> settings = create_library_object<_Config>(u"Varne.Config");
    if (settings->Load(from_utf8(arguments.settings.string())) != 0) {
        std::cerr << "demo_journey: cannot read the settings file " << arguments.settings.string() << "\n";
        std::exit(2);
    }
    if (arguments.output)
        settings->SetItem(u"OUTPUT", from_utf8(*arguments.output));
    if (settings->GetItem(u"OUTPUT").empty())
        settings->SetItem(u"OUTPUT", from_utf8(kDefaultOutput));
    return settings;
}

int run_journey(int argc, char** argv)
{
    // The settings file and the demo shop are copied beside the program when it is built.
    const fs::path here = fs::canonical("/proc/self/exe").parent_path();
    Ref<_Config> settings = read_settings(parse_arguments(argc, argv, here));
    const fs::path output = to_utf8(settings->GetItem(u"OUTPUT"));
    fs::create_directories(output);

    // BASE_URL names a shop to visit; left empty, the bundled one is served for the journey.
    std::optional<DemoServerProcess> server;
    BStr base = settings->GetItem(u"BASE_URL");
    if (base.empty())
        base = from_utf8(server.emplace(here / "demo_server.py").base());
    while (!base.empty() && base.back() == u'/')
        base.pop_back();
    std::cout << "Demo shop at " << to_utf8(base) << std::endl;

    Ref<_Timing> timing = create_library_object<_Timing>(u"Varne.Timing");
    Shop shop{create_library_object<_Browser>(u"Varne.Browser"), base, settings->GetItem(u"USER"),
              settings->GetItem(u"PASSWORD")};
    shop.browser->SetBrowserLog(from_utf8((output / kLogFile).string()));
    std::string failure;
    timing->StartTiming(u"Journey");
    std::vector<StepResult> results = run_steps(shop, *timing, failure);
    timing->EndTiming(u"Journey");
    shop.browser->CloseBrowserLog();

    print_table(results, timing->GetLapsed(u"Journey"));
    write_workbook(output / kWorkbookFile, results, *timing, u"Journey");
    settings->Save(from_utf8((output / kSettingsFile).string()));
    std::cout << "Log, settings and workbook are in " << fs::absolute(output).string() << std::endl;
    if (!failure.empty()) {
        std::cerr << "demo_journey: " << failure << "\n";
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    try {
        return run_journey(argc, argv);
    } catch (const AutomationError& error) {
        std::cerr << "demo_journey: " << error.description() << " (error " << error.number() << ")\n";
    } catch (const std::exception& error) {
        std::cerr << "demo_journey: " << error.what() << "\n";
    }
    return 2;
}
