#include "platform/posix/posix_file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <string_view>
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

// Hands the whole buffer to the kernel at the offset, however many calls that takes; returns 0 or the errno.
int write_all_at(int fd, const char* data, size_t size, off_t offset)
{
    while (size > 0) {
        ssize_t written = ::pwrite(fd, data, size, offset);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return errno;
        }
        if (written == 0)
            return EIO;
        data += written;
        size -= static_cast<size_t>(written);
        offset += written;
    }
    return 0;
}

// Hands the whole buffer to the kernel at the file's position; returns 0 or the errno.
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

// Text as the file holds it: UTF-8 lines, each ended by CR LF, or raw bytes.
class TextWriter : public FileWriter {
public:
    void write_line(std::u16string_view line) final
    {
        std::string bytes = to_utf8(line);
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

// Writes go straight to the kernel, so that a process that dies keeps everything written. A
// write that fails part-way (a full disk) is cut off again: the file ends where it ended before.
class DirectWriter : public TextWriter {
public:
    DirectWriter(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}

    ~DirectWriter() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        if (::close(std::exchange(m_fd, -1)) != 0 && errno != EINTR)
            throw file_error(errno, "write to", m_path);
    }

protected:
    void append(std::string_view bytes) override
    {
        check_open();
        off_t end = ::lseek(m_fd, 0, SEEK_CUR);
        if (int error = write_all(m_fd, bytes.data(), bytes.size())) {
            // Devices such as /dev/full cannot be cut back; there nothing reached them anyway.
            if (end >= 0 && ::ftruncate(m_fd, end) == 0)
                ::lseek(m_fd, end, SEEK_SET);
            throw file_error(error, "write to", m_path);
        }
    }

    void check_open() const
    {
        if (m_fd < 0)
            throw AutomationError(error_number::kBadFileNameOrNumber,
                                  "Bad file name or number: '" + m_path + "' is closed");
    }

    int m_fd;
    std::string m_path;
};

constexpr std::string_view kTemporaryPrefix = ".varne-";
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr size_t kTemporaryDigits = 16;

std::string temporary_name()
{
    std::random_device entropy;
    char digits[kTemporaryDigits + 1];
    std::snprintf(digits, sizeof digits, "%08x%08x", static_cast<unsigned>(entropy()),
                  static_cast<unsigned>(entropy()));
    return std::string(kTemporaryPrefix) + digits + std::string(kTemporarySuffix);
}

bool is_temporary_name(std::string_view name)
{
    if (name.size() != kTemporaryPrefix.size() + kTemporaryDigits + kTemporarySuffix.size() ||
        !name.starts_with(kTemporaryPrefix) || !name.ends_with(kTemporarySuffix))
        return false;
    auto digits = name.substr(kTemporaryPrefix.size(), kTemporaryDigits);
    return digits.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::string in_folder(const std::string& folder, const std::string& name)
{
    return folder == "/" ? "/" + name : folder + "/" + name;
}

// A saver holds its temporary file locked for as long as it lives; one whose lock is free was
// left by a saver that died before it could put the file in place or remove it.
void remove_stale_temporaries(const std::string& folder)
{
    DIR* listing = ::opendir(folder.c_str());
    if (!listing)
        return;
    int folder_fd = ::dirfd(listing);
    while (const dirent* entry = ::readdir(listing)) {
        if (!is_temporary_name(entry->d_name))
            continue;
        constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        int fd = ::openat(folder_fd, entry->d_name, O_RDONLY | kFlags);
        if (fd < 0)
            fd = ::openat(folder_fd, entry->d_name, O_WRONLY | kFlags);
        Descriptor file(fd);
        struct stat opened {};
        struct stat named {};
        if (file.get() < 0 || ::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
            ::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        if (::fstatat(folder_fd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == opened.st_dev &&
            named.st_ino == opened.st_ino)
            ::unlinkat(folder_fd, entry->d_name, 0);
    }
    ::closedir(listing);
}

// A new file for the replacement, locked, in the target's folder: without a name where the file
// system allows it, so that a saver that dies leaves nothing; else under a short hidden name
// that a later save removes. Returns -1 with errno set when no file can be made there.
int create_temporary(const std::string& folder, std::string& temporary_path)
{
    temporary_path.clear();
    int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::flock(fd, LOCK_EX);
        return fd;
    }
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
        return -1;
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string path = in_folder(folder, temporary_name());
        Descriptor file(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
        if (file.get() < 0) {
            if (errno == EEXIST)
                continue;
            return -1;
        }
        // Between the open and the lock another save may have taken the file for a stale one.
        struct stat opened {};
        struct stat named {};
        if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0 && ::fstat(file.get(), &opened) == 0 &&
            ::stat(path.c_str(), &named) == 0 && opened.st_ino == named.st_ino && opened.st_dev == named.st_dev) {
            temporary_path = std::move(path);
            return file.release();
        }
    }
    errno = EEXIST;
    return -1;
}

// Gives a file made without a name one in its folder; returns 0 or the errno.
int link_temporary(int fd, const std::string& folder, std::string& temporary_path)
{
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string path = in_folder(folder, temporary_name());
        int linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW);
        if (linked != 0 && errno == ENOENT)
            linked = ::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH);
        if (linked == 0) {
            temporary_path = std::move(path);
            return 0;
        }
        if (errno != EEXIST)
            return errno;
    }
    return EEXIST;
}

