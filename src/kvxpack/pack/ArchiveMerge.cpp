#include "pack/ArchiveMerge.h"

#include <unordered_map>
#include <unordered_set>

#include "pack/RuntimeClasses.h"
#include "zip/EntryText.h"

namespace kvxpack {

namespace {

constexpr char MANIFEST_NAME[] = "META-INF/MANIFEST.MF";
constexpr char INDEX_NAME[] = "META-INF/INDEX.LIST";
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
    plan = MergePlan{};
    std::unordered_map<std::string, const ZipEntry*> ownRuntime;
    for (const ZipEntry& entry : runtime.entries) {
        if (isRuntimeClassName(entry.name)) ownRuntime.emplace(entry.name, &entry);
    }
    if (ownRuntime.empty()) {
        error = "the runtime classes built into kvxpack are missing (" + runtime.name + ")";
        return false;
    }

    // The manifest that ships, and the archive it belongs to.
    const ArchiveInput* manifestArchive = nullptr;
    for (ArchiveInput& input : inputs) {
        for (const ZipEntry& entry : input.entries) {
            if (entry.name != MANIFEST_NAME) continue;
            std::string manifest;
            if (!readEntryText(*input.source, entry, MANIFEST_READ_LIMIT, manifest, error)) {
                error = input.name + ": " + error;
                return false;
            }
            plan.mainClass = manifestMainClass(manifest);
            plan.manifestFrom = input.name;
            plan.entries.push_back({&entry, input.source.get()});
            manifestArchive = &input;
            break;
        }
        if (manifestArchive) break;
    }

    std::unordered_set<std::string> taken;
    taken.insert(MANIFEST_NAME);
    const bool merging = inputs.size() > 1;
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
            if (!taken.insert(entry.name).second) continue;
            plan.entries.push_back({&entry, input.source.get()});
        }
        if (differentRuntime) {
            plan.warnings.push_back(input.name + " carries other com/quorvane/kvx classes than this kvxpack; "
                                    "kvxpack's own are packed instead");
        }
    }
    for (const ZipEntry& entry : runtime.entries) {
        if (isRuntimeClassName(entry.name) && taken.insert(entry.name).second) {
            plan.entries.push_back({&entry, runtime.source.get()});
        }
    }
    return true;
}

}  // namespace kvxpack
