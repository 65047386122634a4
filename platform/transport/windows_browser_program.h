#pragma once

#include <windows.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

namespace varne {

// The program that App Paths registers as `program` (HKCU first, then HKLM in its 64-bit and
// 32-bit views) when its file exists; a quoted value comes unquoted, an expandable one expanded.
std::optional<std::filesystem::path> registered_program(const std::wstring& program);

// A path in UTF-8, for error texts.
std::string utf8_name(const std::filesystem::path& path);

// Whether `program` names a Windows program (.exe, in any case), which under Wine is started as on
// Windows rather than as a program of the host.
bool names_windows_program(const std::filesystem::path& program);

// Whether this process's window station is one a person sees: a service's is not, and nobody could
// see or close a browser's window there.
bool visible_window_station();

// A browser of Windows started by this process, with the fresh profile folder it runs in under
// %TEMP%. A headless browser runs in a job that ends it with this process, beside a watchdog (run
// by rundll32 from this library) that then removes its folder. A headed one is given the lock of
// its folder (and what else must live as long as it), so that its window can stay open after this
// process ends; the first start after it has ended removes that folder.
class WindowsBrowserProgram {
public:
    // Makes the folder, first removing those of browsers that have ended. Raises AutomationError
    // (server unavailable) when it cannot.
    explicit WindowsBrowserProgram(bool headless);
    ~WindowsBrowserProgram();
    WindowsBrowserProgram(const WindowsBrowserProgram&) = delete;
    WindowsBrowserProgram& operator=(const WindowsBrowserProgram&) = delete;

    const std::filesystem::path& folder() const { return m_folder; }
    bool headless() const { return m_headless; }
    // The job to start a headless browser in; null for a headed one.
    HANDLE job() const { return m_job; }

    // Takes the started browser's process handle, and starts a headless browser's watchdog. A
    // headed browser is given the folder's lock and `kept` (when not null), which then end only
    // with it.
    void adopt(HANDLE process, DWORD process_id, HANDLE kept = nullptr);
    HANDLE process() const { return m_process; }
    DWORD process_id() const { return m_process_id; }
    // The browser's exit status once it has exited, waiting up to `timeout` for it.
    std::optional<DWORD> exit_status(std::chrono::milliseconds timeout) const;

    // Waits up to `exit_timeout` for the browser to exit, ends it and what else runs in its job
    // when it has not, and removes the folder. Never raises; later calls do nothing.
    void finish(std::chrono::milliseconds exit_timeout) noexcept;
    // Lets go of a headed browser, which holds its folder's lock until it ends. Later calls do nothing.
    void let_go() noexcept;

private:
    void end_job() noexcept;
    void remove_folder() noexcept;

    std::filesystem::path m_folder;
    HANDLE m_folder_lock = nullptr;
    bool m_headless;
    HANDLE m_job = nullptr;
    HANDLE m_process = nullptr;
    DWORD m_process_id = 0;
    bool m_finished = false;
};

// The watchdog of a headless browser's folder, given "<client pid> <browser pid> <folder>": once
// the client has ended, waits for the browser to end with its job and removes the folder (a
// profile folder of this library's only); returns at once when the folder has gone before, removed
// by the client that finished the browser. Never raises.
void watch_browser_folder(const wchar_t* arguments) noexcept;

}  // namespace varne

// The entry that rundll32 runs for watch_browser_folder(), which only the library exports.
extern "C" void CALLBACK VarneWatchBrowserFolderW(HWND, HINSTANCE, LPWSTR arguments, int);
