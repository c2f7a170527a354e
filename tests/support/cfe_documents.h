// CF-e documents for the extrato's tests and benchmark, issued by the
// emulator's own model from a point-of-sale sale document, so that totals,
// keys and signatures are what a device would give.
#pragma once

#include <string>

#include "cfe.h"

namespace cfe_documents {

// What a sale document holds besides its fixed parts.
struct SaleInput {
    std::string dest = "<CPF>39053344705</CPF><xNome>Maria da Silva</xNome>";
    std::string items;            // extra det elements after the two fixed ones
    std::string item_adjustments; // inside the first item's prod
    std::string subtotal;         // inside total, e.g. a DescAcrEntr
    std::string payments = "<MP><cMP>01</cMP><vMP>50.00</vMP></MP>";
    std::string notes = "<infAdic><infCpl>Obrigado pela preferência</infCpl></infAdic>";
    bool test = false;
};

inline std::string item(int n, const std::string& description, const std::string& qty,
                        const std::string& price, const std::string& extra = "") {
    const std::string k = std::to_string(n);
    return "<det nItem=\"" + k + "\"><prod><cProd>78910001" + k + "</cProd><xProd>" + description +
           "</xProd><NCM>09012100</NCM><CFOP>5102</CFOP><uCom>UN</uCom><qCom>" + qty +
           "</qCom><vUnCom>" + price + "</vUnCom><indRegra>A</indRegra>" + extra +
           "</prod><imposto><vItem12741>0.30</vItem12741><ICMS><ICMS00><Orig>0</Orig><CST>00</CST>"
           "<pICMS>18.00</pICMS></ICMS00></ICMS><PIS><PISNT><CST>04</CST></PISNT></PIS><COFINS>"
           "<COFINSNT><CST>04</CST></COFINSNT></COFINS></imposto></det>";
}

inline satemu::IssueContext context(bool test, long number) {
    satemu::IssueContext c;
    c.uf = "35";
    c.serial = "900004019";
    c.taxpayer_cnpj = "47291583000110";
    c.associated = true;
    c.sh_cnpj = "08317492000155";
    c.signature = "SIGNATURE";
    c.number = number;
    c.cnf = 125057 + number;
    c.now = 1796000000 + number * 60;
    c.test = test;
    return c;
}

// The issued CF-e XML of the sale; empty when the model refuses it.
inline satemu::Issued sale(const SaleInput& in, long number = 31) {
    const std::string doc =
        "<CFe><infCFe versaoDadosEnt=\"0.07\"><ide><CNPJ>08317492000155</CNPJ><signAC>SIGNATURE"
        "</signAC><numeroCaixa>001</numeroCaixa></ide><emit><CNPJ>47291583000110</CNPJ><IE>"
        "111222333444</IE><cRegTribISSQN>1</cRegTribISSQN><indRatISSQN>N</indRatISSQN></"
        "emit><dest>" +
        in.dest + "</dest>" +
        item(1, "Café torrado e moído 500 g", "2.0000", "12.50", in.item_adjustments) +
        item(2, "Queijo minas frescal (kg)", "0.3500", "39.90") + in.items + "<total>" +
        in.subtotal + "<vCFeLei12741>6.85</vCFeLei12741></total><pgto>" + in.payments + "</pgto>" +
        in.notes + "</infCFe></CFe>";
    return satemu::issue_sale(doc, context(in.test, number));
}

// The issued CFeCanc of `issued`, five minutes after it.
inline satemu::Issued cancellation(const satemu::Issued& issued, long number) {
    satemu::SaleRecord record{issued.key,
                              issued.total,
                              issued.recipient_tag,
                              issued.recipient,
                              context(false, number).now,
                              false};
    const std::string doc =
        "<CFeCanc><infCFe chCanc=\"CFe" + issued.key +
        "\"><ide><CNPJ>08317492000155</CNPJ><signAC>SIGNATURE</signAC>"
        "<numeroCaixa>001</numeroCaixa></ide><emit/><dest/><total/></infCFe></CFeCanc>";
    satemu::IssueContext c = context(false, number + 1);
    c.now = record.time + 300;
    return satemu::issue_cancellation(doc, "CFe" + issued.key, record, c);
}

} // namespace cfe_documents
