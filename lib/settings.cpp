// Start-up of the library and the settings file /var/torvane_halvex/sat.ini.
#include "sat_internal.h"

#include "ini.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct TextSetting {
    char* target;
    std::size_t size;
    const char* builtin;
};

// Built-in texts, put in place by every run of init_lib.
const TextSetting kTextSettings[] = {
    {SAT_SERIAL, sizeof SAT_SERIAL, sat::kDefaultSerial},
    {SAT_DEBUG, sizeof SAT_DEBUG, "false"},
    {SAT_NOPOPUP, sizeof SAT_NOPOPUP, "true"},
    {SAT_CORRECAO, sizeof SAT_CORRECAO, "false"},
    {SAT_LOCK, sizeof SAT_LOCK, "true"},
    {SAT_RET_10001, sizeof SAT_RET_10001, "false"},
};

struct TimeoutKey {
    const char* key;
    int* pair;
    const char* message;
};

// In the order in which the file is read and logged.
const TimeoutKey kTimeoutKeys[] = {
    {"T_ATIVAR_SAT", T_Ativ, "Timeout_AtivarSAT redefinido para: "},
    {"T_COMUNICAR_CERTIFICADO_ICPBRASIL", T_ICP,
     "Timeout_ComunicarCertificadoICPBRASIL redefinido para: "},
    {"T_ENVIAR_DADOS_VENDA", T_Venda, "Timeout_EnviarDadosVenda redefinido para: "},
    {"T_CANCELAR_ULTIMA_VENDA", T_Canc, "Timeout_CancelarUltimaVenda redefinido para: "},
    {"T_CONSULTAR_SAT", T_Cons, "Timeout_ConsultarSAT redefinido para: "},
    {"T_TESTE_FIM_A_FIM", T_Fim, "Timeout_TesteFimAFim redefinido para: "},
    {"T_CONSULTAR_STATUS_OPERACIONAL", T_Stat,
     "Timeout_ConsultarStatusOperacional redefinido para: "},
    {"T_CONSULTAR_NUMERO_SESSAO", T_Sessao, "Timeout_ConsultarNumeroSessao redefinido para: "},
    {"T_CONSULTAR_ULTIMA_SESSAO_FISCAL", T_SessaoFiscal,
     "Timeout_ConsultarUltimaSessaoFiscal redefinido para: "},
    {"T_CONFIGURAR_INTERFACE_DE_REDE", T_Rede,
     "Timeout_ConfigurarInterfacceDeRede redefinido para: "},
    {"T_ASSOCIAR_ASSINATURA", T_Assoc, "Timeout_AssociarAssinatura redefinido para: "},
    {"T_ATUALIZAR_SOFTWARE_SAT", T_Atual, "Timeout_AtualizarSoftwareSAT redefinido para: "},
    {"T_EXTRAIR_LOGS", T_Logs, "Timeout_ExtrairLogs redefinido para: "},
    {"T_BLOQUEAR_SAT", T_Bloq, "Timeout_BloquearSAT redefinido para: "},
    {"T_DESBLOQUEAR_SAT", T_Desbloq, "Timeout_DesbloquearSAT redefinido para: "},
    {"T_TROCAR_CODIGO_DE_ATIVACAO", T_CodAtiv, "Timeout_TrocarCodigoDeAtivacao redefinido para: "},
};

