#include "platform/TempOutput.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kvx::platform {

namespace {

// The path the handler removes. Swapped only with the signals blocked, so the handler never
// sees a half-made or freed string.
char* volatile pendingTemporary = nullptr;
// SIGBUS too: an input cut shorter while it is read through a mapped view (File.h) ends the
// process there, and that must not leave the temporary file behind either.
constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP, SIGBUS};

void removePendingAndDie(int signalNumber) {
    char* path = pendingTemporary;
    if (path) (void)::unlink(path);
    // The default action then ends the process with the signal, as its parent expects.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

void installHandlersOnce() {
    static bool installed = false;
    if (installed) return;
    installed = true;
    for (int signalNumber : CLEANUP_SIGNALS) {
        struct sigaction action {};
        action.sa_handler = removePendingAndDie;
        sigemptyset(&action.sa_mask);
        for (int other : CLEANUP_SIGNALS) sigaddset(&action.sa_mask, other);
        // A signal the parent chose to ignore (nohup, a background job) stays ignored.
        struct sigaction previous {};
        if (::sigaction(signalNumber, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
        ::sigaction(signalNumber, &action, nullptr);
    }
}

}  // namespace

void setInterruptCleanup(const std::string& path) {
    installHandlersOnce();
    char* fresh = nullptr;
    if (!path.empty()) {
        fresh = new char[path.size() + 1];
        std::memcpy(fresh, path.c_str(), path.size() + 1);
    }
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    for (int signalNumber : CLEANUP_SIGNALS) sigaddset(&blocked, signalNumber);
    ::sigprocmask(SIG_BLOCK, &blocked, &previous);
    char* old = pendingTemporary;
    pendingTemporary = fresh;
    ::sigprocmask(SIG_SETMASK, &previous, nullptr);
    delete[] old;
}

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool replaceFile(const std::string& from, const std::string& to, std::string& error) {
    if (std::rename(from.c_str(), to.c_str()) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

void removeFile(const std::string& path) { (void)::unlink(path.c_str()); }

bool makeExecutable(const std::string& path, std::string& error) {
    // umask can only be read by setting it; kvxpack has a single thread, so this is safe.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::chmod(path.c_str(), 0777 & ~mask) != 0) {
        error = std::strerror(errno);
        return false;
    }
    return true;
}

unsigned long processTag() { return static_cast<unsigned long>(::getpid()); }

}  // namespace kvx::platform
