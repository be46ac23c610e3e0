#include "pack/ArchiveMerge.h"

#include <zlib.h>

#include <algorithm>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "pack/RuntimeClasses.h"
#include "zip/ArchiveWriter.h"
#include "zip/EntryText.h"

namespace kvxpack {

namespace {

constexpr char MANIFEST_NAME[] = "META-INF/MANIFEST.MF";
constexpr char INDEX_NAME[] = "META-INF/INDEX.LIST";
constexpr std::string_view SERVICES_PREFIX = "META-INF/services/";
constexpr std::uint16_t UTF8_NAME_FLAG = 0x0800;
// Manifests and service lists that are merged are read whole; none comes near this.
constexpr std::uint64_t MADE_ENTRY_LIMIT = 64u << 20;
// The main section is at the manifest's start; more than this is never needed.
constexpr std::size_t MANIFEST_READ_LIMIT = 1u << 20;

bool endsWith(const std::string& text, const char* suffix) {
    const std::string tail(suffix);
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// META-INF/NAME.SF and its signature block (.RSA, .DSA, .EC), directly in META-INF/.
bool isSignatureFile(const std::string& name) {
    if (name.compare(0, 9, "META-INF/") != 0 || name.find('/', 9) != std::string::npos) return false;
    std::string upper = name;
    for (char& c : upper) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    return endsWith(upper, ".SF") || endsWith(upper, ".RSA") || endsWith(upper, ".DSA") || endsWith(upper, ".EC");
}

// META-INF/services/NAME: the providers of service NAME, one class name a line.
bool isServiceList(const std::string& name) {
    return name.size() > SERVICES_PREFIX.size() && name.compare(0, SERVICES_PREFIX.size(), SERVICES_PREFIX) == 0 &&
           name.find('/', SERVICES_PREFIX.size()) == std::string::npos;
}

struct ServicePart {
    const ZipEntry* entry;
    ByteSource* source;
    const ArchiveInput* input;
};

struct ServiceList {
    std::size_t planIndex;  // where the first archive's list stands in the plan
    std::vector<ServicePart> parts;
};

// An entry kvxpack makes: stored, the fixed time, the name's UTF-8 flag as `like` has it.
const ZipEntry* makeEntry(const ZipEntry& like, std::string data, MergePlan& plan, ByteSource*& source) {
    plan.madeData.push_back(std::move(data));
    const std::string& bytes = plan.madeData.back();
    plan.madeSources.emplace_back(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    source = &plan.madeSources.back();
    ZipEntry made;
    made.name = like.name;
    made.versionMadeBy = 20;
    made.versionNeeded = 10;
    made.flags = static_cast<std::uint16_t>(like.flags & UTF8_NAME_FLAG);
    made.method = 0;
    made.dosTime = FIXED_DOS_TIME;
    made.dosDate = FIXED_DOS_DATE;
    made.crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
    made.size = made.compressedSize = bytes.size();
    plan.madeEntries.push_back(std::move(made));
    return &plan.madeEntries.back();
}

bool readWhole(const ArchiveInput& input, const ZipEntry& entry, std::string& text, std::string& error) {
    if (entry.size > MADE_ENTRY_LIMIT) {
        error = input.name + ": entry '" + entry.name + "' is too large to merge";
        return false;
    }
    if (!readEntryText(*input.source, entry, MADE_ENTRY_LIMIT, text, error)) {
        error = input.name + ": " + error;
        return false;
    }
    return true;
}

// Only the manifest's archive keeps its signature files in a merge.
bool isSigned(const ArchiveInput& archive) {
    return std::any_of(archive.entries.begin(), archive.entries.end(),
                       [](const ZipEntry& entry) { return isSignatureFile(entry.name); });
}

// The shipped manifest (the plan's first entry) with `Multi-Release: true` added. A signed
// archive's manifest stays as it is: a changed main section fails its signature, and every
// class of that archive with it.
bool multiReleaseManifest(const ArchiveInput& archive, MergePlan& plan, std::string& error) {
    if (isSigned(archive)) {
        plan.warnings.push_back(archive.name + " is signed, so its manifest is packed as it is: without "
                                "Multi-Release, the versioned classes of the other jars are not used");
        return true;
    }
    std::string manifest;
    if (!readWhole(archive, *plan.entries.front().entry, manifest, error)) return false;
    plan.entries.front().entry =
        makeEntry(*plan.entries.front().entry, withMultiRelease(manifest), plan, plan.entries.front().source);
    return true;
}

// One list of every archive's providers, as ServiceLoader reads them: '#' starts a comment,
// white space around a name goes, each name once, in input order. Lists that are all alike
// stay the first archive's entry; so does a list that the shipped manifest's signature covers.
bool mergeServiceList(const ServiceList& list, const ArchiveInput* manifestArchive, MergePlan& plan,
                      std::string& error) {
    bool allAlike = true;
    for (const ServicePart& part : list.parts) {
        allAlike = allAlike && part.entry->crc == list.parts.front().entry->crc &&
                   part.entry->size == list.parts.front().entry->size;
    }
    if (allAlike) return true;
    const ArchiveInput& first = *list.parts.front().input;
    if (&first == manifestArchive && isSigned(first)) {
        plan.warnings.push_back(first.name + " is signed, so its " + list.parts.front().entry->name +
                                " is packed as it is: the providers of the other jars are not found");
        return true;
    }
    std::string merged;
    std::unordered_set<std::string> seen;
    for (const ServicePart& part : list.parts) {
        std::string text;
        if (!readWhole(*part.input, *part.entry, text, error)) return false;
        std::size_t at = 0;
        while (at < text.size()) {
            std::size_t end = text.find_first_of("\r\n", at);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(at, std::min(text.find('#', at), end) - at);
            at = end + 1;
            const std::size_t begin = line.find_first_not_of(" \t\f\v");
            if (begin == std::string::npos) continue;
            line = line.substr(begin, line.find_last_not_of(" \t\f\v") - begin + 1);
            if (seen.insert(line).second) merged += line + "\n";
        }
    }
    MergedEntry& slot = plan.entries[list.planIndex];
    slot.entry = makeEntry(*slot.entry, std::move(merged), plan, slot.source);
    return true;
}

bool readArchive(ArchiveInput& input, std::string& error) {
    if (!findEndRecord(*input.source, input.record, error) ||
        !readCentralDirectory(*input.source, input.record, input.entries, error)) {
        error = input.name + ": " + error;
        return false;
    }
    return true;
}

}  // namespace

bool readArchiveFile(const std::string& path, ArchiveInput& input, std::string& error) {
    input.name = path;
    std::uint64_t size = 0;
    if (!input.file.openRead(path) || !input.file.size(size)) {
        error = "cannot read " + path + ": " + input.file.lastError();
        return false;
    }
    input.source = std::make_unique<FileSource>(input.file, size);
    return readArchive(input, error);
}

bool readArchiveBytes(const std::string& name, const unsigned char* data, std::size_t size, ArchiveInput& input,
                      std::string& error) {
    input.name = name;
    input.source = std::make_unique<MemorySource>(data, size);
    return readArchive(input, error);
}

bool planMerge(std::vector<ArchiveInput>& inputs, ArchiveInput& runtime, MergePlan& plan, std::string& error) {
    plan.entries.clear();
    plan.mainClass.clear();
    plan.manifestFrom.clear();
    plan.warnings.clear();
    plan.madeEntries.clear();
    plan.madeData.clear();
    plan.madeSources.clear();
    std::unordered_map<std::string, const ZipEntry*> ownRuntime;
    for (ZipEntry& entry : runtime.entries) {
        if (!isRuntimeClassName(entry.name)) continue;
        // Made when kvxpack was built: their times would make each build of kvxpack pack
        // other bytes.
        entry.dosTime = FIXED_DOS_TIME;
        entry.dosDate = FIXED_DOS_DATE;
        std::string kept;
        if (filterExtraFields(entry.extra, kept, true)) entry.extra = kept;
        ownRuntime.emplace(entry.name, &entry);
    }
    if (ownRuntime.empty()) {
        error = "the runtime classes built into kvxpack are missing (" + runtime.name + ")";
        return false;
    }

    // The manifest that ships, and the archive it belongs to; whether any input is multi-release.
    const ArchiveInput* manifestArchive = nullptr;
    std::string shippedManifest;
    bool anyMultiRelease = false;
    for (ArchiveInput& input : inputs) {
        for (const ZipEntry& entry : input.entries) {
            if (entry.name != MANIFEST_NAME) continue;
            std::string manifest;
            if (!readEntryText(*input.source, entry, MANIFEST_READ_LIMIT, manifest, error)) {
                error = input.name + ": " + error;
                return false;
            }
            anyMultiRelease = anyMultiRelease || manifestMultiRelease(manifest);
            if (!manifestArchive) {
                plan.mainClass = manifestMainClass(manifest);
                plan.manifestFrom = input.name;
                plan.entries.push_back({&entry, input.source.get()});
                manifestArchive = &input;
                shippedManifest = std::move(manifest);
            }
            break;
        }
    }

    const bool merging = inputs.size() > 1;
    if (merging && anyMultiRelease && !manifestMultiRelease(shippedManifest)) {
        if (!multiReleaseManifest(*manifestArchive, plan, error)) return false;
    }

    // Each name's first archive; service lists of one name from several archives.
    std::unordered_map<std::string, const ArchiveInput*> taken;
    taken.emplace(MANIFEST_NAME, manifestArchive);
    std::unordered_set<std::string> reported;
    std::vector<ServiceList> services;
    std::unordered_map<std::string, std::size_t> serviceIndex;
    for (ArchiveInput& input : inputs) {
        bool differentRuntime = false;
        for (const ZipEntry& entry : input.entries) {
            if (isRuntimeClassName(entry.name)) {
                const auto own = ownRuntime.find(entry.name);
                if (own == ownRuntime.end() || own->second->crc != entry.crc || own->second->size != entry.size) {
                    differentRuntime = true;
                }
                continue;
            }
            if (merging && (entry.name == INDEX_NAME || (&input != manifestArchive && isSignatureFile(entry.name)))) {
                continue;
            }
            const bool service = merging && isServiceList(entry.name);
            const auto first = taken.emplace(entry.name, &input);
            if (first.second) {
                if (service) {
                    serviceIndex.emplace(entry.name, services.size());
                    services.push_back({plan.entries.size(), {{&entry, input.source.get(), &input}}});
                }
                plan.entries.push_back({&entry, input.source.get()});
                continue;
            }
            if (service) {
                services[serviceIndex[entry.name]].parts.push_back({&entry, input.source.get(), &input});
                continue;
            }
            // The manifest is merged above; folders hold nothing to lose.
            if (entry.name == MANIFEST_NAME || entry.name.back() == '/' || !reported.insert(entry.name).second) {
                continue;
            }
            const std::string& winner = first.first->second->name;
            plan.warnings.push_back(first.first->second == &input
                                        ? entry.name + " is twice in " + winner + "; the first is packed"
                                        : entry.name + " is in both " + winner + " and " + input.name +
                                              "; the one of " + winner + " is packed");
        }
        if (differentRuntime) {
            plan.warnings.push_back(input.name + " carries other com/quorvane/kvx classes than this kvxpack; "
                                    "kvxpack's own are packed instead");
        }
    }
    for (const ServiceList& list : services) {
        if (list.parts.size() > 1 && !mergeServiceList(list, manifestArchive, plan, error)) return false;
    }
    for (const ZipEntry& entry : runtime.entries) {
        if (isRuntimeClassName(entry.name) && taken.emplace(entry.name, &runtime).second) {
            plan.entries.push_back({&entry, runtime.source.get()});
        }
    }
    return true;
}

void appendMadeEntry(MergePlan& plan, const std::string& name, std::string data) {
    ZipEntry like;
    like.name = name;
    ByteSource* source = nullptr;
    const ZipEntry* made = makeEntry(like, std::move(data), plan, source);
    plan.entries.push_back({made, source});
}

}  // namespace kvxpack
