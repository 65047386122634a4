#pragma once

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace varne {

// Moves whole protocol messages to and from a browser; knows framing, not meaning. The protocol
// session runs over any adapter: a local pipe, a socket standing in for one, a WebSocket.
class MessageTransport {
public:
    using Clock = std::chrono::steady_clock;

    enum class SendResult { kSent, kTimedOut, kClosed };

    virtual ~MessageTransport() = default;
    // A transport owns its connection's ends and the waits on them: a copy would close them twice.
    MessageTransport(const MessageTransport&) = delete;
    MessageTransport& operator=(const MessageTransport&) = delete;

    // Writes `message` as one unit; safe from any thread. Ends when the peer has taken it (kSent), the
    // deadline passes (kTimedOut) or the transport closes (kClosed). A deadline that passes after part
    // of the message went out closes the transport, since the stream can no longer be framed.
    virtual SendResult send(std::string_view message, Clock::time_point deadline) = 0;

    // Waits for the next whole message. Returns nothing when the deadline passes or when the transport
    // is, or becomes, closed (see closed()). Messages that arrived before the peer ended the connection
    // are still handed out first. Only one thread may receive at a time.
    virtual std::optional<std::string> receive(Clock::time_point deadline) = 0;

    // Marks the transport closed, lets the peer see the end of the connection, and wakes any send()
    // or receive() in progress. The first reason given is the one kept.
    virtual void close(std::string_view reason) = 0;

    virtual bool closed() const;
    // Why the transport closed: the peer ended the connection, an I/O error, or the reason given to close().
    virtual std::string close_reason() const;

    // When bytes of a message that has not yet come whole last arrived (the clock's epoch before
    // any did): a wait for a large answer that is still arriving is not a wait for a hung peer.
    Clock::time_point last_partial_arrival() const;

protected:
    MessageTransport() = default;

    // Keeps the first reason; true for the call that closed the transport, which then wakes its waits.
    bool mark_closed(std::string_view reason);
    void note_partial_arrival();

private:
    mutable std::mutex m_state_mutex;
    bool m_closed = false;
    std::string m_close_reason;
    std::atomic<Clock::rep> m_last_partial_arrival{0};
};

}  // namespace varne
