// libFuzzer target for satemu's sale processing: a sale, an end-to-end test or a
// cancellation of the last sale, with any document, on a device of the active
// preset. Every answer carries the command's session and a result code of the
// command's family and no end byte; an issued CF-e decodes to a well-formed
// document and carries a valid access key, and an issued sale's vCFe is exactly the
// sum of its items' vItem, the shares of the subtotal's discount and surcharge adding
// up to them.
#include "amounts.h"
#include "cfe.h"
#include "device.h"
#include "frame.h"
#include "util.h"
#include "fields.h"

#include <fuzzer/FuzzedDataProvider.h>
#include <pugixml.hpp>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using testsupport::split_fields;

// vCFe and the sum of the items' vItem; vDescSubtot and vAcresSubtot and their shares.
void check_values(pugi::xml_node inf, const std::string& answer_total) {
    auto cents = [](const char* t) {
        auto v = satemu::parse_decimal(t + (*t == '-'), satemu::kMoney);
        if (!v) std::abort();
        return *t == '-' ? -*v : *v;
    };
    const char* names[] = {"vItem", "vRatDesc", "vRatAcr"};
    long long sums[3] = {};
    for (pugi::xml_node det : inf.children("det"))
        for (int i = 0; i < 3; ++i)
            if (const char* v = det.child("prod").child_value(names[i]); i == 0 || *v)
                sums[i] += cents(v);
    pugi::xml_node total = inf.child("total"), entr = total.child("DescAcrEntr");
    const char* amounts[] = {total.child_value("vCFe"), entr.child_value("vDescSubtot"),
                             entr.child_value("vAcresSubtot")};
    for (int i = 0; i < 3; ++i)
        if ((i == 0 || *amounts[i]) && cents(amounts[i]) != sums[i]) std::abort();
    if (answer_total != amounts[0]) std::abort();
}

std::string run(satemu::Device& dev, const std::string& frame, const char* family) {
    satemu::FrameAssembler fa;
    std::vector<std::string> frames;
    fa.feed(frame, frames);
    if (frames.size() != 1) return {};
    auto cmd = satemu::parse_command(frames[0]);
    if (!cmd) return {};
    const std::string answer = dev.handle(*cmd);
    const auto f = split_fields(answer);
    if (f.size() < 3 || f[0] != cmd->session_field()) std::abort();
    if (f[1].size() != 5 || f[1].compare(0, 2, family) != 0) std::abort();
    if (answer.find('\x03') != std::string::npos) std::abort();
    if (f[1] == "06000" || f[1] == "09000" || f[1] == "07000") {
        if (f.size() < 9) std::abort();
        // The end-to-end test has no CCCC field: its document is one field earlier.
        auto xml = satemu::base64_decode(f[f[1] == "09000" ? 5 : 6]);
        pugi::xml_document doc;
        if (!xml || !doc.load_buffer(xml->data(), xml->size())) std::abort();
        const std::string& key = f[8];
        if (key.size() != 47 || key.compare(0, 3, "CFe") != 0) std::abort();
        if (satemu::key_check_digit(std::string_view(key).substr(3, 43)) != key[46]) std::abort();
        if (f[1] == "06000") check_values(doc.child("CFe").child("infCFe"), f[9]);
    }
    return answer;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const unsigned char* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    const int kind = in.ConsumeIntegralInRange<int>(0, 2);
    const std::string document = in.ConsumeRemainingBytesAsString();

    satemu::Device dev;
    dev.clock = [] { return static_cast<std::time_t>(1780000000); };
    dev.random_cnf = [] { return 123456L; };
    dev.apply_preset("12345678");

    if (kind == 1) {
        run(dev, "|06|000042|12345678|" + document + "|\x03", "09");
        return 0;
    }
    if (kind == 0) {
        run(dev, "|03|000042|12345678|" + document + "|\x03", "06");
        return 0;
    }
    // Cancellation of a sale the device has just issued, with the fuzzed document.
    static const std::string sale = [] {
        std::string s = "<CFe><infCFe versaoDadosEnt=\"0.07\"><ide><CNPJ>08317492000155</CNPJ>"
                        "<signAC>";
        s += satemu::preset::kSignature;
        s += "</signAC><numeroCaixa>001</numeroCaixa></ide><emit><CNPJ>47291583000110</CNPJ>"
             "<IE>111222333444</IE><indRatISSQN>N</indRatISSQN></emit><dest/><det nItem=\"1\">"
             "<prod><cProd>1</cProd><xProd>Cafe</xProd><NCM>09012100</NCM><CFOP>5102</CFOP>"
             "<uCom>UN</uCom><qCom>1.0000</qCom><vUnCom>10.00</vUnCom><indRegra>A</indRegra>"
             "</prod><imposto><ICMS><ICMS40><Orig>0</Orig><CST>40</CST></ICMS40></ICMS>"
             "</imposto></det><total/><pgto><MP><cMP>01</cMP><vMP>10.00</vMP></MP></pgto>"
             "</infCFe></CFe>";
        return s;
    }();
    run(dev, "|03|000042|12345678|" + sale + "|\x03", "06");
    const std::string key = "CFe" + dev.state().last_sale.key;
    run(dev, "|04|000043|12345678|" + key + "|" + document + "|\x03", "07");
    return 0;
}
