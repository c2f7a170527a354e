#include "document.h"

#include <pugixml.hpp>

#include "base64.h"
#include "format.h"

namespace extrato {

namespace {

constexpr std::string_view kDeveloperSignature = "SGR-SAT SISTEMA DE GESTAO E RETAGUARDA DO SAT";

std::string_view trim(std::string_view s) {
    if (s.starts_with("\xEF\xBB\xBF")) s.remove_prefix(3);
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r\n") - first + 1);
}

std::string_view field(std::string_view answer, int k) {
    for (; k > 0; --k) {
        const auto bar = answer.find('|');
        if (bar == std::string_view::npos) return {};
        answer.remove_prefix(bar + 1);
    }
    return answer.substr(0, answer.find('|'));
}

// The device's answer inside a satcli output ("Retorno: ..." line) or the text
// itself when it is an answer; empty when it is neither.
std::string_view answer_in(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        auto end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = trim(text.substr(at, end - at));
        if (line.starts_with("Retorno: ")) return trim(line.substr(9));
        at = end + 1;
    }
    if (text.find('|') != std::string_view::npos) return trim(text.substr(0, text.find('\n')));
    return {};
}

// Reads the fields of one document and remembers the first one missing or malformed.
struct Reader {
    std::string missing;

    std::string text(pugi::xml_node node, const char* name, const char* path) {
        std::string v = node.child(name).child_value();
        if (v.empty() && missing.empty()) missing = std::string(path) + " is missing";
        return v;
    }
    std::string digits(pugi::xml_node node, const char* name, const char* path, std::size_t size) {
        std::string v = text(node, name, path);
        if (!v.empty() && !is_digits(v, size) && missing.empty())
            missing = std::string(path) + " is not " +
                      (size ? std::to_string(size) + " digits" : std::string("a number")) + ": " +
                      v;
        return v;
    }
    // A money value; an absent optional one reads as empty.
    std::string money(pugi::xml_node node, const char* name, const char* path, bool required) {
        std::string v = node.child(name).child_value();
        if (required) text(node, name, path);
        if (!v.empty() && !is_decimal(v) && missing.empty())
            missing = std::string(path) + " is not a decimal value: " + v;
        return v;
    }
    std::string key(pugi::xml_node inf, const char* attribute, const char* path) {
        std::string_view id = inf.attribute(attribute).value();
        if (!id.starts_with("CFe") || !is_digits(id.substr(3), 44)) {
            if (missing.empty())
                missing =
                    std::string(path) + (id.empty() ? " is missing" : " is not CFe and 44 digits");
            return {};
        }
        return std::string(id.substr(3));
    }
    void stamp(pugi::xml_node inf, pugi::xml_node ide, Stamp& s, const char* path_total) {
        s.key = key(inf, "Id", "infCFe/@Id");
        s.serial = digits(ide, "nserieSAT", "ide/nserieSAT", 0);
        s.date = digits(ide, "dEmi", "ide/dEmi", 8);
        s.time = digits(ide, "hEmi", "ide/hEmi", 6);
        s.signature = text(ide, "assinaturaQRCODE", "ide/assinaturaQRCODE");
        s.total = money(inf.child("total"), "vCFe", path_total, true);
        pugi::xml_node dest = inf.child("dest");
        s.consumer = dest.child("CNPJ") ? dest.child_value("CNPJ") : dest.child_value("CPF");
    }
    Address address(pugi::xml_node a, std::string uf) {
        return {a.child_value("xLgr"), a.child_value("nro"),
                a.child_value("xCpl"), a.child_value("xBairro"),
                a.child_value("xMun"), a.child_value("CEP"),
                std::move(uf)};
    }
    Emitter emitter(pugi::xml_node emit, const std::string& uf) {
        Emitter e;
        e.cnpj = digits(emit, "CNPJ", "emit/CNPJ", 0);
        e.name = text(emit, "xNome", "emit/xNome");
        e.ie = emit.child_value("IE");
        e.im = emit.child_value("IM");
        e.trade_name = emit.child_value("xFant");
        e.address = address(emit.child("enderEmit"), uf);
        return e;
    }
};

long long sum_cents(long long base, const std::vector<Item>& items, std::string Item::*field) {
    for (const Item& item : items)
        if (item.issqn) base += cents((item.*field));
    return base;
}

void read_sale(pugi::xml_node inf, Sale& sale, Reader& r) {
    pugi::xml_node ide = inf.child("ide");
    r.stamp(inf, ide, sale.stamp, "total/vCFe");
    sale.number = r.digits(ide, "nCFe", "ide/nCFe", 0);
    const std::string uf = uf_name(r.digits(ide, "cUF", "ide/cUF", 2));
    sale.test = std::string_view(ide.child_value("tpAmb")) == "2" ||
                ide.child_value("signAC") == kDeveloperSignature;
    sale.emitter = r.emitter(inf.child("emit"), uf);
    pugi::xml_node dest = inf.child("dest");
    sale.consumer_cpf = dest.child_value("CPF");
    sale.consumer_cnpj = dest.child_value("CNPJ");
    sale.consumer_name = dest.child_value("xNome");

    long long gross = 0;
    for (pugi::xml_node det : inf.children("det")) {
        pugi::xml_node prod = det.child("prod"), imposto = det.child("imposto");
        Item it;
        it.number = det.attribute("nItem").value();
        if (!is_digits(it.number, 0) && r.missing.empty())
            r.missing = "det/@nItem is missing or not a number";
        it.code = r.text(prod, "cProd", "det/prod/cProd");
        it.description = r.text(prod, "xProd", "det/prod/xProd");
        it.quantity = r.money(prod, "qCom", "det/prod/qCom", true);
        it.unit = r.text(prod, "uCom", "det/prod/uCom");
        it.unit_price = r.money(prod, "vUnCom", "det/prod/vUnCom", true);
        it.value = r.money(prod, "vProd", "det/prod/vProd", true);
        it.discount = r.money(prod, "vDesc", "", false);
        it.shared_discount = r.money(prod, "vRatDesc", "", false);
        it.surcharge = r.money(prod, "vOutro", "", false);
        it.shared_surcharge = r.money(prod, "vRatAcr", "", false);
        it.tax = r.money(imposto, "vItem12741", "", false);
        pugi::xml_node issqn = imposto.child("ISSQN");
        it.issqn = bool(issqn.child("cNatOp"));
        it.issqn_deduction = r.money(issqn, "vDeducISSQN", "", false);
        it.issqn_base = r.money(issqn, "vBC", "", false);
        gross += cents(it.value);
        sale.items.push_back(std::move(it));
    }
    if (sale.items.empty() && r.missing.empty()) r.missing = "det (the items) is missing";

    pugi::xml_node total = inf.child("total"), icms = total.child("ICMSTot"),
                   adjust = total.child("DescAcrEntr");
    sale.gross = r.money(icms, "vProd", "", false);
    if (sale.gross.empty()) sale.gross = from_cents(gross);
    sale.item_discounts = from_cents(
        sum_cents(cents(r.money(icms, "vDesc", "", false)), sale.items, &Item::discount));
    sale.item_surcharges = from_cents(
        sum_cents(cents(r.money(icms, "vOutro", "", false)), sale.items, &Item::surcharge));
    sale.subtotal_discount = r.money(adjust, "vDescSubtot", "", false);
    sale.subtotal_surcharge = r.money(adjust, "vAcresSubtot", "", false);
    sale.tax_total = r.money(total, "vCFeLei12741", "", false);

    pugi::xml_node pgto = inf.child("pgto");
    for (pugi::xml_node mp : pgto.children("MP"))
        sale.payments.emplace_back(r.text(mp, "cMP", "pgto/MP/cMP"),
                                   r.money(mp, "vMP", "pgto/MP/vMP", true));
    if (sale.payments.empty() && r.missing.empty()) r.missing = "pgto/MP (the payments) is missing";
    sale.change = r.money(pgto, "vTroco", "", false);

    // The tax authority's notes sit under infAdic in older documents and
    // directly under infCFe in newer ones.
    for (pugi::xml_node parent : {inf.child("infAdic"), inf})
        for (pugi::xml_node obs : parent.children("obsFisco"))
            sale.fiscal_notes.emplace_back(obs.attribute("xCampo").value(),
                                           obs.child_value("xTexto"));
    sale.notes = inf.child("infAdic").child_value("infCpl");
    if (pugi::xml_node entrega = inf.child("entrega"))
        sale.delivery = r.address(entrega, entrega.child_value("UF"));
}

void read_cancellation(pugi::xml_node inf, Cancellation& c, Reader& r) {
    pugi::xml_node ide = inf.child("ide");
    r.stamp(inf, ide, c.stamp, "total/vCFe");
    c.number = r.digits(ide, "nCFe", "ide/nCFe", 0);
    // A cancellation carries no tpAmb: only the developer signature marks a test.
    c.test = ide.child_value("signAC") == kDeveloperSignature;
    c.emitter = r.emitter(inf.child("emit"), uf_name(r.digits(ide, "cUF", "ide/cUF", 2)));
    c.consumer_cpf = inf.child("dest").child_value("CPF");
    c.consumer_cnpj = inf.child("dest").child_value("CNPJ");
}

struct Loaded {
    pugi::xml_document xml;
    pugi::xml_node inf;
    bool cancellation = false;
};

Error load(std::string_view input, Loaded& out, std::string& message, const char* which) {
    Error error = Error::None;
    const std::string text = extract_xml(input, error, message);
    if (error != Error::None) {
        message = std::string(which) + ": " + message;
        return error;
    }
    const pugi::xml_parse_result ok = out.xml.load_buffer(text.data(), text.size());
    if (!ok) {
        message = std::string(which) + ": not well-formed XML (" + ok.description() + " at byte " +
                  std::to_string(ok.offset) + ")";
        return Error::NotCfe;
    }
    const pugi::xml_node root = out.xml.document_element();
    out.cancellation = std::string_view(root.name()) == "CFeCanc";
    out.inf = root.child("infCFe");
    if ((!out.cancellation && std::string_view(root.name()) != "CFe") || !out.inf) {
        message = std::string(which) + ": not a CF-e (the root element is <" + root.name() + ">)";
        return Error::NotCfe;
    }
    return Error::None;
}

} // namespace

