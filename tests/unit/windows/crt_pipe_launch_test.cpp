#include "platform/windows/crt_pipe_launch.h"

#include <gtest/gtest.h>

#include <string>

namespace varne {
namespace {

// The stand-in child, built beside this test program.
std::wstring child_path()
{
    wchar_t program[MAX_PATH];
    std::wstring path(program, GetModuleFileNameW(nullptr, program, MAX_PATH));
    return path.substr(0, path.find_last_of(L"\\/") + 1) + L"pipe_child.exe";
}

void write_message(HANDLE pipe, const std::string& message)
{
    std::string framed = message + '\0';
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(pipe, framed.data(), static_cast<DWORD>(framed.size()), &written, nullptr));
    ASSERT_EQ(written, framed.size());
}

std::string read_message(HANDLE pipe)
{
    std::string message;
    char c = 0;
    DWORD got = 0;
    while (ReadFile(pipe, &c, 1, &got, nullptr) && got == 1 && c != '\0')
        message += c;
    return message;
}

DWORD exit_code_within(HANDLE process, DWORD milliseconds)
{
    if (WaitForSingleObject(process, milliseconds) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    return code;
}

void close_all(const CrtPipeChild& child)
{
    CloseHandle(child.to_child);
    CloseHandle(child.from_child);
    CloseHandle(child.process);
}

TEST(CrtPipeLaunch, TheChildTalksOnDescriptorsThreeAndFourAndSeesTheirEnd)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE kept = CreateEventW(&inheritable, TRUE, TRUE, nullptr);
    const std::wstring line = L"pipe_child.exe " + std::to_wstring(reinterpret_cast<uintptr_t>(kept));
    CrtPipeChild child = start_with_crt_pipes(child_path(), line, nullptr);
    write_message(child.to_child, R"({"id":1,"method":"Browser.getVersion"})");
    write_message(child.to_child, "second");
    EXPECT_EQ(read_message(child.from_child), R"(answer:{"id":1,"method":"Browser.getVersion"})");
    EXPECT_EQ(read_message(child.from_child), "answer:second");
    CloseHandle(std::exchange(child.to_child, nullptr));
    // 0: it saw the end of its command pipe; 3 would say the event was inherited, 2 a descriptor was missing.
    EXPECT_EQ(exit_code_within(child.process, 10000), 0u);
    close_all(child);
    CloseHandle(kept);
}

TEST(CrtPipeLaunch, AChildInTheJobEndsWhenTheJobCloses)
{
    HANDLE job = make_kill_on_close_job();
    CrtPipeChild child = start_with_crt_pipes(child_path(), L"pipe_child.exe", job);
    write_message(child.to_child, "ping");
    EXPECT_EQ(read_message(child.from_child), "answer:ping");
    EXPECT_EQ(exit_code_within(child.process, 200), static_cast<DWORD>(STILL_ACTIVE));
    CloseHandle(job);
    EXPECT_NE(exit_code_within(child.process, 10000), static_cast<DWORD>(STILL_ACTIVE));
    close_all(child);
}

}  // namespace
}  // namespace varne
