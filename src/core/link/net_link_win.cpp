// The network link's sockets on Windows: Winsock's getaddrinfo, a non-blocking connect, and the
// network thread's wait on the socket's network events and on an event that wakes it.
#include "core/link/net_link_session.h"

#include "core/platform/win_text.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <chrono>

namespace qvoksb
{

struct NetLink::Session {
    NetShared shared;
    SOCKET socket = INVALID_SOCKET;
    WSAEVENT socketEvent = WSA_INVALID_EVENT;
    WSAEVENT wake = WSA_INVALID_EVENT;
    bool started = false;
    // FD_WRITE is signalled once when the socket can send and then only after a send was
    // refused for want of room: until then the socket counts as writable.
    bool writeBlocked = false;
    // FD_CLOSE is signalled once, maybe with bytes still unread: from then on the socket counts
    // as readable until a read returns the end.
    bool peerClosing = false;
    ~Session()
    {
        if (socket != INVALID_SOCKET)
            ::closesocket(socket);
        for (WSAEVENT e : {socketEvent, wake})
            if (e != WSA_INVALID_EVENT)
                ::WSACloseEvent(e);
        if (started)
            ::WSACleanup();
    }
};

namespace
{

using SteadyClock = std::chrono::steady_clock;

DWORD msLeft(SteadyClock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() > 0 ? DWORD(left.count()) : 0;
}

// One address: a non-blocking connect, then a wait for its end, the wake-up, or the deadline.
NetError tryAddress(NetLink::Session &s, const ADDRINFOW &a, SteadyClock::time_point deadline)
{
    const SOCKET fd = ::WSASocketW(a.ai_family, a.ai_socktype, a.ai_protocol, nullptr, 0,
                                   WSA_FLAG_NO_HANDLE_INHERIT);
    if (fd == INVALID_SOCKET)
        return {NetFailure::Connect, ::WSAGetLastError()};
    // Selecting events makes the socket non-blocking.
    if (::WSAEventSelect(fd, s.socketEvent, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        const int error = ::WSAGetLastError();
        ::closesocket(fd);
        return {NetFailure::Connect, error};
    }
    if (::connect(fd, a.ai_addr, int(a.ai_addrlen)) != 0) {
        const int error = ::WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            ::closesocket(fd);
            return {failureOfSocketError(error, true), error};
        }
        for (;;) {
            const WSAEVENT events[2] = {s.socketEvent, s.wake};
            const DWORD ready = ::WSAWaitForMultipleEvents(2, events, FALSE, msLeft(deadline), FALSE);
            if (ready != WSA_WAIT_EVENT_0 || s.shared.stopping) {
                ::closesocket(fd);
                return {NetFailure::TimedOut, WSAETIMEDOUT};
            }
            WSANETWORKEVENTS happened{};
            if (::WSAEnumNetworkEvents(fd, s.socketEvent, &happened) != 0) {
                const int failed = ::WSAGetLastError();
                ::closesocket(fd);
                return {NetFailure::Connect, failed};
            }
            if (!(happened.lNetworkEvents & FD_CONNECT))
                continue;
            const int failed = happened.iErrorCode[FD_CONNECT_BIT];
            if (failed != 0) {
                ::closesocket(fd);
                return {failureOfSocketError(failed, true), failed};
            }
            break;
        }
    }
    s.socket = fd;
    return {};
}

} // namespace

std::shared_ptr<NetLink::Session> newNetSession()
{
    auto s = std::make_shared<NetLink::Session>();
    WSADATA data;
    const int started = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (started != 0)
        throw LinkError("сеть недоступна: " + socketErrorText(started), started);
    s->started = true;
    s->socketEvent = ::WSACreateEvent();
    s->wake = ::WSACreateEvent();
    if (s->socketEvent == WSA_INVALID_EVENT || s->wake == WSA_INVALID_EVENT) {
        const int error = ::WSAGetLastError();
        throw LinkError("соединение со шлюзом: " + socketErrorText(error), error);
    }
    return s;
}

NetShared &sharedPart(NetLink::Session &s)
{
    return s.shared;
}

NetError connectSocket(NetLink::Session &s, const std::string &host, int port, int timeoutMs)
{
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    std::wstring wideHost;
    if (!toWide(host, &wideHost))
        return {NetFailure::Resolve, WSAHOST_NOT_FOUND};
    const std::wstring service = std::to_wstring(port);
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    ADDRINFOW *found = nullptr;
    const int resolved = ::GetAddrInfoW(wideHost.c_str(), service.c_str(), &hints, &found);
    if (resolved != 0)
        return {NetFailure::Resolve, resolved};
    NetError last{NetFailure::Connect, WSAEHOSTUNREACH};
    for (const ADDRINFOW *a = found; a && !s.shared.stopping; a = a->ai_next) {
        last = tryAddress(s, *a, deadline);
        if (last.failure == NetFailure::None || msLeft(deadline) == 0)
            break;
    }
    ::FreeAddrInfoW(found);
    if (last.failure == NetFailure::None) {
        // Requests are small and wait for their answer: send each at once.
        const BOOL on = TRUE;
        ::setsockopt(s.socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&on),
                     sizeof on);
    }
    return last;
}

