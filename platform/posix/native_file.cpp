#include "platform/files/native_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

namespace varne::files {

namespace {

std::string system_path(const BStr& path)
{
    return to_utf8(path);
}

int fd_of(Handle file)
{
    return static_cast<int>(file);
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

// The lock that a created file holds for as long as it is open, as a file opened without sharing
// is held on Windows: another program, or another object here, cannot create it again meanwhile.
constexpr Error kHeldOpen = -1;

bool held_elsewhere(int fd)
{
    return ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

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

}  // namespace

std::string encode(std::u16string_view text)
{
    return to_utf8(text);
}

BStr decode(std::string_view bytes)
{
    return from_utf8(bytes);
}

std::u16string_view separators()
{
    return u"/";
}

char16_t joining_separator()
{
    return u'/';
}

size_t root_length(const BStr&)
{
    return 0;
}

int32_t error_number(Error error, const BStr& path)
{
    switch (error) {
    case ENOENT:
        // The file is missing from a folder that exists, or the folder itself is missing.
        return is_folder(folder_of(path)) ? error_number::kFileNotFound : error_number::kPathNotFound;
    case ENOTDIR:
        return error_number::kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case kHeldOpen:
        return error_number::kPermissionDenied;
    case EISDIR:
        return error_number::kPathFileAccessError;
    case ENOSPC:
    case EDQUOT:
        return error_number::kDiskFull;
    case ENAMETOOLONG:
        return error_number::kBadFileNameOrNumber;
    default:
        return error_number::kDeviceIoError;
    }
}

std::string error_text(Error error)
{
    if (error == kHeldOpen)
        return "it is open in another program or object";
    return std::strerror(static_cast<int>(error));
}

bool is_access_denied(Error error)
{
    return error == EACCES || error == EPERM;
}

bool is_name_taken(Error error)
{
    return error == EEXIST;
}

std::string_view not_a_file_reason()
{
    return "it is not a regular file";
}

Kind kind_of(const BStr& path)
{
    struct stat status {};
    if (::stat(system_path(path).c_str(), &status) != 0)
        return Kind::kMissing;
    return S_ISDIR(status.st_mode) ? Kind::kFolder : Kind::kOther;
}

Handle open_to_read(const BStr& path)
{
    // Non-blocking, so that opening a pipe with no writer cannot hang; such a file is refused below.
    Descriptor file(::open(system_path(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (file.get() < 0)
        throw file_error(errno, "open", path);
    struct stat status {};
    if (::fstat(file.get(), &status) != 0)
        throw file_error(errno, "read", path);
    if (!S_ISREG(status.st_mode))
        throw not_a_file("read", path, S_ISDIR(status.st_mode));
    return file.release();
}

Error read_some(Handle file, char* buffer, size_t size, size_t& got)
{
    for (;;) {
        ssize_t read = ::read(fd_of(file), buffer, size);
        if (read >= 0) {
            got = static_cast<size_t>(read);
            return 0;
        }
        if (errno != EINTR)
            return errno;
    }
}

Handle create(const BStr& path)
{
    // Non-blocking only for the open: a pipe with no reader fails instead of waiting for one. The
    // old contents go only once the lock is taken, so that a log held open elsewhere keeps them.
    Descriptor file(::open(system_path(path).c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666));
    if (file.get() < 0)
        throw file_error(errno, "create", path);
    if (held_elsewhere(file.get()))
        throw file_error(kHeldOpen, "create", path);
    struct stat status {};
    if (::fstat(file.get(), &status) != 0 || (S_ISREG(status.st_mode) && ::ftruncate(file.get(), 0) != 0))
        throw file_error(errno, "create", path);
    int flags = ::fcntl(file.get(), F_GETFL);
    if (flags < 0 || ::fcntl(file.get(), F_SETFL, flags & ~O_NONBLOCK) != 0)
        throw file_error(errno, "create", path);
    return file.release();
}

void remove(const BStr& path)
{
    if (::unlink(system_path(path).c_str()) != 0)
        throw file_error(errno, "delete", path);
}

Error make_folder(const BStr& path)
{
    return ::mkdir(system_path(path).c_str(), 0777) == 0 ? 0 : errno;
}

std::optional<int64_t> position(Handle file)
{
    off_t at = ::lseek(fd_of(file), 0, SEEK_CUR);
    return at >= 0 ? std::optional<int64_t>(at) : std::nullopt;
}

Error seek(Handle file, int64_t offset)
{
    return ::lseek(fd_of(file), offset, SEEK_SET) == offset ? 0 : errno;
}

Error write_some(Handle file, std::string_view bytes, size_t& written)
{
    for (;;) {
        ssize_t done = ::write(fd_of(file), bytes.data(), bytes.size());
        if (done > 0) {
            written = static_cast<size_t>(done);
            return 0;
        }
        if (done == 0)
            return EIO;
        if (errno != EINTR)
            return errno;
    }
}

Error end_here(Handle file)
{
    off_t at = ::lseek(fd_of(file), 0, SEEK_CUR);
    return at >= 0 && ::ftruncate(fd_of(file), at) == 0 ? 0 : errno;
}

Error reserve(Handle file, int64_t size)
{
    if (::fallocate(fd_of(file), FALLOC_FL_KEEP_SIZE, 0, size) != 0 && errno != EOPNOTSUPP && errno != ENOSYS)
        return errno;
    return 0;
}

Error flush(Handle file)
{
    return ::fsync(fd_of(file)) == 0 ? 0 : errno;
}

Error close(Handle file)
{
    return ::close(fd_of(file)) == 0 || errno == EINTR ? 0 : errno;
}

std::optional<ReplacedFile> inspect_replaced(const BStr& path)
{
    const std::string name = system_path(path);
    struct stat status {};
    if (::stat(name.c_str(), &status) != 0) {
        if (errno != ENOENT)
            throw file_error(errno, "replace", path);
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode))
        throw not_a_file("replace", path, S_ISDIR(status.st_mode));
    if (::faccessat(AT_FDCWD, name.c_str(), W_OK, AT_EACCESS) != 0)
        throw file_error(errno, "replace", path);
    ReplacedFile old{path, static_cast<uint32_t>(status.st_nlink)};
    // A link is followed, so that the file it names is replaced and the link stays.
    struct stat link {};
    if (::lstat(name.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* resolved = ::realpath(name.c_str(), nullptr)) {
            old.path = from_utf8(resolved);
            std::free(resolved);
        }
    }
    return old;
}

Handle open_in_place(const BStr& path)
{
    constexpr int kFlags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    const std::string name = system_path(path);
    int fd = ::open(name.c_str(), O_RDWR | kFlags);
    if (fd < 0 && errno == EACCES)
        fd = ::open(name.c_str(), O_WRONLY | kFlags);
    if (fd < 0)
        throw file_error(errno, "replace", path);
    return fd;
}

bool create_unnamed_temporary(const BStr& folder, Temporary& temporary, Error& error)
{
    temporary.path.clear();
    int fd = ::open(system_path(folder).c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) {
        ::flock(fd, LOCK_EX);
        temporary.file = fd;
        return true;
    }
    error = errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? 0 : errno;
    return false;
}

Error create_named_temporary(const BStr& path, Temporary& temporary)
{
    const std::string name = system_path(path);
    Descriptor file(::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (file.get() < 0)
        return errno;
    // Between the open and the lock another save may have taken the file for a stale one.
    struct stat opened {};
    struct stat named {};
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(file.get(), &opened) != 0 ||
        ::stat(name.c_str(), &named) != 0 || opened.st_ino != named.st_ino || opened.st_dev != named.st_dev)
        return EEXIST;
    temporary.file = file.release();
    temporary.path = path;
    return 0;
}

bool take_identity(const Temporary& temporary, const BStr& old_path)
{
    const std::string name = system_path(old_path);
    const int fd = fd_of(temporary.file);
    struct stat old {};
    struct stat made {};
    if (::stat(name.c_str(), &old) != 0 || ::fstat(fd, &made) != 0)
        return false;
    if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return false;
    if (!copy_extended_attributes(name, fd))
        return false;
    // After the owner, which clears the set-user and set-group bits.
    static_cast<void>(::fchmod(fd, old.st_mode & 07777));
    return true;
}

void put_in_place(Temporary& temporary, const BStr& target, const BStr& folder, bool)
{
    const int fd = fd_of(temporary.file);
    auto fail = [&](Error error, std::string_view action) {
        discard(temporary);
        throw file_error(error, action, target);
    };
    if (::fsync(fd) != 0)
        fail(errno, "write to");
    // A file made without a name gets one in its folder before it can be renamed.
    if (temporary.path.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        Error error = EEXIST;
        for (int attempt = 0; attempt < 64 && error == EEXIST; ++attempt) {
            const BStr path = in_folder(folder, temporary_name());
            const std::string name = system_path(path);
            int linked = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW);
            if (linked != 0 && errno == ENOENT)
                linked = ::linkat(fd, "", AT_FDCWD, name.c_str(), AT_EMPTY_PATH);
            error = linked == 0 ? 0 : errno;
            if (linked == 0)
                temporary.path = path;
        }
        if (error != 0)
            fail(error, "replace");
    }
    if (::rename(system_path(temporary.path).c_str(), system_path(target).c_str()) != 0)
        fail(errno, "replace");
    temporary.path.clear();
    // Closing only now keeps the lock until the file has its place.
    ::close(std::exchange(temporary.file, kNoHandle));
    // The rename itself lasts through a power cut only once the folder is on disk too.
    Descriptor folder_fd(::open(system_path(folder).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder_fd.get() >= 0)
        ::fsync(folder_fd.get());
}

void discard(Temporary& temporary)
{
    if (!temporary.path.empty())
        ::unlink(system_path(std::exchange(temporary.path, {})).c_str());
    if (temporary.file != kNoHandle)
        ::close(fd_of(std::exchange(temporary.file, kNoHandle)));
}

std::vector<BStr> names_in(const BStr& folder)
{
    std::vector<BStr> names;
    DIR* listing = ::opendir(system_path(folder).c_str());
    if (!listing)
        return names;
    while (const dirent* entry = ::readdir(listing))
        names.push_back(from_utf8(entry->d_name));
    ::closedir(listing);
    return names;
}

void remove_if_abandoned(const BStr& path)
{
    const std::string name = system_path(path);
    constexpr int kFlags = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    int fd = ::open(name.c_str(), O_RDONLY | kFlags);
    if (fd < 0)
        fd = ::open(name.c_str(), O_WRONLY | kFlags);
    Descriptor file(fd);
    struct stat opened {};
    struct stat named {};
    if (file.get() < 0 || ::fstat(file.get(), &opened) != 0 || !S_ISREG(opened.st_mode) ||
        ::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
        return;
    // Only the file found dead goes, not one that another save has put under the name since.
    if (::lstat(name.c_str(), &named) == 0 && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino)
        ::unlink(name.c_str());
}

}  // namespace varne::files
