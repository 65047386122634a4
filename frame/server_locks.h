#pragma once

#include <cstdint>

namespace varne {

// The locks that clients hold on the class objects (the class factory's LockServer). Releasing a
// lock that nobody holds changes nothing: the count never goes below zero, so an unbalanced
// client cannot make the library look idle while another client holds a lock.
void lock_server(bool lock) noexcept;
int64_t server_locks() noexcept;

// Work that the library goes on with when no object of a client is alive (a browser kept for the
// next Browser and the thread that ends it): the library may not be unloaded while any is held.
void hold_background_work(bool hold) noexcept;
int64_t background_work() noexcept;

}  // namespace varne
