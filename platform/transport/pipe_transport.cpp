#include "platform/transport/pipe_transport.h"

#include "frame/automation_error.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstring>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/uio.h>
#include <unistd.h>

namespace varne {

namespace {

// Milliseconds for poll(): rounded up so that a wait never ends before its deadline; -1 for "never".
int poll_timeout(PipeTransport::Clock::time_point deadline)
{
    if (deadline == PipeTransport::Clock::time_point::max())
        return -1;
    const auto left = deadline - PipeTransport::Clock::now();
    if (left <= PipeTransport::Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<int64_t>(ms, INT_MAX));
}

void set_non_blocking(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
}

std::string errno_text(std::string_view what, int error)
{
    return std::string(what) + ": " + std::strerror(error);
}

// Writing to a pipe whose reader is gone raises SIGPIPE, which would end the host program. The
// signal is blocked for this thread while a message is written and a SIGPIPE that the write caused is
// taken off again, so EPIPE is all the caller sees, whatever the program's own signal handling.
class SigpipeBlock {
public:
    SigpipeBlock()
    {
        sigemptyset(&m_pipe_set);
        sigaddset(&m_pipe_set, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &m_pipe_set, &m_previous);
    }

    ~SigpipeBlock()
    {
        if (m_raised) {
            const timespec no_wait{};
            while (sigtimedwait(&m_pipe_set, nullptr, &no_wait) < 0 && errno == EINTR) {}
        }
        pthread_sigmask(SIG_SETMASK, &m_previous, nullptr);
    }

    void note_broken_pipe() { m_raised = true; }

private:
    sigset_t m_pipe_set{};
    sigset_t m_previous{};
    bool m_raised = false;
};

}  // namespace

PipeTransport::PipeTransport(int write_fd, int read_fd)
    : m_write_fd(write_fd), m_read_fd(read_fd), m_wake_fd(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    if (m_wake_fd < 0) {
        const int error = errno;
        ::close(write_fd);
        ::close(read_fd);
        throw AutomationError(error_number::kUnspecified,
                              errno_text("Cannot create the browser pipe's wake-up event", error));
    }
    set_non_blocking(m_write_fd);
    set_non_blocking(m_read_fd);
}

PipeTransport::~PipeTransport()
{
    close("the connection was shut down");
    ::close(m_read_fd);
    ::close(m_wake_fd);
}

PipeTransport::SendResult PipeTransport::send(std::string_view message, Clock::time_point deadline)
{
    static const char kTerminator = '\0';
    SigpipeBlock sigpipe_block;
    std::lock_guard send_lock(m_send_mutex);
    if (closed())
        return SendResult::kClosed;

    const size_t total = message.size() + 1;
    size_t written = 0;
    while (written < total) {
        iovec parts[2];
        int count = 0;
        if (written < message.size())
            parts[count++] = {const_cast<char*>(message.data()) + written, message.size() - written};
        parts[count++] = {const_cast<char*>(&kTerminator), 1};

        const ssize_t done = ::writev(m_write_fd, parts, count);
        if (done > 0) {
            written += static_cast<size_t>(done);
            continue;
        }
        if (done < 0 && errno == EINTR)
            continue;
        if (done < 0 && errno != EAGAIN) {
            const int error = errno;
            if (error == EPIPE)
                sigpipe_block.note_broken_pipe();
            end(errno_text("write failed", error));
            close_write_end();
            return SendResult::kClosed;
        }

        pollfd waits[2] = {{m_write_fd, POLLOUT, 0}, {m_wake_fd, POLLIN, 0}};
        const int ready = ::poll(waits, 2, poll_timeout(deadline));
        if (ready < 0 && errno != EINTR) {
            end(errno_text("poll failed", errno));
            close_write_end();
            return SendResult::kClosed;
        }
        if (waits[1].revents != 0)
            return SendResult::kClosed;
        if (ready == 0) {
            if (written > 0) {
                end("a message was cut off because the peer stopped reading");
                close_write_end();
            }
            return SendResult::kTimedOut;
        }
    }
    return SendResult::kSent;
}

std::optional<std::string> PipeTransport::receive(Clock::time_point deadline)
{
    for (;;) {
        if (auto message = m_received.take_message())
            return message;
        if (closed())
            return std::nullopt;

        pollfd waits[2] = {{m_read_fd, POLLIN, 0}, {m_wake_fd, POLLIN, 0}};
        const int ready = ::poll(waits, 2, poll_timeout(deadline));
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            close(errno_text("poll failed", errno));
            return std::nullopt;
        }
        if (ready == 0)
            return std::nullopt;
        if (waits[1].revents != 0)
            return std::nullopt;

        const std::span<char> space = m_received.free_space();
        const ssize_t got = ::read(m_read_fd, space.data(), space.size());
        if (got > 0) {
            if (space[static_cast<size_t>(got) - 1] != '\0')
                note_partial_arrival();
            m_received.filled(static_cast<size_t>(got));
        } else if (got == 0) {
            close(m_received.holds_partial_message() ? "end of pipe in the middle of a message" : "end of pipe");
        } else if (errno != EINTR && errno != EAGAIN) {
            close(errno_text("read failed", errno));
        }
    }
}

void PipeTransport::close(std::string_view reason)
{
    end(reason);
    std::lock_guard send_lock(m_send_mutex);
    close_write_end();
}

void PipeTransport::end(std::string_view reason)
{
    if (!mark_closed(reason))
        return;
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(m_wake_fd, &one, sizeof one);
}

void PipeTransport::close_write_end()
{
    if (m_write_fd >= 0) {
        ::close(m_write_fd);
        m_write_fd = -1;
    }
}

}  // namespace varne
