#include "gateway.h"

#include "core/modbus/modbus_rtu.h"
#include "core/modbus/modbus_tcp.h"
#include "traffic.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace ksb7sim
{

namespace modbus = qvoksb::modbus;

namespace
{

using Clock = std::chrono::steady_clock;

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

bool sendAll(int fd, const std::vector<uint8_t> &bytes)
{
    size_t at = 0;
    while (at < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += size_t(n);
    }
    return true;
}

// How long a unit's reply is, from its first bytes; 0 while that cannot be told yet.
size_t replyLength(const std::vector<uint8_t> &reply)
{
    if (reply.size() < 2)
        return 0;
    const uint8_t function = reply[1];
    if (function & modbus::ExceptionBit)
        return modbus::ExceptionReplyBytes;
    if (function == modbus::FunctionReadInputRegisters ||
        function == modbus::FunctionReadHoldingRegisters)
        return reply.size() < 3 ? 0 : 5 + size_t(reply[2]);
    return modbus::WriteReplyBytes;
}

} // namespace

TcpGateway::TcpGateway(Mode mode, std::function<std::string()> device)
    : mode_(mode), device_(std::move(device))
{
}

TcpGateway::~TcpGateway()
{
    stop();
}

std::string TcpGateway::name() const
{
    return "127.0.0.1:" + std::to_string(port_);
}

void TcpGateway::setPrinter(std::function<void(const std::string &line)> printer)
{
    std::lock_guard lock(printMutex_);
    printer_ = std::move(printer);
}

void TcpGateway::print(const std::string &line)
{
    std::lock_guard lock(printMutex_);
    if (printer_)
        printer_(line);
}

bool TcpGateway::start(int port, std::string *error)
{
    const auto fail = [&](const std::string &why) {
        if (error)
            *error = why + ": " + std::strerror(errno);
        stop();
        return false;
    };
    stopping_ = false;
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0)
        return fail("socket");
    const int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    socklen_t length = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0)
        return fail("cannot listen on 127.0.0.1:" + std::to_string(port));
    if (::listen(listener_, 4) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &length) != 0)
        return fail("listen");
    port_ = ntohs(a.sin_port);
    if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail("pipe");
    thread_ = std::thread([this] { run(); });
    return true;
}

void TcpGateway::stop()
{
    stopping_ = true;
    if (wake_[1] >= 0) {
        const char byte = 'x';
        [[maybe_unused]] ssize_t written = ::write(wake_[1], &byte, 1);
    }
    if (thread_.joinable())
        thread_.join();
    closeFd(listener_);
    closeFd(wake_[0]);
    closeFd(wake_[1]);
}

void TcpGateway::run()
{
    while (!stopping_) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR)
            return;
        if (fds[1].revents || stopping_)
            return;
        if (!(fds[0].revents & POLLIN))
            continue;
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        const int on = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        print(timeStamp() + " gw connection to " + name());
        serve(client);
        closeFd(client);
        print(timeStamp() + " gw connection closed");
    }
}

