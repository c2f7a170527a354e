// satcli: runs one SAT function of the driver library per run.
//
//   satcli FUNCAO [args]
//
// The library is loaded from the current directory; values the command line
// does not carry come from ./config.ini.
#include <cstdio>

#include "binding.h"
#include "commands.h"
#include "session.h"

int main(int argc, char** argv) {
    satcli::clear_sessions();
    satcli::Api api;
    if (!satcli::load_library(satcli::kLibraryPath, api, stdout)) return 1;
    int status = satcli::run({api, argc, argv, stdout, stderr});
    if (std::fflush(stdout) != 0 && status == 0) status = 1;
    return status;
}
