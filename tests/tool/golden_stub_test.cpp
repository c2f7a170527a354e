// satcli run as a process against stand-in libraries: the loader messages,
// the usage text and each command's full output, byte for byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "process.h"
#include "sandbox.h"

using satcli_test::pasta_com_biblioteca;
using satcli_test::Resultado;
using satcli_test::roda_satcli;

namespace {

const std::string SEP = std::string(72, '=') + "\n";
const std::string TRACOS = "\n" + std::string(70, '-');

std::string cabeca(const std::string& titulo) {
    return SEP + "\nExecutando funcao: " + titulo + "\n";
}
std::string retorno(const std::string& r) {
    return "\nRetorno: " + r + "\n\n";
}

const std::string kUso = "\nsatcli - Versao: 3.0.0.5 - Torvane Informatica\n"
                         "Sintaxe: satcli funcao [args] \n"
                         "funcoes:\n"
                         "   AssociarAssinatura codigoDeAtivacao (config.ini)\n"
                         "   AtivarSAT codigoDeAtivacao (config.ini)\n"
                         "   AtualizarSoftwareSAT codigoDeAtivacao\n"
                         "   BloquearSAT codigoDeAtivacao\n"
                         "   ConfigurarInterfaceDeRede codigoDeAtivacao (config.ini)\n"
                         "   ConsultarSAT\n"
                         "   ConsultarNumeroSessao codigoDeAtivacao cNumeroDeSessao\n"
                         "   ConsultarUltimaSessaoFiscal codigoDeAtivacao\n"
                         "   ConsultarStatusOperacional codigoDeAtivacao\n"
                         "   DesbloquearSAT codigoDeAtivacao\n"
                         "   ExtrairLogs codigoDeAtivacao\n"
                         "   TesteFimAFim codigoDeAtivacao (config.ini)\n"
                         "   TrocarCodigoDeAtivacao codigoDeAtivacao opcao novoCodigo\n"
                         "   EnviarDadosVenda codigoDeAtivacao arquivo_CFe\n"
                         "   CancelarUltimaVenda codigoDeAtivacao arquivo_CFeCanc\n"
                         "\n";
const std::string kLinhaUltima = "   ConsultarUltimaSessaoFiscal codigoDeAtivacao\n";

std::string sem_linha_ultima() {
    std::string u = kUso;
    u.erase(u.find(kLinhaUltima), kLinhaUltima.size());
    return u;
}

// One run against the complete stand-in; the session number it drew is read
// from the stand-in's record.
struct Stub {
    std::string pasta = pasta_com_biblioteca(STUB_FULL);
    std::string registro = pasta + "/registro.txt";
    Resultado r;
    Stub& roda(const std::vector<std::string>& args, const std::string& resposta = "",
               std::vector<std::string> env = {}) {
        env.push_back("STUB_REGISTRO=" + registro);
        if (!resposta.empty()) env.push_back("STUB_RESPOSTA=" + resposta);
        r = roda_satcli(pasta, args, env);
        return *this;
    }
    std::string chamada() const {
        std::string t = testsupport::read_file(registro);
        return t.empty() ? t : t.substr(0, t.size() - 1);
    }
    std::string sessao() const {
        std::string c = chamada();
        std::size_t a = c.find('|');
        return a == c.npos ? "" : c.substr(a + 1, c.find('|', a + 1) - a - 1);
    }
    void arquivo(const std::string& nome, const std::string& texto) const {
        testsupport::write_file(pasta + "/" + nome, texto);
    }
};

std::string frame_cfe(const std::string& rotulo, const std::string& chave, const std::string& doc) {
    return "\nChave " + rotulo + ": " + chave + "\n" + TRACOS + "\n\n" + rotulo + ": " + doc +
           "\n\n" + TRACOS + "\n\n";
}

const std::string kConfig = "[DEFAULT]\nLAYOUT=0.07\nCNPJ_CONTRIB=11111111111111\n"
                            "IE_CONTRIB=111111111111\nCNPJ_SH=22222222222222\n"
                            "ASSINATURA_SH=SGVsbG8=\nUF=35\n"
                            "[REDE]\ntipoInter=ETHE\ntipoLan=IPFIX\nlanIP=192.168.001.010\n"
                            "lanMask=255.255.255.000\nlanGW=192.168.001.001\n"
                            "lanDNS1=008.008.008.008\nlanDNS2=008.008.004.004\nproxy=1\n"
                            "proxy_ip=010.000.000.001\nproxy_porta=3128\nproxy_user=joao\n"
                            "proxy_senha=segredo\n";

std::vector<std::string> palavras(const std::string& linha) {
    std::vector<std::string> v;
    for (std::size_t p = 0, e; p < linha.size(); p = e + 1) {
        e = std::min(linha.find(' ', p), linha.size());
        v.push_back(linha.substr(p, e - p));
    }
    return v;
}

} // namespace

