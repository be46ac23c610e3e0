#include "pack/Packer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <vector>

#include <zlib.h>

#include "base/AppString.h"
#include "base/Sha256.h"
#include "config/ConfigStore.h"
#include "config/ConfigText.h"
#include "ico/SplashPicture.h"
#include "pack/ArchiveMerge.h"
#include "pack/BuiltInStubs.h"
#include "pack/CommentPlacement.h"
#include "pack/RuntimeClasses.h"
#include "pack/StubCheck.h"
#include "platform/File.h"
#include "platform/FileSystem.h"
#include "platform/TempOutput.h"
#include "stub/ImageWriter.h"
#include "stub/StubImage.h"
#include "zip/ArchiveWriter.h"
#include "zip/EndRecord.h"

namespace kvxpack {

namespace {

using kvx::platform::File;
using kvx::platform::FileKind;

// The launcher takes the file size as 32 bits; a larger executable would hide its text.
constexpr std::uint64_t LAUNCHER_FILE_LIMIT = 0xFFFFFFFEu;  // 0xFFFFFFFF reads as "no size"

PackOutcome refused(std::string message) { return {EXIT_REFUSED, std::move(message)}; }
PackOutcome writeFailed(std::string message) { return {EXIT_WRITE_FAILED, std::move(message)}; }

// The launcher takes a class name with dots or slashes alike.
bool sameClass(std::string a, std::string b) {
    for (char& c : a) c = c == '/' ? '.' : c;
    for (char& c : b) c = c == '/' ? '.' : c;
    return a == b;
}

// The configuration text and the main class it names, as the launcher will read them.
bool buildText(const PackRequest& request, const std::string& manifestMain, const std::string& manifestFrom,
               std::string& text, std::string& error) {
    ConfigText config;
    if (!request.configPath.empty() && !config.appendFile(request.configPath, error)) return false;
    if (!config.check(error)) return false;
    if (!kvx::ConfigStore(kvx::AppString(), kvx::AppString(config.text().c_str())).get("keepjar", true).isEmpty()) {
        error = request.configPath + ": 'keepjar' lines are written by kvxpack itself (--keep-jars)";
        return false;
    }
    const kvx::AppString configMain =
        kvx::ConfigStore(kvx::AppString(), kvx::AppString(config.text().c_str())).get("mainclass", true);
    std::string commandMain;
    for (const ConfigEntry& entry : request.entries) {
        if (entry.key == "mainclass") commandMain = entry.value;
    }
    // The launcher takes the first mainclass line, which would silently be the file's.
    if (!commandMain.empty() && !configMain.isEmpty() && !sameClass(commandMain, configMain.c_str())) {
        error = "--main " + commandMain + " conflicts with 'mainclass " + configMain.c_str() + "' in " +
                request.configPath;
        return false;
    }
    for (const ConfigEntry& entry : request.entries) {
        if (entry.key == "mainclass" && !configMain.isEmpty()) continue;  // the same class, once is enough
        config.appendLine(entry.key, entry.value);
    }
    if (commandMain.empty() && configMain.isEmpty()) {
        if (manifestMain.empty()) {
            error = "no main class: give --main CLASS, a 'mainclass' line in --config, or a Main-Class in the "
                    "manifest";
            return false;
        }
        for (unsigned char c : manifestMain) {
            if (c <= ' ' || c == 0x7F) {
                error = manifestFrom + ": the manifest's Main-Class '" + manifestMain + "' is not a class name";
                return false;
            }
        }
        config.appendLine("mainclass", manifestMain);
    }
    if (!config.check(error)) return false;
    text = config.text();
    return true;
}

// A jar carried whole: stored, so the launcher copies its bytes out as they are.
struct KeptJar {
    std::string name;  // the input's file name, for the trace and --inspect
    std::string sha256;
    ZipEntry entry;
    std::string data;
    std::unique_ptr<MemorySource> source;
    std::uint64_t dataOffset = 0;  // in the written executable
};

bool keepJar(std::size_t index, ArchiveInput& input, KeptJar& kept, std::string& error) {
    const std::size_t slash = input.name.find_last_of("/\\");
    kept.name = slash == std::string::npos ? input.name : input.name.substr(slash + 1);
    for (unsigned char c : kept.name) {
        if (c < 0x20 || c == 0x7F) {
            error = input.name + ": a kept jar's file name cannot contain control characters";
            return false;
        }
    }
    kept.data.resize(static_cast<std::size_t>(input.source->size()));
    if (!input.source->readAt(0, kept.data.data(), kept.data.size())) {
        error = "cannot read " + input.name + ": " + input.source->lastError();
        return false;
    }
    const auto* bytes = reinterpret_cast<const unsigned char*>(kept.data.data());
    kvx::Sha256 sha;
    sha.update(bytes, kept.data.size());
    char digest[65];
    sha.finishHex(digest);
    kept.sha256 = digest;
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02u-", static_cast<unsigned>(index));
    kept.entry.name = "META-INF/kvx/jars/" + std::string(prefix) + kept.name;
    kept.entry.versionMadeBy = 20;
    kept.entry.versionNeeded = 10;
    kept.entry.flags = 0x0800;  // the name is UTF-8
    kept.entry.method = 0;
    kept.entry.dosTime = FIXED_DOS_TIME;
    kept.entry.dosDate = FIXED_DOS_DATE;
    uLong crc = crc32(0, nullptr, 0);
    for (std::size_t at = 0; at < kept.data.size(); at += 1u << 30) {
        const std::size_t piece = std::min<std::size_t>(kept.data.size() - at, 1u << 30);
        crc = crc32(crc, bytes + at, static_cast<uInt>(piece));
    }
    kept.entry.crc = static_cast<std::uint32_t>(crc);
    kept.entry.size = kept.entry.compressedSize = kept.data.size();
    kept.source = std::make_unique<MemorySource>(bytes, kept.data.size());
    return true;
}

// The launcher's lines for the kept jars: "keepjar <sha256> <size> <offset> <name>".
std::string keptJarLines(const std::deque<KeptJar>& kept) {
    std::string text;
    for (const KeptJar& jar : kept) {
        text += "keepjar " + jar.sha256 + " " + std::to_string(jar.data.size()) + " " +
                std::to_string(jar.dataOffset) + " " + jar.name + "\r\n";
    }
    return text;
}

// Where the output really goes: the target of a link, and only a regular file or nothing.
bool resolveOutput(const std::string& outPath, std::string& target, std::string& error) {
    if (!kvx::platform::finalLinkTarget(outPath, target, error)) {
        error = outPath + ": " + error;
        return false;
    }
    const FileKind kind = kvx::platform::fileKind(target);
    if (kind != FileKind::Regular && kind != FileKind::Missing) {
        error = outPath + (target != outPath ? " (a link to " + target + ")" : std::string()) + " is " +
                kvx::platform::fileKindText(kind) + "; only a regular file is replaced";
        return false;
    }
    return true;
}

}  // namespace

PackOutcome pack(const PackRequest& request) {
    std::string error;
    std::string target;
    if (!resolveOutput(request.outPath, target, error)) return refused(error);

    StubImage stub;
    if (request.stubPath.empty()) {
        // The launchers travel inside kvxpack (no files beside it), so a copied kvxpack packs too.
        const BuiltInStub builtIn = builtInStub(request.arch, request.resources.console);
        MemorySource source(builtIn.bytes, builtIn.size);
        if (!checkStub(source, request.arch, true, error)) return refused(std::string("stub ") + builtIn.name + ": " + error);
        if (!stub.load(Bytes(builtIn.bytes, builtIn.bytes + builtIn.size), builtIn.name, request.resources, error)) {
            return refused(error);
        }
    } else {
        {
            File stubFile;
            std::uint64_t stubFileSize = 0;
            if (!stubFile.openRead(request.stubPath) || !stubFile.size(stubFileSize)) {
                return refused("cannot read stub " + request.stubPath + ": " + stubFile.lastError());
            }
            FileSource source(stubFile, stubFileSize);
            if (!checkStub(source, request.arch, request.archGiven, error)) {
                return refused("stub " + request.stubPath + ": " + error);
            }
        }
        if (!stub.load(request.stubPath, request.resources, error)) return refused(error);
    }
    const std::uint64_t stubSize = stub.bytes().size();

    // Kept jars stay out of the merge: the first jar (the application's own classes, its
    // manifest) is still merged, so `java -cp MyApp.exe` runs simple cases as before.
    const std::size_t mergedCount = request.keepJars ? 1 : request.jarPaths.size();
    std::vector<ArchiveInput> inputs(mergedCount);
    std::vector<ArchiveInput> keptInputs(request.jarPaths.size() - mergedCount);
    std::deque<KeptJar> kept;
    for (std::size_t i = 0; i < request.jarPaths.size(); ++i) {
        ArchiveInput& input = i < mergedCount ? inputs[i] : keptInputs[i - mergedCount];
        if (!readArchiveFile(request.jarPaths[i], input, error)) return refused(error);
        if (i < mergedCount) continue;
        kept.emplace_back();
        if (!keepJar(i, input, kept.back(), error)) return refused(error);
        (void)input.file.close();
    }
    ArchiveInput runtime;
    if (!readArchiveBytes("kvxpack's runtime classes", runtimeJarBytes(), runtimeJarSize(), runtime, error)) {
        return refused(error);
    }
    MergePlan plan;
    if (!planMerge(inputs, runtime, plan, error)) return refused(error);
    if (!stub.linuxSplash().empty()) appendMadeEntry(plan, LINUX_SPLASH_ENTRY, stub.linuxSplash());

    std::string text;
    if (!buildText(request, plan.mainClass, plan.manifestFrom, text, error)) return refused(error);
    // The lines with the widest offsets must fit before anything is written.
    for (KeptJar& jar : kept) jar.dataOffset = LAUNCHER_FILE_LIMIT;
    if (text.size() + keptJarLines(kept).size() > CONFIG_TEXT_LIMIT) {
        return refused("the configuration text with a line per kept jar would pass the " +
                       std::to_string(CONFIG_TEXT_LIMIT) + " bytes the launcher reads");
    }

    // The size is known before anything is written: headers are rebuilt from the entries.
    std::uint64_t archiveSize = 0;
    for (const MergedEntry& merged : plan.entries) {
        const ZipEntry& entry = *merged.entry;
        archiveSize += 2 * (CENTRAL_HEADER_MIN_SIZE + entry.name.size() + entry.extra.size() + 28) +
                       entry.comment.size() + entry.compressedSize;
    }
    for (const KeptJar& jar : kept) {
        archiveSize += 2 * (CENTRAL_HEADER_MIN_SIZE + jar.entry.name.size() + 28) + jar.data.size();
    }
    if (stubSize + archiveSize + END_RECORD_SIZE + CONFIG_TEXT_LIMIT > LAUNCHER_FILE_LIMIT) {
        return refused("the executable would reach 4 GiB, which the launcher cannot read");
    }

    kvx::platform::TempOutput output;
    // Nothing is written yet: a folder that takes no file is bad input like the others.
    if (!output.create(target, error)) return refused(error);
    // A Windows launcher's checksum covers every byte of the file: those pass through the image
    // writer, which sums them; the Linux launcher's output goes straight to the file.
    ImageWriter image(output.file());
    FileSink plain(output.file());
    ByteSink& sink = stub.needsChecksum() ? static_cast<ByteSink&>(image) : plain;
    if (!sink.write(stub.bytes().data(), stub.bytes().size())) {
        return writeFailed("write failed: " + sink.lastError());
    }
    ArchiveWriter writer(sink, stubSize);
    for (const MergedEntry& merged : plan.entries) {
        if (!writer.add(*merged.entry, *merged.source, error)) return writeFailed(error);
    }
    for (KeptJar& jar : kept) {
        if (!writer.add(jar.entry, *jar.source, error)) return writeFailed(error);
        jar.dataOffset = writer.position() - jar.data.size();
    }
    text += keptJarLines(kept);
    EndRecord record;
    if (!writer.finishDirectory(record, error)) return writeFailed(error);
    std::string comment;
    if (!placeComment(record, text, comment)) {
        return refused("the archive's end record would hide the configuration text from the launcher; "
                       "add or remove a line");
    }
    const EndRecord placed = withCommentLength(record, comment.size());
    if (!writer.writeTail(std::string(placed.bytes.begin(), placed.bytes.end()) + comment, error)) {
        return writeFailed(error);
    }
    if (stub.needsChecksum() && !stub.seal(image, error)) return writeFailed(error);
    // On Windows an open input cannot be replaced: the output may be one of them.
    for (ArchiveInput& input : inputs) (void)input.file.close();
    if (!output.commit(error)) return writeFailed(error);
    // Only once written: a refusal stays the one line it is.
    for (const std::string& warning : plan.warnings) std::fprintf(stderr, "kvxpack: warning: %s\n", warning.c_str());
    return {};
}

}  // namespace kvxpack
