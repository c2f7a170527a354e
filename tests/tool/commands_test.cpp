// The commands against a fake library: what reaches the library, and the
// refusals that must keep it from being called.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "capture.h"
#include "commands.h"
#include "sandbox.h"
#include "session.h"

using namespace satcli;
using satcli_test::Captura;

namespace {

// Every call of the fake library, as "Name|arg|arg...".
std::vector<std::string> chamadas;
char resposta[] = "000000|00000|falso||";

std::string junta(std::initializer_list<std::string> partes) {
    std::string s;
    for (const auto& p : partes)
        s += (s.empty() ? "" : "|") + p;
    return s;
}

char* registra(std::string chamada) {
    chamadas.push_back(std::move(chamada));
    return resposta;
}

Api api_falsa(bool opcionais = true) {
    Api a;
    a.ExtrairLogs = [](int, char* c) noexcept { return registra(junta({"ExtrairLogs", c})); };
    a.AtualizarSoftwareSAT = [](int, char* c) noexcept {
        return registra(junta({"AtualizarSoftwareSAT", c}));
    };
    a.ConsultarStatusOperacional = [](int, char* c) noexcept {
        return registra(junta({"ConsultarStatusOperacional", c}));
    };
    a.AtivarSAT = [](int, int sub, char* c, char* cnpj, int uf) noexcept {
        return registra(junta({"AtivarSAT", std::to_string(sub), c, cnpj, std::to_string(uf)}));
    };
    a.EnviarDadosVenda = [](int, char* c, char* d) noexcept {
        return registra(junta({"EnviarDadosVenda", c, d}));
    };
    a.CancelarUltimaVenda = [](int, char* c, char* k, char* d) noexcept {
        return registra(junta({"CancelarUltimaVenda", c, k, d}));
    };
    a.ConsultarSAT = [](int) noexcept { return registra("ConsultarSAT"); };
    a.TesteFimAFim = [](int, char* c, char*) noexcept {
        return registra(junta({"TesteFimAFim", c}));
    };
    a.ConsultarNumeroSessao = [](int, char* c, int n) noexcept {
        return registra(junta({"ConsultarNumeroSessao", c, std::to_string(n)}));
    };
    a.ConfigurarInterfaceDeRede = [](int, char* c, char*) noexcept {
        return registra(junta({"ConfigurarInterfaceDeRede", c}));
    };
    a.AssociarAssinatura = [](int, char* c, char* v, char* s) noexcept {
        return registra(junta({"AssociarAssinatura", c, v, s}));
    };
    a.BloquearSAT = [](int, char* c) noexcept { return registra(junta({"BloquearSAT", c})); };
    a.DesbloquearSAT = [](int, char* c) noexcept { return registra(junta({"DesbloquearSAT", c})); };
    a.TrocarCodigoDeAtivacao = [](int, char* c, int o, char* n, char* cn) noexcept {
        return registra(junta({"TrocarCodigoDeAtivacao", c, std::to_string(o), n, cn}));
    };
    if (opcionais) {
        a.ConsultarUltimaSessaoFiscal = [](int, char* c) noexcept {
            return registra(junta({"ConsultarUltimaSessaoFiscal", c}));
        };
        a.SetDriver = [](char* p, char* v) noexcept {
            return registra(junta({"SetDriver", p, v}));
        };
    }
    a.suporta_ultima_sessao_fiscal = a.suporta_set_driver = opcionais;
    return a;
}

struct Rodada {
    int status;
    std::string out, err;
};

// Runs one command line in a fresh folder holding `config` as config.ini.
Rodada roda(std::vector<std::string> args, const std::string& config = "", bool opcionais = true) {
    static std::string dir = testsupport::make_temp_dir("satcli-cmd");
    EXPECT_EQ(chdir(dir.c_str()), 0);
    unlink("config.ini");
    if (!config.empty()) testsupport::write_file("config.ini", config);
    chamadas.clear();
    limpa_sessoes();
    args.insert(args.begin(), "satcli");
    std::vector<char*> argv;
    for (auto& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    Api api = api_falsa(opcionais);
    Captura out, err;
    int st = executa({api, static_cast<int>(args.size()), argv.data(), out.file(), err.file()});
    return {st, out.texto(), err.texto()};
}

const char* kDefault = "[DEFAULT]\nCNPJ_CONTRIB=11111111111111\nCNPJ_SH=22222222222222\n"
                       "ASSINATURA_SH=assina\nUF=35\n";

} // namespace

TEST(Commands, WrongCountPrintsTheSyntaxAndCallsNothing) {
    const struct {
        std::vector<std::string> args;
        std::string esperado;
    } casos[] = {
        {{"AtivarSAT", "a", "b"}, "Sintaxe: satcli AtivarSAT codigoDeAtivacao (+ config.ini)\n\n"},
        {{"AssociarAssinatura"},
         "Sintaxe: satcli AssociarAssinatura codigoDeAtivacao (+ config.ini)\n\n"},
        {{"TesteFimAFim"}, "Sintaxe: satcli TesteFimAFim codigoDeAtivacao (+ config.ini)\n\n"},
        {{"ConfigurarInterfaceDeRede", "a", "b"},
         "Sintaxe: satcli ConfigurarInterfaceDeRede codigoDeAtivacao (+ config.ini)\n\n"},
        {{"ConsultarStatusOperacional"},
         "Sintaxe: satcli ConsultarStatusOperacional codigoDeAtivacao \n\n"},
        {{"ConsultarNumeroSessao", "a"},
         "Sintaxe: satcli ConsultarNumeroSessao codigoDeAtivacao  cNumeroDeSessao\n\n"},
        {{"ConsultarUltimaSessaoFiscal"},
         "Sintaxe: satcli ConsultarUltimaSessaoFiscal codigoDeAtivacao\n\n"},
        {{"AtualizarSoftwareSAT"}, "Sintaxe: satcli AtualizarSoftwareSAT codigoDeAtivacao \n\n"},
        {{"ExtrairLogs", "a", "b"}, "Sintaxe: satcli ExtrairLogs codigoDeAtivacao \n\n"},
        {{"BloquearSAT"}, "Sintaxe: satcli BloquearSAT codigoDeAtivacao \n\n"},
        {{"DesbloquearSAT"}, "Sintaxe: satcli DesbloquearSAT codigoDeAtivacao \n\n"},
        {{"TrocarCodigoDeAtivacao", "a", "1"},
         "Sintaxe: satcli TrocarCodigoDeAtivacao codigoDeAtivacao opcao novoCodigo\n"
         "         opcao: 1 -> Codigo de Ativacao - 2 -> Codigo de Emergencia\n"},
        {{"EnviarDadosVenda", "a"},
         "Sintaxe: satcli EnviarDadosVenda codigoDeAtivacao  arquivoCFe\n\n"},
        {{"CancelarUltimaVenda", "a", "b", "c"},
         "Sintaxe: satcli CancelarUltimaVenda codigoDeAtivacao  arquivoCFeCanc\n\n"},
        {{"SetDriver", "a"}, "Sintaxe: satcli SetDriver Parametro Valor \n\n"},
    };
    for (const auto& c : casos) {
        Rodada r = roda(c.args, kDefault);
        EXPECT_EQ(r.status, 1) << c.args[0];
        EXPECT_EQ(r.out, c.esperado);
        EXPECT_TRUE(chamadas.empty()) << c.args[0];
    }
}

TEST(Commands, UsageTextListsTheOptionalFunctionOnlyWhenPresent) {
    Rodada com = roda({});
    Rodada sem = roda({}, "", false);
    EXPECT_EQ(com.status, 1);
    EXPECT_EQ(sem.status, 1);
    const std::string linha = "   ConsultarUltimaSessaoFiscal codigoDeAtivacao\n";
    EXPECT_NE(com.out.find(linha), std::string::npos);
    EXPECT_EQ(sem.out.find(linha), std::string::npos);
    EXPECT_EQ(com.out.size(), sem.out.size() + linha.size());
    EXPECT_EQ(roda({"consultarsat"}).out, com.out);
    EXPECT_EQ(roda({"ConsultarSat"}).out, com.out);
    EXPECT_EQ(roda({"ComunicarCertificadoICPBRASIL", "a", "b"}).out, com.out);
    EXPECT_TRUE(chamadas.empty());
}

TEST(Commands, MissingOptionalFunctionIsRefusedBeforeTheCountCheck) {
    for (auto args : std::vector<std::vector<std::string>>{{"ConsultarUltimaSessaoFiscal"},
                                                           {"ConsultarUltimaSessaoFiscal", "a"},
                                                           {"SetDriver", "DEBUG", "true"},
                                                           {"SetDriver"}}) {
        Rodada r = roda(args, "", false);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Funcao nao suportada pela biblioteca\n\n");
    }
}

TEST(Commands, ArgumentsReachTheLibraryAsTheCommandLineGaveThem) {
    const struct {
        std::vector<std::string> args;
        std::string chamada;
    } casos[] = {
        {{"ConsultarSAT", "extra", "args"}, "ConsultarSAT"},
        {{"AtivarSAT", "cod"}, "AtivarSAT|1|cod|11111111111111|35"},
        {{"AssociarAssinatura", "cod"},
         "AssociarAssinatura|cod|2222222222222211111111111111|assina"},
        {{"ConsultarNumeroSessao", "cod", "123"}, "ConsultarNumeroSessao|cod|123"},
        {{"ConsultarNumeroSessao", "cod", "abc"}, "ConsultarNumeroSessao|cod|0"},
        {{"TrocarCodigoDeAtivacao", "cod", "7", "novo"}, "TrocarCodigoDeAtivacao|cod|7|novo|novo"},
        {{"TrocarCodigoDeAtivacao", "cod", "x", "novo"}, "TrocarCodigoDeAtivacao|cod|0|novo|novo"},
        {{"SetDriver", "DEBUG", "true"}, "SetDriver|DEBUG|true"},
        {{"BloquearSAT", "cod"}, "BloquearSAT|cod"},
        {{"DesbloquearSAT", "cod"}, "DesbloquearSAT|cod"},
        {{"AtualizarSoftwareSAT", "cod"}, "AtualizarSoftwareSAT|cod"},
        {{"ConsultarStatusOperacional", "cod"}, "ConsultarStatusOperacional|cod"},
        {{"ConsultarUltimaSessaoFiscal", "cod"}, "ConsultarUltimaSessaoFiscal|cod"},
    };
    for (const auto& c : casos) {
        Rodada r = roda(c.args, kDefault);
        EXPECT_EQ(r.status, 0) << c.chamada;
        ASSERT_EQ(chamadas.size(), 1u) << c.chamada;
        EXPECT_EQ(chamadas[0], c.chamada);
    }
    EXPECT_EQ(roda({"AtivarSAT", "cod"}, "[DEFAULT]\n").status, 0);
    EXPECT_EQ(chamadas.at(0), "AtivarSAT|1|cod| |0") << "missing values send one space, UF 0";
}

TEST(Commands, TrocarCodigoNamesTheOption) {
    const struct {
        const char* opcao;
        std::string linhas;
    } casos[] = {
        {"1", "     Opcao: 1 - Codigo de Ativacao\n     Cod. Ativacao: cod\n"},
        {"2", "     Opcao: 2 - Codigo de Emergencia\n     Cod. Emeergencia: cod\n"},
        {"7", "     Opcao: 7 - Desconhecido\n     Cod. Ativacao: cod\n"},
    };
    for (const auto& c : casos) {
        Rodada r = roda({"TrocarCodigoDeAtivacao", "cod", c.opcao, "novo"});
        EXPECT_NE(r.out.find("Parametros: \n" + c.linhas + "     Novo Codigo: novo\n"),
                  std::string::npos)
            << r.out;
    }
}

TEST(Commands, ConfigErrorsStopBeforeTheHeader) {
    for (auto cmd : {"AtivarSAT", "AssociarAssinatura", "TesteFimAFim"}) {
        Rodada r = roda({cmd, "cod"}, "[REDE]\n[A]\n[DEFAULT]\n");
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "Erro no arquivo config.ini\n") << cmd;
    }
    Rodada sem = roda({"ConfigurarInterfaceDeRede", "cod"});
    EXPECT_EQ(sem.out, "Erro no arquivo config.ini\n");
    Rodada tipo = roda({"ConfigurarInterfaceDeRede", "cod"}, "[REDE]\ntipoInter=ETHE\n");
    EXPECT_EQ(tipo.out, "erro: tipoLan\nErro no arquivo config.ini\n");
    EXPECT_TRUE(chamadas.empty());
}

