#pragma once
// A unit behind a serial-to-Ethernet gateway, reached over TCP in one of the two modes gateways
// offer:
//  - RTU over TCP (the gateway as a transparent "TCP server"): the RTU frames travel unchanged
//    in the stream, as on the serial line, CRC and all;
//  - Modbus TCP (the gateway converts): each request goes behind an MBAP header whose unit id is
//    the unit's address and whose transaction id counts up; the link hands the engine the RTU
//    frame each reply stands for, and drops a reply to any transaction but the outstanding
//    request's (a late answer to a request the engine has moved on from). A request the engine
//    sends again unchanged before it was answered is the same question: the transactions of all
//    its copies stay outstanding until another request goes, since a converting gateway queues
//    the copies and answers each in turn, as a slow unit on a serial line would. The gateway's
//    own exceptions 10 and 11 (no path, the unit did not answer) are dropped too: the engine
//    meets a silent unit as on the serial line, not a refusal.
//
// Threads: open() starts one network thread, which resolves the name, connects (non-blocking,
// within connectTimeoutMs), then sends what is queued and reads what arrives. Its events reach
// the GUI thread through the GuiHandOff as queued tasks, in order; everything else, the Modbus
// TCP translation included, happens on the GUI thread. A closed link's tasks still queued do
// nothing.
#include "core/link/link.h"
#include "core/link/serial_port.h" // GuiHandOff
#include "core/modbus/modbus_tcp.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace qvoksb
{

enum class GatewayMode { RtuOverTcp, ModbusTcp };

struct Gateway {
    std::string host; // a name, an IPv4 address or an IPv6 address (without brackets)
    int port = modbus::ModbusTcpPort;
    GatewayMode mode = GatewayMode::RtuOverTcp;
    bool operator==(const Gateway &) const = default;
};

// The URL schemes: "tcp://HOST:PORT" for RTU over TCP, "modbus-tcp://HOST[:PORT]" for Modbus TCP
// (port 502 unless given). An IPv6 address goes in brackets: "tcp://[fe80::1]:4001".
inline constexpr std::string_view RtuOverTcpScheme = "tcp://";
inline constexpr std::string_view ModbusTcpScheme = "modbus-tcp://";
bool looksLikeGatewayUrl(std::string_view text);
// The gateway a URL names; empty with the reason (Russian) when it names none.
std::optional<Gateway> parseGatewayUrl(std::string_view url, std::string *problem = nullptr);
std::string gatewayUrl(const Gateway &gateway);
// "host:port", "[v6]:port": how the user and the journal know the gateway.
std::string gatewayName(const Gateway &gateway);
// What is wrong with host and port before anything is tried (Russian); empty when nothing.
std::string gatewayProblem(const Gateway &gateway);
// The mode in words, for menus and logs.
std::string_view gatewayModeName(GatewayMode mode);

// Why a connection could not be made or did not last.
enum class NetFailure {
    None,
    Resolve,     // the name was not found
    Refused,     // nobody listens on that port
    TimedOut,    // no answer to the connection within the time-out
    Unreachable, // no route to the host or its network
    Connect,     // any other reason the connection failed
    PeerClosed,  // the gateway closed the connection
    Lost,        // the connection broke (reset, timed out, the network down)
};

class NetLink : public Link
{
public:
    static constexpr int defaultConnectTimeoutMs = 3000;
    static constexpr size_t sendQueueBytes = 8192;

    NetLink(Gateway gateway, GuiHandOff *gui);
    ~NetLink() override; // closes
    NetLink(const NetLink &) = delete;
    NetLink &operator=(const NetLink &) = delete;

    int connectTimeoutMs = defaultConnectTimeoutMs;

    // Throws LinkError for a gateway that is no address (gatewayProblem) or a link already open;
    // everything after that (the name not found, refused, no answer) comes as onFault, lost.
    void open() override;
    void close() override;
    bool active() const override { return session_ != nullptr; }
    // Queues the frame (wrapped in MBAP for Modbus TCP) behind what has not gone yet: a frame cut
    // off halfway would leave the stream out of step. False before the connection stands, after
    // it was lost, when the frame cannot be carried or the queue is full.
    bool send(std::span<const uint8_t> frame) override;
    // RTU over TCP: drops the bytes read and not yet handed over. Modbus TCP: nothing to do, the
    // stream stays in step and the transaction id tells a stale reply.
    void discardInput() override;
    std::string name() const override { return gatewayName(gateway_); }

    const Gateway &gateway() const { return gateway_; }
    bool connected() const { return connected_; }
    uint16_t lastTransaction() const { return transaction_; }

    struct Session; // the socket and the network thread's shared state, per platform

private:
    void run(std::shared_ptr<Session> s);
    void post(const std::shared_ptr<Session> &s, std::function<void(NetLink &)> task);
    void connectedEvent();
    void receivedEvent(std::vector<uint8_t> bytes, uint64_t generation);
    void failedEvent(NetFailure failure, int code);
    std::string failureText(NetFailure failure, int code) const;
    void traffic(LinkTraffic::Kind kind, std::span<const uint8_t> bytes, std::string meaning);

    Gateway gateway_;
    GuiHandOff *gui_;
    std::shared_ptr<Session> session_;
    std::thread thread_;
    // GUI thread only.
    bool connected_ = false;
    bool gone_ = false;
    bool awaiting_ = false;     // a request went and no whole reply to it came yet
    std::vector<uint8_t> request_; // the request outstanding, as the engine sent it
    size_t sinceRequest_ = 0;   // bytes received since it first went
    uint16_t transaction_ = 0;  // Modbus TCP: the last transaction id used
    std::vector<uint16_t> outstanding_; // ... and those of the copies of the request
    modbus::MbapReader reader_; // Modbus TCP replies
};

} // namespace qvoksb
