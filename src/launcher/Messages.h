#pragma once
// Launch-error messages from the string table, and the one message box of a failed launch.

#include <cstdint>

#include "base/AppString.h"
#include "base/LaunchError.h"
#include "platform/Messages.h"

namespace kvx {

// Replaces `out` with string `id` of the executable's string table (ANSI). False when
// the block is missing (`out` is then empty).
bool loadStringResource(AppString& out, int32_t id);
// The same over a given block (the walk every lookup uses; bounds-checked, clipped).
void stringFromBlock(AppString& out, int32_t id, const platform::StringBlock& block);
// The text and caption `showLaunchError` shows for `code` (code 6 formatted with the numbers).
void composeLaunchError(AppString& text, AppString& caption, LaunchError code, int runningMajor,
                        int runningMinor, int requiredMajor, int requiredMinor);
// The message text of `code` from its string-table `pattern`: code 6 formats the four numbers
// into it; every other code's text is used as it is.
void formatLaunchMessage(AppString& out, LaunchError code, const AppString& pattern, int runningMajor,
                         int runningMinor, int requiredMajor, int requiredMinor);
// The wrong-architecture message from its string-table `pattern` ("%s", "%d", "%d" in this
// order, "%%" allowed): the runtime's path, its bits and this program's bits. A pattern of
// any other shape is used as it is.
void formatArchitectureMessage(AppString& out, const AppString& pattern, const char* path, int runtimeBits,
                               int programBits);
// String identifiers of the offer of a `jre_url` address: where Java is ("%s": the address),
// and the question whether to open it.
constexpr int32_t JRE_URL_WHERE_ID = 16;
constexpr int32_t JRE_URL_QUESTION_ID = 17;
// Shows the wrong-architecture message (code 9) and returns when the user has closed it.
// With `jreUrl`, the message offers to open that address.
void showArchitectureError(const char* path, int runtimeBits, int programBits, const char* jreUrl = nullptr);
// Shows the message of `code` whose pattern holds one "%s" (anything else is shown as it is),
// formatted with `folder`.
void showFolderError(LaunchError code, const char* folder);
// Shows the message for `code` (code 6 formatted with the four numbers) and returns when
// the user has closed it. With `jreUrl`, the message offers to open that address.
void showLaunchError(LaunchError code, int runningMajor = 0, int runningMinor = 0, int requiredMajor = 0,
                     int requiredMinor = 0, const char* jreUrl = nullptr);

}  // namespace kvx
