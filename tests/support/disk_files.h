#pragma once

#include <filesystem>
#include <string>

namespace varne::testing {

// The whole file's bytes, as they are on disk; empty when it cannot be read.
std::string read_bytes(const std::filesystem::path& path);
// Replaces the file with exactly these bytes.
void write_bytes(const std::filesystem::path& path, const std::string& bytes);

// A fresh folder under the system's temporary folder, named from `prefix`, removed with everything
// in it, even what a test made read-only.
class ScratchFolder {
public:
    explicit ScratchFolder(const std::string& prefix);
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path path(const std::string& name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

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
