#pragma once

#include <cstdint>

namespace varne {

// The locks that clients hold on the class objects (the class factory's LockServer). Releasing a
// lock that nobody holds changes nothing: the count never goes below zero, so an unbalanced
// client cannot make the library look idle while another client holds a lock.
void lock_server(bool lock) noexcept;
int64_t server_locks() noexcept;

}  // namespace varne
