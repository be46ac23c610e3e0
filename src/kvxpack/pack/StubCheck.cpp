#include "pack/StubCheck.h"

#include "pe/PeFormat.h"
#include "zip/EndRecord.h"
#include "zip/ZipFormat.h"

namespace kvxpack {

namespace {

constexpr std::uint16_t ELF_MACHINE_X86_64 = 62;

StubKind peKind(ByteSource& stub) {
    unsigned char dos[64];
    if (stub.size() < sizeof dos || !stub.readAt(0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') {
        return StubKind::Unknown;
    }
    const std::uint32_t peAt = readLe32(dos + 0x3C);
    // Signature, file header (20 bytes), then the optional header's magic.
    unsigned char headers[4 + 20 + 2];
    if (peAt > stub.size() || stub.size() - peAt < sizeof headers || !stub.readAt(peAt, headers, sizeof headers)) {
        return StubKind::Unknown;
    }
    if (readLe32(headers) != PE_SIGNATURE) return StubKind::Unknown;
    const std::uint16_t machine = readLe16(headers + 4);
    const std::uint16_t optionalSize = readLe16(headers + 20);
    const std::uint16_t magic = readLe16(headers + 24);
    if (machine == MACHINE_I386 && magic == MAGIC_PE32 && optionalSize >= 96) return StubKind::PeX86;
    if (machine == MACHINE_AMD64 && magic == MAGIC_PE32_PLUS && optionalSize >= 112) return StubKind::PeX64;
    return StubKind::Unknown;
}

StubKind elfKind(ByteSource& stub) {
    unsigned char header[20];
    if (stub.size() < 64 || !stub.readAt(0, header, sizeof header)) return StubKind::Unknown;
    const bool elf = header[0] == 0x7F && header[1] == 'E' && header[2] == 'L' && header[3] == 'F';
    // 64-bit, little-endian, an executable or a position-independent one, for x86-64.
    const std::uint16_t type = readLe16(header + 16);
    if (elf && header[4] == 2 && header[5] == 1 && (type == 2 || type == 3) &&
        readLe16(header + 18) == ELF_MACHINE_X86_64) {
        return StubKind::ElfX64;
    }
    return StubKind::Unknown;
}

StubKind required(StubArch arch) {
    switch (arch) {
        case StubArch::X86: return StubKind::PeX86;
        case StubArch::X64: return StubKind::PeX64;
        case StubArch::Host: break;
    }
    return StubKind::ElfX64;
}

const char* describe(StubKind kind) {
    switch (kind) {
        case StubKind::PeX86: return "a 32-bit Windows (x86) image";
        case StubKind::PeX64: return "a 64-bit Windows (x64) image";
        case StubKind::ElfX64: return "an x86-64 ELF program";
        case StubKind::Unknown: break;
    }
    return "no launcher";
}

}  // namespace

StubKind stubKind(ByteSource& stub) {
    const StubKind pe = peKind(stub);
    return pe != StubKind::Unknown ? pe : elfKind(stub);
}

bool checkStub(ByteSource& stub, StubArch arch, bool archGiven, std::string& error) {
    const StubKind kind = stubKind(stub);
    if (kind == StubKind::Unknown) {
        error = "not a launcher: not a PE image for x86 or x64, nor an x86-64 ELF program";
        return false;
    }
    if (archGiven && kind != required(arch)) {
        error = std::string("is ") + describe(kind) + ", but --arch asks for " + describe(required(arch));
        return false;
    }
    EndRecord record;
    std::string ignored;
    if (findEndRecord(stub, record, ignored)) {
        error = "already packed: it ends with an archive (" + std::to_string(record.entryCount) +
                " entries); start from the plain launcher";
        return false;
    }
    return true;
}

}  // namespace kvxpack
