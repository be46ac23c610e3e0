#include "stub/StubImage.h"

#include <string_view>

#include "ico/BitmapFile.h"
#include "ico/SplashPicture.h"
#include "ico/IconFile.h"
#include "pe/Manifest.h"
#include "pe/PeImage.h"
#include "pe/VersionRecord.h"

namespace kvxpack {

using kvx::platform::File;

namespace {

constexpr std::uint64_t STUB_LIMIT = 64u << 20;
constexpr std::uint64_t ICON_LIMIT = 16u << 20;
constexpr std::uint64_t BITMAP_LIMIT = 256u << 20;
constexpr std::uint64_t MANIFEST_LIMIT = 1u << 20;
constexpr std::uint16_t LANGUAGE_NEUTRAL = 0;
constexpr std::uint16_t LANGUAGE_EN_US = 0x0409;
constexpr std::uint16_t SPLASH_BITMAP_ID = 100;
constexpr std::uint16_t MANIFEST_ID = 1;
constexpr std::uint16_t VERSION_ID = 1;
// Explorer shows the first icon group; named groups sort before numbered ones, so the
// application icon stays first whatever ids the tray icons take.
const std::u16string APPLICATION_ICON_NAME = u"APPICON";

// Removes an icon group together with the images it names.
void removeIconGroup(ResourceTree& tree, const ResourceName& group) {
    const ResourceName groupType = ResourceName::number(RT_GROUP_ICON_TYPE);
    if (const LanguageMap* languages = tree.find(groupType, group)) {
        for (const auto& language : *languages) {
            for (std::uint16_t id : iconGroupIds(language.second.data)) {
                tree.remove(ResourceName::number(RT_ICON_TYPE), ResourceName::number(id));
            }
        }
    }
    tree.remove(groupType, group);
}

bool addIconGroup(ResourceTree& tree, const ResourceName& group, const std::string& path, std::string& error) {
    Bytes file;
    if (!readWholeFile(path, ICON_LIMIT, file, error)) return false;
    std::vector<IconImage> images;
    if (!parseIcon(file.data(), file.size(), images, error)) {
        error = "icon " + path + ": " + error;
        return false;
    }
    removeIconGroup(tree, group);
    const std::uint16_t firstId = tree.unusedIconId();
    if (firstId == 0 || firstId + images.size() - 1 > 0xFFFF) {
        error = "icon " + path + ": no free icon ids left in the stub";
        return false;
    }
    tree.put(ResourceName::number(RT_GROUP_ICON_TYPE), group, LANGUAGE_NEUTRAL, iconGroupResource(images, firstId));
    std::uint16_t id = firstId;
    for (IconImage& image : images) {
        tree.put(ResourceName::number(RT_ICON_TYPE), ResourceName::number(id++), LANGUAGE_NEUTRAL, std::move(image.data));
    }
    return true;
}

bool applyResources(ResourceTree& tree, const ResourceOptions& options, std::string& error) {
    if (!options.iconPath.empty() &&
        !addIconGroup(tree, ResourceName::named(APPLICATION_ICON_NAME), options.iconPath, error)) {
        return false;
    }
    for (const ConfigEntry& tray : options.trayIcons) {
        const auto id = static_cast<std::uint16_t>(std::stoul(tray.key));
        if (!addIconGroup(tree, ResourceName::number(id), tray.value, error)) return false;
    }
    if (!options.splashPath.empty()) {
        Bytes file;
        if (!readWholeFile(options.splashPath, BITMAP_LIMIT, file, error)) return false;
        Bytes resource;
        BitmapInfo info;
        if (!bitmapResource(file.data(), file.size(), resource, info, error)) {
            error = "splash " + options.splashPath + ": " + error;
            return false;
        }
        const ResourceName splash = ResourceName::number(SPLASH_BITMAP_ID);
        tree.remove(ResourceName::number(RT_BITMAP_TYPE), splash);
        tree.put(ResourceName::number(RT_BITMAP_TYPE), splash, LANGUAGE_NEUTRAL, std::move(resource));
    }
    if (!options.version.empty()) {
        std::vector<VersionEntry> entries;
        for (const ConfigEntry& entry : options.version) entries.push_back({entry.key, entry.value});
        Bytes resource;
        if (!versionResource(entries, resource, error)) return false;
        tree.remove(ResourceName::number(RT_VERSION_TYPE), ResourceName::number(VERSION_ID));
        tree.put(ResourceName::number(RT_VERSION_TYPE), ResourceName::number(VERSION_ID), LANGUAGE_EN_US,
                 std::move(resource));
    }
    std::string manifest;
    if (options.manifestPath.empty()) {
        manifest = builtInManifest(options.utf8);
    } else {
        Bytes file;
        if (!readWholeFile(options.manifestPath, MANIFEST_LIMIT, file, error)) return false;
        manifest.assign(file.begin(), file.end());
        if (!checkManifest(manifest, error)) {
            error = "manifest " + options.manifestPath + ": " + error;
            return false;
        }
    }
    // One manifest per executable: whatever the stub carried goes.
    tree.types().erase(ResourceName::number(RT_MANIFEST_TYPE));
    tree.put(ResourceName::number(RT_MANIFEST_TYPE), ResourceName::number(MANIFEST_ID), LANGUAGE_EN_US,
             Bytes(manifest.begin(), manifest.end()));
    return true;
}

}  // namespace

bool readWholeFile(const std::string& path, std::uint64_t limit, Bytes& bytes, std::string& error) {
    File file;
    std::uint64_t size = 0;
    if (!file.openRead(path) || !file.size(size)) {
        error = "cannot read " + path + ": " + file.lastError();
        return false;
    }
    if (size > limit) {
        error = path + " is larger than " + std::to_string(limit >> 20) + " MiB";
        return false;
    }
    bytes.assign(static_cast<std::size_t>(size), 0);
    if (size > 0 && !file.readAt(0, bytes.data(), bytes.size())) {
        error = "cannot read " + path + ": " + file.lastError();
        return false;
    }
    return true;
}

bool StubImage::load(const std::string& path, const ResourceOptions& options, std::string& error) {
    if (!options.manifestPath.empty() && options.utf8) {
        error = "--utf8 changes the built-in manifest only; put activeCodePage into " + options.manifestPath;
        return false;
    }
    Bytes file;
    if (!readWholeFile(path, STUB_LIMIT, file, error)) {
        error = "stub: " + error;
        return false;
    }
    return load(std::move(file), path, options, error);
}

bool StubImage::load(Bytes file, const std::string& path, const ResourceOptions& options, std::string& error) {
    const std::string_view head(reinterpret_cast<const char*>(file.data()), file.size() < 4 ? file.size() : 4);
    if (head == "\x7f" "ELF") {
        // The Linux launcher takes the splash from its archive (an entry kvxpack adds).
        ResourceOptions windowsOnly = options;
        windowsOnly.splashPath.clear();
        if (windowsOnly.windowsOnly()) {
            error = "stub " + path + " is the Linux launcher; --icon, --tray-icon, --version, "
                    "--manifest, --utf8 and --console need a Windows launcher";
            return false;
        }
        linuxSplash_.clear();
        if (!options.splashPath.empty()) {
            Bytes picture;
            if (!readWholeFile(options.splashPath, BITMAP_LIMIT, picture, error)) return false;
            if (!splashPng(picture.data(), picture.size(), linuxSplash_, error)) {
                error = "splash " + options.splashPath + ": " + error;
                return false;
            }
        }
        bytes_ = std::move(file);
        pe_ = false;
        return true;
    }
    PeImage image;
    ResourceTree tree;
    if (!image.parse(std::move(file), error) || !image.readResources(tree, error)) {
        error = "stub " + path + ": " + error;
        return false;
    }
    if (options.console && !image.consoleSubsystem()) {
        error = "stub " + path + " is a GUI launcher but --console was given";
        return false;
    }
    if (!applyResources(tree, options, error)) return false;
    if (!image.writeResources(tree, error)) {
        error = "stub " + path + ": " + error;
        return false;
    }
    image.clearTimeStamp();
    bytes_ = image.bytes();
    pe_ = true;
    checksumAt_ = image.checksumOffset();
    put32(bytes_.data() + checksumAt_, 0);
    return true;
}

bool StubImage::seal(ImageWriter& output, std::string& error) const {
    if (!pe_) return true;
    // The field was zero while the bytes were summed, as the checksum wants it.
    unsigned char field[4];
    put32(field, output.checksum().finish(output.size()));
    if (!output.file().writeAt(checksumAt_, field, sizeof field)) {
        error = "cannot write the image checksum: " + output.lastError();
        return false;
    }
    return true;
}

}  // namespace kvxpack
