#include "tests/support/disk_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace varne::testing {

namespace {

constexpr uid_t kNobody = 65534;

}  // namespace

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

Unprivileged::Unprivileged() : m_was_root(::geteuid() == 0)
{
    if (m_was_root) {
        EXPECT_EQ(::seteuid(kNobody), 0);
    }
}

Unprivileged::~Unprivileged()
{
    if (m_was_root) {
        EXPECT_EQ(::seteuid(0), 0);
    }
}

}  // namespace varne::testing
