#pragma once
// Helpers for the frames the simulated unit sees and sends: the CRC it needs to build
// deliberately wrong replies, and the lines of its traffic print.
#include "core/modbus/frame_describer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace ksb7sim
{

// Replaces the last two bytes of frame by the CRC of the bytes before them.
void refreshCrc(std::vector<uint8_t> &frame);

// Wall-clock time with milliseconds, "14:03:07.512".
std::string timeStamp();

// The bytes and their meaning read as the configurator's exchange log reads them, so that the
// two prints of one exchange always agree.
using qvoksb::modbus::describeReply;
using qvoksb::modbus::describeRequest;
using qvoksb::modbus::hexBytes;

} // namespace ksb7sim
