#pragma once
// ArchiveMerge: which entries of which archives make the one archive of the executable.

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/File.h"
#include "zip/ByteSource.h"
#include "zip/CentralDirectory.h"
#include "zip/EndRecord.h"

namespace kvxpack {

// One archive read: its source and its entries.
struct ArchiveInput {
    std::string name;  // for messages: the path as given
    kvx::platform::File file;
    std::unique_ptr<ByteSource> source;
    EndRecord record;
    std::vector<ZipEntry> entries;
};

// Opens `path` and reads its central directory. Fails with a reason naming the file.
[[nodiscard]] bool readArchiveFile(const std::string& path, ArchiveInput& input, std::string& error);
// Reads an archive held in memory (the runtime classes).
[[nodiscard]] bool readArchiveBytes(const std::string& name, const unsigned char* data, std::size_t size,
                                    ArchiveInput& input, std::string& error);

struct MergedEntry {
    const ZipEntry* entry;
    ByteSource* source;
};

struct MergePlan {
    std::vector<MergedEntry> entries;   // in output order
    std::string mainClass;              // the shipped manifest's Main-Class; empty when none
    std::string manifestFrom;           // the archive the manifest came from
    std::vector<std::string> warnings;  // one line each
    // Entries made here (merged service lists, a manifest made multi-release), with their
    // bytes; `entries` points into them, so they never move.
    std::deque<ZipEntry> madeEntries;
    std::deque<std::string> madeData;
    std::deque<MemorySource> madeSources;
};

// The manifest first (from the first archive that has one), then every archive's entries in
// order, the first of each name winning, then the runtime classes of `runtime`. Inputs' own
// runtime classes are left out (with a warning when they differ from `runtime`'s). When
// several archives are merged, signature files of archives other than the manifest's (they
// can never verify against another manifest) and META-INF/INDEX.LIST (it would list only
// one archive's packages) are left out; what each archive registers is kept: the
// META-INF/services/ files of one name become one list of every archive's providers (at the
// first one's place), and the manifest says `Multi-Release: true` when any input's does.
// Every other name given twice is warned about once (the first wins).
[[nodiscard]] bool planMerge(std::vector<ArchiveInput>& inputs, ArchiveInput& runtime, MergePlan& plan,
                             std::string& error);

// Appends an entry that kvxpack makes (stored, the fixed time) with `data` as its bytes.
void appendMadeEntry(MergePlan& plan, const std::string& name, std::string data);

}  // namespace kvxpack
