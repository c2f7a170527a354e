// Private sandbox for tests that touch the library's fixed paths.
//
// The library reads /var/torvane_halvex/sat.ini and writes its log there. A test
// must never change the machine's real folder, so it moves into a private mount
// namespace and mounts a temporary folder of its own at that path. Everything
// the test writes stays inside its temporary folder.
#pragma once

#include <string>

namespace testsupport {

// A fresh temporary folder under $TMPDIR (or /tmp); never removed automatically
// so a failing test leaves evidence behind.
std::string make_temp_dir(const char* tag = "sat");

// Enters a private mount namespace (as root; otherwise a user namespace with a
// mount namespace), mounts `dir` at /var/torvane_halvex and a private empty
// tmpfs on /run/lock (where the library keeps its device lock files). Returns
// false and the reason in `why` where no namespace can be made. Call it before
// any thread starts.
bool enter_halvex_sandbox(const std::string& dir, std::string& why);

// Enters a private mount namespace (a user namespace too when not root) with
// "/" made private, so mounts made afterwards are seen only by this process
// and its children. Returns false and the reason in `why` where none can be
// made. Call it before any thread starts.
bool enter_private_mounts(std::string& why);
// Mounts a tmpfs of `size` (such as "64k") on `dir`, inside a private namespace.
bool mount_tmpfs(const std::string& dir, const char* size, std::string& why);
// Bind-mounts `source` onto `target` (both files or both folders), read-only
// when asked.
bool bind_mount(const std::string& source, const std::string& target, std::string& why,
                bool read_only = false);

// Writes `text` to `path`, replacing it. Returns false on failure.
bool write_file(const std::string& path, const std::string& text);
// Reads the whole file; empty when missing.
std::string read_file(const std::string& path);

} // namespace testsupport

// Skips the current GoogleTest test with a clear message when no private
// namespace can be made; otherwise `halvex` names the folder now mounted at
// /var/torvane_halvex. `enter(halvex, why)` makes the namespace: by default
// enter_halvex_sandbox; a suite that needs more mounts passes its own.
#define SAT_ENTER_SANDBOX_WITH(halvex, enter)                                                      \
    std::string halvex = testsupport::make_temp_dir("halvex");                                     \
    do {                                                                                           \
        std::string sandbox_why_;                                                                  \
        if (!enter(halvex, sandbox_why_))                                                          \
            GTEST_SKIP() << "no private mount namespace: " << sandbox_why_;                        \
    } while (0)
#define SAT_ENTER_SANDBOX(halvex) SAT_ENTER_SANDBOX_WITH(halvex, testsupport::enter_halvex_sandbox)
