#pragma once

#include <cstdint>
#include <thread>

namespace varne {

// The locks that clients hold on the class objects (the class factory's LockServer). Releasing a
// lock that nobody holds changes nothing: the count never goes below zero, so an unbalanced
// client cannot make the library look idle while another client holds a lock.
void lock_server(bool lock) noexcept;
int64_t server_locks() noexcept;

// Work that the library goes on with when no object of a client is alive (a browser kept for the
// next Browser and the thread that ends it): the library may not be unloaded while any is held.
void hold_background_work(bool hold) noexcept;
// Drops the hold of a thread of the library's own that is on its way out, once it is gone: `self`,
// its own handle, is joined by the next call of background_work(). A thread that dropped its hold
// itself would still run the library's code for a moment after the library looked idle.
void drop_background_work_when_gone(std::thread self) noexcept;
// The work held, once the threads that dropped theirs on their way out are gone: when it is zero,
// no thread runs the library's code.
int64_t background_work() noexcept;

// Told when the process ends with the library loaded, after every other thread of it was ended
// (as Windows does): what the library then waits for, such as a reader thread's answer, can
// never come.
void note_process_ending() noexcept;
bool process_ending() noexcept;

}  // namespace varne