TEST(Commands, RejectedAddressesEndTheNetworkCommandAfterTheHeader) {
    const std::string base = "[REDE]\ntipoInter=ETHE\ntipoLan=IPFIX\nlanIP=192.168.001.010\n"
                             "lanMask=255.255.255.000\nlanGW=192.168.001.001\n"
                             "lanDNS1=008.008.008.008\nlanDNS2=008.008.004.004\n";
    const struct {
        std::string extra;
        std::string ultima;
    } casos[] = {
        {"lanIP=192.168.1.10\n", "erro: lanIP\n"},
        {"lanMask=255.255.0.0\n", "erro: lanMask\n"},
        {"lanGW=gw\n", "erro: lanGW\n"},
        {"lanDNS1=8.8.8.8\n", "erro: lanDNS1\n"},
        {"lanDNS2=8.8.4.4\n", "erro: lanDNS2\n"},
        {"proxy=1\nproxy_ip=10.0.0.1\n", "erro: proxy_ip\n"},
    };
    for (const auto& c : casos) {
        // The first key of a name wins, so the bad value goes in front.
        std::string cfg = "[REDE]\n" + c.extra + base.substr(7);
        Rodada r = roda({"ConfigurarInterfaceDeRede", "cod"}, cfg);
        EXPECT_EQ(r.status, 1) << c.extra;
        EXPECT_TRUE(r.out.ends_with(c.ultima)) << r.out;
        EXPECT_NE(r.out.find("Parametros: \n     Cod. Ativacao: cod\n"), std::string::npos);
        EXPECT_TRUE(chamadas.empty());
    }
    Rodada ok = roda({"ConfigurarInterfaceDeRede", "cod"}, base + "proxy=2\nproxy_ip=lixo\n");
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(chamadas.size(), 1u);
    EXPECT_TRUE(ok.out.ends_with("\n\n")) << "no closing separator";
    EXPECT_FALSE(ok.out.ends_with(satcli_test::kSeparador + "\n"));
}

