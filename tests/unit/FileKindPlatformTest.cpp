// The kinds of special paths each system has: device nodes and FIFOs on POSIX systems,
// reserved device names on Windows. Built on both; each system checks its own.

#include <gtest/gtest.h>

#include "TestSupport.h"
#include "platform/File.h"
#include "platform/HostSystem.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <sys/sysmacros.h>
#endif

namespace kvx::platform {
namespace {

#ifdef _WIN32
TEST(FileKindPlatformTest, ReservedDeviceNamesAreDevicesInAnyFolder) {
    test::TempDir dir;
    for (const char* name : {"NUL", "nul.txt", "CON", "com1", "LPT9.exe", "conin$"}) {
        EXPECT_EQ(fileKind(name), FileKind::Device) << name;
        EXPECT_EQ(fileKind(dir / name), FileKind::Device) << name;
    }
    EXPECT_EQ(fileKind("\\\\.\\pipe\\kvx-none"), FileKind::Device);
    EXPECT_EQ(fileKind(dir / "console.txt"), FileKind::Missing);
    EXPECT_EQ(fileKind(dir / "com10"), FileKind::Missing);
    File device;
    EXPECT_FALSE(device.openRead("NUL"));
    EXPECT_NE(device.lastError().find("a device"), std::string::npos) << device.lastError();
}
#else
TEST(FileKindPlatformTest, FifosAndDeviceNodesAreNeverOpenedForReading) {
    test::TempDir dir;
    const std::string fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(fileKind(fifo), FileKind::Fifo);
    File file;
    // Opening a FIFO for reading would wait for a writer: refused at once instead.
    EXPECT_FALSE(file.openRead(fifo));
    EXPECT_NE(file.lastError().find("a FIFO"), std::string::npos) << file.lastError();

    const std::string node = dir / "null";
    ASSERT_EQ(::mknod(node.c_str(), S_IFCHR | 0600, makedev(1, 3)), 0) << "creating device nodes needs root";
    EXPECT_EQ(fileKind(node), FileKind::Device);
    EXPECT_FALSE(file.openRead(node));
    EXPECT_NE(file.lastError().find("a device"), std::string::npos) << file.lastError();
}
#endif

}  // namespace
}  // namespace kvx::platform
