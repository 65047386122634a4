#include "platform/files/system_file_system.h"

#include <cstdio>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "frame/automation_error.h"
#include "platform/files/native_file.h"
#include "platform/system.h"

namespace varne::files {

namespace {

bool is_separator(char16_t c)
{
    return separators().find(c) != std::u16string_view::npos;
}

// The runtime's own title of each file error.
const char* title_of(int32_t number)
{
    static constexpr std::pair<int32_t, const char*> kTitles[] = {
        {error_number::kFileNotFound, "File not found"},
        {error_number::kPathNotFound, "Path not found"},
        {error_number::kPermissionDenied, "Permission denied"},
        {error_number::kPathFileAccessError, "Path/File access error"},
        {error_number::kDiskFull, "Disk full"},
        {error_number::kBadFileNameOrNumber, "Bad file name or number"},
    };
    for (const auto& [known, title] : kTitles) {
        if (known == number)
            return title;
    }
    return "Device I/O error";
}

// The name as the system takes it; a NUL would silently cut it short, so it is refused.
const BStr& checked_path(const BStr& path)
{
    if (path.find(u'\0') == BStr::npos)
        return path;
    std::string shown;
    for (char c : to_utf8(path))
        shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    throw AutomationError(error_number::kBadFileNameOrNumber,
                          "Bad file name or number: '" + shown + "' holds a NUL character");
}

// Closes a file opened for reading when it goes.
class FileForReading {
public:
    explicit FileForReading(Handle file) noexcept : m_file(file) {}
    ~FileForReading() { close(m_file); }
    FileForReading(const FileForReading&) = delete;
    FileForReading& operator=(const FileForReading&) = delete;

    Handle get() const noexcept { return m_file; }

private:
    Handle m_file;
};

// Hands the whole buffer to the system at the file's position, however many calls that takes.
Error write_all(Handle file, std::string_view bytes)
{
    while (!bytes.empty()) {
        size_t written = 0;
        if (Error error = write_some(file, bytes, written))
            return error;
        bytes.remove_prefix(written);
    }
    return 0;
}

// Reads from the file's position to its end.
Error read_rest(Handle file, std::string& contents)
{
    char buffer[65536];
    for (size_t got = 1; got > 0;) {
        if (Error error = read_some(file, buffer, sizeof buffer, got))
            return error;
        contents.append(buffer, got);
    }
    return 0;
}

// Writes the contents from the start and ends the file after them.
Error overwrite(Handle file, std::string_view contents)
{
    if (Error error = seek(file, 0))
        return error;
    if (Error error = write_all(file, contents))
        return error;
    return end_here(file);
}

AutomationError closed_error(const BStr& path)
{
    return AutomationError(error_number::kBadFileNameOrNumber,
                           "Bad file name or number: '" + to_utf8(path) + "' is closed");
}

// Text as the file holds it: lines in the system's encoding, each ended by CR LF, or raw bytes.
class TextWriter : public FileWriter {
public:
    void write_line(std::u16string_view line) final
    {
        std::string bytes = encode(line);
        bytes += "\r\n";
        append(bytes);
    }

    void write_bytes(std::span<const uint8_t> bytes) final
    {
        append(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }

protected:
    virtual void append(std::string_view bytes) = 0;
};

// A writer over one open file of the system, which it closes when it is dropped.
class HandleWriter : public TextWriter {
public:
    HandleWriter(Handle file, BStr path) : m_file(file), m_path(std::move(path)) {}

    ~HandleWriter() override
    {
        if (m_file != kNoHandle)
            files::close(m_file);
    }

protected:
    bool is_closed() const { return m_file == kNoHandle; }

    void check_open() const
    {
        if (is_closed())
            throw closed_error(m_path);
    }

    // A failure to close is a failed write: the system may have kept the last bytes back until then.
    void close_file()
    {
        if (Error error = files::close(std::exchange(m_file, kNoHandle)))
            throw file_error(error, "write to", m_path);
    }

    Handle m_file;
    BStr m_path;
};

// Writes go straight to the system, so that a process that dies keeps everything written. A
// write that fails part-way (a full disk) is cut off again: the file ends where it ended before.
class DirectWriter : public HandleWriter {
public:
    using HandleWriter::HandleWriter;

