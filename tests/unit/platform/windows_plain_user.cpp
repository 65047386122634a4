#include "tests/unit/platform/file_place.h"

namespace varne::testing {

// The read-only attribute binds every user alike.
std::shared_ptr<void> plain_user_scope()
{
    return nullptr;
}

}  // namespace varne::testing
