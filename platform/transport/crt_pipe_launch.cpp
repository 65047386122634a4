#include "platform/transport/crt_pipe_launch.h"

#include <atomic>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "frame/automation_error.h"
#include "frame/text.h"

namespace varne {

namespace {

// The C runtime's flags of a descriptor handed over in STARTUPINFO.lpReserved2.
constexpr unsigned char kFopen = 0x01;
constexpr unsigned char kFpipe = 0x08;
constexpr DWORD kPipeBufferSize = 64 * 1024;

AutomationError start_error(const std::string& what)
{
    return {error_number::kServerUnavailable, what + " (error " + std::to_string(GetLastError()) + ")"};
}

class Owned {
public:
    explicit Owned(HANDLE handle = INVALID_HANDLE_VALUE) : m_handle(handle) {}
    ~Owned()
    {
        if (m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr)
            CloseHandle(m_handle);
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    HANDLE get() const { return m_handle; }
    HANDLE* out() { return &m_handle; }
    HANDLE release() { return std::exchange(m_handle, INVALID_HANDLE_VALUE); }

private:
    HANDLE m_handle;
};

// The block that the C runtime of the child reads its descriptors from: a count, one flag byte per
// descriptor, then one handle per descriptor, packed. Descriptors 0 to 2 are left to the standard handles.
std::vector<unsigned char> descriptor_block(HANDLE descriptor3, HANDLE descriptor4)
{
    const int count = 5;
    std::vector<unsigned char> block(sizeof(int) + count + count * sizeof(HANDLE), 0);
    std::memcpy(block.data(), &count, sizeof count);
    unsigned char* flags = block.data() + sizeof(int);
    flags[3] = kFopen | kFpipe;
    flags[4] = kFopen | kFpipe;
    unsigned char* handles = flags + count;
    const HANDLE none = INVALID_HANDLE_VALUE;
    for (int i = 0; i < count; ++i) {
        const HANDLE handle = i == 3 ? descriptor3 : i == 4 ? descriptor4 : none;
        std::memcpy(handles + i * sizeof(HANDLE), &handle, sizeof handle);
    }
    return block;
}

// One pipe: our end overlapped, so that every wait on it can end at a deadline; the child's end
// plain and inheritable, as a C runtime descriptor is. Only this process may connect, and only once.
bool make_pipe(DWORD our_direction, Owned& ours, Owned& theirs)
{
    static std::atomic<unsigned> count{0};
    std::random_device entropy;
    const std::wstring name = L"\\\\.\\pipe\\varne-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(++count) + L"-" + std::to_wstring(entropy());
    *ours.out() = CreateNamedPipeW(name.c_str(), our_direction | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
                                   PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1,
                                   kPipeBufferSize, kPipeBufferSize, 0, nullptr);
    if (ours.get() == INVALID_HANDLE_VALUE)
        return false;
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const DWORD their_access = our_direction == PIPE_ACCESS_OUTBOUND ? GENERIC_READ : GENERIC_WRITE;
    *theirs.out() = CreateFileW(name.c_str(), their_access, 0, &inheritable, OPEN_EXISTING, 0, nullptr);
    return theirs.get() != INVALID_HANDLE_VALUE;
}

}  // namespace

// One argument of a Windows command line, as the C runtime's parser splits it again.
std::wstring command_line_quoted(const std::wstring& argument)
{
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

HANDLE make_kill_on_close_job()
{
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    if (!job)
        throw start_error("Cannot create a job object for the browser");
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (!SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
        CloseHandle(job);
        throw start_error("Cannot make the browser's job end with the host");
    }
    return job;
}

namespace {

// Starts `application` suspended with `startup` and only the `inherited` handles, puts it into
// `job` (when not null), and lets it run.
PROCESS_INFORMATION start_child(const std::wstring& application, const std::wstring& command_line, HANDLE job,
                                std::vector<HANDLE> inherited, STARTUPINFOEXW& startup, wchar_t* environment)
{
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    std::vector<unsigned char> storage(size);
    auto* attributes = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage.data());
    if (!InitializeProcThreadAttributeList(attributes, 1, 0, &size))
        throw start_error("Cannot prepare the browser's start");
    const bool listed = UpdateProcThreadAttribute(attributes, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherited.data(),
                                                  inherited.size() * sizeof(HANDLE), nullptr, nullptr);
    startup.StartupInfo.cb = sizeof startup;
    startup.lpAttributeList = attributes;
    // Made before the start, so that the start's own error is the last one when it fails.
    const std::string application_name =
        to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(application.data()), application.size()));
    std::wstring line = command_line;
    PROCESS_INFORMATION process{};
    const DWORD flags =
        EXTENDED_STARTUPINFO_PRESENT | CREATE_SUSPENDED | (environment ? CREATE_UNICODE_ENVIRONMENT : 0);
    const BOOL started = listed && CreateProcessW(application.c_str(), line.data(), nullptr, nullptr, TRUE, flags,
                                                  environment, nullptr, &startup.StartupInfo, &process);
    DeleteProcThreadAttributeList(attributes);
    if (!started)
        throw start_error("Cannot start the browser " + application_name);
    if (job && !AssignProcessToJobObject(job, process.hProcess)) {
        TerminateProcess(process.hProcess, 1);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
        throw start_error("Cannot put the browser into its job");
    }
    ResumeThread(process.hThread);
    CloseHandle(process.hThread);
    return process;
}

}  // namespace

CrtPipeChild start_with_crt_pipes(const std::wstring& application, const std::wstring& command_line, HANDLE job)
{
    Owned to_child, child_reads, from_child, child_writes;
    if (!make_pipe(PIPE_ACCESS_OUTBOUND, to_child, child_reads) ||
        !make_pipe(PIPE_ACCESS_INBOUND, from_child, child_writes))
        throw start_error("Cannot create the pipes for the browser");
    std::vector<unsigned char> block = descriptor_block(child_reads.get(), child_writes.get());
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cbReserved2 = static_cast<WORD>(block.size());
    startup.StartupInfo.lpReserved2 = block.data();
    const PROCESS_INFORMATION process =
        start_child(application, command_line, job, {child_reads.get(), child_writes.get()}, startup, nullptr);
    return {process.hProcess, process.dwProcessId, to_child.release(), from_child.release()};
}

std::pair<HANDLE, DWORD> start_with_output(const std::wstring& application, const std::wstring& command_line,
                                           HANDLE job, const std::filesystem::path& output,
                                           const std::vector<std::wstring>& variables)
{
    SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    const Owned written(CreateFileW(output.c_str(), FILE_APPEND_DATA,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    const Owned nothing(
        CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr));
    if (written.get() == INVALID_HANDLE_VALUE || nothing.get() == INVALID_HANDLE_VALUE)
        throw start_error("Cannot open the file for the browser's output");
    std::wstring environment;
    if (wchar_t* inherited = GetEnvironmentStringsW()) {
        for (const wchar_t* entry = inherited; *entry; entry += wcslen(entry) + 1)
            environment.append(entry).push_back(L'\0');
        FreeEnvironmentStringsW(inherited);
    }
    for (const std::wstring& variable : variables)
        environment.append(variable).push_back(L'\0');
    environment.push_back(L'\0');
    STARTUPINFOEXW startup{};
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = nothing.get();
    startup.StartupInfo.hStdOutput = written.get();
    startup.StartupInfo.hStdError = written.get();
    const PROCESS_INFORMATION process =
        start_child(application, command_line, job, {nothing.get(), written.get()}, startup, environment.data());
    return {process.hProcess, process.dwProcessId};
}

}  // namespace varne
