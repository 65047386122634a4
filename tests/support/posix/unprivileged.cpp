#include "tests/support/disk_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

namespace varne::testing {

namespace {

constexpr uid_t kNobody = 65534;

}  // namespace

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
