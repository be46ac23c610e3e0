#include "config/ConfigText.h"

#include <cstdint>

#include "platform/File.h"

namespace kvxpack {

namespace {
constexpr std::string_view END_SIGNATURE_BYTES("PK\x05\x06", 4);
constexpr std::string_view UTF8_BOM("\xEF\xBB\xBF", 3);
}  // namespace

bool ConfigText::appendFile(const std::string& path, std::string& error) {
    kvx::platform::File file;
    std::uint64_t size = 0;
    if (!file.openRead(path) || !file.size(size)) {
        error = "cannot read configuration file " + path + ": " + file.lastError();
        return false;
    }
    // Line ends only grow (LF becomes CR LF), so a longer file can never fit.
    if (size > CONFIG_TEXT_LIMIT + UTF8_BOM.size()) {
        error = "configuration file " + path + " is longer than " + std::to_string(CONFIG_TEXT_LIMIT) + " bytes";
        return false;
    }
    std::string raw(static_cast<std::size_t>(size), '\0');
    if (!file.readAt(0, raw.data(), raw.size())) {
        error = "cannot read configuration file " + path + ": " + file.lastError();
        return false;
    }
    std::string_view rest(raw);
    if (rest.substr(0, UTF8_BOM.size()) == UTF8_BOM) rest.remove_prefix(UTF8_BOM.size());
    while (!rest.empty()) {
        const std::size_t end = rest.find_first_of("\r\n");
        text_.append(rest.substr(0, end));
        text_.append("\r\n");
        if (end == std::string_view::npos) break;
        // CR LF is one line end; a lone CR or LF is one too.
        const bool pair = rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n';
        rest.remove_prefix(end + (pair ? 2 : 1));
    }
    return true;
}

void ConfigText::appendLine(std::string_view key, std::string_view value) {
    text_.append(key);
    text_.push_back(' ');
    text_.append(value);
    text_.append("\r\n");
}

bool ConfigText::check(std::string& error) const {
    if (text_.size() > CONFIG_TEXT_LIMIT) {
        error = "configuration text is " + std::to_string(text_.size()) + " bytes, more than the " +
                std::to_string(CONFIG_TEXT_LIMIT) + " the launcher reads";
        return false;
    }
    if (text_.find('\0') != std::string::npos) {
        error = "configuration text contains a NUL byte";
        return false;
    }
    if (text_.find(END_SIGNATURE_BYTES) != std::string::npos) {
        error = "configuration text contains the bytes PK\\5\\6 (the end-record signature)";
        return false;
    }
    return true;
}

}  // namespace kvxpack