TEST(Loader, MissingLibraryStopsEveryRun) {
    std::string vazia = pasta_com_biblioteca("");
    for (auto args : std::vector<std::vector<std::string>>{{}, {"ConsultarSAT"}}) {
        Resultado r = roda_satcli(vazia, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "dl_handle: ./libtorvane_sat_x86.so: cannot open shared object file: "
                         "No such file or directory\n");
        EXPECT_EQ(r.err, "");
    }
}

TEST(Loader, MissingRequiredFunctionStopsEveryRun) {
    Resultado r = roda_satcli(pasta_com_biblioteca(STUB_NO_REQUIRED), {"ConsultarSAT"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "dlsym_AtivarSAT: ./libtorvane_sat_x86.so: undefined symbol: AtivarSAT\n");
}

TEST(Loader, MissingOptionalFunctionsAreAnnouncedAndRefused) {
    std::string pasta = pasta_com_biblioteca(STUB_NO_OPTIONAL);
    const std::string avisos =
        "dlsym_ConsultarUltimaSessaoFiscal: ./libtorvane_sat_x86.so: undefined symbol: "
        "ConsultarUltimaSessaoFiscal\n"
        "dlsym_SetDriver: ./libtorvane_sat_x86.so: undefined symbol: SetDriver\n";
    Resultado uso = roda_satcli(pasta, {});
    EXPECT_EQ(uso.status, 1);
    EXPECT_EQ(uso.out, avisos + sem_linha_ultima());
    for (auto args : std::vector<std::vector<std::string>>{{"ConsultarUltimaSessaoFiscal"},
                                                           {"SetDriver", "DEBUG", "true"}}) {
        Resultado r = roda_satcli(pasta, args);
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, avisos + "Funcao nao suportada pela biblioteca\n\n");
    }
    Resultado consulta = roda_satcli(pasta, {"ConsultarSAT"});
    EXPECT_EQ(consulta.status, 0);
    EXPECT_TRUE(consulta.out.starts_with(avisos + cabeca("ConsultarSAT")));
}

TEST(Usage, ShownForNoNameAndUnknownNames) {
    Stub s;
    for (auto args : std::vector<std::vector<std::string>>{
             {}, {"consultarsat"}, {"ConsultarSat"}, {"ComunicarCertificadoICPBRASIL"}}) {
        s.roda(args);
        EXPECT_EQ(s.r.status, 1);
        EXPECT_EQ(s.r.out, kUso);
    }
    EXPECT_EQ(s.chamada(), "") << "no library call";
}

