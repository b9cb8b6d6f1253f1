// The network link's sockets on POSIX: getaddrinfo, a non-blocking connect waited for with poll(),
// and the network thread's wait on the socket and on a pipe that wakes it.
#include "core/link/net_link_session.h"

#include "core/platform/system_error.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace qvoksb
{

struct NetLink::Session {
    NetShared shared;
    int socket = -1;
    int wake[2] = {-1, -1};
    ~Session()
    {
        for (int fd : {socket, wake[0], wake[1]})
            if (fd >= 0)
                ::close(fd);
    }
};

namespace
{

using SteadyClock = std::chrono::steady_clock;

int msLeft(SteadyClock::time_point deadline)
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now());
    return left.count() > 0 ? int(left.count()) : 0;
}

// One address: a non-blocking connect, then poll() for its end, the pipe, or the deadline.
NetError tryAddress(NetLink::Session &s, const addrinfo &a, SteadyClock::time_point deadline)
{
    const int fd = ::socket(a.ai_family, a.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                            a.ai_protocol);
    if (fd < 0)
        return {NetFailure::Connect, errno};
    if (::connect(fd, a.ai_addr, a.ai_addrlen) == 0) {
        s.socket = fd;
        return {};
    }
    if (errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        return {failureOfSocketError(error, true), error};
    }
    for (;;) {
        pollfd fds[2] = {{fd, POLLOUT, 0}, {s.wake[0], POLLIN, 0}};
        const int ready = ::poll(fds, 2, msLeft(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || fds[1].revents || s.shared.stopping) {
            ::close(fd);
            return {NetFailure::TimedOut, ETIMEDOUT};
        }
        int error = 0;
        socklen_t length = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = errno;
        if (error != 0) {
            ::close(fd);
            return {failureOfSocketError(error, true), error};
        }
        s.socket = fd;
        return {};
    }
}

} // namespace

std::shared_ptr<NetLink::Session> newNetSession()
{
    auto s = std::make_shared<NetLink::Session>();
    if (::pipe2(s->wake, O_CLOEXEC | O_NONBLOCK) != 0)
        throw LinkError("соединение со шлюзом: " + errnoText(errno), errno);
    return s;
}

NetShared &sharedPart(NetLink::Session &s)
{
    return s.shared;
}

NetError connectSocket(NetLink::Session &s, const std::string &host, int port, int timeoutMs)
{
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
    addrinfo *found = nullptr;
    const std::string service = std::to_string(port);
    int resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (resolved == EAI_NONAME || resolved == EAI_FAIL) {
        // AI_ADDRCONFIG hides the loopback addresses on a machine with no other network.
        hints.ai_flags = AI_NUMERICSERV;
        resolved = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    }
    if (resolved != 0)
        return {NetFailure::Resolve, resolved == EAI_SYSTEM ? -errno : resolved};
    NetError last{NetFailure::Connect, EHOSTUNREACH};
    for (const addrinfo *a = found; a && !s.shared.stopping; a = a->ai_next) {
        last = tryAddress(s, *a, deadline);
        if (last.failure == NetFailure::None || msLeft(deadline) == 0)
            break;
    }
    ::freeaddrinfo(found);
    if (last.failure == NetFailure::None) {
        // Requests are small and wait for their answer: send each at once.
        const int on = 1;
        ::setsockopt(s.socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    }
    return last;
}

SocketEvent waitForSocket(NetLink::Session &s, bool wantWrite)
{
    for (;;) {
        pollfd fds[2] = {{s.socket, short(POLLIN | (wantWrite ? POLLOUT : 0)), 0},
                         {s.wake[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return {true, false, false, errno};
        }
        if (fds[1].revents) {
            char drain[64];
            while (::read(s.wake[0], drain, sizeof drain) > 0) {
            }
        }
        SocketEvent event;
        // A hang-up or an error shows up as readable: the read tells which.
        event.readable = (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
        event.writable = (fds[0].revents & POLLOUT) != 0;
        return event;
    }
}

namespace
{
// One recv or send, again when a signal broke in: its count, -1 when it would block, -2 on a
// fault (with the error).
template <typename Call>
long retried(Call call, int &error)
{
    for (;;) {
        const ssize_t done = call();
        if (done >= 0)
            return long(done);
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return -1;
        error = errno;
        return -2;
    }
}
} // namespace

long receiveSome(NetLink::Session &s, uint8_t *buffer, size_t size, int &error)
{
    return retried([&] { return ::recv(s.socket, buffer, size, 0); }, error);
}

long sendSome(NetLink::Session &s, const uint8_t *bytes, size_t size, int &error)
{
    return retried([&] { return ::send(s.socket, bytes, size, MSG_NOSIGNAL); }, error);
}

void wakeNetThread(NetLink::Session &s)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(s.wake[1], &byte, 1);
}

NetFailure failureOfSocketError(int error, bool connecting)
{
    switch (error) {
    case ECONNREFUSED:
        return connecting ? NetFailure::Refused : NetFailure::Lost;
    case ETIMEDOUT:
        return connecting ? NetFailure::TimedOut : NetFailure::Lost;
    case ENETUNREACH:
    case EHOSTUNREACH:
    case ENETDOWN:
#ifdef EHOSTDOWN
    case EHOSTDOWN:
#endif
        return connecting ? NetFailure::Unreachable : NetFailure::Lost;
    default:
        return connecting ? NetFailure::Connect : NetFailure::Lost;
    }
}

std::string socketErrorText(int error)
{
    switch (error) {
    case ECONNREFUSED:
        return "в соединении отказано";
    case ECONNRESET:
        return "соединение сброшено другой стороной";
    case ECONNABORTED:
        return "соединение прервано";
    case ETIMEDOUT:
        return "истекло время ожидания";
    case ENETUNREACH:
        return "сеть недоступна";
    case EHOSTUNREACH:
        return "нет пути до узла";
    case ENETDOWN:
        return "сеть отключена";
#ifdef EHOSTDOWN
    case EHOSTDOWN:
        return "узел выключен";
#endif
    case ENETRESET:
        return "сеть сбросила соединение";
    case EADDRNOTAVAIL:
        return "адрес недоступен на этой машине";
    case EAFNOSUPPORT:
        return "этот вид адресов не поддерживается";
    default:
        return errnoText(error);
    }
}

std::string resolveErrorText(int error)
{
    if (error < 0)
        return errnoText(-error);
    switch (error) {
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
        return "такого имени нет в сети";
    case EAI_AGAIN:
        return "служба имён не ответила, попробуйте ещё раз";
    case EAI_FAIL:
        return "служба имён не смогла ответить";
    case EAI_FAMILY:
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        return "у узла нет адреса нужного вида";
    case EAI_MEMORY:
        return "недостаточно памяти";
    default:
        return "ошибка службы имён " + std::to_string(error);
    }
}

} // namespace qvoksb
