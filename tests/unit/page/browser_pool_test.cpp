#include "page/browser_pool.h"

#include "frame/server_locks.h"
#include "tests/support/running_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
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
    std::atomic<int> spares_opened{0};
    std::atomic<int> spares_disposed{0};
    std::atomic<int> spares_outliving_their_browser{0};
    std::atomic<bool> spares_fail{false};
};

class FakeSpare final : public SpareWindow {
public:
    FakeSpare(Record& record, std::shared_ptr<const std::atomic<bool>> browser_ended)
        : m_record(record), m_browser_ended(std::move(browser_ended))
    {
        ++m_record.spares_opened;
    }
    ~FakeSpare() override
    {
        if (!m_adopted)
            ++m_record.spares_disposed;
        if (*m_browser_ended)
            ++m_record.spares_outliving_their_browser;
    }
    void adopt() { m_adopted = true; }

private:
    Record& m_record;
    std::shared_ptr<const std::atomic<bool>> m_browser_ended;
    bool m_adopted = false;
};

class FakeBrowser final : public SharedBrowser {
public:
    FakeBrowser(Record& record, bool headed) : m_record(record), m_headed(headed) { ++m_record.started; }
    bool alive() const override { return m_alive; }
    bool shows_windows() const override { return m_headed; }
    void close() noexcept override
    {
        *m_ended = true;
        ++m_record.ended;
    }
    void leave_open() noexcept override
    {
        *m_ended = true;
        ++m_record.ended;
        ++m_record.left_open;
    }
    std::unique_ptr<SpareWindow> open_spare_window() override
    {
        if (m_record.spares_fail)
            throw std::runtime_error("no window");
        return std::make_unique<FakeSpare>(m_record, m_ended);
    }
    void die() { m_alive = false; }

private:
    Record& m_record;
    bool m_headed;
    std::atomic<bool> m_alive{true};
    std::shared_ptr<std::atomic<bool>> m_ended = std::make_shared<std::atomic<bool>>(false);
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

    const auto threads_before = running_threads();
    BrowserPool brief(1ms);
    brief.lease("local", starter(record)).reset();
    settle([&] { return record.ended == 2 && background_work() == 0; });
    EXPECT_EQ(record.ended, 2);
    EXPECT_EQ(brief.running(), 0);
    EXPECT_EQ(background_work(), 0);
    // Once the library looks idle it may be unloaded: the watcher that ended the browser, and the
    // threads that opened its spare windows, must be gone by then.
    EXPECT_EQ(running_threads(), threads_before);
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

TEST(BrowserPool, EachPageTakesAWindowOpenedAheadForItAndTwoAreKeptOpenOrOnTheirWay)
{
    Record record;
    BrowserPool pool(60s);
    auto first = pool.lease("local", starter(record));
    EXPECT_EQ(pool.take_spare<FakeSpare>(*first), nullptr);  // a browser just started has none yet
    EXPECT_EQ(record.spares_opened, 0);  // nor opens one before its first page has its window
    pool.open_spares(*first);
    settle([&] { return record.spares_opened == 2; });
    auto second = pool.lease("local", starter(record));
    auto spare = pool.take_spare<FakeSpare>(*second);
    ASSERT_NE(spare, nullptr);
    spare->adopt();
    spare.reset();
    pool.open_spares(*second);
    settle([&] { return record.spares_opened == 3; });
    EXPECT_EQ(record.spares_opened, 3);
    EXPECT_EQ(record.spares_disposed, 0);

    first.reset();
    second.reset();
    EXPECT_EQ(record.ended, 0);  // the idle browser keeps its spares for the next pages
    auto third = pool.lease("local", starter(record));
    auto fourth = pool.lease("local", starter(record));
    EXPECT_NE(pool.take_spare<FakeSpare>(*third), nullptr);
    EXPECT_NE(pool.take_spare<FakeSpare>(*fourth), nullptr);
    pool.open_spares(*fourth);
    settle([&] { return record.spares_opened == 5; });
    EXPECT_EQ(record.spares_opened, 5);
}

TEST(BrowserPool, ASpareWindowGoesBeforeItsBrowserEndsHoweverItEnds)
{
    Record record;
    {
        BrowserPool pool(0ms);
        auto page = pool.lease("local", starter(record));
        pool.open_spares(*page);
        page.reset();  // no idle moment: ends at once, with a spare open or on its way
        EXPECT_EQ(record.ended, 1);

        auto idle = pool.lease("idle", starter(record));
        pool.open_spares(*idle);
        auto dying = pool.lease("dying", starter(record));
        pool.open_spares(*dying);
        dying->die();
        dying.reset();
        pool.lease("dying", starter(record)).reset();
        BrowserPool timed(1ms);
        auto brief = timed.lease("local", starter(record));
        timed.open_spares(*brief);
        brief.reset();
        settle([&] { return record.ended == 4; });
        idle.reset();
    }
    EXPECT_EQ(record.ended, record.started);
    EXPECT_EQ(record.spares_opened, record.spares_disposed);
    EXPECT_EQ(record.spares_outliving_their_browser, 0);
    EXPECT_EQ(background_work(), 0);
}

TEST(BrowserPool, NoSpareWindowForAHeadedOrUnsharedBrowserOrWhenOpeningOneFails)
{
    Record record;
    BrowserPool pool(60s);
    auto headed = pool.lease("headed", starter(record, true));
    auto unshared = pool.lease("", starter(record));
    pool.open_spares(*headed);
    pool.open_spares(*unshared);
    EXPECT_EQ(pool.take_spare<FakeSpare>(*headed), nullptr);
    EXPECT_EQ(pool.take_spare<FakeSpare>(*unshared), nullptr);
    EXPECT_EQ(record.spares_opened, 0);

    record.spares_fail = true;
    auto failing = pool.lease("local", starter(record));
    pool.open_spares(*failing);
    EXPECT_EQ(pool.take_spare<FakeSpare>(*failing), nullptr);
    pool.open_spares(*failing);
    EXPECT_EQ(pool.take_spare<FakeSpare>(*failing), nullptr);  // the failure is the next page's to bear
}

}  // namespace
}  // namespace varne::page