// The other commands are compared against satemu in device_test.
TEST(Golden, ArgumentsAreReadAsTheToolReadsThem) {
    const struct {
        std::string args;       // split at spaces; the first word is the title
        std::string parametros; // empty: no "Parametros: " block
        std::string chamada;    // without the session field
        std::string resposta;
    } casos[] = {
        {"ConsultarSAT ignorado", "", "ConsultarSAT", "|08000|SAT em operacao||"},
        {"ConsultarNumeroSessao cod 42x", "     Cod. Ativacao: cod\n     Sessao a consultar: 42x\n",
         "ConsultarNumeroSessao|cod|42", "|11003|Sessao nao existe||"},
        {"TrocarCodigoDeAtivacao cod 7 novo",
         "     Opcao: 7 - Desconhecido\n     Cod. Ativacao: cod\n     Novo Codigo: novo\n",
         "TrocarCodigoDeAtivacao|cod|7|novo|novo", "|18000|ok||"},
        {"TrocarCodigoDeAtivacao cod um novo",
         "     Opcao: um - Desconhecido\n     Cod. Ativacao: cod\n     Novo Codigo: novo\n",
         "TrocarCodigoDeAtivacao|cod|0|novo|novo", "|18000|ok||"},
    };
    for (const auto& c : casos) {
        Stub s;
        s.arquivo("config.ini", kConfig);
        std::vector<std::string> args = palavras(c.args);
        s.roda(args);
        std::string sessao = s.sessao();
        ASSERT_EQ(sessao.size(), 6u) << c.args;
        std::string chamada = c.chamada;
        chamada.insert(chamada.find('|') == chamada.npos ? chamada.size() : chamada.find('|'),
                       "|" + sessao);
        EXPECT_EQ(s.chamada(), chamada);
        std::string params = c.parametros.empty() ? "" : "Parametros: \n" + c.parametros;
        EXPECT_EQ(s.r.out, cabeca(args[0]) + params + retorno(sessao + c.resposta) + SEP);
        EXPECT_EQ(s.r.status, 0);
        EXPECT_EQ(s.r.err, "");
    }
}

TEST(Golden, EndToEndTestSendsTheSampleSale) {
    Stub s;
    s.arquivo("config.ini", kConfig);
    s.roda({"TesteFimAFim", "cod"});
    std::string chamada = s.chamada();
    std::string xml = chamada.substr(chamada.find("|cod|") + 5);
    EXPECT_EQ(xml,
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CFe><infCFe versaoDadosEnt=\"0.07\"><ide>"
              "<CNPJ>22222222222222</CNPJ><signAC>SGVsbG8=</signAC><numeroCaixa>099</numeroCaixa>"
              "</ide><emit><CNPJ>11111111111111</CNPJ><IE>111111111111</IE><cRegTribISSQN>1"
              "</cRegTribISSQN><indRatISSQN>N</indRatISSQN></emit><dest><CNPJ>11222333000181</CNPJ>"
              "</dest><det nItem=\"1\"><prod><cProd>001</cProd><xProd>MiniPc</xProd><CFOP>5001"
              "</CFOP><uCom>UN</uCom><qCom>1.0000</qCom><vUnCom>654.320</vUnCom><indRegra>A"
              "</indRegra></prod><imposto><vItem12741>1.00</vItem12741><ICMS><ICMS00><Orig>0</Orig>"
              "<CST>00</CST><pICMS>12.00</pICMS></ICMS00></ICMS><PIS><PISAliq><CST>01</CST><vBC>"
              "654.32</vBC><pPIS>0.0600</pPIS></PISAliq></PIS><COFINS><COFINSAliq><CST>01</CST>"
              "<vBC>654.32</vBC><pCOFINS>0.0400</pCOFINS></COFINSAliq></COFINS></imposto></det>"
              "<total><vCFeLei12741>1.00</vCFeLei12741></total><pgto><MP><cMP>01</cMP><vMP>2000.00"
              "</vMP></MP></pgto></infCFe></CFe>");
    EXPECT_EQ(s.r.out, cabeca("TesteFimAFim") +
                           "Parametros: \n     Cod. Ativacao: cod\n     Layout: 0.07\n"
                           "     CNPJ SH: 22222222222222\n     AssinaturaSH: SGVsbG8=\n"
                           "     CNPJ Contribuinte: 11111111111111\n"
                           "     IE Contribuinte: 111111111111\n     XML: " +
                           xml + "\n" + retorno(s.sessao() + "|09000|ok||") + SEP);
}

