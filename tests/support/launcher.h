// Starting this tree's own programs (satcli, the C example) from a test: directly,
// or through the tree's emulator (qemu-i386 -L /, CMAKE_CROSSCOMPILING_EMULATOR)
// where the x86 tree runs its programs that way. A child that cannot be started
// fails its test; nothing is skipped for it.
#pragma once

#include <string>
#include <vector>

namespace testsupport {

// The argument list (for run_program) that runs `program` with `args`.
std::vector<std::string> launch_args(const std::string& program,
                                     const std::vector<std::string>& args = {});

} // namespace testsupport
