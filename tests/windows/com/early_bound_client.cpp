// A C++ client of the registered Varne.dll: calls through the dual interfaces' function tables
// (declared by the header that widl makes from the type library's description), through
// IDispatch with named and omitted arguments, across apartments, reads a page's missing objects
// as Nothing (given the test site as its second argument), and asks the DLL whether it may be
// unloaded. Last it creates and releases browsers on both engines, headless and (where DISPLAY
// names a display) headed, has the DLL unloaded, and lives on while the headed windows stay open
// and then close. Prints "N passed, N failed".
#include <initguid.h>

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>

#include "Varne_h.h"

namespace {

const IID kNoInterface{};

int g_passed = 0;
int g_failed = 0;

void check(const char* what, bool ok)
{
    if (ok) {
        ++g_passed;
        return;
    }
    ++g_failed;
    std::printf("FAIL %s\n", what);
}

void check_hr(const char* what, HRESULT actual, HRESULT expected)
{
    if (actual != expected)
        std::printf("FAIL %s: 0x%08lX, expected 0x%08lX\n", what, static_cast<unsigned long>(actual),
                    static_cast<unsigned long>(expected));
    (actual == expected ? g_passed : g_failed) += 1;
}

std::wstring error_description()
{
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) != S_OK || !info)
        return L"<no error object>";
    BSTR text = nullptr;
    info->GetDescription(&text);
    std::wstring description = text ? text : L"";
    SysFreeString(text);
    info->Release();
    return description;
}

// An object of the class through the interface, counted as a check; nullptr when none is made.
template <class Interface>
Interface* create(const CLSID& cls, const IID& iid, const char* what)
{
    Interface* object = nullptr;
    CoCreateInstance(cls, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&object));
    check(what, object != nullptr);
    return object;
}

struct Bstr {
    BSTR value;
    explicit Bstr(const wchar_t* text) : value(SysAllocString(text)) {}
    Bstr() : value(nullptr) {}
    ~Bstr() { SysFreeString(value); }
    std::wstring text() const { return value ? std::wstring(value, SysStringLen(value)) : std::wstring(); }
};

using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
using GetClassObject = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);

void early_bound_timing_and_logging()
{
    _Timing* timing = nullptr;
    check_hr(
        "create Timing",
        CoCreateInstance(CLSID_Timing, nullptr, CLSCTX_INPROC_SERVER, IID__Timing, reinterpret_cast<void**>(&timing)),
        S_OK);
    if (!timing)
        return;
    Bstr name(L"Step");
    check_hr("StartTiming", timing->StartTiming(&name.value), S_OK);
    check_hr("EndTiming", timing->EndTiming(&name.value), S_OK);
    Bstr text;
    check_hr("LapsedString", timing->LapsedString(&name.value, &text.value), S_OK);
    check("lapsed text", text.text() == L"0 days 00:00:00");
    LONG seconds = 7;
    Bstr other(L"Other");
    check_hr("GetLapsed", timing->GetLapsed(&other.value, &seconds), S_OK);
    check("unknown lapsed", seconds == -1);
    VARIANT start;
    VariantInit(&start);
    check_hr("GetStartTime", timing->GetStartTime(&name.value, &start), S_OK);
    check("start is a date", start.vt == VT_DATE);
    VariantClear(&start);

    ISupportErrorInfo* support = nullptr;
    check_hr("ISupportErrorInfo", timing->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)),
             S_OK);
    if (support) {
        check_hr("supports error info", support->InterfaceSupportsErrorInfo(IID__Timing), S_OK);
        support->Release();
    }
    timing->Release();

    auto* log = create<_Logging>(CLSID_Logging, IID__Logging, "create Logging");
    if (!log)
        return;
    VARIANT_BOOL open = 1;
    check_hr("IsOpen", log->IsOpen(&open), S_OK);
    check("closed", open == VARIANT_FALSE);
    short code = 0;
    Bstr data(L"x");
    check_hr("AppendLog", log->AppendLog(&data.value, &code), S_OK);
    check("no log", code == -1);
    log->Release();
}

void errors_through_the_table(const std::wstring& folder)
{
    auto* config = create<_Config>(CLSID_Config, IID__Config, "create Config");
    if (!config)
        return;
    Bstr path((folder + L"\\long.cfg").c_str());
    short result = 0;
    check_hr("overflow through the table", config->Load(&path.value, &result), static_cast<HRESULT>(0x800A0006));
    check("overflow described", error_description() == L"Overflow");
    config->Release();
}