    void close() override
    {
        if (!is_closed())
            close_file();
    }

protected:
    void append(std::string_view bytes) override
    {
        check_open();
        const std::optional<int64_t> end = position(m_file);
        if (Error error = write_all(m_file, bytes)) {
            // Devices cannot be cut back; there nothing reached them anyway.
            if (end && seek(m_file, *end) == 0)
                end_here(m_file);
            throw file_error(error, "write to", m_path);
        }
    }
};

// Writes a new file beside the target and puts it in the target's place on close, so that a
// reader sees the old file or the new one, never half of either. A writer dropped before that
// leaves the target as it was and removes its own file.
class ReplacementWriter final : public DirectWriter {
public:
    ReplacementWriter(Temporary temporary, BStr target, BStr folder, bool replaces_old)
        : DirectWriter(temporary.file, std::move(target)),
          m_temporary(std::move(temporary)),
          m_folder(std::move(folder)),
          m_replaces_old(replaces_old)
    {
    }

    ~ReplacementWriter() override
    {
        if (!is_closed()) {
            m_temporary.file = std::exchange(m_file, kNoHandle);
            discard(m_temporary);
        }
    }

    void close() override
    {
        if (is_closed())
            return;
        m_temporary.file = std::exchange(m_file, kNoHandle);
        put_in_place(m_temporary, m_path, m_folder, m_replaces_old);
    }

private:
    Temporary m_temporary;
    BStr m_folder;
    bool m_replaces_old;
};

// Writes over the file itself, for a file that no new file beside it could stand in for: it
// keeps its links, owner, attributes and security. The contents are gathered until close; room
// for them is taken first where the file system can reserve it, so that a full disk refuses the
// save before the old contents are touched, and a write that fails after that puts the old
// contents back where they could be read.
class InPlaceWriter final : public HandleWriter {
public:
    using HandleWriter::HandleWriter;

    void close() override
    {
        if (is_closed())
            return;
        if (Error error = reserve(m_file, static_cast<int64_t>(m_contents.size())))
            fail(error);
        std::string old_contents;
        // The file may be one that may be written but not read.
        const bool readable = seek(m_file, 0) == 0 && read_rest(m_file, old_contents) == 0;
        if (Error error = overwrite(m_file, m_contents)) {
            if (readable)
                overwrite(m_file, old_contents);
            fail(error);
        }
        if (Error error = flush(m_file))
            fail(error);
        close_file();
    }

private:
    void append(std::string_view bytes) override
    {
        check_open();
        m_contents.append(bytes);
    }

    [[noreturn]] void fail(Error error)
    {
        files::close(std::exchange(m_file, kNoHandle));
        throw file_error(error, "write to", m_path);
    }

