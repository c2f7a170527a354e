#include "sandbox.h"

#include <fcntl.h>
#include <sched.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>

extern char** environ;

namespace testsupport {

namespace {

bool write_proc(const char* path, const std::string& text) {
    const int fd = open(path, O_WRONLY | O_CLOEXEC);
    const bool ok = fd >= 0 && write(fd, text.data(), text.size()) == ssize_t(text.size());
    if (fd >= 0) close(fd);
    return ok;
}

bool fail(std::string& why, const char* what) {
    why = std::string(what) + ": " + std::strerror(errno);
    return false;
}

} // namespace

std::string make_temp_dir(const char* tag) {
    const char* base = std::getenv("TMPDIR");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/" + tag + "-XXXXXX";
    return mkdtemp(templ.data()) ? templ : std::string();
}

bool enter_private_mounts(std::string& why) {
    if (unshare(CLONE_NEWNS) != 0) {
        // Unprivileged: a user namespace grants the mount rights inside it.
        const std::string uid = std::to_string(getuid()), gid = std::to_string(getgid());
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return fail(why, "unshare");
        write_proc("/proc/self/setgroups", "deny");
        if (!write_proc("/proc/self/uid_map", "0 " + uid + " 1") ||
            !write_proc("/proc/self/gid_map", "0 " + gid + " 1"))
            return fail(why, "uid_map");
    }
    return mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 ||
           fail(why, "make / private");
}

bool mount_tmpfs(const std::string& dir, const char* size, std::string& why) {
    const std::string opts = std::string("mode=0755,size=") + size;
    return mount("tmpfs", dir.c_str(), "tmpfs", 0, opts.c_str()) == 0 || fail(why, "tmpfs");
}

bool bind_mount(const std::string& source, const std::string& target, std::string& why,
                bool read_only) {
    if (mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) != 0)
        return fail(why, "bind mount");
    // A bind mount takes its read-only flag only in a second step.
    return !read_only ||
           mount(nullptr, target.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) ==
               0 ||
           fail(why, "read-only remount");
}

bool enter_halvex_sandbox(const std::string& dir, std::string& why) {
    constexpr const char* kHalvex = "/var/torvane_halvex";
    if (dir.empty()) return why = "no temporary folder", false;
    if (!enter_private_mounts(why)) return false;
    struct stat st {};
    if (stat(kHalvex, &st) != 0 || !S_ISDIR(st.st_mode)) {
        // The folder must not be created on this machine: a private /var over the real
        // one, with the entries that programs expect in it.
        if (mount("tmpfs", "/var", "tmpfs", 0, "mode=0755,size=16m") != 0)
            return fail(why, "tmpfs on /var");
        mkdir("/var/tmp", 01777);
        mkdir("/var/lib", 0755);
        mkdir("/var/log", 0755);
        if (symlink("/run", "/var/run") != 0 || symlink("/run/lock", "/var/lock") != 0 ||
            mkdir(kHalvex, 0755) != 0)
            return fail(why, "private /var");
    }
    return bind_mount(dir, kHalvex, why) &&
           (stat("/run/lock", &st) != 0 ||
            mount("tmpfs", "/run/lock", "tmpfs", 0, "mode=1777,size=1m") == 0 ||
            fail(why, "tmpfs on /run/lock"));
}

bool enter_device_sandbox(const std::string& dir, std::string& why) {
    const std::string shm = dir + "/shm";
    return enter_halvex_sandbox(dir, why) && (mkdir(shm.c_str(), 0755) == 0 || errno == EEXIST) &&
           bind_mount(shm, "/dev/shm", why);
}

bool write_file(const std::string& path, const std::string& text) {
    std::ofstream f(path, std::ios::binary);
    return f.write(text.data(), static_cast<std::streamsize>(text.size())).flush().good();
}

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

Run run_program(const std::vector<std::string>& args, const std::string& dir,
                const std::vector<std::string>& env) {
    const std::string out = make_temp_dir("run") + "/out", err = out + ".err";
    std::vector<std::string> strings(args);
    for (char** e = environ; *e; ++e)
        strings.emplace_back(*e);
    strings.insert(strings.end(), env.begin(), env.end());
    std::vector<char*> argv, envp;
    for (size_t i = 0; i < strings.size(); ++i)
        (i < args.size() ? argv : envp).push_back(strings[i].data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, out.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addopen(&fa, 2, err.c_str(), O_WRONLY | O_CREAT, 0644);
    posix_spawn_file_actions_addchdir_np(&fa, dir.c_str());
    Run r;
    pid_t pid = -1;
    int status = 0;
    if (posix_spawn(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) == 0 &&
        waitpid(pid, &status, 0) == pid && WIFEXITED(status))
        r.status = WEXITSTATUS(status);
    posix_spawn_file_actions_destroy(&fa);
    r.out = read_file(out);
    r.err = read_file(err);
    return r;
}

std::vector<std::string> launch_args(const std::string& program,
                                     const std::vector<std::string>& args) {
    std::vector<std::string> all; // the words of CMAKE_CROSSCOMPILING_EMULATOR, if any
    for (const char* word : {TORVANE_CHILD_EMULATOR static_cast<const char*>(nullptr)})
        if (word) all.emplace_back(word);
    if (!all.empty()) all.insert(all.end(), {"-0", program});
    all.push_back(program);
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

} // namespace testsupport
