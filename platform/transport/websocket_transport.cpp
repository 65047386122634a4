#include "platform/transport/websocket_transport.h"

#include "frame/automation_error.h"
#include "platform/transport/websocket_frames.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <mutex>
#include <random>

#ifndef _WIN32
#include <poll.h>
#include <sys/socket.h>
#endif

namespace varne {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;
using Clock = MessageTransport::Clock;

// As large as the biggest answer the pipe has been seen to carry, with room to spare.
constexpr size_t kMaxMessage = size_t{256} << 20;
// Read (and written) in parts, so that a large message that is still arriving shows as progress.
constexpr size_t kReadPart = size_t{1} << 20;
constexpr const char* kUserAgent = "Varne";

AutomationError unreachable(const WebAddress& address, const std::string& why)
{
    return {error_number::kServerUnavailable, "Cannot reach " + address.text() + ": " + why};
}

std::string milliseconds_until(Clock::time_point deadline, Clock::time_point from)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - from).count();
    return std::to_string(std::max<int64_t>(left, 0)) + " ms";
}

// Runs the operations started on `io` to their end; each one is bounded by its stream's expiry.
void run(net::io_context& io)
{
    io.run();
    io.restart();
}

tcp::resolver::results_type resolve(net::io_context& io, const WebAddress& address, Clock::time_point deadline)
{
    const auto started = Clock::now();
    tcp::resolver resolver(io);
    net::steady_timer timer(io, deadline);
    beast::error_code error = net::error::would_block;
    tcp::resolver::results_type results;
    resolver.async_resolve(address.host, std::to_string(address.port),
                           [&](const beast::error_code& failure, tcp::resolver::results_type found) {
                               error = failure;
                               results = std::move(found);
                               timer.cancel();
                           });
    timer.async_wait([&](const beast::error_code& failure) {
        if (!failure)
            resolver.cancel();
    });
    run(io);
    if (error == net::error::operation_aborted)
        throw unreachable(address, "its host name was not resolved within " + milliseconds_until(deadline, started));
    if (error)
        throw unreachable(address, "its host name was not resolved (" + error.message() + ")");
    return results;
}

void connect_stream(net::io_context& io, beast::tcp_stream& stream, const WebAddress& address,
                    Clock::time_point deadline)
{
    const auto results = resolve(io, address, deadline);
    const auto started = Clock::now();
    stream.expires_at(deadline);
    beast::error_code error;
    stream.async_connect(results, [&](const beast::error_code& failure, const tcp::endpoint&) { error = failure; });
    run(io);
    if (error == beast::error::timeout)
        throw unreachable(address, "no connection within " + milliseconds_until(deadline, started));
    if (error)
        throw unreachable(address, error.message());
    // A small message goes out at once instead of waiting for the peer's delayed acknowledgement
    // (about 50 ms a round trip under Wine).
    stream.socket().set_option(tcp::no_delay(true), error);
}

std::string host_header(beast::tcp_stream& stream, const WebAddress& address, HostHeader host)
{
    if (host == HostHeader::kAsGiven)
        return address.origin().substr(address.scheme.size() + 3);
    const auto endpoint = stream.socket().remote_endpoint();
    const std::string ip = endpoint.address().to_string();
    return (endpoint.address().is_v6() ? "[" + ip + "]" : ip) + ":" + std::to_string(endpoint.port());
}

std::string target_of(const WebAddress& address)
{
    return address.path.empty() ? "/" : address.path;
}

// Waits on the socket are cut into slices, so that a close from another thread is seen soon.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);
// How long a pong or the answer to a peer's close may take to go out.
constexpr auto kControlAnswerTime = std::chrono::seconds(1);

#ifdef _WIN32
using NativeSocket = SOCKET;
constexpr int kSendFlags = 0;

int last_socket_error()
{
    return WSAGetLastError();
}

bool would_block(int error)
{
    return error == WSAEWOULDBLOCK || error == WSAEINTR;
}

int64_t read_some(NativeSocket socket, char* buffer, size_t size)
{
    return ::recv(socket, buffer, static_cast<int>(std::min<size_t>(size, INT_MAX)), 0);
}

int64_t write_some(NativeSocket socket, const char* bytes, size_t size)
{
    return ::send(socket, bytes, static_cast<int>(std::min(size, kReadPart)), kSendFlags);
}

// True when the socket became ready (or failed: the next read or write tells which) within `wait`.
bool wait_ready(NativeSocket socket, bool for_writing, Clock::duration wait)
{
    const auto micros = std::chrono::ceil<std::chrono::microseconds>(wait).count();
    timeval timeout{static_cast<long>(micros / 1000000), static_cast<long>(micros % 1000000)};
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket, &set);
    return ::select(0, for_writing ? nullptr : &set, for_writing ? &set : nullptr, nullptr, &timeout) != 0;
}
#else
using NativeSocket = int;
// A peer that has gone must not end this process with SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;

int last_socket_error()
{
    return errno;
}

bool would_block(int error)
{
    return error == EAGAIN || error == EWOULDBLOCK || error == EINTR;
}

