#include "commands.h"

#include <cstring>

#include "answers.h"
#include "config.h"
#include "session.h"

namespace satcli {

namespace {

constexpr const char* kSeparator =
    "========================================================================";

enum class Optional { none, ultima_sessao_fiscal, set_driver };

struct Command;
using Handler = int (*)(const Invocation&, const Command&);
// The library functions that take only a session and an activation code.
using PlainFunction = decltype(&::BloquearSAT) Api::*;

struct Command {
    std::string_view name;
    const char* usage;  // line of the usage text; nullptr: not listed
    const char* syntax; // printed with argv[0] on a wrong count; nullptr: any count
    int argc;           // argv[0] included; 0: any
    Optional optional;
    const char* title;
    Handler run;
    PlainFunction function = nullptr;
};

const char* program(const Invocation& x) {
    return x.argc > 0 && x.argv[0] ? x.argv[0] : "satcli";
}

void separator(const Invocation& x) {
    std::fprintf(x.out, "%s\n", kSeparator);
}

void title(const Invocation& x, const char* t) {
    separator(x);
    std::fprintf(x.out, "\nExecutando funcao: %s\n", t);
}

void parameters_line(const Invocation& x) {
    std::fputs("Parametros: \n", x.out);
}

void activation_code_line(const Invocation& x) {
    std::fprintf(x.out, "     Cod. Ativacao: %s\n", x.argv[2]);
}

// The library may print console lines of its own; they must come after what
// satcli printed so far, also when standard output is a pipe.
int session_for_call(const Invocation& x) {
    std::fflush(x.out);
    return new_session();
}

void print_return(const Invocation& x, const char* answer) {
    std::fprintf(x.out, "\nRetorno: %s\n\n", answer ? answer : "");
}

int config_error(const Invocation& x) {
    std::fputs("Erro no arquivo config.ini\n", x.out);
    return 1;
}

// ---- commands -------------------------------------------------------------

int consultar_sat(const Invocation& x, const Command& c) {
    title(x, c.title);
    int s = session_for_call(x);
    print_return(x, x.api.ConsultarSAT(s));
    separator(x);
    return 0;
}

int plain(const Invocation& x, const Command& c) {
    title(x, c.title);
    parameters_line(x);
    activation_code_line(x);
    int s = session_for_call(x);
    print_return(x, (x.api.*c.function)(s, x.argv[2]));
    separator(x);
    return 0;
}

int ativar_sat(const Invocation& x, const Command& c) {
    if (read_default_section() != 0) return config_error(x);
    title(x, c.title);
    parameters_line(x);
    activation_code_line(x);
    std::fputs("     Tipo de Certificado: AC_SAT/SEFAZ\n", x.out);
    std::fprintf(x.out, "     CNPJ Contribuinte: %s\n", cCNPJContrib);
    std::fprintf(x.out, "     UF: %s\n", cUF);
    int s = session_for_call(x);
    print_return(x, x.api.AtivarSAT(s, 1, x.argv[2], cCNPJContrib, int_value(cUF)));
    separator(x);
    return 0;
}

int associar_assinatura(const Invocation& x, const Command& c) {
    if (read_default_section() != 0) return config_error(x);
    title(x, c.title);
    parameters_line(x);
    activation_code_line(x);
    std::fprintf(x.out, "     CNPJValue: %s\n", cCNPJValue);
    std::fprintf(x.out, "     AssinaturaSH: %s\n", cAssinaturaSH);
    int s = session_for_call(x);
    print_return(x, x.api.AssociarAssinatura(s, x.argv[2], cCNPJValue, cAssinaturaSH));
    separator(x);
    return 0;
}

int teste_fim_a_fim(const Invocation& x, const Command& c) {
    if (read_default_section() != 0) return config_error(x);
    std::string document = teste_fim_a_fim_document();
    title(x, c.title);
    parameters_line(x);
    activation_code_line(x);
    std::fprintf(x.out, "     Layout: %s\n", cLayout);
    std::fprintf(x.out, "     CNPJ SH: %s\n", cCNPJSh);
    std::fprintf(x.out, "     AssinaturaSH: %s\n", cAssinaturaSH);
    std::fprintf(x.out, "     CNPJ Contribuinte: %s\n", cCNPJContrib);
    std::fprintf(x.out, "     IE Contribuinte: %s\n", cIEContrib);
    std::fprintf(x.out, "     XML: %s\n", document.c_str());
    int s = session_for_call(x);
    print_return(x, x.api.TesteFimAFim(s, x.argv[2], document.data()));
    separator(x);
    return 0;
}

int configurar_interface_de_rede(const Invocation& x, const Command& c) {
    if (read_rede_section(x.out) != 0) return config_error(x);
    title(x, c.title);
    parameters_line(x);
    activation_code_line(x);
    std::fprintf(x.out, "     tipoInter: %s\n", ctipoInter);
    std::fprintf(x.out, "     tipoLan: %s\n", ctipoLan);
    if (std::strncmp(ctipoLan, "DHCP", 4) != 0) {
        // A fixed address: every address must have the dotted three-digit form.
        const struct {
            const char* value;
            const char* error;
        } addresses[] = {{clanIP, "erro: lanIP"},
                         {clanMask, "erro: lanMask"},
                         {clanGW, "erro: lanGW"},
                         {clanDNS1, "erro: lanDNS1"},
                         {clanDNS2, "erro: lanDNS2"}};
        for (const auto& e : addresses) {
            if (check_ip(e.value) != 0) {
                std::fprintf(x.out, "%s\n", e.error);
                return 1;
            }
        }
        std::fprintf(x.out, "     lanIP: %s\n", clanIP);
        std::fprintf(x.out, "     lanMask: %s\n", clanMask);
        std::fprintf(x.out, "     lanGW: %s\n", clanGW);
        std::fprintf(x.out, "     lanDNS1: %s\n", clanDNS1);
        std::fprintf(x.out, "     lanDNS2: %s\n", clanDNS2);
    }
    int proxy = int_value(cproxy);
    static constexpr const char* kModes[] = {"     proxy: %s (SEM PROXY)\n",
                                             "     proxy: %s (PROXY COM CONFIGURACAO)\n",
                                             "     proxy: %s (PROXY TRANSPARENTE)\n"};
    std::fprintf(x.out, kModes[proxy], cproxy); // read_rede_section accepted 0, 1 or 2 only
    if (proxy == 1) {
        if (check_ip(cproxy_ip) != 0) {
            std::fputs("erro: proxy_ip\n", x.out);
            return 1;
        }
        std::fprintf(x.out, "     proxy_ip: %s\n", cproxy_ip);
        std::fprintf(x.out, "     proxy_porta: %s\n", cproxy_porta);
        std::fprintf(x.out, "     proxy_user: %s\n", cproxy_user);
        std::fprintf(x.out, "     proxy_senha: %s\n", cproxy_senha);
    }
    std::string document = network_document();
    std::fprintf(x.out, "     XML de Configuracao: %s\n", document.c_str());
    int s = session_for_call(x);
    print_return(x, x.api.ConfigurarInterfaceDeRede(s, x.argv[2], document.data()));
    return 0; // this command has never closed with a separator
}

int consultar_numero_sessao(const Invocation& x, const Command& c) {
    title(x, c.title);
    parameters_line(x);
    activation_code_line(x);
    std::fprintf(x.out, "     Sessao a consultar: %s\n", x.argv[3]);
    int s = session_for_call(x);
    print_return(x, x.api.ConsultarNumeroSessao(s, x.argv[2], int_value(x.argv[3])));
    separator(x);
    return 0;
}

int consultar_ultima_sessao_fiscal(const Invocation& x, const Command& c) {
    title(x, c.title);
    parameters_line(x);
    activation_code_line(x);
    int s = session_for_call(x);
    const char* r = x.api.ConsultarUltimaSessaoFiscal(s, x.argv[2]);
    print_return(x, r);
    handle_ultima_sessao_fiscal(r, x.out);
    separator(x);
    return 0;
}

int extrair_logs(const Invocation& x, const Command& c) {
    title(x, c.title);
    parameters_line(x);
    activation_code_line(x);
    int s = session_for_call(x);
    const char* r = x.api.ExtrairLogs(s, x.argv[2]);
    return handle_extrair_logs(r, x.out, x.err);
}

int trocar_codigo_de_ativacao(const Invocation& x, const Command& c) {
    title(x, c.title);
    parameters_line(x);
    int option = int_value(x.argv[3]);
    if (option == 1) {
        std::fprintf(x.out, "     Opcao: %s - Codigo de Ativacao\n", x.argv[3]);
        activation_code_line(x);
    } else if (option == 2) {
        std::fprintf(x.out, "     Opcao: %s - Codigo de Emergencia\n", x.argv[3]);
        std::fprintf(x.out, "     Cod. Emeergencia: %s\n", x.argv[2]);
    } else {
        std::fprintf(x.out, "     Opcao: %s - Desconhecido\n", x.argv[3]);
        activation_code_line(x);
    }
    std::fprintf(x.out, "     Novo Codigo: %s\n", x.argv[4]);
    int s = session_for_call(x);
    // The command line carries the new code once; it is its own confirmation.
    print_return(x, x.api.TrocarCodigoDeAtivacao(s, x.argv[2], option, x.argv[4], x.argv[4]));
    separator(x);
    return 0;
}

bool read_or_warn(const Invocation& x, std::string& document) {
    if (read_document(x.argv[3], document)) return true;
    std::fprintf(x.out, "nao conseguiu ler o arquivo: %s\n", x.argv[3]);
    return false;
}

int enviar_dados_venda(const Invocation& x, const Command& c) {
    title(x, c.title);
    parameters_line(x);
    activation_code_line(x);
    std::fprintf(x.out, "       Arquivo CFe: %s\n", x.argv[3]);
    std::string document;
    if (!read_or_warn(x, document)) return 1;
    int s = session_for_call(x);
    // The library may correct the document in place: hand it a writable copy.
    const char* r = x.api.EnviarDadosVenda(s, x.argv[2], document.data());
    print_return(x, r);
    separator(x);
    print_cfe(r, x.out);
    return 0;
}

int cancelar_ultima_venda(const Invocation& x, const Command& c) {
    title(x, c.title);
    parameters_line(x);
    std::fprintf(x.out, "       Cod. Ativacao: %s\n", x.argv[2]);
    std::fprintf(x.out, "     Arquivo CFeCanc: %s\n", x.argv[3]);
    std::string document;
    if (!read_or_warn(x, document)) return 1;
    // The key of the sale travels inside the cancellation document; the
    // device wants it as a field of its own as well.
    std::string key = cancellation_key(document);
    int s = session_for_call(x);
    const char* r = x.api.CancelarUltimaVenda(s, x.argv[2], key.data(), document.data());
    print_return(x, r);
    separator(x);
    print_cfe_canc(r, x.out);
    return 0;
}

int set_driver(const Invocation& x, const Command& c) {
    title(x, c.title);
    parameters_line(x);
    std::fprintf(x.out, "     Parametro: %s\n", x.argv[2]);
    std::fprintf(x.out, "         Valor: %s\n", x.argv[3]);
    std::fflush(x.out);
    print_return(x, x.api.SetDriver(x.argv[2], x.argv[3])); // no session number for settings
    separator(x);
    return 0;
}

// In the order of the usage text.
constexpr Command kCommands[] = {
    {"AssociarAssinatura", "   AssociarAssinatura codigoDeAtivacao (config.ini)",
     "Sintaxe: %s AssociarAssinatura codigoDeAtivacao (+ config.ini)\n\n", 3, Optional::none,
     "AssociarAssinatura", associar_assinatura},
    {"AtivarSAT", "   AtivarSAT codigoDeAtivacao (config.ini)",
     "Sintaxe: %s AtivarSAT codigoDeAtivacao (+ config.ini)\n\n", 3, Optional::none, "AtivarSAT",
     ativar_sat},
    {"AtualizarSoftwareSAT", "   AtualizarSoftwareSAT codigoDeAtivacao",
     "Sintaxe: %s AtualizarSoftwareSAT codigoDeAtivacao \n\n", 3, Optional::none,
     "AtualizarSoftwareSAT", plain, &Api::AtualizarSoftwareSAT},
    {"BloquearSAT", "   BloquearSAT codigoDeAtivacao",
     "Sintaxe: %s BloquearSAT codigoDeAtivacao \n\n", 3, Optional::none, "BloquearSAT", plain,
     &Api::BloquearSAT},
    {"ConfigurarInterfaceDeRede", "   ConfigurarInterfaceDeRede codigoDeAtivacao (config.ini)",
     "Sintaxe: %s ConfigurarInterfaceDeRede codigoDeAtivacao (+ config.ini)\n\n", 3, Optional::none,
     "ConfigurarInterfaceDeRede", configurar_interface_de_rede},
    {"ConsultarSAT", "   ConsultarSAT", nullptr, 0, Optional::none, "ConsultarSAT", consultar_sat},
    {"ConsultarNumeroSessao", "   ConsultarNumeroSessao codigoDeAtivacao cNumeroDeSessao",
     "Sintaxe: %s ConsultarNumeroSessao codigoDeAtivacao  cNumeroDeSessao\n\n", 4, Optional::none,
     "ConsultarNumeroSessao", consultar_numero_sessao},
    {"ConsultarUltimaSessaoFiscal", "   ConsultarUltimaSessaoFiscal codigoDeAtivacao",
     "Sintaxe: %s ConsultarUltimaSessaoFiscal codigoDeAtivacao\n\n", 3,
     Optional::ultima_sessao_fiscal, "ConsultarUltimaSessaoFiscal", consultar_ultima_sessao_fiscal},
    {"ConsultarStatusOperacional", "   ConsultarStatusOperacional codigoDeAtivacao",
     "Sintaxe: %s ConsultarStatusOperacional codigoDeAtivacao \n\n", 3, Optional::none,
     "ConsultarStatusOperacional", plain, &Api::ConsultarStatusOperacional},
    {"DesbloquearSAT", "   DesbloquearSAT codigoDeAtivacao",
     "Sintaxe: %s DesbloquearSAT codigoDeAtivacao \n\n", 3, Optional::none, "DesbloquearSAT", plain,
     &Api::DesbloquearSAT},
    {"ExtrairLogs", "   ExtrairLogs codigoDeAtivacao",
     "Sintaxe: %s ExtrairLogs codigoDeAtivacao \n\n", 3, Optional::none, "ExtrairLogs",
     extrair_logs},
    {"TesteFimAFim", "   TesteFimAFim codigoDeAtivacao (config.ini)",
     "Sintaxe: %s TesteFimAFim codigoDeAtivacao (+ config.ini)\n\n", 3, Optional::none,
     "TesteFimAFim", teste_fim_a_fim},
    {"TrocarCodigoDeAtivacao", "   TrocarCodigoDeAtivacao codigoDeAtivacao opcao novoCodigo",
     "Sintaxe: %s TrocarCodigoDeAtivacao codigoDeAtivacao opcao novoCodigo\n"
     "         opcao: 1 -> Codigo de Ativacao - 2 -> Codigo de Emergencia\n",
     5, Optional::none, "TrocarCodigoDeAtivacao", trocar_codigo_de_ativacao},
    {"EnviarDadosVenda", "   EnviarDadosVenda codigoDeAtivacao arquivo_CFe",
     "Sintaxe: %s EnviarDadosVenda codigoDeAtivacao  arquivoCFe\n\n", 4, Optional::none,
     "EnviarDadosVendas", enviar_dados_venda},
    {"CancelarUltimaVenda", "   CancelarUltimaVenda codigoDeAtivacao arquivo_CFeCanc",
     "Sintaxe: %s CancelarUltimaVenda codigoDeAtivacao  arquivoCFeCanc\n\n", 4, Optional::none,
     "CancelarUltimaVenda", cancelar_ultima_venda},
    {"SetDriver", nullptr, "Sintaxe: %s SetDriver Parametro Valor \n\n", 4, Optional::set_driver,
     "SetDriver", set_driver},
};

bool supported(const Api& api, Optional o) {
    switch (o) {
    case Optional::ultima_sessao_fiscal:
        return api.has_ultima_sessao_fiscal;
    case Optional::set_driver:
        return api.has_set_driver;
    case Optional::none:
        break;
    }
    return true;
}

} // namespace

void print_usage(const Invocation& x) {
    std::fprintf(x.out, "\n%s - Versao: %s - Torvane Informatica\n", program(x), kVersion);
    std::fprintf(x.out, "Sintaxe: %s funcao [args] \n", program(x));
    std::fputs("funcoes:\n", x.out);
    for (const Command& c : kCommands)
        if (c.usage && supported(x.api, c.optional)) std::fprintf(x.out, "%s\n", c.usage);
    std::fputs("\n", x.out);
}

int run(const Invocation& x) {
    if (x.argc < 2 || !x.argv[1]) {
        print_usage(x);
        return 1;
    }
    for (const Command& c : kCommands) {
        if (c.name != x.argv[1]) continue;
        if (!supported(x.api, c.optional)) {
            std::fputs("Funcao nao suportada pela biblioteca\n\n", x.out);
            return 1;
        }
        if (c.argc != 0 && x.argc != c.argc) {
            std::fprintf(x.out, c.syntax, program(x));
            return 1;
        }
        return c.run(x, c);
    }
    print_usage(x);
    return 1;
}

bool read_document(const char* path, std::string& contents) {
    contents.clear();
    std::FILE* f = std::fopen(path, "r");
    if (!f) return false;
    char block[65536];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0)
        contents.append(block, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

std::string cancellation_key(std::string_view doc) {
    auto is_space = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; };
    for (std::size_t p = doc.find("<infCFe"); p != doc.npos; p = doc.find("<infCFe", p + 1)) {
        std::size_t after = p + 7;
        if (after < doc.size() && !is_space(doc[after]) && doc[after] != '>') continue;
        std::size_t stop = doc.find('>', after);
        std::string_view tag = doc.substr(after, stop == doc.npos ? doc.npos : stop - after);
        for (std::size_t a = tag.find("chCanc"); a != tag.npos; a = tag.find("chCanc", a + 1)) {
            if (a == 0 || !is_space(tag[a - 1])) continue;
            std::size_t i = a + 6;
            while (i < tag.size() && is_space(tag[i]))
                ++i;
            if (i >= tag.size() || tag[i] != '=') continue;
            ++i;
            while (i < tag.size() && is_space(tag[i]))
                ++i;
            if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) return {};
            std::size_t closing = tag.find(tag[i], i + 1);
            if (closing == tag.npos) return {};
            return std::string(tag.substr(i + 1, closing - i - 1));
        }
        return {}; // only the first infCFe element counts
    }
    return {};
}

} // namespace satcli
