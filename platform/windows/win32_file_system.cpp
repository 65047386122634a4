#include "platform/windows/win32_file_system.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "frame/automation_error.h"

namespace varne {

namespace {

bool is_separator(char16_t c)
{
    return c == u'/' || c == u'\\';
}

// The name as the system calls take it. One past the classic length limit is made full and given
// the extended prefix, so that names up to the file system's own limit work in any folder.
std::wstring system_path(const BStr& path)
{
    std::wstring name(path.begin(), path.end());
    if (name.size() < MAX_PATH - 12 || name.starts_with(L"\\\\?\\") || name.starts_with(L"\\\\.\\"))
        return name;
    DWORD length = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (length == 0)
        return name;
    std::wstring full(length, L'\0');
    full.resize(GetFullPathNameW(name.c_str(), length, full.data(), nullptr));
    if (full.starts_with(L"\\\\"))
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

size_t last_separator(const BStr& path)
{
    return path.find_last_of(u"/\\");
}

BStr folder_of(const BStr& path)
{
    auto slash = last_separator(path);
    if (slash == BStr::npos)
        return u".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

DWORD attributes_of(const BStr& path)
{
    return GetFileAttributesW(system_path(path).c_str());
}

bool is_folder(const BStr& path)
{
    DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::string system_text(DWORD error)
{
    wchar_t* buffer = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, error, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text(buffer, buffer + length);
    LocalFree(buffer);
    while (!text.empty() &&
           (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ' || text.back() == u'.'))
        text.pop_back();
    if (text.empty())
        return "system error " + std::to_string(error);
    return to_utf8(text);
}

// One failed system call as the error that scripts know, naming the file and the reason.
AutomationError file_error(DWORD error, std::string_view action, const BStr& path)
{
    int32_t number = error_number::kDeviceIoError;
    const char* title = "Device I/O error";
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        // The file is missing from a folder that exists, or the folder itself is missing.
        if (is_folder(folder_of(path))) {
            number = error_number::kFileNotFound;
            title = "File not found";
        } else {
            number = error_number::kPathNotFound;
            title = "Path not found";
        }
        break;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        number = error_number::kPathNotFound;
        title = "Path not found";
        break;
    case ERROR_ACCESS_DENIED:
        // Opening a folder as a file is refused as access denied.
        if (is_folder(path)) {
            number = error_number::kPathFileAccessError;
            title = "Path/File access error";
            break;
        }
        [[fallthrough]];
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        number = error_number::kPermissionDenied;
        title = "Permission denied";
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        number = error_number::kDiskFull;
        title = "Disk full";
        break;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
        number = error_number::kBadFileNameOrNumber;
        title = "Bad file name or number";
        break;
    default:
        break;
    }
    return AutomationError(number, std::string(title) + ": cannot " + std::string(action) + " '" + to_utf8(path) +
                                       "' (" + system_text(error) + ")");
}

AutomationError not_a_file(std::string_view action, const BStr& path, bool folder)
{
    return AutomationError(error_number::kPathFileAccessError,
                           "Path/File access error: cannot " + std::string(action) + " '" + to_utf8(path) + "' (" +
                               (folder ? "it is a folder" : "it is not a file on disk") + ")");
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

// The system refuses to change a read-only file, but a Windows program run by root under Wine is
// let through by the host's permissions; the check here refuses it on both alike.
void refuse_read_only(std::string_view action, const BStr& path)
{
    DWORD attributes = attributes_of(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw file_error(ERROR_ACCESS_DENIED, action, path);
}

class Handle {
public:
    explicit Handle(HANDLE handle) noexcept : m_handle(handle) {}
    ~Handle()
    {
        if (valid())
            CloseHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool valid() const noexcept { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE get() const noexcept { return m_handle; }
    HANDLE release() noexcept { return std::exchange(m_handle, INVALID_HANDLE_VALUE); }

private:
    HANDLE m_handle;
};

// Hands the whole buffer to the system at the file's position; returns 0 or the error.
DWORD write_all(HANDLE file, const char* data, size_t size)
{
    while (size > 0) {
        DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(file, data, chunk, &written, nullptr))
            return GetLastError();
        if (written == 0)
            return ERROR_WRITE_FAULT;
        data += written;
        size -= written;
    }
    return 0;
}

bool seek(HANDLE file, int64_t offset)
{
    LARGE_INTEGER to{};
    to.QuadPart = offset;
    return SetFilePointerEx(file, to, nullptr, FILE_BEGIN);
}

bool cut_at(HANDLE file, int64_t size)
{
    return seek(file, size) && SetEndOfFile(file);
}

// Text as the file holds it: ANSI lines, each ended by CR LF, or raw bytes.
class TextWriter : public FileWriter {
public:
    void write_line(std::u16string_view line) final
    {
        std::string bytes = to_ansi(line);
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

// Writes go straight to the system, so that a process that dies keeps everything written. A
// write that fails part-way (a full disk) is cut off again: the file ends where it ended before.
class DirectWriter : public TextWriter {
public:
    DirectWriter(HANDLE file, BStr path) : m_file(file), m_path(std::move(path)) {}

    ~DirectWriter() override
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
    }

    void close() override
    {
        if (m_file == INVALID_HANDLE_VALUE)
            return;
        if (!CloseHandle(std::exchange(m_file, INVALID_HANDLE_VALUE)))
            throw file_error(GetLastError(), "write to", m_path);
    }

protected:
    void append(std::string_view bytes) override
    {
        if (m_file == INVALID_HANDLE_VALUE)
            throw AutomationError(error_number::kBadFileNameOrNumber,
                                  "Bad file name or number: '" + to_utf8(m_path) + "' is closed");
        LARGE_INTEGER end{};
        const bool known = SetFilePointerEx(m_file, LARGE_INTEGER{}, &end, FILE_CURRENT);
        if (DWORD error = write_all(m_file, bytes.data(), bytes.size())) {
            if (known)
                cut_at(m_file, end.QuadPart);
            throw file_error(error, "write to", m_path);
        }
    }

    HANDLE m_file;
    BStr m_path;
};

constexpr std::u16string_view kTemporaryPrefix = u".varne-";
constexpr std::u16string_view kTemporarySuffix = u".tmp";
constexpr size_t kTemporaryDigits = 16;
// The byte that a saver holds locked in its temporary file for as long as it lives; far beyond
// any contents, so that readers are never blocked by it.
constexpr DWORD kLiveLockHigh = 0x7FFFFFFF;
constexpr DWORD kLiveLockLow = 0xFFFFFFF0;
// A saver's file is unlocked from its close until it has its place; a file whose lock is free is
// taken for a dead saver's only once it is older than that instant could ever last.
constexpr int64_t kStaleAfter100ns = 60LL * 10'000'000;

BStr temporary_name()
{
    std::random_device entropy;
    char digits[kTemporaryDigits + 1];
    std::snprintf(digits, sizeof digits, "%08x%08x", static_cast<unsigned>(entropy()),
                  static_cast<unsigned>(entropy()));
    return BStr(kTemporaryPrefix) + from_utf8(digits) + BStr(kTemporarySuffix);
}

bool is_temporary_name(std::u16string_view name)
{
    if (name.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size() ||
        !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
        return false;
    auto digits = name.substr(kTemporaryPrefix.size(), kTemporaryDigits);
    return digits.find_first_not_of(u"0123456789abcdef") == std::u16string_view::npos;
}

BStr in_folder(const BStr& folder, std::u16string_view name)
{
    return is_separator(folder.back()) ? folder + BStr(name) : folder + u'\\' + BStr(name);
}

bool lock_live(HANDLE file)
{
    OVERLAPPED at{};
    at.Offset = kLiveLockLow;
    at.OffsetHigh = kLiveLockHigh;
    return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at);
}

// Marks the file to go when its last handle closes (also when the process is killed), or takes the mark back.
bool delete_on_close(HANDLE file, bool wanted)
{
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = wanted;
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
}

int64_t now_as_file_time()
{
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return static_cast<int64_t>((static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime);
}

// Removes the temporary files of savers that died in the instant between finishing their file and
// putting it in place: their lock is free and they are older than that instant.
void remove_stale_temporaries(const BStr& folder)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(system_path(in_folder(folder, u".varne-*.tmp")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    const int64_t now = now_as_file_time();
    do {
        const BStr name(found.cFileName, found.cFileName + wcslen(found.cFileName));
        const auto written = static_cast<int64_t>((static_cast<uint64_t>(found.ftLastWriteTime.dwHighDateTime) << 32) |
                                                  found.ftLastWriteTime.dwLowDateTime);
        if (!is_temporary_name(name) || (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            now - written < kStaleAfter100ns)
            continue;
        Handle file(CreateFileW(system_path(in_folder(folder, name)).c_str(), GENERIC_READ | DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        // Deleted through the handle that holds the lock, so that it is the file found dead that goes.
        if (file.valid() && GetFileType(file.get()) == FILE_TYPE_DISK && lock_live(file.get()))
            delete_on_close(file.get(), true);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// A new file for the replacement in the target's folder under a short hidden name, locked while
// its saver lives and marked to go with its last handle, so that a saver that dies leaves nothing.
// Returns INVALID_HANDLE_VALUE with the last error set when no file can be made there.
HANDLE create_temporary(const BStr& folder, BStr& temporary_path)
{
    for (int attempt = 0; attempt < 64; ++attempt) {
        temporary_path = in_folder(folder, temporary_name());
        Handle file(CreateFileW(system_path(temporary_path).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.valid()) {
            if (GetLastError() == ERROR_FILE_EXISTS)
                continue;
            return INVALID_HANDLE_VALUE;
        }
        // Between the creation and the lock another save may have taken the file for a stale one; a
        // file system without locks leaves the file unlocked, and so never taken for a stale one.
        if (!lock_live(file.get()) && GetLastError() == ERROR_LOCK_VIOLATION)
            continue;
        if (!delete_on_close(file.get(), true))
            return INVALID_HANDLE_VALUE;
        return file.release();
    }
    SetLastError(ERROR_FILE_EXISTS);
    return INVALID_HANDLE_VALUE;
}

// What a replacement keeps of the old file where the system does not carry it over itself.
struct OldFile {
    DWORD attributes;
    FILETIME created;
};

// Writes a new file beside the target and puts it in the target's place on close, so that a
// reader sees the old file or the new one, never half of either. A writer dropped before that
// leaves the target as it was, and its own file goes with its handle.
class ReplacementWriter final : public DirectWriter {
public:
    ReplacementWriter(HANDLE file, BStr target, BStr temporary_path, std::optional<OldFile> old)
        : DirectWriter(file, std::move(target)), m_temporary_path(std::move(temporary_path)), m_old(old)
    {
    }

    void close() override
    {
        if (m_file == INVALID_HANDLE_VALUE)
            return;
        if (!FlushFileBuffers(m_file))
            fail(GetLastError(), "write to");
        // The old file's attributes and creation time, which a move would not carry over.
        FILE_BASIC_INFO basic{};
        basic.FileAttributes = m_old ? m_old->attributes : FILE_ATTRIBUTE_ARCHIVE;
        if (m_old) {
            basic.CreationTime.LowPart = m_old->created.dwLowDateTime;
            basic.CreationTime.HighPart = static_cast<LONG>(m_old->created.dwHighDateTime);
        }
        if (!SetFileInformationByHandle(m_file, FileBasicInfo, &basic, sizeof basic))
            fail(GetLastError(), "replace");
        if (!delete_on_close(m_file, false))
            fail(GetLastError(), "replace");
        // Closed before the move, which opens the file again without sharing.
        if (!CloseHandle(std::exchange(m_file, INVALID_HANDLE_VALUE)))
            fail(GetLastError(), "write to");
        const std::wstring from = system_path(m_temporary_path);
        const std::wstring to = system_path(m_path);
        const bool moved =
            m_old ? ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
                  : MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        if (!moved)
            fail(GetLastError(), "replace");
    }

private:
    [[noreturn]] void fail(DWORD error, std::string_view action)
    {
        if (m_file != INVALID_HANDLE_VALUE) {
            delete_on_close(m_file, true);
            CloseHandle(std::exchange(m_file, INVALID_HANDLE_VALUE));
        } else {
            DeleteFileW(system_path(m_temporary_path).c_str());
        }
        throw file_error(error, action, m_path);
    }

    BStr m_temporary_path;
    std::optional<OldFile> m_old;
};

// Writes over the file itself, for a file that no new file beside it could stand in for: it
// keeps its links, attributes and security. The contents are gathered until close; room for
// them is taken first where the file system can reserve it, so that a full disk refuses the
// save before the old contents are touched, and a write that fails after that puts the old
// contents back where they could be read.
class InPlaceWriter final : public TextWriter {
public:
    InPlaceWriter(HANDLE file, BStr path) : m_file(file), m_path(std::move(path)) {}

    ~InPlaceWriter() override
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
    }

    void close() override
    {
        if (m_file == INVALID_HANDLE_VALUE)
            return;
        // Only ever grown: an allocation below the file's end would cut the old contents off.
        LARGE_INTEGER old_size{};
        FILE_ALLOCATION_INFO room{};
        room.AllocationSize.QuadPart = static_cast<LONGLONG>(m_contents.size());
        if (GetFileSizeEx(m_file, &old_size) && room.AllocationSize.QuadPart > old_size.QuadPart &&
            !SetFileInformationByHandle(m_file, FileAllocationInfo, &room, sizeof room)) {
            DWORD error = GetLastError();
            if (error != ERROR_CALL_NOT_IMPLEMENTED && error != ERROR_INVALID_FUNCTION &&
                error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_PARAMETER)
                fail(error);
        }
        std::string old_contents;
        const bool readable = read_old(old_contents);
        DWORD error = seek(m_file, 0) ? write_all(m_file, m_contents.data(), m_contents.size()) : GetLastError();
        if (error == 0 && !SetEndOfFile(m_file))
            error = GetLastError();
        if (error != 0) {
            if (readable && seek(m_file, 0) && write_all(m_file, old_contents.data(), old_contents.size()) == 0)
                SetEndOfFile(m_file);
            fail(error);
        }
        if (!FlushFileBuffers(m_file))
            fail(GetLastError());
        if (!CloseHandle(std::exchange(m_file, INVALID_HANDLE_VALUE)))
            throw file_error(GetLastError(), "write to", m_path);
    }

private:
    void append(std::string_view bytes) override
    {
        if (m_file == INVALID_HANDLE_VALUE)
            throw AutomationError(error_number::kBadFileNameOrNumber,
                                  "Bad file name or number: '" + to_utf8(m_path) + "' is closed");
        m_contents.append(bytes);
    }

    // The contents as they are now; false when the file may be written but not read.
    bool read_old(std::string& contents) const
    {
        if (!seek(m_file, 0))
            return false;
        char buffer[65536];
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(m_file, buffer, sizeof buffer, &got, nullptr))
                return false;
            if (got == 0)
                return true;
            contents.append(buffer, got);
        }
    }

    [[noreturn]] void fail(DWORD error)
    {
        CloseHandle(std::exchange(m_file, INVALID_HANDLE_VALUE));
        throw file_error(error, "write to", m_path);
    }

    HANDLE m_file;
    BStr m_path;
    std::string m_contents;
};

// The file itself, opened for the in-place writer; for reading too where that is allowed.
std::unique_ptr<FileWriter> open_in_place(const BStr& target)
{
    const std::wstring name = system_path(target);
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw file_error(GetLastError(), "replace", target);
    return std::make_unique<InPlaceWriter>(file, target);
}

}  // namespace

std::string to_ansi(std::u16string_view text)
{
    if (text.empty())
        return {};
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    int length = WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
    return bytes;
}

BStr from_ansi(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return BStr(text.begin(), text.end());
}

bool Win32FileSystem::file_exists(const BStr& path)
{
    if (path.find(u'\0') != BStr::npos)
        return false;
    DWORD attributes = attributes_of(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

BStr Win32FileSystem::read_all_text(const BStr& path)
{
    checked_path(path);
    Handle file(CreateFileW(system_path(path).c_str(), GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        throw file_error(GetLastError(), "open", path);
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        throw not_a_file("read", path, false);
    std::string bytes;
    char buffer[65536];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr))
            throw file_error(GetLastError(), "read", path);
        if (got == 0)
            break;
        bytes.append(buffer, got);
    }
    return from_ansi(bytes);
}

std::unique_ptr<FileWriter> Win32FileSystem::create_file(const BStr& path)
{
    checked_path(path);
    refuse_read_only("create", path);
    if (is_folder(path))
        throw not_a_file("create", path, true);
    Handle file(CreateFileW(system_path(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        throw file_error(GetLastError(), "create", path);
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        throw not_a_file("create", path, false);
    return std::make_unique<DirectWriter>(file.release(), path);
}

std::unique_ptr<FileWriter> Win32FileSystem::replace_file(const BStr& path)
{
    checked_path(path);
    // An empty name, or one ending in a separator, names no file; it is refused before a temporary file is made for it.
    if (path.empty() || is_separator(path.back()))
        throw AutomationError(error_number::kBadFileNameOrNumber,
                              "Bad file name or number: cannot replace '" + to_utf8(path) + "' (no file name)");
    DWORD attributes = attributes_of(path);
    std::optional<OldFile> old;
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            throw not_a_file("replace", path, true);
        refuse_read_only("replace", path);
        Handle existing(CreateFileW(system_path(path).c_str(), FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
        BY_HANDLE_FILE_INFORMATION information{};
        if (!existing.valid() || !GetFileInformationByHandle(existing.get(), &information))
            throw file_error(GetLastError(), "replace", path);
        if (GetFileType(existing.get()) != FILE_TYPE_DISK)
            throw not_a_file("replace", path, false);
        // A new file would take the place of one name only: the other links would keep the old contents.
        if (information.nNumberOfLinks > 1)
            return open_in_place(path);
        old = OldFile{information.dwFileAttributes, information.ftCreationTime};
    } else if (DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND) {
        throw file_error(error, "replace", path);
    }
    const BStr folder = folder_of(path);
    remove_stale_temporaries(folder);
    BStr temporary_path;
    HANDLE file = create_temporary(folder, temporary_path);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        // A folder where no file may be made still lets a file that may be written be written over.
        if (old && error == ERROR_ACCESS_DENIED)
            return open_in_place(path);
        throw file_error(error, "create", path);
    }
    return std::make_unique<ReplacementWriter>(file, path, std::move(temporary_path), old);
}

void Win32FileSystem::delete_file(const BStr& path)
{
    checked_path(path);
    refuse_read_only("delete", path);
    if (!DeleteFileW(system_path(path).c_str()))
        throw file_error(GetLastError(), "delete", path);
}

void Win32FileSystem::create_folders(const BStr& path)
{
    checked_path(path);
    // A drive ("C:") or a share ("\\server\share") at the start is there already, or cannot be made.
    size_t first = 0;
    if (path.size() >= 2 && path[1] == u':')
        first = 2;
    else if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
        size_t server_end = path.find_first_of(u"/\\", 2);
        size_t share_end = server_end == BStr::npos ? BStr::npos : path.find_first_of(u"/\\", server_end + 1);
        first = share_end == BStr::npos ? path.size() : share_end;
    }
    size_t end = first;
    while (end != BStr::npos) {
        end = path.find_first_of(u"/\\", end + 1);
        BStr folder = path.substr(0, end);
        if (folder.size() <= first || is_separator(folder.back()))
            continue;
        if (CreateDirectoryW(system_path(folder).c_str(), nullptr))
            continue;
        DWORD error = GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            throw file_error(error, "create the folder", folder);
        if (!is_folder(folder))
            throw AutomationError(error_number::kPathFileAccessError,
                                  "Path/File access error: cannot create the folder '" + to_utf8(folder) +
                                      "' (a file of that name is in the way)");
    }
}

}  // namespace varne
