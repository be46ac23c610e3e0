#include "config/ConfigStore.h"

#include <cstring>

#include "base/Trace.h"
#include "config/AppPaths.h"
#include "config/EmbeddedConfigText.h"
#include "config/EnvRefs.h"
#include "config/LineReader.h"
#include "platform/FileSystem.h"
#include "platform/MappedFile.h"

namespace kvx {

namespace {

ConfigStore* currentStore = nullptr;

constexpr char UTF8_BOM[] = "\xEF\xBB\xBF";
constexpr int32_t UTF8_BOM_SIZE = 3;

// The key's length of characters at `line` match `key`, letters A to Z without regard to
// case; a line that ends first does not match.
bool startsWithKey(const char* line, int32_t lineLength, const AppString& key) {
    if (key.length() > lineLength) return false;
    const char* k = key.c_str();
    for (int32_t i = 0; i < key.length(); ++i) {
        if (asciiLower(line[i]) != asciiLower(k[i])) return false;
    }
    return true;
}

int32_t skipSpaces(const char* text, int32_t pos, int32_t length) {
    while (pos < length && text[pos] == ' ') ++pos;  // only 0x20: a tab is part of the value
    return pos;
}

}  // namespace

AppString sideFileName(const AppString& modulePath, const char* extension) {
    if (modulePath.isEmpty()) return AppString();
    int32_t n = modulePath.length();
    // "tool.exe" loses its extension; a name without a 4-character one (a Linux
    // executable such as /opt/app/hello) keeps its whole name and gets the extension added.
    bool hasExtension = n >= 4 && modulePath.charAt(n - 4, 0) == '.' && !isPathSeparator(modulePath.charAt(n - 3, 0)) &&
                        !isPathSeparator(modulePath.charAt(n - 2, 0)) && !isPathSeparator(modulePath.charAt(n - 1, 0));
    // Built at whatever length it needs: a long executable path still finds its side file.
    AppString name = hasExtension ? modulePath.left(n - 4) : modulePath;
    name.append(extension);
    return name;
}

bool readSideFile(const AppString& modulePath, AppString& text) {
    static const char* const EXTENSIONS[] = {".cfg", ".config"};
    for (const char* extension : EXTENSIONS) {
        AppString name = sideFileName(modulePath, extension);
        if (name.isEmpty() || !isReadablePath(name.c_str())) continue;
        // A read that fails or stops short keeps exactly the bytes that were read.
        AppString bytes;
        if (!platform::appendFileContents(name.c_str(), bytes)) continue;
        // A byte-order mark (as Notepad saves UTF-8) would hide the first line's key.
        int32_t skip = bytes.length() >= UTF8_BOM_SIZE && std::memcmp(bytes.c_str(), UTF8_BOM, UTF8_BOM_SIZE) == 0
                           ? UTF8_BOM_SIZE
                           : 0;
        text.append(bytes.c_str() + skip, bytes.length() - skip);
        trace("side file %s read", name.c_str());
        return true;
    }
    trace("no side file beside %s", modulePath.c_str());
    return false;
}

ConfigStore::ConfigStore() {
    setLength(0);
    // The start-up directory first, before anything can change the working directory.
    AppString startup = startupDirFrom(platform::currentDirectory());
    // The ANSI form (on Windows the short one where needed) of the path: everything built
    // from it (side file, class path, properties) must be ANSI text that names the file.
    modulePath_ = platform::modulePath();
    modulePathHasNoAnsiForm_ = platform::modulePathHasNoAnsiForm();
    setApplicationPaths(modulePath_, startup);
    AppString sideText;
    readSideFile(modulePath_, sideText);
    EmbeddedConfigText embedded;
    appendSideAndEmbedded(sideText, embedded);
}

ConfigStore::ConfigStore(const AppString& sideText, const AppString& embeddedText) {
    setLength(0);
    appendSideAndEmbedded(sideText, embeddedText);
}

ConfigStore::~ConfigStore() = default;

void ConfigStore::appendSideAndEmbedded(const AppString& sideText, const AppString& embeddedText) {
    append(sideText);
    // The CR LF keeps a side file's unterminated last line apart from the embedded
    // block's first line; an empty side file adds nothing at all.
    if (length() > 0) append("\r\n", 2);
    sideTextLength_ = length();
    append(embeddedText.c_str());  // up to its first zero byte
}

AppString ConfigStore::find(const AppString& key, ConfigValueCallback callback, void* context,
                            bool embeddedOnly) const {
    LineReader reader(c_str() + (embeddedOnly ? sideTextLength_ : 0));
    AppString line;
    while (reader.next(line)) {
        const char* text = line.c_str();
        int32_t length = line.length();
        int32_t pos = skipSpaces(text, 0, length);
        if (!startsWithKey(text + pos, length - pos, key)) continue;
        pos = skipSpaces(text, pos + key.length(), length);
        if (pos < length && text[pos] == '=') pos = skipSpaces(text, pos + 1, length);
        if (!callback) return AppString(text + pos, length - pos);
        callback(context, text + pos);
    }
    return AppString("");
}

AppString ConfigStore::get(const AppString& key, bool embeddedOnly) const {
    return find(key, nullptr, nullptr, embeddedOnly);
}

AppString ConfigStore::getModulePath() const { return modulePath_; }

AppString ConfigStore::getAppHome() const { return executableDir(); }

AppString ConfigStore::getForceCwd() const { return expandEnvRefs(get("forcecwd")); }

ConfigStore* currentConfigStore() { return currentStore; }

void setCurrentConfigStore(ConfigStore* store) { currentStore = store; }

}  // namespace kvx
