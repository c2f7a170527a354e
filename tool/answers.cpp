#include "answers.h"

#include "base64.h"

#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace satcli {

namespace {

constexpr const char* kDashes =
    "\n----------------------------------------------------------------------";
constexpr const char* kLogEnd = "=================================================";

int print_document(const char* answer, const char* key_format, const char* doc_format,
                   std::FILE* out) {
    std::string_view r = answer ? answer : "";
    char key[128];
    copy_field(r, 8, key, sizeof key);
    std::string_view text = field(r, 6);
    std::vector<char> document(r.size() + 1, '\0');
    torvane::base64_decode(text.data(), text.size(), document.data(), document.size());
    std::fprintf(out, key_format, key);
    std::fprintf(out, "%s\n", kDashes);
    std::fprintf(out, doc_format, document.data());
    std::fprintf(out, "%s\n\n", kDashes);
    return 0;
}

} // namespace

std::string_view field(std::string_view answer, int k) {
    if (k < 0) return {};
    std::size_t start = 0;
    for (int i = 0; i < k; ++i) {
        std::size_t bar = answer.find('|', start);
        if (bar == std::string_view::npos) return {};
        start = bar + 1;
    }
    std::size_t stop = answer.find('|', start);
    return answer.substr(start, stop == std::string_view::npos ? answer.npos : stop - start);
}

void copy_field(std::string_view answer, int k, char* buf, std::size_t buf_size) {
    if (!buf || buf_size == 0) return;
    std::string_view v = field(answer, k);
    std::size_t n = std::min(v.size(), buf_size - 1);
    if (n > 0) std::memcpy(buf, v.data(), n); // an absent field has no data pointer
    buf[n] = '\0';
}

int print_cfe(const char* answer, std::FILE* out) {
    return print_document(answer, "\nChave CFe: %s\n", "\nCFe: %s\n\n", out);
}

int print_cfe_canc(const char* answer, std::FILE* out) {
    return print_document(answer, "\nChave CFeCanc: %s\n", "\nCFeCanc: %s\n\n", out);
}

void handle_ultima_sessao_fiscal(const char* answer, std::FILE* out) {
    char code[10];
    copy_field(answer ? answer : "", 1, code, sizeof code);
    if (std::strncmp(code, "06000", 5) == 0)
        print_cfe(answer, out);
    else if (std::strncmp(code, "07000", 5) == 0)
        print_cfe_canc(answer, out);
}

namespace {

// Writes all `n` bytes, zero bytes included, and reports whether the file was
// created, written and closed without error.
bool write_file(const char* file_name, const char* payload, std::size_t n) {
    std::FILE* f = std::fopen(file_name, "wb");
    if (!f) return false;
    bool ok = std::fwrite(payload, 1, n, f) == n;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

} // namespace

int handle_extrair_logs(const char* answer, std::FILE* out, std::FILE* err, const char* file_name) {
    std::string_view r = answer ? answer : "";
    char code[10];
    char message[129];
    char third[129];
    copy_field(r, 1, code, sizeof code);
    copy_field(r, 2, message, sizeof message);
    copy_field(r, 3, third, sizeof third);
    int status = 0;
    if (std::strncmp(code, "15000", 5) == 0) {
        std::string_view payload = field(r, 5);
        // Left uninitialised: the decoder writes every byte that is used.
        const std::size_t capacity = 2 * payload.size() + 1;
        auto log = std::make_unique_for_overwrite<char[]>(capacity);
        std::size_t n = 0;
        torvane::base64_decode(payload.data(), payload.size(), log.get(), capacity, &n);
        bool written = write_file(file_name, log.get(), n);
        if (written) {
            // The device log is evidence for the tax authority: make sure it
            // is on disk before reporting success.
            sync();
        } else {
            std::fputs("Erro ao criar arquivo\n", err);
            std::fflush(err);
        }
        std::fprintf(out, "Cod Retorno: %s|%s\n", code, message);
        if (written) {
            std::fprintf(out, "%s\n", kDashes);
            std::fputs("Log salvo em: log_sat.txt\n", out);
            std::fprintf(out, "%s\n\n", kDashes);
        } else {
            status = 1;
        }
    } else if (std::strncmp(code, "15098", 5) == 0) {
        std::fprintf(out, "Cod Retorno: %s|%s\n", code, message);
    } else {
        std::fprintf(out, "Cod Retorno: %s|%s\n", code, third);
    }
    std::fprintf(out, "%s\n", kLogEnd);
    return status;
}

} // namespace satcli
