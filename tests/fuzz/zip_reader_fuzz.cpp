// kvxpack's ZIP reader over arbitrary bytes: the end record search, the central directory
// with its local headers, and the manifest's main class. Whatever it accepts must describe
// bytes that lie inside the input, in the places a raw copy will read.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "zip/ByteSource.h"
#include "zip/CentralDirectory.h"
#include "zip/EndRecord.h"
#include "zip/EntryText.h"

using namespace kvxpack;

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

constexpr std::size_t TEXT_LIMIT = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    MemorySource source(data, size);
    EndRecord record;
    std::string error;
    if (!findEndRecord(source, record, error)) {
        check(!error.empty());
        return 0;
    }
    check(record.offset + END_RECORD_SIZE + record.trailing <= size);
    check(record.directoryStart + record.directorySize <= record.offset);
    check(record.prefix <= record.directoryStart);
    std::vector<ZipEntry> entries;
    if (!readCentralDirectory(source, record, entries, error)) {
        check(!error.empty());
        return 0;
    }
    check(entries.size() == record.entryCount);
    for (const ZipEntry& entry : entries) {
        check(!entry.name.empty());
        check(entry.dataOffset <= record.directoryStart);
        check(entry.compressedSize <= record.directoryStart - entry.dataOffset);
        check((entry.flags & ENCRYPTION_FLAGS) == 0);
        // What is kept of the extra fields parses again and loses nothing more.
        std::string again;
        check(filterExtraFields(entry.extra, again) && again == entry.extra);
        std::string text;
        if (readEntryText(source, entry, TEXT_LIMIT, text, error)) {
            check(text.size() <= TEXT_LIMIT);
            const std::string main = manifestMainClass(text);
            check(main.find_first_of("\r\n") == std::string::npos);
            check(main.empty() || (main.front() != ' ' && main.back() != ' '));
        }
    }
    return 0;
}