TEST(Commands, CancellationPassesTheSaleKeyAndTheWholeDocument) {
    std::string dir = testsupport::make_temp_dir("satcli-canc");
    const struct {
        std::string doc;
        std::string chave;
    } casos[] = {
        {"<CFeCanc><infCFe chCanc=\"CFe35260111111111111111590000000010000011234567\"><ide/>"
         "</infCFe></CFeCanc>",
         "CFe35260111111111111111590000000010000011234567"},
        {"<?xml version=\"1.0\"?>\n<CFeCanc>\n  <infCFe\n    chCanc = "
         "'CFe1'>\n</infCFe></CFeCanc>\n",
         "CFe1"},
        {"<CFeCanc><infCFe><ide chCanc=\"CFe9\"/></infCFe></CFeCanc>", ""},
        {"<CFeCanc><infCFeX chCanc=\"CFe9\"/><infCFe xchCanc=\"CFe8\"></infCFe></CFeCanc>", ""},
        {"<CFeCanc><infCFe versao=\"0.07\" chCanc=\"CFe7\"></infCFe></CFeCanc>", "CFe7"},
        {"", ""},
    };
    for (const auto& c : casos) {
        std::string path = dir + "/canc.xml";
        testsupport::write_file(path, c.doc);
        Rodada r = roda({"CancelarUltimaVenda", "cod", path});
        EXPECT_EQ(r.status, 0);
        ASSERT_EQ(chamadas.size(), 1u);
        EXPECT_EQ(chamadas[0], "CancelarUltimaVenda|cod|" + c.chave + "|" + c.doc);
        EXPECT_EQ(chave_cancelamento(c.doc), c.chave);
    }
}

