// Starting this tree's own programs (satcli, the C example) from a test: directly,
// or through the tree's emulator (qemu-i386 -L /, CMAKE_CROSSCOMPILING_EMULATOR)
// where the x86 tree runs its programs that way. A child that cannot be started
// fails its test; nothing is skipped for it.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// The argument list that runs `program` with `argv0` as its argv[0] and `args`.
std::vector<std::string> launch_args(const std::string& program, const std::string& argv0,
                                     const std::vector<std::string>& args);

// Replaces this process with `program` (execve; `envp` null: this environment).
// Returns only when that fails.
void exec_program(const std::string& program, const std::string& argv0,
                  const std::vector<std::string>& args, char* const* envp = nullptr);

// `program` quoted for a shell command line, behind the emulator when there is one.
std::string shell_program(const std::string& program);

} // namespace testsupport
