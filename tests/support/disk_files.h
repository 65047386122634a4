#pragma once

#include <filesystem>
#include <string>

namespace varne::testing {

// The whole file's bytes, as they are on disk; empty when it cannot be read.
std::string read_bytes(const std::filesystem::path& path);
// Replaces the file with exactly these bytes.
void write_bytes(const std::filesystem::path& path, const std::string& bytes);

// Permission bits bind root only through its effective user; for its lifetime a test run as root takes a plain one.
class Unprivileged {
public:
    Unprivileged();
    ~Unprivileged();
    Unprivileged(const Unprivileged&) = delete;
    Unprivileged& operator=(const Unprivileged&) = delete;

private:
    bool m_was_root;
};

}  // namespace varne::testing
