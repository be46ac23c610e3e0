#pragma once
// LaunchError: 0 for success, otherwise a failure code that is also the string-table
// identifier of its message.

#include <cstdint>

namespace kvx {

using LaunchError = int32_t;

constexpr LaunchError LAUNCH_OK = 0;
constexpr LaunchError LAUNCH_JRE_NOT_FOUND = 1;
constexpr LaunchError LAUNCH_JRE_NOT_VALID = 2;
constexpr LaunchError LAUNCH_VM_INIT_FAILED = 3;
constexpr LaunchError LAUNCH_VM_CREATE_FAILED = 4;
constexpr LaunchError LAUNCH_VERSION_UNKNOWN = 5;
constexpr LaunchError LAUNCH_VERSION_TOO_LOW = 6;
constexpr LaunchError LAUNCH_MAIN_CLASS_NOT_FOUND = 7;
constexpr LaunchError LAUNCH_MAIN_METHOD_MISSING = 8;
// Runtimes were found, but every one was built for another architecture (32/64-bit).
constexpr LaunchError LAUNCH_JRE_WRONG_ARCHITECTURE = 9;
// The executable's folder cannot be written in the ANSI code page, not even in its short
// (8.3) form. Kept apart from the codes above, which are the launch steps' own.
constexpr LaunchError LAUNCH_APP_PATH_NOT_ANSI = 12;
// The jars the executable carries whole cannot be put in the per-user cache folder (read-only,
// full, or changeable by other users); the message names the folder.
constexpr LaunchError LAUNCH_KEPT_JARS_UNWRITABLE = 13;
// String identifier of the message box caption.
constexpr int32_t MESSAGE_CAPTION_ID = 10;

}  // namespace kvx
