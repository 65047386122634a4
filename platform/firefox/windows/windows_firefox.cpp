#include "platform/firefox/windows/windows_firefox.h"

#include "frame/automation_error.h"
#include "platform/firefox/firefox_profile.h"
#include "platform/firefox/firefox_start.h"
#include "platform/transport/crt_pipe_launch.h"
#include "platform/transport/output_tail.h"
#include "platform/transport/server_unavailable.h"

#include <fstream>
#include <thread>

namespace varne::bidi {

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr auto kPollInterval = 20ms;
constexpr size_t kTailLines = 3;
// What Firefox prints, kept beside its profile.
constexpr const wchar_t* kOutputName = L"firefox.log";
// Where Firefox writes the address of its BiDi server once it listens, and removes it at its end.
constexpr const wchar_t* kServerFileName = L"WebDriverBiDiServer.json";
// Release builds take the profile's settings server only when this is set.
constexpr const wchar_t* kSettingsVariable = L"MOZ_REMOTE_SETTINGS_DEVTOOLS=1";

std::filesystem::path firefox_executable(const EnvironmentLookup& environment)
{
    if (auto program = windows_firefox_program(environment))
        return *program;
    throw server_unavailable(
        "No Firefox can be started: firefox.exe is not registered under App Paths, and VARNE_FIREFOX names none");
}

std::wstring command_line(const std::filesystem::path& executable, const std::filesystem::path& folder, bool headless)
{
    std::wstring line = command_line_quoted(executable.wstring()) + L" --remote-debugging-port=0 --no-remote";
    if (headless)
        line += L" --headless";
    return line + L" --profile " + command_line_quoted(folder.wstring()) + L" about:blank";
}

}  // namespace

std::optional<std::filesystem::path> chosen_firefox(const EnvironmentLookup& environment)
{
    const char* value = environment("VARNE_FIREFOX");
    if (!value || !*value)
        return std::nullopt;
    // The process's environment comes in the ANSI code page.
    std::wstring wide(MultiByteToWideChar(CP_ACP, 0, value, -1, nullptr, 0), L'\0');
    wide.resize(MultiByteToWideChar(CP_ACP, 0, value, -1, wide.data(), static_cast<int>(wide.size())) - 1);
    return std::filesystem::path(wide);
}

std::optional<std::filesystem::path> installed_firefox()
{
    return registered_program(L"firefox.exe");
}

std::optional<std::filesystem::path> windows_firefox_program(const EnvironmentLookup& environment)
{
    if (auto chosen = chosen_firefox(environment))
        return chosen;
    return installed_firefox();
}

std::unique_ptr<WindowsFirefox> WindowsFirefox::launch(const EnvironmentLookup& environment, bool headless,
                                                       std::chrono::milliseconds listen_timeout,
                                                       std::chrono::milliseconds session_timeout)
{
    std::unique_ptr<WindowsFirefox> firefox(new WindowsFirefox(firefox_executable(environment), headless));
    WindowsBrowserProgram& program = firefox->m_program;
    std::ofstream user_js(program.folder() / "user.js", std::ios::binary);
    user_js << firefox_user_js();
    user_js.close();
    if (!user_js)
        throw server_unavailable("Cannot write Firefox's profile in " + utf8_name(program.folder()));
    const auto [process, process_id] = start_with_output(
        firefox->m_executable.wstring(), command_line(firefox->m_executable, program.folder(), headless), program.job(),
        program.folder() / kOutputName, {kSettingsVariable});
    program.adopt(process, process_id);
    firefox->connect(listen_timeout, session_timeout);
    return firefox;
}

WindowsFirefox::WindowsFirefox(std::filesystem::path executable, bool headless)
    : m_executable(std::move(executable)), m_program(headless)
{
}

WindowsFirefox::~WindowsFirefox()
{
    close();
}

// Firefox writes its server's address into the profile; one that does not still prints it.
std::optional<std::pair<std::string, uint16_t>> WindowsFirefox::listening_address() const
{
    const Json server = Json::parse(file_text(m_program.folder() / kServerFileName), nullptr, false);
    if (server.is_object() && server.value("ws_host", Json()).is_string() &&
        server.value("ws_port", Json()).is_number_unsigned())
        return std::pair(server["ws_host"].get<std::string>(), server["ws_port"].get<uint16_t>());
    return bidi_listen_address(file_text(m_program.folder() / kOutputName));
}

void WindowsFirefox::connect(std::chrono::milliseconds listen_timeout, std::chrono::milliseconds session_timeout)
{
    const auto failure = [this](const std::string& what) {
        std::string description = "Firefox (" + utf8_name(m_executable) + ") " + what;
        const std::string tail = last_lines(file_text(m_program.folder() / kOutputName), kTailLines);
        if (!tail.empty())
            description += "; it printed: " + tail;
        m_closed = true;
        m_program.finish(0ms);
        return server_unavailable(std::move(description));
    };
    const auto exit_text = [this]() -> std::optional<std::string> {
        if (const auto status = m_program.exit_status(session_bounds::kExitAfterFailedStart))
            return "exited at start with status " + std::to_string(*status);
        return std::nullopt;
    };
    const auto listen_deadline = std::chrono::steady_clock::now() + listen_timeout;
    std::optional<std::pair<std::string, uint16_t>> address;
    while (!(address = listening_address())) {
        if (const auto status = m_program.exit_status(0ms))
            throw failure("exited at start with status " + std::to_string(*status));
        if (std::chrono::steady_clock::now() >= listen_deadline)
            throw failure("gave no WebDriver BiDi address within " + std::to_string(listen_timeout.count()) +
                          " ms of its start");
        std::this_thread::sleep_for(kPollInterval);
    }
    const WebAddress server{"ws", {}, {}, address->first, address->second, "/session"};
    open_started_session(m_session, server, session_timeout, failure, exit_text);
}

void WindowsFirefox::close() noexcept
{
    if (m_closed)
        return;
    m_closed = true;
    ask_to_close(m_session.get());
    m_program.finish(session_bounds::kExit);
}

void WindowsFirefox::leave_open() noexcept
{
    if (m_program.headless())
        return close();
    if (std::exchange(m_closed, true))
        return;
    if (m_session)
        m_session->close();
    m_program.let_go();
}

}  // namespace varne::bidi
