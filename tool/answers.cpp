#include "answers.h"

#include "base64.h"

#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace satcli {

namespace {

constexpr const char* kTracos =
    "\n----------------------------------------------------------------------";
constexpr const char* kFechaLog = "=================================================";

int trata_documento(const char* resposta, const char* formato_chave, const char* formato_doc,
                    std::FILE* out) {
    std::string_view r = resposta ? resposta : "";
    char chave[128];
    copia_campo(r, 8, chave, sizeof chave);
    std::string_view texto = campo(r, 6);
    std::vector<char> documento(r.size() + 1, '\0');
    torvane::base64_decode(texto.data(), texto.size(), documento.data(), documento.size());
    std::fprintf(out, formato_chave, chave);
    std::fprintf(out, "%s\n", kTracos);
    std::fprintf(out, formato_doc, documento.data());
    std::fprintf(out, "%s\n\n", kTracos);
    return 0;
}

} // namespace

std::string_view campo(std::string_view resposta, int k) {
    if (k < 0) return {};
    std::size_t inicio = 0;
    for (int i = 0; i < k; ++i) {
        std::size_t barra = resposta.find('|', inicio);
        if (barra == std::string_view::npos) return {};
        inicio = barra + 1;
    }
    std::size_t fim = resposta.find('|', inicio);
    return resposta.substr(inicio, fim == std::string_view::npos ? resposta.npos : fim - inicio);
}

void copia_campo(std::string_view resposta, int k, char* buf, std::size_t tamanho) {
    if (!buf || tamanho == 0) return;
    std::string_view v = campo(resposta, k);
    std::size_t n = std::min(v.size(), tamanho - 1);
    if (n > 0) std::memcpy(buf, v.data(), n); // an absent field has no data pointer
    buf[n] = '\0';
}

int TrataCFe(const char* resposta, std::FILE* out) {
    return trata_documento(resposta, "\nChave CFe: %s\n", "\nCFe: %s\n\n", out);
}

int TrataCFeCanc(const char* resposta, std::FILE* out) {
    return trata_documento(resposta, "\nChave CFeCanc: %s\n", "\nCFeCanc: %s\n\n", out);
}

void trata_ultima_sessao_fiscal(const char* resposta, std::FILE* out) {
    char codigo[10];
    copia_campo(resposta ? resposta : "", 1, codigo, sizeof codigo);
    if (std::strncmp(codigo, "06000", 5) == 0)
        TrataCFe(resposta, out);
    else if (std::strncmp(codigo, "07000", 5) == 0)
        TrataCFeCanc(resposta, out);
}

namespace {

// Writes all `n` bytes, zero bytes included, and reports whether the file was
// created, written and closed without error.
bool grava_arquivo(const char* arquivo, const char* dados, std::size_t n) {
    std::FILE* f = std::fopen(arquivo, "wb");
    if (!f) return false;
    bool ok = std::fwrite(dados, 1, n, f) == n;
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

} // namespace

int trata_extrair_logs(const char* resposta, std::FILE* out, std::FILE* err, const char* arquivo) {
    std::string_view r = resposta ? resposta : "";
    char codigo[10];
    char mensagem[129];
    char terceiro[129];
    copia_campo(r, 1, codigo, sizeof codigo);
    copia_campo(r, 2, mensagem, sizeof mensagem);
    copia_campo(r, 3, terceiro, sizeof terceiro);
    int status = 0;
    if (std::strncmp(codigo, "15000", 5) == 0) {
        std::string_view dados = campo(r, 5);
        // Left uninitialised: the decoder writes every byte that is used.
        const std::size_t capacidade = 2 * dados.size() + 1;
        auto log = std::make_unique_for_overwrite<char[]>(capacidade);
        std::size_t n = 0;
        torvane::base64_decode(dados.data(), dados.size(), log.get(), capacidade, &n);
        bool gravado = grava_arquivo(arquivo, log.get(), n);
        if (gravado) {
            // The device log is evidence for the tax authority: make sure it
            // is on disk before reporting success.
            sync();
        } else {
            std::fputs("Erro ao criar arquivo\n", err);
            std::fflush(err);
        }
        std::fprintf(out, "Cod Retorno: %s|%s\n", codigo, mensagem);
        if (gravado) {
            std::fprintf(out, "%s\n", kTracos);
            std::fputs("Log salvo em: log_sat.txt\n", out);
            std::fprintf(out, "%s\n\n", kTracos);
        } else {
            status = 1;
        }
    } else if (std::strncmp(codigo, "15098", 5) == 0) {
        std::fprintf(out, "Cod Retorno: %s|%s\n", codigo, mensagem);
    } else {
        std::fprintf(out, "Cod Retorno: %s|%s\n", codigo, terceiro);
    }
    std::fprintf(out, "%s\n", kFechaLog);
    return status;
}

} // namespace satcli
