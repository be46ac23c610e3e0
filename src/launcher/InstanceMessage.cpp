#include "launcher/InstanceMessage.h"

namespace kvx {

namespace {

bool appendNumber(GrowBuffer<uint8_t>& out, uint32_t n) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n >> 16),
                              static_cast<uint8_t>(n >> 24)};
    return out.appendElements(bytes, 4);
}

bool appendText(GrowBuffer<uint8_t>& out, const uint16_t* units, int32_t count) {
    if (!appendNumber(out, static_cast<uint32_t>(count))) return false;
    for (int32_t i = 0; i < count; ++i) {
        const uint8_t bytes[2] = {static_cast<uint8_t>(units[i]), static_cast<uint8_t>(units[i] >> 8)};
        if (!out.appendElements(bytes, 2)) return false;
    }
    return true;
}

uint32_t numberAt(const uint8_t* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool encodeInstanceMessage(const uint16_t* workingDir, int32_t workingDirLength, const WideStringList& args,
                           GrowBuffer<uint8_t>& out) {
    out.setLength(0);
    if (!appendNumber(out, static_cast<uint32_t>(args.count()) + 1)) return false;
    if (!appendText(out, workingDir, workingDir ? workingDirLength : 0)) return false;
    for (int32_t i = 0; i < args.count(); ++i) {
        if (!appendText(out, args.entry(i), args.entryLength(i))) return false;
    }
    return true;
}

bool decodeInstanceMessage(const uint8_t* data, uint32_t size, WideStringList& texts) {
    texts.clear();
    if (!data || size < 4 || size > INSTANCE_MESSAGE_MAX) return false;
    uint32_t count = numberAt(data);
    uint32_t pos = 4;
    // At least the working directory; every text needs its 4-byte count.
    if (count == 0 || count > (size - 4) / 4) return false;
    GrowBuffer<uint16_t> units;
    for (uint32_t i = 0; i < count; ++i) {
        if (size - pos < 4) break;
        uint32_t length = numberAt(data + pos);
        pos += 4;
        if (length > (size - pos) / 2) break;
        units.setLength(static_cast<int32_t>(length));
        if (units.length() != static_cast<int32_t>(length)) break;
        for (uint32_t k = 0; k < length; ++k) units.data()[k] = static_cast<uint16_t>(data[pos + 2 * k] | data[pos + 2 * k + 1] << 8);
        pos += 2 * length;
        if (!texts.add(units.data(), static_cast<int32_t>(length))) break;
    }
    if (texts.count() != static_cast<int32_t>(count) || pos != size) {
        texts.clear();
        return false;
    }
    return true;
}

}  // namespace kvx
