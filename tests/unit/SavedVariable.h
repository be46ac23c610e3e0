#pragma once
// Test support: one environment variable, put back as it was (set or unset) when the
// object goes out of scope, and a way to unset one.

#include "base/AppString.h"
#include "platform/Environment.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace kvx::test {

inline void unsetVariable(const char* name) {
#ifdef _WIN32
    SetEnvironmentVariableA(name, nullptr);
#else
    ::unsetenv(name);
#endif
}

class SavedVariable {
public:
    explicit SavedVariable(const char* name) : name_(name) { wasSet_ = platform::getEnv(name, value_); }
    ~SavedVariable() {
        if (wasSet_) platform::setEnv(name_, value_.c_str());
        else unsetVariable(name_);
    }
    SavedVariable(const SavedVariable&) = delete;
    SavedVariable& operator=(const SavedVariable&) = delete;

private:
    const char* name_;
    AppString value_;
    bool wasSet_ = false;
};

}  // namespace kvx::test
