#pragma once
// Test support: a temporary directory removed with everything in it, and an environment
// variable put back as it was (set or unset) when the object goes out of scope.

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "base/AppString.h"
#include "platform/Environment.h"

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

inline void unsetVariable(const char* name) { platform::unsetEnv(name); }

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
