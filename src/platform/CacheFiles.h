#pragma once
// What the launcher needs to keep per-user cache files: the cache folder, file stamps,
// creation, atomic replacement, free space, and a quiet helper process.

#include <cstdint>

#include "base/AppString.h"
#include "base/StringPool.h"

namespace kvx::platform {

// The per-user cache folder without a trailing separator: %LOCALAPPDATA% on Windows;
// $XDG_CACHE_HOME, else $HOME/.cache on Linux. Empty when the environment names none.
AppString userCacheDirectory();

// Size and last modification time (in the platform's own units) of a file.
struct FileStamp {
    uint64_t size = 0;
    int64_t modified = 0;
};
[[nodiscard]] bool fileStamp(const char* path, FileStamp& out);

// What tells a file from one rewritten or put in its place, as text: size, modification and
// change times (on Linux also volume and file number). Empty when `path` names no regular file.
AppString fileIdentityText(const char* path);
// Creates `path`, which must not exist yet, holding `size` bytes of `data`; on failure nothing
// is left behind.
[[nodiscard]] bool writeNewFile(const char* path, const unsigned char* data, uint64_t size);

// Creates `path` and its missing parents; true when it is a directory afterwards.
[[nodiscard]] bool createDirectories(const char* path);
// True when `path` is a folder that no other user can change: on Linux a real folder (not a
// link) owned by this user and writable by no group or other; on Windows any folder (the
// per-user profile's permissions keep it private).
[[nodiscard]] bool isPrivateDirectory(const char* path);
// Creates a new empty file; false when it exists already or cannot be created.
[[nodiscard]] bool createNewFile(const char* path);
bool removeFile(const char* path);
// Gives `from` the name `to`, replacing an existing `to` in one step.
[[nodiscard]] bool renameReplacing(const char* from, const char* to);
// Bytes this user may still write on the volume holding `path`; 0 when unknown.
uint64_t freeDiskBytes(const char* path);
uint32_t currentProcessId();

// File name of the JDK's own launcher in a Java home's bin folder ("java.exe", "java").
const char* javaLauncherName();

// Runs `args` (program path first) with no window and the null device as standard input,
// output and error, and no other handle of this process; waits at most `timeoutMs` (then
// ends it). True when it exited with 0.
[[nodiscard]] bool runQuietly(const StringPool& args, uint32_t timeoutMs);

}  // namespace kvx::platform
