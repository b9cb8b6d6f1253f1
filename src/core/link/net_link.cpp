// What the network link does the same on every platform: gateway addresses, the network thread's
// loop, the events on the GUI thread, the Modbus TCP translation and the words for every failure.
// The platform's file does the sockets.
#include "core/link/net_link.h"

#include "core/link/net_link_session.h"
#include "core/modbus/modbus_rtu.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace qvoksb
{

namespace
{

bool startsWith(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i])
            return false;
    return true;
}

bool fail(std::string *problem, std::string why)
{
    if (problem)
        *problem = std::move(why);
    return false;
}

} // namespace

bool looksLikeGatewayUrl(std::string_view text)
{
    return startsWith(text, RtuOverTcpScheme) || startsWith(text, ModbusTcpScheme) ||
           text.find("://") != std::string_view::npos;
}

std::optional<Gateway> parseGatewayUrl(std::string_view url, std::string *problem)
{
    const auto malformed = [&](const std::string &why) -> std::optional<Gateway> {
        fail(problem, "неверный адрес шлюза «" + std::string(url) + "»: " + why);
        return std::nullopt;
    };
    Gateway gateway;
    std::string_view rest;
    if (startsWith(url, RtuOverTcpScheme)) {
        gateway.mode = GatewayMode::RtuOverTcp;
        rest = url.substr(RtuOverTcpScheme.size());
    } else if (startsWith(url, ModbusTcpScheme)) {
        gateway.mode = GatewayMode::ModbusTcp;
        rest = url.substr(ModbusTcpScheme.size());
    } else {
        return malformed("ожидается tcp://УЗЕЛ:ПОРТ или modbus-tcp://УЗЕЛ[:ПОРТ]");
    }
    if (!rest.empty() && rest.back() == '/')
        rest.remove_suffix(1);
    std::string_view host, port;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos)
            return malformed("нет закрывающей скобки «]» после адреса IPv6");
        host = rest.substr(1, close - 1);
        const std::string_view after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':')
                return malformed("после «]» ожидается «:ПОРТ»");
            port = after.substr(1);
            if (port.empty())
                return malformed("не указан порт после «:»");
        }
    } else {
        const size_t colon = rest.find(':');
        host = rest.substr(0, colon);
        if (colon != std::string_view::npos) {
            port = rest.substr(colon + 1);
            if (port.find(':') != std::string_view::npos)
                return malformed("адрес IPv6 пишется в квадратных скобках: [::1]:502");
            if (port.empty())
                return malformed("не указан порт после «:»");
        }
    }
    if (host.find_first_of("/?#@[]") != std::string_view::npos)
        return malformed("в имени узла недопустимый знак");
    gateway.host = std::string(host);
    if (port.empty()) {
        if (gateway.mode == GatewayMode::RtuOverTcp)
            return malformed("для tcp:// порт обязателен (tcp://УЗЕЛ:ПОРТ)");
        gateway.port = modbus::ModbusTcpPort;
    } else {
        int value = 0;
        const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
        if (ec == std::errc::result_out_of_range)
            value = 65536;
        else if (ec != std::errc() || end != port.data() + port.size() ||
                 !std::isdigit(static_cast<unsigned char>(port.front())))
            return malformed("порт — число от 1 до 65535");
        gateway.port = value;
    }
    if (const std::string why = gatewayProblem(gateway); !why.empty()) {
        fail(problem, why);
        return std::nullopt;
    }
    return gateway;
}

std::string gatewayUrl(const Gateway &gateway)
{
    return std::string(gateway.mode == GatewayMode::ModbusTcp ? ModbusTcpScheme
                                                              : RtuOverTcpScheme) +
           gatewayName(gateway);
}

std::string gatewayName(const Gateway &gateway)
{
    const bool v6 = gateway.host.find(':') != std::string::npos;
    return (v6 ? "[" + gateway.host + "]" : gateway.host) + ":" + std::to_string(gateway.port);
}

std::string gatewayProblem(const Gateway &gateway)
{
    if (gateway.host.empty())
        return "не указан адрес шлюза (имя узла или IP-адрес)";
    for (const char c : gateway.host)
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F)
            return "в адресе шлюза «" + gateway.host + "» недопустимый знак";
    if (gateway.host.size() > 253)
        return "слишком длинное имя шлюза";
    if (gateway.port < 1 || gateway.port > 65535)
        return "порт шлюза " + std::to_string(gateway.port) + " вне пределов 1..65535";
    return {};
}

std::string_view gatewayModeName(GatewayMode mode)
{
    return mode == GatewayMode::ModbusTcp ? "Modbus TCP" : "RTU поверх TCP";
}

NetLink::NetLink(Gateway gateway, GuiHandOff *gui) : gateway_(std::move(gateway)), gui_(gui) {}

NetLink::~NetLink()
{
    onOpen = nullptr;
    onReceived = nullptr;
    onFault = nullptr;
    onTraffic = nullptr;
    close();
}

