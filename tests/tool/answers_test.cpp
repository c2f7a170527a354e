// Base64, answer fields, the receipt printers and the log extraction.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <unistd.h>
#include <vector>

#include "answers.h"
#include "base64.h"
#include "capture.h"
#include "sandbox.h"

using namespace satcli;
using satcli_test::Captura;
using satcli_test::kTracos;

namespace {

std::string decodifica(const std::string& in, int* resultado, std::size_t capacidade = 0) {
    std::vector<char> out(capacidade ? capacidade : in.size() + 1, 'X');
    std::size_t n = 99;
    *resultado = torvane::base64_decode(in.data(), in.size(), out.data(), out.size(), &n);
    EXPECT_EQ(out[n], '\0') << "terminator right behind the decoded bytes";
    return std::string(out.data(), n);
}

std::string codifica(const std::string& in) {
    return torvane::base64_encode(in);
}

} // namespace

TEST(Base64, DecodesTheDeviceAlphabetAndNeverWritesPastItsCapacity) {
    const struct {
        std::string entrada, saida;
        int resultado;
        std::size_t capacidade = 0; // 0: room enough
    } casos[] = {
        {"QUJD", "ABC", 0},
        {"QUJD\nREVG", "ABCDEF", 0},
        {"QUI=", "AB", 0},
        {"QUI", "AB", 0},
        {"QQ==", "A", 0},
        {"Q", "", 0},
        {"", "", 0},
        {"QQ==QUJD", "A", 0},
        {"QUJD QUJD", "ABC", 1},
        {"QUJD\r\nQUJD", "ABC", 1},
        {"QUJDRE\xC3VG", "ABC", 1},
        {"QUJDRE\tVG", "ABC", 1},
        {"AEEA", std::string("\0A\0", 3), 0},
        // Three bytes plus the terminator need four.
        {"QUJD", "", 1, 3},
        {"QUJD", "ABC", 0, 4},
        {"QUJDQUI", "ABC", 1, 5},
        {"QUJDQUI", "ABCAB", 0, 6},
        {"QUJDREVG", "ABCDEF", 0, 7},
        {"QUJDREVG", "ABC", 1, 6},
    };
    for (const auto& c : casos) {
        int r = -1;
        EXPECT_EQ(decodifica(c.entrada, &r, c.capacidade), c.saida) << c.entrada;
        EXPECT_EQ(r, c.resultado) << c.entrada << " in " << c.capacidade;
    }
    std::vector<char> guarda(8, 'X');
    EXPECT_EQ(torvane::base64_decode("QUJD", 4, guarda.data(), 1), 1);
    EXPECT_EQ(guarda[0], '\0');
    EXPECT_EQ(guarda[1], 'X');
}

TEST(Base64, EncodesWithPadding) {
    EXPECT_EQ(codifica("abc"), "YWJj");
    EXPECT_EQ(codifica("ab"), "YWI=");
    EXPECT_EQ(codifica("a"), "YQ==");
    EXPECT_EQ(codifica(""), "");
}

TEST(Base64, RoundTripsEveryByteValue) {
    std::string dados;
    for (int i = 0; i < 256 * 3 + 2; ++i)
        dados += static_cast<char>(i * 7 % 256);
    std::string texto = codifica(dados);
    int r = -1;
    EXPECT_EQ(decodifica(texto, &r), dados);
    EXPECT_EQ(r, 0);
}

TEST(Fields, NumberedFromZeroAndEmptyBeyondTheLast) {
    const struct {
        const char* resposta;
        int k;
        const char* esperado;
    } casos[] = {
        {"123456|08000|SAT em operacao||", 0, "123456"},
        {"123456|08000|SAT em operacao||", 2, "SAT em operacao"},
        {"123456|08000|SAT em operacao||", 3, ""},
        {"123456|08000|SAT em operacao||", 4, ""},
        {"123456|08000|SAT em operacao||", 5, ""},
        {"a||c", 1, ""},
        {"a||c", 2, "c"},
        {"", 0, ""},
        {"", 1, ""},
        {"semBarra", 1, ""},
    };
    for (const auto& c : casos)
        EXPECT_EQ(field(c.resposta, c.k), c.esperado) << c.resposta << " field " << c.k;
}

TEST(Fields, LongFieldsAreCutToTheirBuffer) {
    std::string longo(300, 'm');
    std::string resposta = "1|" + longo + "|x";
    char buf[129];
    std::memset(buf, 'X', sizeof buf);
    copy_field(resposta, 1, buf, sizeof buf);
    EXPECT_EQ(std::string(buf), std::string(128, 'm'));
    char codigo[10];
    copy_field("1|0600012345678|x", 1, codigo, sizeof codigo);
    EXPECT_STREQ(codigo, "060001234");
}

namespace {

std::string moldura(const std::string& rotulo, const std::string& chave, const std::string& doc) {
    return "\nChave " + rotulo + ": " + chave + "\n" + kTracos + "\n\n" + rotulo + ": " + doc +
           "\n\n" + kTracos + "\n\n";
}

} // namespace

