#pragma once
// ConfigText: the configuration text that travels as the archive comment. Key/value lines,
// each ended by CR LF, in the order they were added.

#include <cstddef>
#include <string>
#include <string_view>

namespace kvxpack {

// The launcher reads no more than this many bytes of text.
constexpr std::size_t CONFIG_TEXT_LIMIT = 51200;

class ConfigText {
public:
    // Appends the lines of a configuration file, with every line end made CR LF (a last line
    // without one gets one). A leading UTF-8 byte-order mark is dropped: the launcher would
    // take it as part of the first key.
    [[nodiscard]] bool appendFile(const std::string& path, std::string& error);
    void appendLine(std::string_view key, std::string_view value);

    // Refuses text the launcher cannot read back whole: too long, a NUL (ends the text
    // early), or the end-record signature (the launcher would start reading after it).
    [[nodiscard]] bool check(std::string& error) const;

    const std::string& text() const { return text_; }

private:
    std::string text_;
};

}  // namespace kvxpack
