// The splash's checks of its bitmap resource, and its life without and with a display.
#include "natives/SplashWindow.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <memory>
#include <vector>

namespace {

// A bitmap resource as the executable stores it: info header, then the pixels, in a heap
// block of exactly that size.
std::vector<unsigned char> resourceOf(LONG width, LONG height, WORD bits, size_t pixelBytes,
                                      DWORD headerSize = sizeof(BITMAPINFOHEADER), DWORD compression = BI_RGB) {
    BITMAPINFOHEADER h{};
    h.biSize = headerSize;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = bits;
    h.biCompression = compression;
    std::vector<unsigned char> data(headerSize + pixelBytes, 0x55);
    std::memcpy(data.data(), &h, sizeof h);
    return data;
}

bool usable(const std::vector<unsigned char>& data) {
    // Copied to a block of its exact size, so a read past the end cannot go unnoticed by a checker.
    std::unique_ptr<unsigned char[]> exact(new unsigned char[data.size() ? data.size() : 1]);
    if (!data.empty()) std::memcpy(exact.get(), data.data(), data.size());
    return kvx::isUsableSplashBitmap(exact.get(), static_cast<uint32_t>(data.size()));
}

TEST(SplashBitmap, WellFormedPicturesAreUsable) {
    EXPECT_TRUE(usable(resourceOf(400, 300, 24, 1200 * 300)));
    EXPECT_TRUE(usable(resourceOf(400, -300, 24, 1200 * 300)));  // top-down
    EXPECT_TRUE(usable(resourceOf(3, 2, 24, 12 * 2)));           // rows padded to 4 bytes
    EXPECT_TRUE(usable(resourceOf(17, 5, 1, 4 * 5)));
    EXPECT_TRUE(usable(resourceOf(64, 64, 8, 64 * 64 + 1024)));  // with a palette
    EXPECT_TRUE(usable(resourceOf(10, 10, 8, 50, sizeof(BITMAPINFOHEADER), BI_RLE8)));
    BITMAPCOREHEADER core{sizeof(BITMAPCOREHEADER), 2, 2, 1, 24};
    std::vector<unsigned char> old(sizeof core + 16, 0);
    std::memcpy(old.data(), &core, sizeof core);
    EXPECT_TRUE(usable(old));
}

TEST(SplashBitmap, BrokenResourcesAreRefused) {
    EXPECT_FALSE(usable({}));
    EXPECT_FALSE(kvx::isUsableSplashBitmap(nullptr, 100));
    EXPECT_FALSE(usable(std::vector<unsigned char>(11, 0)));
    EXPECT_FALSE(usable(resourceOf(400, 300, 24, 64)));              // pixels cut short
    EXPECT_FALSE(usable(resourceOf(3, 2, 24, 12 * 2 - 1)));          // one byte short
    EXPECT_FALSE(usable(resourceOf(0, 300, 24, 0)));                 // no width
    EXPECT_FALSE(usable(resourceOf(400, 0, 24, 0)));                 // no height
    EXPECT_FALSE(usable(resourceOf(-400, 300, 24, 1200 * 300)));
    EXPECT_FALSE(usable(resourceOf(400, 300, 7, 1200 * 300)));       // no such depth
    EXPECT_FALSE(usable(resourceOf(100000, 1, 1, 12500)));           // larger than any splash
    EXPECT_FALSE(usable(resourceOf(1, LONG_MIN, 1, 16)));
    // A header that claims more than the resource holds.
    auto claims = resourceOf(2, 2, 24, 16);
    DWORD bigHeader = 4000;
    std::memcpy(claims.data(), &bigHeader, sizeof bigHeader);
    EXPECT_FALSE(usable(claims));
    std::vector<unsigned char> text = {'n', 'o', 't', ' ', 'a', ' ', 'b', 'i', 't', 'm', 'a', 'p', '!', '!', '!', '!'};
    EXPECT_FALSE(usable(text));
    auto planes = resourceOf(2, 2, 24, 16);
    planes[12] = 2;  // biPlanes
    EXPECT_FALSE(usable(planes));
}

TEST(SplashWindow, OperationsWithoutASplashDoNothing) {
    EXPECT_EQ(kvx::splashWindowHandle(), nullptr);
    EXPECT_FALSE(kvx::autoCloseRequested());
    kvx::setAutoClose(0);
    kvx::setAutoCloseUnlessRequested(750);
    kvx::requestSplashClose();
    EXPECT_FALSE(kvx::autoCloseRequested());
    EXPECT_EQ(kvx::splashWindowHandle(), nullptr);
}

// Waits up to `ms` for the splash reference to be gone.
bool splashGoneWithin(DWORD ms) {
    DWORD start = GetTickCount();
    while (kvx::splashWindowHandle() != nullptr) {
        if (GetTickCount() - start > ms) return false;
        Sleep(10);
    }
    return true;
}

// The starter must come back promptly with a window, and the splash must end without a trace.
// The unit tests run on a display (tools/wine-run --display); without one no window exists.
TEST(SplashWindow, StartsPromptlyAndEndsCleanly) {
    HBITMAP bitmap = CreateBitmap(40, 30, 1, 32, nullptr);
    ASSERT_NE(bitmap, nullptr);
    DWORD start = GetTickCount();
    kvx::startSplash(bitmap, "unit test splash");
    EXPECT_LT(GetTickCount() - start, 10000u) << "the starter waited for a window that never came";
    HWND window = static_cast<HWND>(kvx::splashWindowHandle());
    ASSERT_NE(window, nullptr) << "no splash window: the unit tests need a display (tools/wine-run --display)";
    RECT r{};
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, (GetSystemMetrics(SM_CXSCREEN) - 40) / 2);
    EXPECT_EQ(r.right - r.left, 40);
    EXPECT_FALSE(kvx::autoCloseRequested());
    kvx::setAutoCloseUnlessRequested(-1);  // the launcher's default, here a cancel
    EXPECT_TRUE(kvx::autoCloseRequested());
    kvx::setAutoClose(0);
    EXPECT_TRUE(splashGoneWithin(10000));
    EXPECT_FALSE(kvx::autoCloseRequested());
}

}  // namespace
