#include "tests/support/disk_files.h"

#include <fstream>
#include <random>
#include <sstream>

namespace varne::testing {

TemporaryFolder::TemporaryFolder(const std::string& prefix)
    : m_path(std::filesystem::temp_directory_path() / (prefix + std::to_string(std::random_device()())))
{
    std::filesystem::create_directories(m_path);
}

TemporaryFolder::~TemporaryFolder()
{
    namespace fs = std::filesystem;
    std::error_code ignored;
    fs::permissions(m_path, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (auto entry = fs::recursive_directory_iterator(m_path, ignored); entry != fs::recursive_directory_iterator();
         entry.increment(ignored)) {
        fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::remove_all(m_path, ignored);
}

BStr TemporaryFolder::name(const std::string& file) const
{
    return from_utf8((m_path / file).string());
}

std::string read_bytes(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void write_bytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace varne::testing