    std::string m_contents;
};

std::unique_ptr<FileWriter> write_in_place(const BStr& target)
{
    return std::make_unique<InPlaceWriter>(open_in_place(target), target);
}

constexpr std::u16string_view kTemporaryPrefix = u".varne-";
constexpr std::u16string_view kTemporarySuffix = u".tmp";
constexpr size_t kTemporaryDigits = 16;

bool is_temporary_name(std::u16string_view name)
{
    if (name.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size() ||
        !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
        return false;
    auto digits = name.substr(kTemporaryPrefix.size(), kTemporaryDigits);
    return digits.find_first_not_of(u"0123456789abcdef") == std::u16string_view::npos;
}

// A saver holds its new file locked for as long as it lives; one whose lock is free was left by a
// saver that died before it could put the file in place or remove it.
void remove_stale_temporaries(const BStr& folder)
{
    for (const BStr& name : names_in(folder))
        if (is_temporary_name(name))
            remove_if_abandoned(in_folder(folder, name));
}

// A new file for the replacement, locked, in the target's folder: without a name where the file
// system allows it, so that a saver that dies leaves nothing; else under a short hidden name
// that the system removes with its handle or a later save removes once its saver has died.
Error create_temporary(const BStr& folder, Temporary& temporary)
{
    Error error = 0;
    if (create_unnamed_temporary(folder, temporary, error) || error != 0)
        return error;
    for (int attempt = 0; attempt < 64; ++attempt) {
        error = create_named_temporary(in_folder(folder, temporary_name()), temporary);
        if (!is_name_taken(error))
            return error;
    }
    return error;
}

}  // namespace

AutomationError file_error(Error error, std::string_view action, const BStr& path)
{
    const int32_t number = error_number(error, path);
    return AutomationError(number, std::string(title_of(number)) + ": cannot " + std::string(action) + " '" +
                                       to_utf8(path) + "' (" + error_text(error) + ")");
}

AutomationError not_a_file(std::string_view action, const BStr& path, bool folder)
{
    return AutomationError(error_number::kPathFileAccessError,
                           "Path/File access error: cannot " + std::string(action) + " '" + to_utf8(path) + "' (" +
                               std::string(folder ? "it is a folder" : not_a_file_reason()) + ")");
}

bool is_folder(const BStr& path)
{
    return kind_of(path) == Kind::kFolder;
}

BStr folder_of(const BStr& path)
{
    auto slash = path.find_last_of(separators());
    if (slash == BStr::npos)
        return u".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

BStr in_folder(const BStr& folder, std::u16string_view name)
{
    return is_separator(folder.back()) ? folder + BStr(name) : folder + joining_separator() + BStr(name);
}

BStr temporary_name()
{
    std::random_device entropy;
    char digits[kTemporaryDigits + 1];
    std::snprintf(digits, sizeof digits, "%08x%08x", static_cast<unsigned>(entropy()),
                  static_cast<unsigned>(entropy()));
    return BStr(kTemporaryPrefix) + from_utf8(digits) + BStr(kTemporarySuffix);
}

bool SystemFileSystem::file_exists(const BStr& path)
{
    return path.find(u'\0') == BStr::npos && kind_of(path) == Kind::kOther;
}

BStr SystemFileSystem::read_all_text(const BStr& path)
{
    FileForReading file(open_to_read(checked_path(path)));
    std::string bytes;
    if (Error error = read_rest(file.get(), bytes))
        throw file_error(error, "read", path);
    return decode(bytes);
}

std::unique_ptr<FileWriter> SystemFileSystem::create_file(const BStr& path)
{
    return std::make_unique<DirectWriter>(create(checked_path(path)), path);
}

std::unique_ptr<FileWriter> SystemFileSystem::replace_file(const BStr& path)
{
    checked_path(path);
    // An empty name, or one ending in a separator, names no file; it is refused before a new file is made for it.
    if (path.empty() || is_separator(path.back()))
        throw AutomationError(error_number::kBadFileNameOrNumber,
                              "Bad file name or number: cannot replace '" + to_utf8(path) + "' (no file name)");
    const std::optional<ReplacedFile> old = inspect_replaced(path);
    const BStr target = old ? old->path : path;
    // A new file would take the place of one name only: the other links would keep the old contents.
    if (old && old->links > 1)
        return write_in_place(target);
    const BStr folder = folder_of(target);
    remove_stale_temporaries(folder);
    Temporary temporary;
    if (Error error = create_temporary(folder, temporary)) {
        // A folder where no file may be made still lets a file that may be written be written over.
        if (old && is_access_denied(error))
            return write_in_place(target);
        throw file_error(error, "create", target);
    }
    if (old && !take_identity(temporary, target)) {
        discard(temporary);
        return write_in_place(target);
    }
    return std::make_unique<ReplacementWriter>(std::move(temporary), target, folder, old.has_value());
}

void SystemFileSystem::delete_file(const BStr& path)
{
    remove(checked_path(path));
}

void SystemFileSystem::create_folders(const BStr& path)
{
    checked_path(path);
    const size_t first = root_length(path);
    size_t end = first;
    while (end != BStr::npos) {
        end = path.find_first_of(separators(), end + 1);
        BStr folder = path.substr(0, end);
        if (folder.size() <= first || is_separator(folder.back()))
            continue;
        Error error = make_folder(folder);
        if (error == 0)
            continue;
        if (!is_name_taken(error))
            throw file_error(error, "create the folder", folder);
        if (!is_folder(folder))
            throw AutomationError(error_number::kPathFileAccessError,
                                  "Path/File access error: cannot create the folder '" + to_utf8(folder) +
                                      "' (a file of that name is in the way)");
    }
}

}  // namespace varne::files

varne::FileSystem& varne::system_file_system()
{
    static files::SystemFileSystem system_files;
    return system_files;
}
