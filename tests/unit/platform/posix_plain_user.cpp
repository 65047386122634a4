#include "tests/support/disk_files.h"
#include "tests/unit/platform/file_place.h"

namespace varne::testing {

std::shared_ptr<void> plain_user_scope()
{
    return std::make_shared<Unprivileged>();
}

}  // namespace varne::testing
