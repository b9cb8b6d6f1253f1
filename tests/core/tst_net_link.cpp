// The network link to a unit behind a gateway: gateway addresses, the Modbus TCP header, and the
// link itself against a listener written in the test (RTU over TCP, faults) and against
// libmodbus's own Modbus TCP server, which checks our MBAP framing.
#include "core/link/net_link.h"
#include "core/modbus/modbus_rtu.h"
#include "core/modbus/modbus_tcp.h"

#include "../frame_bytes.h"
#include "queued_hand_off.h"
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include "../loopback_listener.h"
#endif
#ifdef QVOKSB_HAVE_SIM
#include "../libmodbus_slave.h"
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using namespace qvoksb;

namespace
{

// A read of registers 257..259 from unit 1 and the unit's answer, with their CRCs.
const Bytes readRequest = withCrc(hex("01 04 01 01 00 03 00 00"));
const Bytes readReply = withCrc(hex("01 04 06 00 32 00 01 00 02 00 00"));

} // namespace

// --- gateway addresses ------------------------------------------------------------------------

TEST(GatewayUrl, NamesHostPortAndMode)
{
    struct Row {
        const char *url;
        const char *host;
        int port;
        GatewayMode mode;
        const char *name;
    } rows[] = {
        {"tcp://127.0.0.1:4001", "127.0.0.1", 4001, GatewayMode::RtuOverTcp, "127.0.0.1:4001"},
        {"modbus-tcp://gw.local", "gw.local", 502, GatewayMode::ModbusTcp, "gw.local:502"},
        {"MODBUS-TCP://gw:1502/", "gw", 1502, GatewayMode::ModbusTcp, "gw:1502"},
        {"tcp://[::1]:4001", "::1", 4001, GatewayMode::RtuOverTcp, "[::1]:4001"},
        {"modbus-tcp://[fe80::1]", "fe80::1", 502, GatewayMode::ModbusTcp, "[fe80::1]:502"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.url);
        std::string problem;
        const auto g = parseGatewayUrl(r.url, &problem);
        ASSERT_TRUE(g) << problem;
        EXPECT_EQ(g->host, r.host);
        EXPECT_EQ(g->port, r.port);
        EXPECT_EQ(g->mode, r.mode);
        EXPECT_EQ(gatewayName(*g), r.name);
        EXPECT_EQ(parseGatewayUrl(gatewayUrl(*g)), g);
    }
}

TEST(GatewayUrl, BadAddressesAreRefusedWithTheirReason)
{
    struct Row {
        const char *url;
        const char *says;
    } rows[] = {
        {"tcp://gw", "порт обязателен"},
        {"tcp://:4001", "не указан адрес шлюза"},
        {"modbus-tcp://", "не указан адрес шлюза"},
        {"tcp://gw:0", "вне пределов 1..65535"},
        {"tcp://gw:65536", "вне пределов 1..65535"},
        {"tcp://gw:99999999999999", "вне пределов 1..65535"},
        {"tcp://gw:-1", "число от 1 до 65535"},
        {"tcp://gw:40a", "число от 1 до 65535"},
        {"tcp://gw:", "не указан порт"},
        {"tcp://::1:502", "в квадратных скобках"},
        {"tcp://[::1:502", "закрывающей скобки"},
        {"tcp://user@gw:502", "недопустимый знак"},
        {"tcp://g w:502", "недопустимый знак"},
        {"udp://gw:502", "ожидается tcp://"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.url);
        EXPECT_TRUE(looksLikeGatewayUrl(r.url));
        std::string problem;
        EXPECT_FALSE(parseGatewayUrl(r.url, &problem));
        EXPECT_NE(problem.find(r.says), std::string::npos) << problem;
    }
    EXPECT_FALSE(looksLikeGatewayUrl("COM3"));
    EXPECT_FALSE(looksLikeGatewayUrl("/dev/ttyUSB0"));
}

// --- the Modbus TCP header --------------------------------------------------------------------

TEST(Mbap, RequestCarriesTransactionProtocolLengthAndUnitWithoutCrc)
{
    // Transaction 0x1234, protocol 0, six bytes follow: the unit id and the five of the PDU.
    EXPECT_EQ(modbus::mbapFromRtu(readRequest, 0x1234), hex("12 34 00 00 00 06 01 04 01 01 00 03"));
    EXPECT_TRUE(modbus::mbapFromRtu(hex("01 04 00"), 1).empty());
    EXPECT_TRUE(modbus::mbapFromRtu(Bytes(258, 1), 1).empty()); // a PDU over 253 bytes
}

