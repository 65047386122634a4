#include "platform/transport/socket_transport.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace varne {

namespace {

constexpr size_t kReadSize = 64 * 1024;
// Waits are cut into slices so that a close from another thread is seen soon.
constexpr auto kWaitSlice = std::chrono::milliseconds(50);

enum class Ready { kYes, kTimedOut, kFailed, kClosed };

// Waits until the socket can be read (or written), the deadline passes, the wait fails, or the
// transport is closed. A transport that keeps its connection for another process is closed without
// a word on the socket, so only the slice's end lets the wait see it.
Ready wait_for(const MessageTransport& transport, SOCKET socket, bool for_writing,
               MessageTransport::Clock::time_point deadline)
{
    for (;;) {
        if (transport.closed())
            return Ready::kClosed;
        const auto now = MessageTransport::Clock::now();
        if (now >= deadline)
            return Ready::kTimedOut;
        const auto slice = std::min<MessageTransport::Clock::duration>(deadline - now, kWaitSlice);
        const auto micros = std::chrono::ceil<std::chrono::microseconds>(slice).count();
        timeval timeout{static_cast<long>(micros / 1000000), static_cast<long>(micros % 1000000)};
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        int ready = ::select(0, for_writing ? nullptr : &set, for_writing ? &set : nullptr, nullptr, &timeout);
        if (ready > 0)
            return Ready::kYes;
        if (ready < 0)
            return Ready::kFailed;
    }
}

std::string socket_error_text(std::string_view what)
{
    return std::string(what) + ": Winsock error " + std::to_string(WSAGetLastError());
}

}  // namespace

SocketTransport::SocketTransport(SOCKET socket) : m_socket(socket) {}

SocketTransport::~SocketTransport()
{
    close("the transport was destroyed");
    ::closesocket(m_socket);
}

MessageTransport::SendResult SocketTransport::send(std::string_view message, Clock::time_point deadline)
{
    std::lock_guard lock(m_send_mutex);
    std::string framed(message);
    framed.push_back('\0');
    size_t sent = 0;
    while (sent < framed.size()) {
        if (closed())
            return SendResult::kClosed;
        Ready ready = wait_for(*this, m_socket, true, deadline);
        if (ready == Ready::kClosed)
            return SendResult::kClosed;
        if (ready == Ready::kTimedOut) {
            if (sent > 0)
                close("a message was cut short by its deadline");
            return SendResult::kTimedOut;
        }
        if (ready == Ready::kFailed) {
            close(socket_error_text("waiting to write to the browser"));
            return SendResult::kClosed;
        }
        const int chunk = static_cast<int>(std::min<size_t>(framed.size() - sent, 1 << 20));
        int written = ::send(m_socket, framed.data() + sent, chunk, 0);
        if (written == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK)
                continue;
            close(socket_error_text("writing to the browser"));
            return SendResult::kClosed;
        }
        sent += static_cast<size_t>(written);
    }
    return SendResult::kSent;
}

std::optional<std::string> SocketTransport::take_message()
{
    const size_t nul = m_buffer.find('\0', m_scanned);
    if (nul == std::string::npos) {
        m_scanned = m_buffer.size();
        return std::nullopt;
    }
    std::string message = m_buffer.substr(m_begin, nul - m_begin);
    m_begin = m_scanned = nul + 1;
    if (m_begin == m_buffer.size()) {
        m_buffer.clear();
        m_begin = m_scanned = 0;
    }
    return message;
}

std::optional<std::string> SocketTransport::receive(Clock::time_point deadline)
{
    for (;;) {
        if (auto message = take_message())
            return message;
        if (closed())
            return std::nullopt;
        Ready ready = wait_for(*this, m_socket, false, deadline);
        if (ready == Ready::kTimedOut || ready == Ready::kClosed)
            return std::nullopt;
        if (ready == Ready::kFailed) {
            mark_closed(socket_error_text("waiting for the browser"));
            return std::nullopt;
        }
        if (m_begin > 0) {
            m_buffer.erase(0, m_begin);
            m_scanned -= m_begin;
            m_begin = 0;
        }
        const size_t old_size = m_buffer.size();
        m_buffer.resize(old_size + kReadSize);
        int got = ::recv(m_socket, m_buffer.data() + old_size, static_cast<int>(kReadSize), 0);
        m_buffer.resize(old_size + static_cast<size_t>(std::max(got, 0)));
        if (got > 0 && m_buffer.back() != '\0')
            note_partial_arrival();
        if (got == 0) {
            mark_closed("the browser ended the connection");
        } else if (got == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK) {
            mark_closed(socket_error_text("reading from the browser"));
        }
    }
}

void SocketTransport::close(std::string_view reason)
{
    mark_closed(reason);
    if (!m_keep_connection)
        ::shutdown(m_socket, SD_BOTH);
}

}  // namespace varne
