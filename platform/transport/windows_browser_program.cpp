#include "platform/transport/windows_browser_program.h"

#include <cstdint>
#include <cwctype>
#include <random>
#include <thread>
#include <utility>

#include "frame/text.h"
#include "platform/transport/crt_pipe_launch.h"
#include "platform/transport/server_unavailable.h"

namespace varne {

namespace {

using namespace std::chrono_literals;

constexpr auto kJobEndTimeout = 2000ms;
// Children of the browser may hold files of the profile for a moment after it has exited.
constexpr auto kRemoveTimeout = 2000ms;
constexpr auto kPollInterval = 20ms;
// The watchdog looks this often whether the client has removed the folder itself.
constexpr auto kWatchInterval = 250ms;
// The job ends the browser with the client at once; the bound keeps a watchdog from waiting for
// ever on a browser that outlives it all the same.
constexpr auto kWatchedBrowserTimeout = 10000ms;
// Unhurried, as nobody waits for the watchdog: a browser's helpers may hold files a little longer.
constexpr auto kWatchdogRemoveTimeout = 10000ms;
constexpr auto kWatchdogRemoveInterval = 100ms;
// The other processes of the browser's job end a moment after it, and may still write into the
// profile meanwhile, even make its folder anew; the watchdog looks again after this long.
constexpr auto kLateWriteSettle = 1000ms;
// rundll32 takes the name without its W and calls the wide-character form of the entry.
constexpr const wchar_t* kWatchdogEntry = L"VarneWatchBrowserFolder";

// A profile folder varne-profile-X is in use while its lock file varne-profile-X.lock is open: the
// lock is opened without delete sharing by the process that made it and given to a headed browser,
// so that it can be deleted only once both have ended, however they end. The lock is made before
// its folder, so no one sees a folder of a start in progress without it.
constexpr const wchar_t* kFolderPrefix = L"varne-profile-";
constexpr const wchar_t* kLockSuffix = L".lock";

constexpr const wchar_t* kAppPaths = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// The default value of one App Paths key.
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

bool path_exists(const std::filesystem::path& path)
{
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Removes the folder and its lock, retrying up to `timeout` while files of it are still open.
void remove_profile(const std::filesystem::path& folder, std::chrono::milliseconds timeout,
                    std::chrono::milliseconds interval) noexcept
{
    DeleteFileW(lock_of(folder).c_str());
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::error_code error;
    while (std::filesystem::remove_all(folder, error), error && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(interval);
}

std::wstring module_file_name(HMODULE module)
{
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(module, name.data(), static_cast<DWORD>(name.size()));
        if (length < name.size()) {
            name.resize(length);
            return name;
        }
        name.resize(name.size() * 2);
    }
}

// Starts rundll32 on this library's watchdog entry, outside the browser's job and, where it may
// leave, this process's. A program that holds this code without exporting the entry (a test)
// starts none.
void start_watchdog(DWORD browser_id, const std::filesystem::path& folder) noexcept
{
    HMODULE module = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&VarneWatchBrowserFolderW), &module) ||
        !GetProcAddress(module, "VarneWatchBrowserFolderW"))
        return;
    const std::wstring library = module_file_name(module);
    wchar_t system[MAX_PATH];
    const UINT length = GetSystemDirectoryW(system, MAX_PATH);
    if (library.empty() || length == 0 || length >= MAX_PATH)
        return;
    const std::wstring program = std::wstring(system, length) + L"\\rundll32.exe";
    std::wstring line = command_line_quoted(program) + L" " + command_line_quoted(library) + L"," + kWatchdogEntry +
                        L" " + std::to_wstring(GetCurrentProcessId()) + L" " + std::to_wstring(browser_id) + L" " +
                        folder.wstring();
    // No standard handles, so that no one waiting for this process's output waits for the watchdog.
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    PROCESS_INFORMATION started{};
    for (const DWORD flags : {DWORD{CREATE_BREAKAWAY_FROM_JOB | CREATE_NO_WINDOW}, DWORD{CREATE_NO_WINDOW}}) {
        if (CreateProcessW(program.c_str(), line.data(), nullptr, nullptr, FALSE, flags, nullptr, system, &startup,
                           &started)) {
            CloseHandle(started.hThread);
            CloseHandle(started.hProcess);
            return;
        }
    }
}

// Hands the browser a handle of ours that it never uses, which then lives as long as it does.
void give_to(HANDLE process, HANDLE handle)
{
    HANDLE theirs = nullptr;
    DuplicateHandle(GetCurrentProcess(), handle, process, &theirs, 0, FALSE, DUPLICATE_SAME_ACCESS);
}

}  // namespace

std::optional<std::filesystem::path> registered_program(const std::wstring& program)
{
    if (auto path = registered_path(HKEY_CURRENT_USER, 0, program))
        return path;
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY}) {
        if (auto path = registered_path(HKEY_LOCAL_MACHINE, view, program))
            return path;
    }
    return std::nullopt;
}

