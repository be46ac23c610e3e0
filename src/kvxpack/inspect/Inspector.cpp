#include "inspect/Inspector.h"

#include <algorithm>
#include <array>
#include <vector>

#include "base/AppString.h"
#include "config/ConfigStore.h"
#include "config/EmbeddedConfigText.h"
#include "ico/BitmapFile.h"
#include "platform/File.h"
#include "pe/PeImage.h"
#include "pe/VersionRecord.h"

namespace kvxpack {

using kvx::platform::File;

namespace {

constexpr std::size_t HEADER_PROBE = 4096;
constexpr std::uint64_t IMAGE_LIMIT = 64u << 20;
constexpr std::uint64_t DIRECTORY_LIMIT = 256u << 20;
constexpr std::uint32_t END_SIGNATURE_VALUE = 0x06054B50;
constexpr std::uint32_t CENTRAL_SIGNATURE_VALUE = 0x02014B50;
constexpr std::string_view RUNTIME_PREFIX = "com/quorvane/kvx/";
constexpr std::uint16_t WIN_CERT_TYPE_PKCS_SIGNED_DATA = 2;

std::string nameText(const ResourceName& name) {
    return name.isText() ? utf16ToUtf8(name.text) : std::to_string(name.id);
}

// The width or height of an icon directory entry: 0 stands for 256.
unsigned iconSide(unsigned char value) { return value == 0 ? 256 : value; }

// Reads the PE image at the start of the file (headers, then as far as its sections reach).
bool readImage(File& file, std::uint64_t size, PeImage& image, std::string& error) {
    Bytes head(static_cast<std::size_t>(std::min<std::uint64_t>(size, HEADER_PROBE)));
    if (!file.readAt(0, head.data(), head.size())) {
        error = file.lastError();
        return false;
    }
    PeImage probe;
    if (!probe.parse(head, error, false)) return false;
    std::uint64_t end = head.size();
    for (const PeSection& section : probe.sections()) end = std::max<std::uint64_t>(end, std::uint64_t(section.rawOffset) + section.rawSize);
    if (end > size || end > IMAGE_LIMIT) {
        error = "PE sections lie beyond the end of the file";
        return false;
    }
    Bytes bytes(static_cast<std::size_t>(end));
    if (!file.readAt(0, bytes.data(), bytes.size())) {
        error = file.lastError();
        return false;
    }
    return image.parse(std::move(bytes), error);
}

void describeResources(const ResourceTree& tree, std::string& out) {
    out += "resources:\n";
    const auto& types = tree.types();
    auto groups = types.find(ResourceName::number(RT_GROUP_ICON_TYPE));
    if (groups != types.end()) {
        for (const auto& group : groups->second) {
            for (const auto& language : group.second) {
                const Bytes& data = language.second.data;
                out += "  icon group " + nameText(group.first) + ":";
                const std::size_t count = data.size() >= 6 ? le16(data.data() + 4) : 0;
                for (std::size_t i = 0; i < count && fits(6 + i * 14, 14, data.size()); ++i) {
                    const unsigned char* entry = data.data() + 6 + i * 14;
                    out += " " + std::to_string(iconSide(entry[0])) + "x" + std::to_string(iconSide(entry[1]));
                    const auto image = tree.find(ResourceName::number(RT_ICON_TYPE), ResourceName::number(le16(entry + 12)));
                    if (!image || image->empty()) {
                        out += "(missing)";
                    } else if (image->begin()->second.data.size() >= 4 && image->begin()->second.data[1] == 'P' &&
                               image->begin()->second.data[2] == 'N' && image->begin()->second.data[3] == 'G') {
                        out += "(PNG)";
                    }
                }
                out += "\n";
            }
        }
    }
    auto bitmaps = types.find(ResourceName::number(RT_BITMAP_TYPE));
    if (bitmaps != types.end()) {
        for (const auto& bitmap : bitmaps->second) {
            for (const auto& language : bitmap.second) {
                BitmapInfo info;
                out += "  bitmap " + nameText(bitmap.first) + ": ";
                if (bitmapResourceInfo(language.second.data, info)) {
                    out += std::to_string(info.width) + "x" + std::to_string(info.height < 0 ? -info.height : info.height) +
                           ", " + std::to_string(info.bitCount) + " bits per pixel\n";
                } else {
                    out += "malformed\n";
                }
            }
        }
    }
    auto versions = types.find(ResourceName::number(RT_VERSION_TYPE));
    if (versions != types.end()) {
        for (const auto& version : versions->second) {
            for (const auto& language : version.second) {
                std::array<std::uint16_t, 4> numbers{};
                std::vector<VersionEntry> entries;
                if (!readVersionResource(language.second.data, numbers, entries)) {
                    out += "  version record: malformed\n";
                    continue;
                }
                out += "  version record: " + std::to_string(numbers[0]) + "." + std::to_string(numbers[1]) + "." +
                       std::to_string(numbers[2]) + "." + std::to_string(numbers[3]) + "\n";
                for (const VersionEntry& entry : entries) out += "    " + entry.key + " = " + entry.value + "\n";
            }
        }
    }
    auto manifests = types.find(ResourceName::number(RT_MANIFEST_TYPE));
    if (manifests != types.end()) {
        for (const auto& manifest : manifests->second) {
            for (const auto& language : manifest.second) {
                const std::string text(language.second.data.begin(), language.second.data.end());
                out += "  manifest " + nameText(manifest.first) + ": " + std::to_string(text.size()) + " bytes";
                if (text.find(">UTF-8</activeCodePage>") != std::string::npos) out += ", UTF-8 code page";
                out += "\n";
            }
        }
    }
    auto strings = types.find(ResourceName::number(RT_STRING_TYPE));
    if (strings != types.end()) {
        for (const auto& block : strings->second) {
            out += "  string table block " + nameText(block.first) + ": " + std::to_string(block.second.size()) +
                   " languages\n";
        }
    }
}

// The archive whose end record the launcher found: entry count and runtime classes.
void describeArchive(File& file, std::uint64_t size, std::uint64_t textLength, std::string& out) {
    std::uint64_t recordAt = size - textLength - 22;
    unsigned char record[22];
    if (textLength + 22 > size || !file.readAt(recordAt, record, sizeof record) || le32(record) != END_SIGNATURE_VALUE) {
        out += "archive: none found\n";
        return;
    }
    const std::uint32_t entries = le16(record + 10);
    const std::uint32_t directorySize = le32(record + 12);
    if (entries == 0xFFFF || directorySize == 0xFFFFFFFFu || le32(record + 16) == 0xFFFFFFFFu) {
        out += "archive: ZIP64 (entry count and runtime classes not shown)\n";
        return;
    }
    out += "archive: " + std::to_string(entries) + " entries\n";
    if (directorySize > recordAt || directorySize > DIRECTORY_LIMIT) {
        out += "runtime classes: unknown (central directory out of place)\n";
        return;
    }
    Bytes directory(directorySize);
    if (!file.readAt(recordAt - directorySize, directory.data(), directory.size())) {
        out += "runtime classes: unknown (unreadable central directory)\n";
        return;
    }
    std::size_t runtimeClasses = 0;
    for (std::size_t at = 0; fits(at, 46, directory.size()) && le32(directory.data() + at) == CENTRAL_SIGNATURE_VALUE;) {
        const std::size_t nameLength = le16(directory.data() + at + 28);
        const std::size_t extra = le16(directory.data() + at + 30);
        const std::size_t comment = le16(directory.data() + at + 32);
        if (!fits(at + 46, nameLength, directory.size())) break;
        const std::string_view name(reinterpret_cast<const char*>(directory.data() + at + 46), nameLength);
        if (name.substr(0, RUNTIME_PREFIX.size()) == RUNTIME_PREFIX && name.size() > 6 &&
            name.substr(name.size() - 6) == ".class") {
            ++runtimeClasses;
        }
        at += 46 + nameLength + extra + comment;
    }
    out += runtimeClasses ? "runtime classes: present (" + std::to_string(runtimeClasses) + " classes of com.quorvane.kvx)\n"
                          : "runtime classes: absent\n";
}

// The certificate table that Authenticode signing appends, found by the security directory:
// its WIN_CERTIFICATE entries (length, revision, type, then the data; each 8-byte aligned).
void describeSignature(File& file, std::uint64_t size, std::uint32_t offset, std::uint32_t length, std::string& out) {
    if (offset == 0 && length == 0) {
        out += "signature: none\n";
        return;
    }
    const std::string directory =
        "security directory: offset " + std::to_string(offset) + ", size " + std::to_string(length) + "\n";
    if (offset == 0 || length < 8 || std::uint64_t(offset) + length > size) {
        out += "signature: malformed (the security directory lies outside the file)\n" + directory;
        return;
    }
    std::string entries;
    for (std::uint32_t at = 0; at + 8 <= length;) {
        unsigned char header[8];
        if (!file.readAt(std::uint64_t(offset) + at, header, sizeof header)) {
            entries += entries.empty() ? "unreadable" : "; unreadable";
            break;
        }
        const std::uint32_t entryLength = le32(header);
        if (entryLength < 8 || entryLength > length - at) {
            entries += entries.empty() ? "malformed" : "; malformed";
            break;
        }
        if (!entries.empty()) entries += "; ";
        entries += le16(header + 6) == WIN_CERT_TYPE_PKCS_SIGNED_DATA
                       ? "Authenticode, " + std::to_string(entryLength) + " bytes (PKCS #7 signed data)"
                       : "certificate of type " + std::to_string(le16(header + 6)) + ", " +
                             std::to_string(entryLength) + " bytes";
        at += (entryLength + 7) & ~7u;
    }
    out += "signature: " + (entries.empty() ? std::string("malformed") : entries) + "\n" + directory;
}

// Control characters written out (a tab reads as part of the class name at a launch, and
// should show).
std::string visible(const char* text) {
    static const char HEX[] = "0123456789ABCDEF";
    std::string out;
    for (const char* c = text; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte == '\t') {
            out += "\\t";
        } else if (byte < 0x20 || byte == 0x7F) {
            out += std::string("\\x") + HEX[byte >> 4] + HEX[byte & 0xF];
        } else {
            out += *c;
        }
    }
    return out;
}

void collectLine(void* lines, const char* value) { static_cast<std::vector<std::string>*>(lines)->push_back(value); }

// The jars carried whole, from the launcher's own reading of the "keepjar" lines.
void describeKeptJars(const std::string& text, std::string& out) {
    std::vector<std::string> lines;
    kvx::ConfigStore(kvx::AppString(), kvx::AppString(text.c_str())).find("keepjar", collectLine, &lines, true);
    if (lines.empty()) return;
    out += "kept jars: " + std::to_string(lines.size()) + " (on the class path after the executable, in this order)\n";
    for (const std::string& line : lines) {
        // "<sha256> <size> <offset> <name>"
        const std::size_t sizeAt = line.find(' ');
        const std::size_t offsetAt = line.find(' ', sizeAt + 1);
        const std::size_t nameAt = line.find(' ', offsetAt + 1);
        if (sizeAt == std::string::npos || offsetAt == std::string::npos || nameAt == std::string::npos) {
            out += "  (damaged line) " + visible(line.c_str()) + "\n";
            continue;
        }
        out += "  " + line.substr(nameAt + 1) + "  " + line.substr(sizeAt + 1, offsetAt - sizeAt - 1) +
               " bytes  sha256 " + line.substr(0, sizeAt) + "\n";
    }
}

}  // namespace

