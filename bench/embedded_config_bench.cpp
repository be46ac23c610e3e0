// Reading the embedded configuration must cost the same whatever the archive's size: only
// the file's tail is mapped. Times EmbeddedConfigText over a 1 MiB file and a 2 GiB sparse
// file that end alike, and prints both medians and their ratio (goal: at most 1.1). With
// KVX_BENCH_QUICK set: a few runs, to show that it works.

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "config/EmbeddedConfigText.h"

namespace fs = std::filesystem;

namespace {

constexpr uint64_t MIB = 1024ull * 1024ull;
constexpr int RUNS = 3000;
constexpr double GOAL_RATIO = 1.1;

// The last 64 KiB of both files: archive bytes, the end record and the configuration text.
std::vector<char> tailBytes(const std::string& text) {
    std::vector<char> tail(64 * 1024 - 22 - text.size());
    std::mt19937 random(7);
    for (char& c : tail) c = static_cast<char>('a' + random() % 26);
    const char record[22] = {0x50, 0x4B, 0x05, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                             static_cast<char>(text.size() & 0xFF), static_cast<char>(text.size() >> 8)};
    tail.insert(tail.end(), record, record + 22);
    tail.insert(tail.end(), text.begin(), text.end());
    return tail;
}

bool writeFile(const fs::path& path, uint64_t size, const std::vector<char>& tail) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    // Everything before the tail is left as a hole: the file is sparse.
    out.seekp(static_cast<std::streamoff>(size - tail.size()));
    out.write(tail.data(), static_cast<std::streamsize>(tail.size()));
    return static_cast<bool>(out);
}

double medianMicros(std::vector<double>& samples) {
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

double timeRead(const std::string& path, const std::string& expected, bool& ok) {
    auto start = std::chrono::steady_clock::now();
    kvx::EmbeddedConfigText text(path.c_str());
    auto end = std::chrono::steady_clock::now();
    if (std::string(text.c_str(), static_cast<size_t>(text.length())) != expected) ok = false;
    return std::chrono::duration<double, std::micro>(end - start).count();
}

}  // namespace

int main() {
    std::random_device seed;
    fs::path dir = fs::temp_directory_path() / ("kvx-bench-" + std::to_string(seed()));
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        std::fprintf(stderr, "embedded_config_bench: cannot create %s\n", dir.string().c_str());
        return 1;
    }
    std::string text;
    for (int i = 0; i < 40; ++i) text += "option -Dkvx.bench." + std::to_string(i) + "=value\r\n";
    text += "mainclass app.Main";
    std::vector<char> tail = tailBytes(text);
    std::string small = (dir / "small.exe").string();
    std::string large = (dir / "large.exe").string();
    bool ok = writeFile(small, MIB, tail) && writeFile(large, 2048 * MIB, tail);
    if (!ok) {
        std::fprintf(stderr, "embedded_config_bench: cannot write the test files\n");
        fs::remove_all(dir, ec);
        return 1;
    }

    std::vector<double> smallTimes;
    std::vector<double> largeTimes;
    const char* quick = std::getenv("KVX_BENCH_QUICK");
    const int runs = quick && *quick ? 5 : RUNS;
    for (int i = 0; i < (quick && *quick ? 1 : 50); ++i) {  // warm the page cache and the allocator
        timeRead(small, text, ok);
        timeRead(large, text, ok);
    }
    // Interleaved, so that drifts of the machine's load hit both alike.
    for (int i = 0; i < runs; ++i) {
        smallTimes.push_back(timeRead(small, text, ok));
        largeTimes.push_back(timeRead(large, text, ok));
    }
    fs::remove_all(dir, ec);
    if (!ok) {
        std::fprintf(stderr, "embedded_config_bench: a read returned the wrong text\n");
        return 1;
    }

    double smallMedian = medianMicros(smallTimes);
    double largeMedian = medianMicros(largeTimes);
    double ratio = largeMedian / smallMedian;
    std::printf("embedded config read, 1 MiB file: median %.1f us over %d runs\n", smallMedian, runs);
    std::printf("embedded config read, 2 GiB file: median %.1f us over %d runs\n", largeMedian, runs);
    std::printf("ratio 2 GiB / 1 MiB: %.3f (goal <= %.1f): %s\n", ratio, GOAL_RATIO,
                ratio <= GOAL_RATIO ? "met" : "NOT met");
    std::printf("bench-result: configuration read, 2 GiB vs 1 MiB file | %.3fx | <= %.1fx | %s\n", ratio, GOAL_RATIO,
                ratio <= GOAL_RATIO ? "pass" : "fail");
    return 0;
}
