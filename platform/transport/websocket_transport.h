#pragma once

#include "platform/transport/web_address.h"
#include "platform/transport/message_transport.h"
#include "platform/transport/websocket_frames.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace varne {

// How a request names its host: as the user wrote it, or as the IP address that it resolved to
// (Chromium's debugging server refuses every other name).
enum class HostHeader { kAsGiven, kResolvedAddress };

struct HttpAnswer {
    int status = 0;
    std::string body;
};

// Sends one HTTP/1.1 request (method, the address's host and port, `target` as path and query,
// `headers`, and a body when one is given) on a connection of its own and reads the answer. Connecting
// ends within `connect_timeout`, the whole exchange by `deadline`. Raises AutomationError (server
// unavailable) naming the address when it cannot be reached or does not answer in time.
HttpAnswer http_exchange(std::string_view method, const WebAddress& address, std::string_view target,
                         const HttpHeaders& headers, std::optional<std::string> body, HostHeader host,
                         MessageTransport::Clock::duration connect_timeout,
                         MessageTransport::Clock::time_point deadline);

// Moves protocol messages as WebSocket text messages, one message per frame; knows framing, not meaning.
// The thread that sends writes to the connection itself, and the one that receives reads from it.
class WebSocketTransport final : public MessageTransport {
public:
    // Connects to `address` (ws://) and completes the upgrade with `headers` and no Origin header,
    // by `deadline`. Raises AutomationError (server unavailable) naming the address when it cannot.
    static std::unique_ptr<WebSocketTransport> connect(const WebAddress& address, const HttpHeaders& headers,
                                                       HostHeader host, Clock::time_point deadline);

    ~WebSocketTransport() override;

    // A message that the peer has not taken by the deadline closes the transport: whether part of it
    // went out is unknown, so the stream can no longer be trusted.
    SendResult send(std::string_view message, Clock::time_point deadline) override;
    // Answers the peer's pings and its close on the way. Only one thread may receive at a time.
    std::optional<std::string> receive(Clock::time_point deadline) override;
    // Ends the TCP connection, so that the peer sees it end.
    void close(std::string_view reason) override;

private:
    struct Connection;
    explicit WebSocketTransport(std::unique_ptr<Connection> connection);

    // Writes one frame; the caller holds the send lock.
    SendResult write_frame(FrameOpcode opcode, std::string_view payload, Clock::time_point deadline);
    void answer_ping(const std::string& payload);
    // Echoes the peer's close, as the protocol asks, and closes with its code and reason.
    void close_answered(const PeerFrame& frame);

    std::unique_ptr<Connection> m_connection;
};

}  // namespace varne
