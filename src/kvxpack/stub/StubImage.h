#pragma once
// StubImage: the launcher bytes that open the executable. A Windows launcher gets the
// requested resources, a fixed time stamp and, once the whole file is written, its checksum;
// the Linux launcher is taken as it is, its splash picture going into the archive instead.

#include <string>

#include "cli/CommandLine.h"
#include "pe/Bytes.h"
#include "stub/ImageWriter.h"

namespace kvxpack {

class StubImage {
public:
    // Reads the stub at `path` and applies `options`. Every failure is bad input (a message
    // naming the file and the problem); nothing has been written yet.
    [[nodiscard]] bool load(const std::string& path, const ResourceOptions& options, std::string& error);
    // The same for a stub's bytes already in memory; `name` stands for the file in messages.
    [[nodiscard]] bool load(Bytes file, const std::string& name, const ResourceOptions& options, std::string& error);

    const Bytes& bytes() const { return bytes_; }
    // A Windows launcher: the file's checksum is written by seal().
    bool needsChecksum() const { return pe_; }
    // The Linux launcher's splash (a PNG for the archive entry LINUX_SPLASH_ENTRY); empty without.
    const std::string& linuxSplash() const { return linuxSplash_; }

    // Writes the image checksum of everything `output` has written into the file (a Windows
    // launcher only): the checksum covers the whole file, archive included.
    [[nodiscard]] bool seal(ImageWriter& output, std::string& error) const;

private:
    Bytes bytes_;
    bool pe_ = false;
    std::string linuxSplash_;
    std::size_t checksumAt_ = 0;
};

// Reads a whole file of at most `limit` bytes.
[[nodiscard]] bool readWholeFile(const std::string& path, std::uint64_t limit, Bytes& bytes, std::string& error);

}  // namespace kvxpack