void late_bound_with_named_and_omitted_arguments(const std::wstring& folder)
{
    auto* conn = create<IDispatch>(CLSID_ExcelConn, IID_IDispatch, "create ExcelConn");
    if (!conn)
        return;
    LPOLESTR names[] = {const_cast<LPOLESTR>(L"saveworkbook"), const_cast<LPOLESTR>(L"DEFAULTSHEET"),
                        const_cast<LPOLESTR>(L"Filename")};
    DISPID ids[3] = {};
    check_hr("names in any case", conn->GetIDsOfNames(kNoInterface, names, 3, 0x409, ids), S_OK);
    check("dispatch ids", ids[0] == 2 && ids[1] == 1 && ids[2] == 0);
    LPOLESTR unknown[] = {const_cast<LPOLESTR>(L"Nope")};
    DISPID unknown_id = 0;
    check_hr("an unknown name", conn->GetIDsOfNames(kNoInterface, unknown, 1, 0x409, &unknown_id), DISP_E_UNKNOWNNAME);

    // SaveWorkbook(DefaultSheet:="Nope", Filename:=path): named, in another order than declared.
    Bstr path((folder + L"\\named.xls").c_str());
    Bstr sheet(L"Nope");
    VARIANT args[2];
    args[0].vt = VT_BSTR | VT_BYREF;
    args[0].pbstrVal = &sheet.value;
    args[1].vt = VT_BSTR;
    args[1].bstrVal = path.value;
    DISPID named[2] = {1, 0};
    DISPPARAMS params{args, named, 2, 2};
    EXCEPINFO info{};
    HRESULT hr = conn->Invoke(ids[0], kNoInterface, 0x409, DISPATCH_METHOD, &params, nullptr, &info, nullptr);
    check_hr("named arguments reach the member", hr, DISP_E_EXCEPTION);
    check_hr("its scode", info.scode, static_cast<HRESULT>(0x800A0009));
    check("its description",
          info.bstrDescription &&
              std::wstring(info.bstrDescription) == L"Subscript out of range: workbook 'Book1' has no sheet 'Nope'");
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrHelpFile);

    // SaveWorkbook(path, <omitted>): the omitted DefaultSheet takes its default.
    VARIANT positional[2];
    positional[0].vt = VT_ERROR;
    positional[0].scode = DISP_E_PARAMNOTFOUND;
    positional[1].vt = VT_BSTR;
    positional[1].bstrVal = path.value;
    DISPPARAMS omitted{positional, nullptr, 2, 0};
    check_hr("an omitted optional argument",
             conn->Invoke(ids[0], kNoInterface, 0x409, DISPATCH_METHOD, &omitted, nullptr, nullptr, nullptr), S_OK);
    check("the workbook saved", GetFileAttributesW(path.value) != INVALID_FILE_ATTRIBUTES);

    _ExcelConn* typed = nullptr;
    conn->QueryInterface(IID__ExcelConn, reinterpret_cast<void**>(&typed));
    check("the dual interface", typed != nullptr);
    if (typed) {
        IDispatch* first = nullptr;
        IDispatch* second = nullptr;
        typed->GetXL(&first);
        typed->GetXL(&second);
        check("the same object gives the same COM object", first && first == second);
        if (first)
            first->Release();
        if (second)
            second->Release();
        typed->Release();
    }
    conn->Release();
}

// A Timing made here, used from another apartment through the type library's marshaller.
void across_apartments()
{
    _Timing* timing = nullptr;
    CoCreateInstance(CLSID_Timing, nullptr, CLSCTX_INPROC_SERVER, IID__Timing, reinterpret_cast<void**>(&timing));
    if (!timing) {
        check("create Timing for another apartment", false);
        return;
    }
    IStream* stream = nullptr;
    check_hr("marshal", CoMarshalInterThreadInterfaceInStream(IID__Timing, timing, &stream), S_OK);
    HRESULT called = E_FAIL;
    HANDLE done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    std::thread other([&] {
        CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        _Timing* proxy = nullptr;
        if (SUCCEEDED(CoGetInterfaceAndReleaseStream(stream, IID__Timing, reinterpret_cast<void**>(&proxy)))) {
            Bstr name(L"Remote");
            called = proxy->StartTiming(&name.value);
            proxy->Release();
        }
        CoUninitialize();
        SetEvent(done);
    });
    // The owning apartment serves the call while it waits.
    while (MsgWaitForMultipleObjects(1, &done, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
    }
    other.join();
    CloseHandle(done);
    check_hr("a call from another apartment", called, S_OK);
    Bstr name(L"Remote");
    Bstr text;
    timing->LapsedString(&name.value, &text.value);
    check("it ran on the object", text.text() == L"0 days 00:00:00");
    timing->Release();
}

// A page's lookup that finds no object gives VT_DISPATCH holding null, the Nothing of scripts;
// the Browser through its dual interface, the page through IDispatch.
VARIANT call_by_name(IDispatch* object, const wchar_t* name, WORD flags, const wchar_t* argument)
{
    VARIANT result;
    VariantInit(&result);
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(object->GetIDsOfNames(kNoInterface, names, 1, 0x409, &id)))
        return result;
    VARIANT given;
    VariantInit(&given);
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    if (argument) {
        given.vt = VT_BSTR;
        given.bstrVal = SysAllocString(argument);
        params = {&given, nullptr, 1, 0};
    }
    object->Invoke(id, kNoInterface, 0x409, flags, &params, &result, nullptr, nullptr);
    VariantClear(&given);
    return result;
}

