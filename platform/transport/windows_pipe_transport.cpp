#include "platform/transport/windows_pipe_transport.h"

#include "frame/automation_error.h"

#include <algorithm>
#include <chrono>
#include <cstdint>

namespace varne {

namespace {

// The most that one ReadFile or WriteFile moves.
constexpr size_t kMaxTransfer = 1 << 20;

// Milliseconds for a wait: rounded up so that it never ends before its deadline.
DWORD wait_milliseconds(MessageTransport::Clock::time_point deadline)
{
    if (deadline == MessageTransport::Clock::time_point::max())
        return INFINITE;
    const auto left = deadline - MessageTransport::Clock::now();
    if (left <= MessageTransport::Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<DWORD>(std::min<int64_t>(ms, INFINITE - 1));
}

std::string error_text(std::string_view what, DWORD error)
{
    return std::string(what) + " (error " + std::to_string(error) + ")";
}

// The errors by which a pipe says that its other end has been closed.
bool is_end_of_pipe(DWORD error)
{
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA || error == ERROR_PIPE_NOT_CONNECTED;
}

}  // namespace

WindowsPipeTransport::WindowsPipeTransport(HANDLE write_pipe, HANDLE read_pipe)
    : m_write_pipe(write_pipe),
      m_write_done(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_read_pipe(read_pipe),
      m_read_done(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      m_wake(CreateEventW(nullptr, TRUE, FALSE, nullptr))
{
    if (!m_write_done || !m_read_done || !m_wake) {
        const DWORD error = GetLastError();
        for (HANDLE handle : {m_write_done, m_read_done, m_wake, m_write_pipe, m_read_pipe}) {
            if (handle)
                CloseHandle(handle);
        }
        throw AutomationError(error_number::kUnspecified,
                              error_text("Cannot create the events of the browser's pipes", error));
    }
}

WindowsPipeTransport::~WindowsPipeTransport()
{
    close("the connection was shut down");
    CloseHandle(m_read_pipe);
    CloseHandle(m_read_done);
    CloseHandle(m_write_done);
    CloseHandle(m_wake);
}

WindowsPipeTransport::Outcome WindowsPipeTransport::finish_io(HANDLE pipe, OVERLAPPED& io, BOOL started,
                                                              Clock::time_point deadline, DWORD& done)
{
    done = 0;
    if (!started && GetLastError() != ERROR_IO_PENDING)
        return Outcome::kFailed;
    HANDLE waits[] = {io.hEvent, m_wake};
    const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, wait_milliseconds(deadline));
    if (woke != WAIT_OBJECT_0)
        CancelIoEx(pipe, &io);
    // Waits for the cancelled call too: its buffer must not be touched once we return.
    if (GetOverlappedResult(pipe, &io, &done, TRUE))
        return Outcome::kDone;
    const DWORD error = GetLastError();
    if (error != ERROR_OPERATION_ABORTED) {
        SetLastError(error);
        return Outcome::kFailed;
    }
    return woke == WAIT_OBJECT_0 + 1 ? Outcome::kWoken : Outcome::kTimedOut;
}

MessageTransport::SendResult WindowsPipeTransport::send(std::string_view message, Clock::time_point deadline)
{
    static const char kTerminator = '\0';
    std::lock_guard send_lock(m_send_mutex);
    if (closed())
        return SendResult::kClosed;
    const SendResult sent = write_part(message.data(), message.size(), deadline);
    return sent == SendResult::kSent ? write_part(&kTerminator, 1, deadline) : sent;
}

MessageTransport::SendResult WindowsPipeTransport::write_part(const char* data, size_t size, Clock::time_point deadline)
{
    while (size > 0) {
        OVERLAPPED io{};
        io.hEvent = m_write_done;
        const auto chunk = static_cast<DWORD>(std::min(size, kMaxTransfer));
        const BOOL started = WriteFile(m_write_pipe, data, chunk, nullptr, &io);
        DWORD done = 0;
        switch (finish_io(m_write_pipe, io, started, deadline, done)) {
        case Outcome::kDone:
            data += done;
            size -= done;
            break;
        case Outcome::kTimedOut:
            end("a message could not be sent in time: the browser stopped reading its pipe");
            close_write_end();
            return SendResult::kTimedOut;
        case Outcome::kWoken:
            return SendResult::kClosed;
        case Outcome::kFailed: {
            const DWORD error = GetLastError();
            end(is_end_of_pipe(error) ? std::string("end of pipe")
                                      : error_text("writing to the browser's pipe failed", error));
            close_write_end();
            return SendResult::kClosed;
        }
        }
    }
    return SendResult::kSent;
}

std::optional<std::string> WindowsPipeTransport::receive(Clock::time_point deadline)
{
    for (;;) {
        if (auto message = m_received.take_message())
            return message;
        if (closed())
            return std::nullopt;

        const std::span<char> space = m_received.free_space();
        OVERLAPPED io{};
        io.hEvent = m_read_done;
        const auto wanted = static_cast<DWORD>(std::min(space.size(), kMaxTransfer));
        const BOOL started = ReadFile(m_read_pipe, space.data(), wanted, nullptr, &io);
        DWORD done = 0;
        const Outcome outcome = finish_io(m_read_pipe, io, started, deadline, done);
        if (done > 0 && space[done - 1] != '\0')
            note_partial_arrival();
        m_received.filled(done);
        if (outcome == Outcome::kTimedOut)
            return m_received.take_message();
        if (outcome == Outcome::kFailed) {
            const DWORD error = GetLastError();
            if (!is_end_of_pipe(error))
                close(error_text("reading the browser's pipe failed", error));
            else
                close(m_received.holds_partial_message() ? "end of pipe in the middle of a message" : "end of pipe");
        }
    }
}

void WindowsPipeTransport::close(std::string_view reason)
{
    end(reason);
    std::lock_guard send_lock(m_send_mutex);
    close_write_end();
}

void WindowsPipeTransport::end(std::string_view reason)
{
    if (mark_closed(reason))
        SetEvent(m_wake);
}

void WindowsPipeTransport::close_write_end()
{
    if (m_write_pipe != INVALID_HANDLE_VALUE) {
        CloseHandle(m_write_pipe);
        m_write_pipe = INVALID_HANDLE_VALUE;
    }
}

}  // namespace varne
