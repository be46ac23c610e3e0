#include "pe/PeImage.h"

#include <algorithm>
#include <cstring>

#include "pe/PeFormat.h"

namespace kvxpack {

namespace {

constexpr std::uint16_t SUBSYSTEM_CONSOLE = 3;
constexpr std::size_t SECTION_HEADER_SIZE = 40;
constexpr unsigned DIRECTORY_RESOURCE = 2;
constexpr unsigned DIRECTORY_SECURITY = 4;
constexpr unsigned DIRECTORY_RELOCATION = 5;
constexpr std::uint32_t SCN_INITIALIZED_DATA = 0x00000040;
constexpr std::uint32_t SCN_READ = 0x40000000;
// Optional header fields (same place in PE32 and PE32+).
constexpr std::size_t OPT_INITIALIZED_DATA = 8;
constexpr std::size_t OPT_SECTION_ALIGNMENT = 32;
constexpr std::size_t OPT_FILE_ALIGNMENT = 36;
constexpr std::size_t OPT_SIZE_OF_IMAGE = 56;
constexpr std::size_t OPT_SIZE_OF_HEADERS = 60;
constexpr std::size_t OPT_SUBSYSTEM = 68;

std::uint32_t alignUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

bool isPowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

bool PeImage::parse(Bytes file, std::string& error, bool wholeImage) {
    bytes_ = std::move(file);
    sections_.clear();
    const std::size_t size = bytes_.size();
    const unsigned char* b = bytes_.data();
    if (size < 64 || b[0] != 'M' || b[1] != 'Z') {
        error = "not a PE image (no MZ header)";
        return false;
    }
    const std::uint32_t peAt = le32(b + 0x3C);
    if (!fits(peAt, 24, size) || le32(b + peAt) != PE_SIGNATURE) {
        error = "not a PE image (no PE signature)";
        return false;
    }
    coffAt_ = peAt + 4;
    const std::uint16_t machine = le16(b + coffAt_);
    if (machine != MACHINE_I386 && machine != MACHINE_AMD64) {
        error = "PE image for an unsupported machine (not x86 or x64)";
        return false;
    }
    const std::uint16_t sectionCount = le16(b + coffAt_ + 2);
    const std::uint16_t optionalSize = le16(b + coffAt_ + 16);
    optionalAt_ = coffAt_ + 20;
    if (!fits(optionalAt_, optionalSize, size) || optionalSize < 2) {
        error = "PE optional header cut off";
        return false;
    }
    const std::uint16_t magic = le16(b + optionalAt_);
    if (magic != MAGIC_PE32 && magic != MAGIC_PE32_PLUS) {
        error = "PE optional header of unknown kind";
        return false;
    }
    is64_ = magic == MAGIC_PE32_PLUS;
    const std::size_t countAt = is64_ ? 108 : 92;
    if (optionalSize < countAt + 4) {
        error = "PE optional header too short";
        return false;
    }
    directoryCount_ = std::min<std::uint32_t>(le32(b + optionalAt_ + countAt), 16);
    directoriesAt_ = optionalAt_ + countAt + 4;
    if (directoriesAt_ + directoryCount_ * 8 > optionalAt_ + optionalSize) {
        error = "PE data directories cut off";
        return false;
    }
    if (!isPowerOfTwo(field32(OPT_SECTION_ALIGNMENT)) || !isPowerOfTwo(field32(OPT_FILE_ALIGNMENT)) ||
        field32(OPT_FILE_ALIGNMENT) > field32(OPT_SECTION_ALIGNMENT) || field32(OPT_FILE_ALIGNMENT) > 0x10000) {
        error = "PE alignments are not powers of two up to 64 KiB";
        return false;
    }
    sectionTableAt_ = optionalAt_ + optionalSize;
    if (sectionCount == 0 || !fits(sectionTableAt_, std::size_t(sectionCount) * SECTION_HEADER_SIZE, size)) {
        error = "PE section table cut off";
        return false;
    }
    for (std::size_t i = 0; i < sectionCount; ++i) {
        const unsigned char* h = b + sectionTableAt_ + i * SECTION_HEADER_SIZE;
        PeSection section;
        section.name.assign(reinterpret_cast<const char*>(h), strnlen(reinterpret_cast<const char*>(h), 8));
        section.virtualSize = le32(h + 8);
        section.virtualAddress = le32(h + 12);
        section.rawSize = le32(h + 16);
        section.rawOffset = le32(h + 20);
        section.characteristics = le32(h + 36);
        if (wholeImage && section.rawSize != 0 && !fits(section.rawOffset, section.rawSize, size)) {
            error = "PE section " + section.name + " lies beyond the end of the file";
            return false;
        }
        sections_.push_back(section);
    }
    return true;
}

PeMachine PeImage::machine() const {
    const std::uint16_t value = le16(bytes_.data() + coffAt_);
    return value == MACHINE_I386 ? PeMachine::X86 : value == MACHINE_AMD64 ? PeMachine::X64 : PeMachine::Other;
}

bool PeImage::consoleSubsystem() const { return le16(bytes_.data() + optionalAt_ + OPT_SUBSYSTEM) == SUBSYSTEM_CONSOLE; }

std::uint32_t PeImage::dataDirectoryRva(unsigned index) const {
    return index < directoryCount_ ? le32(bytes_.data() + directoriesAt_ + index * 8) : 0;
}

void PeImage::certificateTable(std::uint32_t& offset, std::uint32_t& size) const {
    // This one directory holds a file offset, not an address.
    offset = dataDirectoryRva(DIRECTORY_SECURITY);
    size = DIRECTORY_SECURITY < directoryCount_ ? le32(bytes_.data() + directoriesAt_ + DIRECTORY_SECURITY * 8 + 4) : 0;
}

void PeImage::setDataDirectory(unsigned index, std::uint32_t rva, std::uint32_t size) {
    put32(bytes_.data() + directoriesAt_ + index * 8, rva);
    put32(bytes_.data() + directoriesAt_ + index * 8 + 4, size);
}

void PeImage::writeSectionHeader(std::size_t index) {
    unsigned char* h = bytes_.data() + sectionTableAt_ + index * SECTION_HEADER_SIZE;
    const PeSection& section = sections_[index];
    std::fill(h, h + 8, 0);
    std::copy(section.name.begin(), section.name.end(), h);
    put32(h + 8, section.virtualSize);
    put32(h + 12, section.virtualAddress);
    put32(h + 16, section.rawSize);
    put32(h + 20, section.rawOffset);
    std::fill(h + 24, h + 36, 0);
    put32(h + 36, section.characteristics);
}

void PeImage::clearTimeStamp() { put32(bytes_.data() + coffAt_ + 4, 0); }

bool PeImage::readResources(ResourceTree& tree, std::string& error) const {
    tree = ResourceTree{};
    const std::uint32_t rva = dataDirectoryRva(DIRECTORY_RESOURCE);
    if (rva == 0) return true;
    for (const PeSection& section : sections_) {
        if (rva < section.virtualAddress || rva - section.virtualAddress >= section.virtualSize) continue;
        // Data past the raw bytes reads as zeros in memory; a tree never needs it.
        const std::uint32_t skip = rva - section.virtualAddress;
        const std::uint32_t length = std::min(section.virtualSize, section.rawSize);
        if (skip >= length) break;
        return readResourceTree(bytes_.data() + section.rawOffset + skip, length - skip, rva, tree, error);
    }
    error = "resource directory outside every section";
    return false;
}

bool PeImage::writeResources(const ResourceTree& tree, std::string& error) {
    std::uint64_t rawEnd = 0;
    for (const PeSection& section : sections_) {
        rawEnd = std::max<std::uint64_t>(rawEnd, std::uint64_t(section.rawOffset) + section.rawSize);
    }
    const std::uint32_t symbolsAt = le32(bytes_.data() + coffAt_ + 8);
    Bytes stringTable;
    if (symbolsAt != 0) {
        // strip leaves an empty symbol table behind: its string table alone, after the
        // sections. It moves with them (binutils will not read the image without it).
        if (le32(bytes_.data() + coffAt_ + 12) != 0 || symbolsAt != rawEnd) {
            error = "the stub carries a symbol table; use a stripped launcher";
            return false;
        }
        stringTable.assign(bytes_.begin() + static_cast<std::ptrdiff_t>(rawEnd), bytes_.end());
        bytes_.resize(static_cast<std::size_t>(rawEnd));
    }
    if (dataDirectoryRva(DIRECTORY_SECURITY) != 0) {
        error = "the stub is signed; sign the packed executable instead";
        return false;
    }
    if (rawEnd != bytes_.size()) {
        error = "the stub has data after its last section; use the launcher as built";
        return false;
    }
    // The resource section and what may follow it: base relocations only.
    std::size_t first = sections_.size();
    while (first > 0 && sections_[first - 1].name == ".reloc") --first;
    const std::uint32_t resourceRva = dataDirectoryRva(DIRECTORY_RESOURCE);
    bool replace = false;
    if (first > 0 && sections_[first - 1].name == ".rsrc") {
        --first;
        replace = true;
    }
    if ((!replace && first == 0) || (resourceRva != 0 && !(replace && resourceRva == sections_[first].virtualAddress))) {
        error = "the stub's resources are not in a resource section followed only by relocations";
        return false;
    }
    for (std::size_t i = 0; i + 1 < sections_.size(); ++i) {
        if (sections_[i + 1].virtualAddress < sections_[i].virtualAddress ||
            (sections_[i + 1].rawSize != 0 && sections_[i].rawSize != 0 &&
             sections_[i + 1].rawOffset < sections_[i].rawOffset)) {
            error = "the stub's sections are out of order";
            return false;
        }
    }
    const std::uint32_t sectionAlignment = field32(OPT_SECTION_ALIGNMENT);
    const std::uint32_t fileAlignment = field32(OPT_FILE_ALIGNMENT);
    if (!replace) {
        // A new section header must fit in front of the first section's data.
        const std::uint32_t headersEnd = static_cast<std::uint32_t>(sectionTableAt_ + (sections_.size() + 1) * 40);
        std::uint32_t firstRaw = field32(OPT_SIZE_OF_HEADERS);
        for (const PeSection& section : sections_) {
            if (section.rawSize != 0) firstRaw = std::min(firstRaw, section.rawOffset);
        }
        if (headersEnd > firstRaw) {
            error = "no room for a resource section header in the stub";
            return false;
        }
        PeSection added;
        added.name = ".rsrc";
        added.characteristics = SCN_INITIALIZED_DATA | SCN_READ;
        sections_.insert(sections_.begin() + static_cast<std::ptrdiff_t>(first), added);
        put16(bytes_.data() + coffAt_ + 2, static_cast<std::uint32_t>(sections_.size()));
    }

    // Place the resource section where the old one was (or behind the sections before it).
    PeSection& resources = sections_[first];
    const std::uint32_t oldRawSize = replace ? resources.rawSize : 0;
    if (!replace) {
        const PeSection& before = sections_[first - 1];
        resources.virtualAddress = alignUp(before.virtualAddress + std::max(before.virtualSize, 1u), sectionAlignment);
        resources.rawOffset = alignUp(before.rawOffset + before.rawSize, fileAlignment);
    }
    const Bytes data = writeResourceTree(tree, resources.virtualAddress);
    Bytes moved;  // the relocation sections' bytes, in order
    std::vector<std::uint32_t> oldVirtual;
    for (std::size_t i = first + 1; i < sections_.size(); ++i) {
        const PeSection& section = sections_[i];
        moved.insert(moved.end(), bytes_.begin() + section.rawOffset, bytes_.begin() + section.rawOffset + section.rawSize);
        oldVirtual.push_back(section.virtualAddress);
    }
    resources.virtualSize = static_cast<std::uint32_t>(data.size());
    resources.rawSize = alignUp(resources.virtualSize, fileAlignment);
    bytes_.resize(resources.rawOffset);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
    bytes_.resize(std::size_t(resources.rawOffset) + resources.rawSize, 0);
    setDataDirectory(DIRECTORY_RESOURCE, resources.virtualAddress, resources.virtualSize);

    const std::uint32_t relocationRva = dataDirectoryRva(DIRECTORY_RELOCATION);
    std::size_t movedAt = 0;
    for (std::size_t i = first + 1; i < sections_.size(); ++i) {
        PeSection& section = sections_[i];
        const PeSection& before = sections_[i - 1];
        const std::uint32_t oldRva = oldVirtual[i - first - 1];
        section.virtualAddress = alignUp(before.virtualAddress + std::max(before.virtualSize, 1u), sectionAlignment);
        section.rawOffset = static_cast<std::uint32_t>(bytes_.size());
        bytes_.insert(bytes_.end(), moved.begin() + movedAt, moved.begin() + movedAt + section.rawSize);
        movedAt += section.rawSize;
        if (relocationRva >= oldRva && relocationRva - oldRva < std::max(section.virtualSize, section.rawSize)) {
            put32(bytes_.data() + directoriesAt_ + DIRECTORY_RELOCATION * 8,
                  section.virtualAddress + (relocationRva - oldRva));
        }
    }
    if (!stringTable.empty()) {
        put32(bytes_.data() + coffAt_ + 8, static_cast<std::uint32_t>(bytes_.size()));
        bytes_.insert(bytes_.end(), stringTable.begin(), stringTable.end());
    }
    for (std::size_t i = 0; i < sections_.size(); ++i) writeSectionHeader(i);
    const PeSection& last = sections_.back();
    put32(bytes_.data() + optionalAt_ + OPT_SIZE_OF_IMAGE,
          alignUp(last.virtualAddress + std::max(last.virtualSize, last.rawSize), sectionAlignment));
    put32(bytes_.data() + optionalAt_ + OPT_INITIALIZED_DATA,
          field32(OPT_INITIALIZED_DATA) - oldRawSize + resources.rawSize);
    return true;
}

}  // namespace kvxpack