void NetLink::open()
{
    if (session_)
        throw LinkError("соединение со шлюзом " + name() + " уже открыто");
    if (const std::string why = gatewayProblem(gateway_); !why.empty())
        throw LinkError(why);
    if (!gui_)
        throw LinkError("соединение со шлюзом: некому передавать его события");
    std::shared_ptr<Session> s = newNetSession();
    sharedPart(*s).gui = gui_;
    connected_ = false;
    gone_ = false;
    awaiting_ = false;
    request_.clear();
    sinceRequest_ = 0;
    outstanding_.clear();
    reader_.reset();
    try {
        thread_ = std::thread([this, s] { run(s); });
    } catch (const std::system_error &e) {
        throw LinkError(std::string("не удалось запустить поток соединения: ") + e.what());
    }
    session_ = s;
}

void NetLink::close()
{
    if (!session_)
        return;
    std::shared_ptr<Session> s = std::move(session_);
    NetShared &c = sharedPart(*s);
    c.closed = true;
    c.stopping = true;
    wakeNetThread(*s);
    if (thread_.joinable()) {
        // A hand-off that runs tasks at once would put us on the network thread here.
        if (thread_.get_id() == std::this_thread::get_id())
            thread_.detach();
        else
            thread_.join();
    }
    connected_ = false;
}

void NetLink::post(const std::shared_ptr<Session> &s, std::function<void(NetLink &)> task)
{
    sharedPart(*s).gui->post([this, s, task = std::move(task)] {
        if (!sharedPart(*s).closed)
            task(*this);
    });
}

// The network thread: connects, then moves bytes until the link closes or the connection ends.
void NetLink::run(std::shared_ptr<Session> s)
{
    NetShared &c = sharedPart(*s);
    const NetError failed = connectSocket(*s, gateway_.host, gateway_.port, connectTimeoutMs);
    if (c.stopping)
        return;
    if (failed.failure != NetFailure::None) {
        post(s, [failed](NetLink &l) { l.failedEvent(failed.failure, failed.code); });
        return;
    }
    post(s, [](NetLink &l) { l.connectedEvent(); });
    std::vector<uint8_t> buffer(4096);
    const auto end = [&](NetFailure failure, int code) {
        post(s, [failure, code](NetLink &l) { l.failedEvent(failure, code); });
    };
    for (;;) {
        bool wantWrite;
        {
            std::lock_guard lock(c.queueMutex);
            wantWrite = !c.queue.empty();
        }
        const SocketEvent event = waitForSocket(*s, wantWrite);
        if (c.stopping)
            return;
        if (event.stop)
            return end(NetFailure::Lost, event.error);
        if (event.writable) {
            std::lock_guard lock(c.queueMutex);
            while (!c.queue.empty()) {
                int error = 0;
                const long sent = sendSome(*s, c.queue.data(), c.queue.size(), error);
                if (sent == -1)
                    break;
                if (sent < 0)
                    return end(failureOfSocketError(error, false), error);
                c.queue.erase(c.queue.begin(), c.queue.begin() + sent);
            }
        }
        if (event.readable) {
            int error = 0;
            long got;
            uint64_t generation;
            {
                std::lock_guard lock(c.readMutex);
                got = receiveSome(*s, buffer.data(), buffer.size(), error);
                generation = c.generation;
            }
            if (got == 0)
                return end(NetFailure::PeerClosed, 0);
            if (got == -2)
                return end(failureOfSocketError(error, false), error);
            if (got > 0) {
                std::vector<uint8_t> chunk(buffer.begin(), buffer.begin() + got);
                post(s, [chunk = std::move(chunk), generation](NetLink &l) mutable {
                    l.receivedEvent(std::move(chunk), generation);
                });
            }
        }
    }
}

void NetLink::connectedEvent()
{
    connected_ = true;
    if (onOpen)
        onOpen();
}

void NetLink::receivedEvent(std::vector<uint8_t> bytes, uint64_t generation)
{
    if (gone_ || !session_)
        return;
    if (gateway_.mode == GatewayMode::RtuOverTcp) {
        // Read before the last discard: not for the request now outstanding.
        if (generation != sharedPart(*session_).generation)
            return;
        sinceRequest_ += bytes.size();
        if (onReceived)
            onReceived(bytes);
        return;
    }
    for (modbus::MbapReader::Item &item : reader_.feed(bytes)) {
        if (item.kind == modbus::MbapReader::Item::Garbage) {
            traffic(LinkTraffic::Dropped, item.wire,
                    "не кадр Modbus TCP (протокол или длина в заголовке неверны), "
                    "принятое отброшено");
            continue;
        }
        const std::string header = "MBAP: транзакция " + std::to_string(item.transaction) +
                                   ", длина " + std::to_string(item.rtu.size() - 2) +
                                   ", устройство " + std::to_string(item.rtu[0]);
        // An answer to any copy of the request outstanding is an answer to it, also after the
        // first: on a serial line too the engine sees the answers to its extra copies come late.
        if (std::find(outstanding_.begin(), outstanding_.end(), item.transaction) ==
            outstanding_.end()) {
            traffic(LinkTraffic::Dropped, item.wire,
                    header + ": ответ не на последний запрос (транзакция " +
                        std::to_string(transaction_) + "), отброшен");
            continue;
        }
        // A converting gateway answers for a unit that said nothing with exception 10 or 11: to
        // the exchange that is silence, as it would be on the serial line, never a refusal.
        if (item.rtu.size() == modbus::ExceptionReplyBytes &&
            (item.rtu[1] & modbus::ExceptionBit) &&
            (item.rtu[2] == uint8_t(modbus::ExceptionCode::GatewayPathUnavailable) ||
             item.rtu[2] == uint8_t(modbus::ExceptionCode::GatewayTargetFailed))) {
            traffic(LinkTraffic::Dropped, item.wire,
                    header + ": шлюз сообщает, что блок не ответил (исключение " +
                        std::to_string(item.rtu[2]) + "), это не ответ блока");
            continue;
        }
        awaiting_ = false;
        traffic(LinkTraffic::Received, item.wire, header);
        if (onReceived)
            onReceived(item.rtu);
        if (!session_)
            return; // closed by the handler
    }
}

