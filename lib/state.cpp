// Library state services: diagnostic log, console messages, call lock and the
// small exported helpers (file_existe, timestamp, IntToStr).
#include "sat_internal.h"

#include "ini.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace sat {

bool starts_with(const char* text, const char* prefix) noexcept {
    if (!text) text = "";
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

bool console_on() noexcept {
    return starts_with(SAT_NOPOPUP, "false");
}

void console(const char* format, ...) noexcept {
    if (!console_on()) return;
    va_list args;
    va_start(args, format);
    std::vprintf(format, args);
    va_end(args);
}

void log(const char* mensagem, const char* detalhe) noexcept {
    if (ModoDebug == 1) EnviaLog(mensagem, detalhe);
}

void log_number(const char* mensagem, long valor) noexcept {
    if (ModoDebug != 1) return;
    char text[24];
    std::snprintf(text, sizeof text, "%ld", valor);
    EnviaLog(mensagem, text);
}

void log_discarded(const char* mensagem, std::size_t total, std::string_view first) noexcept {
    if (ModoDebug != 1 || total == 0) return;
    // The count, then the first bytes with control bytes shown as '.', so that a
    // NUL or an end marker cannot cut or break the log line.
    char detail[kDiscardShown + 32];
    int n = std::snprintf(detail, sizeof detail, "%zu bytes: ", total);
    for (std::size_t i = 0; i < first.size() && i < kDiscardShown; ++i) {
        const char c = first[i];
        const unsigned char u = static_cast<unsigned char>(c);
        detail[n++] = u < 0x20 || u == 0x7f ? '.' : c;
    }
    detail[n] = '\0';
    EnviaLog(mensagem, detail);
}

void take_lock() noexcept {
    while (lock() == 1)
        usleep(kLockPollMicros);
}

} // namespace sat

extern "C" {

SAT_API int file_existe(const char* arquivo) noexcept {
    return ini_readable(arquivo);
}

SAT_API char* timestamp(void) noexcept {
    static char text[26];
    time_t now = std::time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    std::strftime(text, sizeof text, "%d-%m-%Y %H:%M:%S", &local);
    return text;
}

SAT_API int EnviaLog(const char* mensagem, const char* detalhe) noexcept {
    FILE* f = std::fopen(sat::kLogPath, "a");
    if (!f) f = std::fopen(sat::kLogPath, "w");
    if (!f) {
        if (sat::console_on()) std::puts("EnviaLog: Erro ao abrir o arquivo de logs!");
        return -1;
    }
    std::fprintf(f, "%s%s%s%s\n", timestamp(), ": ", mensagem ? mensagem : "",
                 detalhe ? detalhe : "");
    std::fclose(f);
    return 0;
}

SAT_API char* IntToStr(int valor, int tamanho) noexcept {
    if (tamanho < 0) return nullptr;
    // The block is tamanho + 1 bytes; "%06d" may need more, and is cut to fit.
    std::size_t size = static_cast<std::size_t>(tamanho) + 1;
    char* text = static_cast<char*>(std::malloc(size));
    if (!text) return nullptr;
    std::snprintf(text, size, "%06d", valor);
    return text;
}

SAT_API int lock(void) noexcept {
    if (ModoLock == 0) {
        __atomic_store_n(&lib_lock, 0, __ATOMIC_SEQ_CST);
        return 0;
    }
    if (__atomic_load_n(&lib_lock, __ATOMIC_SEQ_CST) == 1) return 1;
    usleep(sat::kLockPollMicros);
    // The take itself is one atomic step: of two callers that both saw the flag
    // free, only one gets it; the other is told "busy" and polls again.
    int free_flag = 0;
    if (!__atomic_compare_exchange_n(&lib_lock, &free_flag, 1, false, __ATOMIC_SEQ_CST,
                                     __ATOMIC_SEQ_CST))
        return 1;
    return 0;
}

SAT_API int unlock(void) noexcept {
    __atomic_store_n(&lib_lock, 0, __ATOMIC_SEQ_CST);
    return 0;
}

} // extern "C"
