#include "platform/ProgramArguments.h"

#include <windows.h>
#include <shellapi.h>

#include "base/Trace.h"
#include "platform/win32/WideCommandLine.h"

namespace kvx::platform {

namespace {

// Owns the block CommandLineToArgvW returns.
class ArgvBlock {
public:
    explicit ArgvBlock(LPWSTR* block) : block_(block) {}
    ~ArgvBlock() {
        if (block_) LocalFree(block_);
    }
    ArgvBlock(const ArgvBlock&) = delete;
    ArgvBlock& operator=(const ArgvBlock&) = delete;
    LPWSTR* get() const { return block_; }

private:
    LPWSTR* block_;
};

}  // namespace

bool splitWideCommandLine(const uint16_t* line, WideStringList& out) {
    out.clear();
    if (!line) return false;
    int count = 0;
    ArgvBlock argv(CommandLineToArgvW(reinterpret_cast<LPCWSTR>(line), &count));
    if (!argv.get()) return false;
    // The first is the program's name, which CommandLineToArgvW reads by rules of its own.
    for (int i = 1; i < count; ++i) {
        if (!out.add(reinterpret_cast<const uint16_t*>(argv.get()[i]))) return false;
    }
    return true;
}

bool programArguments(int argc, const char* const* argv, WideStringList& out) {
    if (splitWideCommandLine(reinterpret_cast<const uint16_t*>(GetCommandLineW()), out)) return true;
    // Only exhausted memory gets here; the ANSI arguments are then the best there is.
    trace("the wide command line could not be split; using the ANSI arguments");
    return narrowProgramArguments(argc, argv, out);
}

}  // namespace kvx::platform
