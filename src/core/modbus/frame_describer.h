#pragma once
// Modbus RTU frames in words, for the exchange log and the simulated unit's traffic print, so
// that both read a frame the same way. Texts are Russian, UTF-8.
//
// A request reads "ф.16 запись 257–259 (3 рег.): 257=1600 258=100 259=100"; its reply
// "ф.16 записано: 257–259 (3 рег.)"; a refusal "ф.16 отказ: недопустимое значение данных
// (код 3)"; what fails the check "ошибка CRC" or "неверный ответ: ..." with the reason. Register
// values are decimal and named by register address.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace qvoksb::modbus
{

// "01 04 01 01 00 03 E0 37". Beyond maxBytes the rest is summed up ("… ещё 812 байт"): a Modbus
// frame is at most 256 bytes, and a flood of noise must not become one endless line.
std::string hexBytes(std::span<const uint8_t> bytes, size_t maxBytes = 256);

// What a request asks the unit for.
std::string describeRequest(std::span<const uint8_t> request);

// What the bytes received after request mean, judged against it as the exchange judges a reply.
std::string describeReply(std::span<const uint8_t> request, std::span<const uint8_t> reply);

} // namespace qvoksb::modbus
