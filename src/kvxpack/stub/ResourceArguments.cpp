#include "stub/ResourceArguments.h"

#include "pe/VersionRecord.h"

namespace kvxpack {

namespace {

bool setPath(std::string& slot, std::string_view name, const std::string& value, std::string& error) {
    if (!slot.empty()) {
        error = std::string(name) + " given twice";
        return false;
    }
    slot = value;
    return true;
}

bool addTrayIcon(const std::string& value, ResourceOptions& options, std::string& error) {
    const std::size_t equals = value.find('=');
    const std::string id = value.substr(0, equals);
    bool digits = !id.empty() && id.size() <= 5;
    for (char c : id) digits = digits && c >= '0' && c <= '9';
    const unsigned long number = digits ? std::stoul(id) : 0;
    if (equals == std::string::npos || equals + 1 == value.size()) {
        error = "--tray-icon '" + value + "': expected ID=FILE.ico";
        return false;
    }
    if (!digits || number < 1 || number > 65535) {
        error = "--tray-icon '" + value + "': the id must be a number from 1 to 65535";
        return false;
    }
    const std::string canonical = std::to_string(number);
    for (const ConfigEntry& known : options.trayIcons) {
        if (known.key == canonical) {
            error = "--tray-icon id " + canonical + " given twice";
            return false;
        }
    }
    options.trayIcons.push_back({canonical, value.substr(equals + 1)});
    return true;
}

bool addVersion(const std::string& value, ResourceOptions& options, std::string& error) {
    const std::size_t equals = value.find('=');
    if (equals == std::string::npos || equals == 0) {
        error = "--version '" + value + "': expected KEY=VALUE";
        return false;
    }
    const std::string key = value.substr(0, equals);
    if (!isVersionKey(key)) {
        error = "--version '" + value + "': unknown key " + key + " (use " + versionKeyList() + ")";
        return false;
    }
    for (const ConfigEntry& known : options.version) {
        if (known.key == key) {
            error = "--version " + key + " given twice";
            return false;
        }
    }
    options.version.push_back({key, value.substr(equals + 1)});
    return true;
}

}  // namespace

bool resourceFlag(std::string_view argument, ResourceOptions& options) {
    if (argument == "--console") {
        options.console = true;
        return true;
    }
    if (argument == "--utf8") {
        options.utf8 = true;
        return true;
    }
    return false;
}

bool addResourceOption(std::string_view name, const std::string& value, ResourceOptions& options, std::string& error) {
    if (value.empty()) {
        error = std::string(name) + " needs a value";
        return false;
    }
    if (name == "--icon") return setPath(options.iconPath, name, value, error);
    if (name == "--splash") return setPath(options.splashPath, name, value, error);
    if (name == "--manifest") return setPath(options.manifestPath, name, value, error);
    if (name == "--tray-icon") return addTrayIcon(value, options, error);
    return addVersion(value, options, error);
}

}  // namespace kvxpack
