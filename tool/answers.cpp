#include "answers.h"

#include <array>
#include <cstring>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace satcli {

namespace {

constexpr unsigned char kPular = 64;    // line feed: skipped
constexpr unsigned char kFim = 65;      // '=': end of the data
constexpr unsigned char kInvalido = 66; // anything else outside the alphabet

constexpr char kAlfabeto[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<unsigned char, 256> tabela_decodificacao() {
    std::array<unsigned char, 256> t{};
    for (auto& v : t)
        v = kInvalido;
    for (unsigned char i = 0; i < 64; ++i)
        t[static_cast<unsigned char>(kAlfabeto[i])] = i;
    t['\n'] = kPular;
    t['='] = kFim;
    return t;
}

constexpr auto kDecodifica = tabela_decodificacao();

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
    base64decode(texto.data(), texto.size(), documento.data(), documento.size());
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

int base64decode(const char* texto, std::size_t tamanho, char* saida, std::size_t capacidade,
                 std::size_t* produzidos) {
    std::size_t n = 0;
    int resultado = 0;
    unsigned long acumulador = 0;
    int pendentes = 0;
    // Writes one group of bytes if it fits together with the terminator.
    auto produz = [&](std::initializer_list<unsigned char> bytes) {
        if (n + bytes.size() + 1 > capacidade) return false;
        for (unsigned char b : bytes)
            saida[n++] = static_cast<char>(b);
        return true;
    };
    if (capacidade == 0 || !saida) {
        if (produzidos) *produzidos = 0;
        return 1;
    }
    const auto* in = reinterpret_cast<const unsigned char*>(texto);
    for (std::size_t i = 0; i < tamanho; ++i) {
        // Fast path for whole groups of four valid symbols, the bulk of a
        // device log; anything else goes through the symbol-by-symbol rules.
        while (pendentes == 0 && i + 4 <= tamanho && n + 4 <= capacidade) {
            unsigned a = kDecodifica[in[i]], b = kDecodifica[in[i + 1]], c = kDecodifica[in[i + 2]],
                     d = kDecodifica[in[i + 3]];
            if ((a | b | c | d) >= 64) break;
            unsigned long g = (a << 18) | (b << 12) | (c << 6) | d;
            saida[n++] = static_cast<char>(g >> 16);
            saida[n++] = static_cast<char>(g >> 8);
            saida[n++] = static_cast<char>(g);
            i += 4;
        }
        if (i >= tamanho) break;
        unsigned char c = kDecodifica[in[i]];
        if (c == kPular) continue;
        if (c == kInvalido) {
            resultado = 1;
            pendentes = 0; // symbols of an unfinished group are dropped
            break;
        }
        if (c == kFim) break;
        acumulador = acumulador * 64 + c;
        if (++pendentes == 4) {
            if (!produz({static_cast<unsigned char>(acumulador >> 16),
                         static_cast<unsigned char>(acumulador >> 8),
                         static_cast<unsigned char>(acumulador)})) {
                resultado = 1;
                pendentes = 0;
                break;
            }
            acumulador = 0;
            pendentes = 0;
        }
    }
    if (pendentes == 3) {
        if (!produz({static_cast<unsigned char>(acumulador >> 10),
                     static_cast<unsigned char>(acumulador >> 2)}))
            resultado = 1;
    } else if (pendentes == 2) {
        if (!produz({static_cast<unsigned char>(acumulador >> 4)})) resultado = 1;
    }
    saida[n] = '\0';
    if (produzidos) *produzidos = n;
    return resultado;
}

int base64encode(const unsigned char* dados, std::size_t n, char* saida, std::size_t capacidade) {
    std::size_t pos = 0;
    auto poe = [&](char c) {
        if (pos >= capacidade) return false;
        saida[pos++] = c;
        return true;
    };
    for (std::size_t i = 0; i < n; i += 3) {
        std::size_t resto = n - i;
        unsigned long grupo = static_cast<unsigned long>(dados[i]) << 16;
        if (resto > 1) grupo |= static_cast<unsigned long>(dados[i + 1]) << 8;
        if (resto > 2) grupo |= dados[i + 2];
        if (!poe(kAlfabeto[(grupo >> 18) & 63]) || !poe(kAlfabeto[(grupo >> 12) & 63])) return 1;
        if (resto > 1 && !poe(kAlfabeto[(grupo >> 6) & 63])) return 1;
        if (resto > 2 && !poe(kAlfabeto[grupo & 63])) return 1;
    }
    for (std::size_t p = (3 - n % 3) % 3; p > 0; --p)
        if (!poe('=')) return 1;
    return poe('\0') ? 0 : 1;
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
        base64decode(dados.data(), dados.size(), log.get(), capacidade, &n);
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