TEST(Commands, DocumentsAreReadToTheEndFromFilesAndPipes) {
    std::string dir = testsupport::make_temp_dir("satcli-doc");
    std::string grande(200000, 'x');
    grande += "<fim/>";
    testsupport::write_file(dir + "/venda.xml", grande);
    testsupport::write_file(dir + "/vazio.xml", "");
    std::string lido;
    EXPECT_TRUE(le_documento((dir + "/venda.xml").c_str(), lido));
    EXPECT_EQ(lido, grande);
    EXPECT_TRUE(le_documento((dir + "/vazio.xml").c_str(), lido));
    EXPECT_EQ(lido, "");
    EXPECT_FALSE(le_documento((dir + "/nada.xml").c_str(), lido));
    EXPECT_FALSE(le_documento(dir.c_str(), lido)) << "a folder opens but cannot be read";

    int canal[2];
    ASSERT_EQ(pipe(canal), 0);
    ASSERT_EQ(write(canal[1], "<CFe>pipe</CFe>", 15), 15);
    close(canal[1]);
    EXPECT_TRUE(le_documento(("/dev/fd/" + std::to_string(canal[0])).c_str(), lido));
    EXPECT_EQ(lido, "<CFe>pipe</CFe>");
    close(canal[0]);
}

TEST(Commands, UnreadableDocumentIsReportedWithoutACall) {
    std::string dir = testsupport::make_temp_dir("satcli-doc");
    for (auto cmd : {"EnviarDadosVenda", "CancelarUltimaVenda"}) {
        for (const std::string& path : {dir + "/nada.xml", dir}) {
            Rodada r = roda({cmd, "cod", path});
            EXPECT_EQ(r.status, 1);
            EXPECT_TRUE(r.out.ends_with("nao conseguiu ler o arquivo: " + path + "\n")) << r.out;
            EXPECT_TRUE(chamadas.empty());
        }
    }
    testsupport::write_file(dir + "/vazio.xml", "");
    EXPECT_EQ(roda({"EnviarDadosVenda", "cod", dir + "/vazio.xml"}).status, 0);
    EXPECT_EQ(chamadas.at(0), "EnviarDadosVenda|cod|");
}