TEST(Mbap, ReaderCutsTheStreamHoweverItArrives)
{
    const Bytes first = hex("00 07 00 00 00 09 01 04 06 00 32 00 01 00 02");
    const Bytes refusal = hex("00 08 00 00 00 03 01 84 02");
    Bytes stream = first;
    stream.insert(stream.end(), refusal.begin(), refusal.end());
    // Whole, byte by byte, and in two pieces cut inside the second header.
    for (size_t piece : {stream.size(), size_t(1), first.size() + 3}) {
        SCOPED_TRACE(piece);
        modbus::MbapReader reader;
        std::vector<modbus::MbapReader::Item> items;
        for (size_t at = 0; at < stream.size(); at += piece) {
            const size_t n = std::min(piece, stream.size() - at);
            for (auto &item : reader.feed(std::span(stream).subspan(at, n)))
                items.push_back(std::move(item));
        }
        ASSERT_EQ(items.size(), 2u);
        EXPECT_EQ(items[0].transaction, 7);
        EXPECT_EQ(items[0].rtu, readReply);
        EXPECT_EQ(items[0].wire, first);
        EXPECT_EQ(items[1].transaction, 8);
        EXPECT_EQ(items[1].rtu, withCrc(hex("01 84 02 00 00")));
        EXPECT_EQ(reader.pending(), 0u);
    }
}

TEST(Mbap, AHeaderNoPeerSendsIsGarbageAndNothingIsReadPastIt)
{
    for (const char *bad : {"00 01 00 01 00 03 01 84 02",  // protocol 1
                            "00 01 00 00 00 01 01",        // length too short for a function
                            "00 01 00 00 01 00 01 04"}) {  // 256 bytes announced
        SCOPED_TRACE(bad);
        modbus::MbapReader reader;
        const auto items = reader.feed(hex(bad));
        ASSERT_EQ(items.size(), 1u);
        EXPECT_EQ(items[0].kind, modbus::MbapReader::Item::Garbage);
        EXPECT_EQ(items[0].wire, hex(bad));
        EXPECT_EQ(reader.pending(), 0u);
    }
    modbus::MbapReader reader;
    EXPECT_TRUE(reader.feed(hex("00 01 00 00 00 06 01")).empty());
    EXPECT_EQ(reader.pending(), 7u);
}

// --- the link ---------------------------------------------------------------------------------


namespace
{

using serial_test::QueuedHandOff;

// A link on the test's own GUI queue, recording what it hands over.
struct Client {
    QueuedHandOff gui;
    NetLink link;
    bool opened = false;
    Bytes received;
    std::vector<LinkFault> faults;
    std::vector<LinkTraffic::Kind> traffic;
    std::vector<std::string> meanings;

