#pragma once
// A TCP listener on 127.0.0.1 written in the test: the far side of a network link, as a gateway
// would be, taking one connection and letting the test read and write its bytes.
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdint>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

class LoopbackListener
{
public:
    explicit LoopbackListener(int backlog = 4)
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            ::listen(listener_, backlog) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &length) != 0)
            return;
        port_ = ntohs(a.sin_port);
    }
    ~LoopbackListener()
    {
        for (int fd : fillers_)
            ::close(fd);
        dropClient();
        if (listener_ >= 0)
            ::close(listener_);
    }
    int port() const { return port_; }
    // A port on which nobody listens: this one, once closed.
    int closeListening()
    {
        ::close(listener_);
        listener_ = -1;
        return port_;
    }

    // Fills the queue of connections never accepted, so that the next one goes unanswered, as a
    // host that cannot be reached leaves it.
    void fillQueue(int connections = 4)
    {
        for (int i = 0; i < connections; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(uint16_t(port_));
            ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
            fillers_.push_back(fd);
        }
    }

    bool accept(int timeoutMs = 5000)
    {
        pollfd fd{listener_, POLLIN, 0};
        if (::poll(&fd, 1, timeoutMs) <= 0)
            return false;
        client_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return client_ >= 0;
    }
    // Whether anyone tried to connect within timeoutMs.
    bool connectionPending(int timeoutMs)
    {
        pollfd fd{listener_, POLLIN, 0};
        return ::poll(&fd, 1, timeoutMs) > 0;
    }
    // Reads until count bytes came or the time is up.
    std::vector<uint8_t> read(size_t count, int timeoutMs = 5000)
    {
        std::vector<uint8_t> got;
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (got.size() < count) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                end - std::chrono::steady_clock::now());
            pollfd fd{client_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, int(left.count())) <= 0)
                break;
            uint8_t buffer[512];
            const ssize_t n = ::recv(client_, buffer, std::min(sizeof buffer, count - got.size()), 0);
            if (n <= 0)
                break;
            got.insert(got.end(), buffer, buffer + n);
        }
        return got;
    }
    bool write(const std::vector<uint8_t> &bytes)
    {
        return ::send(client_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    void dropClient()
    {
        if (client_ >= 0)
            ::close(client_);
        client_ = -1;
    }

private:
    int listener_ = -1;
    int client_ = -1;
    int port_ = 0;
    std::vector<int> fillers_;
};
