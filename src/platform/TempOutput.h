#pragma once
// TempOutput: a file written beside its target under a temporary name and moved into place
// only by commit(), so the target is never seen half-written and an existing one survives
// any failure. Without a commit the temporary file is removed, also when the process is
// interrupted (SIGINT, SIGTERM, SIGHUP, and SIGBUS from a mapped input cut shorter; Ctrl-C
// and console close on Windows).

#include <string>

#include "platform/File.h"

namespace kvx::platform {

class TempOutput {
public:
    TempOutput() = default;
    ~TempOutput();
    TempOutput(const TempOutput&) = delete;
    TempOutput& operator=(const TempOutput&) = delete;

    // `target` must name a regular file or nothing; its folder must exist.
    [[nodiscard]] bool create(const std::string& target, std::string& error);
    File& file() { return file_; }
    // Closes the file, makes it executable and replaces the target with it. The target must
    // still be a regular file or missing.
    [[nodiscard]] bool commit(std::string& error);
    void discard();

private:
    File file_;
    std::string target_;
    std::string tempPath_;
};

// The temporary name used beside `target` for attempt `attempt`: a hidden name no longer
// than the target's own name (at least 8 characters), so it fits wherever the target fits.
std::string temporaryNameBeside(const std::string& target, unsigned long tag, int attempt);

// The directory part of `path` including its final separator ("" for a bare file name),
// so that directoryOf(p) + name names a file beside p.
std::string directoryOf(const std::string& path);

// --- implemented once per system ---
// Replaces `to` with `from` in one step; `to` is untouched when this fails.
[[nodiscard]] bool replaceFile(const std::string& from, const std::string& to, std::string& error);
// Best effort, for cleaning up after a failure.
void removeFile(const std::string& path);
// Lets the owner run the file (POSIX execute bits after the process umask; nothing on Windows).
[[nodiscard]] bool makeExecutable(const std::string& path, std::string& error);
// A number that makes temporary names of concurrent runs differ (the process id).
unsigned long processTag();
// The one temporary file an interrupt removes (empty: none). Safe against the signal handler.
void setInterruptCleanup(const std::string& path);

}  // namespace kvx::platform