    Client(int port, GatewayMode mode, const char *host = "127.0.0.1")
        : link(Gateway{host, port, mode}, &gui)
    {
        link.onOpen = [this] { opened = true; };
        link.onReceived = [this](std::span<const uint8_t> b) {
            received.insert(received.end(), b.begin(), b.end());
        };
        link.onFault = [this](const LinkFault &f) { faults.push_back(f); };
        link.onTraffic = [this](const LinkTraffic &t) {
            traffic.push_back(t.kind);
            meanings.push_back(t.meaning);
        };
    }
    bool openAndWait()
    {
        link.open();
        return gui.runUntil([&] { return opened || !faults.empty(); }) && opened;
    }
    std::string fault(int timeoutMs = 5000)
    {
        gui.runUntil([&] { return !faults.empty(); }, timeoutMs);
        return faults.empty() ? std::string("(none)") : faults.front().message;
    }
};

bool contains(const std::string &text, const char *part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

#ifndef _WIN32

TEST(NetLinkRtu, FramesTravelUnchangedBothWaysAndDiscardDropsWhatCameBefore)
{
    LoopbackListener gateway;
    Client c(gateway.port(), GatewayMode::RtuOverTcp);
    EXPECT_FALSE(c.link.send(readRequest)); // not connected yet
    ASSERT_TRUE(c.openAndWait());
    ASSERT_TRUE(gateway.accept());
    EXPECT_EQ(c.link.name(), "127.0.0.1:" + std::to_string(gateway.port()));

    ASSERT_TRUE(c.link.send(readRequest));
    EXPECT_EQ(gateway.read(readRequest.size()), readRequest);
    // The reply in two pieces, as a gateway passes on what the line gave it.
    gateway.write(Bytes(readReply.begin(), readReply.begin() + 4));
    ASSERT_TRUE(c.gui.runUntil([&] { return c.received.size() == 4; }));
    gateway.write(Bytes(readReply.begin() + 4, readReply.end()));
    ASSERT_TRUE(c.gui.runUntil([&] { return c.received.size() == readReply.size(); }));
    EXPECT_EQ(c.received, readReply);
    EXPECT_TRUE(c.traffic.empty()); // RTU frames need no words of the link's own

    // Read by the network thread, not yet handed over: a discard drops it.
    c.received.clear();
    gateway.write(hex("01 04 06"));
    ASSERT_TRUE(c.gui.waitForQueued());
    c.link.discardInput();
    c.gui.runFor(100);
    EXPECT_TRUE(c.received.empty());
    gateway.write(hex("AA"));
    ASSERT_TRUE(c.gui.runUntil([&] { return !c.received.empty(); }));
    EXPECT_EQ(c.received, hex("AA"));
    EXPECT_TRUE(c.faults.empty());
}

TEST(NetLinkFaults, BadAddressesThrowAndNothingIsTried)
{
    LoopbackListener gateway;
    for (const Gateway &g : {Gateway{"", gateway.port()}, Gateway{"127.0.0.1", 0},
                             Gateway{"127.0.0.1", 70000}}) {
        QueuedHandOff gui;
        NetLink link(g, &gui);
        EXPECT_THROW(link.open(), LinkError);
        EXPECT_FALSE(link.active());
    }
    EXPECT_FALSE(gateway.connectionPending(100));
}

TEST(NetLinkFaults, ConnectionFailuresAreToldApartInWords)
{
    // Refused: NetLinkToSimulatedUnit.NobodyListeningIsARefusal, on every platform.
    {
        // A name that cannot exist: the reserved top-level domain .invalid.
        Client c(502, GatewayMode::ModbusTcp, "ksb7-gateway.invalid");
        EXPECT_FALSE(c.openAndWait());
        EXPECT_TRUE(contains(c.fault(20000), "«ksb7-gateway.invalid» не найден")) << c.fault();
    }
    {
        // A listener whose queue of connections is full drops the next one unanswered, as an
        // unreachable host does.
        LoopbackListener full(0);
        full.fillQueue();
        Client c(full.port(), GatewayMode::RtuOverTcp);
        c.link.connectTimeoutMs = 400;
        const auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(c.openAndWait());
        const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - started)
                                .count();
        EXPECT_TRUE(contains(c.fault(), "не ответил на соединение за 400 мс")) << c.fault();
        EXPECT_GE(tookMs, 350);
    }
}

TEST(NetLinkFaults, PeerClosingIsToldByWhereTheExchangeStood)
{
    struct Row {
        GatewayMode mode;
        Bytes before; // what the gateway sends of its reply before closing
        const char *says;
    } rows[] = {
        {GatewayMode::RtuOverTcp, Bytes(readReply.begin(), readReply.begin() + 5),
         "закрыл соединение посреди ответа"},
        {GatewayMode::RtuOverTcp, {}, "закрыл соединение, не ответив на запрос"},
        {GatewayMode::ModbusTcp, hex("00 01 00 00 00 09 01 04 06 00"),
         "закрыл соединение посреди ответа"},
        {GatewayMode::ModbusTcp, {}, "закрыл соединение, не ответив на запрос"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.says);
        LoopbackListener gateway;
        Client c(gateway.port(), r.mode);
        ASSERT_TRUE(c.openAndWait());
        ASSERT_TRUE(gateway.accept());
        ASSERT_TRUE(c.link.send(readRequest));
        // All of the request read: a socket closed with bytes unread is reset, not closed.
        const size_t requestBytes = r.mode == GatewayMode::ModbusTcp ? 12 : readRequest.size();
        ASSERT_EQ(gateway.read(requestBytes).size(), requestBytes);
        if (!r.before.empty())
            gateway.write(r.before);
        gateway.dropClient();
        EXPECT_TRUE(contains(c.fault(), r.says)) << c.fault();
        EXPECT_TRUE(c.faults.front().lost);
        EXPECT_FALSE(c.link.send(readRequest));
        EXPECT_TRUE(c.link.active()); // until the owner closes it
        c.link.close();
        EXPECT_FALSE(c.link.active());
    }
}

TEST(NetLinkModbusTcp, OnlyAnAnswerToTheOutstandingRequestReachesTheEngine)
{
    LoopbackListener gateway;
    Client c(gateway.port(), GatewayMode::ModbusTcp);
    ASSERT_TRUE(c.openAndWait());
    ASSERT_TRUE(gateway.accept());
    // Transaction 1 asks for one block; 2 and 3 are two copies of another request.
    const Bytes other = withCrc(hex("01 04 01 0B 00 01 00 00"));
    for (uint16_t transaction = 1; transaction <= 3; ++transaction) {
        const Bytes &frame = transaction == 1 ? other : readRequest;
        ASSERT_TRUE(c.link.send(frame));
        Bytes expected = {0, uint8_t(transaction), 0, 0, 0, 6};
        expected.insert(expected.end(), frame.begin(), frame.end() - 2);
        EXPECT_EQ(gateway.read(12), expected);
    }
    // A late answer to transaction 1, then the answer to the first copy in two pieces.
    gateway.write(hex("00 01 00 00 00 05 01 04 02 00 11"));
    gateway.write(hex("00 02 00 00 00 09 01 04"));
    ASSERT_TRUE(c.gui.runUntil([&] { return c.traffic.size() == 4; }));
    EXPECT_TRUE(c.received.empty());
    gateway.write(hex("06 00 32 00 01 00 02"));
    ASSERT_TRUE(c.gui.runUntil([&] { return !c.received.empty(); }));
    EXPECT_EQ(c.received, readReply);
    ASSERT_EQ(c.traffic.size(), 5u);
    EXPECT_EQ(c.traffic[3], LinkTraffic::Dropped);
    EXPECT_TRUE(contains(c.meanings[3], "транзакция 1")) << c.meanings[3];
    EXPECT_EQ(c.traffic[4], LinkTraffic::Received);
    // The gateway's word that the unit did not answer is no answer of the unit.
    c.received.clear();
    gateway.write(hex("00 02 00 00 00 03 01 84 0B"));
    ASSERT_TRUE(c.gui.runUntil([&] { return c.traffic.size() == 6; }));
    EXPECT_EQ(c.traffic[5], LinkTraffic::Dropped);
    EXPECT_TRUE(contains(c.meanings[5], "блок не ответил")) << c.meanings[5];
    EXPECT_TRUE(c.received.empty());
    // The second copy's answer, late, still answers that request, as on a serial line; once
    // another request went, neither copy's answer counts any more.
    c.received.clear();
    gateway.write(hex("00 03 00 00 00 09 01 04 06 00 32 00 01 00 02"));
    ASSERT_TRUE(c.gui.runUntil([&] { return !c.received.empty(); }));
    EXPECT_EQ(c.received, readReply);
    ASSERT_TRUE(c.link.send(other));
    EXPECT_EQ(gateway.read(12).size(), 12u);
    c.received.clear();
    gateway.write(hex("00 03 00 00 00 09 01 04 06 00 32 00 01 00 02"));
    ASSERT_TRUE(c.gui.runUntil([&] { return c.traffic.back() == LinkTraffic::Dropped; }));
    EXPECT_TRUE(c.received.empty());
}

#ifdef QVOKSB_HAVE_SIM
TEST(NetLinkModbusTcp, LibmodbusServerTakesOurRequestsAndItsRepliesBecomeRtuFrames)
{
    LibmodbusTcpServer server;
    ASSERT_GT(server.port(), 0);
    server.reg(257) = 50;
    server.reg(258) = 1;
    server.reg(259) = 2;
    Client c(server.port(), GatewayMode::ModbusTcp);
    ASSERT_TRUE(c.openAndWait());

    // Function 16 to unit 7, then a read back of what it wrote.
    Bytes write(256);
    const std::vector<uint16_t> values = {300, 400};
    write.resize(modbus::buildWriteMultiple(write, 7, 384, values));
    ASSERT_TRUE(c.link.send(write));
    ASSERT_TRUE(c.gui.runUntil([&] { return c.received.size() == 8; }));
    EXPECT_EQ(c.received, withCrc(hex("07 10 01 80 00 02 00 00")));

    Bytes read(8);
    modbus::buildRequest(read, 7, modbus::FunctionReadInputRegisters, 257, 3);
    c.received.clear();
    ASSERT_TRUE(c.link.send(read));
    ASSERT_TRUE(c.gui.runUntil([&] { return c.received.size() == 11; }));
    EXPECT_EQ(c.received, withCrc(hex("07 04 06 00 32 00 01 00 02 00 00")));
    modbus::buildRequest(read, 7, modbus::FunctionReadInputRegisters, 384, 2);
    c.received.clear();
    ASSERT_TRUE(c.link.send(read));
    ASSERT_TRUE(c.gui.runUntil([&] { return c.received.size() == 9; }));
    EXPECT_EQ(c.received, withCrc(hex("07 04 04 01 2C 01 90 00 00")));

    c.link.close();
    server.join();
    EXPECT_EQ(server.served(), 3);
    EXPECT_EQ(server.rejected(), 0);
    EXPECT_EQ(server.unitIds(), (std::vector<int>{7, 7, 7}));
}
#endif

#endif // _WIN32

// --- through ksb7-sim's gateways ----------------------------------------------------------------
// Under Wine, the Winsock half against the simulated unit of the build machine: tools/
// wine-tests.sh starts ksb7-sim with both gateways on that machine's loopback and names their
// ports in QVOKSB_TEST_GATEWAY_TCP and QVOKSB_TEST_GATEWAY_MODBUS_TCP. On POSIX the same ground is
// covered in-process above and by ksb7ctl's tests.

namespace
{

// A TCP port on 127.0.0.1 nobody listens on: one the system gave and took back.
int freePort()
{
#ifdef _WIN32
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    const SOCKET fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
#else
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
#endif
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length) == 0)
        port = ntohs(a.sin_port);
#ifdef _WIN32
    ::closesocket(fd);
    WSACleanup();
#else
    ::close(fd);
#endif
    return port;
}

} // namespace

