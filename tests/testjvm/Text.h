#pragma once
// Conversions between the encodings that meet in a JNI runtime: Java strings (UTF-16),
// JNI names and NewStringUTF texts (modified UTF-8), option strings (the ANSI code page)
// and the event log (UTF-8).

#include <string>
#include <string_view>

namespace testjvm {

// Standard UTF-8 for the log; an unpaired surrogate becomes U+FFFD.
std::string utf16ToUtf8(std::u16string_view units);
// Modified UTF-8 as GetStringUTFChars hands it out: U+0000 as C0 80, surrogates one by one.
std::string utf16ToModifiedUtf8(std::u16string_view units);
// Modified or standard UTF-8 to UTF-16; a malformed byte becomes U+FFFD.
std::u16string utf8ToUtf16(std::string_view bytes);
// Text in the process's ANSI code page (how a runtime reads its option strings) to UTF-8.
std::string ansiToUtf8(const char* text);
// Control characters as \xNN, so one event stays one line of the log.
std::string escapeControls(std::string_view text);

}  // namespace testjvm
