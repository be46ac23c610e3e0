// Runs a fuzz target's entry point once over each file given (directories: every file in
// them, in name order), without libFuzzer: the seed corpora replay in every test run, so
// a crash found once stays fixed. Prints "replayed N inputs"; a crash or abort ends it.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

bool replayFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", path.string().c_str());
        return false;
    }
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // A copy of exactly the input's size, so AddressSanitizer sees any read past its end.
    std::vector<uint8_t> exact(bytes);
    static const uint8_t none = 0;  // libFuzzer hands a valid pointer even for empty input
    LLVMFuzzerTestOneInput(exact.empty() ? &none : exact.data(), exact.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    size_t replayed = 0;
    for (int i = 1; i < argc; ++i) {
        std::error_code ec;
        fs::path arg(argv[i]);
        std::vector<fs::path> files;
        if (fs::is_directory(arg, ec)) {
            for (const fs::directory_entry& entry : fs::directory_iterator(arg, ec))
                if (entry.is_regular_file(ec)) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
        } else {
            files.push_back(arg);
        }
        for (const fs::path& file : files) {
            if (!replayFile(file)) return 2;
            ++replayed;
        }
    }
    std::printf("replayed %zu inputs\n", replayed);
    return 0;
}
