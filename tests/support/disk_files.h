#pragma once

#include <filesystem>
#include <string>

#include "frame/text.h"

namespace varne::testing {

// A folder of the test's own under the system's temporary folder, removed with all it holds, even
// what a test made read-only.
class TemporaryFolder {
public:
    // The folder's name starts with `prefix`; a random number makes it the test's own.
    explicit TemporaryFolder(const std::string& prefix);
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path path(const std::string& file) const { return m_path / file; }
    operator const std::filesystem::path&() const { return m_path; }
    std::filesystem::path operator/(const std::string& file) const { return m_path / file; }
    // The file of the folder as the library takes a name.
    BStr name(const std::string& file) const;
    std::string string() const { return m_path.string(); }

private:
    std::filesystem::path m_path;
};

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