// An invalid character ends the document after the last complete group; the
// key is cut to its buffer.
TEST(Printers, FramesShowWhatTheAnswerHas) {
    const std::string venda = "123456|06000|0000|Emitido com sucesso + conteudo notas.|||" +
                              codifica("<CFe><infCFe/></CFe>") +
                              "|20260101120000|CFe3526|10.00|x|qr";
    const struct {
        bool canc;
        std::string resposta, chave, doc;
    } casos[] = {
        {false, venda, "CFe3526", "<CFe><infCFe/></CFe>"},
        {true, venda, "CFe3526", "<CFe><infCFe/></CFe>"},
        {false, "000123|06098|0000|SAT em processamento. Tente novamente.||", "", ""},
        {false, "1|06000|0000|m|||QUJD REVG||chave", "chave", "ABC"},
        {false, "1|06000|0000|m|||QUJD||" + std::string(200, 'k'), std::string(127, 'k'), "ABC"},
    };
    for (const auto& c : casos) {
        Captura cap;
        EXPECT_EQ((c.canc ? print_cfe_canc : print_cfe)(c.resposta.c_str(), cap.file()), 0);
        EXPECT_EQ(cap.texto(), moldura(c.canc ? "CFeCanc" : "CFe", c.chave, c.doc)) << c.resposta;
    }
}

TEST(Printers, LastFiscalSessionPicksTheDecoderByCode) {
    std::string doc = codifica("<CFeCanc/>");
    const struct {
        std::string resposta;
        std::string esperado;
    } casos[] = {
        {"1|06000|0000|m|||" + doc + "||k", moldura("CFe", "k", "<CFeCanc/>")},
        {"1|07000|0000|m|||" + doc + "||k", moldura("CFeCanc", "k", "<CFeCanc/>")},
        {"1|19003|Nao existe sessao fiscal||", ""},
        {"1|0600", ""},
        {"", ""},
    };
    for (const auto& c : casos) {
        Captura cap;
        handle_ultima_sessao_fiscal(c.resposta.c_str(), cap.file());
        EXPECT_EQ(cap.texto(), c.esperado) << c.resposta;
    }
}

namespace {

const std::string kFechaLog(49, '=');

std::string log_salvo(const std::string& codigo, const std::string& mensagem) {
    return "Cod Retorno: " + codigo + "|" + mensagem + "\n" + kTracos +
           "\nLog salvo em: log_sat.txt\n" + kTracos + "\n\n" + kFechaLog + "\n";
}

// Runs the log extraction inside a fresh folder; returns stdout.
struct Extracao {
    std::string dir = testsupport::make_temp_dir("satcli-log");
    std::string out, err;
    int status = -1;
    std::string arquivo() const { return dir + "/log_sat.txt"; }
    void roda(const std::string& resposta) {
        Captura o, e;
        status = handle_extrair_logs(resposta.c_str(), o.file(), e.file(), arquivo().c_str());
        out = o.texto();
        err = e.texto();
    }
};

} // namespace

TEST(ExtrairLogs, WritesEveryDecodedByteOverTheOldFile) {
    const std::string log("linha 1\n\0linha 2\n", 17);
    for (const std::string& sexto : {"|" + codifica(log), std::string()}) {
        Extracao x;
        testsupport::write_file(x.arquivo(), "um log antigo, bem mais comprido que o novo\n");
        x.roda("000042|15000|Transferencia completa||" + sexto);
        EXPECT_EQ(x.status, 0);
        EXPECT_EQ(x.err, "");
        EXPECT_EQ(x.out, log_salvo("15000", "Transferencia completa"));
        EXPECT_EQ(access(x.arquivo().c_str(), F_OK), 0);
        EXPECT_EQ(testsupport::read_file(x.arquivo()), sexto.empty() ? "" : log);
    }
}

TEST(ExtrairLogs, OtherCodesShowMessageOrThirdField) {
    const struct {
        std::string resposta;
        std::string linha;
    } casos[] = {
        {"000042|15098|SAT em processamento. Tente novamente.||",
         "Cod Retorno: 15098|SAT em processamento. Tente novamente.\n"},
        {"000042|15001|Codigo de ativacao invalido|0001|", "Cod Retorno: 15001|0001\n"},
        {"000042|15002|Transferencia em andamento", "Cod Retorno: 15002|\n"},
        {"000042|15001|" + std::string(200, 'm') + "|" + std::string(200, 't'),
         "Cod Retorno: 15001|" + std::string(128, 't') + "\n"},
        {"", "Cod Retorno: |\n"},
    };
    for (const auto& c : casos) {
        Extracao x;
        x.roda(c.resposta);
        EXPECT_EQ(x.status, 0);
        EXPECT_EQ(x.out, c.linha + kFechaLog + "\n") << c.resposta;
        EXPECT_NE(access(x.arquivo().c_str(), F_OK), 0) << "no log file for " << c.resposta;
    }
}

// A folder in the way is covered end to end (device_test); a full disk shows
// only when the data is written out.
TEST(ExtrairLogs, AWriteFailureIsReportedAndFails) {
    Extracao cheio;
    ASSERT_EQ(symlink("/dev/full", cheio.arquivo().c_str()), 0);
    cheio.roda("000042|15000|Transferencia completa|||" + codifica("log"));
    EXPECT_EQ(cheio.status, 1);
    EXPECT_EQ(cheio.err, "Erro ao criar arquivo\n");
    EXPECT_EQ(cheio.out, "Cod Retorno: 15000|Transferencia completa\n" + kFechaLog + "\n");
}
