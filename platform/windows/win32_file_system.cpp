#include "platform/windows/win32_file_system.h"

#include <windows.h>

#include <cstdio>
#include <random>
#include <string>
#include <utility>

#include "frame/automation_error.h"

namespace varne {

namespace {

bool is_separator(char16_t c)
{
    return c == u'/' || c == u'\\';
}

std::wstring wide(const BStr& path)
{
    return std::wstring(path.begin(), path.end());
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
    return GetFileAttributesW(wide(path).c_str());
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

// A file open for writing. Each write goes to the system before it returns, so a process that
// dies keeps everything written. With a temporary name, the file is written there and moved over
// the target on close; a writer dropped before that deletes the temporary file.
class Win32FileWriter final : public FileWriter {
public:
    Win32FileWriter(HANDLE file, BStr path, BStr temporary_path)
        : m_file(file), m_path(std::move(path)), m_temporary_path(std::move(temporary_path))
    {
    }

    ~Win32FileWriter() override
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(m_file);
        if (!m_temporary_path.empty())
            DeleteFileW(wide(m_temporary_path).c_str());
    }

    void write_line(std::u16string_view line) override
    {
        std::string bytes = to_ansi(line);
        bytes += "\r\n";
        write(bytes.data(), bytes.size());
    }

    void write_bytes(std::span<const uint8_t> bytes) override
    {
        write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    void close() override
    {
        if (m_file == INVALID_HANDLE_VALUE)
            return;
        if (!m_temporary_path.empty() && !FlushFileBuffers(m_file))
            fail(GetLastError(), "write to");
        if (!CloseHandle(std::exchange(m_file, INVALID_HANDLE_VALUE)))
            fail(GetLastError(), "write to");
        if (m_temporary_path.empty())
            return;
        if (!MoveFileExW(wide(m_temporary_path).c_str(), wide(m_path).c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            fail(GetLastError(), "replace");
        m_temporary_path.clear();
    }

private:
    void write(const char* data, size_t size)
    {
        if (m_file == INVALID_HANDLE_VALUE)
            throw AutomationError(error_number::kBadFileNameOrNumber,
                                  "Bad file name or number: '" + to_utf8(m_path) + "' is closed");
        while (size > 0) {
            DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
            DWORD written = 0;
            if (!WriteFile(m_file, data, chunk, &written, nullptr))
                throw file_error(GetLastError(), "write to", m_path);
            if (written == 0)
                throw file_error(ERROR_WRITE_FAULT, "write to", m_path);
            data += written;
            size -= written;
        }
    }

    [[noreturn]] void fail(DWORD error, std::string_view action)
    {
        if (m_file != INVALID_HANDLE_VALUE)
            CloseHandle(std::exchange(m_file, INVALID_HANDLE_VALUE));
        if (!m_temporary_path.empty())
            DeleteFileW(wide(std::exchange(m_temporary_path, {})).c_str());
        throw file_error(error, action, m_path);
    }

    HANDLE m_file;
    BStr m_path;
    BStr m_temporary_path;
};

// Opens a new file with an unused name beside the target.
HANDLE create_temporary(const BStr& target, BStr& temporary_path)
{
    auto slash = last_separator(target);
    BStr prefix = slash == BStr::npos ? u"." + target : target.substr(0, slash + 1) + u"." + target.substr(slash + 1);
    std::random_device entropy;
    for (int attempt = 0; attempt < 64; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(entropy()));
        temporary_path = prefix + from_utf8(suffix);
        HANDLE file = CreateFileW(wide(temporary_path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS)
            return file;
    }
    return INVALID_HANDLE_VALUE;
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
    Handle file(CreateFileW(wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
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
    Handle file(CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid())
        throw file_error(GetLastError(), "create", path);
    if (GetFileType(file.get()) != FILE_TYPE_DISK)
        throw not_a_file("create", path, false);
    return std::make_unique<Win32FileWriter>(file.release(), path, BStr());
}

std::unique_ptr<FileWriter> Win32FileSystem::replace_file(const BStr& path)
{
    checked_path(path);
    // An empty name, or one ending in a separator, names no file; it is refused before a temporary file is made for it.
    if (path.empty() || is_separator(path.back()))
        throw AutomationError(error_number::kBadFileNameOrNumber,
                              "Bad file name or number: cannot replace '" + to_utf8(path) + "' (no file name)");
    DWORD attributes = attributes_of(path);
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            throw not_a_file("replace", path, true);
        refuse_read_only("replace", path);
    } else if (DWORD error = GetLastError(); error != ERROR_FILE_NOT_FOUND) {
        throw file_error(error, "replace", path);
    }
    BStr temporary_path;
    HANDLE file = create_temporary(path, temporary_path);
    if (file == INVALID_HANDLE_VALUE)
        throw file_error(GetLastError(), "create", path);
    return std::make_unique<Win32FileWriter>(file, path, std::move(temporary_path));
}

void Win32FileSystem::delete_file(const BStr& path)
{
    checked_path(path);
    refuse_read_only("delete", path);
    if (!DeleteFileW(wide(path).c_str()))
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
        if (CreateDirectoryW(wide(folder).c_str(), nullptr))
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