std::string utf8_name(const std::filesystem::path& path)
{
    const std::wstring& name = path.native();
    return to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(name.data()), name.size()));
}

bool names_windows_program(const std::filesystem::path& program)
{
    std::wstring extension = program.extension().wstring();
    for (auto& c : extension)
        c = static_cast<wchar_t>(std::towlower(c));
    return extension == L".exe";
}

bool visible_window_station()
{
    USEROBJECTFLAGS flags{};
    return GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, nullptr) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

WindowsBrowserProgram::WindowsBrowserProgram(bool headless) : m_headless(headless)
{
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error)
        throw server_unavailable("Cannot find the temporary folder for the browser's profile");
    remove_abandoned_folders(base);
    std::random_device entropy;
    for (int attempt = 0; attempt < 16 && !m_folder_lock; ++attempt) {
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
        if (CreateDirectoryW(folder.c_str(), nullptr)) {
            m_folder = folder;
            m_folder_lock = lock;
            break;
        }
        CloseHandle(lock);
        DeleteFileW(lock_of(folder).c_str());
    }
    if (!m_folder_lock)
        throw server_unavailable("Cannot create a folder for the browser's profile in " + utf8_name(base) + " (error " +
                                 std::to_string(GetLastError()) + ")");
    if (headless) {
        try {
            m_job = make_kill_on_close_job();
        } catch (...) {
            remove_folder();
            throw;
        }
    }
}

WindowsBrowserProgram::~WindowsBrowserProgram()
{
    finish(std::chrono::milliseconds::zero());
}

void WindowsBrowserProgram::adopt(HANDLE process, DWORD process_id, HANDLE kept)
{
    m_process = process;
    m_process_id = process_id;
    if (m_headless) {
        start_watchdog(process_id, m_folder);
        return;
    }
    if (kept)
        give_to(process, kept);
    give_to(process, m_folder_lock);
}

std::optional<DWORD> WindowsBrowserProgram::exit_status(std::chrono::milliseconds timeout) const
{
    DWORD code = 0;
    if (!m_process || WaitForSingleObject(m_process, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(m_process, &code))
        return std::nullopt;
    return code;
}

void WindowsBrowserProgram::finish(std::chrono::milliseconds exit_timeout) noexcept
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_process) {
        if (WaitForSingleObject(m_process, static_cast<DWORD>(exit_timeout.count())) != WAIT_OBJECT_0) {
            TerminateProcess(m_process, 1);
            WaitForSingleObject(m_process, static_cast<DWORD>(kJobEndTimeout.count()));
        }
        CloseHandle(std::exchange(m_process, nullptr));
    }
    end_job();
    remove_folder();
}

void WindowsBrowserProgram::let_go() noexcept
{
    if (m_finished)
        return;
    m_finished = true;
    if (m_process)
        CloseHandle(std::exchange(m_process, nullptr));
    if (m_folder_lock)
        CloseHandle(std::exchange(m_folder_lock, nullptr));
}

// What the browser left running in its job (renderers, helpers) has nothing left to save.
void WindowsBrowserProgram::end_job() noexcept
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
void WindowsBrowserProgram::remove_folder() noexcept
{
    if (m_folder_lock)
        CloseHandle(std::exchange(m_folder_lock, nullptr));
    remove_profile(m_folder, kRemoveTimeout, kPollInterval);
}

void watch_browser_folder(const wchar_t* arguments) noexcept
{
    wchar_t* rest = nullptr;
    const DWORD client_id = wcstoul(arguments, &rest, 10);
    const DWORD browser_id = wcstoul(rest, &rest, 10);
    while (*rest == L' ')
        ++rest;
    const std::filesystem::path folder(rest);
    if (!folder.is_absolute() || !folder.filename().wstring().starts_with(kFolderPrefix))
        return;
    HANDLE client = OpenProcess(SYNCHRONIZE, FALSE, client_id);
    HANDLE browser = OpenProcess(SYNCHRONIZE, FALSE, browser_id);
    bool removed_by_client = false;
    while (client && !removed_by_client && WaitForSingleObject(client, kWatchInterval.count()) == WAIT_TIMEOUT)
        removed_by_client = !path_exists(folder);
    if (!removed_by_client) {
        if (browser)
            WaitForSingleObject(browser, kWatchedBrowserTimeout.count());
        const auto deadline = std::chrono::steady_clock::now() + kWatchdogRemoveTimeout;
        do {
            remove_profile(folder, kWatchdogRemoveTimeout, kWatchdogRemoveInterval);
            std::this_thread::sleep_for(kLateWriteSettle);
        } while (path_exists(folder) && std::chrono::steady_clock::now() < deadline);
    }
    for (HANDLE process : {client, browser}) {
        if (process)
            CloseHandle(process);
    }
}

}  // namespace varne

void CALLBACK VarneWatchBrowserFolderW(HWND, HINSTANCE, LPWSTR arguments, int)
{
    varne::watch_browser_folder(arguments);
}