// Writes a new file beside the target and renames it over the target on close, so that a
// reader sees the old file or the new one, never half of either. A writer dropped before that
// leaves the target as it was and removes its own file.
class ReplacementWriter final : public DirectWriter {
public:
    ReplacementWriter(int fd, std::string target, std::string folder, std::string temporary_path)
        : DirectWriter(fd, std::move(target)), m_folder(std::move(folder)), m_temporary_path(std::move(temporary_path))
    {
    }

    ~ReplacementWriter() override
    {
        if (!m_temporary_path.empty())
            ::unlink(m_temporary_path.c_str());
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        if (::fsync(m_fd) != 0)
            fail(errno, "write to");
        if (m_temporary_path.empty()) {
            if (int error = link_temporary(m_fd, m_folder, m_temporary_path))
                fail(error, "replace");
        }
        if (::rename(m_temporary_path.c_str(), m_path.c_str()) != 0)
            fail(errno, "replace");
        m_temporary_path.clear();
        // Closing only now keeps the lock until the file has its place.
        ::close(std::exchange(m_fd, -1));
        // The rename itself lasts through a power cut only once the folder is on disk too.
        Descriptor folder(::open(m_folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (folder.get() >= 0)
            ::fsync(folder.get());
    }

private:
    [[noreturn]] void fail(int error, std::string_view action)
    {
        if (!m_temporary_path.empty())
            ::unlink(std::exchange(m_temporary_path, {}).c_str());
        ::close(std::exchange(m_fd, -1));
        throw file_error(error, action, m_path);
    }

    std::string m_folder;
    std::string m_temporary_path;
};

// Writes over the file itself, for a file that no new file beside it could stand in for: it
// keeps its links, owner and mode. The contents are gathered until close; room for them is
// taken first, so that a full disk refuses the save before the old contents are touched, and a
// write that fails after that puts the old contents back where they could be read.
class InPlaceWriter final : public TextWriter {
public:
    InPlaceWriter(int fd, std::string path) : m_fd(fd), m_path(std::move(path)) {}

    ~InPlaceWriter() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }

    void close() override
    {
        if (m_fd < 0)
            return;
        const auto size = static_cast<off_t>(m_contents.size());
        if (::fallocate(m_fd, FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
            fail(errno);
        std::string old_contents;
        bool readable = read_old(old_contents);
        int error = write_all_at(m_fd, m_contents.data(), m_contents.size(), 0);
        if (error == 0 && ::ftruncate(m_fd, size) != 0)
            error = errno;
        if (error != 0) {
            if (readable && write_all_at(m_fd, old_contents.data(), old_contents.size(), 0) == 0)
                static_cast<void>(::ftruncate(m_fd, static_cast<off_t>(old_contents.size())));
            fail(error);
        }
        if (::fsync(m_fd) != 0)
            fail(errno);
        if (::close(std::exchange(m_fd, -1)) != 0 && errno != EINTR)
            throw file_error(errno, "write to", m_path);
    }

private:
    void append(std::string_view bytes) override
    {
        if (m_fd < 0)
            throw AutomationError(error_number::kBadFileNameOrNumber,
                                  "Bad file name or number: '" + m_path + "' is closed");
        m_contents.append(bytes);
    }

    // The contents as they are now; false when the file may be written but not read.
    bool read_old(std::string& contents) const
    {
        char buffer[65536];
        for (off_t offset = 0;;) {
            ssize_t got = ::pread(m_fd, buffer, sizeof buffer, offset);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return false;
            if (got == 0)
                return true;
            contents.append(buffer, static_cast<size_t>(got));
            offset += got;
        }
    }

    [[noreturn]] void fail(int error)
    {
        ::close(std::exchange(m_fd, -1));
        throw file_error(error, "write to", m_path);
    }

    int m_fd;
    std::string m_path;
    std::string m_contents;
};

// Extended attributes (access control lists, security labels, a user's own) belong to the file
// too; false where one cannot be read or given to the new file.
bool copy_extended_attributes(const std::string& from, int to)
{
    ssize_t size = ::listxattr(from.c_str(), nullptr, 0);
    if (size <= 0)
        return size == 0 || errno == ENOTSUP;
    std::string names(static_cast<size_t>(size), '\0');
    size = ::listxattr(from.c_str(), names.data(), names.size());
    if (size < 0)
        return false;
    for (size_t at = 0; at < static_cast<size_t>(size); at = names.find('\0', at) + 1) {
        const char* name = names.c_str() + at;
        ssize_t length = ::getxattr(from.c_str(), name, nullptr, 0);
        if (length < 0)
            return false;
        std::string value(static_cast<size_t>(length), '\0');
        length = ::getxattr(from.c_str(), name, value.data(), value.size());
        if (length < 0 || ::fsetxattr(to, name, value.data(), static_cast<size_t>(length), 0) != 0)
            return false;
    }
    return true;
}

// Gives the new file the old one's owner, group, extended attributes and mode; false where one of
// them may not be given.
bool take_identity(int fd, const std::string& old_path, const struct stat& old)
{
    struct stat made {};
    if (::fstat(fd, &made) != 0)
        return false;
    if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    if (!copy_extended_attributes(old_path, fd))
        return false;
    // After the owner, which clears the set-user and set-group bits.
    static_cast<void>(::fchmod(fd, old.st_mode & 07777));
    return true;
}

// The file itself, opened for the in-place writer; for reading too where that is allowed.
std::unique_ptr<FileWriter> open_in_place(const std::string& target)
{
    constexpr int kFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    int fd = ::open(target.c_str(), O_RDWR | kFlags);
    if (fd < 0 && errno == EACCES)
        fd = ::open(target.c_str(), O_WRONLY | kFlags);
    if (fd < 0)
        throw file_error(errno, "replace", target);
    return std::make_unique<InPlaceWriter>(fd, target);
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
    return std::make_unique<DirectWriter>(file.release(), std::move(narrow));
}

std::unique_ptr<FileWriter> PosixFileSystem::replace_file(const BStr& path)
{
    std::string target = native_path(path);
    // An empty name, or one ending in a slash, names no file; it is refused before a temporary file is made for it.
    if (target.empty() || target.back() == '/')
        throw AutomationError(error_number::kBadFileNameOrNumber,
                              "Bad file name or number: cannot replace '" + target + "' (no file name)");
    struct stat status {};
    const bool exists = ::stat(target.c_str(), &status) == 0;
    if (exists) {
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
        // A new file would take the place of one name only: the other links would keep the old contents.
        if (status.st_nlink > 1)
            return open_in_place(target);
    } else if (errno != ENOENT) {
        throw file_error(errno, "replace", target);
    }
    const std::string folder = folder_of(target);
    remove_stale_temporaries(folder);
    std::string temporary_path;
    Descriptor file(create_temporary(folder, temporary_path));
    if (file.get() < 0) {
        // A folder where no file may be made still lets a file that may be written be written over.
        if (exists && (errno == EACCES || errno == EPERM))
            return open_in_place(target);
        throw file_error(errno, "create", target);
    }
    if (exists && !take_identity(file.get(), target, status)) {
        if (!temporary_path.empty())
            ::unlink(temporary_path.c_str());
        return open_in_place(target);
    }
    return std::make_unique<ReplacementWriter>(file.release(), target, folder, std::move(temporary_path));
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