TEST(Golden, NetworkConfigurationWithAConfiguredProxy) {
    Stub s;
    s.arquivo("config.ini", kConfig);
    s.roda({"ConfigurarInterfaceDeRede", "cod"});
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><config><tipoInter>ETHE</tipoInter><tipoLan>"
        "IPFIX</tipoLan><lanIP>192.168.001.010</lanIP><lanMask>255.255.255.000</lanMask><lanGW>"
        "192.168.001.001</lanGW><lanDNS1>008.008.008.008</lanDNS1><lanDNS2>008.008.004.004"
        "</lanDNS2><proxy>1</proxy><proxy_ip>010.000.000.001</proxy_ip><proxy_porta>3128"
        "</proxy_porta><proxy_user>joao</proxy_user><proxy_senha>segredo</proxy_senha></config>";
    EXPECT_EQ(s.r.status, 0);
    EXPECT_EQ(s.chamada(), "ConfigurarInterfaceDeRede|" + s.sessao() + "|cod|" + xml);
    EXPECT_EQ(s.r.out, cabeca("ConfigurarInterfaceDeRede") +
                           "Parametros: \n     Cod. Ativacao: cod\n     tipoInter: ETHE\n"
                           "     tipoLan: IPFIX\n     lanIP: 192.168.001.010\n"
                           "     lanMask: 255.255.255.000\n     lanGW: 192.168.001.001\n"
                           "     lanDNS1: 008.008.008.008\n     lanDNS2: 008.008.004.004\n"
                           "     proxy: 1 (PROXY COM CONFIGURACAO)\n"
                           "     proxy_ip: 010.000.000.001\n     proxy_porta: 3128\n"
                           "     proxy_user: joao\n     proxy_senha: segredo\n"
                           "     XML de Configuracao: " +
                           xml + "\n" + retorno(s.sessao() + "|12000|ok||"));
}

// The sale side is compared end to end against satemu (device_test).
TEST(Golden, CancellationPrintsItsFrameForAnyCode) {
    Stub c;
    c.arquivo("canc.xml", "<CFeCanc><infCFe chCanc=\"CFe3526\"><ide/></infCFe></CFeCanc>");
    c.roda({"CancelarUltimaVenda", "cod", "canc.xml"}, "{sessao}|07098|0000|ocupado||");
    EXPECT_EQ(c.chamada(), "CancelarUltimaVenda|" + c.sessao() +
                               "|cod|CFe3526|<CFeCanc><infCFe chCanc=\"CFe3526\"><ide/></infCFe>"
                               "</CFeCanc>");
    EXPECT_EQ(c.r.out,
              cabeca("CancelarUltimaVenda") +
                  "Parametros: \n       Cod. Ativacao: cod\n     Arquivo CFeCanc: canc.xml\n" +
                  retorno(c.sessao() + "|07098|0000|ocupado||") + SEP +
                  frame_cfe("CFeCanc", "", ""));
}

TEST(Golden, LibraryConsoleLinesComeBeforeTheAnswer) {
    Stub s;
    s.roda({"BloquearSAT", "cod"}, "", {"STUB_CONSOLE=1"});
    EXPECT_EQ(s.r.out, cabeca("BloquearSAT") + "Parametros: \n     Cod. Ativacao: cod\n" +
                           "stub: console\n" + retorno(s.sessao() + "|16000|ok||") + SEP);
}

TEST(Golden, SaleFromStandardInput) {
    Stub s;
    s.arquivo("venda.xml", "<CFe>via stdin</CFe>");
    // /dev/stdin of the child is /dev/null here: an empty document.
    s.roda({"EnviarDadosVenda", "cod", "/dev/stdin"});
    EXPECT_EQ(s.r.status, 0);
    EXPECT_EQ(s.chamada(), "EnviarDadosVenda|" + s.sessao() + "|cod|");
}

TEST(Sessions, RunsStartedTogetherUseDifferentNumbers) {
    std::set<std::string> vistos;
    for (int i = 0; i < 4; ++i) {
        Stub s;
        s.roda({"ConsultarSAT"});
        ASSERT_EQ(s.r.status, 0);
        vistos.insert(s.sessao());
    }
    EXPECT_EQ(vistos.size(), 4u);
}

