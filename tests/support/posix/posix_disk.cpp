#include "tests/support/posix/posix_disk.h"

#include "tests/support/disk_files.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace varne::testing {

Unprivileged::Unprivileged() : m_was_root(::geteuid() == 0)
{
    if (m_was_root) {
        EXPECT_EQ(::seteuid(kNobody), 0);
    }
}

Unprivileged::~Unprivileged()
{
    if (m_was_root) {
        EXPECT_EQ(::seteuid(0), 0);
    }
}

SmallDisk::SmallDisk(const std::filesystem::path& mount_point, size_t bytes) : m_mount_point(mount_point)
{
    const std::string options = "size=" + std::to_string(bytes);
    m_mounted = ::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, options.c_str()) == 0;
}

SmallDisk::~SmallDisk()
{
    if (m_mounted)
        ::umount2(m_mount_point.c_str(), MNT_DETACH);
}

int run_in_child(const std::function<void()>& body)
{
    pid_t child = ::fork();
    if (child == 0) {
        body();
        ::_exit(0);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace varne::testing
