// satcli's commands in-process against a stand-in library that records each call:
// whole outputs byte for byte, the arguments the library receives, exit statuses, and
// bad input (binary, missing or oversized files, a log file that cannot be written).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "sandbox.h"
#include "session.h"

namespace {

std::string calls;  // "Name|session|arg|..." per call, one a line
std::string answer; // the next answers ("{sessao}" replaced); empty: the function's own
std::string buffer;

std::string j(std::initializer_list<std::string> parts) {
    std::string s;
    for (const auto& p : parts)
        s += (s.empty() ? "" : "|") + p;
    return s;
}
std::string ses(int n) {
    char b[16];
    std::snprintf(b, sizeof b, "%06d", n);
    return b;
}
char* reply(const std::string& call, int s, const char* own) {
    calls += call + "\n";
    buffer = answer.empty() ? own : answer;
    for (size_t p; (p = buffer.find("{sessao}")) != std::string::npos;)
        buffer.replace(p, 8, ses(s));
    return buffer.data();
}

// Each function records its call and answers; "own" is its answer unless a row sets one.
#define STAND(fn, own, params, ...)                                                                \
    a.fn = [] params noexcept { return reply(j({#fn, __VA_ARGS__}), s, own); }
satcli::Api stand_in(bool optional) {
    satcli::Api a;
    STAND(ExtrairLogs, "{sessao}|15000|ok|||", (int s, char* c), ses(s), c);
    STAND(AtualizarSoftwareSAT, "{sessao}|14000|ok||", (int s, char* c), ses(s), c);
    STAND(ConsultarStatusOperacional, "{sessao}|10000|ok||", (int s, char* c), ses(s), c);
    STAND(AtivarSAT, "{sessao}|04000|ok||", (int s, int t, char* c, char* cnpj, int uf), ses(s),
          std::to_string(t), c, cnpj, std::to_string(uf));
    STAND(EnviarDadosVenda, "{sessao}|06000|0000|ok|||", (int s, char* c, char* d), ses(s), c, d);
    STAND(CancelarUltimaVenda, "{sessao}|07000|0000|ok|||", (int s, char* c, char* k, char* d),
          ses(s), c, k, d);
    STAND(ConsultarSAT, "{sessao}|08000|SAT em operacao||", (int s), ses(s));
    STAND(TesteFimAFim, "{sessao}|09000|ok||", (int s, char* c, char* d), ses(s), c, d);
    STAND(ConsultarNumeroSessao, "{sessao}|11003|Sessao nao existe||", (int s, char* c, int n),
          ses(s), c, std::to_string(n));
    STAND(ConfigurarInterfaceDeRede, "{sessao}|12000|ok||", (int s, char* c, char* d), ses(s), c,
          d);
    STAND(AssociarAssinatura, "{sessao}|13000|ok||", (int s, char* c, char* v, char* sig), ses(s),
          c, v, sig);
    STAND(BloquearSAT, "{sessao}|16000|ok||", (int s, char* c), ses(s), c);
    STAND(DesbloquearSAT, "{sessao}|17000|ok||", (int s, char* c), ses(s), c);
    STAND(TrocarCodigoDeAtivacao, "{sessao}|18000|ok||", (int s, char* c, int o, char* n, char* k),
          ses(s), c, std::to_string(o), n, k);
    if (optional) {
        STAND(ConsultarUltimaSessaoFiscal, "{sessao}|19003|x||", (int s, char* c), ses(s), c);
        a.SetDriver = [](char* p, char* v) noexcept {
            return reply(j({"SetDriver", p, v}), 0, "OK");
        };
        a.has_ultima_sessao_fiscal = a.has_set_driver = true;
    }
    return a;
}

const std::string SEP = std::string(72, '=') + "\n", TRACOS = "\n" + std::string(70, '-');
const std::string P = "Parametros: \n", COD = "     Cod. Ativacao: cod\n";
const std::string FECHO = std::string(49, '=') + "\n";
std::string cabeca(const std::string& t) {
    return SEP + "\nExecutando funcao: " + t + "\n";
}
std::string ret(const std::string& r) {
    return "\nRetorno: " + r + "\n\n";
}
// A command with an activation code, its parameter lines and the library's answer.
std::string cmd(const std::string& t, const std::string& lines, const std::string& r) {
    return cabeca(t) + P + COD + lines + ret(r) + SEP;
}
std::string moldura(const std::string& rotulo, const std::string& chave, const std::string& doc) {
    return "\nChave " + rotulo + ": " + chave + "\n" + TRACOS + "\n\n" + rotulo + ": " + doc +
           "\n\n" + TRACOS + "\n\n";
}
std::string log_salvo(const std::string& linha) {
    return cabeca("ExtrairLogs") + P + COD + "Cod Retorno: " + linha + "\n" + TRACOS +
           "\nLog salvo em: log_sat.txt\n" + TRACOS + "\n\n" + FECHO;
}
std::string log_sem(const std::string& linha) {
    return cabeca("ExtrairLogs") + P + COD + "Cod Retorno: " + linha + "\n" + FECHO;
}
std::string rede(const std::string& tipoLan) {
    return cabeca("ConfigurarInterfaceDeRede") + P + COD +
           "     tipoInter: ETHE\n     tipoLan: " + tipoLan + "\n";
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
const std::string kUsoSemUltima = kUso.substr(0, kUso.find(kLinhaUltima)) +
                                  kUso.substr(kUso.find(kLinhaUltima) + kLinhaUltima.size());

const std::string kRede = "[REDE]\ntipoInter=ETHE\ntipoLan=IPFIX\nlanIP=192.168.001.010\n"
                          "lanMask=255.255.255.000\nlanGW=192.168.001.001\n"
                          "lanDNS1=008.008.008.008\nlanDNS2=008.008.004.004\n";
const std::string kConfig = "[DEFAULT]\nLAYOUT=0.07\nCNPJ_CONTRIB=11111111111111\n"
                            "IE_CONTRIB=111111111111\nCNPJ_SH=22222222222222\n"
                            "ASSINATURA_SH=SGVsbG8=\nUF=35\n" +
                            kRede +
                            "proxy=1\nproxy_ip=010.000.000.001\nproxy_porta=3128\n"
                            "proxy_user=joao\nproxy_senha=segredo\n";
// The first key of a name wins, so a bad value goes in front of the good ones.
std::string ruim(const std::string& linha) {
    return "[REDE]\n" + linha + "\n" + kRede.substr(7);
}
std::string long_config() {
    std::string ini = "[DEFAULT]\n";
    for (const char* k : {"LAYOUT", "CNPJ_CONTRIB", "IE_CONTRIB", "CNPJ_SH", "ASSINATURA_SH", "UF"})
        ini += std::string(k) + "=" + std::string(5000, '7') + "\n";
    ini += "[REDE]\n";
    for (const char* k : {"tipoInter", "tipoLan", "lanIP", "proxy", "proxy_user"})
        ini += std::string(k) + "=" + std::string(5000, '1') + "\n";
    return ini;
}
std::string binary(size_t n) {
    std::string s;
    for (size_t i = 0; i < n; ++i)
        s += static_cast<char>((i * 2654435761u >> 13) & 0xFF);
    return s;
}

const std::string kXmlTeste =
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
    "</vMP></MP></pgto></infCFe></CFe>";
const std::string kXmlDhcp = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><config><tipoInter>"
                             "ETHE</tipoInter><tipoLan>DHCP</tipoLan>";
const std::string kXmlRede =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><config><tipoInter>ETHE</tipoInter><tipoLan>"
    "IPFIX</tipoLan><lanIP>192.168.001.010</lanIP><lanMask>255.255.255.000</lanMask><lanGW>"
    "192.168.001.001</lanGW><lanDNS1>008.008.008.008</lanDNS1><lanDNS2>008.008.004.004"
    "</lanDNS2><proxy>1</proxy><proxy_ip>010.000.000.001</proxy_ip><proxy_porta>3128"
    "</proxy_porta><proxy_user>joao</proxy_user><proxy_senha>segredo</proxy_senha></config>";
const std::string kVenda = "{sessao}|06000|0000|Emitido com sucesso + conteudo notas.|||"
                           "PENGZT48aW5mQ0ZlLz48L0NGZT4=|20260101120000|CFe3526|10.00|x|qr";
const std::string kCanc = "<CFeCanc><infCFe chCanc=\"CFe3526\"><ide/></infCFe></CFeCanc>";
const std::string kNaoLe = "nao conseguiu ler o arquivo: ";
const std::string kAtivar = "     Tipo de Certificado: AC_SAT/SEFAZ\n     CNPJ Contribuinte: ";

struct File {
    std::string name, content; // "<dir>": a folder; "<full>": a link to /dev/full
};

struct Row {
    const char* name;
    std::string args; // split at spaces
    int status;
    std::string out;  // "{S}": the session drawn; starting with '~': must hold the rest
    std::string call; // what the library received, "{S}" as above; empty: no call
    std::vector<File> files = {};
    std::string answer = ""; // the stand-in's answer; empty: its own
    std::string err = "";
    File after = {};      // a file's content after the run
    bool optional = true; // the library has the two optional functions
};

// clang-format off
const std::vector<Row> kRows = {
    // Usage and syntax: nothing reaches the library.
    {"UsageWithoutOptional", "", 1, kUsoSemUltima, "", {}, "", "", {}, false},
    {"LastFiscalUnsupported", "ConsultarUltimaSessaoFiscal cod", 1,
     "Funcao nao suportada pela biblioteca\n\n", "", {}, "", "", {}, false},
    {"SyntaxAtivar", "AtivarSAT a b", 1, "Sintaxe: satcli AtivarSAT codigoDeAtivacao (+ config.ini)\n\n", ""},
    // Each command: what it prints and what the library receives.
    {"SessaoClampedToInt", "ConsultarNumeroSessao cod 99999999999999999999", 0, "~Retorno: ",
     "ConsultarNumeroSessao|{S}|cod|2147483647"},
    {"TrocarOptionNotANumber", "TrocarCodigoDeAtivacao cod um novo", 0,
     cabeca("TrocarCodigoDeAtivacao") + P +
         "     Opcao: um - Desconhecido\n     Cod. Ativacao: cod\n     Novo Codigo: novo\n" +
         ret("{S}|18000|ok||") + SEP,
     "TrocarCodigoDeAtivacao|{S}|cod|0|novo|novo"},
    {"LongArgument", "ConsultarStatusOperacional " + std::string(100000, 'c'), 0, "~Retorno: ",
     "ConsultarStatusOperacional|{S}|" + std::string(100000, 'c')},
    // Values from config.ini.
    {"AtivarWidths", "AtivarSAT cod", 0,
     cmd("AtivarSAT", kAtivar + std::string(32, 'c') + "\n     UF: 35\n", "{S}|04000|ok||"),
     "AtivarSAT|{S}|1|cod|" + std::string(32, 'c') + "|35",
     {{"config.ini", "[DEFAULT]\nCNPJ_CONTRIB=" + std::string(60, 'c') + "\nUF=355\n"}}},
    {"AssociarDefaultsAndWidths", "AssociarAssinatura cod", 0,
     cmd("AssociarAssinatura", "     CNPJValue:   \n     AssinaturaSH: " + std::string(344, 'A') + "\n",
         "{S}|13000|ok||"),
     "AssociarAssinatura|{S}|cod|  |" + std::string(344, 'A'),
     {{"config.ini", "[REDE]\n[DEFAULT]\nASSINATURA_SH=" + std::string(400, 'A') + "\n"}}},
    {"TesteFimAFim", "TesteFimAFim cod", 0,
     cmd("TesteFimAFim", "     Layout: 0.07\n     CNPJ SH: 22222222222222\n     AssinaturaSH: SGVsbG8=\n"
         "     CNPJ Contribuinte: 11111111111111\n     IE Contribuinte: 111111111111\n"
         "     XML: " + kXmlTeste + "\n", "{S}|09000|ok||"),
     "TesteFimAFim|{S}|cod|" + kXmlTeste},
    {"Rede", "ConfigurarInterfaceDeRede cod", 0,
     rede("IPFIX") +
         "     lanIP: 192.168.001.010\n     lanMask: 255.255.255.000\n     lanGW: 192.168.001.001\n"
         "     lanDNS1: 008.008.008.008\n     lanDNS2: 008.008.004.004\n"
         "     proxy: 1 (PROXY COM CONFIGURACAO)\n     proxy_ip: 010.000.000.001\n"
         "     proxy_porta: 3128\n     proxy_user: joao\n     proxy_senha: segredo\n"
         "     XML de Configuracao: " + kXmlRede + "\n" + ret("{S}|12000|ok||"),
     "ConfigurarInterfaceDeRede|{S}|cod|" + kXmlRede},
    {"RedeNoProxy", "ConfigurarInterfaceDeRede cod", 0,
     rede("DHCP") + "     proxy:  (SEM PROXY)\n     XML de Configuracao: " + kXmlDhcp +
         "<proxy></proxy></config>\n" + ret("{S}|12000|ok||"),
     "ConfigurarInterfaceDeRede|{S}|cod|" + kXmlDhcp + "<proxy></proxy></config>",
     {{"config.ini", "[DEFAULT]\n[REDE]\ntipoInter=ETHE\ntipoLan=DHCP\n"}}},
    // config.ini refused: nothing reaches the library.
    {"BadLanIP", "ConfigurarInterfaceDeRede cod", 1, rede("IPFIX") + "erro: lanIP\n", "",
     {{"config.ini", ruim("lanIP=192.168.1.10")}}},
    {"DefaultNotFirstOrSecond", "AtivarSAT cod", 1, "Erro no arquivo config.ini\n", "",
     {{"config.ini", "[REDE]\n[A]\n[DEFAULT]\nUF=35\n"}}},
    {"ConfigBinary", "AtivarSAT cod", 1, "~Erro no arquivo config.ini", "",
     {{"config.ini", binary(70000)}}, "", "", {"config.ini", binary(70000)}},
    {"LongConfigValuesAreCut", "AtivarSAT cod", 0, "~Retorno: ", "AtivarSAT|{S}|1|cod|" + std::string(32, '7') + "|77",
     {{"config.ini", long_config()}}, "", "", {"config.ini", long_config()}},
    // Documents.
    {"Venda", "EnviarDadosVenda cod venda.xml", 0,
     cabeca("EnviarDadosVendas") + P + COD + "       Arquivo CFe: venda.xml\n" +
         ret(kVenda.substr(0, 0) + "{S}" + kVenda.substr(8)) + SEP +
         moldura("CFe", "CFe3526", "<CFe><infCFe/></CFe>"),
     "EnviarDadosVenda|{S}|cod|<CFe>\nvenda</CFe>\n", {{"venda.xml", "<CFe>\nvenda</CFe>\n"}}, kVenda},
    {"VendaUnreadable", "EnviarDadosVenda cod venda.xml", 1, "~" + kNaoLe + "venda.xml\n", "",
     {{"venda.xml", "<dir>"}}},
    {"Cancelar", "CancelarUltimaVenda cod canc.xml", 0,
     cabeca("CancelarUltimaVenda") + P + "       Cod. Ativacao: cod\n     Arquivo CFeCanc: canc.xml\n" +
         ret("{S}|07098|0000|ocupado||") + SEP + moldura("CFeCanc", "", ""),
     "CancelarUltimaVenda|{S}|cod|CFe3526|" + kCanc, {{"canc.xml", kCanc}},
     "{sessao}|07098|0000|ocupado||"},
    // The last fiscal session is decoded by its result code.
    {"UltimaCancelamento", "ConsultarUltimaSessaoFiscal cod", 0,
     cabeca("ConsultarUltimaSessaoFiscal") + P + COD + ret("1|07000|0000|m|||PENGZUNhbmMvPg==||k") +
         moldura("CFeCanc", "k", "<CFeCanc/>") + SEP,
     "ConsultarUltimaSessaoFiscal|{S}|cod", {}, "1|07000|0000|m|||PENGZUNhbmMvPg==||k"},
    // An invalid character ends the document after the last complete group; the
    // key is cut to its buffer.
    {"UltimaCutShort", "ConsultarUltimaSessaoFiscal cod", 0,
     "~" + moldura("CFe", std::string(127, 'k'), "ABC"), "ConsultarUltimaSessaoFiscal|{S}|cod", {},
     "1|06000|0000|m|||QUJD REVG||" + std::string(200, 'k')},
    // The device log: every decoded byte over the old file, or the message.
    {"Logs", "ExtrairLogs cod", 0, log_salvo("15000|Transferencia completa"), "ExtrairLogs|{S}|cod",
     {{"log_sat.txt", "um log antigo, bem mais comprido que o novo\n"}},
     "{sessao}|15000|Transferencia completa|||bGluaGEgMQoAbGluaGEgMgo=", "",
     {"log_sat.txt", std::string("linha 1\n\0linha 2\n", 17)}},
    {"LogsEmpty", "ExtrairLogs cod", 0, log_salvo("15000|Transferencia completa"),
     "ExtrairLogs|{S}|cod", {}, "{sessao}|15000|Transferencia completa||", "", {"log_sat.txt", ""}},
    {"LogsLongField", "ExtrairLogs cod", 0, log_sem("15001|" + std::string(128, 't')),
     "ExtrairLogs|{S}|cod", {}, "{sessao}|15001|" + std::string(200, 'm') + "|" + std::string(200, 't')},
    {"LogsDiskFull", "ExtrairLogs cod", 1, log_sem("15000|Transferencia completa"),
     "ExtrairLogs|{S}|cod", {{"log_sat.txt", "<full>"}},
     "{sessao}|15000|Transferencia completa|||bG9n", "Erro ao criar arquivo\n"},
    {"LogsFileIsAFolder", "ExtrairLogs cod", 1, log_sem("15000|Transferencia completa"),
     "ExtrairLogs|{S}|cod", {{"log_sat.txt", "<dir>"}},
     "{sessao}|15000|Transferencia completa|||bG9n", "Erro ao criar arquivo\n"},};
// clang-format on

std::string expand(std::string text, const std::string& session) {
    for (size_t p; (p = text.find("{S}")) != std::string::npos;)
        text.replace(p, 3, session);
    return text;
}

// `want` exactly, or containing the rest when it starts with '~'.
void expect_text(const std::string& got, const std::string& want, const char* what) {
    if (want.starts_with('~'))
        EXPECT_NE(got.find(want.substr(1)), std::string::npos)
            << what << ": " << got.substr(0, 3000);
    else
        EXPECT_EQ(got, want) << what;
}

class Golden : public ::testing::TestWithParam<size_t> {};

TEST_P(Golden, Run) {
    const Row& row = kRows[GetParam()];
    ASSERT_EQ(chdir(testsupport::make_temp_dir("satcli").c_str()), 0);
    bool config = true;
    for (const File& f : row.files) {
        config = config && f.name != "config.ini";
        const std::string& c = f.content;
        ASSERT_TRUE(c == "<dir>"    ? mkdir(f.name.c_str(), 0755) == 0
                    : c == "<full>" ? symlink("/dev/full", f.name.c_str()) == 0
                                    : testsupport::write_file(f.name, c))
            << f.name;
    }
    ASSERT_TRUE(!config || testsupport::write_file("config.ini", kConfig));

    std::vector<std::string> words{"satcli"};
    for (size_t p = 0, e; p < row.args.size(); p = e + 1) {
        e = std::min(row.args.find(' ', p), row.args.size());
        words.push_back(row.args.substr(p, e - p));
    }
    std::vector<char*> argv;
    for (auto& w : words)
        argv.push_back(w.data());
    argv.push_back(nullptr);
    answer = row.answer;
    calls.clear();
    char *out = nullptr, *err = nullptr;
    size_t out_size = 0, err_size = 0;
    FILE* o = open_memstream(&out, &out_size);
    FILE* e = open_memstream(&err, &err_size);
    satcli::clear_sessions();
    const satcli::Api api = stand_in(row.optional);
    EXPECT_EQ(satcli::run({api, static_cast<int>(words.size()), argv.data(), o, e}), row.status);
    std::fclose(o);
    std::fclose(e);
    const std::string call = calls.empty() ? "" : calls.substr(0, calls.size() - 1);
    const auto bar = call.find('|');
    const std::string session = call.substr(bar + 1, call.find('|', bar + 1) - bar - 1);
    expect_text(call, expand(row.call, session), "call");
    expect_text(std::string(out, out_size), expand(row.out, session), "output");
    EXPECT_EQ(std::string(err, err_size), row.err);
    std::free(out);
    std::free(err);
    if (!row.after.name.empty()) {
        EXPECT_EQ(testsupport::read_file(row.after.name), row.after.content) << row.after.name;
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, Golden, ::testing::Range<size_t>(0, kRows.size()),
                         [](const auto& p) { return std::string(kRows[p.param].name); });

} // namespace