void copy_text(char* target, std::size_t size, const char* text) {
    std::snprintf(target, size, "%s", text);
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// N_TENT and TMP_TENT count only as one or two decimal digits.
bool one_or_two_digits(const char* text) {
    std::size_t n = std::strlen(text);
    return (n == 1 || n == 2) && is_digit(text[0]) && (n == 1 || is_digit(text[1]));
}

// Reads a [DEFAULT] key into `target` with `fallback` when absent. The limit counts
// the NUL: the flag keys keep at most five characters ("false").
void read_default(const char* key, const char* fallback, char* target, int size = 6) {
    ini_gets("DEFAULT", key, fallback, target, size, sat::kIniPath);
}

void read_serial() {
    // "/dev/" in front can make the path longer than SAT_SERIAL holds; a cut path
    // would open another device, so the built-in path stays.
    if (!sat::configured_serial(SAT_SERIAL, sizeof SAT_SERIAL))
        sat::log("Interface do arquivo ini muito longa, mantida: ", SAT_SERIAL);
}

void read_attempts() {
    char value[6];
    read_default("N_TENT", " ", value);
    if (one_or_two_digits(value)) {
        int n = std::atoi(value);
        if (n > 0) {
            NumTent = n;
            sat::log("Num. de tentativas de transmissao de cupons redefinido para: ", value);
        } else {
            NumTent = 1;
            sat::log("Num. de tentativas de transmissao cupons redefinido para valor minimo: ",
                     "1");
        }
    }
    read_default("TMP_TENT", " ", value);
    if (one_or_two_digits(value)) {
        int n = std::atoi(value);
        if (n > 2) {
            TmpTent = n;
            sat::log("Tempo entre tentativas de transmissao de cupons redefinido para (em "
                     "segundos): ",
                     value);
        } else {
            TmpTent = 3;
            sat::log("Tempo entre tentativas de transmissao de cupons redefinido para valor "
                     "minimo (em segundos): ",
                     "3");
        }
    }
}

// [TIMEOUT] counts only as the first or the second section, named in upper case.
bool timeout_section_present() {
    for (int index = 0; index < 2; ++index) {
        char name[10];
        if (ini_getsection(index, name, sizeof name, sat::kIniPath) > 0 &&
            std::strncmp(name, "TIMEOUT", 7) == 0)
            return true;
    }
    return false;
}

void read_timeouts() {
    if (!timeout_section_present()) return;
    sat::log("Definicao de novos timeouts presente.", " ");
    for (const TimeoutKey& t : kTimeoutKeys) {
        char value[30];
        ini_gets("TIMEOUT", t.key, " ", value, sizeof value, sat::kIniPath);
        if (std::strlen(value) != 5 || valida_TOUT(value) != 1) continue;
        t.pair[0] = std::atoi(sMM);
        t.pair[1] = std::atoi(sSS);
        sat::log(t.message, value);
    }
}

void read_settings_file() {
    read_default("DEBUG", "false", SAT_DEBUG);
    ModoDebug = sat::is_true(SAT_DEBUG) ? 1 : 0;
    read_serial();
    read_default("NO_POPUP", "true", SAT_NOPOPUP);
    read_default("CORRECAO", "false", SAT_CORRECAO);
    Corrigir = sat::is_true(SAT_CORRECAO) ? 1 : 0;
    read_default("LOCK", "true", SAT_LOCK);
    ModoLock = sat::is_true(SAT_LOCK) ? 1 : 0;
    read_default("RET_10001", "false", SAT_RET_10001);
    Ret10001 = sat::is_true(SAT_RET_10001) ? 1 : 0;

    sat::log("Arquivo \"ini\" esta presente. Modo debug ativado", " ");
    sat::log("Versao da lib: ", sat::kVersion);
    sat::log("Utilizando interface: ", SAT_SERIAL);
    sat::log(sat::starts_with(SAT_NOPOPUP, "true") ? "Mensagens Popup desativadas"
                                                   : "Mensagens Popup ativadas",
             " ");
    sat::log(Corrigir ? "Correcao de caracteres escapados ativada"
                      : "Correcao de caracteres escapados desativada",
             " ");
    sat::log(ModoLock ? "Lock das funcoes ativada" : "Lock das funcoes desativada", " ");
    sat::log(Ret10001 ? "Retorno 10099->10001 ativado" : "Retorno 10099->10001 desativado", " ");

    read_attempts();
    read_timeouts();
}

} // namespace

extern "C" {

SAT_API int init_lib(void) noexcept {
    for (const TextSetting& s : kTextSettings)
        copy_text(s.target, s.size, s.builtin);
    if (file_existe(sat::kIniPath) != 1) return 0;
    read_settings_file();
    return 0;
}

SAT_API int valida_TOUT(const char* texto) noexcept {
    if (!texto) return 0;
    // Positions 0, 1, 3 and 4 digits, 2 the colon; the first failure ends the test.
    for (int i = 0; i < 5; ++i) {
        bool ok = i == 2 ? texto[i] == ':' : is_digit(texto[i]);
        if (!ok) return 0;
    }
    sMM[0] = texto[0];
    sMM[1] = texto[1];
    sMM[2] = '\0';
    sSS[0] = texto[3];
    sSS[1] = texto[4];
    sSS[2] = '\0';
    return 1;
}

} // extern "C"

namespace sat {

void start_library() noexcept {
    if (SAT_SERIAL[0] == '\0') init_lib();
}

bool serial_path(const char* value, char* out, std::size_t size) noexcept {
    const char* prefix = starts_with(value, "/dev/") ? "" : "/dev/";
    if (std::strlen(prefix) + std::strlen(value) >= size) return false;
    std::snprintf(out, size, "%s%s", prefix, value);
    return true;
}

bool configured_serial(char* out, std::size_t size) noexcept {
    char value[30];
    ini_gets("DEFAULT", "SERIAL", kDefaultSerial, value, sizeof value, kIniPath);
    return serial_path(value, out, size);
}

} // namespace sat
