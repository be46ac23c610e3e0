#include "zip/EntryText.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

namespace kvxpack {

namespace {

constexpr std::uint16_t METHOD_STORED = 0;
constexpr std::uint16_t METHOD_DEFLATED = 8;
constexpr std::size_t INFLATE_CHUNK = 1u << 14;

bool sameIgnoringCase(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i]; ++i) {
        const char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] + 32) : a[i];
        const char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] + 32) : b[i];
        if (x != y) return false;
    }
    return i == a.size() && b[i] == '\0';
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos) return std::string();
    const std::size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

}  // namespace

bool readEntryText(ByteSource& source, const ZipEntry& entry, std::size_t limit, std::string& text,
                   std::string& error) {
    text.clear();
    const std::string named = "entry '" + entry.name + "'";
    if (entry.method == METHOD_STORED) {
        text.resize(static_cast<std::size_t>(std::min<std::uint64_t>(entry.compressedSize, limit)));
        if (!source.readAt(entry.dataOffset, text.data(), text.size())) {
            error = named + ": " + source.lastError();
            return false;
        }
        return true;
    }
    if (entry.method != METHOD_DEFLATED) {
        error = named + " uses compression method " + std::to_string(entry.method) + ", which kvxpack cannot read";
        return false;
    }
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK) {
        error = "cannot start inflating " + named;
        return false;
    }
    std::vector<unsigned char> input(INFLATE_CHUNK);
    std::vector<unsigned char> output(INFLATE_CHUNK);
    std::uint64_t offset = entry.dataOffset;
    std::uint64_t left = entry.compressedSize;
    int status = Z_OK;
    bool outputFull = false;  // inflate may hold more output without new input
    while (status != Z_STREAM_END && text.size() < limit) {
        if (stream.avail_in == 0 && !outputFull) {
            if (left == 0) break;
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, input.size()));
            if (!source.readAt(offset, input.data(), chunk)) {
                inflateEnd(&stream);
                error = named + ": " + source.lastError();
                return false;
            }
            offset += chunk;
            left -= chunk;
            stream.next_in = input.data();
            stream.avail_in = static_cast<uInt>(chunk);
        }
        stream.next_out = output.data();
        stream.avail_out = static_cast<uInt>(output.size());
        status = inflate(&stream, Z_NO_FLUSH);
        outputFull = stream.avail_out == 0;
        if (status != Z_OK && status != Z_STREAM_END) {
            inflateEnd(&stream);
            error = named + " holds corrupt deflated data";
            return false;
        }
        const std::size_t produced = output.size() - stream.avail_out;
        text.append(reinterpret_cast<const char*>(output.data()), std::min(produced, limit - text.size()));
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END && text.size() < limit) {
        error = named + "'s deflated data ends early";
        return false;
    }
    return true;
}

std::string manifestAttribute(const std::string& manifest, const char* name) {
    std::string value;
    bool inMainClass = false;
    std::size_t at = 0;
    while (at < manifest.size()) {
        std::size_t end = manifest.find_first_of("\r\n", at);
        if (end == std::string::npos) end = manifest.size();
        const std::string line = manifest.substr(at, end - at);
        // CR LF, LF and CR all end a line.
        at = end + (end + 1 < manifest.size() && manifest[end] == '\r' && manifest[end + 1] == '\n' ? 2 : 1);
        if (line.empty()) break;  // the main section ends here
        if (line[0] == ' ') {
            if (inMainClass) value += line.substr(1);
            continue;
        }
        inMainClass = false;
        const std::size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (sameIgnoringCase(line.substr(0, colon), name)) {
            inMainClass = true;
            value = line.substr(colon + 1);
        }
    }
    return trimmed(value);
}

bool manifestMultiRelease(const std::string& manifest) {
    return sameIgnoringCase(manifestAttribute(manifest, "Multi-Release"), "true");
}

std::string withMultiRelease(const std::string& manifest) {
    const std::size_t firstBreak = manifest.find_first_of("\r\n");
    const char* eol = firstBreak == std::string::npos              ? "\r\n"
                      : manifest[firstBreak] == '\n'               ? "\n"
                      : manifest.compare(firstBreak, 2, "\r\n") == 0 ? "\r\n"
                                                                   : "\r";
    std::string out;
    std::size_t at = 0;
    bool dropping = false;  // within a Multi-Release attribute and its continuation lines
    while (at < manifest.size()) {
        std::size_t end = manifest.find_first_of("\r\n", at);
        if (end == std::string::npos) end = manifest.size();
        if (end == at) break;  // an empty line: the main section ends here
        std::size_t next = end + (manifest.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        next = std::min(next, manifest.size());
        if (manifest[at] != ' ') {
            const std::size_t colon = manifest.find(':', at);
            dropping = colon < end && sameIgnoringCase(manifest.substr(at, colon - at), "Multi-Release");
        }
        if (!dropping) out.append(manifest, at, next - at);
        at = next;
    }
    if (!out.empty() && out.back() != '\n' && out.back() != '\r') out += eol;
    out += "Multi-Release: true";
    out += eol;
    out.append(manifest, at, std::string::npos);
    return out;
}

}  // namespace kvxpack
