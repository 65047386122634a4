#include "platform/transport/pipe_transport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace varne {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using SendResult = PipeTransport::SendResult;

PipeTransport::Clock::time_point in(std::chrono::milliseconds span)
{
    return PipeTransport::Clock::now() + span;
}

// A transport and the raw far ends of its two pipes, standing in for the browser.
class PipeTransportTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        int to_peer[2];
        int from_peer[2];
        ASSERT_EQ(::pipe2(to_peer, O_CLOEXEC), 0);
        ASSERT_EQ(::pipe2(from_peer, O_CLOEXEC), 0);
        m_peer_read = to_peer[0];
        m_peer_write = from_peer[1];
        m_transport = std::make_unique<PipeTransport>(to_peer[1], from_peer[0]);
    }

    void TearDown() override
    {
        m_transport.reset();
        close_peer_read();
        close_peer_write();
    }

    void peer_write(std::string_view bytes)
    {
        ASSERT_EQ(::write(m_peer_write, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Everything the transport wrote until it closed its write end.
    std::string peer_read_all()
    {
        std::string all;
        char chunk[65536];
        for (ssize_t got; (got = ::read(m_peer_read, chunk, sizeof chunk)) > 0;)
            all.append(chunk, static_cast<size_t>(got));
        return all;
    }

    void close_peer_write() { close_fd(m_peer_write); }
    void close_peer_read() { close_fd(m_peer_read); }

    static void close_fd(int& fd)
    {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }

    std::unique_ptr<PipeTransport> m_transport;
    int m_peer_read = -1;
    int m_peer_write = -1;
};

TEST_F(PipeTransportTest, SplitsMessagesWhateverTheReadBoundaries)
{
    peer_write("{\"a\":1}\0{\"b\":2}\0{\"c\""s);
    EXPECT_EQ(m_transport->receive(in(1s)), "{\"a\":1}");
    EXPECT_EQ(m_transport->receive(in(1s)), "{\"b\":2}");
    EXPECT_EQ(m_transport->receive(in(10ms)), std::nullopt);
    EXPECT_FALSE(m_transport->closed());

    peer_write(":3");
    peer_write("}\0"s);
    EXPECT_EQ(m_transport->receive(in(1s)), "{\"c\":3}");

    peer_write("\0\0"s);
    EXPECT_EQ(m_transport->receive(in(1s)), "");
    EXPECT_EQ(m_transport->receive(in(1s)), "");
}

TEST_F(PipeTransportTest, CarriesLargeAndNonAsciiMessagesBothWays)
{
    std::string large(20 * 1024 * 1024, 'x');
    large.replace(large.size() / 2, 8, "\xc3\xa9t\xc3\xa9\xe2\x82\xac");
    std::thread peer([&] { peer_write(large + '\0' + "after" + '\0'); });
    EXPECT_EQ(m_transport->receive(in(30s)), large);
    EXPECT_EQ(m_transport->receive(in(30s)), "after");
    peer.join();

    std::string received;
    std::thread reader([&] { received = peer_read_all(); });
    EXPECT_EQ(m_transport->send(large, in(30s)), SendResult::kSent);
    EXPECT_EQ(m_transport->send("next", in(30s)), SendResult::kSent);
    m_transport->close("done");
    reader.join();
    EXPECT_EQ(received, large + '\0' + "next" + '\0');
}

TEST_F(PipeTransportTest, EndOfPipeDeliversWhatCameBeforeThenReportsClosed)
{
    peer_write("one\0two\0"s);
    close_peer_write();
    EXPECT_EQ(m_transport->receive(in(1s)), "one");
    EXPECT_EQ(m_transport->receive(in(1s)), "two");
    EXPECT_EQ(m_transport->receive(in(1s)), std::nullopt);
    EXPECT_TRUE(m_transport->closed());
    EXPECT_EQ(m_transport->close_reason(), "end of pipe");
    EXPECT_EQ(m_transport->send("late", in(1s)), SendResult::kClosed);
}

TEST_F(PipeTransportTest, EndOfPipeInsideAMessageSaysSo)
{
    peer_write("{\"id\":1,");
    close_peer_write();
    EXPECT_EQ(m_transport->receive(in(1s)), std::nullopt);
    EXPECT_EQ(m_transport->close_reason(), "end of pipe in the middle of a message");
}

TEST_F(PipeTransportTest, CloseWakesABlockedReceiveAndKeepsTheFirstReason)
{
    std::optional<std::string> received = "unset";
    std::thread reader([&] { received = m_transport->receive(PipeTransport::Clock::time_point::max()); });
    m_transport->close("first");
    m_transport->close("second");
    reader.join();
    EXPECT_EQ(received, std::nullopt);
    EXPECT_EQ(m_transport->close_reason(), "first");
    EXPECT_EQ(peer_read_all(), "");
}

TEST_F(PipeTransportTest, WritingToAGonePeerClosesInsteadOfRaisingSigpipe)
{
    close_peer_read();
    EXPECT_EQ(m_transport->send("hello", in(1s)), SendResult::kClosed);
    EXPECT_TRUE(m_transport->closed());
    EXPECT_EQ(m_transport->close_reason(), "write failed: Broken pipe");
}

TEST_F(PipeTransportTest, APeerThatStopsReadingEndsSendAtTheDeadline)
{
    const std::string fills_the_pipe(4 * 1024 * 1024, 'x');
    EXPECT_EQ(m_transport->send(fills_the_pipe, in(50ms)), SendResult::kTimedOut);
    EXPECT_TRUE(m_transport->closed());
    EXPECT_EQ(m_transport->close_reason(), "a message was cut off because the peer stopped reading");
}

}  // namespace
}  // namespace varne
