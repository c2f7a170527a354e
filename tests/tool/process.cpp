#include "process.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "launcher.h"
#include "sandbox.h"

extern char** environ;

namespace satcli_test {

std::string pasta_com_biblioteca(const std::string& biblioteca) {
    std::string pasta = testsupport::make_temp_dir("satcli-run");
    if (!biblioteca.empty())
        (void)!symlink(biblioteca.c_str(), (pasta + "/libtorvane_sat_x86.so").c_str());
    return pasta;
}

Resultado roda_satcli(const std::string& pasta, const std::vector<std::string>& args,
                      const std::vector<std::string>& env) {
    std::string saidas = testsupport::make_temp_dir("satcli-out");
    std::string out = saidas + "/stdout", err = saidas + "/stderr";
    std::vector<std::string> env_s;
    for (char** e = environ; *e; ++e)
        env_s.emplace_back(*e);
    env_s.insert(env_s.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (auto& e : env_s)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    Resultado r;
    pid_t pid = fork();
    if (pid < 0) return r;
    if (pid == 0) {
        int fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int fe = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int fi = open("/dev/null", O_RDONLY);
        if (fo < 0 || fe < 0 || fi < 0 || chdir(pasta.c_str()) != 0) _exit(126);
        dup2(fi, 0);
        dup2(fo, 1);
        dup2(fe, 2);
        testsupport::exec_program(SATCLI_PATH, "satcli", args, envp.data());
        _exit(127);
    }
    int st = 0;
    while (waitpid(pid, &st, 0) < 0) {
    }
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    r.out = testsupport::read_file(out);
    r.err = testsupport::read_file(err);
    return r;
}

} // namespace satcli_test
