#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace varne {

// Moves NUL-terminated messages over a pair of pipe descriptors; knows bytes, not their meaning.
class PipeTransport {
public:
    using Clock = std::chrono::steady_clock;

    enum class SendResult { kSent, kTimedOut, kClosed };

    // Takes ownership of both descriptors; they are closed when the transport is destroyed.
    PipeTransport(int write_fd, int read_fd);
    ~PipeTransport();

    PipeTransport(const PipeTransport&) = delete;
    PipeTransport& operator=(const PipeTransport&) = delete;

    // Writes `message` and its terminating NUL as one unit; safe from any thread. Ends when the peer
    // has taken every byte (kSent), the deadline passes (kTimedOut) or the transport closes (kClosed).
    // A deadline that passes after part of the message went out also closes the transport, since the
    // stream can no longer be framed.
    SendResult send(std::string_view message, Clock::time_point deadline);

    // Waits for the next whole message. Returns nothing when the deadline passes or when the transport
    // is, or becomes, closed (see closed()). Messages that arrived before the peer ended the pipe are
    // still handed out first. Only one thread may receive at a time.
    std::optional<std::string> receive(Clock::time_point deadline);

    // Marks the transport closed, closes the write end so that the peer sees the end of the pipe, and
    // wakes any send() or receive() in progress. The first reason given is the one kept.
    void close(std::string_view reason);

    bool closed() const;
    // Why the transport closed: the peer ended the pipe, an I/O error, or the reason given to close().
    std::string close_reason() const;

private:
    void mark_closed(std::string_view reason);
    void close_write_end();
    std::optional<std::string> take_message();
    void make_room();

    // Guards m_closed and m_close_reason.
    mutable std::mutex m_state_mutex;
    bool m_closed = false;
    std::string m_close_reason;

    // Held by send() for a whole message, and by whoever closes the write end.
    std::mutex m_send_mutex;
    int m_write_fd;

    int m_read_fd;
    // Becomes readable, for good, once the transport is closed; wakes blocked polls.
    int m_wake_fd;

    // Receiver state: bytes [m_begin, m_size) are unconsumed, and [m_begin, m_scanned) hold no NUL,
    // so each byte is searched once however many reads a message takes.
    std::unique_ptr<char[]> m_buffer;
    size_t m_capacity = 0;
    size_t m_size = 0;
    size_t m_begin = 0;
    size_t m_scanned = 0;
};

}  // namespace varne
