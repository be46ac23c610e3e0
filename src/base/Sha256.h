#pragma once
// SHA-256 (FIPS 180-4): names the jars a launcher keeps in its cache by their content, and
// checks a cached copy against that name.

#include <cstddef>
#include <cstdint>

namespace kvx {

class Sha256 {
public:
    Sha256();
    void update(const unsigned char* data, size_t length);
    // The digest as 64 lower-case hex digits and a zero byte; the object is spent afterwards.
    void finishHex(char out[65]);

private:
    void block(const unsigned char* p);

    uint32_t state_[8];
    uint64_t length_ = 0;
    unsigned char buffer_[64];
    uint32_t used_ = 0;
};

}  // namespace kvx