bool inspectExecutable(const std::string& path, std::string& report, std::string& error) {
    File file;
    std::uint64_t size = 0;
    if (!file.openRead(path) || !file.size(size)) {
        error = "cannot read " + path + ": " + file.lastError();
        return false;
    }
    report = "file: " + path + "\n";
    unsigned char magic[4] = {0, 0, 0, 0};
    if (size >= 4 && !file.readAt(0, magic, 4)) {
        error = "cannot read " + path + ": " + file.lastError();
        return false;
    }
    ResourceTree tree;
    bool pe = false;
    std::uint32_t certificatesAt = 0;
    std::uint32_t certificatesSize = 0;
    if (magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F') {
        report += "launcher: host (Linux ELF)\n";
    } else {
        PeImage image;
        if (!readImage(file, size, image, error) || !image.readResources(tree, error)) {
            error = path + ": " + error;
            return false;
        }
        pe = true;
        image.certificateTable(certificatesAt, certificatesSize);
        report += std::string("launcher: ") + (image.machine() == PeMachine::X86 ? "x86" : "x64") +
                  (image.consoleSubsystem() ? ", console" : ", GUI") + "\n";
    }
    // Exactly what the launcher's store takes: the embedded text up to its first zero byte.
    const kvx::EmbeddedConfigText embedded(path.c_str());
    const std::uint64_t embeddedLength = static_cast<std::uint64_t>(embedded.length());
    const std::string text(embedded.c_str());
    if (embeddedLength == 0 && size >= 22) {
        unsigned char last[22];
        if (!file.readAt(size - 22, last, 22) || le32(last) != END_SIGNATURE_VALUE) {
            error = path + ": no configuration text where the launcher looks (not made by kvxpack?)";
            return false;
        }
    }
    report += "configuration text (" + std::to_string(text.size()) + " bytes, as the launcher reads it):\n";
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        report += "  | " + text.substr(at, end - at) + "\n";
        at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    // The launcher's own reader: key matching, spaces and case exactly as at a launch.
    const kvx::AppString mainClass =
        kvx::ConfigStore(kvx::AppString(), kvx::AppString(text.c_str())).get("mainclass", true);
    report += "main class: " + (mainClass.isEmpty() ? std::string("(none)") : visible(mainClass.c_str())) + "\n";
    describeKeptJars(text, report);
    describeArchive(file, size, embeddedLength, report);
    if (pe) {
        describeSignature(file, size, certificatesAt, certificatesSize, report);
        describeResources(tree, report);
    }
    return true;
}

}  // namespace kvxpack
