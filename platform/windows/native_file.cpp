#include "platform/files/native_file.h"

#include <windows.h>

#include <cwchar>
#include <string>
#include <utility>

namespace varne::files {

namespace {

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

HANDLE handle_of(Handle file)
{
    return reinterpret_cast<HANDLE>(file);
}

Handle from_handle(HANDLE file)
{
    return reinterpret_cast<Handle>(file);
}

DWORD attributes_of(const BStr& path)
{
    return GetFileAttributesW(system_path(path).c_str());
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

class OwnedHandle {
public:
    explicit OwnedHandle(HANDLE handle) noexcept : m_handle(handle) {}
    ~OwnedHandle()
    {
        if (valid())
            CloseHandle(m_handle);
    }
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;

    bool valid() const noexcept { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE get() const noexcept { return m_handle; }
    Handle release() noexcept { return from_handle(std::exchange(m_handle, INVALID_HANDLE_VALUE)); }

private:
    HANDLE m_handle;
};

// The byte that a saver holds locked in its new file for as long as it lives; far beyond any
// contents, so that readers are never blocked by it.
constexpr DWORD kLiveLockHigh = 0x7FFFFFFF;
constexpr DWORD kLiveLockLow = 0xFFFFFFF0;
// A saver's file is unlocked from its close until it has its place; a file whose lock is free is
// taken for a dead saver's only once it is older than that instant could ever last.
constexpr int64_t kStaleAfter100ns = 60LL * 10'000'000;

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

int64_t as_number(FILETIME time)
{
    return static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
}

}  // namespace

std::string encode(std::u16string_view text)
{
    if (text.empty())
        return {};
    const auto* units = reinterpret_cast<const wchar_t*>(text.data());
    int length = WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string bytes(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, units, static_cast<int>(text.size()), bytes.data(), length, nullptr, nullptr);
    return bytes;
}

BStr decode(std::string_view bytes)
{
    if (bytes.empty())
        return {};
    int length = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
    std::wstring text(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), text.data(), length);
    return BStr(text.begin(), text.end());
}

std::u16string_view separators()
{
    return u"/\\";
}

char16_t joining_separator()
{
    return u'\\';
}

size_t root_length(const BStr& path)
{
    if (path.size() >= 2 && path[1] == u':')
        return 2;
    if (path.size() < 2 || separators().find(path[0]) == BStr::npos || separators().find(path[1]) == BStr::npos)
        return 0;
    size_t server_end = path.find_first_of(separators(), 2);
    size_t share_end = server_end == BStr::npos ? BStr::npos : path.find_first_of(separators(), server_end + 1);
    return share_end == BStr::npos ? path.size() : share_end;
}

int32_t error_number(Error error, const BStr& path)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        // The file is missing from a folder that exists, or the folder itself is missing.
        return is_folder(folder_of(path)) ? error_number::kFileNotFound : error_number::kPathNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return error_number::kPathNotFound;
    case ERROR_ACCESS_DENIED:
        // Opening a folder as a file is refused as access denied.
        return is_folder(path) ? error_number::kPathFileAccessError : error_number::kPermissionDenied;
    case ERROR_WRITE_PROTECT:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return error_number::kPermissionDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return error_number::kDiskFull;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY:
        return error_number::kBadFileNameOrNumber;
    default:
        return error_number::kDeviceIoError;
    }
}

