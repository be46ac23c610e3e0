#include "jre/KeptJars.h"

#include <cstdlib>
#include <cstring>

#include "base/Sha256.h"
#include "base/StringPool.h"
#include "base/TextView.h"
#include "base/Trace.h"
#include "config/ConfigStore.h"
#include "platform/CacheFiles.h"
#include "platform/FileSystem.h"
#include "platform/MappedFile.h"

namespace kvx {

namespace {

constexpr int32_t HASH_DIGITS = 64;
constexpr const char* RECORD_SUFFIX = ".kept";

struct KeptJar {
    AppString hash;
    uint64_t size = 0;
    uint64_t offset = 0;
    const char* name = "";
};

void collectValue(void* pool, const char* value) { static_cast<StringPool*>(pool)->add(value); }

bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); }

// "<sha256> <size> <offset> <name>"; false for anything else.
bool parseKeptJar(const char* value, KeptJar& jar) {
    for (int32_t i = 0; i < HASH_DIGITS; ++i) {
        if (!isHexDigit(value[i])) return false;
    }
    if (value[HASH_DIGITS] != ' ') return false;
    jar.hash = AppString(value, HASH_DIGITS);
    char* end = nullptr;
    jar.size = std::strtoull(value + HASH_DIGITS + 1, &end, 10);
    if (*end != ' ') return false;
    jar.offset = std::strtoull(end + 1, &end, 10);
    if (*end != ' ') return false;
    jar.name = end + 1;
    return true;
}

// True when the file at `path` holds `size` bytes whose SHA-256 is `hash`.
bool hasContent(const AppString& path, uint64_t size, const AppString& hash) {
    platform::MappedFile file;
    if (!file.openTail(path.c_str(), ~0ULL) || file.fileSize() != size || file.size() != size) return false;
    Sha256 sha;
    sha.update(file.data(), static_cast<size_t>(size));
    char digest[HASH_DIGITS + 1];
    sha.finishHex(digest);
    return hash == digest;
}

uint64_t fnv1a(const AppString& text) {
    uint64_t hash = 14695981039346656037ULL;
    for (int32_t i = 0; i < text.length(); ++i) {
        hash ^= static_cast<unsigned char>(text.c_str()[i]);
        hash *= 1099511628211ULL;
    }
    return hash;
}

// Bounded disk use: the jars the executable's previous record named and this one does not,
// and those of records whose executable is gone, are removed unless a live record (another
// application sharing a jar) still names them. A jar a running process holds open stays
// where the system refuses.
void removeUnused(const AppString& folder, const AppString& ownRecord, const AppString& oldRecord,
                  const AppString& newRecord) {
    AppString candidates = oldRecord;
    AppString live = newRecord;
    platform::DirectoryEnumeration entries;
    if (entries.open(folder.c_str())) {
        AppString name;
        bool isDirectory = false;
        while (entries.next(name, isDirectory)) {
            const int32_t stem = name.length() - static_cast<int32_t>(std::strlen(RECORD_SUFFIX));
            if (isDirectory || stem <= 0 || !(name.mid(stem) == RECORD_SUFFIX) || name == ownRecord) continue;
            AppString text;
            if (!platform::appendFileContents((folder + name).c_str(), text)) continue;
            const char* lineEnd = std::strchr(text.c_str(), '\n');
            AppString executable(text.c_str(), lineEnd ? static_cast<int32_t>(lineEnd - text.c_str()) : -1);
            if (platform::pathExists(executable.c_str())) {
                live.append(text);
            } else {
                trace("kept jars: %s is gone; its record %s goes", executable.c_str(), name.c_str());
                platform::removeFile((folder + name).c_str());
                candidates.append(text);
            }
        }
    }
    for (const char* line = std::strchr(candidates.c_str(), '\n'); line; line = std::strchr(line + 1, '\n')) {
        int32_t digits = 0;
        while (digits < HASH_DIGITS && isHexDigit(line[1 + digits])) ++digits;
        if (digits < HASH_DIGITS) continue;
        AppString key("\n");
        key.append(line + 1, HASH_DIGITS);
        if (std::strstr(live.c_str(), key.c_str())) continue;
        AppString path = folder + key.mid(1) + ".jar";
        if (platform::removeFile(path.c_str())) trace("kept jars: removed %s, which no application names any more", path.c_str());
    }
}

}  // namespace

