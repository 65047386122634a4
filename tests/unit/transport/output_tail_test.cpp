#include "platform/transport/output_tail.h"

#include <gtest/gtest.h>

namespace varne {
namespace {

TEST(OutputTail, LastLinesSkipBlankOnes)
{
    EXPECT_EQ(last_lines("a\n\nb\n  \nc\n\r\nd", 3), "b | c | d");
    EXPECT_EQ(last_lines("", 3), "");
}

}  // namespace
}  // namespace varne
