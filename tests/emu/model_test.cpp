// The device model, fault rules, access keys and the state file, in-process.
#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <tuple>

#include <pugixml.hpp>

#include "device.h"
#include "emulator.h"
#include "sandbox.h"
#include "statefile.h"
#include "util.h"

using namespace satemu;
using testsupport::cancel_document;
using testsupport::sale_document;

namespace {

// A device with the active preset and a fixed clock.
struct DeviceModel : ::testing::Test {
    Device dev;
    std::time_t now = 1800000000; // 2027-01-15
    DeviceModel() {
        dev.clock = [this] { return now; };
        dev.random_cnf = [] { return 123456L; };
        dev.apply_preset("12345678");
    }
    std::string run(const std::string& text) { return dev.handle(*parse_command(text + "|\x03")); }
    std::vector<std::string> fields(const std::string& text) { return split(run(text), '|'); }
};

std::string answer(Device& dev, const std::string& command) {
    return dev.handle(*parse_command(command));
}

} // namespace

TEST(AccessKey, CheckDigitMatchesHandComputedKeys) {
    // Weights 2..9 from the right; sums 4, 0, 2+3+4, 9+2 and 10 give 7, 0 (11), 2, 0 and 1.
    struct Case {
        const char* digits43;
        char digit;
    } cases[] = {
        {"0000000000000000000000000000000000000000002", '7'},
        {"0000000000000000000000000000000000000000000", '0'},
        {"0000000000000000000000000000000000000000111", '2'},
        {"0000000000000000000000000000000000110000000", '0'},
        {"0000000000000000000000000000000000000000005", '1'},
    };
    for (const auto& c : cases)
        EXPECT_EQ(key_check_digit(c.digits43), c.digit) << c.digits43;
}

TEST_F(DeviceModel, SaleIsStoredQueriedAndCancelled) {
    std::vector<std::string> f = fields("|03|000100|12345678|" + sale_document());
    ASSERT_EQ(f.size(), 12u);
    EXPECT_EQ(f[0] + f[1] + f[2] + f[3], "000100060000000Emitido com sucesso + conteúdo notas.");
    EXPECT_EQ(f[7], local_time(now, "%Y%m%d%H%M%S"));
    EXPECT_EQ(f[9] + "|" + f[10], "47.87|39053344705");
    EXPECT_EQ(f[11].size(), 344u);
    // Key: cUF, AAMM, emitter CNPJ, model, serial, nCFe, cNF, check digit.
    ASSERT_EQ(f[8].size(), 47u);
    std::string key = f[8].substr(3);
    EXPECT_EQ(key.substr(0, 43),
              "35" + local_time(now, "%y%m") + "4729158300011059900000001000001123456");
    EXPECT_EQ(key[43], key_check_digit(key.substr(0, 43)));

    // The CF-e is well-formed XML with the device's data filled in.
    auto xml = base64_decode(f[6]);
    ASSERT_TRUE(xml);
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_string(xml->c_str()));
    pugi::xml_node inf = doc.child("CFe").child("infCFe");
    EXPECT_EQ(std::string(inf.attribute("Id").value()), f[8]);
    EXPECT_STREQ(inf.child("ide").child_value("nCFe"), "000001");
    EXPECT_STREQ(inf.child("total").child_value("vCFe"), "47.87");
    EXPECT_STREQ(inf.child("pgto").child_value("vTroco"), "2.13");

    std::string stored = dev.state().last_fiscal;
    EXPECT_EQ(run("|08|000101|12345678|000100"), stored);
    EXPECT_EQ(run("|20|000102|12345678"), stored);
    EXPECT_EQ(run("|08|000103|12345678|000999"), "000103|11003|Sessão não existe||");

    // Only the last sale can be cancelled, and only once.
    EXPECT_EQ(run("|04|000110|12345678|CFe" + std::string(44, '1') + "|" + cancel_document(f[8])),
              "000110|07002|0000|Cupom inválido||");
    EXPECT_EQ(
        run("|04|000111|12345678|" + f[8] + "|" + cancel_document("CFe" + std::string(44, '1'))),
        "000111|07007|1214|Erro de validação do conteúdo.||");
    EXPECT_EQ(run("|04|000112|12345678|" + f[8] + "|<CFeCanc"),
              "000112|07007|1999|Erro de validação do conteúdo.||");
    std::vector<std::string> c =
        fields("|04|000113|12345678|" + f[8] + "|" + cancel_document(f[8]));
    ASSERT_EQ(c.size(), 12u);
    EXPECT_EQ(c[1], "07000");
    EXPECT_EQ(c[3], "Cupom cancelado com sucesso + conteúdo CF-eSAT cancelado.");
    EXPECT_EQ(c[9] + "|" + c[10], "47.87|39053344705");
    EXPECT_NE(c[8], f[8]);
    auto canc = base64_decode(c[6]);
    ASSERT_TRUE(canc);
    ASSERT_TRUE(doc.load_string(canc->c_str()));
    EXPECT_EQ(std::string(doc.child("CFeCanc").child("infCFe").attribute("chCanc").value()), f[8]);
    EXPECT_EQ(run("|20|000114|12345678"), dev.state().last_fiscal);
    EXPECT_EQ(split(dev.state().last_fiscal, '|')[0], "000113");
    EXPECT_EQ(run("|04|000115|12345678|" + f[8] + "|" + cancel_document(f[8])),
              "000115|07007|1218|Erro de validação do conteúdo.||");

    // Refused and not issued: a payment short of the total; a recipient number with other
    // bytes, which would reach the answer's fields.
    const long issued = dev.state().counter;
    for (auto [from, to, code] : {std::tuple{"<vMP>30.00", "<vMP>20.00", "06010|1750"},
                                  {"<CPF>39053344705", "<CPF>39053344705\x03", "06010|1235"}}) {
        std::string bad = sale_document();
        bad.replace(bad.find(from), std::strlen(from), to);
        const auto r = fields("|03|000119|12345678|" + bad);
        EXPECT_EQ(r[1] + "|" + r[2], code);
    }
    EXPECT_EQ(dev.state().counter, issued);

    // A sale can be cancelled for thirty minutes.
    f = fields("|03|000120|12345678|" + sale_document());
    now += 30 * 60 + 1;
    EXPECT_EQ(run("|04|000121|12345678|" + f[8] + "|" + cancel_document(f[8])),
              "000121|07007|1454|Erro de validação do conteúdo.||");
    now -= 2;
    EXPECT_EQ(fields("|04|000122|12345678|" + f[8] + "|" + cancel_document(f[8]))[1], "07000");
}

