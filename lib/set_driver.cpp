// SetDriver: run-time settings of the library, by keyword.
#include "sat_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Results are constant texts; the exported type is char* for the SAT standard's
// sake, and callers never write through it.
char kOk[] = "OK";
char kErro[] = "ERRO";
char kFalha[] = "FALHA";
char kVersao[] = "3.0.0.3_x86";

char* set_serial(const char* value) {
    const std::size_t prefix = sat::starts_with(value, "/dev/") ? 0 : 5;
    const std::size_t length = std::strlen(value);
    // Empty, or too long for SAT_SERIAL with its "/dev/": the path stays as it was.
    if (length == 0 || prefix + length >= sizeof SAT_SERIAL) {
        sat::log("Erro ao tentar configurar Interface via comando SetDriver", " ");
        return kErro;
    }
    std::memcpy(SAT_SERIAL, "/dev/", prefix);
    std::memcpy(SAT_SERIAL + prefix, value, length + 1);
    sat::log("Interface configurada via comando SetSAT: ", SAT_SERIAL);
    return kOk;
}

char* set_attempts(const char* value) {
    if (std::strlen(value) != 2) {
        NumTent = 1;
        sat::log("(SetDriver)N_TENT: valor inválido", " ");
        return kErro;
    }
    int n = std::atoi(value);
    if (n <= 0) {
        NumTent = 1;
        sat::log("(SetDriver)Num. de tentativas de transmissão de cupons redefinido para valor "
                 "mínimo: 1",
                 " ");
        return kErro;
    }
    NumTent = n;
    sat::log("(SetDriver)Num. de tentativas de transmissão de cupons redefinido para: ", value);
    return kOk;
}

char* set_pause(const char* value) {
    if (std::strlen(value) != 2) {
        TmpTent = 6;
        sat::log("(SetDriver)TMP_TENT: valor inválido", " ");
        return kErro;
    }
    int n = std::atoi(value);
    if (n <= 2) {
        TmpTent = 3;
        sat::log("(SetDriver)Tempo entre tentativas de transmissão de cupons redefinido para "
                 "valor mínimo: 3",
                 " ");
        return kErro;
    }
    TmpTent = n;
    sat::log("(SetDriver)Tempo entre tentativas de transmissão de cupons redefinido para: ", value);
    return kOk;
}

bool keyword(const char* parameter, const char* word, std::size_t compared) {
    return std::strncmp(parameter, word, compared) == 0;
}

} // namespace

extern "C" SAT_API char* SetDriver(char* parameter, char* value) noexcept {
    const char* p = parameter ? parameter : "";
    const char* v = value ? value : "";
    if (SAT_SERIAL[0] == '\0') init_lib();
    // Printed on every call, whatever NO_POPUP says.
    std::printf("Parametro: |%s| - Valor: |%s|\n", p, v);
    const bool on = sat::is_true(v);

    if (keyword(p, "DISCOVER", 8)) {
        sat::log("Funcao DISCOVER nao implementada no comando SetDriver", " ");
        return kFalha;
    }
    if (keyword(p, "SERIAL", 6)) return set_serial(v);
    if (keyword(p, "NO_POPUP", 8)) {
        if (on) {
            std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "%s", "true");
            sat::log("Mensagens Popup desativadas via comando SetDriver", " ");
        } else {
            sat::log("Mensagens Popup ativadas via comando SetDriver", " ");
            std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "%s", "false");
        }
        return kOk;
    }
    if (keyword(p, "LOCK", 4)) {
        if (on) {
            ModoLock = 1;
            sat::log("Lock das funções ativado via comando SetDriver", " ");
        } else {
            sat::log("Lock das funções desativado via comando SetDriver", " ");
            ModoLock = 0;
        }
        return kOk;
    }
    if (keyword(p, "RET_10001", 4)) {
        if (on) {
            Ret10001 = 1;
            sat::log("Retorno 10099->10001 ativado via comando SetDriver", " ");
        } else {
            sat::log("Retorno 10099->10001 desativado via comando SetDriver", " ");
            Ret10001 = 0;
        }
        return kOk;
    }
    if (keyword(p, "DEBUG", 5)) {
        // Switching on logs its own line; switching off logs only if it was on.
        if (on) {
            ModoDebug = 1;
            sat::log("Debug ativado via comando SetDriver", " ");
        } else {
            sat::log("Debug desativado via comando SetDriver", " ");
            ModoDebug = 0;
        }
        return kOk;
    }
    if (keyword(p, "N_TENT", 6)) return set_attempts(v);
    if (keyword(p, "TMP_TENT", 7)) return set_pause(v);
    if (keyword(p, "VERSAO", 6)) {
        sat::log("(SetDriver)Informada versão da DLL via comando SetDriver: ", sat::kVersion);
        return kVersao;
    }
    sat::log("Funcao nao implementada no comando SetDriver", " ");
    return kFalha;
}
