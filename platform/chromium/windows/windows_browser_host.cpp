#include "platform/chromium/windows/windows_browser_host.h"

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "frame/automation_error.h"
#include "platform/chromium/browser_switches.h"
#include "platform/session/session_bounds.h"
#include "platform/transport/crt_pipe_launch.h"
#include "platform/transport/server_unavailable.h"
#include "platform/transport/windows_browser_program.h"
#include "platform/transport/windows_pipe_transport.h"

namespace varne::cdp {

namespace {

using namespace std::chrono_literals;

constexpr auto kWindowTimeout = 3000ms;
constexpr auto kPollInterval = 20ms;

constexpr const wchar_t* kBrowserPrograms[] = {L"msedge.exe", L"chrome.exe"};

std::filesystem::path browser_executable()
{
    if (auto program = windows_browser_program())
        return *program;
    throw server_unavailable(
        "No Chromium-based browser can be started: neither msedge.exe nor chrome.exe is registered under "
        "App Paths, and VARNE_CHROMIUM names none");
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
        if (auto path = registered_program(program))
            return path;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> windows_browser_program()
{
    if (auto chosen = chosen_browser())
        return chosen;
    return installed_browser();
}

std::unique_ptr<WindowsBrowserHost> WindowsBrowserHost::launch(bool headless, std::chrono::milliseconds start_timeout)
{
    const std::filesystem::path executable = browser_executable();
    const std::string name = utf8_name(executable);
    std::unique_ptr<WindowsBrowserHost> host(new WindowsBrowserHost(headless));
    WindowsBrowserProgram& program = host->m_program;
    const CrtPipeChild child =
        start_with_crt_pipes(executable.wstring(), command_line(executable, program.folder(), headless), program.job());
    // A headed browser's command pipe then ends only with it.
    program.adopt(child.process, child.process_id, child.to_child);
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
        else if (const auto status = program.exit_status(session_bounds::kExitAfterFailedStart))
            description += "exited at start with status " + std::to_string(*status);
        else
            description += "closed its pipe at start but kept running";
        host->finish(std::chrono::milliseconds::zero());
        throw server_unavailable(std::move(description));
    }
}

WindowsBrowserHost::WindowsBrowserHost(bool headless) : m_program(headless) {}

WindowsBrowserHost::~WindowsBrowserHost()
{
    close();
}

std::optional<int32_t> WindowsBrowserHost::native_window()
{
    if (m_program.headless())
        return std::nullopt;
    if (m_window)
        return *m_window;
    const auto deadline = std::chrono::steady_clock::now() + kWindowTimeout;
    WindowSearch search{m_program.process_id(), nullptr};
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
    if (m_program.headless()) {
        close();
        return;
    }
    m_closed = true;
    if (m_session)
        m_session->close();
    m_program.let_go();
}

void WindowsBrowserHost::finish(std::chrono::milliseconds exit_timeout)
{
    m_closed = true;
    if (m_session)
        m_session->close();
    m_program.finish(exit_timeout);
}

}  // namespace varne::cdp