TEST_F(DeviceModel, StateFileJournalReplaysToTheSameState) {
    std::string path = testsupport::make_temp_dir("satemu-journal") + "/device.state";
    StateFile file(path);
    std::string error;
    ASSERT_TRUE(file.compact(dev.state(), error)) << error;
    dev.on_change = [&] { ASSERT_TRUE(file.save(dev.state(), error)) << error; };
    std::vector<std::string> f = fields("|03|000001|12345678|" + sale_document());
    run("|13|000002|12345678");
    run("|14|000003|12345678");
    for (int i = 0; i < 120; ++i)
        run("|05|" + format_session(1000 + i));
    run("|15|000004|12345678|1|novo|novo");
    // Only the last hundred sessions are kept: 1021 to 1119 and 000004.
    EXPECT_EQ(run("|08|000200|novo|001020"), "000200|11003|Sessão não existe||");
    EXPECT_EQ(run("|08|000201|novo|001021"), "001021|08000|SAT em operação||");

    DeviceState loaded;
    StateFile reader(path);
    ASSERT_TRUE(reader.load(loaded, error)) << error;
    EXPECT_EQ(serialize_state(loaded), serialize_state(dev.state()));
    EXPECT_EQ(loaded.code, "novo");
    EXPECT_EQ(loaded.sessions.size(), kStoredSessions);
    EXPECT_EQ(loaded.last_sale.key, f[8].substr(3));

    // A change cut short by a crash (no final newline) is ignored; the rest loads.
    std::string text = testsupport::read_file(path) + "code=half";
    ASSERT_TRUE(testsupport::write_file(path, text));
    ASSERT_TRUE(reader.load(loaded, error)) << error;
    EXPECT_EQ(loaded.code, "novo");

    DeviceState none;
    error.clear();
    EXPECT_FALSE(StateFile(path + ".missing").load(none, error));
    EXPECT_TRUE(error.empty());
    for (const char* bad : {"", "other\n", "satemu-state 1\nnoequals\n",
                            "satemu-state 1\nsession=x y\n", "satemu-state 1\ncode=\\x4\n"})
        EXPECT_FALSE(parse_state(bad, none, error)) << bad;
}

