#include "spreadsheet/engine/atomic_file.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <random>

namespace varne::workbook {

namespace {

namespace fs = std::filesystem;

constexpr int kNameAttempts = 16;

std::error_code last_error()
{
    return {errno, std::generic_category()};
}

AutomationError save_error(int32_t number, const char* title, const std::string& path, const std::string& cause)
{
    return AutomationError(number, std::string(title) + ": cannot save '" + path + "' (" + cause + ")");
}

fs::path folder_of(const fs::path& file)
{
    return file.has_parent_path() ? file.parent_path() : fs::path(".");
}

// Opens a new file beside target that no one else is using; the caller removes or renames it.
std::FILE* open_temporary(const fs::path& target, fs::path& temporary, const std::string& path)
{
    std::random_device random;
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".%08x.tmp", random());
        std::string name(1, '.');
        name.append(target.filename().string()).append(suffix);
        temporary = folder_of(target) / name;
        // "x": fail rather than reuse a file that happens to have the name.
        if (std::FILE* file = std::fopen(temporary.c_str(), "wbx"))
            return file;
        if (errno != EEXIST)
            throw file_error(path, last_error());
    }
    throw file_error(path, std::make_error_code(std::errc::file_exists));
}

}  // namespace

AutomationError file_error(const std::string& path, std::error_code error)
{
    const std::error_condition condition = error.default_error_condition();
    const std::string cause = error.message();
    if (condition == std::errc::no_such_file_or_directory || condition == std::errc::not_a_directory) {
        std::error_code ignored;
        if (fs::is_directory(folder_of(fs::path(path)), ignored))
            return save_error(error_number::kFileNotFound, "File not found", path, cause);
        return save_error(error_number::kPathNotFound, "Path not found", path, cause);
    }
    if (condition == std::errc::permission_denied || condition == std::errc::operation_not_permitted
        || condition == std::errc::read_only_file_system)
        return save_error(error_number::kPermissionDenied, "Permission denied", path, cause);
    if (condition == std::errc::is_a_directory)
        return save_error(error_number::kPathFileAccessError, "Path/File access error", path, cause);
    if (condition == std::errc::filename_too_long)
        return save_error(error_number::kBadFileNameOrNumber, "Bad file name or number", path, cause);
    if (condition == std::errc::no_space_on_device)
        return save_error(error_number::kDiskFull, "Disk full", path, cause);
    return save_error(error_number::kDeviceIoError, "Device I/O error", path, cause);
}

void write_file_replacing(const std::string& path, const std::function<void(const ByteSink&)>& produce)
{
    fs::path target(path);
    if (!target.has_filename())
        throw save_error(error_number::kBadFileNameOrNumber, "Bad file name or number", path, "no file name");
    std::error_code error;
    if (fs::is_symlink(fs::symlink_status(target, error)))
        target = fs::weakly_canonical(target, error);
    const fs::file_status existing = fs::status(target, error);
    if (fs::is_directory(existing))
        throw file_error(path, std::make_error_code(std::errc::is_a_directory));
    constexpr auto kAnyWrite = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if (fs::exists(existing) && (existing.permissions() & kAnyWrite) == fs::perms::none)
        throw save_error(error_number::kPermissionDenied, "Permission denied", path, "the file is read-only");

    fs::path temporary;
    std::FILE* file = open_temporary(target, temporary, path);
    try {
        produce([&](std::span<const uint8_t> bytes) {
            if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size())
                throw file_error(path, last_error());
        });
        if (std::fflush(file) != 0)
            throw file_error(path, last_error());
        std::FILE* closing = file;
        file = nullptr;
        if (std::fclose(closing) != 0)
            throw file_error(path, last_error());
        if (fs::exists(existing))
            fs::permissions(temporary, existing.permissions(), error);
        fs::rename(temporary, target, error);
        if (error)
            throw file_error(path, error);
    } catch (...) {
        if (file)
            std::fclose(file);
        fs::remove(temporary, error);
        throw;
    }
}

}  // namespace varne::workbook
