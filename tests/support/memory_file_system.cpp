#include "tests/support/memory_file_system.h"

#include <span>
#include <utility>

namespace varne::testing {

namespace {

BStr folder_of(const BStr& path)
{
    auto slash = path.rfind(u'/');
    return slash == BStr::npos ? BStr() : path.substr(0, slash);
}

// A NUL would cut a name short on disk, so the real adapter refuses it.
void check_name(const BStr& path)
{
    if (path.find(u'\0') == BStr::npos)
        return;
    std::string shown;
    for (char c : to_utf8(path))
        shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    throw AutomationError(error_number::kBadFileNameOrNumber,
                          "Bad file name or number: '" + shown + "' holds a NUL character");
}

AutomationError error(int32_t number, const char* title, std::string_view action, const BStr& path, const char* reason)
{
    return AutomationError(number, std::string(title) + ": cannot " + std::string(action) + " '" + to_utf8(path) +
                                       "' (" + reason + ")");
}

}  // namespace

// Writes into the file at once (create) or into a draft that close puts in its place (replace).
class MemoryFileSystem::Writer final : public FileWriter {
public:
    Writer(MemoryFileSystem& files, BStr path, bool replacing)
        : m_files(files), m_path(std::move(path)), m_replacing(replacing)
    {
        ++m_files.m_open_writers;
        if (!m_replacing)
            m_files.m_held.insert(m_path);
    }

    ~Writer() override
    {
        if (!m_closed)
            release();
    }

    void write_line(std::u16string_view line) override
    {
        ++m_files.m_write_line_calls;
        write(to_utf8(line) + "\r\n");
    }

    void write_bytes(std::span<const uint8_t> bytes) override
    {
        write(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }

    void close() override
    {
        if (m_closed)
            return;
        m_files.count_close();
        release();
        if (m_replacing)
            m_files.m_files[m_path] = std::move(m_draft);
    }

private:
    void release()
    {
        m_closed = true;
        --m_files.m_open_writers;
        if (!m_replacing)
            m_files.m_held.erase(m_path);
    }

    void write(const std::string& bytes)
    {
        if (m_closed)
            throw error(error_number::kBadFileNameOrNumber, "Bad file name or number", "write to", m_path,
                        "it is closed");
        m_files.count_write(m_path, bytes.size());
        if (m_replacing)
            m_draft += bytes;
        else
            m_files.m_files[m_path] += bytes;
    }

    MemoryFileSystem& m_files;
    BStr m_path;
    bool m_replacing;
    bool m_closed = false;
    std::string m_draft;
};

bool MemoryFileSystem::file_exists(const BStr& path)
{
    return m_files.contains(path);
}

BStr MemoryFileSystem::read_all_text(const BStr& path)
{
    check_name(path);
    if (m_read_failure)
        throw *std::exchange(m_read_failure, std::nullopt);
    if (m_folders.contains(path))
        throw error(error_number::kPathFileAccessError, "Path/File access error", "read", path, "it is a folder");
    auto found = m_files.find(path);
    if (found == m_files.end()) {
        if (!folder_of(path).empty() && !m_folders.contains(folder_of(path)))
            throw error(error_number::kPathNotFound, "Path not found", "open", path, "No such file or directory");
        throw error(error_number::kFileNotFound, "File not found", "open", path, "No such file or directory");
    }
    return from_utf8(found->second);
}

void MemoryFileSystem::check_writable(const BStr& path, std::string_view action) const
{
    check_name(path);
    if (m_folders.contains(path))
        throw error(error_number::kPathFileAccessError, "Path/File access error", action, path, "it is a folder");
    // A save makes its new file in the folder first, and so fails to create it.
    if (!folder_of(path).empty() && !m_folders.contains(folder_of(path)))
        throw error(error_number::kPathNotFound, "Path not found", "create", path, "No such file or directory");
    if (m_read_only.contains(path))
        throw error(error_number::kPermissionDenied, "Permission denied", action, path, "Permission denied");
}

std::unique_ptr<FileWriter> MemoryFileSystem::create_file(const BStr& path)
{
    if (m_create_failure)
        throw *std::exchange(m_create_failure, std::nullopt);
    check_writable(path, "create");
    if (m_held.contains(path))
        throw error(error_number::kPermissionDenied, "Permission denied", "create", path,
                    "it is open in another program or object");
    m_files[path].clear();
    return std::make_unique<Writer>(*this, path, false);
}

std::unique_ptr<FileWriter> MemoryFileSystem::replace_file(const BStr& path)
{
    if (m_create_failure)
        throw *std::exchange(m_create_failure, std::nullopt);
    check_name(path);
    if (path.empty() || path.back() == u'/')
        throw error(error_number::kBadFileNameOrNumber, "Bad file name or number", "replace", path, "no file name");
    check_writable(path, "replace");
    return std::make_unique<Writer>(*this, path, true);
}

void MemoryFileSystem::delete_file(const BStr& path)
{
    check_name(path);
    if (m_files.erase(path) == 0)
        throw error(error_number::kFileNotFound, "File not found", "delete", path, "No such file or directory");
}

void MemoryFileSystem::create_folders(const BStr& path)
{
    check_name(path);
    for (BStr folder = path; !folder.empty(); folder = folder_of(folder))
        if (m_files.contains(folder))
            throw AutomationError(error_number::kPathFileAccessError,
                                  "Path/File access error: cannot create the folder '" + to_utf8(folder) +
                                      "' (a file of that name is in the way)");
    for (BStr folder = path; !folder.empty(); folder = folder_of(folder))
        m_folders.insert(folder);
}

size_t MemoryFileSystem::count_in(const BStr& folder) const
{
    size_t count = 0;
    for (const auto& [path, bytes] : m_files)
        count += folder_of(path) == folder;
    for (const BStr& path : m_folders)
        count += folder_of(path) == folder;
    return count;
}

void MemoryFileSystem::put_file(const BStr& path, std::string bytes)
{
    m_files[path] = std::move(bytes);
}

std::optional<std::string> MemoryFileSystem::file(const BStr& path) const
{
    auto found = m_files.find(path);
    if (found == m_files.end())
        return std::nullopt;
    return found->second;
}

void MemoryFileSystem::set_read_only(const BStr& path)
{
    m_read_only.insert(path);
}

void MemoryFileSystem::fail_write(int nth, AutomationError error)
{
    m_write_failure = std::move(error);
    m_write_failure_countdown = nth;
}

void MemoryFileSystem::count_write(const BStr& path, size_t bytes)
{
    if (m_write_failure && --m_write_failure_countdown == 0)
        throw *std::exchange(m_write_failure, std::nullopt);
    if (m_free_space && bytes > *m_free_space)
        throw error(error_number::kDiskFull, "Disk full", "write to", path, "No space left on device");
    if (m_free_space)
        *m_free_space -= bytes;
}

void MemoryFileSystem::count_close()
{
    if (m_close_failure)
        throw *std::exchange(m_close_failure, std::nullopt);
}

}  // namespace varne::testing