LaunchError prepareKeptJars(const ConfigStore& store, const AppString& executable, AppString& entries,
                            AppString& folder) {
    StringPool values;
    store.find(AppString("keepjar"), collectValue, &values, true);
    if (values.count() == 0) return LAUNCH_OK;

    const char separator = platform::nativeSeparator();
    folder = platform::userCacheDirectory();
    if (!isPathSeparator(folder.lastChar())) folder.appendChar(separator);
    folder.append("kvx");
    const AppString ownFolder = folder;
    folder.appendChar(separator);
    folder.append("jars");
    // Code is run from here: a folder someone else can change is refused, not used.
    if (!platform::createDirectories(folder.c_str()) || !platform::isPrivateDirectory(ownFolder.c_str()) ||
        !platform::isPrivateDirectory(folder.c_str())) {
        trace("kept jars: %s cannot be made, or is not this user's alone", folder.c_str());
        return LAUNCH_KEPT_JARS_UNWRITABLE;
    }
    folder.appendChar(separator);

    AppString recordName;
    recordName.format("%016llx%s", static_cast<unsigned long long>(fnv1a(executable)), RECORD_SUFFIX);
    AppString oldRecord;
    (void)platform::appendFileContents((folder + recordName).c_str(), oldRecord);
    AppString newRecord = executable + "\n";
    platform::MappedFile self;
    const char pathSeparator = platform::classPathSeparator();

    for (int32_t i = 0; i < values.count(); ++i) {
        KeptJar jar;
        if (!parseKeptJar(values.entry(i), jar)) {
            trace("kept jars: damaged line 'keepjar %s'", values.entry(i));
            return LAUNCH_VM_INIT_FAILED;
        }
        const AppString path = folder + jar.hash + ".jar";
        AppString identity = platform::fileIdentityText(path.c_str());
        AppString line = "\n" + jar.hash + " " + identity + "\n";
        // The record names the copy's identity as this executable last checked it: the same
        // identity means the same bytes unless someone who can write as this user forged the
        // times too (and could as well change this executable's environment).
        if (!identity.isEmpty() && std::strstr(oldRecord.c_str(), line.c_str())) {
            trace("kept jars: %s reused for %s", path.c_str(), jar.name);
        } else if (!identity.isEmpty() && hasContent(path, jar.size, jar.hash)) {
            trace("kept jars: %s checked for %s", path.c_str(), jar.name);
        } else {
            if (!self.data() && !self.openModuleTail(~0ULL)) return LAUNCH_VM_INIT_FAILED;
            if (self.size() != self.fileSize() || jar.offset > self.size() || jar.size > self.size() - jar.offset) {
                trace("kept jars: %s lies outside the executable", jar.name);
                return LAUNCH_VM_INIT_FAILED;
            }
            // A name of this start's own, renamed when whole: simultaneous first starts never
            // share a half-written file, and the last rename wins with the same bytes.
            AppString writing;
            writing.format("%s%s.%u.tmp", folder.c_str(), jar.hash.c_str(), platform::currentProcessId());
            platform::removeFile(writing.c_str());
            const bool written = platform::writeNewFile(writing.c_str(), self.data() + jar.offset, jar.size);
            if (!written || !platform::renameReplacing(writing.c_str(), path.c_str())) {
                platform::removeFile(writing.c_str());
                // Windows refuses to replace a jar that another start already holds open:
                // that one is used once it proves to be whole.
                if (!written || !hasContent(path, jar.size, jar.hash)) {
                    trace("kept jars: %s cannot be written", path.c_str());
                    return LAUNCH_KEPT_JARS_UNWRITABLE;
                }
            }
            trace("kept jars: %s copied for %s (%llu bytes)", path.c_str(), jar.name,
                  static_cast<unsigned long long>(jar.size));
            identity = platform::fileIdentityText(path.c_str());
        }
        newRecord.append(jar.hash);
        newRecord.appendChar(' ');
        newRecord.append(identity);
        newRecord.appendChar('\n');
        entries.appendChar(pathSeparator);
        entries.append(path);
    }

    if (!(newRecord == oldRecord)) {
        AppString writing;
        writing.format("%s%s.%u.tmp", folder.c_str(), recordName.c_str(), platform::currentProcessId());
        platform::removeFile(writing.c_str());
        // Without a record the next start checks each copy again: slower, never wrong.
        if (!platform::writeNewFile(writing.c_str(), reinterpret_cast<const unsigned char*>(newRecord.c_str()),
                                    static_cast<uint64_t>(newRecord.length())) ||
            !platform::renameReplacing(writing.c_str(), (folder + recordName).c_str())) {
            platform::removeFile(writing.c_str());
            trace("kept jars: the record %s%s cannot be written", folder.c_str(), recordName.c_str());
        }
        removeUnused(folder, recordName, oldRecord, newRecord);
    }
    return LAUNCH_OK;
}

}  // namespace kvx
