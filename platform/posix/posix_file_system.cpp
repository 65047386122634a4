#include "platform/posix/posix_file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <utility>

#include "frame/automation_error.h"

namespace varne {

namespace {

std::string folder_of(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool is_folder(const std::string& path)
{
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// One failed system call as the error that scripts know, naming the file and the reason.
AutomationError file_error(int error, std::string_view action, const std::string& path)
{
    int32_t number = error_number::kDeviceIoError;
    const char* title = "Device I/O error";
    switch (error) {
    case ENOENT:
        // The file is missing from a folder that exists, or the folder itself is missing.
        if (is_folder(folder_of(path))) {
            number = error_number::kFileNotFound;
            title = "File not found";
        } else {
            number = error_number::kPathNotFound;
            title = "Path not found";
        }
        break;
    case ENOTDIR:
        number = error_number::kPathNotFound;
        title = "Path not found";
        break;
    case EACCES:
    case EPERM:
    case EROFS:
        number = error_number::kPermissionDenied;
        title = "Permission denied";
        break;
    case EISDIR:
        number = error_number::kPathFileAccessError;
        title = "Path/File access error";
        break;
    case ENOSPC:
    case EDQUOT:
        number = error_number::kDiskFull;
        title = "Disk full";
        break;
    case ENAMETOOLONG:
        number = error_number::kBadFileNameOrNumber;
        title = "Bad file name or number";
        break;
    default:
        break;
    }
    return AutomationError(number, std::string(title) + ": cannot " + std::string(action) + " '" + path + "' (" +
                                       std::strerror(error) + ")");
}

AutomationError not_a_file(std::string_view action, const std::string& path, bool folder)
{
    return AutomationError(error_number::kPathFileAccessError,
                           "Path/File access error: cannot " + std::string(action) + " '" + path + "' (" +
                               (folder ? "it is a folder" : "it is not a regular file") + ")");
}

bool holds_nul(const std::string& path)
{
    return path.find('\0') != std::string::npos;
}

// The name as the system takes it; a NUL would silently cut it short, so it is refused.
std::string native_path(const BStr& path)
{
    std::string narrow = to_utf8(path);
    if (!holds_nul(narrow))
        return narrow;
    std::string shown;
    for (char c : narrow)
        shown += c == '\0' ? std::string("\\0") : std::string(1, c);
    throw AutomationError(error_number::kBadFileNameOrNumber,
                          "Bad file name or number: '" + shown + "' holds a NUL character");
}

class Descriptor {
public:
    explicit Descriptor(int fd) noexcept : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const noexcept { return m_fd; }
    int release() noexcept { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// Hands the whole buffer to the kernel, however many calls that takes; returns 0 or the errno.
int write_all(int fd, const char* data, size_t size)
{
    while (size > 0) {
        ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return EIO;
        data += written;
        size -= static_cast<size_t>(written);
    }
    return 0;
}

// A file open for writing. Writes go straight to the kernel: a process that dies keeps
// everything written. With a temporary name, the file is written there and renamed over the
// target on close; a writer dropped before that removes the temporary file.
class PosixFileWriter final : public FileWriter {
public:
    PosixFileWriter(int fd, std::string path, std::string temporary_path)
        : m_fd(fd), m_path(std::move(path)), m_temporary_path(std::move(temporary_path))
    {
    }

    ~PosixFileWriter() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
        if (!m_temporary_path.empty())
            ::unlink(m_temporary_path.c_str());
    }

    void write_line(std::u16string_view line) override
    {
        std::string bytes = to_utf8(line);
        bytes += "\r\n";
        write(bytes.data(), bytes.size());
    }

    void write_bytes(std::span<const uint8_t> bytes) override
    {
        write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        if (!m_temporary_path.empty() && ::fsync(m_fd) != 0)
            fail(errno, "write to");
        if (::close(std::exchange(m_fd, -1)) != 0 && errno != EINTR)
            fail(errno, "write to");
        if (m_temporary_path.empty())
            return;
        if (::rename(m_temporary_path.c_str(), m_path.c_str()) != 0)
            fail(errno, "replace");
        m_temporary_path.clear();
        // The rename itself lasts through a power cut only once the folder is on disk too.
        Descriptor folder(::open(folder_of(m_path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() >= 0)
            ::fsync(folder.get());
    }

private:
    void write(const char* data, size_t size)
    {
        if (m_fd < 0)
            throw AutomationError(error_number::kBadFileNameOrNumber,
                                  "Bad file name or number: '" + m_path + "' is closed");
        if (int error = write_all(m_fd, data, size))
            throw file_error(error, "write to", m_path);
    }

    [[noreturn]] void fail(int error, std::string_view action)
    {
        if (m_fd >= 0)
            ::close(std::exchange(m_fd, -1));
        if (!m_temporary_path.empty())
            ::unlink(std::exchange(m_temporary_path, {}).c_str());
        throw file_error(error, action, m_path);
    }

    int m_fd;
    std::string m_path;
    std::string m_temporary_path;
};

// Opens a new file with an unused name beside the target; the umask applies as for any new file.
int create_temporary(const std::string& target, std::string& temporary_path)
{
    auto slash = target.rfind('/');
    std::string prefix =
        slash == std::string::npos ? "." + target : target.substr(0, slash + 1) + "." + target.substr(slash + 1);
    std::random_device entropy;
    for (int attempt = 0; attempt < 64; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(entropy()));
        temporary_path = prefix + suffix;
        int fd = ::open(temporary_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

}  // namespace

bool PosixFileSystem::file_exists(const BStr& path)
{
    std::string narrow = to_utf8(path);
    struct stat status {};
    return !holds_nul(narrow) && ::stat(narrow.c_str(), &status) == 0 && !S_ISDIR(status.st_mode);
}

BStr PosixFileSystem::read_all_text(const BStr& path)
{
    std::string narrow = native_path(path);
    // Non-blocking, so that opening a pipe with no writer cannot hang; such a file is refused below.
    Descriptor file(::open(narrow.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0)
        throw file_error(errno, "open", narrow);
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        throw file_error(errno, "read", narrow);
    if (!S_ISREG(status.st_mode))
        throw not_a_file("read", narrow, S_ISDIR(status.st_mode));
    std::string bytes;
    bytes.reserve(static_cast<size_t>(status.st_size));
    char buffer[65536];
    for (;;) {
        ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            throw file_error(errno, "read", narrow);
        if (got == 0)
            break;
        bytes.append(buffer, static_cast<size_t>(got));
    }
    return from_utf8(bytes);
}

std::unique_ptr<FileWriter> PosixFileSystem::create_file(const BStr& path)
{
    std::string narrow = native_path(path);
    // Non-blocking only for the open: a pipe with no reader fails instead of waiting for one.
    Descriptor file(::open(narrow.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666));
    if (file.get() < 0)
        throw file_error(errno, "create", narrow);
    int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        throw file_error(errno, "create", narrow);
    return std::make_unique<PosixFileWriter>(file.release(), std::move(narrow), std::string());
}

std::unique_ptr<FileWriter> PosixFileSystem::replace_file(const BStr& path)
{
    std::string target = native_path(path);
    // An empty name, or one ending in a slash, names no file; it is refused before a temporary file is made for it.
    if (target.empty() || target.back() == '/')
        throw AutomationError(error_number::kBadFileNameOrNumber,
                              "Bad file name or number: cannot replace '" + target + "' (no file name)");
    struct stat status {};
    if (::stat(target.c_str(), &status) == 0) {
        if (!S_ISREG(status.st_mode))
            throw not_a_file("replace", target, S_ISDIR(status.st_mode));
        if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0)
            throw file_error(errno, "replace", target);
        // A link is followed, so that the file it names is replaced and the link stays.
        struct stat link {};
        if (::lstat(target.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            if (char* resolved = ::realpath(target.c_str(), nullptr)) {
                target = resolved;
                std::free(resolved);
            }
        }
    } else if (errno != ENOENT) {
        throw file_error(errno, "replace", target);
    }
    std::string temporary_path;
    Descriptor file(create_temporary(target, temporary_path));
    if (file.get() < 0)
        throw file_error(errno, "create", target);
    // The new file keeps the old one's permissions; where that is not allowed, it keeps the umask's.
    if (S_ISREG(status.st_mode))
        static_cast<void>(::fchmod(file.get(), status.st_mode & 07777));
    return std::make_unique<PosixFileWriter>(file.release(), target, std::move(temporary_path));
}

void PosixFileSystem::delete_file(const BStr& path)
{
    std::string narrow = native_path(path);
    if (::unlink(narrow.c_str()) != 0)
        throw file_error(errno, "delete", narrow);
}

void PosixFileSystem::create_folders(const BStr& path)
{
    std::string narrow = native_path(path);
    size_t end = 0;
    while (end != std::string::npos) {
        end = narrow.find('/', end + 1);
        std::string folder = narrow.substr(0, end);
        if (folder.empty() || folder.back() == '/')
            continue;
        if (::mkdir(folder.c_str(), 0777) == 0)
            continue;
        if (errno != EEXIST)
            throw file_error(errno, "create the folder", folder);
        if (!is_folder(folder))
            throw AutomationError(error_number::kPathFileAccessError,
                                  "Path/File access error: cannot create the folder '" + folder +
                                      "' (a file of that name is in the way)");
    }
}

}  // namespace varne
