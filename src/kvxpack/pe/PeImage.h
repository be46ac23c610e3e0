#pragma once
// PeImage: a Windows executable held in memory, with what kvxpack changes in it: the
// resource section (rebuilt, with the sections behind it moved), the header time stamp and
// the checksum.

#include <cstdint>
#include <string>
#include <vector>

#include "pe/Bytes.h"
#include "pe/ResourceTree.h"

namespace kvxpack {

struct PeSection {
    std::string name;
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t characteristics = 0;
};

enum class PeMachine { X86, X64, Other };

class PeImage {
public:
    // Takes the file's bytes and checks the headers and section table. Fails with a reason.
    // Without `wholeImage` the bytes may be only the file's start (sections are not checked
    // against its length).
    [[nodiscard]] bool parse(Bytes file, std::string& error, bool wholeImage = true);

    const Bytes& bytes() const { return bytes_; }
    PeMachine machine() const;
    bool is64() const { return is64_; }
    bool consoleSubsystem() const;
    const std::vector<PeSection>& sections() const { return sections_; }

    // The resource tree (empty when the image has no resource section).
    [[nodiscard]] bool readResources(ResourceTree& tree, std::string& error) const;
    // Rebuilds the resource section from `tree`. Sections behind it may only be base
    // relocations, which are moved up; the headers' sizes and directory entries follow.
    [[nodiscard]] bool writeResources(const ResourceTree& tree, std::string& error);

    // The security directory: the file offset and size of the certificate table that
    // Authenticode signing appends (both 0 in an unsigned image).
    void certificateTable(std::uint32_t& offset, std::uint32_t& size) const;

    // A fixed header time stamp, so that equal inputs give equal files.
    void clearTimeStamp();
    // File offset of the checksum field in the optional header.
    std::size_t checksumOffset() const { return optionalAt_ + 64; }

private:
    std::uint32_t dataDirectoryRva(unsigned index) const;
    void setDataDirectory(unsigned index, std::uint32_t rva, std::uint32_t size);
    void writeSectionHeader(std::size_t index);
    std::uint32_t field32(std::size_t offsetInOptional) const { return le32(bytes_.data() + optionalAt_ + offsetInOptional); }

    Bytes bytes_;
    std::size_t coffAt_ = 0;
    std::size_t optionalAt_ = 0;
    std::size_t sectionTableAt_ = 0;
    std::size_t directoriesAt_ = 0;
    std::uint32_t directoryCount_ = 0;
    bool is64_ = false;
    std::vector<PeSection> sections_;
};

}  // namespace kvxpack
