#include "sandbox.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace testsupport {

namespace {

constexpr const char* kHalvex = "/var/torvane_halvex";
constexpr const char* kRunLock = "/run/lock";

bool write_proc(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

bool is_dir(const char* path) {
    struct stat st {};
    return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

std::string errtext(const char* what) {
    return std::string(what) + ": " + std::strerror(errno);
}

} // namespace

std::string make_temp_dir(const char* tag) {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/" + tag + "-XXXXXX";
    if (!mkdtemp(templ.data())) return {};
    return templ;
}

bool enter_private_mounts(std::string& why) {
    if (unshare(CLONE_NEWNS) != 0) {
        // Unprivileged: a user namespace grants the mount rights inside it.
        uid_t uid = getuid();
        gid_t gid = getgid();
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) {
            why = errtext("unshare");
            return false;
        }
        write_proc("/proc/self/setgroups", "deny");
        if (!write_proc("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !write_proc("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
            why = errtext("uid_map");
            return false;
        }
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        why = errtext("make / private");
        return false;
    }
    return true;
}

bool mount_tmpfs(const std::string& dir, const char* size, std::string& why) {
    const std::string opts = std::string("mode=0755,size=") + size;
    if (mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) != 0) {
        why = errtext("tmpfs");
        return false;
    }
    return true;
}

bool bind_mount(const std::string& source, const std::string& target, std::string& why,
                bool read_only) {
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0) {
        why = errtext("bind mount");
        return false;
    }
    // A bind mount takes its read-only flag only in a second step.
    if (read_only &&
        mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0) {
        why = errtext("read-only remount");
        return false;
    }
    return true;
}

bool enter_halvex_sandbox(const std::string& dir, std::string& why) {
    if (dir.empty()) {
        why = "no temporary folder";
        return false;
    }
    if (!enter_private_mounts(why)) return false;
    if (!is_dir(kHalvex)) {
        // The folder does not exist on this machine and must not be created
        // there: lay a private /var over the real one, keeping the entries
        // that programs expect to find in it.
        if (mount("tmpfs", "/var", "tmpfs", 0, "mode=0755,size=16m") != 0) {
            why = errtext("tmpfs on /var");
            return false;
        }
        mkdir("/var/tmp", 01777);
        mkdir("/var/lib", 0755);
        mkdir("/var/log", 0755);
        if (symlink("/run", "/var/run") != 0 || symlink("/run/lock", "/var/lock") != 0) {
            why = errtext("symlinks in private /var");
            return false;
        }
        if (mkdir(kHalvex, 0755) != 0) {
            why = errtext("mkdir halvex");
            return false;
        }
    }
    if (mount(dir.c_str(), kHalvex, nullptr, MS_BIND, nullptr) != 0) {
        why = errtext("bind temporary folder");
        return false;
    }
    // The library's device lock files: a private, empty folder, as after a boot.
    if (is_dir(kRunLock) && mount("tmpfs", kRunLock, "tmpfs", 0, "mode=1777,size=1m") != 0) {
        why = errtext("tmpfs on /run/lock");
        return false;
    }
    return true;
}

bool write_file(const std::string& path, const std::string& text) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

std::string read_file(const std::string& path) {
    std::string out;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return out;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    std::fclose(f);
    return out;
}

} // namespace testsupport
