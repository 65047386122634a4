#include "platform/transport/loopback_socket_pair.h"

#include <ws2tcpip.h>

#include <string>
#include <string_view>

#include "platform/transport/server_unavailable.h"

namespace varne {

namespace {

std::string winsock_error(std::string_view what)
{
    return std::string(what) + " (Winsock error " + std::to_string(WSAGetLastError()) + ")";
}

void start_winsock()
{
    static const bool started = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started)
        throw server_unavailable("Cannot start Winsock for a loopback connection");
}

// A socket is inheritable from its start; another program this process starts meanwhile would
// keep it open past this process's end.
UniqueSocket own_socket(SOCKET socket)
{
    UniqueSocket owned(socket);
    if (owned)
        SetHandleInformation(owned.handle(), HANDLE_FLAG_INHERIT, 0);
    return owned;
}

void set_no_delay(SOCKET socket)
{
    // Without it every small message waits for the peer's delayed acknowledgement (about 50 ms).
    BOOL on = TRUE;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
}

}  // namespace

// The accepted peer must be our own connecting socket, not another program that raced to connect.
LoopbackSocketPair loopback_socket_pair()
{
    start_winsock();
    UniqueSocket listener = own_socket(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0));
    if (!listener)
        throw server_unavailable(winsock_error("Cannot create a loopback socket"));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (::bind(listener.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener.get(), 1) != 0 ||
        ::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        throw server_unavailable(winsock_error("Cannot listen on 127.0.0.1"));
    UniqueSocket ours = own_socket(WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, 0));
    if (!ours || ::connect(ours.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
        throw server_unavailable(winsock_error("Cannot connect to 127.0.0.1"));
    sockaddr_in own{};
    int own_length = sizeof own;
    ::getsockname(ours.get(), reinterpret_cast<sockaddr*>(&own), &own_length);
    sockaddr_in peer{};
    int peer_length = sizeof peer;
    UniqueSocket theirs = own_socket(::accept(listener.get(), reinterpret_cast<sockaddr*>(&peer), &peer_length));
    if (!theirs)
        throw server_unavailable(winsock_error("Cannot accept a loopback connection"));
    if (peer.sin_port != own.sin_port || peer.sin_addr.s_addr != own.sin_addr.s_addr)
        throw server_unavailable("Another program connected to a loopback socket of this process first");
    set_no_delay(ours.get());
    set_no_delay(theirs.get());
    return {std::move(ours), std::move(theirs)};
}

void make_inheritable(const UniqueSocket& socket)
{
    if (!SetHandleInformation(socket.handle(), HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT))
        throw server_unavailable("Cannot hand a socket to a program (error " + std::to_string(GetLastError()) + ")");
}

}  // namespace varne
