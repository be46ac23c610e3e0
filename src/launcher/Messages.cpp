#include "launcher/Messages.h"

#include "launcher/Services.h"
#include "platform/ServiceControl.h"

namespace kvx {

namespace {

// String identifiers are 16-bit in a string table; anything else names no string.
constexpr int32_t MAX_STRING_ID = 0xFFFF;
constexpr int32_t STRINGS_PER_BLOCK = 16;

// The unit at `pos`, or 0 when `pos` lies outside the block.
uint32_t unitAt(const platform::StringBlock& block, uint64_t pos) {
    if (!block.units || pos >= block.count) return 0;
    return block.units[pos];
}

// The version pattern is a resource text, yet it still becomes a format string: accept only
// "%d" (at most four, one per number) and "%%", so no pattern can read an argument that is
// not there.
bool isVersionPattern(const AppString& pattern) {
    const char* p = pattern.c_str();
    int numbers = 0;
    for (; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        if (*p != 'd' || ++numbers > 4) return false;
    }
    return true;
}

// True when the conversions of `pattern` are exactly `expected` in order ("%%" aside).
bool hasConversions(const AppString& pattern, const char* expected) {
    const char* p = pattern.c_str();
    for (; *p; ++p) {
        if (*p != '%') continue;
        ++p;
        if (*p == '%') continue;
        if (*expected == '\0' || *p != *expected) return false;
        ++expected;
    }
    return *expected == '\0';
}

// A service has no one to see a box: its log file or the event log gets the text instead.
// Otherwise the failure text alone, or with the offer of `jreUrl` when one is given.
void deliverMessage(const AppString& text, const AppString& caption, LaunchError code, const char* jreUrl = nullptr) {
    if (platform::reportServiceMessage(text.c_str(), code)) return;
    if (!jreUrl || !*jreUrl) {
        platform::showWarning(text.c_str(), caption.c_str(), splashOwnerWindow());
        return;
    }
    AppString pattern;
    AppString where;
    AppString question;
    (void)loadStringResource(pattern, JRE_URL_WHERE_ID);
    if (hasConversions(pattern, "s"))
        where.format(pattern.c_str(), jreUrl);
    else
        where = AppString(jreUrl);
    (void)loadStringResource(question, JRE_URL_QUESTION_ID);
    platform::offerAddress(text.c_str(), where.c_str(), question.c_str(), caption.c_str(), jreUrl,
                           splashOwnerWindow());
}

}  // namespace

void stringFromBlock(AppString& out, int32_t id, const platform::StringBlock& block) {
    out.setLength(0);
    if (id < 0) return;
    uint64_t pos = 0;
    for (int32_t i = 0; i < id % STRINGS_PER_BLOCK; ++i) pos += 1 + unitAt(block, pos);
    uint64_t length = unitAt(block, pos);
    uint64_t start = pos + 1;
    if (length == 0 || start >= block.count) return;
    // A malformed count that runs past the block's end is clipped to the block.
    if (length > block.count - start) length = block.count - start;
    out.assignWide(block.units + start, static_cast<int32_t>(length));
}

bool loadStringResource(AppString& out, int32_t id) {
    out.setLength(0);
    if (id < 0 || id > MAX_STRING_ID) return false;
    platform::StringBlock block;
    if (!platform::findStringBlock(static_cast<uint32_t>(id / STRINGS_PER_BLOCK + 1), block)) return false;
    stringFromBlock(out, id, block);
    return true;
}

void formatLaunchMessage(AppString& out, LaunchError code, const AppString& pattern, int runningMajor,
                         int runningMinor, int requiredMajor, int requiredMinor) {
    if (code != LAUNCH_VERSION_TOO_LOW || !isVersionPattern(pattern)) {
        out = pattern;
        return;
    }
    if (pattern.isEmpty()) {
        out.setLength(0);
        return;
    }
    out.format(pattern.c_str(), runningMajor, runningMinor, requiredMajor, requiredMinor);
}

void composeLaunchError(AppString& text, AppString& caption, LaunchError code, int runningMajor,
                        int runningMinor, int requiredMajor, int requiredMinor) {
    // A missing string leaves its text empty; the box is shown all the same.
    AppString pattern;
    (void)loadStringResource(pattern, code);
    formatLaunchMessage(text, code, pattern, runningMajor, runningMinor, requiredMajor, requiredMinor);
    (void)loadStringResource(caption, MESSAGE_CAPTION_ID);
}

void formatArchitectureMessage(AppString& out, const AppString& pattern, const char* path, int runtimeBits,
                               int programBits) {
    if (pattern.isEmpty() || !hasConversions(pattern, "sdd")) {
        out = pattern;
        return;
    }
    out.format(pattern.c_str(), path ? path : "", runtimeBits, programBits);
}

void showArchitectureError(const char* path, int runtimeBits, int programBits, const char* jreUrl) {
    AppString pattern;
    AppString text;
    AppString caption;
    (void)loadStringResource(pattern, LAUNCH_JRE_WRONG_ARCHITECTURE);
    formatArchitectureMessage(text, pattern, path, runtimeBits, programBits);
    (void)loadStringResource(caption, MESSAGE_CAPTION_ID);
    deliverMessage(text, caption, LAUNCH_JRE_WRONG_ARCHITECTURE, jreUrl);
}

void showFolderError(LaunchError code, const char* folder) {
    AppString pattern;
    AppString text;
    AppString caption;
    (void)loadStringResource(pattern, code);
    if (hasConversions(pattern, "s")) {
        text.format(pattern.c_str(), folder);
    } else {
        text = pattern;
    }
    (void)loadStringResource(caption, MESSAGE_CAPTION_ID);
    deliverMessage(text, caption, code);
}

void showLaunchError(LaunchError code, int runningMajor, int runningMinor, int requiredMajor,
                     int requiredMinor, const char* jreUrl) {
    AppString text;
    AppString caption;
    composeLaunchError(text, caption, code, runningMajor, runningMinor, requiredMajor, requiredMinor);
    deliverMessage(text, caption, code, jreUrl);
}

}  // namespace kvx
