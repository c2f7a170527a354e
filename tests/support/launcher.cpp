#include "launcher.h"

namespace testsupport {

std::vector<std::string> launch_args(const std::string& program,
                                     const std::vector<std::string>& args) {
    // The words of CMAKE_CROSSCOMPILING_EMULATOR; none where programs run directly.
    std::vector<std::string> all;
    for (const char* word : {TORVANE_CHILD_EMULATOR static_cast<const char*>(nullptr)})
        if (word) all.emplace_back(word);
    if (!all.empty()) all.insert(all.end(), {"-0", program});
    all.push_back(program);
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

} // namespace testsupport
