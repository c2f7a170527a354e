// Runs the satcli executable as a user would: in a folder of its own that
// holds the library under its shipped name, config.ini and documents.
#pragma once

#include <string>
#include <vector>

namespace satcli_test {

struct Resultado {
    int status = -1; // exit status, or -1 when it did not exit normally
    std::string out;
    std::string err;
};

// A fresh folder with `biblioteca` linked in as ./libtorvane_sat_x86.so (none
// when empty).
std::string pasta_com_biblioteca(const std::string& biblioteca);

// Runs SATCLI_PATH with argv[0] "satcli" and `args` in `pasta`, with `env`
// ("NAME=value") added to the environment, and collects both outputs.
Resultado roda_satcli(const std::string& pasta, const std::vector<std::string>& args,
                      const std::vector<std::string>& env = {});

} // namespace satcli_test
