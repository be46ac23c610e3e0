#include "platform/TempOutput.h"

namespace kvx::platform {

namespace {
// A clash with a stale file of an earlier run just moves on to the next name.
constexpr int NAME_ATTEMPTS = 100;
// Names shorter than this still get this many characters, enough to be unique.
constexpr std::size_t MIN_TEMP_NAME = 8;
constexpr std::size_t MAX_TEMP_NAME = 24;
}  // namespace

std::string temporaryNameBeside(const std::string& target, unsigned long tag, int attempt) {
    const std::string folder = directoryOf(target);
    const std::size_t nameLength = target.size() - folder.size();
    // Never longer than the target's name: a name that fits its folder's limits keeps fitting.
    std::size_t length = nameLength < MIN_TEMP_NAME ? MIN_TEMP_NAME : nameLength;
    if (length > MAX_TEMP_NAME) length = MAX_TEMP_NAME;
    // A dot in front keeps the half-written file out of ordinary listings on POSIX systems.
    std::string name = ".kx";
    unsigned long long mix = (static_cast<unsigned long long>(tag) << 8) ^ static_cast<unsigned long long>(attempt);
    static const char DIGITS[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    std::string digits;
    do {
        digits.push_back(DIGITS[mix % 36]);
        mix /= 36;
    } while (mix != 0);
    name += digits;
    // The process tag and attempt come first; the rest is filler up to the length.
    if (name.size() > length) name.resize(length);
    while (name.size() < length) name.push_back('_');
    return folder + name;
}

TempOutput::~TempOutput() { discard(); }

void TempOutput::discard() {
    if (tempPath_.empty()) return;
    (void)file_.close();
    removeFile(tempPath_);
    setInterruptCleanup(std::string());
    tempPath_.clear();
}

bool TempOutput::create(const std::string& target, std::string& error) {
    discard();
    target_ = target;
    for (int attempt = 0; attempt < NAME_ATTEMPTS; ++attempt) {
        const std::string candidate = temporaryNameBeside(target, processTag(), attempt);
        // Named for the interrupt cleanup before it exists, so no moment leaves it behind.
        setInterruptCleanup(candidate);
        if (file_.createNew(candidate)) {
            tempPath_ = candidate;
            return true;
        }
        setInterruptCleanup(std::string());
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
    // Checked once more right before the move: what appeared meanwhile is not replaced.
    const FileKind kind = fileKind(target_);
    if (kind != FileKind::Regular && kind != FileKind::Missing) {
        error = target_ + " is " + fileKindText(kind) + ", not replaced";
        return false;
    }
    if (!replaceFile(tempPath_, target_, error)) {
        error = "cannot move the result to " + target_ + ": " + error;
        return false;
    }
    setInterruptCleanup(std::string());
    tempPath_.clear();
    return true;
}

}  // namespace kvx::platform
