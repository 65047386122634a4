#include "platform/transport/crt_pipe_launch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "platform/transport/windows_pipe_transport.h"

namespace varne {
namespace {

using namespace std::chrono_literals;

// A helper program built beside this test program.
std::wstring helper_path(const std::wstring& name)
{
    wchar_t program[MAX_PATH];
    std::wstring path(program, GetModuleFileNameW(nullptr, program, MAX_PATH));
    return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

DWORD exit_code_within(HANDLE process, DWORD milliseconds)
{
    if (WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

MessageTransport::Clock::time_point in(std::chrono::milliseconds duration)
{
    return MessageTransport::Clock::now() + duration;
}

// The echoing stand-in child (pipe_child.exe) and our transport over its pipes.
struct EchoChild {
    explicit EchoChild(const std::wstring& arguments = {}, HANDLE job = nullptr)
        : child(start_with_crt_pipes(helper_path(L"pipe_child.exe"), L"pipe_child.exe" + arguments, job)),
          transport(child.to_child, child.from_child)
    {
    }
    ~EchoChild() { CloseHandle(child.process); }

    CrtPipeChild child;
    WindowsPipeTransport transport;
};

TEST(CrtPipeLaunch, TheChildTalksOnDescriptorsThreeAndFourAndSeesTheirEnd)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE kept = CreateEventW(&inheritable, TRUE, TRUE, nullptr);
    EchoChild echo(L" " + std::to_wstring(reinterpret_cast<uintptr_t>(kept)));
    ASSERT_EQ(echo.transport.send(R"({"id":1,"method":"Browser.getVersion"})", in(5s)),
              MessageTransport::SendResult::kSent);
    ASSERT_EQ(echo.transport.send("second", in(5s)), MessageTransport::SendResult::kSent);
    EXPECT_EQ(echo.transport.receive(in(10s)), R"(answer:{"id":1,"method":"Browser.getVersion"})");
    EXPECT_EQ(echo.transport.receive(in(10s)), "answer:second");
    echo.transport.close("done");
    // 0: it saw the end of its command pipe; 3 would say the event was inherited, 2 a descriptor was missing.
    EXPECT_EQ(exit_code_within(echo.child.process, 10000), 0u);
    CloseHandle(kept);
}

TEST(CrtPipeLaunch, AChildInTheJobEndsWhenTheJobCloses)
{
    HANDLE job = make_kill_on_close_job();
    EchoChild echo({}, job);
    ASSERT_EQ(echo.transport.send("ping", in(5s)), MessageTransport::SendResult::kSent);
    EXPECT_EQ(echo.transport.receive(in(10s)), "answer:ping");
    EXPECT_EQ(exit_code_within(echo.child.process, 200), static_cast<DWORD>(STILL_ACTIVE));
    CloseHandle(job);
    EXPECT_NE(exit_code_within(echo.child.process, 10000), static_cast<DWORD>(STILL_ACTIVE));
}

TEST(WindowsPipeTransport, MessagesOfAnySizeGoBothWaysWhole)
{
    EchoChild echo;
    // Larger than the pipe holds, so that both ends wait on each other part-way; the echo reads byte by byte.
    const std::string large(100 * 1024 + 17, 'x');
    ASSERT_EQ(echo.transport.send(large, in(30s)), MessageTransport::SendResult::kSent);
    ASSERT_EQ(echo.transport.send("", in(5s)), MessageTransport::SendResult::kSent);
    ASSERT_EQ(echo.transport.send("after", in(5s)), MessageTransport::SendResult::kSent);
    EXPECT_EQ(echo.transport.receive(in(30s)), "answer:" + large);
    EXPECT_EQ(echo.transport.receive(in(10s)), "answer:");
    EXPECT_EQ(echo.transport.receive(in(10s)), "answer:after");
    EXPECT_FALSE(echo.transport.closed());
}

TEST(WindowsPipeTransport, AReceiveEndsAtItsDeadlineAndTheTransportGoesOn)
{
    EchoChild echo;
    EXPECT_EQ(echo.transport.receive(in(200ms)), std::nullopt);
    EXPECT_FALSE(echo.transport.closed());
    ASSERT_EQ(echo.transport.send("still there", in(5s)), MessageTransport::SendResult::kSent);
    EXPECT_EQ(echo.transport.receive(in(10s)), "answer:still there");
}

TEST(WindowsPipeTransport, TheChildsEndClosesItWithAReason)
{
    EchoChild echo;
    ASSERT_EQ(echo.transport.send("last", in(5s)), MessageTransport::SendResult::kSent);
    EXPECT_EQ(echo.transport.receive(in(10s)), "answer:last");
    TerminateProcess(echo.child.process, 0);
    EXPECT_EQ(echo.transport.receive(in(10s)), std::nullopt);
    EXPECT_TRUE(echo.transport.closed());
    EXPECT_EQ(echo.transport.close_reason(), "end of pipe");
    EXPECT_EQ(echo.transport.send("gone", in(5s)), MessageTransport::SendResult::kClosed);
}

TEST(WindowsPipeTransport, ASendThatMissesItsDeadlineClosesTheTransport)
{
    SetEnvironmentVariableW(L"STAND_IN_MODE", L"silent");
    HANDLE job = make_kill_on_close_job();
    const CrtPipeChild child = start_with_crt_pipes(helper_path(L"stand_in_browser.exe"), L"stand_in_browser.exe", job);
    SetEnvironmentVariableW(L"STAND_IN_MODE", nullptr);
    WindowsPipeTransport transport(child.to_child, child.from_child);
    // More than the pipe holds, to a child that never reads.
    EXPECT_EQ(transport.send(std::string(4 * 1024 * 1024, 'x'), in(300ms)), MessageTransport::SendResult::kTimedOut);
    EXPECT_TRUE(transport.closed());
    EXPECT_EQ(transport.close_reason(), "a message could not be sent in time: the browser stopped reading its pipe");
    EXPECT_EQ(transport.send("next", in(5s)), MessageTransport::SendResult::kClosed);
    CloseHandle(job);
    CloseHandle(child.process);
}

TEST(WindowsPipeTransport, CloseWakesAReceiveInProgress)
{
    EchoChild echo;
    std::thread closer([&] {
        Sleep(100);
        echo.transport.close("closed by the test");
    });
    EXPECT_EQ(echo.transport.receive(MessageTransport::Clock::time_point::max()), std::nullopt);
    closer.join();
    EXPECT_EQ(echo.transport.close_reason(), "closed by the test");
}

}  // namespace
}  // namespace varne