// ---- what a real device refuses or answers ------------------------------------------

// The device's state without the session store and the event log, which every command adds to.
std::string settings_of(const Device& dev) {
    DeviceState s = dev.state();
    s.sessions.clear();
    s.events.clear();
    return serialize_state(s);
}

TEST(DeviceModelInput, RefusalsAnswerTheirCodeAndChangeNothing) {
    const std::string sig = preset::kSignature, assoc = "|10|12345678|08317492000155";
    const char* k04002 = "04002|SEFAZ não reconhece este SAT (CNPJ inválido)";
    const char* k12002 = "12002|Dados fora do padrão a ser informado";
    struct Case {
        bool activated;
        std::string command;  // after the session number
        const char* expected; // code|text
    } cases[] = {
        {false, "|01|1|c|47291583000111|35", k04002},
        {false, "|01|1|c|47291583000110|36", k04002},
        {true, "|02|12345678|xx", "05003|Certificado inválido"},
        {true, "|02|12345678|" + base64_encode("-----BEGIN CERTIFICATE-----\nxx\n"),
         "05003|Certificado inválido"},
        {true, assoc + "47291583000110|abc", "13003|Assinatura fora do padrão especificado"},
        {true, assoc + "11222333000181|" + sig,
         "13007|CNPJ do contribuinte difere daquele constante da parametrização de uso"},
        {true, "|10|12345678|0831749200015047291583000110|" + sig,
         "13004|Erro de validação do conteúdo"},
        {true,
         "|09|12345678|<config><tipoInter>ETHE</tipoInter><tipoLan>IPFIX</tipoLan>"
         "<lanIP>999.1.1.1</lanIP></config>",
         k12002},
        {true, "|09|12345678|<config><tipoInter>ETHE</tipoInter><tipoLan>FIXO</tipoLan></config>",
         k12002},
        {true, "|09|12345678|<rede><tipoInter>ETHE</tipoInter><tipoLan>DHCP</tipoLan></rede>",
         k12002},
        {true, "|14|12345678", "17005|SAT já desbloqueado"},
    };
    for (const auto& c : cases) {
        Device dev;
        if (c.activated) dev.apply_preset("12345678");
        std::string before = settings_of(dev);
        std::string command = c.command.substr(0, 3) + "|000001" + c.command.substr(3);
        std::vector<std::string> f = split(dev.handle(*parse_command(command + "|\x03")), '|');
        ASSERT_GE(f.size(), 5u) << command;
        EXPECT_EQ(f[1] + "|" + f[f.size() - 3], c.expected) << command;
        EXPECT_EQ(settings_of(dev), before) << command;
    }
}

