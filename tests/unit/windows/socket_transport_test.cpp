#include "platform/transport/socket_transport.h"

#include <gtest/gtest.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <utility>

namespace varne {
namespace {

using namespace std::chrono_literals;

// Both ends of a loopback connection.
std::pair<SOCKET, SOCKET> connected_pair()
{
    WSADATA data;
    EXPECT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    EXPECT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(listener, 1), 0);
    EXPECT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length), 0);
    SOCKET ours = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    EXPECT_EQ(::connect(ours, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    SOCKET theirs = ::accept(listener, nullptr, nullptr);
    ::closesocket(listener);
    return {ours, theirs};
}

// A browser handed to another process keeps the connection, which sends nothing more: the reader
// waiting on it must still wake when the transport is closed here, or its join never returns.
TEST(SocketTransport, AReaderOfAKeptConnectionWakesWhenTheTransportCloses)
{
    auto [ours, theirs] = connected_pair();
    SocketTransport transport(ours);
    std::promise<std::optional<std::string>> first;
    auto reading = std::async(std::launch::async, [&] {
        first.set_value(transport.receive(MessageTransport::Clock::time_point::max()));
        return transport.receive(MessageTransport::Clock::time_point::max());
    });
    ASSERT_EQ(::send(theirs, "{}", 3, 0), 3);
    EXPECT_EQ(first.get_future().get(), "{}");
    std::this_thread::sleep_for(200ms);  // the reader waits for the next message by now
    transport.keep_connection();
    transport.close("handed to a keeper");
    ASSERT_EQ(reading.wait_for(60s), std::future_status::ready);
    EXPECT_EQ(reading.get(), std::nullopt);
    EXPECT_EQ(transport.send("{}", MessageTransport::Clock::now() + 5s), MessageTransport::SendResult::kClosed);
    // The connection itself lives on for the process that keeps it.
    EXPECT_EQ(::send(theirs, "x", 1, 0), 1);
    ::closesocket(theirs);
}

}  // namespace
}  // namespace varne
