#include "tests/support/posix/posix_processes.h"

#include <fstream>
#include <sstream>

namespace varne::testing {

namespace {

// The state and the group of a process, from its /proc/<pid>/stat; state 0 when it is gone.
std::pair<char, pid_t> state_and_group(const std::filesystem::path& stat_path)
{
    std::ifstream stat(stat_path);
    std::string line;
    if (!std::getline(stat, line) || line.rfind(')') == std::string::npos)
        return {0, 0};
    std::istringstream fields(line.substr(line.rfind(')') + 1));
    char state = 0;
    pid_t parent = 0;
    pid_t group = 0;
    fields >> state >> parent >> group;
    return {state, group};
}

bool live(char state)
{
    return state != 0 && state != 'Z' && state != 'X';
}

}  // namespace

bool process_alive(pid_t pid)
{
    return live(state_and_group("/proc/" + std::to_string(pid) + "/stat").first);
}

bool group_alive(pid_t pgid)
{
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const auto [state, group] = state_and_group(entry.path() / "stat");
        if (group == pgid && live(state))
            return true;
    }
    return false;
}

std::filesystem::path ScriptFolder::add(const std::string& name, const std::string& text) const
{
    const auto path = this->path(name);
    std::ofstream(path, std::ios::binary) << text;
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
    return path;
}

}  // namespace varne::testing
