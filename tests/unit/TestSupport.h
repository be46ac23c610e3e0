#pragma once
// Test support: a temporary directory removed with everything in it, and an environment
// variable put back as it was (set or unset) when the object goes out of scope.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "base/AppString.h"
#include "config/AppPaths.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"

namespace kvx::test {

class TempDir {
public:
    explicit TempDir(const char* prefix = "kvx-test-") {
        std::random_device seed;
        path_ = std::filesystem::temp_directory_path() / (prefix + std::to_string(seed()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // Writes `size` bytes to the file `name` in the directory and returns its path.
    std::string write(const std::string& name, const void* bytes, size_t size) const {
        std::string p = (path_ / name).string();
        std::ofstream out(p, std::ios::binary);
        out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
        return p;
    }
    std::string write(const std::string& name, const std::string& text) const {
        return write(name, text.data(), text.size());
    }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// A temporary tree <root>/app/ and <root>/<startName>/, published as the executable's
// directory (with the executable <root>/app/<exeName>) and the start-up directory. The
// process-wide paths are put back when the tree goes.
class AppTree {
public:
    AppTree(const char* prefix, const char* exeName, const char* startName)
        : root_(prefix), savedExecutableDir_(executableDir()), savedStartupDir_(startupDir()) {
        const std::string sep(1, platform::nativeSeparator());
        std::filesystem::create_directories(root_.path() / "app");
        std::filesystem::create_directories(root_.path() / startName);
        appDir_ = (root_.path() / "app").string() + sep;
        startDir_ = (root_.path() / startName).string() + sep;
        setApplicationPaths((appDir_ + exeName).c_str(), startDir_.c_str());
    }
    ~AppTree() { setApplicationPaths(savedExecutableDir_, savedStartupDir_); }
    AppTree(const AppTree&) = delete;
    AppTree& operator=(const AppTree&) = delete;

    const std::filesystem::path& root() const { return root_.path(); }
    // The executable's and the start-up directory, each ending in the native separator.
    const std::string& appDir() const { return appDir_; }
    const std::string& startDir() const { return startDir_; }

    // Creates the file `relative` under the root (with its directories); returns its path.
    std::string touch(const std::string& relative, const std::string& content) const {
        std::filesystem::path file = root_.path() / relative;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << content;
        return file.string();
    }

private:
    TempDir root_;
    AppString savedExecutableDir_;
    AppString savedStartupDir_;
    std::string appDir_;
    std::string startDir_;
};

inline void unsetVariable(const char* name) { platform::unsetEnv(name); }

// The first bytes of a PE image for `machine` (0x14C i386, 0x8664 AMD64), its "PE" header
// at `peOffset`.
inline std::string peImage(uint16_t machine, uint32_t peOffset = 0x80) {
    std::string bytes(peOffset + 0x40, '\0');
    bytes[0] = 'M';
    bytes[1] = 'Z';
    for (int i = 0; i < 4; ++i) bytes[0x3C + i] = static_cast<char>((peOffset >> (8 * i)) & 0xFF);
    bytes.replace(peOffset, 4, std::string("PE\0\0", 4));
    bytes[peOffset + 4] = static_cast<char>(machine & 0xFF);
    bytes[peOffset + 5] = static_cast<char>(machine >> 8);
    return bytes;
}
// The first bytes of a little-endian ELF file of class 1 (32-bit) or 2 (64-bit) for `machine`.
inline std::string elfImage(unsigned elfClass, uint16_t machine) {
    std::string bytes(64, '\0');
    bytes.replace(0, 4, "\x7f" "ELF");
    bytes[4] = static_cast<char>(elfClass);
    bytes[5] = 1;
    bytes[18] = static_cast<char>(machine & 0xFF);
    bytes[19] = static_cast<char>(machine >> 8);
    return bytes;
}
// A runtime library header this build can load, and one of the other word size.
inline std::string ownArchitectureLibrary() {
#ifdef _WIN32
    return peImage(sizeof(void*) == 8 ? 0x8664 : 0x14C);
#else
    return elfImage(2, 62);
#endif
}
inline std::string otherArchitectureLibrary() {
#ifdef _WIN32
    return peImage(sizeof(void*) == 8 ? 0x14C : 0x8664);
#else
    return elfImage(1, 3);
#endif
}

class SavedVariable {
public:
    explicit SavedVariable(const char* name) : name_(name) { wasSet_ = platform::getEnv(name, value_); }
    ~SavedVariable() {
        if (wasSet_) platform::setEnv(name_, value_.c_str());
        else platform::unsetEnv(name_);
    }
    SavedVariable(const SavedVariable&) = delete;
    SavedVariable& operator=(const SavedVariable&) = delete;

private:
    const char* name_;
    AppString value_;
    bool wasSet_ = false;
};

}  // namespace kvx::test
