#include "page/browser_pool.h"

#include "frame/server_locks.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace varne::page {
namespace {

using namespace std::chrono_literals;

// What happened to the browsers a test started.
struct Record {
    std::atomic<int> started{0};
    std::atomic<int> ended{0};
    std::atomic<int> left_open{0};
};

class FakeBrowser final : public SharedBrowser {
public:
    FakeBrowser(Record& record, bool headed) : m_record(record), m_headed(headed) { ++m_record.started; }
    bool alive() const override { return m_alive; }
    bool shows_windows() const override { return m_headed; }
    void close() noexcept override { ++m_record.ended; }
    void leave_open() noexcept override
    {
        ++m_record.ended;
        ++m_record.left_open;
    }
    void die() { m_alive = false; }

private:
    Record& m_record;
    bool m_headed;
    std::atomic<bool> m_alive{true};
};

std::function<std::unique_ptr<FakeBrowser>()> starter(Record& record, bool headed = false)
{
    return [&record, headed] { return std::make_unique<FakeBrowser>(record, headed); };
}

// Waits, bounded, for `done`; the test then checks it as usual.
template <class Condition>
void settle(Condition done)
{
    for (int i = 0; i < 1000 && !done(); ++i)
        std::this_thread::sleep_for(5ms);
}

TEST(BrowserPool, PagesAtOnePlaceShareOneBrowserWhichEndsWithTheLastOfThem)
{
    Record record;
    BrowserPool pool(0ms);
    auto first = pool.lease("local", starter(record));
    auto second = pool.lease("local", starter(record));
    auto elsewhere = pool.lease("attached", starter(record));
    EXPECT_EQ(first.get(), second.get());
    EXPECT_NE(first.get(), elsewhere.get());
    EXPECT_EQ(record.started, 2);
    EXPECT_EQ(pool.running(), 2);

    first.reset();
    EXPECT_EQ(record.ended, 0);
    second.reset();
    EXPECT_EQ(record.ended, 1);
    EXPECT_EQ(pool.running(), 1);

    auto again = pool.lease("local", starter(record));
    EXPECT_EQ(record.started, 3);
}

TEST(BrowserPool, AnEmptyKeyIsNeverShared)
{
    Record record;
    BrowserPool pool(60s);
    auto first = pool.lease("", starter(record));
    auto second = pool.lease("", starter(record));
    EXPECT_NE(first.get(), second.get());
    first.reset();
    EXPECT_EQ(record.ended, 1);  // no idle moment for a browser that nobody else may take
}

TEST(BrowserPool, ADeadBrowserIsReplacedAndEndsWithItsLastPage)
{
    Record record;
    BrowserPool pool(60s);
    auto old_page = pool.lease("local", starter(record));
    old_page->die();
    auto new_page = pool.lease("local", starter(record));
    EXPECT_NE(old_page.get(), new_page.get());
    EXPECT_EQ(record.ended, 0);
    old_page.reset();
    EXPECT_EQ(record.ended, 1);  // dead: never kept idle
    auto next = pool.lease("local", starter(record));
    EXPECT_EQ(next.get(), new_page.get());
}

TEST(BrowserPool, AnIdleBrowserServesTheNextPageAndEndsWhenItsMomentIsOverOrWithThePool)
{
    Record record;
    {
        BrowserPool pool(60s);
        auto first = pool.lease("local", starter(record));
        FakeBrowser* browser = first.get();
        first.reset();
        EXPECT_EQ(record.ended, 0);
        EXPECT_EQ(pool.running(), 1);
        EXPECT_GT(background_work(), 0);  // the library stays loaded while a browser waits
        auto second = pool.lease("local", starter(record));
        EXPECT_EQ(second.get(), browser);
        second.reset();
    }
    EXPECT_EQ(record.started, 1);
    EXPECT_EQ(record.ended, 1);
    EXPECT_EQ(background_work(), 0);

    BrowserPool brief(1ms);
    brief.lease("local", starter(record)).reset();
    settle([&] { return record.ended == 2 && background_work() == 0; });
    EXPECT_EQ(record.ended, 2);
    EXPECT_EQ(brief.running(), 0);
    EXPECT_EQ(background_work(), 0);
}

TEST(BrowserPool, AHeadedBrowserIsLetGoAtOnceAndAPageMayOutliveThePool)
{
    Record record;
    std::shared_ptr<FakeBrowser> outliving;
    {
        BrowserPool pool(60s);
        pool.lease("headed", starter(record, true)).reset();
        EXPECT_EQ(record.left_open, 1);
        outliving = pool.lease("local", starter(record));
    }
    EXPECT_EQ(record.ended, 1);
    outliving.reset();
    EXPECT_EQ(record.ended, 2);
    EXPECT_EQ(record.left_open, 1);
}

TEST(BrowserPool, AFailedStartLeavesNothingAndPagesAskedForTogetherShareOneStart)
{
    Record record;
    BrowserPool pool(0ms);
    EXPECT_THROW(pool.lease<FakeBrowser>(
                     "local", []() -> std::unique_ptr<FakeBrowser> { throw std::runtime_error("no browser"); }),
                 std::runtime_error);
    EXPECT_EQ(pool.running(), 0);

    std::vector<std::shared_ptr<FakeBrowser>> pages(4);
    std::vector<std::thread> threads;
    for (auto& page : pages)
        threads.emplace_back([&] { page = pool.lease("local", starter(record)); });
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(record.started, 1);
    for (const auto& page : pages)
        EXPECT_EQ(page.get(), pages.front().get());
}

}  // namespace
}  // namespace varne::page
