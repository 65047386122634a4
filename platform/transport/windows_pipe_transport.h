#pragma once

#include "platform/transport/message_transport.h"
#include "platform/transport/nul_framed_buffer.h"

#include <windows.h>

#include <mutex>
#include <optional>
#include <string>
#include <string_view>

namespace varne {

// Moves NUL-terminated messages over our ends of a Windows browser's debugging pipes, which must
// be opened for overlapped I/O: every wait then ends at its deadline or when the transport closes.
class WindowsPipeTransport final : public MessageTransport {
public:
    // Takes ownership of both handles; they are closed when the transport is destroyed.
    WindowsPipeTransport(HANDLE write_pipe, HANDLE read_pipe);
    ~WindowsPipeTransport() override;

    // A send that misses its deadline closes the transport: a cancelled pipe write may have handed
    // part of the message to the reader, and the stream could no longer be framed.
    SendResult send(std::string_view message, Clock::time_point deadline) override;
    std::optional<std::string> receive(Clock::time_point deadline) override;
    // Closes the write end, so that the peer sees the end of its pipe.
    void close(std::string_view reason) override;

private:
    enum class Outcome { kDone, kTimedOut, kWoken, kFailed };

    // Runs one overlapped read or write to its end; `done` gets the bytes moved.
    Outcome finish_io(HANDLE pipe, OVERLAPPED& io, BOOL started, Clock::time_point deadline, DWORD& done);
    SendResult write_part(const char* data, size_t size, Clock::time_point deadline);
    // Marks the transport closed and wakes the waits in progress.
    void end(std::string_view reason);
    void close_write_end();

    // Held by send() for a whole message, and by whoever closes the write end.
    std::mutex m_send_mutex;
    HANDLE m_write_pipe;
    HANDLE m_write_done;

    HANDLE m_read_pipe;
    HANDLE m_read_done;
    // Set, for good, once the transport is closed; wakes waits in progress.
    HANDLE m_wake;

    NulFramedBuffer m_received;
};

}  // namespace varne
