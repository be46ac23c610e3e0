#include "os/TempOutput.h"

#include "os/FileSystem.h"

namespace kvxpack {

namespace {
// Names are made unique by process id and a counter; a clash with a stale file just moves on.
constexpr int NAME_ATTEMPTS = 100;
}  // namespace

TempOutput::~TempOutput() {
    if (tempPath_.empty()) return;
    (void)file_.close();
    removeFile(tempPath_);
}

bool TempOutput::create(const std::string& target, std::string& error) {
    target_ = target;
    const std::string folder = directoryOf(target);
    // A dot in front keeps the half-written file out of ordinary listings on POSIX systems.
    const std::string stem = folder + "." + target.substr(folder.size()) + ".kvxpack-" + processTag() + "-";
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        const std::string candidate = stem + std::to_string(attempt);
        if (file_.createNew(candidate)) {
            tempPath_ = candidate;
            return true;
        }
        if (!file_.nameTaken()) break;
    }
    error = "cannot create a temporary file beside " + target + ": " + file_.lastError();
    return false;
}

bool TempOutput::commit(std::string& error) {
    if (!file_.close()) {
        error = "cannot finish writing " + tempPath_ + ": " + file_.lastError();
        return false;
    }
    if (!makeExecutable(tempPath_, error)) {
        error = "cannot mark " + tempPath_ + " executable: " + error;
        return false;
    }
    if (!replaceFile(tempPath_, target_, error)) {
        error = "cannot move the result to " + target_ + ": " + error;
        return false;
    }
    tempPath_.clear();
    return true;
}

}  // namespace kvxpack
