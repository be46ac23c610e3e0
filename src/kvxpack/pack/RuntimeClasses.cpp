#include "pack/RuntimeClasses.h"

namespace kvxpack {

namespace {
// Generated at build time from build/java/kvx-runtime.jar (tools/embed-bytes.py).
#include "RuntimeJar.inc"

constexpr char PACKAGE[] = "com/quorvane/kvx/";
constexpr char SUFFIX[] = ".class";
}  // namespace

const unsigned char* runtimeJarBytes() { return KVX_RUNTIME_JAR; }
std::size_t runtimeJarSize() { return sizeof KVX_RUNTIME_JAR; }

bool isRuntimeClassName(const std::string& name) {
    const std::size_t prefix = sizeof PACKAGE - 1;
    const std::size_t suffix = sizeof SUFFIX - 1;
    return name.size() > prefix + suffix && name.compare(0, prefix, PACKAGE) == 0 &&
           name.compare(name.size() - suffix, suffix, SUFFIX) == 0 &&
           name.find('/', prefix) == std::string::npos;
}

}  // namespace kvxpack
