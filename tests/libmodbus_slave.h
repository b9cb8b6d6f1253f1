#pragma once
// libmodbus as the unit in tests: an independent Modbus RTU slave on the far side of a
// pseudo-terminal pair, never our own code checking itself.
#include <modbus.h>

#include <cstdint>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>
#include <vector>

// libmodbus as the unit: an RTU slave on the far side of a pseudo-terminal pair. Its input
// registers are its holding registers, so what function 16 writes, function 4 reads back. The
// test writes a request into the terminal, lets libmodbus parse and answer it in the same thread,
// and takes whatever libmodbus sent back.
class LibmodbusSlave
{
public:
    static constexpr int Registers = 1024; // 0..1023 hold every register of the unit

    explicit LibmodbusSlave(int unit)
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            return;
        char name[128];
        if (::ptsname_r(master_, name, sizeof name) != 0)
            return;
        ctx_ = modbus_new_rtu(name, 9600, 'N', 8, 1);
        if (!ctx_ || modbus_set_slave(ctx_, unit) != 0 || modbus_connect(ctx_) != 0)
            return;
        modbus_set_indication_timeout(ctx_, 2, 0);
        mapping_ = modbus_mapping_new_start_address(0, 0, 0, 0, 0, Registers, 0, Registers);
        if (!mapping_)
            return;
        ownInput_ = mapping_->tab_input_registers;
        mapping_->tab_input_registers = mapping_->tab_registers;
        ok_ = true;
    }
    ~LibmodbusSlave()
    {
        if (mapping_) {
            mapping_->tab_input_registers = ownInput_;
            modbus_mapping_free(mapping_);
        }
        if (ctx_) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
        if (master_ >= 0)
            ::close(master_);
    }
    bool ok() const { return ok_; }
    uint16_t &reg(int address) { return mapping_->tab_registers[address]; }

    // Sends request; returns the slave's answer (empty when it stayed silent). rejected tells
    // whether libmodbus refused the frame itself (a bad CRC, say).
    std::vector<uint8_t> transact(const std::vector<uint8_t> &request, bool *rejected = nullptr)
    {
        if (::write(master_, request.data(), request.size()) != ssize_t(request.size()))
            return {};
        uint8_t frame[MODBUS_RTU_MAX_ADU_LENGTH];
        const int length = modbus_receive(ctx_, frame);
        if (rejected)
            *rejected = length <= 0;
        if (length > 0)
            modbus_reply(ctx_, frame, length, mapping_);
        else
            modbus_flush(ctx_);
        return drain();
    }
    // Sends an exception reply to request, as a unit refusing it would.
    std::vector<uint8_t> refuse(const std::vector<uint8_t> &request, unsigned code)
    {
        if (::write(master_, request.data(), request.size()) != ssize_t(request.size()))
            return {};
        uint8_t frame[MODBUS_RTU_MAX_ADU_LENGTH];
        if (modbus_receive(ctx_, frame) > 0)
            modbus_reply_exception(ctx_, frame, code);
        return drain();
    }

private:
    std::vector<uint8_t> drain()
    {
        std::vector<uint8_t> out;
        pollfd fd{master_, POLLIN, 0};
        // libmodbus has written the whole reply before it returns; the terminal passes it on
        // shortly after.
        for (int waitMs = 1000; ::poll(&fd, 1, waitMs) > 0 && (fd.revents & POLLIN); waitMs = 5) {
            uint8_t chunk[512];
            const ssize_t got = ::read(master_, chunk, sizeof chunk);
            if (got <= 0)
                break;
            out.insert(out.end(), chunk, chunk + got);
        }
        return out;
    }

    int master_ = -1;
    modbus_t *ctx_ = nullptr;
    modbus_mapping_t *mapping_ = nullptr;
    uint16_t *ownInput_ = nullptr;
    bool ok_ = false;
};

// libmodbus's own Modbus TCP server on 127.0.0.1, on a port the system picks: the peer that
// checks a master's MBAP framing. It serves one connection on its thread until the master
// closes it; requests libmodbus could not take count in rejected().
#include <arpa/inet.h>
#include <atomic>
#include <sys/socket.h>
#include <thread>

class LibmodbusTcpServer
{
public:
    explicit LibmodbusTcpServer()
    {
        ctx_ = modbus_new_tcp("127.0.0.1", 0);
        if (!ctx_)
            return;
        listener_ = modbus_tcp_listen(ctx_, 1);
        sockaddr_in a{};
        socklen_t length = sizeof a;
        if (listener_ < 0 || ::getsockname(listener_, reinterpret_cast<sockaddr *>(&a), &length) != 0)
            return;
        port_ = ntohs(a.sin_port);
        mapping_ = modbus_mapping_new_start_address(0, 0, 0, 0, 0, LibmodbusSlave::Registers, 0,
                                                    LibmodbusSlave::Registers);
        if (!mapping_)
            return;
        ownInput_ = mapping_->tab_input_registers;
        mapping_->tab_input_registers = mapping_->tab_registers;
        thread_ = std::thread([this] { serve(); });
    }
    ~LibmodbusTcpServer()
    {
        if (listener_ >= 0)
            ::shutdown(listener_, SHUT_RDWR);
        if (thread_.joinable())
            thread_.join();
        if (mapping_) {
            mapping_->tab_input_registers = ownInput_;
            modbus_mapping_free(mapping_);
        }
        if (listener_ >= 0)
            ::close(listener_);
        if (ctx_) {
            modbus_close(ctx_);
            modbus_free(ctx_);
        }
    }
    int port() const { return port_; }
    // Set before the master connects; the thread owns the registers afterwards.
    uint16_t &reg(int address) { return mapping_->tab_registers[address]; }
    int served() const { return served_; }
    int rejected() const { return rejected_; }
    // The unit ids of the requests served, in order.
    std::vector<int> unitIds() const { return unitIds_; }
    void join()
    {
        if (thread_.joinable())
            thread_.join();
    }

private:
    void serve()
    {
        if (modbus_tcp_accept(ctx_, &listener_) < 0)
            return;
        modbus_set_indication_timeout(ctx_, 5, 0);
        uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
        for (;;) {
            const int length = modbus_receive(ctx_, query);
            if (length == 0)
                continue; // for another unit id than libmodbus's own: ignored
            if (length < 0) {
                if (errno == EMBBADDATA || errno == EMBBADCRC)
                    ++rejected_;
                else
                    break; // the master closed the connection
                continue;
            }
            unitIds_.push_back(query[6]);
            modbus_reply(ctx_, query, length, mapping_);
            ++served_;
        }
    }

    modbus_t *ctx_ = nullptr;
    int listener_ = -1;
    int port_ = 0;
    modbus_mapping_t *mapping_ = nullptr;
    uint16_t *ownInput_ = nullptr;
    std::thread thread_;
    std::atomic<int> served_{0};
    std::atomic<int> rejected_{0};
    std::vector<int> unitIds_;
};
