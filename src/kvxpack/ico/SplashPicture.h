#pragma once
// SplashPicture: a .bmp splash turned into the PNG that the Linux launcher hands to the
// runtime's splash library (which reads PNG, GIF and JPEG, not BMP).

#include <string>

namespace kvxpack {

// The archive entry the Linux launcher looks for; stored, so it is read in place.
constexpr char LINUX_SPLASH_ENTRY[] = "META-INF/kvx/splash.png";

// Converts a BMP file (uncompressed, 1 to 32 bits per pixel) into an 8-bit RGB PNG; fails with
// a reason when it is no BMP kvxpack takes or is compressed.
[[nodiscard]] bool splashPng(const unsigned char* bytes, std::size_t size, std::string& png, std::string& error);

}  // namespace kvxpack