int64_t read_some(NativeSocket socket, char* buffer, size_t size)
{
    return ::recv(socket, buffer, size, 0);
}

int64_t write_some(NativeSocket socket, const char* bytes, size_t size)
{
    return ::send(socket, bytes, std::min(size, kReadPart), kSendFlags);
}

// True when the socket became ready (or failed: the next read or write tells which) within `wait`.
bool wait_ready(NativeSocket socket, bool for_writing, Clock::duration wait)
{
    pollfd entry{socket, static_cast<short>(for_writing ? POLLOUT : POLLIN), 0};
    const auto millis = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
    return ::poll(&entry, 1, static_cast<int>(millis)) != 0;
}
#endif

// The nonce of an upgrade request: 16 random bytes in base64.
std::string upgrade_key(std::mt19937& random)
{
    static constexpr char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string key;
    for (int index = 0; index < 21; ++index)
        key.push_back(kDigits[random() % 64]);
    // The last digit holds the last two bits of the 16th byte, its low four bits zero.
    key.push_back(kDigits[(random() % 4) * 16]);
    return key + "==";
}

std::string connection_failure(int error)
{
    const beast::error_code code(error, net::error::get_system_category());
    if (code == net::error::connection_reset || code == net::error::broken_pipe ||
        code == net::error::connection_aborted)
        return "the peer ended the connection";
    return "the WebSocket failed (" + code.message() + ")";
}

}  // namespace

HttpAnswer http_exchange(std::string_view method, const WebAddress& address, std::string_view target,
                         const HttpHeaders& headers, std::optional<std::string> body, HostHeader host,
                         Clock::duration connect_timeout, Clock::time_point deadline)
{
    net::io_context io;
    beast::tcp_stream stream(io);
    connect_stream(io, stream, address, std::min(deadline, Clock::now() + connect_timeout));

    http::request<http::string_body> request(http::string_to_verb(beast::string_view(method.data(), method.size())),
                                             beast::string_view(target.data(), target.size()), 11);
    request.set(http::field::host, host_header(stream, address, host));
    request.set(http::field::user_agent, kUserAgent);
    for (const auto& [name, value] : headers)
        request.set(name, value);
    if (body) {
        request.body() = std::move(*body);
        request.prepare_payload();
    }

    const auto started = Clock::now();
    stream.expires_at(deadline);
    beast::error_code error;
    http::async_write(stream, request, [&](const beast::error_code& failure, size_t) { error = failure; });
    run(io);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    if (!error) {
        http::async_read(stream, buffer, response, [&](const beast::error_code& failure, size_t) { error = failure; });
        run(io);
    }
    if (error == beast::error::timeout)
        throw unreachable(address, "no answer within " + milliseconds_until(deadline, started));
    if (error)
        throw unreachable(address, "the connection ended before an answer came (" + error.message() + ")");
    beast::error_code ignored;
    stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
    return {static_cast<int>(response.result_int()), std::move(response.body())};
}

// Once upgraded, the socket is read and written directly by the threads that need it: the sender
// writes its own frames and the receiver reads its own, so that no message waits on the way for
// another thread to wake and pass it on (each such hand-off costs a scheduling delay, which a busy
// machine makes long).
struct WebSocketTransport::Connection {
    net::io_context io;
    beast::tcp_stream stream{io};

    // Held for the whole of one frame, by send() and by a pong; guards `masks` too.
    std::timed_mutex send_mutex;
    std::mt19937 masks{std::random_device{}()};

    // Touched only by the receiving thread.
    FrameReader reader{kMaxMessage};
    std::string read_buffer = std::string(kReadPart, '\0');

    tcp::socket& socket() { return stream.socket(); }
    NativeSocket native() { return socket().native_handle(); }
};

std::unique_ptr<WebSocketTransport> WebSocketTransport::connect(const WebAddress& address, const HttpHeaders& headers,
                                                                HostHeader host, Clock::time_point deadline)
{
    auto connection = std::make_unique<Connection>();
    auto& stream = connection->stream;
    connect_stream(connection->io, stream, address, deadline);

    const auto started = Clock::now();
    stream.expires_at(deadline);
    http::request<http::empty_body> request(http::verb::get, target_of(address), 11);
    request.set(http::field::host, host_header(stream, address, host));
    request.set(http::field::upgrade, "websocket");
    request.set(http::field::connection, "Upgrade");
    request.set(http::field::sec_websocket_key, upgrade_key(connection->masks));
    request.set(http::field::sec_websocket_version, "13");
    request.set(http::field::user_agent, kUserAgent);
    for (const auto& [name, value] : headers)
        request.set(name, value);
    beast::error_code error;
    http::async_write(stream, request, [&](const beast::error_code& failure, size_t) { error = failure; });
    run(connection->io);
    // The peer may send its first frames right behind its answer: what was read past the answer is theirs.
    beast::flat_buffer arrived;
    http::response<http::string_body> response;
    if (!error) {
        http::async_read(stream, arrived, response, [&](const beast::error_code& failure, size_t) { error = failure; });
        run(connection->io);
    }
    if (error == beast::error::timeout)
        throw unreachable(address, "no WebSocket upgrade within " + milliseconds_until(deadline, started));
    if (error)
        throw unreachable(address, "the WebSocket upgrade failed (" + error.message() + ")");
    if (response.result() != http::status::switching_protocols)
        throw unreachable(address, "it refused the WebSocket upgrade with HTTP " +
                                       std::to_string(response.result_int()) +
                                       (response.body().empty() ? "" : ": " + response.body()));
    const std::string after_answer = beast::buffers_to_string(arrived.data());
    connection->reader.feed(after_answer.data(), after_answer.size());

    // From here on every call carries its own deadline; the stream's own timer would end a quiet connection.
    stream.expires_never();
    connection->socket().non_blocking(true, error);
    if (error)
        throw unreachable(address, "its socket cannot be used (" + error.message() + ")");
    return std::unique_ptr<WebSocketTransport>(new WebSocketTransport(std::move(connection)));
}