TEST(Golden, WrongArgumentCountPrintsTheSyntax) {
    const struct {
        std::string args;
        std::string esperado; // after "Sintaxe: satcli "
    } casos[] = {
        {"AtivarSAT a b", "AtivarSAT codigoDeAtivacao (+ config.ini)\n\n"},
        {"AssociarAssinatura", "AssociarAssinatura codigoDeAtivacao (+ config.ini)\n\n"},
        {"TesteFimAFim", "TesteFimAFim codigoDeAtivacao (+ config.ini)\n\n"},
        {"ConfigurarInterfaceDeRede a b",
         "ConfigurarInterfaceDeRede codigoDeAtivacao (+ config.ini)\n\n"},
        {"ConsultarStatusOperacional", "ConsultarStatusOperacional codigoDeAtivacao \n\n"},
        {"ConsultarNumeroSessao a", "ConsultarNumeroSessao codigoDeAtivacao  cNumeroDeSessao\n\n"},
        {"ConsultarUltimaSessaoFiscal", "ConsultarUltimaSessaoFiscal codigoDeAtivacao\n\n"},
        {"AtualizarSoftwareSAT", "AtualizarSoftwareSAT codigoDeAtivacao \n\n"},
        {"ExtrairLogs a b", "ExtrairLogs codigoDeAtivacao \n\n"},
        {"BloquearSAT", "BloquearSAT codigoDeAtivacao \n\n"},
        {"DesbloquearSAT", "DesbloquearSAT codigoDeAtivacao \n\n"},
        {"TrocarCodigoDeAtivacao a 1",
         "TrocarCodigoDeAtivacao codigoDeAtivacao opcao novoCodigo\n"
         "         opcao: 1 -> Codigo de Ativacao - 2 -> Codigo de Emergencia\n"},
        {"EnviarDadosVenda a", "EnviarDadosVenda codigoDeAtivacao  arquivoCFe\n\n"},
        {"CancelarUltimaVenda a b c", "CancelarUltimaVenda codigoDeAtivacao  arquivoCFeCanc\n\n"},
        {"SetDriver a", "SetDriver Parametro Valor \n\n"},
    };
    Stub s;
    s.arquivo("config.ini", kConfig);
    for (const auto& c : casos) {
        s.roda(palavras(c.args));
        EXPECT_EQ(s.r.status, 1) << c.args;
        EXPECT_EQ(s.r.out, "Sintaxe: satcli " + c.esperado);
    }
    EXPECT_EQ(s.chamada(), "") << "no library call";
}

