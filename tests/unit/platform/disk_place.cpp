#include <filesystem>
#include <random>

#include "platform/files/system_file_system.h"
#include "tests/support/disk_files.h"
#include "tests/unit/platform/file_place.h"

namespace varne::testing {

namespace {

namespace fs = std::filesystem;

// A folder under the temporary folder that a plain user may use too, removed with everything in
// it, read-only files too.
class DiskPlace final : public FilePlace {
public:
    DiskPlace() : m_folder(fs::temp_directory_path() / ("varne-files-" + std::to_string(std::random_device()())))
    {
        fs::create_directories(m_folder);
        fs::permissions(m_folder, fs::perms::all);
    }
    ~DiskPlace() override
    {
        std::error_code ignored;
        for (const auto& entry : fs::recursive_directory_iterator(m_folder, ignored))
            fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add, ignored);
        fs::remove_all(m_folder, ignored);
    }

    FileSystem& files() override { return m_files; }
    BStr name(std::string_view file) const override { return (m_folder / file).u16string(); }
    void put(std::string_view file, const std::string& bytes) override { write_bytes(m_folder / file, bytes); }
    std::optional<std::string> bytes(std::string_view file) const override
    {
        if (!fs::exists(m_folder / file))
            return std::nullopt;
        return read_bytes(m_folder / file);
    }
    size_t entries() const override { return static_cast<size_t>(std::distance(fs::directory_iterator(m_folder), {})); }
    void make_read_only(std::string_view file) override
    {
        fs::permissions(m_folder / file, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
    }
    std::shared_ptr<void> as_plain_user() override { return plain_user_scope(); }

private:
    fs::path m_folder;
    files::SystemFileSystem m_files;
};

}  // namespace

std::unique_ptr<FilePlace> make_disk_place()
{
    return std::make_unique<DiskPlace>();
}

}  // namespace varne::testing
