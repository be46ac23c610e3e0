#pragma once
// The few file-system operations kvxpack needs besides reading and writing files,
// implemented once per operating system (FileSystem_posix.cpp, FileSystem_win32.cpp).

#include <string>

namespace kvxpack {

// The kind of system this kvxpack was built for; it picks the stub taken by default.
enum class HostKind { Linux, Windows32, Windows64 };
HostKind hostKind();

// Full path of the running kvxpack executable, or empty text when the system does not say.
std::string executablePath();

// The directory part of `path` including its final separator ("" for a bare file name),
// so that directoryOf(p) + name names a file beside p.
std::string directoryOf(const std::string& path);

// Replaces `to` with `from` in one step; `to` is untouched when this fails.
[[nodiscard]] bool replaceFile(const std::string& from, const std::string& to, std::string& error);

// Best effort: used to clean up after a failure, when there is nothing more to report.
void removeFile(const std::string& path);

// Lets the owner run the file (POSIX execute bits after the process umask; nothing on Windows).
[[nodiscard]] bool makeExecutable(const std::string& path, std::string& error);

// A short tag that makes temporary names of concurrent runs differ (the process id).
std::string processTag();

}  // namespace kvxpack
