#include "platform/chromium/windows/windows_browser_host.h"

#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "frame/automation_error.h"
#include "frame/text.h"
#include "platform/chromium/browser_switches.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/crt_pipe_launch.h"
#include "platform/transport/server_unavailable.h"
#include "platform/transport/windows_pipe_transport.h"

namespace varne::cdp {

namespace {

using namespace std::chrono_literals;

constexpr auto kJobEndTimeout = 2000ms;
// Children of the browser may hold files of the profile for a moment after it has exited.
constexpr auto kRemoveTimeout = 2000ms;
constexpr auto kWindowTimeout = 3000ms;
constexpr auto kPollInterval = 20ms;

// A profile folder varne-profile-X is in use while its lock file varne-profile-X.lock is open: the
// lock is opened without delete sharing by the process that made it and given to a headed browser,
// so that it can be deleted only once both have ended, however they end. The lock is made before
// its folder, so no one sees a folder of a start in progress without it.
constexpr const wchar_t* kFolderPrefix = L"varne-profile-";
constexpr const wchar_t* kLockSuffix = L".lock";

constexpr const wchar_t* kAppPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
constexpr const wchar_t* kBrowserPrograms[] = {L"msedge.exe", L"chrome.exe"};

std::string utf8_name(const std::filesystem::path& path)
{
    const std::wstring& name = path.native();
    return to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), name.size()));
}

std::string last_error_text()
{
    return "error " + std::to_string(GetLastError());
}