void NetLink::failedEvent(NetFailure failure, int code)
{
    if (gone_)
        return;
    const std::string message = failureText(failure, code);
    gone_ = true;
    connected_ = false;
    if (onFault)
        onFault({message, true, 0});
}

std::string NetLink::failureText(NetFailure failure, int code) const
{
    const std::string gw = "шлюз " + name();
    // On a bare RTU stream the link cannot tell where a reply ends; bytes that came since the
    // request first went, with no other request after them, are a reply still arriving.
    const bool midReply = gateway_.mode == GatewayMode::ModbusTcp ? reader_.pending() > 0
                                                                  : awaiting_ && sinceRequest_ > 0;
    switch (failure) {
    case NetFailure::None:
        break;
    case NetFailure::Resolve:
        return "шлюз «" + gateway_.host + "» не найден: " + resolveErrorText(code);
    case NetFailure::Refused:
        return gw + " отказал в соединении: на этом порту никто не ждёт";
    case NetFailure::TimedOut:
        return gw + " не ответил на соединение за " + std::to_string(connectTimeoutMs) +
               " мс: нет связи или узел выключен";
    case NetFailure::Unreachable:
        return gw + " недоступен: " + socketErrorText(code);
    case NetFailure::Connect:
        return "нет соединения со шлюзом " + name() + ": " + socketErrorText(code);
    case NetFailure::PeerClosed:
        if (midReply)
            return gw + " закрыл соединение посреди ответа";
        return gw + (awaiting_ ? " закрыл соединение, не ответив на запрос"
                               : " закрыл соединение");
    case NetFailure::Lost:
        return "связь со шлюзом " + name() + " пропала" +
               (awaiting_ ? " во время обмена" : "") + ": " + socketErrorText(code);
    }
    return "нет соединения со шлюзом " + name();
}

bool NetLink::send(std::span<const uint8_t> frame)
{
    if (!session_ || !connected_ || gone_)
        return false;
    std::vector<uint8_t> wire;
    if (gateway_.mode == GatewayMode::ModbusTcp) {
        const uint16_t transaction = static_cast<uint16_t>(transaction_ + 1);
        wire = modbus::mbapFromRtu(frame, transaction);
        if (wire.empty())
            return false;
        transaction_ = transaction;
    } else {
        wire.assign(frame.begin(), frame.end());
    }
    NetShared &c = sharedPart(*session_);
    {
        std::lock_guard lock(c.queueMutex);
        if (c.queue.size() + wire.size() > sendQueueBytes)
            return false;
        c.queue.insert(c.queue.end(), wire.begin(), wire.end());
    }
    wakeNetThread(*session_);
    // Sent again before any answer came: a copy. Once answered, the same bytes ask anew.
    const bool again = awaiting_ && std::equal(frame.begin(), frame.end(), request_.begin(),
                                               request_.end());
    if (!again) {
        request_.assign(frame.begin(), frame.end());
        sinceRequest_ = 0;
        outstanding_.clear();
    }
    if (gateway_.mode == GatewayMode::ModbusTcp)
        outstanding_.push_back(transaction_);
    awaiting_ = true;
    if (gateway_.mode == GatewayMode::ModbusTcp)
        traffic(LinkTraffic::Sent, wire,
                "MBAP: транзакция " + std::to_string(transaction_) + ", протокол 0, длина " +
                    std::to_string(wire.size() - (modbus::MbapHeaderBytes - 1)) +
                    ", устройство " + std::to_string(frame[0]) + ", без CRC");
    return true;
}

void NetLink::discardInput()
{
    if (!session_ || gateway_.mode == GatewayMode::ModbusTcp)
        return;
    NetShared &c = sharedPart(*session_);
    std::lock_guard lock(c.readMutex);
    ++c.generation;
}

void NetLink::traffic(LinkTraffic::Kind kind, std::span<const uint8_t> bytes, std::string meaning)
{
    if (onTraffic)
        onTraffic({kind, bytes, std::move(meaning)});
}

} // namespace qvoksb
