#pragma once
// ByteSink: where the executable's bytes go, in order. The output file itself, or a writer
// that also looks at every byte on the way (the image checksum).

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/File.h"

namespace kvxpack {

class ByteSink {
public:
    virtual ~ByteSink() = default;
    [[nodiscard]] virtual bool write(const void* data, std::size_t length) = 0;
    // Appends `length` bytes of `from` starting at `offset`, through `buffer` where the sink
    // must see the bytes. Which file a failure concerns tells lastError() and from.lastError().
    [[nodiscard]] virtual bool appendFrom(kvx::platform::File& from, std::uint64_t offset, std::uint64_t length,
                                          unsigned char* buffer, std::size_t bufferSize) = 0;
    virtual const std::string& lastError() const = 0;
};

// Straight into the file, with nothing summed on the way.
class FileSink : public ByteSink {
public:
    explicit FileSink(kvx::platform::File& file) : file_(file) {}
    bool write(const void* data, std::size_t length) override { return file_.write(data, length); }
    bool appendFrom(kvx::platform::File& from, std::uint64_t offset, std::uint64_t length, unsigned char* buffer,
                    std::size_t bufferSize) override {
        return file_.appendFrom(from, offset, length, buffer, bufferSize);
    }
    const std::string& lastError() const override { return file_.lastError(); }

private:
    kvx::platform::File& file_;
};

}  // namespace kvxpack
