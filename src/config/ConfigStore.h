#pragma once
// ConfigStore: the whole configuration as one text (side file, CR LF, embedded block) and
// the key lookups over it. Filled once by its constructor, never changed afterwards.

#include <cstdint>

#include "base/AppString.h"

namespace kvx {

// Called once per value, in text order; `value` is valid only during the call.
using ConfigValueCallback = void (*)(void* context, const char* value);

class ConfigStore : public AppString {
public:
    // Records the start-up directory and the executable's paths, reads the side file
    // (".cfg", else ".config") and the embedded block. Never fails.
    ConfigStore();
    // For tests and tools: a store over given texts, combined as the real one combines the
    // side file and the embedded block. Touches no file and leaves the process-wide paths
    // as they are; its module path is empty.
    ConfigStore(const AppString& sideText, const AppString& embeddedText);
    ~ConfigStore() override;

    // Without a callback: the first value of `key` (empty when absent). With one: every
    // value in text order is handed to it, and the result is empty.
    AppString find(const AppString& key, ConfigValueCallback callback, void* context,
                   bool embeddedOnly = false) const;
    AppString get(const AppString& key, bool embeddedOnly = false) const;

    int32_t sideTextLength() const { return sideTextLength_; }

    // The executable's full path.
    AppString getModulePath() const;
    // The executable's directory with its trailing separator.
    AppString getAppHome() const;
    // The `forcecwd` value, environment-expanded; empty when absent.
    AppString getForceCwd() const;
    // True when the executable's path cannot be written in the ANSI code page at all (not
    // even in its short form): nothing that names the application's files can be built.
    bool modulePathHasNoAnsiForm() const { return modulePathHasNoAnsiForm_; }

protected:
    // Set by the real construction; a test's store sets it to see the launch's answer.
    bool modulePathHasNoAnsiForm_ = false;

private:
    void appendSideAndEmbedded(const AppString& sideText, const AppString& embeddedText);

    int32_t sideTextLength_ = 0;
    AppString modulePath_;
};

}  // namespace kvx

namespace kvx {

// The side file's name for the executable at `modulePath`: `extension` (".cfg" or
// ".config") in place of its 4-character extension, or added to a name without one.
AppString sideFileName(const AppString& modulePath, const char* extension);
// Appends the bytes of the executable's side file to `text`: the ".cfg" file, else the
// ".config" one; only regular files count, and a leading UTF-8 byte-order mark is skipped.
// False when neither could be read.
bool readSideFile(const AppString& modulePath, AppString& text);

// The process-wide current store: set by the entry point right after construction and
// cleared before destruction. Main thread only.
ConfigStore* currentConfigStore();
void setCurrentConfigStore(ConfigStore* store);

}  // namespace kvx
