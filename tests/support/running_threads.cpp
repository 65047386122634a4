#include "tests/support/running_threads.h"

#ifdef _WIN32
#include <windows.h>
#include <tlhelp32.h>
#else
#include <filesystem>
#include <iterator>
#endif

namespace varne {

#ifdef _WIN32
int running_threads()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId())
            ++count;
    }
    CloseHandle(snapshot);
    return count;
}
#else
int running_threads()
{
    return static_cast<int>(
        std::distance(std::filesystem::directory_iterator("/proc/self/task"), std::filesystem::directory_iterator()));
}
#endif

}  // namespace varne