// Sales worked out by hand, ICMS at 12 % on vItem. indRegra governs vProd alone: T truncates,
// A rounds half up. vItem takes the item's discount and surcharge and its share of the
// subtotal's, spread by the items' values after their own; the last takes the remainder.
TEST_F(DeviceModel, SaleValuesInExactDecimals) {
    struct Case {
        std::vector<const char*> items; // qCom vUnCom indRegra [vDesc [vOutro]] ("-": none)
        const char* expected;           // vProd/vItem/vRatDesc/vRatAcr/vICMS per item|vCFe vTroco
        const char* subtotal = "";      // in DescAcrEntr
    } cases[] = {
        {{"1.5 8.97 T", "0.35 39.90 T"}, "13.45/13.45///1.61 13.96/13.96///1.68|27.41 22.59"},
        {{"1.5 8.97 A", "0.35 39.90 A"}, "13.46/13.46///1.62 13.97/13.97///1.68|27.43 22.57"},
        {{"2.0000 12.50 A 1.25 0.40"}, "25.00/24.15///2.90|24.15 25.85"},
        {{"1 5.50 A 0.50", "1 5 A", "1 4.80 A - 0.20"},
         "5.50/4.84/0.33/0.17/0.58 5.00/4.84/0.33/0.17/0.58 4.80/4.82/0.34/0.16/0.58|14.50 35.50",
         "<vDescSubtot>1.00</vDescSubtot><vAcresSubtot>0.50</vAcresSubtot>"},
        {{"0.001 4995.00 A", "0.001 4995.00 T", "3 0.125 T"},
         "5.00/5.00///0.60 4.99/4.99///0.60 0.37/0.37///0.04|10.36 39.64"},
        {{"1.0000 10.00 A 0.125"}, "06010|1999"},
        {{"1 12,50 A"}, "06010|1999"},
        {{"1.0000 10.00 A"}, "06010|1999", "<vDescSubtot>10.01</vDescSubtot>"},
    };
    for (const auto& c : cases) {
        std::string dets;
        for (size_t i = 0; i < c.items.size(); ++i) {
            std::istringstream in(c.items[i]);
            std::string q, v, rule, desc, outro;
            in >> q >> v >> rule >> desc >> outro;
            dets += "<det nItem=\"" + std::to_string(i + 1) + "\"><prod><qCom>" + q +
                    "</qCom><vUnCom>" + v + "</vUnCom><indRegra>" + rule + "</indRegra>" +
                    (desc.empty() || desc == "-" ? "" : "<vDesc>" + desc + "</vDesc>") +
                    (outro.empty() ? "" : "<vOutro>" + outro + "</vOutro>") +
                    "</prod><imposto><ICMS><ICMS00><Orig>0</Orig><CST>00</CST><pICMS>12.00"
                    "</pICMS></ICMS00></ICMS></imposto></det>";
        }
        std::string doc = sale_document();
        const size_t from = doc.find("<det "), to = doc.find("</pgto>");
        doc.replace(from, to - from,
                    dets + "<total><DescAcrEntr>" + c.subtotal +
                        "</DescAcrEntr></total><pgto><MP><cMP>01</cMP><vMP>50.00</vMP></MP>");
        std::vector<std::string> f = fields("|03|000001|12345678|" + doc);
        std::string got = f[1] + "|" + f[2];
        pugi::xml_document xml;
        if (f.size() == 12 && xml.load_string(base64_decode(f[6]).value_or("").c_str())) {
            pugi::xml_node inf = xml.child("CFe").child("infCFe");
            got.clear();
            for (pugi::xml_node det : inf.children("det")) {
                for (const char* name : {"vProd", "vItem", "vRatDesc", "vRatAcr"})
                    got += std::string(det.child("prod").child_value(name)) + "/";
                got += det.child("imposto").child("ICMS").child("ICMS00").child_value("vICMS");
                got += det.next_sibling("det") ? " " : "|";
            }
            got += f[9] + " " + inf.child("pgto").child_value("vTroco");
        }
        EXPECT_EQ(got, c.expected) << c.items[0];
    }
}

// Nothing but the status before activation; DH_ULTIMA (field 25) from the activation on,
// moved by later contacts; DH_CFE and the keys once there is a CF-e.
TEST(DeviceModelNew, StatusBeforeAndAfterTheFirstSale) {
    Device dev;
    std::time_t now = 1800000000;
    dev.clock = [&now] { return now; };
    const std::string sig = preset::kSignature;
    struct Step {
        std::string command;                 // run 60 s after the previous step, then the status
        std::time_t dh_cfe_at, dh_ultima_at; // seconds after the start; -1: empty
    } steps[] = {
        {"|01|000001|1|12345678|47291583000110|35", -1, 60},
        {"|10|000002|12345678|0831749200015547291583000110|" + sig, -1, 120},
        {"|13|000003|12345678", -1, 120},
        {"|14|000004|12345678", -1, 120},
        {"|03|000005|12345678|" + sale_document(), 300, 300},
    };
    const std::time_t start = now;
    EXPECT_EQ(answer(dev, "|06|000000|x|<CFe/>"), "000000|09002|SAT ainda não ativado||");
    for (const auto& s : steps) {
        now += 60;
        const std::string a = answer(dev, s.command);
        if (&s == steps) { // the activation answer carries a CSR, base64 of its PEM text
            EXPECT_TRUE(base64_decode(split(a, '|')[5])
                            .value_or("")
                            .starts_with("-----BEGIN CERTIFICATE REQUEST-----\n"))
                << a;
        }
        std::vector<std::string> f = split(answer(dev, "|07|000009|12345678"), '|');
        ASSERT_EQ(f.size(), 28u) << s.command;
        EXPECT_EQ(f[23], s.dh_cfe_at < 0 ? "" : local_time(start + s.dh_cfe_at, "%Y%m%d%H%M%S"));
        EXPECT_EQ(f[24], local_time(start + s.dh_ultima_at, "%Y%m%d%H%M%S")) << s.command;
        std::string key = s.dh_cfe_at < 0 ? "" : dev.state().last_sale.key;
        EXPECT_EQ(f[20] + f[21] + f[22], key + key + key);
    }
}
