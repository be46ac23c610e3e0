#pragma once
// The runtime classes com/quorvane/kvx/*.class, carried inside kvxpack: the bytes of
// kvx-runtime.jar as the build made them.

#include <cstddef>
#include <string>

namespace kvxpack {

const unsigned char* runtimeJarBytes();
std::size_t runtimeJarSize();

// True for the names kvxpack always supplies itself: classes directly in com/quorvane/kvx/.
bool isRuntimeClassName(const std::string& name);

}  // namespace kvxpack
