#include "launcher.h"

#include <unistd.h>

extern char** environ;

namespace testsupport {
namespace {

// The words of CMAKE_CROSSCOMPILING_EMULATOR; none where programs run directly.
const std::vector<std::string>& emulator() {
    static const std::vector<std::string> words = [] {
        std::vector<std::string> w;
        for (const char* word : {TORVANE_CHILD_EMULATOR static_cast<const char*>(nullptr)})
            if (word) w.emplace_back(word);
        return w;
    }();
    return words;
}

std::string quote(const std::string& s) {
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace

std::vector<std::string> launch_args(const std::string& program, const std::string& argv0,
                                     const std::vector<std::string>& args) {
    std::vector<std::string> all = emulator();
    if (all.empty())
        all.push_back(argv0);
    else
        all.insert(all.end(), {"-0", argv0, program});
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

void exec_program(const std::string& program, const std::string& argv0,
                  const std::vector<std::string>& args, char* const* envp) {
    std::vector<std::string> all = launch_args(program, argv0, args);
    std::vector<char*> argv;
    for (auto& a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const std::string& file = emulator().empty() ? program : emulator().front();
    execve(file.c_str(), argv.data(), envp ? envp : environ);
}

std::string shell_program(const std::string& program) {
    std::string line;
    for (const auto& word : launch_args(program, program, {}))
        line += (line.empty() ? "" : " ") + quote(word);
    return line;
}

} // namespace testsupport
