#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/file_system.h"
#include "tests/support/memory_file_system.h"

namespace varne::testing {

// A folder of a test's own on one file system, with what a test needs to set files up and look
// at them beside the port.
class FilePlace {
public:
    virtual ~FilePlace() = default;
    virtual FileSystem& files() = 0;
    // The full name of a file or folder in the place ("sub/name" for one in a subfolder).
    virtual BStr name(std::string_view file) const = 0;
    virtual void put(std::string_view file, const std::string& bytes) = 0;
    // The file's bytes; nullopt when there is none.
    virtual std::optional<std::string> bytes(std::string_view file) const = 0;
    // The files and folders directly in the place: what a save leaves beside its file.
    virtual size_t entries() const = 0;
    // The file stays readable, but no user of the test may write it.
    virtual void make_read_only(std::string_view file) = 0;
    // For its lifetime, the calls run as a user that the file's permissions bind.
    virtual std::shared_ptr<void> as_plain_user() = 0;
};

// The place on the in-memory fake, in a folder "place".
class MemoryPlace final : public FilePlace {
public:
    MemoryPlace() { m_files.create_folders(u"place"); }
    FileSystem& files() override { return m_files; }
    BStr name(std::string_view file) const override { return u"place/" + from_utf8(file); }
    void put(std::string_view file, const std::string& bytes) override { m_files.put_file(name(file), bytes); }
    std::optional<std::string> bytes(std::string_view file) const override { return m_files.file(name(file)); }
    size_t entries() const override { return m_files.count_in(u"place"); }
    void make_read_only(std::string_view file) override { m_files.set_read_only(name(file)); }
    std::shared_ptr<void> as_plain_user() override { return nullptr; }

private:
    MemoryFileSystem m_files;
};

// The place on the system's own files, through the adapter that the library ships.
std::unique_ptr<FilePlace> make_disk_place();

// Where permissions bind root only through its effective user (POSIX), a plain user for the
// scope's lifetime; nothing where they bind every user (Windows).
std::shared_ptr<void> plain_user_scope();

}  // namespace varne::testing
