// Private sandbox for tests that touch the library's fixed paths, and small
// file and process helpers.
//
// The library reads /var/torvane_halvex/sat.ini and writes its log there. A test
// must never change the machine's real folder, so it moves into a private mount
// namespace and mounts a temporary folder of its own at that path (and one at
// /dev/shm, where the tests keep the link to the emulator's line, and a tmpfs on
// /run/lock, where the library keeps its device lock files).
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// A fresh temporary folder under $TMPDIR (or /tmp); never removed automatically
// so a failing test leaves evidence behind.
std::string make_temp_dir(const char* tag = "sat");

// Enters a private mount namespace (a user namespace too when not root) with "/"
// made private. False and the reason in `why` where none can be made. Call it
// before any thread starts.
bool enter_private_mounts(std::string& why);
// Mounts a tmpfs of `size` (such as "64k") on `dir`, inside a private namespace.
bool mount_tmpfs(const std::string& dir, const char* size, std::string& why);
// Bind-mounts `source` onto `target`, read-only when asked.
bool bind_mount(const std::string& source, const std::string& target, std::string& why,
                bool read_only = false);
// Private mounts with `dir` at /var/torvane_halvex and an empty tmpfs on /run/lock
// (the library's device lock files).
bool enter_halvex_sandbox(const std::string& dir, std::string& why);
// The same plus `dir`/shm at /dev/shm.
bool enter_device_sandbox(const std::string& dir, std::string& why);

// Drops the capabilities that let root read and write any file (from the bounding
// set too), so that mode bits count for this process and the programs it starts.
void drop_file_capabilities();

bool write_file(const std::string& path, const std::string& text);
std::string read_file(const std::string& path); // empty when missing

struct Run {
    int status = -1; // exit status; -1 when it did not exit normally
    std::string out, err;
};
// Runs `argv` (argv[0] is the program's path) in `dir` with stdin from /dev/null and
// `env` ("NAME=value") added to the environment.
Run run_program(const std::vector<std::string>& argv, const std::string& dir,
                const std::vector<std::string>& env = {});

} // namespace testsupport

// Skips the current test with a clear message when no private namespace can be
// made; otherwise `halvex` names the folder now mounted at /var/torvane_halvex.
#define SAT_ENTER_SANDBOX(halvex)                                                                  \
    std::string halvex = testsupport::make_temp_dir("halvex");                                     \
    do {                                                                                           \
        std::string sandbox_why_;                                                                  \
        if (!testsupport::enter_device_sandbox(halvex, sandbox_why_))                              \
            GTEST_SKIP() << "no private mount namespace: " << sandbox_why_;                        \
    } while (0)