std::string extract_xml(std::string_view input, Error& error, std::string& message) {
    std::string_view text = trim(input);
    if (text.starts_with("<")) return std::string(text);
    std::string_view encoded = text;
    if (const std::string_view answer = answer_in(text); !answer.empty()) {
        encoded = trim(field(answer, 6));
        if (encoded.empty()) {
            error = Error::NotCfe;
            message = "the answer " + std::string(field(answer, 1)) + " carries no CF-e";
            return {};
        }
    } else if (text.empty() ||
               text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnop"
                                      "qrstuvwxyz0123456789+/=\r\n") != std::string_view::npos) {
        error = Error::NotCfe;
        message = "neither CF-e XML, nor base64, nor a SAT answer";
        return {};
    }
    std::size_t symbols = 0;
    for (char c : encoded)
        symbols += c != '\n' && c != '\r';
    std::optional<std::string> xml;
    if (symbols % 4 == 0) xml = torvane::base64_decode(encoded);
    if (!xml) {
        error = Error::BadBase64;
        message = "the base64 text of the CF-e is broken";
        return {};
    }
    if (!trim(*xml).starts_with("<")) {
        error = Error::NotCfe;
        message = "the base64 text does not hold an XML document";
        return {};
    }
    return std::move(*xml);
}

std::string cancelled_key(std::string_view document) {
    Loaded loaded;
    std::string message;
    if (load(document, loaded, message, "document") != Error::None || !loaded.cancellation)
        return "";
    return loaded.inf.attribute("chCanc").value();
}