std::string error_text(Error error)
{
    wchar_t* buffer = nullptr;
    DWORD length =
        FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::u16string text(buffer, buffer + length);
    LocalFree(buffer);
    while (!text.empty() &&
           (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ' || text.back() == u'.'))
        text.pop_back();
    if (text.empty())
        return "system error " + std::to_string(error);
    return to_utf8(text);
}

bool is_access_denied(Error error)
{
    return error == ERROR_ACCESS_DENIED;
}

bool is_name_taken(Error error)
{
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

std::string_view not_a_file_reason()
{
    return "it is not a file on disk";
}

Kind kind_of(const BStr& path)
{
    DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return Kind::kMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::kFolder : Kind::kOther;
}

namespace {

// Opens a file of a disk; a device, pipe or console of that name is refused as no file to `use`.
Handle open_disk_file(const BStr& path, DWORD access, DWORD sharing, DWORD disposition, const char* open,
                      const char* use)
{
    OwnedHandle file(
        CreateFileW(system_path(path).c_str(), access, sharing, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        throw file_error(GetLastError(), open, path);
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        throw not_a_file(use, path, false);
    return file.release();
}

}  // namespace

Handle open_to_read(const BStr& path)
{
    return open_disk_file(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING,
                          "open", "read");
}

Error read_some(Handle file, char* buffer, size_t size, size_t& got)
{
    DWORD read = 0;
    if (!ReadFile(handle_of(file), buffer, static_cast<DWORD>(size), &read, nullptr))
        return GetLastError();
    got = read;
    return 0;
}

Handle create(const BStr& path)
{
    refuse_read_only("create", path);
    if (is_folder(path))
        throw not_a_file("create", path, true);
    // Shared for reading only: another program cannot create or write the file while it is open.
    return open_disk_file(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, "create", "create");
}

void remove(const BStr& path)
{
    refuse_read_only("delete", path);
    if (!DeleteFileW(system_path(path).c_str()))
        throw file_error(GetLastError(), "delete", path);
}

Error make_folder(const BStr& path)
{
    return CreateDirectoryW(system_path(path).c_str(), nullptr) ? 0 : GetLastError();
}

std::optional<int64_t> position(Handle file)
{
    LARGE_INTEGER at{};
    if (!SetFilePointerEx(handle_of(file), LARGE_INTEGER{}, &at, FILE_CURRENT))
        return std::nullopt;
    return at.QuadPart;
}

Error seek(Handle file, int64_t offset)
{
    LARGE_INTEGER to{};
    to.QuadPart = offset;
    return SetFilePointerEx(handle_of(file), to, nullptr, FILE_BEGIN) ? 0 : GetLastError();
}

Error write_some(Handle file, std::string_view bytes, size_t& written)
{
    DWORD chunk = bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
    DWORD done = 0;
    if (!WriteFile(handle_of(file), bytes.data(), chunk, &done, nullptr))
        return GetLastError();
    written = done;
    return done == 0 ? ERROR_WRITE_FAULT : 0;
}

Error end_here(Handle file)
{
    return SetEndOfFile(handle_of(file)) ? 0 : GetLastError();
}

Error reserve(Handle file, int64_t size)
{
    // Only ever grown: an allocation below the file's end would cut the old contents off.
    LARGE_INTEGER old_size{};
    FILE_ALLOCATION_INFO room{};
    room.AllocationSize.QuadPart = size;
    if (!GetFileSizeEx(handle_of(file), &old_size) || size <= old_size.QuadPart ||
        SetFileInformationByHandle(handle_of(file), FileAllocationInfo, &room, sizeof room))
        return 0;
    DWORD error = GetLastError();
    if (error == ERROR_CALL_NOT_IMPLEMENTED || error == ERROR_INVALID_FUNCTION || error == ERROR_NOT_SUPPORTED ||
        error == ERROR_INVALID_PARAMETER)
        return 0;
    return error;
}

Error flush(Handle file)
{
    return FlushFileBuffers(handle_of(file)) ? 0 : GetLastError();
}

Error close(Handle file)
{
    return CloseHandle(handle_of(file)) ? 0 : GetLastError();
}

std::optional<ReplacedFile> inspect_replaced(const BStr& path)
{
    DWORD attributes = attributes_of(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // A missing folder is reported as the save's new file fails to be made in it.
        if (DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            throw file_error(error, "replace", path);
        return std::nullopt;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        throw not_a_file("replace", path, true);
    refuse_read_only("replace", path);
    OwnedHandle existing(CreateFileW(system_path(path).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    BY_HANDLE_FILE_INFORMATION information{};
    if (!existing.valid() || !GetFileInformationByHandle(existing.get(), &information))
        throw file_error(GetLastError(), "replace", path);
    if (GetFileType(existing.get()) != FILE_TYPE_DISK)
        throw not_a_file("replace", path, false);
    return ReplacedFile{path, information.nNumberOfLinks};
}

Handle open_in_place(const BStr& path)
{
    const std::wstring name = system_path(path);
    HANDLE file = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_ACCESS_DENIED)
        file = CreateFileW(name.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw file_error(GetLastError(), "replace", path);
    return from_handle(file);
}

bool create_unnamed_temporary(const BStr&, Temporary&, Error& error)
{
    error = 0;
    return false;
}

Error create_named_temporary(const BStr& path, Temporary& temporary)
{
    OwnedHandle file(CreateFileW(system_path(path).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                                 CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        return GetLastError();
    // Between the creation and the lock another save may have taken the file for a stale one; a
    // file system without locks leaves the file unlocked, and so never taken for a stale one.
    if (!lock_live(file.get()) && GetLastError() == ERROR_LOCK_VIOLATION)
        return ERROR_FILE_EXISTS;
    // Marked to go with its last handle, so that a saver that dies leaves nothing.
    if (!delete_on_close(file.get(), true))
        return GetLastError();
    temporary.file = file.release();
    temporary.path = path;
    return 0;
}

bool take_identity(const Temporary&, const BStr&)
{
    // The attributes and the creation time go with the new file as it is put in place.
    return true;
}

void put_in_place(Temporary& temporary, const BStr& target, const BStr&, bool replaces_old)
{
    auto fail = [&](DWORD error, std::string_view action) {
        discard(temporary);
        throw file_error(error, action, target);
    };
    HANDLE file = handle_of(temporary.file);
    if (!FlushFileBuffers(file))
        fail(GetLastError(), "write to");
    // The old file's attributes and creation time, which a move would not carry over.
    FILE_BASIC_INFO basic{};
    basic.FileAttributes = FILE_ATTRIBUTE_ARCHIVE;
    if (replaces_old) {
        WIN32_FILE_ATTRIBUTE_DATA old{};
        if (!GetFileAttributesExW(system_path(target).c_str(), GetFileExInfoStandard, &old))
            fail(GetLastError(), "replace");
        basic.FileAttributes = old.dwFileAttributes;
        basic.CreationTime.QuadPart = as_number(old.ftCreationTime);
    }
    if (!SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic))
        fail(GetLastError(), "replace");
    if (!delete_on_close(file, false))
        fail(GetLastError(), "replace");
    // Closed before the move, which opens the file again without sharing.
    if (!CloseHandle(handle_of(std::exchange(temporary.file, kNoHandle))))
        fail(GetLastError(), "write to");
    const std::wstring from = system_path(temporary.path);
    const std::wstring to = system_path(target);
    const bool moved =
        replaces_old
            ? ReplaceFileW(to.c_str(), from.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
            : MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!moved)
        fail(GetLastError(), "replace");
    temporary.path.clear();
}

void discard(Temporary& temporary)
{
    if (temporary.file != kNoHandle) {
        HANDLE file = handle_of(std::exchange(temporary.file, kNoHandle));
        delete_on_close(file, true);
        CloseHandle(file);
    } else if (!temporary.path.empty()) {
        DeleteFileW(system_path(temporary.path).c_str());
    }
    temporary.path.clear();
}

std::vector<BStr> names_in(const BStr& folder)
{
    std::vector<BStr> names;
    WIN32_FIND_DATAW found{};
    HANDLE search = FindFirstFileW(system_path(in_folder(folder, u"*")).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do
        names.emplace_back(found.cFileName, found.cFileName + wcslen(found.cFileName));
    while (FindNextFileW(search, &found));
    FindClose(search);
    return names;
}

void remove_if_abandoned(const BStr& path)
{
    WIN32_FILE_ATTRIBUTE_DATA found{};
    if (!GetFileAttributesExW(system_path(path).c_str(), GetFileExInfoStandard, &found) ||
        (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    if (as_number(now) - as_number(found.ftLastWriteTime) < kStaleAfter100ns)
        return;
    OwnedHandle file(CreateFileW(system_path(path).c_str(), GENERIC_READ | DELETE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                 FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    // Deleted through the handle that holds the lock, so that it is the file found dead that goes.
    if (file.valid() && GetFileType(file.get()) == FILE_TYPE_DISK && lock_live(file.get()))
        delete_on_close(file.get(), true);
}

}  // namespace varne::files
