#pragma once

#include <winsock2.h>

#include <utility>

namespace varne {

// A Winsock socket of this process, closed with its owner.
class UniqueSocket {
public:
    explicit UniqueSocket(SOCKET socket = INVALID_SOCKET) : m_socket(socket) {}
    ~UniqueSocket() { reset(); }
    UniqueSocket(UniqueSocket&& other) noexcept : m_socket(other.release()) {}
    UniqueSocket& operator=(UniqueSocket&& other) noexcept
    {
        if (this != &other) {
            reset();
            m_socket = other.release();
        }
        return *this;
    }

    SOCKET get() const { return m_socket; }
    HANDLE handle() const { return reinterpret_cast<HANDLE>(m_socket); }
    explicit operator bool() const { return m_socket != INVALID_SOCKET; }
    SOCKET release() { return std::exchange(m_socket, INVALID_SOCKET); }
    void reset()
    {
        if (m_socket != INVALID_SOCKET)
            ::closesocket(std::exchange(m_socket, INVALID_SOCKET));
    }

private:
    SOCKET m_socket;
};

// The two ends of one connection over 127.0.0.1: this process's, and the one a program of the host
// gets as a standard handle under Wine, where pipe handles arrive as /dev/null and only a plain
// (not overlapped) socket arrives whole. Neither end is inheritable until made so; each sends
// small messages at once. Raises AutomationError (server unavailable) when Winsock cannot make them.
struct LoopbackSocketPair {
    UniqueSocket ours;
    UniqueSocket theirs;
};
LoopbackSocketPair loopback_socket_pair();

// Makes `socket` inheritable, for the program about to be started with it. Raises
// AutomationError (server unavailable) when it cannot.
void make_inheritable(const UniqueSocket& socket);

}  // namespace varne
