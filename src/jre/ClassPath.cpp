#include "jre/ClassPath.h"

#include <cstdint>

#include "base/GrowBuffer.h"
#include "base/StringPool.h"
#include "base/TextView.h"
#include "config/AppPaths.h"
#include "config/ConfigStore.h"
#include "config/EnvRefs.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"

namespace kvx {

namespace {

constexpr char CLASSPATH_VALUE_SEPARATOR = ';';

struct DirectoryId {
    uint64_t volume;
    uint64_t index;
};

using DirectoryIdList = GrowBuffer<DirectoryId>;

bool equalsIgnoringCase(const char* text, int32_t length, const char* lowerCase) {
    int32_t i = 0;
    for (; i < length && lowerCase[i] != '\0'; ++i) {
        if (asciiLower(text[i]) != lowerCase[i]) return false;
    }
    return i == length && lowerCase[i] == '\0';
}

// True for a file name whose part from its last "." on is ".jar" or ".zip" in any case.
bool isArchiveName(const AppString& name) {
    int32_t dot = -1;
    for (int32_t i = name.length() - 1; i >= 0; --i) {
        if (name.charAt(i, '\0') == '.') {
            dot = i;
            break;
        }
    }
    if (dot < 0) return false;
    const char* extension = name.c_str() + dot;
    int32_t length = name.length() - dot;
    return equalsIgnoringCase(extension, length, ".jar") || equalsIgnoringCase(extension, length, ".zip");
}

bool onDescentPath(const DirectoryIdList& ancestors, const DirectoryId& id) {
    for (int32_t i = 0; i < ancestors.length(); ++i) {
        const DirectoryId& a = ancestors.data()[i];
        if (a.volume == id.volume && a.index == id.index) return true;
    }
    return false;
}

void scanInto(const AppString& directory, AppString& out, DirectoryIdList& ancestors) {
    // Directory cycles (a link or junction back to an ancestor) would never end the descent:
    // a directory that is already on the current descent path is not entered again. Only
    // ancestors count, so a directory reached twice through sibling links is still listed
    // twice, as a tree without links would list it.
    DirectoryId id{};
    bool known = platform::DirectoryEnumeration::directoryIdentity(directory.c_str(), id.volume, id.index);
    if (known) {
        if (onDescentPath(ancestors, id)) return;
        if (!ancestors.appendElements(&id, 1)) known = false;
    }

    AppString base(directory);
    if (!isPathSeparator(base.lastChar())) base.appendChar(platform::nativeSeparator());

    platform::DirectoryEnumeration entries;
    if (entries.open(base.c_str())) {
        const char separator = platform::classPathSeparator();
        AppString name;
        bool isDirectory = false;
        while (entries.next(name, isDirectory)) {
            if (isDirectory) {
                if (name == "." || name == "..") continue;
                scanInto(base + name, out, ancestors);
            } else if (isArchiveName(name)) {
                out.appendChar(separator);
                out.append(base);
                out.append(name);
            }
        }
    }

    if (known) ancestors.setLength(ancestors.length() - 1);
}

}  // namespace

void appendNonEmptyEntries(const AppString& list, AppString& out) {
    const char separator = platform::classPathSeparator();
    const char* text = list.c_str();
    int32_t start = 0;
    for (int32_t i = 0; i <= list.length(); ++i) {
        if (i < list.length() && text[i] != separator) continue;
        if (i > start) {
            out.appendChar(separator);
            out.append(text + start, i - start);
        }
        start = i + 1;
    }
}

AppString buildClassPath(const ConfigStore& store, const AppString& kept) {
    AppString accumulator;
    store.find(AppString("classpath"), appendClassPathValue, &accumulator);

    // The running executable first: the application's classes travel inside it.
    AppString classPath = platform::modulePath();
    classPath.append(kept);
    classPath.append(accumulator);

    // Both are read before either is used. Their empty entries are dropped: Java reads an
    // empty entry as the current directory, which no one meant by an empty variable.
    AppString classpathVar;
    AppString classPathVar;
    platform::getEnv("CLASSPATH", classpathVar);
    platform::getEnv("CLASS_PATH", classPathVar);
    appendNonEmptyEntries(classpathVar, classPath);
    appendNonEmptyEntries(classPathVar, classPath);

    StringPool libraryDirectories;
    store.find(AppString("libs"), addExpandedValue, &libraryDirectories);
    for (int32_t i = 0; i < libraryDirectories.count(); ++i) {
        AppString directory = resolveBesideExecutable(AppString(libraryDirectories.entry(i)));
        AppString archives;
        scanLibraryDirectory(directory, archives);
        if (!archives.isEmpty()) classPath.append(archives);
    }
    return classPath;
}

void appendClassPathValue(void* accumulator, const char* value) {
    if (!accumulator || !value) return;
    AppString& out = *static_cast<AppString*>(accumulator);
    const char separator = platform::classPathSeparator();
    const char* piece = value;
    for (;;) {
        const char* end = piece;
        while (*end != '\0' && *end != CLASSPATH_VALUE_SEPARATOR) ++end;
        if (end != piece) {
            out.appendChar(separator);
            out.append(resolveBesideExecutable(expandEnvRefs(AppString(piece, static_cast<int32_t>(end - piece)))));
        }
        if (*end == '\0') break;
        piece = end + 1;
    }
}

void addExpandedValue(void* pool, const char* value) {
    if (!pool) return;
    static_cast<StringPool*>(pool)->add(expandEnvRefs(AppString(value)).c_str());
}

void scanLibraryDirectory(const AppString& directory, AppString& out) {
    DirectoryIdList ancestors;
    scanInto(directory, out, ancestors);
}

}  // namespace kvx