// The default value of one App Paths key, without the quotes that some installers put around it;
// a REG_EXPAND_SZ value comes expanded.
std::optional<std::filesystem::path> registered_path(HKEY root, REGSAM view, const std::wstring& program)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, (kAppPaths + program).c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring value(MAX_PATH, L'\0');
    DWORD size = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    LSTATUS status = RegGetValueW(key, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &size);
    if (status == ERROR_MORE_DATA) {
        value.resize(size / sizeof(wchar_t) + 1);
        status = RegGetValueW(key, nullptr, nullptr, RRF_RT_REG_SZ, nullptr, value.data(), &size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return std::nullopt;
    value.resize(wcsnlen(value.c_str(), value.size()));
    if (value.size() >= 2 && value.front() == L'"' && value.back() == L'"')
        value = value.substr(1, value.size() - 2);
    std::error_code error;
    if (value.empty() || !std::filesystem::is_regular_file(value, error))
        return std::nullopt;
    return std::filesystem::path(value);
}

std::filesystem::path browser_executable()
{
    if (auto chosen = chosen_browser())
        return *chosen;
    if (auto installed = installed_browser())
        return *installed;
    throw server_unavailable(
        "No Chromium-based browser can be started: neither msedge.exe nor chrome.exe is registered under "
        "App Paths, and VARNE_CHROMIUM names none");
}

std::filesystem::path lock_of(const std::filesystem::path& folder)
{
    return folder.wstring() + kLockSuffix;
}

// Removes the profiles of browsers that have ended, with the locks that nobody holds any more.
void remove_abandoned_folders(const std::filesystem::path& base)
{
    std::error_code error;
    for (std::filesystem::directory_iterator entries(base, error), end; !error && entries != end;
         entries.increment(error)) {
        const std::filesystem::path path = entries->path();
        const std::wstring name = path.filename().wstring();
        if (!name.starts_with(kFolderPrefix))
            continue;
        std::error_code ignored;
        if (name.ends_with(kLockSuffix)) {
            const std::filesystem::path folder = name.substr(0, name.size() - wcslen(kLockSuffix));
            if (!std::filesystem::exists(base / folder, ignored))
                DeleteFileW(path.c_str());
            continue;
        }
        if (!entries->is_directory(ignored))
            continue;
        if (DeleteFileW(lock_of(path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
            std::filesystem::remove_all(path, ignored);
    }
}

struct ProfileFolder {
    std::filesystem::path path;
    HANDLE lock;
};

ProfileFolder make_folder()
{
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error)
        throw server_unavailable("Cannot find the temporary folder for the browser's profile");
    remove_abandoned_folders(base);
    std::random_device entropy;
    for (int attempt = 0; attempt < 16; ++attempt) {
        const uint64_t number = (uint64_t{entropy()} << 32) | entropy();
        const std::filesystem::path folder = base / (kFolderPrefix + std::to_wstring(number));
        HANDLE lock =
            CreateFileW(lock_of(folder).c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (lock == INVALID_HANDLE_VALUE) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            break;
        }
        if (CreateDirectoryW(folder.c_str(), nullptr))
            return {folder, lock};
        CloseHandle(lock);
        DeleteFileW(lock_of(folder).c_str());
    }
    throw server_unavailable("Cannot create a folder for the browser's profile in " + utf8_name(base) + " (" +
                             last_error_text() + ")");
}

std::wstring command_line(const std::filesystem::path& executable, const std::filesystem::path& folder, bool headless)
{
    std::wstring line = command_line_quoted(executable.wstring());
    if (headless)
        line += L" " + command_line_quoted(std::filesystem::path(kHeadlessSwitch).wstring());
    for (const char* flag : kBrowserSwitches)
        line += L" " + command_line_quoted(std::filesystem::path(flag).wstring());
    return line + L" " + command_line_quoted(L"--user-data-dir=" + folder.wstring());
}

// Hands the browser a handle of ours that it never uses, which then lives as long as it does.
void give_to(HANDLE process, HANDLE handle)
{
    HANDLE theirs = nullptr;
    DuplicateHandle(GetCurrentProcess(), handle, process, &theirs, 0, FALSE, DUPLICATE_SAME_ACCESS);
}

std::string exit_description(HANDLE process)
{
    DWORD code = 0;
    if (WaitForSingleObject(process, static_cast<DWORD>(session_bounds::kExitAfterFailedStart.count())) !=
            WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process, &code))
        return "closed its pipe at start but kept running";
    return "exited at start with status " + std::to_string(code);
}

struct WindowSearch {
    DWORD process_id;
    HWND found;
};

BOOL CALLBACK take_browser_window(HWND window, LPARAM search_address)
{
    auto* search = reinterpret_cast<WindowSearch*>(search_address);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->process_id || !IsWindowVisible(window) || GetWindow(window, GW_OWNER) != nullptr)
        return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

std::optional<std::filesystem::path> chosen_browser()
{
    const DWORD size = GetEnvironmentVariableW(L"VARNE_CHROMIUM", nullptr, 0);
    if (size <= 1)
        return std::nullopt;
    std::wstring value(size, L'\0');
    value.resize(GetEnvironmentVariableW(L"VARNE_CHROMIUM", value.data(), size));
    return value.empty() ? std::nullopt : std::optional<std::filesystem::path>(value);
}

std::optional<std::filesystem::path> installed_browser()
{
    for (const wchar_t* program : kBrowserPrograms) {
        if (auto path = registered_path(HKEY_CURRENT_USER, 0, program))
            return path;
        for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
            if (auto path = registered_path(HKEY_LOCAL_MACHINE, view, program))
                return path;
        }
    }
    return std::nullopt;
}

std::unique_ptr<WindowsBrowserHost> WindowsBrowserHost::launch(bool headless, std::chrono::milliseconds start_timeout)
{
    const std::filesystem::path executable = browser_executable();
    const std::string name = utf8_name(executable);
    ProfileFolder folder = make_folder();
    std::unique_ptr<WindowsBrowserHost> host;
    try {
        host.reset(new WindowsBrowserHost(folder.path, folder.lock, headless));
    } catch (...) {
        CloseHandle(folder.lock);
        std::error_code ignored;
        std::filesystem::remove_all(folder.path, ignored);
        DeleteFileW(lock_of(folder.path).c_str());
        throw;
    }
    const CrtPipeChild child =
        start_with_crt_pipes(executable.wstring(), command_line(executable, folder.path, headless), host->m_job);
    host->m_process = child.process;
    host->m_process_id = child.process_id;
    if (!headless) {
        // Its command pipe then ends only with the browser, and its profile stays locked as long.
        give_to(child.process, child.to_child);
        give_to(child.process, host->m_folder_lock);
    }
    host->m_session =
        std::make_unique<ProtocolSession>(std::make_unique<WindowsPipeTransport>(child.to_child, child.from_child));

    try {
        host->m_session->send("Browser.getVersion", nlohmann::json::object(), {}, start_timeout);
        return host;
    } catch (const ProtocolError& error) {
        std::string description = "The browser " + name + " ";
        if (error.kind() == ProtocolError::Kind::kTimedOut)
            description += "did not answer within " + std::to_string(start_timeout.count()) + " ms of its start";
        else if (error.kind() == ProtocolError::Kind::kBrowserError)
            description += "failed at start: " + error.description();
        else
            description += exit_description(child.process);
        host->finish(std::chrono::milliseconds::zero());
        throw server_unavailable(std::move(description));
    }
}

WindowsBrowserHost::WindowsBrowserHost(std::filesystem::path folder, HANDLE folder_lock, bool headless)
    : m_folder(std::move(folder)),
      m_folder_lock(folder_lock),
      m_headless(headless),
      m_job(headless ? make_kill_on_close_job() : nullptr)
{
}

WindowsBrowserHost::~WindowsBrowserHost()
{
    close();
}

std::optional<int32_t> WindowsBrowserHost::native_window()
{
    if (m_headless)
        return std::nullopt;
    if (m_window)
        return *m_window;
    const auto deadline = std::chrono::steady_clock::now() + kWindowTimeout;
    WindowSearch search{m_process_id, nullptr};
    for (;;) {
        EnumWindows(take_browser_window, reinterpret_cast<LPARAM>(&search));
        if (search.found || m_session->closed() || std::chrono::steady_clock::now() >= deadline)
            break;
        std::this_thread::sleep_for(kPollInterval);
    }
    // Window handles carry 32 significant bits on 64-bit Windows too.
    m_window = search.found ? std::optional<int32_t>(static_cast<int32_t>(reinterpret_cast<intptr_t>(search.found)))
                            : std::nullopt;
    return *m_window;
}

void WindowsBrowserHost::close()
{
    if (m_closed)
        return;
    if (m_session)
        ask_to_close(*m_session);
    finish(session_bounds::kExit);
}

void WindowsBrowserHost::leave_open()
{
    if (m_closed)
        return;
    if (m_headless) {
        close();
        return;
    }
    m_closed = true;
    if (m_session)
        m_session->close();
    if (m_process)
        CloseHandle(std::exchange(m_process, nullptr));
}

void WindowsBrowserHost::finish(std::chrono::milliseconds exit_timeout)
{
    m_closed = true;
    if (m_session)
        m_session->close();
    if (m_process) {
        if (WaitForSingleObject(m_process, static_cast<DWORD>(exit_timeout.count())) != WAIT_OBJECT_0) {
            TerminateProcess(m_process, 1);
            WaitForSingleObject(m_process, static_cast<DWORD>(session_bounds::kExit.count()));
        }
        CloseHandle(std::exchange(m_process, nullptr));
    }
    end_job();
    remove_folder();
}

// What the browser left running in its job (renderers, helpers) has nothing left to save.
void WindowsBrowserHost::end_job()
{
    if (!m_job)
        return;
    TerminateJobObject(m_job, 1);
    const auto deadline = std::chrono::steady_clock::now() + kJobEndTimeout;
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    while (QueryInformationJobObject(m_job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting,
                                     nullptr) &&
           accounting.ActiveProcesses > 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPollInterval);
    CloseHandle(std::exchange(m_job, nullptr));
}

// A folder that cannot be removed yet is left with its lock let go, for the next start to remove.
void WindowsBrowserHost::remove_folder()
{
    if (m_folder_lock) {
        CloseHandle(std::exchange(m_folder_lock, nullptr));
        DeleteFileW(lock_of(m_folder).c_str());
    }
    const auto deadline = std::chrono::steady_clock::now() + kRemoveTimeout;
    std::error_code error;
    while (std::filesystem::remove_all(m_folder, error), error && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(kPollInterval);
}

}  // namespace varne::cdp
