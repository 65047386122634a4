#pragma once

#include "platform/transport/message_transport.h"
#include "platform/transport/nul_framed_buffer.h"

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace varne {

// Moves NUL-terminated messages over a pair of pipe descriptors; knows bytes, not their meaning.
class PipeTransport final : public MessageTransport {
public:
    // Takes ownership of both descriptors; they are closed when the transport is destroyed.
    PipeTransport(int write_fd, int read_fd);
    ~PipeTransport() override;

    // Each message goes out followed by its terminating NUL.
    SendResult send(std::string_view message, Clock::time_point deadline) override;
    std::optional<std::string> receive(Clock::time_point deadline) override;
    // Closes the write end, so that the peer sees the end of the pipe.
    void close(std::string_view reason) override;

private:
    // Marks the transport closed and wakes the waits in progress.
    void end(std::string_view reason);
    void close_write_end();

    // Held by send() for a whole message, and by whoever closes the write end.
    std::mutex m_send_mutex;
    int m_write_fd;

    int m_read_fd;
    // Becomes readable, for good, once the transport is closed; wakes blocked polls.
    int m_wake_fd;

    NulFramedBuffer m_received;
};

}  // namespace varne