bool is_nothing(const VARIANT& value)
{
    return value.vt == VT_DISPATCH && value.pdispVal == nullptr;
}

void nothing_from_the_page(const std::wstring& site)
{
    _Browser* browser = nullptr;
    CoCreateInstance(CLSID_Browser, nullptr, CLSCTX_INPROC_SERVER, IID__Browser, reinterpret_cast<void**>(&browser));
    if (!browser) {
        check("create Browser", false);
        return;
    }
    Bstr url((site + L"dialogs.html").c_str());
    check_hr("a page loaded", browser->GotoURL(&url.value), S_OK);
    IDispatch* application = nullptr;
    browser->GetBrowser(&application);
    if (application) {
        VARIANT document = call_by_name(application, L"Document", DISPATCH_PROPERTYGET, nullptr);
        check("its document", document.vt == VT_DISPATCH && document.pdispVal);
        if (document.vt == VT_DISPATCH && document.pdispVal) {
            VARIANT missing = call_by_name(document.pdispVal, L"getElementById", DISPATCH_METHOD, L"none");
            check("a missing id gives Nothing", is_nothing(missing));
            VARIANT parent = call_by_name(document.pdispVal, L"parentNode", DISPATCH_PROPERTYGET, nullptr);
            check("the document's parent is Nothing", is_nothing(parent));
            VARIANT found = call_by_name(document.pdispVal, L"getElementById", DISPATCH_METHOD, L"out");
            check("an element that is there", found.vt == VT_DISPATCH && found.pdispVal);
            VARIANT attribute = found.vt == VT_DISPATCH && found.pdispVal
                                    ? call_by_name(found.pdispVal, L"getAttribute", DISPATCH_METHOD, L"missing")
                                    : VARIANT{};
            check("a missing attribute stays Null", attribute.vt == VT_NULL);
            VariantClear(&found);
        }
        VariantClear(&document);
        application->Release();
    }
    browser->Release();
}

// Polls `done` for up to `seconds`, serving this apartment's messages meanwhile.
template <class Condition>
bool eventually(Condition done, int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done() && std::chrono::steady_clock::now() < deadline) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        Sleep(100);
    }
    return done();
}