Parsed parse(std::string_view document, std::string_view sale) {
    Parsed p;
    Loaded first, second;
    if ((p.error = load(document, first, p.message, "document")) != Error::None) return p;
    if (!sale.empty() && (p.error = load(sale, second, p.message, "sale")) != Error::None) return p;
    const bool two = !sale.empty();
    Loaded& canc = first.cancellation ? first : second;
    Loaded& cfe = first.cancellation ? second : first;
    if (two && first.cancellation == second.cancellation) {
        p.error = first.cancellation ? Error::NoSale : Error::NotCfe;
        p.message = first.cancellation ? "two cancellations and no sale"
                                       : "two sales: the second document must be a cancellation";
        return p;
    }
    if (first.cancellation && !two) {
        p.error = Error::NoSale;
        p.message = "a cancellation needs the CF-e of its sale as the second document";
        return p;
    }
    Reader rs, rc;
    read_sale(cfe.inf, p.document.sale, rs);
    if (two) read_cancellation(canc.inf, p.document.cancellation.emplace(), rc);
    if (!rs.missing.empty() || !rc.missing.empty()) {
        p.error = Error::MissingElement;
        p.message = rs.missing.empty() ? "CFeCanc: " + rc.missing : "CFe: " + rs.missing;
        return p;
    }
    if (two) {
        const std::string cancelled = canc.inf.attribute("chCanc").value();
        if (cancelled != "CFe" + p.document.sale.stamp.key) {
            p.error = Error::NoSale;
            p.message = "the cancellation is of " + (cancelled.empty() ? "no sale" : cancelled) +
                        ", not of CFe" + p.document.sale.stamp.key;
        }
    }
    return p;
}

} // namespace extrato
