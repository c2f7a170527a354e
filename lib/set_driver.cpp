// SetDriver: run-time settings of the library, by keyword.
#include "sat_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Results are constant texts; the exported type is char* for the SAT standard's
// sake, and callers never write through it.
char kOk[] = "OK";
char kError[] = "ERRO";
char kFailure[] = "FALHA";
char kVersion[] = "3.0.0.3_x86";

char* set_serial(const char* value) {
    // Empty, or too long for SAT_SERIAL with its "/dev/": the path stays as it was.
    if (*value == '\0' || !sat::serial_path(value, SAT_SERIAL, sizeof SAT_SERIAL)) {
        sat::log("Erro ao tentar configurar Interface via comando SetDriver", " ");
        return kError;
    }
    sat::log("Interface configurada via comando SetSAT: ", SAT_SERIAL);
    return kOk;
}

// N_TENT and TMP_TENT: a number of exactly two characters, refused at or below
// `floor` (the setting then takes `floor_value`).
struct Count {
    int* setting;
    int invalid_value; // after a value that is not two characters
    const char* invalid_log;
    int floor;
    int floor_value;
    const char* floor_log;
    const char* set_log; // followed by the value
};

constexpr Count kAttempts{
    &NumTent,
    1,
    "(SetDriver)N_TENT: valor inválido",
    0,
    1,
    "(SetDriver)Num. de tentativas de transmissão de cupons redefinido para valor mínimo: 1",
    "(SetDriver)Num. de tentativas de transmissão de cupons redefinido para: "};

constexpr Count kPause{
    &TmpTent,
    6,
    "(SetDriver)TMP_TENT: valor inválido",
    2,
    3,
    "(SetDriver)Tempo entre tentativas de transmissão de cupons redefinido para valor mínimo: 3",
    "(SetDriver)Tempo entre tentativas de transmissão de cupons redefinido para: "};

char* set_count(const Count& c, const char* value) {
    if (std::strlen(value) != 2) {
        *c.setting = c.invalid_value;
        sat::log(c.invalid_log, " ");
        return kError;
    }
    const int n = std::atoi(value);
    if (n <= c.floor) {
        *c.setting = c.floor_value;
        sat::log(c.floor_log, " ");
        return kError;
    }
    *c.setting = n;
    sat::log(c.set_log, value);
    return kOk;
}

// A keyword that switches a setting on ("true...") or off (anything else). On:
// set, then log; off: log, then set, so that switching DEBUG off still logs.
struct Switch {
    void (*set)(bool on);
    const char* on_log;
    const char* off_log;
};

constexpr Switch kNoPopup{
    [](bool on) { std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "%s", on ? "true" : "false"); },
    "Mensagens Popup desativadas via comando SetDriver",
    "Mensagens Popup ativadas via comando SetDriver"};
constexpr Switch kLock{[](bool on) { ModoLock = on ? 1 : 0; },
                       "Lock das funções ativado via comando SetDriver",
                       "Lock das funções desativado via comando SetDriver"};
constexpr Switch kRet10001{[](bool on) { Ret10001 = on ? 1 : 0; },
                           "Retorno 10099->10001 ativado via comando SetDriver",
                           "Retorno 10099->10001 desativado via comando SetDriver"};
constexpr Switch kDebug{[](bool on) { ModoDebug = on ? 1 : 0; },
                        "Debug ativado via comando SetDriver",
                        "Debug desativado via comando SetDriver"};

char* apply(const Switch& s, const char* value) {
    if (sat::is_true(value)) {
        s.set(true);
        sat::log(s.on_log, " ");
    } else {
        sat::log(s.off_log, " ");
        s.set(false);
    }
    return kOk;
}

char* discover(const char*) {
    sat::log("Funcao DISCOVER nao implementada no comando SetDriver", " ");
    return kFailure;
}

char* version(const char*) {
    sat::log("(SetDriver)Informada versão da DLL via comando SetDriver: ", sat::kVersion);
    return kVersion;
}

// The keywords, compared on their first `compared` characters, in the order they
// are tried ("RET_10001" on four: any "RET_" parameter).
struct Keyword {
    const char* word;
    std::size_t compared;
    char* (*run)(const char* value);
};

constexpr Keyword kKeywords[] = {
    {"DISCOVER", 8, discover},
    {"SERIAL", 6, set_serial},
    {"NO_POPUP", 8, [](const char* v) { return apply(kNoPopup, v); }},
    {"LOCK", 4, [](const char* v) { return apply(kLock, v); }},
    {"RET_10001", 4, [](const char* v) { return apply(kRet10001, v); }},
    {"DEBUG", 5, [](const char* v) { return apply(kDebug, v); }},
    {"N_TENT", 6, [](const char* v) { return set_count(kAttempts, v); }},
    {"TMP_TENT", 7, [](const char* v) { return set_count(kPause, v); }},
    {"VERSAO", 6, version},
};

} // namespace

extern "C" SAT_API char* SetDriver(char* parameter, char* value) noexcept {
    const char* p = parameter ? parameter : "";
    const char* v = value ? value : "";
    sat::start_library();
    // Printed on every call, whatever NO_POPUP says.
    std::printf("Parametro: |%s| - Valor: |%s|\n", p, v);
    for (const Keyword& k : kKeywords)
        if (std::strncmp(p, k.word, k.compared) == 0) return k.run(v);
    sat::log("Funcao nao implementada no comando SetDriver", " ");
    return kFailure;
}
