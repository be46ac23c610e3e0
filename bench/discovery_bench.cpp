// Runtime discovery over many installed runtimes, against discovery with only a configured
// path. 20 runtimes in SDKMAN's folder (plus whatever /usr/lib/jvm holds) are read by their
// release files and all turned down by minjre; the bundled runtime beside the executable
// then wins. The figure is the difference of the medians (goal: under 2 ms): versions are
// read without starting Java. With KVX_BENCH_QUICK set: three runs, to show that it works.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "base/AppString.h"
#include "config/AppPaths.h"
#include "config/ConfigStore.h"
#include "jre/JvmDiscovery.h"
#include "platform/Environment.h"

namespace fs = std::filesystem;

namespace {

constexpr int RUNTIMES = 20;
constexpr int REPEATS = 51;

// A Java home with a release file and a library whose header is an x86-64 ELF one.
void makeHome(const fs::path& home, const std::string& version) {
    fs::create_directories(home / "lib" / "server");
    std::ofstream(home / "release") << "IMPLEMENTOR=\"bench\"\nJAVA_VERSION=\"" << version << "\"\n";
    std::string header(64, '\0');
    header.replace(0, 4, "\x7f" "ELF");
    header[4] = 2;
    header[5] = 1;
    header[18] = 62;
    std::ofstream(home / "lib" / "server" / "libjvm.so", std::ios::binary) << header;
}

double medianMs(const std::string& config, const std::string& expected) {
    std::vector<double> times;
    const char* quick = std::getenv("KVX_BENCH_QUICK");
    for (int i = 0; i < (quick && *quick ? 3 : REPEATS); ++i) {
        kvx::ConfigStore store("", config.c_str());
        auto start = std::chrono::steady_clock::now();
        kvx::AppString found = kvx::findJvmLibrary(store);
        auto end = std::chrono::steady_clock::now();
        if (expected != found.c_str()) {
            std::fprintf(stderr, "discovery found '%s', expected '%s'\n", found.c_str(), expected.c_str());
            std::exit(1);
        }
        times.push_back(std::chrono::duration<double, std::milli>(end - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

}  // namespace

int main() {
    std::random_device seed;
    fs::path root = fs::temp_directory_path() / ("kvx-discovery-bench-" + std::to_string(seed()));
    fs::create_directories(root / "app");
    for (int i = 0; i < RUNTIMES; ++i) {
        makeHome(root / "home" / ".sdkman" / "candidates" / "java" / (std::to_string(11 + i) + ".0.1-bench"),
                 std::to_string(11 + i) + ".0.1");
    }
    makeHome(root / "app" / "runtime", "99.0.1");
    kvx::setApplicationPaths((root.string() + "/app/run").c_str(), (root.string() + "/").c_str());
    kvx::platform::setEnv("HOME", (root / "home").string().c_str());
    kvx::platform::unsetEnv("KVX_TRACE");

    const std::string bundled = root.string() + "/app/runtime/lib/server/libjvm.so";
    double configured = medianMs("jvmdll " + bundled + "\njre_order c\n", bundled);
    double searched = medianMs("minjre 99\njre_order vb\n", bundled);

    std::error_code ignored;
    fs::remove_all(root, ignored);
    std::printf("discovery with jvmdll only: median %.3f ms; over %d installed runtimes and a bundled one: "
                "median %.3f ms; difference %.3f ms (goal < 2 ms)\n",
                configured, RUNTIMES, searched, searched - configured);
    std::printf("bench-result: runtime search over %d runtimes, cost over jvmdll | %.3f ms | < 2 ms | %s\n", RUNTIMES,
                searched - configured, searched - configured < 2.0 ? "pass" : "fail");
    return 0;
}
