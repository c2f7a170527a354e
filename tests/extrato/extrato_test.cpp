// The extrato against documents issued by the emulator's model: the symbols
// read back from the PNG (zbarimg) and from the ESC/POS bytes (a strict
// decoder), the lines that must and must not be there, golden text for two
// documents, and the bad inputs with their errors.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "base64.h"
#include "cfe_documents.h"
#include "escpos_decoder.h"
#include "extrato.h"
#include "format.h"
#include "sandbox.h"
#include "writers.h"

namespace {

using extrato::Error;

struct Row {
    const char* name;
    int paper;
    cfe_documents::SaleInput in;
    bool cancel, summary;
    std::vector<std::string> present; // in the text; the value of a "label|value" ends a line
    std::vector<std::string> absent = {};
};

std::vector<Row> rows() {
    cfe_documents::SaleInput plain, adjusted, payments, cnpj, nobody, longer, test;
    adjusted.item_adjustments = "<vDesc>1.00</vDesc><vOutro>0.50</vOutro>";
    adjusted.subtotal = "<DescAcrEntr><vDescSubtot>2.00</vDescSubtot></DescAcrEntr>";
    payments.payments = "<MP><cMP>01</cMP><vMP>10.00</vMP></MP><MP><cMP>03</cMP><vMP>20.00</vMP>"
                        "</MP><MP><cMP>17</cMP><vMP>10.00</vMP></MP>";
    cnpj.dest = "<CNPJ>11222333000181</CNPJ>";
    payments.subtotal = "<DescAcrEntr><vAcresSubtot>1.00</vAcresSubtot></DescAcrEntr>";
    nobody.dest = nobody.notes = "";
    longer.items = cfe_documents::item(3,
                                       "Descrição muito longa de um produto com várias palavras "
                                       "que não cabe numa linha só do papel estreito",
                                       "1.0000", "5.00");
    test.test = true;
    // clang-format off
    return {
        {"plain", 80, plain, false, false, {"TOTAL R$|38,97", "Dinheiro|50,00", "Troco R$|11,03",
            "CPF/CNPJ do Consumidor: 390.533.447-05",
            "001 789100011 Cafe torrado e moido 500 g 2 UN x 12,50 (0,30) 25,00"}},
        {"adjustments", 58, adjusted, false, false, {"Total bruto de itens|38,97",
            "Total de descontos sobre item|- 1,00", "Desconto sobre subtotal|- 2,00",
            "Total de acrescimos sobre item|+ 0,50", "TOTAL R$|36,47", "desconto sobre item|- 1,00",
            "acrescimo sobre item|+ 0,50"}},
        {"payments", 80, payments, false, false,
            {"Dinheiro|10,00", "Cartao Credito|20,00", "Pix|10,00", "Troco R$|0,03",
             "Total bruto de itens|38,97", "Acrescimo sobre subtotal|+ 1,00", "TOTAL R$|39,97"}},
        {"buyer CNPJ", 58, cnpj, false, false, {"11.222.333/0001-81"}},
        {"no buyer", 80, nobody, false, false, {"TOTAL R$|38,97", "(Lei Fed. 12.741/2012) R$|6,85"},
            {"Consumidor", "Obrigado"}},
        {"long description", 58, longer, false, false, {"TOTAL R$|43,97", "003 789100013 Descricao "
            "muito longa de um produto com varias palavras que nao cabe numa linha so do papel estreito"}},
        {"test condition", 80, test, false, false,
            {"= T E S T E =", "Extrato No. 000000", std::string(48, '>')}, {"Extrato No. 000031"}},
        {"cancellation", 58, plain, true, false, {"CANCELAMENTO", "TOTAL R$|38,97",
            "DADOS DO CUPOM FISCAL ELETRONICO CANCELADO",
            "DADOS DO CUPOM FISCAL ELETRONICO DE CANCELAMENTO"}, {"Dinheiro", "Cafe"}},
        {"summary", 80, plain, false, true, {"TOTAL R$|38,97", "Dinheiro|50,00"},
            {"# | COD", "Cafe", "*Valor aproximado dos tributos do item."}},
    };
    // clang-format on
}

struct Issued {
    std::string sale, cancellation;       // XML
    std::set<std::string> qr_codes, bars; // what the symbols must carry
    std::vector<std::string> qr_order, bar_order;
};

// The QR content and the bar parts of one issued document, from its own XML:
// the date and time under ide (the last dEmi/hEmi of a CFeCanc).
void expect_symbols(const satemu::Issued& d, Issued& out) {
    const std::regex r("<dEmi>(\\d{8})</dEmi><hEmi>(\\d{6})</hEmi>");
    std::string stamp;
    for (auto m = std::sregex_iterator(d.xml.begin(), d.xml.end(), r); m != std::sregex_iterator();
         ++m)
        stamp = (*m)[1].str() + (*m)[2].str();
    const std::string qr =
        d.key + "|" + stamp + "|" + d.total + "|" + d.recipient + "|" + d.qr_signature;
    out.qr_codes.insert(qr);
    out.qr_order.push_back(qr);
    for (int at : {0, 22}) {
        out.bars.insert(d.key.substr(at, 22));
        out.bar_order.push_back(d.key.substr(at, 22));
    }
}

Issued issue(const Row& row) {
    setenv("TZ", "UTC", 1);
    tzset();
    Issued out;
    const satemu::Issued sale = cfe_documents::sale(row.in);
    EXPECT_EQ(sale.code, "") << sale.rejection;
    out.sale = sale.xml;
    expect_symbols(sale, out);
    if (row.cancel) {
        const satemu::Issued canc = cfe_documents::cancellation(sale, 32);
        EXPECT_EQ(canc.code, "") << canc.rejection;
        out.cancellation = canc.xml;
        expect_symbols(canc, out);
    }
    return out;
}

extrato::Result render(const Row& row, const Issued& d, extrato::Format f, bool raster = false) {
    extrato::Options o;
    o.profile = extrato::paper_profile(row.paper);
    o.profile.code_page = extrato::CodePage::Ascii;
    o.profile.raster = raster;
    o.summary = row.summary;
    return extrato::render(d.cancellation.empty() ? d.sale : d.cancellation,
                           d.cancellation.empty() ? "" : d.sale, f, o);
}

// What zbarimg reads in the images: "QR-Code:..." and "CODE-128:..." lines.
void zbar(const std::vector<std::string>& files, std::set<std::string>& qr,
          std::set<std::string>& bars) {
    std::string command = "zbarimg -q";
    for (const std::string& f : files)
        command += " '" + f + "'";
    std::FILE* p = popen((command + " 2>/dev/null").c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buf[2048];
    while (std::fgets(buf, sizeof buf, p)) {
        std::string l(buf);
        if (l.ends_with('\n')) l.pop_back();
        if (l.starts_with("QR-Code:")) qr.insert(l.substr(8));
        if (l.starts_with("CODE-128:")) bars.insert(l.substr(9));
    }
    pclose(p);
}

class Extrato : public testing::TestWithParam<Row> {};

TEST_P(Extrato, SymbolsAndLinesReadBack) {
    const Row& row = GetParam();
    const Issued d = issue(row);
    const struct Dir {
        std::string p = testsupport::make_temp_dir("extrato");
        const std::string& path() const { return p; }
        ~Dir() { std::filesystem::remove_all(p); }
    } dir;

    const extrato::Result png = render(row, d, extrato::Format::Png);
    ASSERT_EQ(png.error, Error::None) << png.message;
    std::ofstream(dir.path() + "/extrato.png", std::ios::binary) << png.bytes;
    std::set<std::string> qr, bars;
    zbar({dir.path() + "/extrato.png"}, qr, bars);
    EXPECT_EQ(qr, d.qr_codes);
    EXPECT_EQ(bars, d.bars);

    const EscPosPrint print = decode_escpos(render(row, d, extrato::Format::EscPos).bytes);
    ASSERT_EQ(print.error, "");
    EXPECT_EQ(print.qr_codes, d.qr_order);
    EXPECT_EQ(print.bars, d.bar_order);
    EXPECT_EQ(print.cuts, 1);
    EXPECT_TRUE(std::any_of(print.bold_lines.begin(), print.bold_lines.end(),
                            [](const std::string& l) { return l.starts_with("TOTAL R$ "); }));
    std::string all;
    for (const std::string& l : print.lines) {
        EXPECT_LE(l.size(), static_cast<std::size_t>(row.paper == 80 ? 64 : 42)) << l;
        all += " " + l;
    }
    all = std::regex_replace(all, std::regex(" +"), " ");
    for (const std::string& want : row.present) {
        // A label may wrap, but its value ends a line.
        const auto bar = want.find('|');
        bool found =
            all.find(bar == std::string::npos
                         ? want
                         : std::regex_replace(want, std::regex("\\|"), " ")) != std::string::npos;
        if (bar != std::string::npos)
            found &= std::any_of(print.lines.begin(), print.lines.end(), [&](const std::string& l) {
                return l.ends_with(" " + want.substr(bar + 1));
            });
        EXPECT_TRUE(found) << want;
    }
    for (const std::string& unwanted : row.absent)
        EXPECT_EQ(all.find(unwanted), std::string::npos) << unwanted;

    // Printers without QR and barcode commands get the same symbols as images.
    const EscPosPrint images = decode_escpos(render(row, d, extrato::Format::EscPos, true).bytes);
    ASSERT_EQ(images.error, "");
    std::vector<std::string> files;
    for (const RasterImage& image : images.images) {
        // As PBM, whose rows are GS v 0's; 32 white dots around stand for the paper.
        const std::string side(4, '\0'), white(std::size_t(image.bytes_per_row + 8) * 32, '\0');
        files.push_back(dir.path() + "/" + std::to_string(files.size()) + ".pbm");
        std::ofstream pbm(files.back(), std::ios::binary);
        pbm << "P4\n" << (image.bytes_per_row + 8) * 8 << " " << image.rows + 64 << "\n" << white;
        for (int y = 0; y < image.rows; ++y)
            pbm << side
                << image.bits.substr(std::size_t(y) * image.bytes_per_row, image.bytes_per_row)
                << side;
        pbm << white;
    }
    EXPECT_EQ(files.size(), d.qr_order.size() + d.bar_order.size());
    std::set<std::string> raster_qr, raster_bars;
    zbar(files, raster_qr, raster_bars);
    EXPECT_EQ(raster_qr, d.qr_codes);
    EXPECT_EQ(raster_bars, d.bars);
}

INSTANTIATE_TEST_SUITE_P(Documents, Extrato, testing::ValuesIn(rows()), [](const auto& test) {
    return std::regex_replace(test.param.name, std::regex(" "), "_");
});

// The text form of two documents, byte by byte. EXTRATO_GOLDEN_UPDATE=1 rewrites them.
TEST(ExtratoText, Golden) {
    for (const Row& row : rows()) {
        const std::string name = row.name;
        if (name != "plain" && name != "cancellation") continue;
        const Issued d = issue(row);
        extrato::Options o;
        o.profile = extrato::paper_profile(row.paper);
        const extrato::Result r =
            extrato::render(d.cancellation.empty() ? d.sale : d.cancellation,
                            d.cancellation.empty() ? "" : d.sale, extrato::Format::Text, o);
        const std::string path = TORVANE_SOURCE_DIR "/tests/extrato/golden/" + name + ".txt";
        if (std::getenv("EXTRATO_GOLDEN_UPDATE")) std::ofstream(path) << r.bytes;
        std::ifstream in(path);
        const std::string golden((std::istreambuf_iterator<char>(in)), {});
        EXPECT_EQ(r.bytes, golden) << name;
    }
}

TEST(ExtratoInput, FormsAndErrors) {
    const Issued d = issue(rows()[7]);
    const std::string b64 = torvane::base64_encode(d.sale);
    const std::string answer =
        "482913|06000|0000|Emitido com sucesso + conteudo notas.|||" + b64 + "|20261130012420|CFe" +
        d.sale.substr(d.sale.find("Id=\"CFe") + 7, 44) + "|38.97|39053344705|sig";
    const std::string no_total = std::regex_replace(d.sale, std::regex("<vCFe>[^<]*</vCFe>"), "");
    std::string bad_key = d.sale;
    bad_key.replace(bad_key.find("Id=\"CFe") + 7, 2, "x1");
    const std::string other = cfe_documents::sale({}, 40).xml;
    const struct {
        const char* name;
        std::string document, sale;
        Error error;
    } cases[] = {
        {"xml", d.sale, "", Error::None},
        {"base64", b64, "", Error::None},
        {"answer", answer, "", Error::None},
        {"satcli output", "Parametros:\n...\nRetorno: " + answer + "\n\nChave CFe: x\n", "",
         Error::None},
        {"sale then cancellation", d.sale, d.cancellation, Error::None},
        {"words", "not a receipt", "", Error::NotCfe},
        {"other xml", "<NFe><infNFe/></NFe>", "", Error::NotCfe},
        {"refused sale", "482913|06010|1999|Erro de validacao do conteudo.|||", "", Error::NotCfe},
        {"broken base64", b64.substr(0, b64.size() - 1), "", Error::BadBase64},
        {"base64 of no xml", torvane::base64_encode("plain words"), "", Error::NotCfe},
        {"no vCFe", no_total, "", Error::MissingElement},
        {"bad key", bad_key, "", Error::MissingElement},
        {"cancellation alone", d.cancellation, "", Error::NoSale},
        {"cancellation of another sale", d.cancellation, other, Error::NoSale},
    };
    for (const auto& c : cases) {
        const extrato::Result r = extrato::render(c.document, c.sale, extrato::Format::EscPos, {});
        EXPECT_EQ(r.error, c.error) << c.name << ": " << r.message;
        EXPECT_EQ(r.bytes.empty(), c.error != Error::None) << c.name;
        EXPECT_EQ(r.message.empty(), c.error == Error::None) << c.name;
    }
}

TEST(ExtratoText, WrapsAndCodePages) {
    EXPECT_EQ(extrato::cnpj_text("11222333000182"), "11222333000182"); // invalid: unmasked
    EXPECT_EQ(extrato::wrap("abcdefghij kl", 4),
              (std::vector<std::string>{"abcd", "efgh", "ij", "kl"}));
    // A money value is never cut: the label wraps and the value keeps its line end.
    EXPECT_EQ(extrato::label_value("Total de descontos sobre item", "- 1.234.567,89", 24, 4),
              (std::vector<std::string>{"Total de descontos sobre", "item      - 1.234.567,89"}));
    EXPECT_EQ(extrato::encode("ELETRÔNICO ção", extrato::CodePage::Cp860),
              "ELETR\x8CNICO \x87\x84o");
    EXPECT_EQ(extrato::encode("ELETRÔNICO ção", extrato::CodePage::Cp850),
              "ELETR\xE2NICO \x87\xC6o");
    EXPECT_EQ(extrato::encode("ELETRÔNICO ção", extrato::CodePage::Ascii), "ELETRONICO cao");
    // The decoder sees a broken byte: an unknown command, bars outside code set C.
    for (std::string_view broken : {"\x1B@\x1D\x99", "\x1Dk\x49\x04{B\x01\x02", "ab"})
        EXPECT_NE(decode_escpos(broken).error, "") << broken;
}

} // namespace