TEST(NetLinkToSimulatedUnit, WritesAndReadsBackThroughBothKindsOfGateway)
{
    const char *tcp = std::getenv("QVOKSB_TEST_GATEWAY_TCP");
    const char *modbusTcp = std::getenv("QVOKSB_TEST_GATEWAY_MODBUS_TCP");
    if (!tcp || !*tcp || !modbusTcp || !*modbusTcp)
        GTEST_SKIP() << "runs under Wine against ksb7-sim's gateways (tools/wine-tests.sh)";
    uint16_t value = 100;
    for (const auto &[port, mode] : {std::pair{tcp, GatewayMode::RtuOverTcp},
                                     std::pair{modbusTcp, GatewayMode::ModbusTcp}}) {
        SCOPED_TRACE(port);
        Client c(std::atoi(port), mode);
        ASSERT_TRUE(c.openAndWait()) << c.fault();
        // Register 385 (a threshold, 4..300) takes a value and gives it back.
        value = uint16_t(value + 7);
        Bytes write(8);
        modbus::buildRequest(write, 1, modbus::FunctionWriteSingleRegister, 385, value);
        ASSERT_TRUE(c.link.send(write));
        ASSERT_TRUE(c.gui.runUntil([&] { return c.received.size() >= 8; }));
        EXPECT_EQ(c.received, write); // the echo
        Bytes read(8);
        modbus::buildRequest(read, 1, modbus::FunctionReadInputRegisters, 385, 1);
        c.received.clear();
        ASSERT_TRUE(c.link.send(read));
        ASSERT_TRUE(c.gui.runUntil([&] { return c.received.size() >= 7; }));
        Bytes expected = hex("01 04 02 00 00 00 00");
        expected[4] = uint8_t(value);
        EXPECT_EQ(c.received, withCrc(expected));
        EXPECT_TRUE(c.faults.empty());
    }
}

TEST(NetLinkToSimulatedUnit, AGatewayClosingMidReplyIsToldSo)
{
    const char *closing = std::getenv("QVOKSB_TEST_GATEWAY_CLOSING");
    if (!closing || !*closing)
        GTEST_SKIP() << "runs under Wine against ksb7-sim's gateways (tools/wine-tests.sh)";
    Client c(std::atoi(closing), GatewayMode::ModbusTcp);
    ASSERT_TRUE(c.openAndWait()) << c.fault();
    ASSERT_TRUE(c.link.send(readRequest));
    EXPECT_TRUE(contains(c.fault(), "закрыл соединение посреди ответа")) << c.fault();
    EXPECT_TRUE(c.received.empty());
}

TEST(NetLinkToSimulatedUnit, NobodyListeningIsARefusal)
{
    Client c(freePort(), GatewayMode::ModbusTcp);
    EXPECT_FALSE(c.openAndWait());
    EXPECT_TRUE(contains(c.fault(), "отказал в соединении")) << c.fault();
    EXPECT_TRUE(c.faults.front().lost);
    EXPECT_FALSE(c.link.send(readRequest));
}
