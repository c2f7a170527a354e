// Stand-in driver library for satcli's process tests.
//
// Built several times: complete, without the optional functions
// (STUB_SEM_OPCIONAIS), and without a required one (STUB_SEM_ATIVAR). Each
// function appends "Name|arg|..." (session as %06d) to the file named by
// STUB_REGISTRO and answers STUB_RESPOSTA, with "{sessao}" replaced by the
// session number; a console line on standard output (written past stdio)
// shows where the library's own messages land.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#define STUB_API extern "C" __attribute__((visibility("default")))

namespace {

std::string resposta;

std::string sessao(int n) {
    char b[16];
    std::snprintf(b, sizeof b, "%06d", n);
    return b;
}

char* responde(int numero, std::string chamada, const char* padrao) {
    if (const char* reg = std::getenv("STUB_REGISTRO")) {
        if (std::FILE* f = std::fopen(reg, "a")) {
            std::fprintf(f, "%s\n", chamada.c_str());
            std::fclose(f);
        }
    }
    if (std::getenv("STUB_CONSOLE")) (void)!write(1, "stub: console\n", 14);
    const char* r = std::getenv("STUB_RESPOSTA");
    resposta = r ? r : padrao;
    for (std::size_t p; (p = resposta.find("{sessao}")) != std::string::npos;)
        resposta.replace(p, 8, sessao(numero));
    return resposta.data();
}

std::string j(std::initializer_list<std::string> partes) {
    std::string s;
    for (const auto& p : partes)
        s += (s.empty() ? "" : "|") + p;
    return s;
}

} // namespace

STUB_API char* ExtrairLogs(int s, char* c) {
    return responde(s, j({"ExtrairLogs", sessao(s), c}), "{sessao}|15000|ok|||");
}
STUB_API char* AtualizarSoftwareSAT(int s, char* c) {
    return responde(s, j({"AtualizarSoftwareSAT", sessao(s), c}), "{sessao}|14000|ok||");
}
STUB_API char* ConsultarStatusOperacional(int s, char* c) {
    return responde(s, j({"ConsultarStatusOperacional", sessao(s), c}), "{sessao}|10000|ok||");
}
#ifndef STUB_SEM_ATIVAR
STUB_API char* AtivarSAT(int s, int sub, char* c, char* cnpj, int uf) {
    return responde(s,
                    j({"AtivarSAT", sessao(s), std::to_string(sub), c, cnpj, std::to_string(uf)}),
                    "{sessao}|04000|ok||");
}
#endif
STUB_API char* EnviarDadosVenda(int s, char* c, char* d) {
    return responde(s, j({"EnviarDadosVenda", sessao(s), c, d}), "{sessao}|06000|0000|ok|||");
}
STUB_API char* CancelarUltimaVenda(int s, char* c, char* k, char* d) {
    return responde(s, j({"CancelarUltimaVenda", sessao(s), c, k, d}), "{sessao}|07000|0000|ok|||");
}
STUB_API char* ConsultarSAT(int s) {
    return responde(s, j({"ConsultarSAT", sessao(s)}), "{sessao}|08000|SAT em operacao||");
}
STUB_API char* TesteFimAFim(int s, char* c, char* d) {
    return responde(s, j({"TesteFimAFim", sessao(s), c, d}), "{sessao}|09000|ok||");
}
STUB_API char* ConsultarNumeroSessao(int s, char* c, int n) {
    return responde(s, j({"ConsultarNumeroSessao", sessao(s), c, std::to_string(n)}),
                    "{sessao}|11003|Sessao nao existe||");
}
#ifndef STUB_SEM_OPCIONAIS
STUB_API char* ConsultarUltimaSessaoFiscal(int s, char* c) {
    return responde(s, j({"ConsultarUltimaSessaoFiscal", sessao(s), c}), "{sessao}|19003|x||");
}
STUB_API char* SetDriver(char* p, char* v) {
    return responde(0, j({"SetDriver", p, v}), "OK");
}
#endif
STUB_API char* ConfigurarInterfaceDeRede(int s, char* c, char* d) {
    return responde(s, j({"ConfigurarInterfaceDeRede", sessao(s), c, d}), "{sessao}|12000|ok||");
}
STUB_API char* AssociarAssinatura(int s, char* c, char* v, char* a) {
    return responde(s, j({"AssociarAssinatura", sessao(s), c, v, a}), "{sessao}|13000|ok||");
}
STUB_API char* BloquearSAT(int s, char* c) {
    return responde(s, j({"BloquearSAT", sessao(s), c}), "{sessao}|16000|ok||");
}
STUB_API char* DesbloquearSAT(int s, char* c) {
    return responde(s, j({"DesbloquearSAT", sessao(s), c}), "{sessao}|17000|ok||");
}
STUB_API char* TrocarCodigoDeAtivacao(int s, char* c, int o, char* n, char* cn) {
    return responde(s, j({"TrocarCodigoDeAtivacao", sessao(s), c, std::to_string(o), n, cn}),
                    "{sessao}|18000|ok||");
}
