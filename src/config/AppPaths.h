#pragma once
// The paths the launcher locates everything by: the executable's directory and the
// start-up directory (process-wide, set once by ConfigStore construction), relative-path
// resolution, the working-directory change and the readable-path test.

#include <cstdint>

#include "base/AppString.h"

namespace kvx {

// The executable's directory, up to and including its last separator ("" when none).
const AppString& executableDir();
// The working directory at start-up, always ending in a separator.
const AppString& startupDir();
// Set by ConfigStore construction (and by tests).
void setApplicationPaths(const AppString& modulePath, const AppString& startupDirectory);

// The start-up directory as recorded: the working directory, "/" appended unless it ends
// in "\" or "/".
AppString startupDirFrom(const AppString& workingDirectory);
// `modulePath` up to and including its last "\" or "/".
AppString directoryOf(const AppString& path);

bool isReadablePath(const char* path);
// Absolute paths ("\", "/" or "X:" second character) unchanged; otherwise the executable's
// directory joined with `path` if readable, else the start-up directory's if readable,
// else the executable's directory's.
AppString resolveAppPath(const AppString& path);
// Relative paths against the executable's directory only, never the start-up directory:
// for everything that decides which code runs (`jvmdll`, `classpath`, `libs`), so that a
// library or classes planted in the folder a user starts from are never picked up.
// Absolute paths as `resolveAppPath` keeps them.
AppString resolveBesideExecutable(const AppString& path);
// GetFullPathNameA of `path` taken relative to `base`.
uint32_t fullPathFrom(const AppString& base, const char* path, char* buffer, uint32_t bufferSize);
// Changes the working directory to `value` resolved against the executable's directory;
// a value that cannot be resolved or names no directory changes nothing.
void setWorkingDir(const char* value);

}  // namespace kvx
