#include "pack/Packer.h"

#include <cstdint>
#include <vector>

#include "config/ConfigText.h"
#include "os/FileSystem.h"
#include "os/TempOutput.h"
#include "pack/CommentPlacement.h"
#include "stub/ImageWriter.h"
#include "stub/StubImage.h"
#include "zip/EndRecord.h"

namespace kvxpack {

namespace {

// The archive is streamed through this buffer, whatever its size.
constexpr std::size_t COPY_BUFFER_SIZE = 1u << 20;
// The launcher takes the file size as 32 bits; a larger executable would hide its text.
constexpr std::uint64_t LAUNCHER_FILE_LIMIT = 0xFFFFFFFEu;  // 0xFFFFFFFF reads as "no size"

PackOutcome refused(std::string message) { return {EXIT_REFUSED, std::move(message)}; }
PackOutcome writeFailed(std::string message) { return {EXIT_WRITE_FAILED, std::move(message)}; }

struct Input {
    File file;
    std::uint64_t size = 0;
};

bool openInput(const std::string& path, Input& input) {
    return input.file.openRead(path) && input.file.size(input.size);
}

bool buildText(const PackRequest& request, std::string& text, std::string& error) {
    ConfigText config;
    if (!request.configPath.empty() && !config.appendFile(request.configPath, error)) return false;
    for (const ConfigEntry& entry : request.entries) config.appendLine(entry.key, entry.value);
    if (!config.check(error)) return false;
    text = config.text();
    return true;
}

bool copyRange(Input& from, std::uint64_t length, ImageWriter& to, std::vector<unsigned char>& buffer,
               std::string& error) {
    std::uint64_t offset = 0;
    while (offset < length) {
        const std::size_t chunk =
            static_cast<std::size_t>(length - offset < buffer.size() ? length - offset : buffer.size());
        if (!from.file.readAt(offset, buffer.data(), chunk)) {
            error = "read failed: " + from.file.lastError();
            return false;
        }
        if (!to.write(buffer.data(), chunk)) {
            error = "write failed: " + to.lastError();
            return false;
        }
        offset += chunk;
    }
    return true;
}

}  // namespace

std::string builtStubPath(StubArch arch, bool console) {
    const std::string self = executablePath();
    if (self.empty()) return std::string();
    const char* relative = arch == StubArch::X86   ? (console ? "../win32/kvxc.exe" : "../win32/kvx.exe")
                           : arch == StubArch::X64 ? (console ? "../win64/kvxc.exe" : "../win64/kvx.exe")
                                                   : "../host/kvx";
    return directoryOf(self) + relative;
}

PackOutcome pack(const PackRequest& request) {
    std::string error;
    std::string text;
    if (!buildText(request, text, error)) return refused(error);

    const std::string stubPath =
        request.stubPath.empty() ? builtStubPath(request.arch, request.resources.console) : request.stubPath;
    if (stubPath.empty()) return refused("cannot tell where kvxpack runs from; give --stub");
    StubImage stub;
    if (!stub.load(stubPath, request.resources, error)) return refused(error);
    const std::uint64_t stubSize = stub.bytes().size();

    Input jar;
    if (!openInput(request.jarPath, jar)) {
        return refused("cannot read " + request.jarPath + ": " + jar.file.lastError());
    }
    EndRecord record;
    if (!findEndRecord(jar.file, jar.size, record, error)) return refused(request.jarPath + ": " + error);

    std::string comment;
    if (!placeComment(record, text, comment)) {
        return refused("the archive's end record would hide the configuration text from the launcher; "
                       "add or remove a line");
    }
    const std::uint64_t total = stubSize + record.offset + END_RECORD_SIZE + comment.size();
    if (total > LAUNCHER_FILE_LIMIT) return refused("the executable would reach 4 GiB, which the launcher cannot read");

    TempOutput output;
    if (!output.create(request.outPath, error)) return writeFailed(error);
    std::vector<unsigned char> buffer(COPY_BUFFER_SIZE);
    ImageWriter image(output.file());
    if (!image.write(stub.bytes().data(), stub.bytes().size())) {
        return writeFailed("write failed: " + image.lastError());
    }
    // The Zip64 locator (when there is one) and the end record close the file, with the comment.
    const std::uint64_t body = record.zip64 ? record.offset - ZIP64_LOCATOR_SIZE : record.offset;
    if (!copyRange(jar, body, image, buffer, error)) return writeFailed(request.jarPath + " " + error);
    std::string tail;
    if (record.zip64) {
        const auto locator = shiftedLocator(record, stubSize);
        tail.append(locator.begin(), locator.end());
    }
    const EndRecord placed = withCommentLength(record, comment.size());
    tail.append(placed.bytes.begin(), placed.bytes.end());
    tail += comment;
    if (!image.write(tail.data(), tail.size())) {
        return writeFailed("write failed: " + image.lastError());
    }
    if (!stub.seal(image, error)) return writeFailed(error);
    if (!output.commit(error)) return writeFailed(error);
    return {};
}

}  // namespace kvxpack
