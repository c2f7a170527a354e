#include "satlib.h"

#include <dirent.h>

#include "sat.h"

extern "C" int init_lib(void);

namespace testsupport {

namespace {

char* text(Texts& t, std::string& s) {
    return t.null ? nullptr : s.data();
}

std::string copy(const char* answer) {
    return answer ? std::string(answer) : std::string("(null)");
}

} // namespace

const std::vector<Function>& functions() {
    using T = Texts;
    static const std::vector<Function> table = {
        {"AtivarSAT", "01", "04", Kind::Single,
         [](int s, T& t) { return copy(AtivarSAT(s, 1, text(t, t.code), text(t, t.a), 35)); }},
        {"ComunicarCertificadoICPBRASIL", "02", "05", Kind::Single,
         [](int s, T& t) {
             return copy(ComunicarCertificadoICPBRASIL(s, text(t, t.code), text(t, t.a)));
         }},
        {"EnviarDadosVenda", "03", "06", Kind::Fiscal,
         [](int s, T& t) { return copy(EnviarDadosVenda(s, text(t, t.code), text(t, t.a))); }},
        {"CancelarUltimaVenda", "04", "07", Kind::Fiscal,
         [](int s, T& t) {
             return copy(CancelarUltimaVenda(s, text(t, t.code), text(t, t.a), text(t, t.b)));
         }},
        {"ConsultarSAT", "05", "08", Kind::Single, [](int s, T&) { return copy(ConsultarSAT(s)); }},
        {"TesteFimAFim", "06", "09", Kind::Single,
         [](int s, T& t) { return copy(TesteFimAFim(s, text(t, t.code), text(t, t.a))); }},
        {"ConsultarStatusOperacional", "07", "10", Kind::Single,
         [](int s, T& t) { return copy(ConsultarStatusOperacional(s, text(t, t.code))); }},
        {"ConsultarNumeroSessao", "08", "11", Kind::Query,
         [](int s, T& t) { return copy(ConsultarNumeroSessao(s, text(t, t.code), s)); }},
        {"ConfigurarInterfaceDeRede", "09", "12", Kind::Single,
         [](int s, T& t) {
             return copy(ConfigurarInterfaceDeRede(s, text(t, t.code), text(t, t.a)));
         }},
        {"AssociarAssinatura", "10", "13", Kind::Single,
         [](int s, T& t) {
             return copy(AssociarAssinatura(s, text(t, t.code), text(t, t.a), text(t, t.b)));
         }},
        {"AtualizarSoftwareSAT", "11", "14", Kind::Single,
         [](int s, T& t) { return copy(AtualizarSoftwareSAT(s, text(t, t.code))); }},
        {"ExtrairLogs", "12", "15", Kind::Single,
         [](int s, T& t) { return copy(ExtrairLogs(s, text(t, t.code))); }},
        {"BloquearSAT", "13", "16", Kind::Single,
         [](int s, T& t) { return copy(BloquearSAT(s, text(t, t.code))); }},
        {"DesbloquearSAT", "14", "17", Kind::Single,
         [](int s, T& t) { return copy(DesbloquearSAT(s, text(t, t.code))); }},
        {"TrocarCodigoDeAtivacao", "15", "18", Kind::Single,
         [](int s, T& t) {
             return copy(TrocarCodigoDeAtivacao(s, text(t, t.code), 1, text(t, t.a), text(t, t.b)));
         }},
        {"ConsultarUltimaSessaoFiscal", "20", "19", Kind::Query,
         [](int s, T& t) { return copy(ConsultarUltimaSessaoFiscal(s, text(t, t.code))); }},
    };
    return table;
}

std::string sale_document() {
    static const std::string doc = read_file(TORVANE_SOURCE_DIR "/examples/venda.xml");
    return doc;
}

std::string cancel_document(const std::string& key) {
    return "<CFeCanc><infCFe chCanc=\"" + key +
           "\"><ide><CNPJ>08317492000155</CNPJ><signAC>x</signAC><numeroCaixa>001</numeroCaixa>"
           "</ide><emit/><dest/><total/></infCFe></CFeCanc>";
}

Texts default_texts(const Function& f) {
    Texts t;
    const std::string name = f.name;
    if (name == "AtivarSAT") t.a = "47291583000110";
    if (name == "ComunicarCertificadoICPBRASIL") t.a = "MIIBCERTIFICADO";
    if (name == "EnviarDadosVenda" || name == "TesteFimAFim") t.a = sale_document();
    if (name == "CancelarUltimaVenda") {
        t.a = "CFe35261247291583000110599000000010001231234560";
        t.b = cancel_document(t.a);
    }
    if (name == "ConfigurarInterfaceDeRede")
        t.a = "<config><tipoInter>ETHE</tipoInter><tipoLan>DHCP</tipoLan></config>";
    if (name == "AssociarAssinatura") {
        t.a = "0831749200015547291583000110";
        t.b = "assinatura";
    }
    if (name == "TrocarCodigoDeAtivacao") t.a = t.b = kCode;
    return t;
}

std::string busy_answer(const Function& f, int session) {
    char head[32];
    std::snprintf(head, sizeof head, "%06d|%s098|", session, f.family);
    return std::string(head) + (f.kind == Kind::Fiscal ? "0000|" : "") +
           "SAT em processamento. Tente novamente.||";
}

int open_descriptors() {
    DIR* d = opendir("/proc/self/fd");
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        n += e->d_name[0] != '.';
    closedir(d);
    return n - 1; // the directory's own descriptor
}

std::string settings(const std::string& serial, int attempts, int pause, int seconds,
                     const std::string& extra) {
    char t[8];
    std::snprintf(t, sizeof t, "00:%02d", seconds);
    std::string ini = "[DEFAULT]\n" + extra + "SERIAL=" + serial + "\nNO_POPUP=true\nN_TENT=" +
                      std::to_string(attempts) + "\nTMP_TENT=" + std::to_string(pause) +
                      "\n[TIMEOUT]\n";
    for (const char* key :
         {"T_ATIVAR_SAT", "T_COMUNICAR_CERTIFICADO_ICPBRASIL", "T_ENVIAR_DADOS_VENDA",
          "T_CANCELAR_ULTIMA_VENDA", "T_CONSULTAR_SAT", "T_TESTE_FIM_A_FIM",
          "T_CONSULTAR_STATUS_OPERACIONAL", "T_CONSULTAR_NUMERO_SESSAO",
          "T_CONSULTAR_ULTIMA_SESSAO_FISCAL", "T_CONFIGURAR_INTERFACE_DE_REDE",
          "T_ASSOCIAR_ASSINATURA", "T_ATUALIZAR_SOFTWARE_SAT", "T_EXTRAIR_LOGS", "T_BLOQUEAR_SAT",
          "T_DESBLOQUEAR_SAT", "T_TROCAR_CODIGO_DE_ATIVACAO"})
        ini += std::string(key) + "=" + t + "\n";
    return ini;
}

std::string set_driver(const std::string& parameter, const std::string& value) {
    return SetDriver(const_cast<char*>(parameter.c_str()), const_cast<char*>(value.c_str()));
}

void LibTest::SetUp() {
    SAT_ENTER_SANDBOX(dir);
    halvex = dir;
}

void LibTest::start(int attempts, const std::string& extra, std::vector<std::string> emu_args,
                    bool init, int seconds) {
    emu_args.insert(emu_args.end(), {"--link", kLine});
    emu = std::make_unique<Emulator>(emu_args);
    ASSERT_FALSE(emu->device().empty());
    ASSERT_TRUE(write_file(halvex + "/sat.ini",
                           settings(kLine, attempts, 3, seconds, extra + "DEBUG=true\n")));
    if (init) init_lib();
}

} // namespace testsupport