SocketEvent waitForSocket(NetLink::Session &s, bool wantWrite)
{
    if (s.peerClosing || (wantWrite && !s.writeBlocked))
        return {false, s.peerClosing, wantWrite && !s.writeBlocked, 0};
    for (;;) {
        const WSAEVENT events[2] = {s.socketEvent, s.wake};
        const DWORD ready = ::WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE);
        if (ready == WSA_WAIT_EVENT_0 + 1) {
            ::WSAResetEvent(s.wake);
            if (wantWrite || s.shared.stopping)
                return {};
            SocketEvent event;
            event.writable = true; // new bytes in the queue
            return event;
        }
        if (ready != WSA_WAIT_EVENT_0)
            return {true, false, false, int(::WSAGetLastError())};
        WSANETWORKEVENTS happened{};
        if (::WSAEnumNetworkEvents(s.socket, s.socketEvent, &happened) != 0)
            return {true, false, false, ::WSAGetLastError()};
        SocketEvent event;
        // A closing or a failed read shows up as readable: the read tells which.
        event.readable = (happened.lNetworkEvents & (FD_READ | FD_CLOSE)) != 0;
        if (happened.lNetworkEvents & FD_WRITE)
            s.writeBlocked = false;
        if (happened.lNetworkEvents & FD_CLOSE)
            s.peerClosing = true;
        event.writable = !s.writeBlocked;
        if (event.readable || event.writable)
            return event;
    }
}

long receiveSome(NetLink::Session &s, uint8_t *buffer, size_t size, int &error)
{
    const int got = ::recv(s.socket, reinterpret_cast<char *>(buffer), int(size), 0);
    if (got >= 0)
        return got;
    const int failed = ::WSAGetLastError();
    if (failed == WSAEWOULDBLOCK)
        return -1;
    error = failed;
    return -2;
}

long sendSome(NetLink::Session &s, const uint8_t *bytes, size_t size, int &error)
{
    const int sent = ::send(s.socket, reinterpret_cast<const char *>(bytes), int(size), 0);
    if (sent >= 0)
        return sent;
    const int failed = ::WSAGetLastError();
    if (failed == WSAEWOULDBLOCK) {
        s.writeBlocked = true;
        return -1;
    }
    error = failed;
    return -2;
}

void wakeNetThread(NetLink::Session &s)
{
    ::WSASetEvent(s.wake);
}

NetFailure failureOfSocketError(int error, bool connecting)
{
    switch (error) {
    case WSAECONNREFUSED:
        return connecting ? NetFailure::Refused : NetFailure::Lost;
    case WSAETIMEDOUT:
        return connecting ? NetFailure::TimedOut : NetFailure::Lost;
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
    case WSAENETDOWN:
    case WSAEHOSTDOWN:
        return connecting ? NetFailure::Unreachable : NetFailure::Lost;
    default:
        return connecting ? NetFailure::Connect : NetFailure::Lost;
    }
}

std::string socketErrorText(int error)
{
    switch (error) {
    case WSAECONNREFUSED:
        return "в соединении отказано";
    case WSAECONNRESET:
        return "соединение сброшено другой стороной";
    case WSAECONNABORTED:
        return "соединение прервано";
    case WSAETIMEDOUT:
        return "истекло время ожидания";
    case WSAENETUNREACH:
        return "сеть недоступна";
    case WSAEHOSTUNREACH:
        return "нет пути до узла";
    case WSAENETDOWN:
        return "сеть отключена";
    case WSAEHOSTDOWN:
        return "узел выключен";
    case WSAENETRESET:
        return "сеть сбросила соединение";
    case WSAEADDRNOTAVAIL:
        return "адрес недоступен на этой машине";
    default:
        return systemErrorText(static_cast<unsigned long>(error));
    }
}

std::string resolveErrorText(int error)
{
    switch (error) {
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
        return "такого имени нет в сети";
    case WSATRY_AGAIN:
        return "служба имён не ответила, попробуйте ещё раз";
    case WSANO_RECOVERY:
        return "служба имён не смогла ответить";
    default:
        return socketErrorText(error);
    }
}

} // namespace qvoksb
