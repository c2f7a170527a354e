#include "commands.h"

#include <cstring>

#include "answers.h"
#include "config.h"
#include "session.h"

namespace satcli {

namespace {

constexpr const char* kSeparador =
    "========================================================================";

enum class Opcional { nao, ultima_sessao_fiscal, set_driver };

struct Comando;
using Executor = int (*)(const Execucao&, const Comando&);
// The library functions that take only a session and an activation code.
using FuncaoSimples = decltype(&::BloquearSAT) Api::*;

struct Comando {
    std::string_view nome;
    const char* uso;     // line of the usage text; nullptr: not listed
    const char* sintaxe; // printed with argv[0] on a wrong count; nullptr: any count
    int argc;            // argv[0] included; 0: any
    Opcional opcional;
    const char* titulo;
    Executor executa;
    FuncaoSimples funcao = nullptr;
};

const char* programa(const Execucao& x) {
    return x.argc > 0 && x.argv[0] ? x.argv[0] : "satcli";
}

void separador(const Execucao& x) {
    std::fprintf(x.out, "%s\n", kSeparador);
}

void titulo(const Execucao& x, const char* t) {
    separador(x);
    std::fprintf(x.out, "\nExecutando funcao: %s\n", t);
}

void parametros(const Execucao& x) {
    std::fputs("Parametros: \n", x.out);
}

void codigo_ativacao(const Execucao& x) {
    std::fprintf(x.out, "     Cod. Ativacao: %s\n", x.argv[2]);
}

// The library may print console lines of its own; they must come after what
// satcli printed so far, also when standard output is a pipe.
int sessao_para_chamada(const Execucao& x) {
    std::fflush(x.out);
    return _sessao();
}

void retorno(const Execucao& x, const char* resposta) {
    std::fprintf(x.out, "\nRetorno: %s\n\n", resposta ? resposta : "");
}

int erro_config(const Execucao& x) {
    std::fputs("Erro no arquivo config.ini\n", x.out);
    return 1;
}

// ---- commands -------------------------------------------------------------

int consultar_sat(const Execucao& x, const Comando& c) {
    titulo(x, c.titulo);
    int s = sessao_para_chamada(x);
    retorno(x, x.api.ConsultarSAT(s));
    separador(x);
    return 0;
}

int simples(const Execucao& x, const Comando& c) {
    titulo(x, c.titulo);
    parametros(x);
    codigo_ativacao(x);
    int s = sessao_para_chamada(x);
    retorno(x, (x.api.*c.funcao)(s, x.argv[2]));
    separador(x);
    return 0;
}

int ativar_sat(const Execucao& x, const Comando& c) {
    if (le_ini_default() != 0) return erro_config(x);
    titulo(x, c.titulo);
    parametros(x);
    codigo_ativacao(x);
    std::fputs("     Tipo de Certificado: AC_SAT/SEFAZ\n", x.out);
    std::fprintf(x.out, "     CNPJ Contribuinte: %s\n", cCNPJContrib);
    std::fprintf(x.out, "     UF: %s\n", cUF);
    int s = sessao_para_chamada(x);
    retorno(x, x.api.AtivarSAT(s, 1, x.argv[2], cCNPJContrib, valor_inteiro(cUF)));
    separador(x);
    return 0;
}

int associar_assinatura(const Execucao& x, const Comando& c) {
    if (le_ini_default() != 0) return erro_config(x);
    titulo(x, c.titulo);
    parametros(x);
    codigo_ativacao(x);
    std::fprintf(x.out, "     CNPJValue: %s\n", cCNPJValue);
    std::fprintf(x.out, "     AssinaturaSH: %s\n", cAssinaturaSH);
    int s = sessao_para_chamada(x);
    retorno(x, x.api.AssociarAssinatura(s, x.argv[2], cCNPJValue, cAssinaturaSH));
    separador(x);
    return 0;
}

int teste_fim_a_fim(const Execucao& x, const Comando& c) {
    if (le_ini_default() != 0) return erro_config(x);
    std::string documento = documento_teste_fim_a_fim();
    titulo(x, c.titulo);
    parametros(x);
    codigo_ativacao(x);
    std::fprintf(x.out, "     Layout: %s\n", cLayout);
    std::fprintf(x.out, "     CNPJ SH: %s\n", cCNPJSh);
    std::fprintf(x.out, "     AssinaturaSH: %s\n", cAssinaturaSH);
    std::fprintf(x.out, "     CNPJ Contribuinte: %s\n", cCNPJContrib);
    std::fprintf(x.out, "     IE Contribuinte: %s\n", cIEContrib);
    std::fprintf(x.out, "     XML: %s\n", documento.c_str());
    int s = sessao_para_chamada(x);
    retorno(x, x.api.TesteFimAFim(s, x.argv[2], documento.data()));
    separador(x);
    return 0;
}

int configurar_interface_de_rede(const Execucao& x, const Comando& c) {
    if (le_ini_rede(x.out) != 0) return erro_config(x);
    titulo(x, c.titulo);
    parametros(x);
    codigo_ativacao(x);
    std::fprintf(x.out, "     tipoInter: %s\n", ctipoInter);
    std::fprintf(x.out, "     tipoLan: %s\n", ctipoLan);
    if (std::strncmp(ctipoLan, "DHCP", 4) != 0) {
        // A fixed address: every address must have the dotted three-digit form.
        const struct {
            const char* valor;
            const char* erro;
        } enderecos[] = {{clanIP, "erro: lanIP"},
                         {clanMask, "erro: lanMask"},
                         {clanGW, "erro: lanGW"},
                         {clanDNS1, "erro: lanDNS1"},
                         {clanDNS2, "erro: lanDNS2"}};
        for (const auto& e : enderecos) {
            if (ValidaIP(e.valor) != 0) {
                std::fprintf(x.out, "%s\n", e.erro);
                return 1;
            }
        }
        std::fprintf(x.out, "     lanIP: %s\n", clanIP);
        std::fprintf(x.out, "     lanMask: %s\n", clanMask);
        std::fprintf(x.out, "     lanGW: %s\n", clanGW);
        std::fprintf(x.out, "     lanDNS1: %s\n", clanDNS1);
        std::fprintf(x.out, "     lanDNS2: %s\n", clanDNS2);
    }
    int proxy = valor_inteiro(cproxy);
    static constexpr const char* kModos[] = {"     proxy: %s (SEM PROXY)\n",
                                             "     proxy: %s (PROXY COM CONFIGURACAO)\n",
                                             "     proxy: %s (PROXY TRANSPARENTE)\n"};
    std::fprintf(x.out, kModos[proxy], cproxy); // le_ini_rede accepted 0, 1 or 2 only
    if (proxy == 1) {
        if (ValidaIP(cproxy_ip) != 0) {
            std::fputs("erro: proxy_ip\n", x.out);
            return 1;
        }
        std::fprintf(x.out, "     proxy_ip: %s\n", cproxy_ip);
        std::fprintf(x.out, "     proxy_porta: %s\n", cproxy_porta);
        std::fprintf(x.out, "     proxy_user: %s\n", cproxy_user);
        std::fprintf(x.out, "     proxy_senha: %s\n", cproxy_senha);
    }
    std::string documento = documento_rede();
    std::fprintf(x.out, "     XML de Configuracao: %s\n", documento.c_str());
    int s = sessao_para_chamada(x);
    retorno(x, x.api.ConfigurarInterfaceDeRede(s, x.argv[2], documento.data()));
    return 0; // this command has never closed with a separator
}

int consultar_numero_sessao(const Execucao& x, const Comando& c) {
    titulo(x, c.titulo);
    parametros(x);
    codigo_ativacao(x);
    std::fprintf(x.out, "     Sessao a consultar: %s\n", x.argv[3]);
    int s = sessao_para_chamada(x);
    retorno(x, x.api.ConsultarNumeroSessao(s, x.argv[2], valor_inteiro(x.argv[3])));
    separador(x);
    return 0;
}

int consultar_ultima_sessao_fiscal(const Execucao& x, const Comando& c) {
    titulo(x, c.titulo);
    parametros(x);
    codigo_ativacao(x);
    int s = sessao_para_chamada(x);
    const char* r = x.api.ConsultarUltimaSessaoFiscal(s, x.argv[2]);
    retorno(x, r);
    trata_ultima_sessao_fiscal(r, x.out);
    separador(x);
    return 0;
}

int extrair_logs(const Execucao& x, const Comando& c) {
    titulo(x, c.titulo);
    parametros(x);
    codigo_ativacao(x);
    int s = sessao_para_chamada(x);
    const char* r = x.api.ExtrairLogs(s, x.argv[2]);
    return trata_extrair_logs(r, x.out, x.err);
}

int trocar_codigo_de_ativacao(const Execucao& x, const Comando& c) {
    titulo(x, c.titulo);
    parametros(x);
    int opcao = valor_inteiro(x.argv[3]);
    if (opcao == 1) {
        std::fprintf(x.out, "     Opcao: %s - Codigo de Ativacao\n", x.argv[3]);
        codigo_ativacao(x);
    } else if (opcao == 2) {
        std::fprintf(x.out, "     Opcao: %s - Codigo de Emergencia\n", x.argv[3]);
        std::fprintf(x.out, "     Cod. Emeergencia: %s\n", x.argv[2]);
    } else {
        std::fprintf(x.out, "     Opcao: %s - Desconhecido\n", x.argv[3]);
        codigo_ativacao(x);
    }
    std::fprintf(x.out, "     Novo Codigo: %s\n", x.argv[4]);
    int s = sessao_para_chamada(x);
    // The command line carries the new code once; it is its own confirmation.
    retorno(x, x.api.TrocarCodigoDeAtivacao(s, x.argv[2], opcao, x.argv[4], x.argv[4]));
    separador(x);
    return 0;
}

bool le_ou_avisa(const Execucao& x, std::string& documento) {
    if (le_documento(x.argv[3], documento)) return true;
    std::fprintf(x.out, "nao conseguiu ler o arquivo: %s\n", x.argv[3]);
    return false;
}

int enviar_dados_venda(const Execucao& x, const Comando& c) {
    titulo(x, c.titulo);
    parametros(x);
    codigo_ativacao(x);
    std::fprintf(x.out, "       Arquivo CFe: %s\n", x.argv[3]);
    std::string documento;
    if (!le_ou_avisa(x, documento)) return 1;
    int s = sessao_para_chamada(x);
    // The library may correct the document in place: hand it a writable copy.
    const char* r = x.api.EnviarDadosVenda(s, x.argv[2], documento.data());
    retorno(x, r);
    separador(x);
    TrataCFe(r, x.out);
    return 0;
}

int cancelar_ultima_venda(const Execucao& x, const Comando& c) {
    titulo(x, c.titulo);
    parametros(x);
    std::fprintf(x.out, "       Cod. Ativacao: %s\n", x.argv[2]);
    std::fprintf(x.out, "     Arquivo CFeCanc: %s\n", x.argv[3]);
    std::string documento;
    if (!le_ou_avisa(x, documento)) return 1;
    // The key of the sale travels inside the cancellation document; the
    // device wants it as a field of its own as well.
    std::string chave = chave_cancelamento(documento);
    int s = sessao_para_chamada(x);
    const char* r = x.api.CancelarUltimaVenda(s, x.argv[2], chave.data(), documento.data());
    retorno(x, r);
    separador(x);
    TrataCFeCanc(r, x.out);
    return 0;
}

int set_driver(const Execucao& x, const Comando& c) {
    titulo(x, c.titulo);
    parametros(x);
    std::fprintf(x.out, "     Parametro: %s\n", x.argv[2]);
    std::fprintf(x.out, "         Valor: %s\n", x.argv[3]);
    std::fflush(x.out);
    retorno(x, x.api.SetDriver(x.argv[2], x.argv[3])); // no session number for settings
    separador(x);
    return 0;
}

// In the order of the usage text.
constexpr Comando kComandos[] = {
    {"AssociarAssinatura", "   AssociarAssinatura codigoDeAtivacao (config.ini)",
     "Sintaxe: %s AssociarAssinatura codigoDeAtivacao (+ config.ini)\n\n", 3, Opcional::nao,
     "AssociarAssinatura", associar_assinatura},
    {"AtivarSAT", "   AtivarSAT codigoDeAtivacao (config.ini)",
     "Sintaxe: %s AtivarSAT codigoDeAtivacao (+ config.ini)\n\n", 3, Opcional::nao, "AtivarSAT",
     ativar_sat},
    {"AtualizarSoftwareSAT", "   AtualizarSoftwareSAT codigoDeAtivacao",
     "Sintaxe: %s AtualizarSoftwareSAT codigoDeAtivacao \n\n", 3, Opcional::nao,
     "AtualizarSoftwareSAT", simples, &Api::AtualizarSoftwareSAT},
    {"BloquearSAT", "   BloquearSAT codigoDeAtivacao",
     "Sintaxe: %s BloquearSAT codigoDeAtivacao \n\n", 3, Opcional::nao, "BloquearSAT", simples,
     &Api::BloquearSAT},
    {"ConfigurarInterfaceDeRede", "   ConfigurarInterfaceDeRede codigoDeAtivacao (config.ini)",
     "Sintaxe: %s ConfigurarInterfaceDeRede codigoDeAtivacao (+ config.ini)\n\n", 3, Opcional::nao,
     "ConfigurarInterfaceDeRede", configurar_interface_de_rede},
    {"ConsultarSAT", "   ConsultarSAT", nullptr, 0, Opcional::nao, "ConsultarSAT", consultar_sat},
    {"ConsultarNumeroSessao", "   ConsultarNumeroSessao codigoDeAtivacao cNumeroDeSessao",
     "Sintaxe: %s ConsultarNumeroSessao codigoDeAtivacao  cNumeroDeSessao\n\n", 4, Opcional::nao,
     "ConsultarNumeroSessao", consultar_numero_sessao},
    {"ConsultarUltimaSessaoFiscal", "   ConsultarUltimaSessaoFiscal codigoDeAtivacao",
     "Sintaxe: %s ConsultarUltimaSessaoFiscal codigoDeAtivacao\n\n", 3,
     Opcional::ultima_sessao_fiscal, "ConsultarUltimaSessaoFiscal", consultar_ultima_sessao_fiscal},
    {"ConsultarStatusOperacional", "   ConsultarStatusOperacional codigoDeAtivacao",
     "Sintaxe: %s ConsultarStatusOperacional codigoDeAtivacao \n\n", 3, Opcional::nao,
     "ConsultarStatusOperacional", simples, &Api::ConsultarStatusOperacional},
    {"DesbloquearSAT", "   DesbloquearSAT codigoDeAtivacao",
     "Sintaxe: %s DesbloquearSAT codigoDeAtivacao \n\n", 3, Opcional::nao, "DesbloquearSAT",
     simples, &Api::DesbloquearSAT},
    {"ExtrairLogs", "   ExtrairLogs codigoDeAtivacao",
     "Sintaxe: %s ExtrairLogs codigoDeAtivacao \n\n", 3, Opcional::nao, "ExtrairLogs",
     extrair_logs},
    {"TesteFimAFim", "   TesteFimAFim codigoDeAtivacao (config.ini)",
     "Sintaxe: %s TesteFimAFim codigoDeAtivacao (+ config.ini)\n\n", 3, Opcional::nao,
     "TesteFimAFim", teste_fim_a_fim},
    {"TrocarCodigoDeAtivacao", "   TrocarCodigoDeAtivacao codigoDeAtivacao opcao novoCodigo",
     "Sintaxe: %s TrocarCodigoDeAtivacao codigoDeAtivacao opcao novoCodigo\n"
     "         opcao: 1 -> Codigo de Ativacao - 2 -> Codigo de Emergencia\n",
     5, Opcional::nao, "TrocarCodigoDeAtivacao", trocar_codigo_de_ativacao},
    {"EnviarDadosVenda", "   EnviarDadosVenda codigoDeAtivacao arquivo_CFe",
     "Sintaxe: %s EnviarDadosVenda codigoDeAtivacao  arquivoCFe\n\n", 4, Opcional::nao,
     "EnviarDadosVendas", enviar_dados_venda},
    {"CancelarUltimaVenda", "   CancelarUltimaVenda codigoDeAtivacao arquivo_CFeCanc",
     "Sintaxe: %s CancelarUltimaVenda codigoDeAtivacao  arquivoCFeCanc\n\n", 4, Opcional::nao,
     "CancelarUltimaVenda", cancelar_ultima_venda},
    {"SetDriver", nullptr, "Sintaxe: %s SetDriver Parametro Valor \n\n", 4, Opcional::set_driver,
     "SetDriver", set_driver},
};

bool suportado(const Api& api, Opcional o) {
    switch (o) {
    case Opcional::ultima_sessao_fiscal:
        return api.suporta_ultima_sessao_fiscal;
    case Opcional::set_driver:
        return api.suporta_set_driver;
    case Opcional::nao:
        break;
    }
    return true;
}

} // namespace

void imprime_uso(const Execucao& x) {
    std::fprintf(x.out, "\n%s - Versao: %s - Torvane Informatica\n", programa(x), kVersao);
    std::fprintf(x.out, "Sintaxe: %s funcao [args] \n", programa(x));
    std::fputs("funcoes:\n", x.out);
    for (const Comando& c : kComandos)
        if (c.uso && suportado(x.api, c.opcional)) std::fprintf(x.out, "%s\n", c.uso);
    std::fputs("\n", x.out);
}

int executa(const Execucao& x) {
    if (x.argc < 2 || !x.argv[1]) {
        imprime_uso(x);
        return 1;
    }
    for (const Comando& c : kComandos) {
        if (c.nome != x.argv[1]) continue;
        if (!suportado(x.api, c.opcional)) {
            std::fputs("Funcao nao suportada pela biblioteca\n\n", x.out);
            return 1;
        }
        if (c.argc != 0 && x.argc != c.argc) {
            std::fprintf(x.out, c.sintaxe, programa(x));
            return 1;
        }
        return c.executa(x, c);
    }
    imprime_uso(x);
    return 1;
}

bool le_documento(const char* path, std::string& conteudo) {
    conteudo.clear();
    std::FILE* f = std::fopen(path, "r");
    if (!f) return false;
    char bloco[65536];
    std::size_t n;
    while ((n = std::fread(bloco, 1, sizeof bloco, f)) > 0)
        conteudo.append(bloco, n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

std::string chave_cancelamento(std::string_view doc) {
    auto espaco = [](char ch) { return ch == ' ' || ch == '\t' || ch == '\r' || ch == '\n'; };
    for (std::size_t p = doc.find("<infCFe"); p != doc.npos; p = doc.find("<infCFe", p + 1)) {
        std::size_t depois = p + 7;
        if (depois < doc.size() && !espaco(doc[depois]) && doc[depois] != '>') continue;
        std::size_t fim = doc.find('>', depois);
        std::string_view tag = doc.substr(depois, fim == doc.npos ? doc.npos : fim - depois);
        for (std::size_t a = tag.find("chCanc"); a != tag.npos; a = tag.find("chCanc", a + 1)) {
            if (a == 0 || !espaco(tag[a - 1])) continue;
            std::size_t i = a + 6;
            while (i < tag.size() && espaco(tag[i]))
                ++i;
            if (i >= tag.size() || tag[i] != '=') continue;
            ++i;
            while (i < tag.size() && espaco(tag[i]))
                ++i;
            if (i >= tag.size() || (tag[i] != '"' && tag[i] != '\'')) return {};
            std::size_t fecha = tag.find(tag[i], i + 1);
            if (fecha == tag.npos) return {};
            return std::string(tag.substr(i + 1, fecha - i - 1));
        }
        return {}; // only the first infCFe element counts
    }
    return {};
}

} // namespace satcli
