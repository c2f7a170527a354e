// satcli with the real driver library against satemu, as a user runs it: the
// whole output compared byte for byte with what the device answered.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "base64.h"
#include "answers.h"
#include "emulator.h"
#include "process.h"
#include "sandbox.h"

using satcli_test::Resultado;

namespace {

const std::string SEP = std::string(72, '=') + "\n";
const std::string TRACOS = "\n" + std::string(70, '-');
const std::string kCodigo = "12345678";

std::string cabeca(const std::string& titulo) {
    return SEP + "\nExecutando funcao: " + titulo + "\n";
}
std::string retorno(const std::string& r) {
    return "\nRetorno: " + r + "\n\n";
}
std::string params(const std::string& linhas) {
    return "Parametros: \n" + linhas;
}
std::string cod(const std::string& c = kCodigo) {
    return "     Cod. Ativacao: " + c + "\n";
}

std::string decodifica(std::string_view texto) {
    std::vector<char> out(texto.size() + 1);
    std::size_t n = 0;
    torvane::base64_decode(texto.data(), texto.size(), out.data(), out.size(), &n);
    return std::string(out.data(), n);
}

std::string frame_cfe(const std::string& rotulo, const std::string& resposta) {
    std::string doc = decodifica(satcli::field(resposta, 6));
    return "\nChave " + rotulo + ": " + std::string(satcli::field(resposta, 8)) + "\n" + TRACOS +
           "\n\n" + rotulo + ": " + doc.c_str() + "\n\n" + TRACOS + "\n\n";
}

const auto le = testsupport::read_file;

// One emulated device, a sat.ini that points the library at it, and a folder
// with the library, config.ini and the sample sale, as the user keeps them.
class Dispositivo {
  public:
    Dispositivo(const std::string& halvex, std::vector<std::string> args = {"--preset", "active"})
        : emu(std::move(args)), pasta(satcli_test::pasta_com_biblioteca(LIB_PATH)) {
        testsupport::write_file(halvex + "/sat.ini",
                                "[DEFAULT]\nSERIAL=" + emu.device() + "\nNO_POPUP=true\n");
        copia(EXAMPLES_DIR "/config.ini", "config.ini");
        copia(EXAMPLES_DIR "/venda.xml", "venda.xml");
    }
    void copia(const std::string& de, const std::string& para) const {
        testsupport::write_file(pasta + "/" + para, le(de));
    }
    void arquivo(const std::string& nome, const std::string& texto) const {
        testsupport::write_file(pasta + "/" + nome, texto);
    }
    Resultado roda(const std::vector<std::string>& args) {
        ++comandos;
        return satcli_test::roda_satcli(pasta, args);
    }
    // The last frame the device received, without its "|\x03" end.
    std::string ultimo_frame() {
        auto f = emu.frames();
        if (f.empty()) return "";
        std::string s = f.back();
        return s.size() >= 2 ? s.substr(0, s.size() - 2) : s;
    }
    std::string sessao() { return std::string(satcli::field(ultimo_frame(), 2)); }
    // The last answer the device sent, as it went over the line.
    std::string ultima_resposta() {
        for (int tentativa = 0; tentativa < 100; ++tentativa) {
            std::string t = emu.transcript();
            int respostas = 0;
            for (std::size_t p = 0; (p = t.find(" -> ", p)) != t.npos; p += 4)
                ++respostas;
            if (respostas >= comandos) {
                std::size_t p = t.rfind(" -> ") + 4;
                std::string ultima = testsupport::unescape_frame(t.substr(p, t.find('\n', p) - p));
                if (!ultima.empty() && ultima.back() == '\x03') ultima.pop_back();
                return ultima;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ADD_FAILURE() << "no answer in the transcript";
        return "";
    }

    testsupport::Emulator emu;
    std::string pasta;
    int comandos = 0;
};

} // namespace

TEST(Device, QueriesPrintTheDeviceAnswerAsItCame) {
    SAT_ENTER_SANDBOX(halvex);
    Dispositivo d(halvex);
    const struct {
        std::vector<std::string> args;
        std::string titulo;
        std::string parametros;
        std::string frame; // what the device must receive after code and session
    } casos[] = {
        {{"ConsultarSAT"}, "ConsultarSAT", "", ""},
        {{"ConsultarStatusOperacional", kCodigo},
         "ConsultarStatusOperacional",
         params(cod()),
         "|" + kCodigo},
        {{"ConsultarStatusOperacional", "00000000"},
         "ConsultarStatusOperacional",
         params(cod("00000000")),
         "|00000000"},
        {{"ConsultarNumeroSessao", kCodigo, "17"},
         "ConsultarNumeroSessao",
         params(cod() + "     Sessao a consultar: 17\n"),
         "|" + kCodigo + "|000017"},
        {{"AtualizarSoftwareSAT", kCodigo}, "AtualizarSoftwareSAT", params(cod()), "|" + kCodigo},
        {{"BloquearSAT", kCodigo}, "BloquearSAT", params(cod()), "|" + kCodigo},
        {{"DesbloquearSAT", kCodigo}, "DesbloquearSAT", params(cod()), "|" + kCodigo},
    };
    for (const auto& c : casos) {
        Resultado r = d.roda(c.args);
        std::string resposta = d.ultima_resposta();
        std::string sessao = d.sessao();
        EXPECT_EQ(r.status, 0) << c.titulo;
        EXPECT_EQ(d.ultimo_frame().substr(4), sessao + c.frame);
        EXPECT_EQ(resposta.substr(0, 6), sessao);
        EXPECT_EQ(r.out, cabeca(c.titulo) + c.parametros + retorno(resposta) + SEP);
        EXPECT_EQ(r.err, "");
    }
}

TEST(Device, SaleCancellationAndLastFiscalSession) {
    SAT_ENTER_SANDBOX(halvex);
    Dispositivo d(halvex, {"--preset", "active", "--cancel-answer-fields", "11"});

    Resultado venda = d.roda({"EnviarDadosVenda", kCodigo, "venda.xml"});
    std::string rv = d.ultima_resposta();
    ASSERT_EQ(satcli::field(rv, 1), "06000") << rv;
    EXPECT_EQ(d.ultimo_frame(),
              "|03|" + d.sessao() + "|" + kCodigo + "|" + le(d.pasta + "/venda.xml"));
    EXPECT_EQ(venda.status, 0);
    EXPECT_EQ(venda.out, cabeca("EnviarDadosVendas") +
                             params(cod() + "       Arquivo CFe: venda.xml\n") + retorno(rv) + SEP +
                             frame_cfe("CFe", rv));
    std::string chave(satcli::field(rv, 8));
    ASSERT_EQ(chave.size(), 47u);

    Resultado ultima = d.roda({"ConsultarUltimaSessaoFiscal", kCodigo});
    std::string ru = d.ultima_resposta();
    EXPECT_EQ(satcli::field(ru, 1), "06000");
    EXPECT_EQ(ultima.out, cabeca("ConsultarUltimaSessaoFiscal") + params(cod()) + retorno(ru) +
                              frame_cfe("CFe", ru) + SEP);

    const std::string canc = "<CFeCanc><infCFe chCanc=\"" + chave +
                             "\"><ide><CNPJ>08317492000155</CNPJ><signAC>" +
                             "x</signAC><numeroCaixa>001</numeroCaixa></ide><emit/><dest/>"
                             "<total/></infCFe></CFeCanc>";
    d.arquivo("canc.xml", canc);
    Resultado cancela = d.roda({"CancelarUltimaVenda", kCodigo, "canc.xml"});
    // The device sends the older firmware's eleven fields; the library completes them to
    // twelve with an empty one before the last.
    std::string rc = d.ultima_resposta();
    ASSERT_EQ(std::count(rc.begin(), rc.end(), '|'), 10) << rc;
    rc.insert(rc.rfind('|'), "|");
    EXPECT_EQ(d.ultimo_frame(), "|04|" + d.sessao() + "|" + kCodigo + "|" + chave + "|" + canc);
    EXPECT_EQ(satcli::field(rc, 1), "07000") << rc;
    EXPECT_EQ(cancela.status, 0);
    EXPECT_EQ(cancela.out, cabeca("CancelarUltimaVenda") +
                               params("       Cod. Ativacao: " + kCodigo +
                                      "\n     Arquivo CFeCanc: canc.xml\n") +
                               retorno(rc) + SEP + frame_cfe("CFeCanc", rc));

    Resultado depois = d.roda({"ConsultarUltimaSessaoFiscal", kCodigo});
    std::string rd = d.ultima_resposta();
    EXPECT_EQ(satcli::field(rd, 1), "07000");
    EXPECT_EQ(depois.out, cabeca("ConsultarUltimaSessaoFiscal") + params(cod()) + retorno(rd) +
                              frame_cfe("CFeCanc", rd) + SEP);

    d.emu.fault("1*20:answer:{sessao}|19003|Nao existe sessao fiscal||");
    Resultado nada = d.roda({"ConsultarUltimaSessaoFiscal", kCodigo});
    std::string rn = d.ultima_resposta();
    EXPECT_EQ(nada.out, cabeca("ConsultarUltimaSessaoFiscal") + params(cod()) + retorno(rn) + SEP);
}

TEST(Device, LogExtraction) {
    SAT_ENTER_SANDBOX(halvex);
    Dispositivo d(halvex);
    const std::string fecho = std::string(49, '=') + "\n";
    const std::string salvo = TRACOS + "\nLog salvo em: log_sat.txt\n" + TRACOS + "\n\n" + fecho;
    const std::string topo = cabeca("ExtrairLogs") + params(cod());

    Resultado ok = d.roda({"ExtrairLogs", kCodigo});
    std::string r = d.ultima_resposta();
    EXPECT_EQ(d.ultimo_frame(), "|12|" + d.sessao() + "|" + kCodigo + "|3.0.0.3_x86");
    ASSERT_EQ(satcli::field(r, 1), "15000");
    EXPECT_EQ(ok.status, 0);
    EXPECT_EQ(ok.out,
              topo + "Cod Retorno: 15000|" + std::string(satcli::field(r, 2)) + "\n" + salvo);
    EXPECT_EQ(le(d.pasta + "/log_sat.txt"), decodifica(satcli::field(r, 5)));
    EXPECT_FALSE(le(d.pasta + "/log_sat.txt").empty());

    d.emu.fault("1*12:answer:{sessao}|15000|Transferencia completa||");
    Resultado sem = d.roda({"ExtrairLogs", kCodigo});
    EXPECT_EQ(sem.out, topo + "Cod Retorno: 15000|Transferencia completa\n" + salvo);
    EXPECT_EQ(le(d.pasta + "/log_sat.txt"), "");

    d.emu.fault("1*12:busy");
    Resultado ocupado = d.roda({"ExtrairLogs", kCodigo});
    std::string ro = d.ultima_resposta();
    EXPECT_EQ(ocupado.out,
              topo + "Cod Retorno: 15098|" + std::string(satcli::field(ro, 2)) + "\n" + fecho);

    Resultado errado = d.roda({"ExtrairLogs", "00000000"});
    std::string re = d.ultima_resposta();
    EXPECT_EQ(errado.status, 0);
    EXPECT_EQ(errado.out, cabeca("ExtrairLogs") + params(cod("00000000")) +
                              "Cod Retorno: " + std::string(satcli::field(re, 1)) + "|" +
                              std::string(satcli::field(re, 3)) + "\n" + fecho);

    ASSERT_EQ(unlink((d.pasta + "/log_sat.txt").c_str()), 0);
    ASSERT_EQ(mkdir((d.pasta + "/log_sat.txt").c_str(), 0755), 0);
    Resultado falha = d.roda({"ExtrairLogs", kCodigo});
    std::string rf = d.ultima_resposta();
    EXPECT_EQ(falha.status, 1);
    EXPECT_EQ(falha.err, "Erro ao criar arquivo\n");
    EXPECT_EQ(falha.out,
              topo + "Cod Retorno: 15000|" + std::string(satcli::field(rf, 2)) + "\n" + fecho);
}

TEST(Device, ActivationAssociationAndEndToEndTestFromConfig) {
    SAT_ENTER_SANDBOX(halvex);
    Dispositivo d(halvex, {"--preset", "none"});

    Resultado ativa = d.roda({"AtivarSAT", kCodigo});
    std::string ra = d.ultima_resposta();
    EXPECT_EQ(d.ultimo_frame(), "|01|" + d.sessao() + "|1|" + kCodigo + "|47291583000110|35");
    EXPECT_EQ(ativa.out, cabeca("AtivarSAT") +
                             params(cod() + "     Tipo de Certificado: AC_SAT/SEFAZ\n"
                                            "     CNPJ Contribuinte: 47291583000110\n"
                                            "     UF: 35\n") +
                             retorno(ra) + SEP);
    EXPECT_EQ(satcli::field(ra, 1), "04000") << ra;

    std::string assinatura;
    {
        std::string cfg = le(d.pasta + "/config.ini");
        std::size_t p = cfg.find("ASSINATURA_SH=") + 14;
        assinatura = cfg.substr(p, cfg.find('\n', p) - p);
    }
    Resultado associa = d.roda({"AssociarAssinatura", kCodigo});
    std::string rs = d.ultima_resposta();
    EXPECT_EQ(d.ultimo_frame(),
              "|10|" + d.sessao() + "|" + kCodigo + "|0831749200015547291583000110|" + assinatura);
    EXPECT_EQ(associa.out, cabeca("AssociarAssinatura") +
                               params(cod() + "     CNPJValue: 0831749200015547291583000110\n" +
                                      "     AssinaturaSH: " + assinatura + "\n") +
                               retorno(rs) + SEP);
    EXPECT_EQ(satcli::field(rs, 1), "13000") << rs;

    Resultado teste = d.roda({"TesteFimAFim", kCodigo});
    std::string rt = d.ultima_resposta();
    std::string xml = d.ultimo_frame().substr(4 + 6 + 1 + kCodigo.size() + 1);
    EXPECT_TRUE(xml.starts_with("<?xml version=\"1.0\" encoding=\"UTF-8\"?><CFe><infCFe "
                                "versaoDadosEnt=\"0.07\"><ide><CNPJ>08317492000155</CNPJ>"));
    EXPECT_EQ(teste.out, cabeca("TesteFimAFim") +
                             params(cod() + "     Layout: 0.07\n     CNPJ SH: 08317492000155\n" +
                                    "     AssinaturaSH: " + assinatura +
                                    "\n     CNPJ Contribuinte: 47291583000110\n"
                                    "     IE Contribuinte: 111222333444\n     XML: " +
                                    xml + "\n") +
                             retorno(rt) + SEP);
    EXPECT_EQ(satcli::field(rt, 1), "09000") << rt;
}

TEST(Device, NetworkConfigurationAndCodeChange) {
    SAT_ENTER_SANDBOX(halvex);
    Dispositivo d(halvex);
    const std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><config><tipoInter>ETHE"
                            "</tipoInter><tipoLan>DHCP</tipoLan><proxy>0</proxy></config>";
    Resultado rede = d.roda({"ConfigurarInterfaceDeRede", kCodigo});
    std::string rr = d.ultima_resposta();
    EXPECT_EQ(d.ultimo_frame(), "|09|" + d.sessao() + "|" + kCodigo + "|" + xml);
    EXPECT_EQ(rede.status, 0);
    EXPECT_EQ(rede.out, cabeca("ConfigurarInterfaceDeRede") +
                            params(cod() +
                                   "     tipoInter: ETHE\n     tipoLan: DHCP\n"
                                   "     proxy: 0 (SEM PROXY)\n"
                                   "     XML de Configuracao: " +
                                   xml + "\n") +
                            retorno(rr));

    Resultado troca = d.roda({"TrocarCodigoDeAtivacao", "87654321", "2", "11112222"});
    std::string rt = d.ultima_resposta();
    EXPECT_EQ(d.ultimo_frame(), "|15|" + d.sessao() + "|87654321|2|11112222|11112222");
    EXPECT_EQ(satcli::field(rt, 1), "18000") << rt;
    EXPECT_EQ(troca.out, cabeca("TrocarCodigoDeAtivacao") +
                             params("     Opcao: 2 - Codigo de Emergencia\n"
                                    "     Cod. Emeergencia: 87654321\n"
                                    "     Novo Codigo: 11112222\n") +
                             retorno(rt) + SEP);
    d.roda({"ConsultarStatusOperacional", "11112222"});
    EXPECT_EQ(satcli::field(d.ultima_resposta(), 1), "10000");
}

TEST(Device, UsageAndSetDriverTalkToNoDevice) {
    SAT_ENTER_SANDBOX(halvex);
    Dispositivo d(halvex);
    Resultado uso = d.roda({});
    EXPECT_EQ(uso.status, 1);
    EXPECT_TRUE(uso.out.starts_with("\nsatcli - Versao: 3.0.0.5 - Torvane Informatica\n"));
    EXPECT_NE(uso.out.find("   ConsultarUltimaSessaoFiscal codigoDeAtivacao\n"), std::string::npos)
        << "the real library has both optional functions";
    Resultado r = d.roda({"SetDriver", "DEBUG", "true"});
    EXPECT_EQ(r.status, 0);
    // The library prints its own line for every setting, after satcli's lines.
    EXPECT_EQ(r.out, cabeca("SetDriver") + params("     Parametro: DEBUG\n         Valor: true\n") +
                         "Parametro: |DEBUG| - Valor: |true|\n" + retorno("OK") + SEP);
    EXPECT_TRUE(d.emu.frames().empty());
}
