#include "frame/server_locks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

namespace varne {
namespace {

using namespace std::chrono_literals;

TEST(ServerLocks, AnUnbalancedUnlockCannotHideAnotherClientsLock)
{
    lock_server(true);
    lock_server(false);
    lock_server(false);
    EXPECT_EQ(server_locks(), 0);
    lock_server(true);
    EXPECT_EQ(server_locks(), 1);
    lock_server(false);
    EXPECT_EQ(server_locks(), 0);
}

TEST(ServerLocks, AThreadOnItsWayOutHoldsTheLibraryUntilItIsGone)
{
    hold_background_work(true);
    std::promise<std::thread> own_handle;
    std::atomic<bool> handed_over{false};
    std::atomic<bool> may_finish{false};
    std::atomic<bool> finished{false};
    own_handle.set_value(std::thread([&, handle = own_handle.get_future()]() mutable {
        drop_background_work_when_gone(handle.get());
        handed_over = true;
        while (!may_finish)
            std::this_thread::sleep_for(1ms);
        finished = true;
    }));
    while (!handed_over)
        std::this_thread::sleep_for(1ms);
    std::thread releaser([&] {
        std::this_thread::sleep_for(50ms);
        may_finish = true;
    });
    EXPECT_EQ(background_work(), 0);
    EXPECT_TRUE(finished);  // what still ran of the thread had to end before the library looked idle
    releaser.join();
}

}  // namespace
}  // namespace varne
