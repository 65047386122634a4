#pragma once

#include <cstddef>
#include <map>
#include <optional>
#include <set>
#include <string>

#include "frame/automation_error.h"
#include "platform/file_system.h"

namespace varne::testing {

// Files held in memory as UTF-8 bytes, behaving as the real adapter does (missing folder 76,
// folder as a file 75, read-only file 70 as a file open for writing elsewhere is to its creation,
// no file name to replace 52, a NUL in a name 52), with failures that a
// test arms ahead: the next create, the Nth write from now, the next close, the next read. A
// name without "/" lies in the current folder, which always exists; other folders exist once
// create_folders made them.
class MemoryFileSystem final : public FileSystem {
public:
    bool file_exists(const BStr& path) override;
    BStr read_all_text(const BStr& path) override;
    std::unique_ptr<FileWriter> create_file(const BStr& path) override;
    std::unique_ptr<FileWriter> replace_file(const BStr& path) override;
    void delete_file(const BStr& path) override;
    void create_folders(const BStr& path) override;

    void put_file(const BStr& path, std::string bytes);
    // The file's bytes; nullopt when there is no such file.
    std::optional<std::string> file(const BStr& path) const;
    void set_read_only(const BStr& path);
    // The files and folders directly in the folder.
    size_t count_in(const BStr& folder) const;

    void fail_next_create(AutomationError error) { m_create_failure = std::move(error); }
    // Counts write_line and write_bytes calls on every writer from now; the Nth fails and writes nothing.
    void fail_write(int nth, AutomationError error);
    void fail_next_close(AutomationError error) { m_close_failure = std::move(error); }
    void fail_next_read(AutomationError error) { m_read_failure = std::move(error); }
    // A disk with this many bytes left for every writer from now: a write that does not fit fails
    // with the disk-full error and, as the port promises, writes nothing.
    void set_free_space(size_t bytes) { m_free_space = bytes; }

    // Writers made and not yet closed or dropped.
    int open_writers() const { return m_open_writers; }
    int write_line_calls() const { return m_write_line_calls; }

private:
    class Writer;
    friend class Writer;

    void check_writable(const BStr& path, std::string_view action) const;
    void count_write(const BStr& path, size_t bytes);
    void count_close();

    std::map<BStr, std::string> m_files;
    std::set<BStr> m_folders;
    std::set<BStr> m_read_only;
    // Files that a create_file writer holds open.
    std::set<BStr> m_held;
    std::optional<AutomationError> m_create_failure;
    std::optional<AutomationError> m_write_failure;
    int m_write_failure_countdown = 0;
    std::optional<AutomationError> m_close_failure;
    std::optional<AutomationError> m_read_failure;
    std::optional<size_t> m_free_space;
    int m_open_writers = 0;
    int m_write_line_calls = 0;
};

}  // namespace varne::testing