void unloading()
{
    HMODULE library = GetModuleHandleW(L"Varne.dll");
    check("the DLL is loaded", library != nullptr);
    if (!library)
        return;
    auto can_unload = reinterpret_cast<CanUnloadNow>(GetProcAddress(library, "DllCanUnloadNow"));
    auto get_class_object = reinterpret_cast<GetClassObject>(GetProcAddress(library, "DllGetClassObject"));
    // The headless browser of the Browsers before is kept a moment for a next one, and holds the library.
    check("idle once the browser kept for a next Browser has ended",
          eventually([&] { return can_unload() == S_OK; }, 30));

    const CLSID unknown{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    void* object = reinterpret_cast<void*>(1);
    check_hr("an unknown class", get_class_object(unknown, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
    check("nothing handed out", object == nullptr);
    check_hr("still idle", can_unload(), S_OK);

    IClassFactory* factory = nullptr;
    check_hr("class object", get_class_object(CLSID_Timing, IID_IClassFactory, reinterpret_cast<void**>(&factory)),
             S_OK);
    if (!factory)
        return;
    factory->LockServer(FALSE);  // without a lock: changes nothing
    check_hr("an unbalanced unlock", can_unload(), S_OK);
    factory->LockServer(TRUE);
    check_hr("locked", can_unload(), S_FALSE);
    factory->LockServer(FALSE);
    check_hr("unlocked", can_unload(), S_OK);

    IUnknown* timing = nullptr;
    factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&timing));
    check_hr("an object alive", can_unload(), S_FALSE);
    IUnknown* outer = reinterpret_cast<IUnknown*>(timing);
    IUnknown* aggregated = nullptr;
    check_hr("no aggregation", factory->CreateInstance(outer, IID_IUnknown, reinterpret_cast<void**>(&aggregated)),
             CLASS_E_NOAGGREGATION);
    if (timing)
        timing->Release();
    check_hr("released", can_unload(), S_OK);
    factory->Release();
}

// The browsers' folders under %TEMP% that the library made, each with the host pid of its browser.
std::map<std::wstring, int> browser_folders()
{
    wchar_t temp[MAX_PATH + 1];
    const std::wstring base(temp, GetTempPathW(MAX_PATH + 1, temp));
    std::map<std::wstring, int> found;
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW((base + L"varne-*").c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return found;
    do {
        std::ifstream pid_file(std::filesystem::path(base + entry.cFileName) / L"pid");
        int pid = 0;
        pid_file >> pid;
        found[base + entry.cFileName] = pid;
    } while (FindNextFileW(search, &entry));
    FindClose(search);
    return found;
}

bool host_process_runs(int pid)
{
    std::ifstream stat("Z:\\proc\\" + std::to_string(pid) + "\\stat");
    std::string line;
    std::getline(stat, line);
    const auto name_end = line.rfind(')');
    return name_end != std::string::npos && name_end + 2 < line.size() && line[name_end + 2] != 'Z';
}

// What a person closing the browser's last window does to it.
void ask_to_close(int pid)
{
    std::wstring command = L"/bin/kill -TERM " + std::to_wstring(pid);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        if (process.hProcess)
            CloseHandle(process.hProcess);
        if (process.hThread)
            CloseHandle(process.hThread);
    }
}

void released_browsers_outlive_the_library(const std::wstring& site, bool headed)
{
    const auto before = browser_folders();
    int headed_created = 0;
    for (const wchar_t* engine : {L"chromium", L"firefox"}) {
        _wputenv_s(L"VARNE_BROWSER", engine);
        for (const bool headless : {true, false}) {
            if (!headless && !headed)
                continue;
            _wputenv_s(L"VARNE_HEADLESS", headless ? L"1" : L"0");
            _Browser* browser = nullptr;
            const HRESULT created = CoCreateInstance(CLSID_Browser, nullptr, CLSCTX_INPROC_SERVER, IID__Browser,
                                                     reinterpret_cast<void**>(&browser));
            check("create a Browser to release", browser != nullptr);
            if (!browser) {
                std::printf("  %ls: 0x%08lX %ls\n", engine, static_cast<unsigned long>(created),
                            error_description().c_str());
                continue;
            }
            Bstr url((site + L"index.html").c_str());
            check_hr("a page loaded before release", browser->GotoURL(&url.value), S_OK);
            browser->Release();
            headed_created += headless ? 0 : 1;
        }
    }
    _wputenv_s(L"VARNE_HEADLESS", L"1");
    const auto unloaded = [] {
        CoFreeUnusedLibraries();
        return GetModuleHandleW(L"Varne.dll") == nullptr;
    };
    check("the DLL unloads once every Browser is released", eventually(unloaded, 30));
    std::map<std::wstring, int> kept;
    for (const auto& [folder, pid] : browser_folders()) {
        if (!before.contains(folder))
            kept[folder] = pid;
    }
    check("a headless browser leaves nothing at release; a headed one stays",
          static_cast<int>(kept.size()) == headed_created);
    // Time for the browsers' later events to reach this process, which has none of the library left.
    eventually([] { return false; }, 3);
    for (const auto& [folder, pid] : kept) {
        check("a released headed browser runs on", pid > 0 && host_process_runs(pid));
        ask_to_close(pid);
    }
    for (const auto& [folder, pid] : kept) {
        const bool gone = eventually(
            [&] { return !host_process_runs(pid) && GetFileAttributesW(folder.c_str()) == INVALID_FILE_ATTRIBUTES; },
            30);
        check("a closed browser leaves no process and no profile", gone);
        if (!gone)
            std::printf("FAIL left: %ls (pid %d)\n", folder.c_str(), pid);
    }
    eventually([] { return false; }, 2);
    check("this process lives on", true);
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    // A crash must not take the lines already printed with it.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    std::wstring folder = argc > 1 ? argv[1] : L".";
    // Every Browser before the last test is headless; that test asks for headed ones itself.
    const char* display = std::getenv("DISPLAY");
    const bool headed = display != nullptr && *display != '\0';
    _wputenv_s(L"VARNE_HEADLESS", L"1");
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    early_bound_timing_and_logging();
    errors_through_the_table(folder);
    late_bound_with_named_and_omitted_arguments(folder);
    across_apartments();
    if (argc > 2)
        nothing_from_the_page(argv[2]);
    unloading();
    if (argc > 2)
        released_browsers_outlive_the_library(argv[2], headed);
    CoUninitialize();
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
