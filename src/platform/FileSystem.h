#pragma once
// Paths, directories and the access test.

#include <cstdint>

#include "base/AppString.h"

namespace kvx::platform {

// Full path of the running executable as ANSI text (empty when it cannot be had in full;
// the launcher never works with a truncated path). Windows reads the path wide; where the
// ANSI code page cannot hold it, its short (8.3) form stands in, and where that cannot be
// held either, the result is empty and modulePathHasNoAnsiForm() tells why.
AppString modulePath();
// True when the executable's path exists but neither it nor its short form can be written
// in the ANSI code page (always false on Linux, whose paths are bytes).
bool modulePathHasNoAnsiForm();
// The working directory (empty on failure).
AppString currentDirectory();
bool setCurrentDirectory(const char* path);
// GetFullPathNameA: the absolute, normalised form of `path` in `buffer`. Returns the length
// written (without terminator), the size needed (terminator included) when `bufferSize`
// is too small, or 0 on failure.
uint32_t fullPathName(const char* path, char* buffer, uint32_t bufferSize);
// The access test for read permission: existing readable files and directories pass.
bool isReadable(const char* path);
// True when something exists at `path` (readable or not); tells "missing" from "unreadable".
bool pathExists(const char* path);
// The character that joins class path entries for the Java runtime of this platform
// (";" on Windows, ":" on Linux).
char classPathSeparator();
// The separator this platform's own paths use when the launcher joins fixed parts
// ("\\" on Windows, "/" on Linux).
char nativeSeparator();

// Enumerates one directory ("." and ".." included, as the platform returns them), in the
// order the file system returns entries. Owns the find handle.
class DirectoryEnumeration {
public:
    DirectoryEnumeration() = default;
    ~DirectoryEnumeration();
    DirectoryEnumeration(const DirectoryEnumeration&) = delete;
    DirectoryEnumeration& operator=(const DirectoryEnumeration&) = delete;

    // Starts enumerating `directory` (which ends in a separator) with the pattern "*.*".
    [[nodiscard]] bool open(const char* directory);
    // The next entry; false at the end.
    [[nodiscard]] bool next(AppString& name, bool& isDirectory);
    void close();

    // An identity of the directory on disk (device and file index), for cycle detection.
    // False when the platform cannot tell.
    static bool directoryIdentity(const char* directory, uint64_t& volume, uint64_t& index);

private:
    struct State;
    State* state_ = nullptr;
};

}  // namespace kvx::platform
