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

// Decimal digits up to the next space, without overflow; null for anything else. (Our own
// parser: the C library's strtoull would link in the locale-aware parser and its tables.)
const char* parseCount(const char* text, uint64_t& value) {
    value = 0;
    const char* p = text;
    for (; *p >= '0' && *p <= '9'; ++p) {
        const uint64_t digit = static_cast<uint64_t>(*p - '0');
        if (value > (~0ULL - digit) / 10) return nullptr;
        value = value * 10 + digit;
    }
    return p != text && *p == ' ' ? p : nullptr;
}

// "<sha256> <size> <offset> <name>"; false for anything else.
bool parseKeptJar(const char* value, KeptJar& jar) {
    for (int32_t i = 0; i < HASH_DIGITS; ++i) {
        if (!isHexDigit(value[i])) return false;
    }
    if (value[HASH_DIGITS] != ' ') return false;
    jar.hash = AppString(value, HASH_DIGITS);
    const char* end = parseCount(value + HASH_DIGITS + 1, jar.size);
    if (end) end = parseCount(end + 1, jar.offset);
    if (!end) return false;
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
            if (isDirectory || stem <= 0 || std::strcmp(name.c_str() + stem, RECORD_SUFFIX) != 0 || name == ownRecord) {
                continue;
            }
            const AppString record = folder + name;
            AppString text;
            if (!platform::appendFileContents(record.c_str(), text)) continue;
            const char* lineEnd = std::strchr(text.c_str(), '\n');
            AppString executable(text.c_str(), lineEnd ? static_cast<int32_t>(lineEnd - text.c_str()) : -1);
            const bool gone = !platform::pathExists(executable.c_str());
            (gone ? candidates : live).append(text);
            if (gone) platform::removeFile(record.c_str());
        }
    }
    for (const char* line = std::strchr(candidates.c_str(), '\n'); line; line = std::strchr(line + 1, '\n')) {
        int32_t digits = 0;
        while (digits < HASH_DIGITS && isHexDigit(line[1 + digits])) ++digits;
        if (digits < HASH_DIGITS) continue;
        AppString key(line, HASH_DIGITS + 1);
        if (std::strstr(live.c_str(), key.c_str())) continue;
        AppString path = folder + key.mid(1) + ".jar";
        if (platform::removeFile(path.c_str())) trace("kept jars: %s removed, no application names it", path.c_str());
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
    // Without a profile folder there is nowhere to keep them (never the file system's root).
    if (folder.isEmpty()) return LAUNCH_KEPT_JARS_UNWRITABLE;
    if (!isPathSeparator(folder.lastChar())) folder.appendChar(separator);
    folder.append("kvx");
    const bool ownFolderMade = platform::createDirectories(folder.c_str());
    const bool ownFolderPrivate = ownFolderMade && platform::isPrivateDirectory(folder.c_str());
    folder.appendChar(separator);
    folder.append("jars");
    // Code is run from here: a folder someone else can change is refused, not used.
    if (!ownFolderPrivate || !platform::createDirectories(folder.c_str()) ||
        !platform::isPrivateDirectory(folder.c_str())) {
        return LAUNCH_KEPT_JARS_UNWRITABLE;
    }
    // The message names the folder as it is; paths are made from `base`.
    AppString base = folder;
    base.appendChar(separator);

    AppString recordName;
    recordName.format("%016llx%s", static_cast<unsigned long long>(fnv1a(executable)), RECORD_SUFFIX);
    AppString oldRecord;
    (void)platform::appendFileContents((base + recordName).c_str(), oldRecord);
    AppString newRecord = executable;
    newRecord.appendChar('\n');
    platform::MappedFile self;
    AppString writing;

    for (int32_t i = 0; i < values.count(); ++i) {
        KeptJar jar;
        if (!parseKeptJar(values.entry(i), jar)) return LAUNCH_VM_INIT_FAILED;
        AppString path = base;
        path.append(jar.hash);
        path.append(".jar");
        AppString line("\n");
        line.append(jar.hash);
        line.appendChar(' ');
        const int32_t identityAt = line.length();
        line.append(platform::fileIdentityText(path.c_str()));
        line.appendChar('\n');
        const bool present = line.length() > identityAt + 1;
        // The record holds each copy's identity as this executable last knew it good: the
        // same identity means the same bytes unless someone who writes as this user forged
        // the change time too, and could as well change this user's environment.
        const char* done = "reused";
        if (!present || !std::strstr(oldRecord.c_str(), line.c_str())) {
            done = "checked";
            if (!present || !hasContent(path, jar.size, jar.hash)) {
                done = "copied";
                if (!self.data() && !self.openModuleTail(~0ULL)) return LAUNCH_VM_INIT_FAILED;
                if (self.size() != self.fileSize() || jar.offset > self.size() ||
                    jar.size > self.size() - jar.offset) {
                    return LAUNCH_VM_INIT_FAILED;
                }
                // A name of this start's own, renamed when whole: simultaneous first starts
                // never share a half-written file, and the last rename wins with equal bytes.
                writing.format("%s.%u.tmp", path.c_str(), platform::currentProcessId());
                platform::removeFile(writing.c_str());
                const bool written = platform::writeNewFile(writing.c_str(), self.data() + jar.offset, jar.size);
                if (!written || !platform::renameReplacing(writing.c_str(), path.c_str())) {
                    platform::removeFile(writing.c_str());
                    // Windows refuses to replace a jar another start holds open: that one
                    // serves once it proves whole.
                    if (!written || !hasContent(path, jar.size, jar.hash)) return LAUNCH_KEPT_JARS_UNWRITABLE;
                }
            }
            line.setLength(identityAt);
            line.append(platform::fileIdentityText(path.c_str()));
            line.appendChar('\n');
        }
        trace("kept jars: %s %s for %s (%llu bytes)", path.c_str(), done, jar.name,
              static_cast<unsigned long long>(jar.size));
        newRecord.append(line.c_str() + 1);
        entries.appendChar(platform::classPathSeparator());
        entries.append(path);
    }

    if (!(newRecord == oldRecord)) {
        // Without a record the next start checks each copy again: slower, never wrong.
        writing.format("%s%s.%u.tmp", base.c_str(), recordName.c_str(), platform::currentProcessId());
        platform::removeFile(writing.c_str());
        if (!platform::writeNewFile(writing.c_str(), reinterpret_cast<const unsigned char*>(newRecord.c_str()),
                                    static_cast<uint64_t>(newRecord.length())) ||
            !platform::renameReplacing(writing.c_str(), (base + recordName).c_str())) {
            platform::removeFile(writing.c_str());
        }
        removeUnused(base, recordName, oldRecord, newRecord);
    }
    return LAUNCH_OK;
}

}  // namespace kvx
