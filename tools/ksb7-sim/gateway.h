#pragma once
// A serial-to-Ethernet gateway in front of a simulated unit's line, listening on the loopback
// address, as the ones that connect a substation's RS-485 line to its LAN:
//  - RTU over TCP (the transparent "TCP server" mode): bytes pass unchanged both ways;
//  - Modbus TCP (the converting mode): each MBAP request becomes an RTU frame for the unit whose
//    address is the unit id; the unit's reply goes back behind the request's header, without
//    its CRC. One request is on the line at a time; the others wait their turn, and a request
//    the line does not answer within lineTimeoutMs gets exception 11 (the target device failed
//    to respond).
// The gateway opens the unit's terminal as a client would, once per TCP connection, and serves
// one connection at a time. When the line goes away (the unit's port vanishing), the gateway
// passes on what it had of the reply and closes the connection.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace ksb7sim
{

class TcpGateway
{
public:
    enum class Mode { RtuOverTcp, ModbusTcp };
    static constexpr int lineTimeoutMs = 1500;

    // device: the terminal to open for each connection (it may change while the gateway runs).
    TcpGateway(Mode mode, std::function<std::string()> device);
    ~TcpGateway(); // stops
    TcpGateway(const TcpGateway &) = delete;
    TcpGateway &operator=(const TcpGateway &) = delete;

    // Listens on 127.0.0.1:port (0: a port the system picks) and starts serving.
    bool start(int port, std::string *error);
    void stop();
    int port() const { return port_; }
    std::string name() const; // "127.0.0.1:port"

    // Receives every line of the traffic print (without a line end); none by default.
    void setPrinter(std::function<void(const std::string &line)> printer);

private:
    void run();
    void serve(int client);
    void print(const std::string &line);

    Mode mode_;
    std::function<std::string()> device_;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    int port_ = 0;
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex printMutex_;
    std::function<void(const std::string &)> printer_;
};

} // namespace ksb7sim
