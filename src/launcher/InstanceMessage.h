#pragma once
// The hand-over of a later start to the running one: its working directory and arguments,
// as UTF-16 text. Layout (little-endian): the number of texts N (working directory first,
// then each argument), then N times a 32-bit unit count and that many 16-bit units.

#include <cstdint>

#include "base/GrowBuffer.h"
#include "base/WideStringList.h"

namespace kvx {

// The largest hand-over the running instance accepts, in bytes. A Windows command line holds
// at most 32,767 characters, so only a start with a long working directory and a nearly full
// command line comes near it.
constexpr uint32_t INSTANCE_MESSAGE_MAX = 65536;

// Replaces `out` with the message; false when memory ran out.
bool encodeInstanceMessage(const uint16_t* workingDir, int32_t workingDirLength, const WideStringList& args,
                           GrowBuffer<uint8_t>& out);
// Reads a message into `texts` (working directory first). False, with `texts` empty, for
// anything but an exact, complete message of at most INSTANCE_MESSAGE_MAX bytes.
bool decodeInstanceMessage(const uint8_t* data, uint32_t size, WideStringList& texts);

}  // namespace kvx