TEST(Golden, ConfigurationChecks) {
    const std::string rede = "[REDE]\ntipoInter=ETHE\ntipoLan=IPFIX\nlanIP=192.168.001.010\n"
                             "lanMask=255.255.255.000\nlanGW=192.168.001.001\n"
                             "lanDNS1=008.008.008.008\nlanDNS2=008.008.004.004\n";
    auto ruim = [&](const std::string& linha) {
        return "[REDE]\n" + linha + "\n" + rede.substr(7);
    };
    auto topo = [](const std::string& tipoLan) {
        return cabeca("ConfigurarInterfaceDeRede") + "Parametros: \n     Cod. Ativacao: cod\n" +
               "     tipoInter: ETHE\n     tipoLan: " + tipoLan + "\n";
    };
    const std::string xml_dhcp = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><config><tipoInter>"
                                 "ETHE</tipoInter><tipoLan>DHCP</tipoLan>";
    // The first key of a name wins, so a bad value goes in front of the good ones.
    const struct {
        std::string comando; // empty: ConfigurarInterfaceDeRede
        std::string config;
        int status;
        std::string saida; // "{R}": the answer line with the drawn session
    } casos[] = {
        {"", ruim("lanIP=192.168.1.10"), 1, topo("IPFIX") + "erro: lanIP\n"},
        {"", ruim("lanMask=255.255.0.0"), 1, topo("IPFIX") + "erro: lanMask\n"},
        {"", ruim("lanGW=gw"), 1, topo("IPFIX") + "erro: lanGW\n"},
        {"", ruim("lanDNS1=8.8.8.8"), 1, topo("IPFIX") + "erro: lanDNS1\n"},
        {"", ruim("lanDNS2=8.8.4.4"), 1, topo("IPFIX") + "erro: lanDNS2\n"},
        {"", "[REDE]\ntipoInter=ETHERNET\ntipoLan=DHCP\nlanIP=lixo\nproxy=1\nproxy_ip=10.0.0.1\n",
         1, topo("DHCP") + "     proxy: 1 (PROXY COM CONFIGURACAO)\nerro: proxy_ip\n"},
        {"", "[REDE]\ntipoInter=ETHE\ntipoLan=DHCP\nproxy=2\nproxy_ip=x\n", 0,
         topo("DHCP") + "     proxy: 2 (PROXY TRANSPARENTE)\n     XML de Configuracao: " +
             xml_dhcp + "<proxy>2</proxy></config>\n{R}"},
        {"", "[DEFAULT]\n[REDE]\ntipoInter=ETHE\ntipoLan=DHCP\n", 0,
         topo("DHCP") + "     proxy:  (SEM PROXY)\n     XML de Configuracao: " + xml_dhcp +
             "<proxy></proxy></config>\n{R}"},
        {"", "[REDE]\ntipoLan=DHCP\n", 1, "erro: tipoInter\nErro no arquivo config.ini\n"},
        {"", "[REDE]\ntipoInter=ETHE\ntipoLan=WIFI\n", 1,
         "erro: tipoLan\nErro no arquivo config.ini\n"},
        {"", "[REDE]\ntipoInter=ETHE\ntipoLan=DHCP\nproxy=5\n", 1,
         "erro: proxy\nErro no arquivo config.ini\n"},
        {"", "[A]\n[B]\n" + rede, 1, "Erro no arquivo config.ini\n"},
        {"", "[Rede]\ntipoInter=ETHE\ntipoLan=DHCP\n", 1, "Erro no arquivo config.ini\n"},
        {"AtivarSAT", "[REDE]\n[A]\n[DEFAULT]\nUF=35\n", 1, "Erro no arquivo config.ini\n"},
        {"AssociarAssinatura", "[default]\n", 1, "Erro no arquivo config.ini\n"},
        {"TesteFimAFim", "", 1, "Erro no arquivo config.ini\n"},
    };
    for (const auto& c : casos) {
        Stub s;
        if (!c.config.empty()) s.arquivo("config.ini", c.config);
        s.roda({c.comando.empty() ? "ConfigurarInterfaceDeRede" : c.comando, "cod"});
        std::string esperado = c.saida;
        if (auto p = esperado.find("{R}"); p != esperado.npos)
            esperado.replace(p, 3, retorno(s.sessao() + "|12000|ok||"));
        EXPECT_EQ(s.r.status, c.status) << c.config;
        EXPECT_EQ(s.r.out, esperado) << c.config;
        EXPECT_EQ(s.chamada().empty(), c.status == 1) << c.config;
    }
}

TEST(Golden, UnreadableDocumentStopsBeforeTheCall) {
    Stub s;
    s.roda({"EnviarDadosVenda", "cod", "nada.xml"});
    EXPECT_EQ(s.r.status, 1);
    EXPECT_EQ(s.r.out, cabeca("EnviarDadosVendas") +
                           "Parametros: \n     Cod. Ativacao: cod\n       Arquivo CFe: nada.xml\n" +
                           "nao conseguiu ler o arquivo: nada.xml\n");
    s.roda({"CancelarUltimaVenda", "cod", "."});
    EXPECT_EQ(s.r.status, 1);
    EXPECT_EQ(s.r.out, cabeca("CancelarUltimaVenda") +
                           "Parametros: \n       Cod. Ativacao: cod\n     Arquivo CFeCanc: .\n" +
                           "nao conseguiu ler o arquivo: .\n");
    EXPECT_EQ(s.chamada(), "");
}
