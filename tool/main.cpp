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
    satcli::limpa_sessoes();
    satcli::Api api;
    if (!satcli::carrega_biblioteca(satcli::kLibraryPath, api, stdout)) return 1;
    int status = satcli::executa({api, argc, argv, stdout, stderr});
    if (std::fflush(stdout) != 0 && status == 0) status = 1;
    return status;
}
