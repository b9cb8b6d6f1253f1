#pragma once
// A KSB-7 written by hand from the documents, for the engine's tests: it holds registers, takes
// writes, reads and commands, and refuses what it is told to. Its replies are built here, with
// the test's own CRC, never by the program's codec.
#include "../frame_bytes.h"

#include <map>
#include <set>
#include <vector>

// The unit: registers written by function 16 are read by function 4; function 6 to register
// 128 is a command; a request to a refused block gets the exception refusalCode.
struct HandUnit {
    uint8_t address = 1;
    std::map<int, uint16_t> regs;
    std::vector<Bytes> requests;
    std::vector<uint16_t> commands;
    std::set<int> refused; // blocks refused to every request
    uint8_t refusalCode = 3;
    bool refuseWritesOnly = false;
    int alterRegister = -1; // a write to it stores alterValue
    uint16_t alterValue = 0;

    static int word(const Bytes &f, size_t at) { return f[at] << 8 | f[at + 1]; }

    Bytes answer(const Bytes &req)
    {
        requests.push_back(req);
        if (req.size() < 8 || req[0] != address ||
            referenceCrc(req, req.size() - 2) != (req[req.size() - 2] | req.back() << 8))
            return {};
        const uint8_t function = req[1];
        const int first = word(req, 2);
        const int count = word(req, 4);
        if (refused.count(first) && (function == 16 || !refuseWritesOnly))
            return withCrc({address, uint8_t(function | 0x80), refusalCode, 0, 0});
        if (function == 16) {
            for (int k = 0; k < count; ++k)
                regs[first + k] = first + k == alterRegister
                                      ? alterValue
                                      : uint16_t(word(req, size_t(7 + 2 * k)));
            return withCrc({address, 16, req[2], req[3], req[4], req[5], 0, 0});
        }
        if (function == 6) {
            commands.push_back(uint16_t(count));
            return withCrc({address, 6, req[2], req[3], req[4], req[5], 0, 0});
        }
        Bytes reply{address, 4, uint8_t(2 * count)};
        for (int k = 0; k < count; ++k) {
            reply.push_back(uint8_t(regs[first + k] >> 8));
            reply.push_back(uint8_t(regs[first + k] & 0xFF));
        }
        reply.resize(reply.size() + 2);
        return withCrc(reply);
    }

    // The first registers of the requests received, one entry per run of copies.
    std::vector<int> steps() const
    {
        std::vector<int> out;
        for (const Bytes &r : requests)
            if (out.empty() || out.back() != word(r, 2))
                out.push_back(word(r, 2));
        return out;
    }
};

// A unit whose every configuration register holds a value of its own, in range for its
// setting, with blocks 4 and 5 (of equal length) telling each other apart.
inline HandUnit distinctUnit()
{
    HandUnit u;
    u.regs = {{257, 0x0641}, {258, 1995},   {259, 4005},   {267, 77},    {277, 0x0E}, {278, 5},
              {279, 0x03},   {280, 9},      {281, 0x05},   {282, 12},    {384, 0x07}, {385, 120},
              {386, 3},      {387, 250},    {388, 60},     {389, 0x01},  {390, 900},  {391, 7},
              {392, 0x02},   {393, 15},     {394, 30},     {395, 0x0B},  {396, 12},   {397, 5},
              {398, 31},     {399, 11},     {400, 0x09},   {401, 444},   {402, 8},    {403, 0x04},
              {404, 25},     {405, 35},     {262, 0x15},   {263, 3},     {264, 4},    {265, 5},
              {266, 6},      {269, 0x03},   {270, 2},      {271, 5},     {272, 1},    {517, 0x05},
              {518, 0x0A},   {529, 0x1409}, {530, 0x1967}, {531, 0x4995}};
    return u;
}