void TcpGateway::serve(int client)
{
    const std::string device = device_ ? device_() : std::string();
    int line = device.empty() ? -1 : ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (line < 0) {
        print(timeStamp() + " !! gw cannot open the line " + device + ": " + std::strerror(errno));
        return;
    }
    struct Pending {
        uint16_t transaction;
        uint8_t unit;
        std::vector<uint8_t> rtu;
    };
    std::deque<Pending> waiting; // Modbus TCP: requests not yet on the line
    bool onLine = false;         // the front request is on the line
    Clock::time_point sentAt{};
    std::vector<uint8_t> reply;
    modbus::MbapReader reader;

    const auto toLine = [&] {
        if (onLine || waiting.empty())
            return;
        const std::vector<uint8_t> &frame = waiting.front().rtu;
        [[maybe_unused]] const ssize_t n = ::write(line, frame.data(), frame.size());
        onLine = true;
        sentAt = Clock::now();
        reply.clear();
    };
    // The reply behind the request's header: unit id and PDU, without the CRC. The header
    // announces the whole reply even when the line gave only part of it.
    const auto answer = [&](std::span<const uint8_t> body, size_t announced) {
        const uint16_t t = waiting.front().transaction;
        std::vector<uint8_t> adu = {uint8_t(t >> 8), uint8_t(t), 0, 0, uint8_t(announced >> 8),
                                    uint8_t(announced)};
        adu.insert(adu.end(), body.begin(), body.end());
        print(timeStamp() + " gw -> " + modbus::hexBytes(adu) + "  MBAP transaction " +
              std::to_string(waiting.front().transaction));
        sendAll(client, adu);
    };

    // The unit's reply to the request on the line. A frame that does not come from that unit or
    // answer that function (a late answer to a request given up on) is passed over whole.
    std::vector<uint8_t> stray;
    const auto takeFromLine = [&](const std::vector<uint8_t> &bytes) {
        for (const uint8_t b : bytes) {
            if (!stray.empty()) {
                stray.push_back(b);
                const size_t length = replyLength(stray);
                if (length && stray.size() >= length) {
                    print(timeStamp() + " gw passed over, answering no request on the line: " +
                          modbus::hexBytes(stray));
                    stray.clear();
                }
                continue;
            }
            if (!onLine)
                continue;
            reply.push_back(b);
            const Pending &asked = waiting.front();
            if (reply.size() == 2 &&
                (reply[0] != asked.unit || (reply[1] & 0x7F) != asked.rtu[1])) {
                stray.swap(reply);
                continue;
            }
            const size_t length = replyLength(reply);
            if (!length || reply.size() < length)
                continue;
            // A reply spoilt on the line does not go on: the master hears nothing.
            if (modbus::replyCrcOk(reply))
                answer(std::span(reply).first(length - 2), length - 2);
            else
                print(timeStamp() + " gw spoilt reply on the line dropped: " +
                      modbus::hexBytes(reply));
            waiting.pop_front();
            onLine = false;
            toLine();
        }
    };

    std::vector<uint8_t> buffer(1024);
    while (!stopping_) {
        int timeoutMs = -1;
        if (onLine) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                sentAt + std::chrono::milliseconds(lineTimeoutMs) - Clock::now());
            timeoutMs = int(std::max<long long>(0, left.count()));
        }
        pollfd fds[3] = {{client, POLLIN, 0}, {line, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 3, timeoutMs) < 0 && errno != EINTR)
            break;
        if (fds[2].revents)
            break;
        if (onLine && Clock::now() - sentAt >= std::chrono::milliseconds(lineTimeoutMs)) {
            // As converting gateways do: exception 11, the target device failed to respond.
            const Pending &asked = waiting.front();
            const uint8_t failed[] = {asked.unit, uint8_t(asked.rtu[1] | modbus::ExceptionBit),
                                      uint8_t(modbus::ExceptionCode::GatewayTargetFailed)};
            answer(failed, sizeof failed);
            waiting.pop_front();
            onLine = false;
            toLine();
        }
        if (fds[1].revents) {
            const ssize_t got = ::read(line, buffer.data(), buffer.size());
            if (got <= 0 && !(got < 0 && errno == EAGAIN)) {
                // The line went away: what came of the reply goes on (in RTU over TCP it went as
                // it came), then the connection ends.
                if (mode_ == Mode::ModbusTcp && onLine && !reply.empty()) {
                    const size_t length = replyLength(reply);
                    const size_t announced = length ? length - 2 : reply.size() + 1;
                    answer(std::span(reply).first(std::min(reply.size(), announced)), announced);
                }
                print(timeStamp() + " !! gw the line went away; closing the connection");
                break;
            }
            if (got > 0) {
                const std::vector<uint8_t> bytes(buffer.begin(), buffer.begin() + got);
                if (mode_ == Mode::RtuOverTcp) {
                    if (!sendAll(client, bytes))
                        break;
                } else {
                    takeFromLine(bytes);
                }
            }
        }
        if (fds[0].revents) {
            const ssize_t got = ::recv(client, buffer.data(), buffer.size(), 0);
            if (got <= 0 && !(got < 0 && (errno == EAGAIN || errno == EINTR)))
                break;
            if (got > 0) {
                const std::span<const uint8_t> bytes(buffer.data(), size_t(got));
                if (mode_ == Mode::RtuOverTcp) {
                    [[maybe_unused]] const ssize_t n = ::write(line, bytes.data(), bytes.size());
                    continue;
                }
                for (auto &item : reader.feed(bytes)) {
                    if (item.kind != modbus::MbapReader::Item::Frame) {
                        print(timeStamp() + " !! gw not Modbus TCP, connection closed: " +
                              modbus::hexBytes(item.wire));
                        closeFd(line);
                        return;
                    }
                    print(timeStamp() + " gw <- " + modbus::hexBytes(item.wire) +
                          "  MBAP transaction " + std::to_string(item.transaction));
                    waiting.push_back({item.transaction, item.rtu[0], std::move(item.rtu)});
                }
                toLine();
            }
        }
    }
    closeFd(line);
}

} // namespace ksb7sim
