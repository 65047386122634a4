#pragma once

#include <sys/types.h>

#include <cstddef>
#include <filesystem>
#include <functional>

namespace varne::testing {

// The user a test takes when it must not be root.
inline constexpr uid_t kNobody = 65534;
inline constexpr gid_t kNoGroup = 65534;

// A tmpfs of the given size mounted on the (existing) folder for the object's lifetime; only
// root may mount, so elsewhere mounted() is false and the test skips.
class SmallDisk {
public:
    SmallDisk(const std::filesystem::path& mount_point, size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool mounted() const { return m_mounted; }

private:
    std::filesystem::path m_mount_point;
    bool m_mounted = false;
};

// Runs the body in a forked child and answers how it ended: its exit code, or 128 plus the signal
// that ended it. The body runs no test assertions of its own; it reports through its exit code.
int run_in_child(const std::function<void()>& body);

}  // namespace varne::testing
