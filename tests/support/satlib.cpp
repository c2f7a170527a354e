#include "satlib.h"

#include <dirent.h>

#include "sat.h"

extern "C" int init_lib(void);

namespace testsupport {

namespace {

std::string copy(const char* answer) {
    return answer ? std::string(answer) : std::string("(null)");
}

} // namespace

// C, A and B: the code and the two texts of a call, or null pointers.
#define C (t.null ? nullptr : t.code.data())
#define A (t.null ? nullptr : t.a.data())
#define B (t.null ? nullptr : t.b.data())
// clang-format off
#define ROW(fn, code, family, kind, frame, a, b, ...)                                              \
    Function{#fn, code, family, Kind::kind, frame, a, b,                                           \
             [](int s, [[maybe_unused]] Texts& t) { return copy(fn(__VA_ARGS__)); }}
// clang-format on
constexpr const char* kKey = "CFe35261247291583000110599000000010001231234560";

const std::vector<Function>& functions() {
    static const std::vector<Function> table = {
        ROW(AtivarSAT, "01", "04", Single, "|1|C|A|35", "47291583000110", "", s, 1, C, A, 35),
        ROW(ComunicarCertificadoICPBRASIL, "02", "05", Single, "|C|A", "MIIBCERTIFICADO", "", s, C,
            A),
        ROW(EnviarDadosVenda, "03", "06", Fiscal, "|C|A", "<sale>", "", s, C, A),
        ROW(CancelarUltimaVenda, "04", "07", Fiscal, "|C|A|B", kKey, "<cancel>", s, C, A, B),
        ROW(ConsultarSAT, "05", "08", Single, "", "", "", s),
        ROW(TesteFimAFim, "06", "09", Single, "|C|A", "<sale>", "", s, C, A),
        ROW(ConsultarStatusOperacional, "07", "10", Single, "|C", "", "", s, C),
        ROW(ConsultarNumeroSessao, "08", "11", Query, "|C|S", "", "", s, C, s),
        ROW(ConfigurarInterfaceDeRede, "09", "12", Single, "|C|A",
            "<config><tipoInter>ETHE</tipoInter><tipoLan>DHCP</tipoLan></config>", "", s, C, A),
        ROW(AssociarAssinatura, "10", "13", Single, "|C|A|B", "0831749200015547291583000110",
            "assinatura", s, C, A, B),
        ROW(AtualizarSoftwareSAT, "11", "14", Single, "|C", "", "", s, C),
        ROW(ExtrairLogs, "12", "15", Single, "|C|3.0.0.3_x86", "", "", s, C),
        ROW(BloquearSAT, "13", "16", Single, "|C", "", "", s, C),
        ROW(DesbloquearSAT, "14", "17", Single, "|C", "", "", s, C),
        ROW(TrocarCodigoDeAtivacao, "15", "18", Single, "|C|1|A|B", kCode, kCode, s, C, 1, A, B),
        ROW(ConsultarUltimaSessaoFiscal, "20", "19", Query, "|C", "", "", s, C),
    };
    return table;
}

Texts default_texts(const Function& f) {
    Texts t;
    t.a = f.a == std::string("<sale>") ? sale_document() : f.a;
    t.b = f.b == std::string("<cancel>") ? cancel_document(t.a) : f.b;
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
    char t[16];
    std::snprintf(t, sizeof t, "00:%02d", seconds);
    std::string ini = "[DEFAULT]\n" + extra + "SERIAL=" + serial +
                      "\nNO_POPUP=true\nN_TENT=" + std::to_string(attempts) +
                      "\nTMP_TENT=" + std::to_string(pause) + "\n[TIMEOUT]\n";
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
