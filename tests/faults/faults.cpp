#include "faults.h"
#include "fields.h"

#include <dirent.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "sandbox.h"
#include "sat.h"

namespace faults {

namespace {

char* text(Texts& t, std::string& s) {
    return t.null ? nullptr : s.data();
}

std::string copy(const char* answer) {
    return answer ? std::string(answer) : std::string("(null)");
}

} // namespace

const std::vector<Function>& functions() {
    static const std::vector<Function> table = {
        {"AtivarSAT", "01", "04", Kind::Single,
         [](int s, Texts& t) { return copy(AtivarSAT(s, 1, text(t, t.code), text(t, t.a), 35)); }},
        {"ComunicarCertificadoICPBRASIL", "02", "05", Kind::Single,
         [](int s, Texts& t) {
             return copy(ComunicarCertificadoICPBRASIL(s, text(t, t.code), text(t, t.a)));
         }},
        {"EnviarDadosVenda", "03", "06", Kind::Fiscal,
         [](int s, Texts& t) { return copy(EnviarDadosVenda(s, text(t, t.code), text(t, t.a))); }},
        {"CancelarUltimaVenda", "04", "07", Kind::Fiscal,
         [](int s, Texts& t) {
             return copy(CancelarUltimaVenda(s, text(t, t.code), text(t, t.a), text(t, t.b)));
         }},
        {"ConsultarSAT", "05", "08", Kind::Single,
         [](int s, Texts&) { return copy(ConsultarSAT(s)); }},
        {"TesteFimAFim", "06", "09", Kind::Single,
         [](int s, Texts& t) { return copy(TesteFimAFim(s, text(t, t.code), text(t, t.a))); }},
        {"ConsultarStatusOperacional", "07", "10", Kind::Single,
         [](int s, Texts& t) { return copy(ConsultarStatusOperacional(s, text(t, t.code))); }},
        {"ConsultarNumeroSessao", "08", "11", Kind::Query,
         [](int s, Texts& t) { return copy(ConsultarNumeroSessao(s, text(t, t.code), s)); }},
        {"ConfigurarInterfaceDeRede", "09", "12", Kind::Single,
         [](int s, Texts& t) {
             return copy(ConfigurarInterfaceDeRede(s, text(t, t.code), text(t, t.a)));
         }},
        {"AssociarAssinatura", "10", "13", Kind::Single,
         [](int s, Texts& t) {
             return copy(AssociarAssinatura(s, text(t, t.code), text(t, t.a), text(t, t.b)));
         }},
        {"AtualizarSoftwareSAT", "11", "14", Kind::Single,
         [](int s, Texts& t) { return copy(AtualizarSoftwareSAT(s, text(t, t.code))); }},
        {"ExtrairLogs", "12", "15", Kind::Single,
         [](int s, Texts& t) { return copy(ExtrairLogs(s, text(t, t.code))); }},
        {"BloquearSAT", "13", "16", Kind::Single,
         [](int s, Texts& t) { return copy(BloquearSAT(s, text(t, t.code))); }},
        {"DesbloquearSAT", "14", "17", Kind::Single,
         [](int s, Texts& t) { return copy(DesbloquearSAT(s, text(t, t.code))); }},
        {"TrocarCodigoDeAtivacao", "15", "18", Kind::Single,
         [](int s, Texts& t) {
             return copy(TrocarCodigoDeAtivacao(s, text(t, t.code), 1, text(t, t.a), text(t, t.b)));
         }},
        {"ConsultarUltimaSessaoFiscal", "20", "19", Kind::Query,
         [](int s, Texts& t) { return copy(ConsultarUltimaSessaoFiscal(s, text(t, t.code))); }},
    };
    return table;
}

const Function* function(const std::string& name) {
    for (const Function& f : functions())
        if (name == f.name) return &f;
    return nullptr;
}

std::string read_source_file(const std::string& relative) {
    std::ifstream in(std::string(TORVANE_SOURCE_DIR) + "/" + relative, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string sale_document() {
    static const std::string doc = read_source_file("examples/venda.xml");
    return doc;
}

Texts default_texts(const Function& f) {
    Texts t;
    const std::string name = f.name;
    if (name == "AtivarSAT") t.a = "47291583000110";
    if (name == "ComunicarCertificadoICPBRASIL") t.a = "MIIBCERTIFICADO";
    if (name == "EnviarDadosVenda" || name == "TesteFimAFim") t.a = sale_document();
    if (name == "CancelarUltimaVenda") {
        t.a = "CFe35261247291583000110599000000010001231234560";
        t.b = "<CFeCanc><infCFe chCanc=\"" + t.a +
              "\"><ide><CNPJ>08317492000155</CNPJ><signAC>x</signAC><numeroCaixa>001"
              "</numeroCaixa></ide><emit/><dest/><total/></infCFe></CFeCanc>";
    }
    if (name == "ConfigurarInterfaceDeRede")
        t.a = "<?xml version=\"1.0\"?><config><tipoInter>ETHE</tipoInter><tipoLan>DHCP</tipoLan>"
              "</config>";
    if (name == "AssociarAssinatura") {
        t.a = "0831749200015547291583000110";
        t.b = "assinatura";
    }
    if (name == "TrocarCodigoDeAtivacao") t.a = t.b = "12345678";
    return t;
}

std::string busy_answer(const Function& f, int session) {
    char head[32];
    std::snprintf(head, sizeof head, "%06d|%s098|", session, f.family);
    return std::string(head) + (f.kind == Kind::Fiscal ? "0000|" : "") +
           "SAT em processamento. Tente novamente.||";
}

std::vector<std::string> split(const std::string& text, char sep) {
    return testsupport::split_fields(text, sep);
}

std::string field(const std::string& text, size_t i) {
    auto f = split(text);
    return i < f.size() ? f[i] : std::string();
}

int open_descriptors() {
    DIR* d = opendir("/proc/self/fd");
    if (!d) return -1;
    int n = 0;
    while (dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n - 1; // the directory's own descriptor
}

std::string settings(const std::string& serial, int attempts, int pause, int seconds,
                     const std::string& extra) {
    char t[8];
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

bool enter_sandbox(const std::string& halvex, std::string& why) {
    if (!testsupport::enter_halvex_sandbox(halvex, why)) return false;
    const std::string shm = halvex + "/shm";
    if (mkdir(shm.c_str(), 0755) != 0 && errno != EEXIST) {
        why = "mkdir " + shm;
        return false;
    }
    if (mount(shm.c_str(), "/dev/shm", nullptr, MS_BIND, nullptr) != 0) {
        why = std::string("bind mount on /dev/shm: ") + std::strerror(errno);
        return false;
    }
    return true;
}

void drop_file_capabilities() {
    __user_cap_header_struct head{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    syscall(SYS_capget, &head, data);
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) {
        prctl(PR_CAPBSET_DROP, cap, 0, 0, 0);
        data[cap / 32].effective &= ~(1u << (cap % 32));
        data[cap / 32].permitted &= ~(1u << (cap % 32));
        data[cap / 32].inheritable &= ~(1u << (cap % 32));
    }
    syscall(SYS_capset, &head, data);
}

} // namespace faults
