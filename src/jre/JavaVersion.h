#pragma once
// Java version numbers as the launcher compares them, read without starting Java: for
// `minjre`, the first two numbers of a version text ("1.8.0_292" is 1.8, "17.0.9" is 17.0,
// "21" is 21.0); for ranking runtimes against each other, the whole version.

#include <cstdint>

#include "base/AppString.h"

namespace kvx {

struct JavaVersion {
    int32_t major = 0;
    int32_t minor = 0;
};

// The "%d.%d" of `text`: numbers that are not there count as 0, and numbers beyond the
// range of int32 stop at its limits instead of wrapping, so every build reads a text alike.
JavaVersion parseJavaVersion(const char* text);
// True when `running` is below `required`, comparing major first, then minor, as numbers.
bool isVersionBelow(JavaVersion running, JavaVersion required);
// The same after reading the old "1.x" numbering as Java x ("1.8" is 8.0), so that a minimum
// of 8 and a runtime of 1.8.0_292 agree; numbers shown to the user stay as written.
bool isJavaVersionBelow(JavaVersion running, JavaVersion required);
// `version` in the numbering Java uses since 9: 1.x becomes x.0; others are unchanged.
JavaVersion featureNumbering(JavaVersion version);
// A runtime's whole version: feature, interim, update, patch and build, in the numbering Java
// uses since 9. "17.0.12+7" is 17, 0, 12, 0, 7; the old numbering reads as the Java it names,
// "1.8.0_292-b10" is 8, 0, 292, 0, 10. Missing numbers are 0.
struct RuntimeVersion {
    static constexpr int32_t PARTS = 5;
    int32_t part[PARTS] = {};
};

RuntimeVersion parseRuntimeVersion(const char* text);
// Part by part, feature first: negative when `a` is older than `b`, 0 when equal, else positive.
int compareRuntimeVersions(const RuntimeVersion& a, const RuntimeVersion& b);

// The JAVA_VERSION value of the `release` file in the Java home `home` (which may end in a
// separator or not), without its quotes; empty when the file or the line is missing.
AppString readReleaseVersion(const AppString& home);
// The whole version the `release` file states: JAVA_RUNTIME_VERSION ("17.0.12+7", which holds
// the build), else JAVA_VERSION; empty when neither is there.
AppString readReleaseRuntimeVersion(const AppString& home);

}  // namespace kvx
