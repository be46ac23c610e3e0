// The Linux splash: the picture that kvxpack stored in the executable's archive, shown through
// the chosen runtime's own splash-screen library (the one `java -splash:` uses), loaded at run
// time. Sharing that library's one splash lets java.awt.SplashScreen see it, and AWT close it
// when the first window shows. No display, no library or no picture: no splash.
#include <dlfcn.h>
#include <fcntl.h>
#include <jni.h>
#include <pthread.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/AppString.h"
#include "base/GrowBuffer.h"
#include "base/Trace.h"
#include "launcher/Services.h"
#include "launcher/SplashLinux.h"
#include "platform/FileSystem.h"

namespace kvx {

namespace {

// Where kvxpack puts the picture; stored (not deflated), so its bytes are read as they are.
constexpr char SPLASH_ENTRY[] = "META-INF/kvx/splash.png";
constexpr uint32_t SPLASH_SIZE_LIMIT = 64u << 20;
constexpr uint32_t DIRECTORY_SIZE_LIMIT = 256u << 20;
constexpr int64_t CLOSE_AFTER_MAIN_MS = 750;
constexpr int64_t CLOSE_AFTER_ERROR_MS = 100;

class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

uint16_t le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

bool readAt(int fd, uint64_t offset, unsigned char* out, uint32_t length) {
    while (length > 0) {
        ssize_t got = ::pread(fd, out, length, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += static_cast<uint64_t>(got);
        length -= static_cast<uint32_t>(got);
    }
    return true;
}

// The picture's bytes from the archive appended to `path`: the entry is found through the
// central directory (archives past the 32-bit limits carry none).
bool readSplashEntry(const char* path, GrowBuffer<unsigned char>& out) {
    FileDescriptor file(::open(path, O_RDONLY | O_CLOEXEC));
    struct stat info;
    if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || info.st_size < 22) return false;
    const uint64_t size = static_cast<uint64_t>(info.st_size);
    const uint32_t tailSize = size < 22 + 65535 ? static_cast<uint32_t>(size) : 22 + 65535;
    GrowBuffer<unsigned char> tail;
    tail.setLength(static_cast<int32_t>(tailSize));
    if (tail.length() != static_cast<int32_t>(tailSize) || !readAt(file.get(), size - tailSize, tail.data(), tailSize)) {
        return false;
    }
    // The end record nearest the end is the archive's own (a comment may hold the signature).
    int64_t end = -1;
    for (int64_t p = tailSize - 22; p >= 0; --p) {
        if (std::memcmp(tail.data() + p, "PK\x05\x06", 4) == 0) {
            end = p;
            break;
        }
    }
    if (end < 0) return false;
    const unsigned char* record = tail.data() + end;
    const uint32_t directorySize = le32(record + 12);
    const uint32_t directoryOffset = le32(record + 16);
    const uint64_t endAt = size - tailSize + static_cast<uint64_t>(end);
    if (directoryOffset == 0xFFFFFFFFu || directorySize > DIRECTORY_SIZE_LIMIT ||
        static_cast<uint64_t>(directorySize) + directoryOffset > endAt) {
        return false;
    }
    // Offsets count from the archive's first byte; the launcher's image stands in front.
    const uint64_t base = endAt - directorySize - directoryOffset;
    GrowBuffer<unsigned char> directory;
    directory.setLength(static_cast<int32_t>(directorySize));
    if (directory.length() != static_cast<int32_t>(directorySize) ||
        !readAt(file.get(), base + directoryOffset, directory.data(), directorySize)) {
        return false;
    }
    const size_t nameLength = sizeof SPLASH_ENTRY - 1;
    for (uint32_t p = 0; p + 46 <= directorySize;) {
        const unsigned char* entry = directory.data() + p;
        if (le32(entry) != 0x02014B50u) return false;
        const uint32_t name = le16(entry + 28);
        const uint32_t next = p + 46 + name + le16(entry + 30) + le16(entry + 32);
        if (next > directorySize) return false;
        if (name == nameLength && std::memcmp(entry + 46, SPLASH_ENTRY, nameLength) == 0) {
            const uint32_t stored = le32(entry + 20);
            if (le16(entry + 10) != 0 || stored != le32(entry + 24) || stored == 0 || stored > SPLASH_SIZE_LIMIT) {
                return false;
            }
            unsigned char local[30];
            const uint64_t localAt = base + le32(entry + 42);
            if (!readAt(file.get(), localAt, local, sizeof local) || le32(local) != 0x04034B50u) return false;
            out.setLength(static_cast<int32_t>(stored));
            return out.length() == static_cast<int32_t>(stored) &&
                   readAt(file.get(), localAt + 30 + le16(local + 26) + le16(local + 28), out.data(), stored);
        }
        p = next;
    }
    return false;
}

// The runtime's splash library: its C interface and the two natives of java.awt.SplashScreen
// that tell whether the splash still shows (whoever closed it).
struct SplashLibrary {
    void* handle = nullptr;
    int (*init)() = nullptr;
    int (*loadMemory)(void*, int) = nullptr;
    void (*close)() = nullptr;
    void (*setFileJarName)(const char*, const char*) = nullptr;
    jlong(JNICALL* getInstance)(JNIEnv*, jclass) = nullptr;
    jboolean(JNICALL* isVisible)(JNIEnv*, jclass, jlong) = nullptr;
};

// Written once by the main thread before Java runs; read-only afterwards.
SplashLibrary library;
bool shown = false;

// The pending close, shared by Java threads, the main thread and the closer thread.
pthread_mutex_t closeLock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t closeWake;
bool closerStarted = false;
bool closeArmed = false;
bool javaTookCharge = false;
timespec closeAt;

bool stillShowing() {
    if (!shown) return false;
    if (!library.getInstance || !library.isVisible) return true;
    return library.isVisible(nullptr, nullptr, library.getInstance(nullptr, nullptr)) == JNI_TRUE;
}

void closeNow() {
    if (stillShowing()) library.close();
}

void* closerMain(void*) {
    pthread_mutex_lock(&closeLock);
    for (;;) {
        if (!closeArmed) {
            pthread_cond_wait(&closeWake, &closeLock);
            continue;
        }
        if (pthread_cond_timedwait(&closeWake, &closeLock, &closeAt) == ETIMEDOUT && closeArmed) {
            closeArmed = false;
            pthread_mutex_unlock(&closeLock);
            closeNow();
            pthread_mutex_lock(&closeLock);
        }
    }
    return nullptr;
}

// Arms (or with a negative delay cancels) the close; the caller holds closeLock.
void armLocked(int64_t delayMs) {
    if (delayMs < 0) {
        closeArmed = false;
    } else {
        clock_gettime(CLOCK_MONOTONIC, &closeAt);
        closeAt.tv_sec += static_cast<time_t>(delayMs / 1000);
        closeAt.tv_nsec += static_cast<long>(delayMs % 1000) * 1000000L;
        if (closeAt.tv_nsec >= 1000000000L) {
            closeAt.tv_sec += 1;
            closeAt.tv_nsec -= 1000000000L;
        }
        closeArmed = true;
        if (!closerStarted) {
            pthread_t thread;
            pthread_attr_t attributes;
            pthread_attr_init(&attributes);
            pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
            closerStarted = pthread_create(&thread, &attributes, closerMain, nullptr) == 0;
            pthread_attr_destroy(&attributes);
            // Without a thread the close cannot wait: it happens now.
            if (!closerStarted) {
                closeArmed = false;
                pthread_mutex_unlock(&closeLock);
                closeNow();
                pthread_mutex_lock(&closeLock);
                return;
            }
        }
    }
    pthread_cond_signal(&closeWake);
}

void arm(int64_t delayMs, bool fromJava) {
    if (!shown) return;
    pthread_mutex_lock(&closeLock);
    if (fromJava) javaTookCharge = true;
    if (fromJava || !javaTookCharge) armLocked(delayMs);
    pthread_mutex_unlock(&closeLock);
}

}  // namespace

void startSplashIfPresent() {}

void startRuntimeSplash(const char* jvmLibrary) {
    if (shown || !jvmLibrary || !*jvmLibrary) return;
    GrowBuffer<unsigned char> picture;
    AppString self = platform::modulePath();
    if (self.isEmpty() || !readSplashEntry(self.c_str(), picture)) return;
    // lib/server/libjvm.so (and Java 8's jre/lib/amd64/server/libjvm.so): two folders up.
    AppString folder(jvmLibrary);
    for (int up = 0; up < 2; ++up) {
        int32_t cut = folder.length();
        while (cut > 0 && folder.c_str()[cut - 1] != '/') --cut;
        folder.setLength(cut > 0 ? cut - 1 : 0);
    }
    AppString path = folder;
    path.append("/libsplashscreen.so");
    // Some builds of the library need libjvm.so by name, as `java` has it loaded already: load
    // it first (the host's own load later takes the same library; it stays for the process).
    if (!dlopen(jvmLibrary, RTLD_NOW | RTLD_GLOBAL)) {
        trace("no splash: %s", dlerror());
        return;
    }
    library.handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library.handle) {
        trace("no splash: %s", dlerror());
        return;
    }
    library.init = reinterpret_cast<int (*)()>(dlsym(library.handle, "SplashInit"));
    library.loadMemory = reinterpret_cast<int (*)(void*, int)>(dlsym(library.handle, "SplashLoadMemory"));
    library.close = reinterpret_cast<void (*)()>(dlsym(library.handle, "SplashClose"));
    library.setFileJarName =
        reinterpret_cast<void (*)(const char*, const char*)>(dlsym(library.handle, "SplashSetFileJarName"));
    library.getInstance = reinterpret_cast<jlong(JNICALL*)(JNIEnv*, jclass)>(
        dlsym(library.handle, "Java_java_awt_SplashScreen__1getInstance"));
    library.isVisible = reinterpret_cast<jboolean(JNICALL*)(JNIEnv*, jclass, jlong)>(
        dlsym(library.handle, "Java_java_awt_SplashScreen__1isVisible"));
    if (!library.init || !library.loadMemory || !library.close) {
        trace("no splash: %s lacks the splash functions", path.c_str());
        return;
    }
    library.init();
    // The library decodes the picture before it returns (and shows nothing without a display).
    if (!library.loadMemory(picture.data(), picture.length())) {
        trace("no splash: the picture cannot be shown (no display?)");
        return;
    }
    // So java.awt.SplashScreen.getImageURL() names the entry of this executable.
    if (library.setFileJarName) library.setFileJarName(SPLASH_ENTRY, self.c_str());
    pthread_condattr_t attributes;
    pthread_condattr_init(&attributes);
    pthread_condattr_setclock(&attributes, CLOCK_MONOTONIC);
    pthread_cond_init(&closeWake, &attributes);
    pthread_condattr_destroy(&attributes);
    shown = true;
    trace("splash shown through %s", path.c_str());
}

void splashAfterMain() { arm(CLOSE_AFTER_MAIN_MS, false); }
void splashAfterError() {
    if (!shown) return;
    pthread_mutex_lock(&closeLock);
    armLocked(CLOSE_AFTER_ERROR_MS);
    pthread_mutex_unlock(&closeLock);
}
void* splashOwnerWindow() { return nullptr; }

bool linuxSplashShowing() { return stillShowing(); }
void linuxSplashAutoClose(int delayMs) { arm(delayMs, true); }
void linuxSplashClose() {
    if (!shown) return;
    pthread_mutex_lock(&closeLock);
    javaTookCharge = true;
    closeArmed = false;
    pthread_mutex_unlock(&closeLock);
    closeNow();
}

}  // namespace kvx
