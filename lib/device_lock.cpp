// The device lock shared by every process that uses the same device (device_lock.h).
#include "device_lock.h"

#include "sat_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Writable by every user on Debian (/var/lock links to it); a tmpfs, emptied at boot.
constexpr const char* kLockDir = "/run/lock";

// The process's hold. Only the thread that has the flock writes these; another
// thread only compares `owner` with itself. Atomic, as the flock that orders
// them is invisible to the compiler.
pthread_t owner = 0; // thread that holds the device, 0 when none
int depth = 0;       // nested holds of that thread
int held_fd = -1;    // the lock file, closed when the last hold ends
int reported = 0;    // the missing lock file was logged once

// The device path of the next exchange. Before the start-up has run (the first
// call of a process) SAT_SERIAL is still empty: the path that the start-up will
// read from sat.ini is taken here without starting the library, so that the
// first call logs and prints just what it always did.
void device_path(char (&out)[30]) {
    if (SAT_SERIAL[0] != '\0') {
        std::snprintf(out, sizeof out, "%s", SAT_SERIAL);
        return;
    }
    if (!sat::configured_serial(out, sizeof out))
        std::snprintf(out, sizeof out, "%s", sat::kDefaultSerial);
}

// The lock file of the device: named after the node's device number (a link to
// the node and the node share it); after the file's own number for a node that
// is not a device. False when the node cannot be found.
bool lock_path(char (&out)[96]) {
    char device[30];
    device_path(device);
    struct stat st {};
    if (stat(device, &st) != 0) return false;
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        std::snprintf(out, sizeof out, "%s/torvane_sat.%u_%u.lock", kLockDir, major(st.st_rdev),
                      minor(st.st_rdev));
    else
        std::snprintf(out, sizeof out, "%s/torvane_sat.f%llu_%llu.lock", kLockDir,
                      static_cast<unsigned long long>(st.st_dev),
                      static_cast<unsigned long long>(st.st_ino));
    return true;
}

// Opens the lock file read-only, creating it when missing. An existing file is
// opened without O_CREAT: in a sticky folder the kernel may refuse O_CREAT on
// another user's file (fs.protected_regular). -1 when it cannot be had.
int open_lock_file(const char* path) {
    for (int round = 0; round < 3; ++round) {
        int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd >= 0 || errno != ENOENT) return fd;
        fd = open(path, O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd >= 0) {
            // Whatever the umask: every user must be able to open it to read.
            fchmod(fd, 0644);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

// True while `fd` is still the file at `path` (nobody removed or replaced it).
bool still_at_path(int fd, const char* path) {
    struct stat a {
    }, b{};
    return fstat(fd, &a) == 0 && stat(path, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
}

void report_unlocked(const char* path) {
    if (__atomic_exchange_n(&reported, 1, __ATOMIC_SEQ_CST) == 0)
        sat::log("Trava do dispositivo indisponivel, seguindo sem ela: ", path);
}

// Waits for a change of the lock file (a holder closed it), at most until
// `deadline_ms`; without inotify, a short sleep stands in.
void wait_for_close(int watch, int64_t deadline_ms) {
    int64_t left = deadline_ms - mili_tick();
    if (left <= 0) return;
    if (watch < 0) {
        usleep(static_cast<useconds_t>((left < 20 ? left : 20) * 1000));
        return;
    }
    pollfd p{watch, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) > 0) {
        char events[4096];
        while (read(watch, events, sizeof events) > 0) {
        }
    }
}

enum : int { kUnlocked = -1, kTimedOut = -2 };

// Takes the flock of the device's lock file before `deadline` (tick() seconds).
// The descriptor that holds it; kUnlocked when there is no lock file to take
// (the call goes on without it); kTimedOut when the deadline passed first.
int take_device(long deadline, bool& waited) {
    char path[96];
    if (!lock_path(path)) return kUnlocked; // no node: the open will report it
    int fd = open_lock_file(path);
    if (fd < 0) {
        report_unlocked(path);
        return kUnlocked;
    }
    const int64_t deadline_ms = static_cast<int64_t>(deadline) * 1000;
    int watch = -1;
    bool watching = false;
    int result = kTimedOut;
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
            if (still_at_path(fd, path)) {
                result = fd;
                break;
            }
            // Removed under us: a later process would lock a new file. Take that one.
            close(fd);
            fd = open_lock_file(path);
            if (fd < 0) {
                report_unlocked(path);
                result = kUnlocked;
                break;
            }
            continue;
        }
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) {
            report_unlocked(path);
            close(fd);
            result = kUnlocked;
            break;
        }
        if (!watching) {
            // The watch comes before the next try, so no close in between is missed.
            watching = true;
            watch = inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
            if (watch >= 0 &&
                inotify_add_watch(watch, path, IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
                close(watch);
                watch = -1;
            }
            continue;
        }
        if (mili_tick() >= deadline_ms) {
            sat::log("Dispositivo em uso por outro processo ate o fim do prazo: ", path);
            close(fd);
            break;
        }
        if (!waited) sat::log("Dispositivo em uso por outro processo, aguardando: ", path);
        waited = true;
        wait_for_close(watch, deadline_ms);
    }
    if (watch >= 0) close(watch);
    return result;
}

} // namespace

namespace sat {

DeviceHold::DeviceHold(long deadline) noexcept {
    const pthread_t self = pthread_self();
    if (__atomic_load_n(&owner, __ATOMIC_SEQ_CST) == self) {
        __atomic_add_fetch(&depth, 1, __ATOMIC_SEQ_CST);
        held_ = counted_ = true;
        return;
    }
    const int fd = take_device(deadline, waited_);
    if (fd == kTimedOut) return;
    held_ = true;
    if (fd == kUnlocked) return;
    counted_ = true;
    __atomic_store_n(&held_fd, fd, __ATOMIC_SEQ_CST);
    __atomic_store_n(&depth, 1, __ATOMIC_SEQ_CST);
    __atomic_store_n(&owner, self, __ATOMIC_SEQ_CST);
}

DeviceHold::~DeviceHold() {
    if (!counted_ || __atomic_sub_fetch(&depth, 1, __ATOMIC_SEQ_CST) != 0) return;
    const int fd = __atomic_exchange_n(&held_fd, -1, __ATOMIC_SEQ_CST);
    __atomic_store_n(&owner, pthread_t{0}, __ATOMIC_SEQ_CST);
    // Closing releases the flock and wakes the waiters' inotify watches.
    close(fd);
}

} // namespace sat
