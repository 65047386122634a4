#pragma once

#include "platform/transport/message_transport.h"

#include <winsock2.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace varne {

// Moves NUL-terminated messages over a connected Winsock stream socket: the stand-in for the
// browser's pipe where a Windows process drives a browser outside Windows (under Wine).
class SocketTransport final : public MessageTransport {
public:
    // Takes ownership of the socket; it is closed when the transport is destroyed.
    explicit SocketTransport(SOCKET socket);
    ~SocketTransport() override;

    SendResult send(std::string_view message, Clock::time_point deadline) override;
    std::optional<std::string> receive(Clock::time_point deadline) override;
    // Shuts the connection down both ways, so that the peer sees its end and waits here wake.
    void close(std::string_view reason) override;
    // From now on close() only wakes the waits here, and destruction only drops this process's
    // handle: the connection lives on in another process that holds the socket.
    void keep_connection() { m_keep_connection = true; }
    SOCKET socket() const { return m_socket; }

private:
    std::optional<std::string> take_message();

    std::mutex m_send_mutex;
    SOCKET m_socket;
    std::atomic<bool> m_keep_connection{false};

    // Receiver state: bytes from m_begin are unconsumed; those before m_scanned hold no NUL.
    std::string m_buffer;
    size_t m_begin = 0;
    size_t m_scanned = 0;
};

}  // namespace varne
