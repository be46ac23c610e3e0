#include "jre/LibraryArchitecture.h"

#include "platform/MappedFile.h"

namespace kvx {

namespace {

// PE/COFF: "MZ", the offset of "PE\0\0" at 0x3C, the machine right after the signature.
constexpr uint32_t PE_OFFSET_FIELD = 0x3C;
constexpr uint16_t PE_MACHINE_I386 = 0x014C;
constexpr uint16_t PE_MACHINE_AMD64 = 0x8664;
constexpr uint16_t PE_MACHINE_ARM64 = 0xAA64;
// ELF: class at 4 (1 = 32-bit, 2 = 64-bit), data encoding at 5, machine at 18.
constexpr uint16_t ELF_MACHINE_386 = 3;
constexpr uint16_t ELF_MACHINE_X86_64 = 62;
constexpr uint16_t ELF_MACHINE_AARCH64 = 183;

#if defined(_WIN32)
constexpr bool NATIVE_IS_PE = true;
#else
constexpr bool NATIVE_IS_PE = false;
#endif

#if defined(__x86_64__) || defined(_M_X64)
constexpr uint16_t OWN_PE_MACHINE = PE_MACHINE_AMD64;
constexpr uint16_t OWN_ELF_MACHINE = ELF_MACHINE_X86_64;
#elif defined(__aarch64__) || defined(_M_ARM64)
constexpr uint16_t OWN_PE_MACHINE = PE_MACHINE_ARM64;
constexpr uint16_t OWN_ELF_MACHINE = ELF_MACHINE_AARCH64;
#else
constexpr uint16_t OWN_PE_MACHINE = PE_MACHINE_I386;
constexpr uint16_t OWN_ELF_MACHINE = ELF_MACHINE_386;
#endif

uint16_t read16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t read32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

int32_t peMachineBits(uint16_t machine) {
    if (machine == PE_MACHINE_I386) return 32;
    if (machine == PE_MACHINE_AMD64 || machine == PE_MACHINE_ARM64) return 64;
    return 0;
}

LibraryCheck fromPeMachine(uint16_t machine) {
    LibraryCheck check;
    if (!NATIVE_IS_PE) return check;
    check.bits = peMachineBits(machine);
    check.fit = machine == OWN_PE_MACHINE ? LibraryFit::Matches : LibraryFit::WrongArchitecture;
    return check;
}

bool isPe(const unsigned char* head, uint32_t size) { return size >= 0x40 && head[0] == 'M' && head[1] == 'Z'; }

// The machine field of the PE header at `offset` within `bytes`; false when it is not there.
bool peMachineAt(const unsigned char* bytes, uint32_t size, uint32_t offset, uint16_t& machine) {
    if (offset > size || size - offset < 6) return false;
    const unsigned char* p = bytes + offset;
    if (p[0] != 'P' || p[1] != 'E' || p[2] != 0 || p[3] != 0) return false;
    machine = read16(p + 4);
    return true;
}

LibraryCheck elfCheck(const unsigned char* head, uint32_t size) {
    LibraryCheck check;
    if (NATIVE_IS_PE || size < 20) return check;
    if (head[0] != 0x7F || head[1] != 'E' || head[2] != 'L' || head[3] != 'F') return check;
    // Only little-endian machines are told apart; anything else is left to the loader.
    if (head[5] != 1) return check;
    check.bits = head[4] == 1 ? 32 : head[4] == 2 ? 64 : 0;
    uint16_t machine = read16(head + 18);
    check.fit = machine == OWN_ELF_MACHINE ? LibraryFit::Matches : LibraryFit::WrongArchitecture;
    return check;
}

}  // namespace

int32_t programBits() { return sizeof(void*) == 8 ? 64 : 32; }

LibraryCheck checkLibraryHeader(const unsigned char* head, uint32_t headSize) {
    if (!head) return LibraryCheck();
    if (isPe(head, headSize)) {
        uint16_t machine = 0;
        if (!peMachineAt(head, headSize, read32(head + PE_OFFSET_FIELD), machine)) return LibraryCheck();
        return fromPeMachine(machine);
    }
    return elfCheck(head, headSize);
}

LibraryCheck checkLibraryArchitecture(const char* path) {
    if (!path || !*path) return LibraryCheck();
    // The whole file is mapped; only the pages of its headers are ever touched.
    platform::MappedFile file;
    if (!file.openTail(path, ~0ULL) || file.size() != file.fileSize() || file.size() == 0) return LibraryCheck();
    return checkLibraryHeader(file.data(), file.size() < 0xFFFFFFFFu ? static_cast<uint32_t>(file.size()) : 0xFFFFFFFFu);
}

}  // namespace kvx
