#include "platform/transport/websocket_transport.h"

#include "frame/automation_error.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace varne {

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using Clock = MessageTransport::Clock;

// As large as the biggest answer the pipe has been seen to carry, with room to spare.
constexpr size_t kMaxMessage = size_t{256} << 20;
// Read in parts, so that a large message that is still arriving shows as progress.
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

// The connection and everything the reading thread touches. Only that thread drives the socket;
// other threads hand it work with post().
struct WebSocketTransport::Connection {
    net::io_context io;
    websocket::stream<beast::tcp_stream> socket{io};
    beast::flat_buffer buffer;
    std::optional<net::executor_work_guard<net::io_context::executor_type>> work;
    std::thread thread;

    // Guards the fields below it.
    mutable std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> inbox;
    bool closed = false;
    std::string reason;

    // Held by send() for the whole of one message.
    std::timed_mutex send_mutex;

    // Returns whether this call closed it.
    bool mark_closed(std::string_view why)
    {
        {
            std::lock_guard lock(mutex);
            if (closed)
                return false;
            closed = true;
            reason = why;
        }
        changed.notify_all();
        return true;
    }

    void end_socket()
    {
        beast::error_code ignored;
        auto& stream = beast::get_lowest_layer(socket);
        stream.socket().shutdown(tcp::socket::shutdown_both, ignored);
        stream.close();
    }

    std::string ending(const beast::error_code& error) const
    {
        if (error == websocket::error::closed) {
            const auto& close = socket.reason();
            return "the peer closed the WebSocket (code " + std::to_string(close.code) +
                   (close.reason.empty() ? "" : ", " + std::string(close.reason.c_str())) + ")";
        }
        if (error == net::error::eof || error == net::error::connection_reset || error == beast::error::timeout)
            return "the peer ended the connection";
        return "the WebSocket failed (" + error.message() + ")";
    }

    // Set once the transport exists, before the first read; told of every part of a message that
    // is not the last.
    std::function<void()> partial_arrived;

    void read_next()
    {
        socket.async_read_some(buffer, kReadPart, [this](const beast::error_code& error, size_t) {
            if (error) {
                mark_closed(ending(error));
                end_socket();
                return;
            }
            if (!socket.is_message_done()) {
                partial_arrived();
                read_next();
                return;
            }
            std::string message = beast::buffers_to_string(buffer.data());
            buffer.consume(buffer.size());
            {
                std::lock_guard lock(mutex);
                inbox.push_back(std::move(message));
            }
            changed.notify_all();
            read_next();
        });
    }
};

std::unique_ptr<WebSocketTransport> WebSocketTransport::connect(const WebAddress& address, const HttpHeaders& headers,
                                                                HostHeader host, Clock::time_point deadline)
{
    auto connection = std::make_unique<Connection>();
    auto& stream = beast::get_lowest_layer(connection->socket);
    connect_stream(connection->io, stream, address, deadline);
    const std::string host_value = host_header(stream, address, host);
    connection->socket.set_option(websocket::stream_base::decorator([headers](websocket::request_type& request) {
        request.set(http::field::user_agent, kUserAgent);
        for (const auto& [name, value] : headers)
            request.set(name, value);
    }));

    const auto started = Clock::now();
    stream.expires_at(deadline);
    websocket::response_type response;
    beast::error_code error;
    connection->socket.async_handshake(response, host_value, target_of(address),
                                       [&](const beast::error_code& failure) { error = failure; });
    run(connection->io);
    if (error == websocket::error::upgrade_declined)
        throw unreachable(address, "it refused the WebSocket upgrade with HTTP " +
                                       std::to_string(response.result_int()) +
                                       (response.body().empty() ? "" : ": " + response.body()));
    if (error == beast::error::timeout)
        throw unreachable(address, "no WebSocket upgrade within " + milliseconds_until(deadline, started));
    if (error)
        throw unreachable(address, "the WebSocket upgrade failed (" + error.message() + ")");

    // From here on every call carries its own deadline; the stream's own timers would end a quiet connection.
    stream.expires_never();
    connection->socket.set_option(
        websocket::stream_base::timeout{websocket::stream_base::none(), websocket::stream_base::none(), false});
    connection->socket.text(true);
    // Whole messages in one frame each: some peers do not take continuation frames.
    connection->socket.auto_fragment(false);
    connection->socket.read_message_max(kMaxMessage);
    connection->work.emplace(connection->io.get_executor());
    return std::unique_ptr<WebSocketTransport>(new WebSocketTransport(std::move(connection)));
}

WebSocketTransport::WebSocketTransport(std::unique_ptr<Connection> connection) : m_connection(std::move(connection))
{
    m_connection->partial_arrived = [this] { note_partial_arrival(); };
    m_connection->read_next();
    m_connection->thread = std::thread([running = m_connection.get()] { running->io.run(); });
}

WebSocketTransport::~WebSocketTransport()
{
    close("shut down by this program");
    m_connection->work.reset();
    m_connection->thread.join();
}

MessageTransport::SendResult WebSocketTransport::send(std::string_view message, Clock::time_point deadline)
{
    Connection& connection = *m_connection;
    std::unique_lock send_lock(connection.send_mutex, deadline);
    if (closed())
        return SendResult::kClosed;
    if (!send_lock.owns_lock())
        return SendResult::kTimedOut;

    struct Outcome {
        std::mutex mutex;
        std::condition_variable done_changed;
        bool done = false;
        beast::error_code error;
    };
    auto outcome = std::make_shared<Outcome>();
    auto text = std::make_shared<std::string>(message);
    net::post(connection.io, [&connection, outcome, text] {
        connection.socket.async_write(net::buffer(*text), [outcome, text](const beast::error_code& error, size_t) {
            {
                std::lock_guard lock(outcome->mutex);
                outcome->done = true;
                outcome->error = error;
            }
            outcome->done_changed.notify_all();
        });
    });
    std::unique_lock lock(outcome->mutex);
    if (!outcome->done_changed.wait_until(lock, deadline, [&] { return outcome->done; })) {
        lock.unlock();
        close("a message was not taken within its time limit");
        return SendResult::kTimedOut;
    }
    if (outcome->error) {
        const std::string why = connection.ending(outcome->error);
        lock.unlock();
        close(why);
        return SendResult::kClosed;
    }
    return SendResult::kSent;
}

std::optional<std::string> WebSocketTransport::receive(Clock::time_point deadline)
{
    Connection& connection = *m_connection;
    std::unique_lock lock(connection.mutex);
    connection.changed.wait_until(lock, deadline, [&] { return !connection.inbox.empty() || connection.closed; });
    if (connection.inbox.empty())
        return std::nullopt;
    std::string message = std::move(connection.inbox.front());
    connection.inbox.pop_front();
    return message;
}

void WebSocketTransport::close(std::string_view reason)
{
    if (m_connection->mark_closed(reason))
        net::post(m_connection->io, [connection = m_connection.get()] { connection->end_socket(); });
}

bool WebSocketTransport::closed() const
{
    std::lock_guard lock(m_connection->mutex);
    return m_connection->closed;
}

std::string WebSocketTransport::close_reason() const
{
    std::lock_guard lock(m_connection->mutex);
    return m_connection->reason;
}

}  // namespace varne