WebSocketTransport::WebSocketTransport(std::unique_ptr<Connection> connection) : m_connection(std::move(connection)) {}

WebSocketTransport::~WebSocketTransport()
{
    close("shut down by this program");
}

MessageTransport::SendResult WebSocketTransport::send(std::string_view message, Clock::time_point deadline)
{
    std::unique_lock send_lock(m_connection->send_mutex, deadline);
    if (closed())
        return SendResult::kClosed;
    if (!send_lock.owns_lock())
        return SendResult::kTimedOut;
    return write_frame(FrameOpcode::kText, message, deadline);
}

MessageTransport::SendResult WebSocketTransport::write_frame(FrameOpcode opcode, std::string_view payload,
                                                             Clock::time_point deadline)
{
    Connection& connection = *m_connection;
    std::array<uint8_t, 4> mask;
    for (auto& byte : mask)
        byte = static_cast<uint8_t>(connection.masks());
    const std::string frame = client_frame(opcode, payload, mask);
    size_t sent = 0;
    while (sent < frame.size()) {
        if (closed())
            return SendResult::kClosed;
        const auto written = write_some(connection.native(), frame.data() + sent, frame.size() - sent);
        if (written > 0) {
            sent += static_cast<size_t>(written);
            continue;
        }
        const int error = last_socket_error();
        if (!would_block(error)) {
            close(connection_failure(error));
            return SendResult::kClosed;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            close("a message was not taken within its time limit");
            return SendResult::kTimedOut;
        }
        wait_ready(connection.native(), true, std::min<Clock::duration>(deadline - now, kWaitSlice));
    }
    return SendResult::kSent;
}

std::optional<std::string> WebSocketTransport::receive(Clock::time_point deadline)
{
    Connection& connection = *m_connection;
    for (;;) {
        if (auto frame = connection.reader.next()) {
            switch (frame->kind) {
            case PeerFrame::Kind::kMessage:
                return std::move(frame->payload);
            case PeerFrame::Kind::kPing:
                answer_ping(frame->payload);
                continue;
            case PeerFrame::Kind::kClose:
                close_answered(*frame);
                return std::nullopt;
            case PeerFrame::Kind::kBroken:
                close("the WebSocket failed (" + frame->payload + ")");
                return std::nullopt;
            }
        }
        if (closed())
            return std::nullopt;
        const auto now = Clock::now();
        if (now >= deadline)
            return std::nullopt;
        if (!wait_ready(connection.native(), false, std::min<Clock::duration>(deadline - now, kWaitSlice)))
            continue;
        const auto got = read_some(connection.native(), connection.read_buffer.data(), connection.read_buffer.size());
        if (got > 0) {
            connection.reader.feed(connection.read_buffer.data(), static_cast<size_t>(got));
            if (connection.reader.within_message())
                note_partial_arrival();
        } else if (got == 0) {
            close("the peer ended the connection");
        } else if (const int error = last_socket_error(); !would_block(error)) {
            close(connection_failure(error));
        }
    }
}

void WebSocketTransport::answer_ping(const std::string& payload)
{
    std::unique_lock send_lock(m_connection->send_mutex, Clock::now() + kControlAnswerTime);
    if (send_lock.owns_lock() && !closed())
        write_frame(FrameOpcode::kPong, payload, Clock::now() + kControlAnswerTime);
}

void WebSocketTransport::close_answered(const PeerFrame& frame)
{
    {
        std::unique_lock send_lock(m_connection->send_mutex, Clock::now() + kControlAnswerTime);
        if (send_lock.owns_lock() && !closed()) {
            std::string echoed;
            if (frame.close_code != 0)
                echoed = {static_cast<char>(frame.close_code >> 8), static_cast<char>(frame.close_code & 0xFF)};
            write_frame(FrameOpcode::kClose, echoed, Clock::now() + kControlAnswerTime);
        }
    }
    close("the peer closed the WebSocket (code " + std::to_string(frame.close_code) +
          (frame.payload.empty() ? "" : ", " + frame.payload) + ")");
}

void WebSocketTransport::close(std::string_view reason)
{
    if (!mark_closed(reason))
        return;
    beast::error_code ignored;
    m_connection->socket().shutdown(tcp::socket::shutdown_both, ignored);
}

}  // namespace varne
