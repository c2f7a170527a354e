#include "cfe.h"

#include <cstdio>
#include <optional>
#include <tuple>
#include <vector>

#include <pugixml.hpp>

#include "amounts.h"
#include "util.h"

namespace satemu {

namespace {

// Rejection codes written in the CCCC field.
constexpr const char* kRejectMalformed = "1999";   // not well-formed or not a CF-e
constexpr const char* kRejectValue = "1999";       // an amount outside its field or its item
constexpr const char* kRejectEmitter = "1221";     // emitter CNPJ is not the taxpayer's
constexpr const char* kRejectNoItems = "1201";     // no det element
constexpr const char* kRejectPayment = "1750";     // payments below the total
constexpr const char* kRejectRecipient = "1235";   // recipient CPF/CNPJ not 11/14 digits
constexpr const char* kRejectKeyMismatch = "1214"; // chCanc differs from the key field
constexpr const char* kRejectCancelled = "1218";   // sale already cancelled
constexpr const char* kRejectTooLate = "1454";     // more than 30 minutes after the sale

constexpr const char* kSignatureNote = "satemu emulator: not a valid signature";

std::string digits(long v, int width) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*ld", width, v);
    return buf;
}

void set_text(pugi::xml_node parent, const char* name, const std::string& value) {
    pugi::xml_node n = parent.child(name);
    if (!n) n = parent.append_child(name);
    n.text().set(value.c_str());
}

void add(pugi::xml_node parent, const char* name, const std::string& value) {
    parent.append_child(name).text().set(value.c_str());
}

// Copies the child `name` of `from` (if present) to the end of `to`.
void copy_child(pugi::xml_node to, pugi::xml_node from, const char* name) {
    if (pugi::xml_node n = from.child(name)) to.append_copy(n);
}

void add_signature(pugi::xml_node parent, const std::string& id) {
    pugi::xml_node sig = parent.append_child("Signature");
    sig.append_attribute("xmlns") = "http://www.w3.org/2000/09/xmldsig#";
    pugi::xml_node info = sig.append_child("SignedInfo");
    pugi::xml_node ref = info.append_child("Reference");
    ref.append_attribute("URI") = ("#" + id).c_str();
    add(sig, "SignatureValue", kSignatureNote);
    add(sig.append_child("KeyInfo").append_child("X509Data"), "X509Certificate", kSignatureNote);
}

void add_emitter(pugi::xml_node emit, const std::string& cnpj, pugi::xml_node given) {
    add(emit, "CNPJ", cnpj);
    add(emit, "xNome", "CONTRIBUINTE DE TESTE DO EMULADOR LTDA");
    add(emit, "xFant", "LOJA DE TESTE");
    pugi::xml_node addr = emit.append_child("enderEmit");
    add(addr, "xLgr", "RUA DAS AMOSTRAS");
    add(addr, "nro", "100");
    add(addr, "xBairro", "CENTRO");
    add(addr, "xMun", "SAO PAULO");
    add(addr, "CEP", "01001000");
    copy_child(emit, given, "IE");
    copy_child(emit, given, "IM");
    add(emit, "cRegTrib", "3");
    copy_child(emit, given, "cRegTribISSQN");
    copy_child(emit, given, "indRatISSQN");
}

std::string serialize(const pugi::xml_document& doc) {
    struct Writer : pugi::xml_writer {
        std::string out;
        void write(const void* data, size_t size) override {
            out.append(static_cast<const char*>(data), size);
        }
    } w;
    doc.save(w, "", pugi::format_raw | pugi::format_no_declaration, pugi::encoding_utf8);
    return std::move(w.out);
}

Issued refuse(const char* code, const char* rejection) {
    Issued r;
    r.code = code;
    r.rejection = rejection;
    return r;
}

// The device's part of ide, shared by the issued sale and the issued cancellation;
// only a sale carries the environment (tpAmb).
void add_device_ide(pugi::xml_node ide, pugi::xml_node ide_in, const IssueContext& ctx,
                    const Issued& out, bool with_environment) {
    add(ide, "cUF", ctx.uf);
    add(ide, "cNF", digits(ctx.cnf, 6));
    add(ide, "mod", "59");
    add(ide, "nserieSAT", ctx.serial);
    add(ide, "nCFe", digits(ctx.number, 6));
    add(ide, "dEmi", local_time(ctx.now, "%Y%m%d"));
    add(ide, "hEmi", local_time(ctx.now, "%H%M%S"));
    add(ide, "cDV", std::string(1, out.key.back()));
    if (with_environment) add(ide, "tpAmb", ctx.test ? "2" : "1");
    add(ide, "CNPJ", ide_in.child_value("CNPJ"));
    add(ide, "signAC", ide_in.child_value("signAC"));
    add(ide, "assinaturaQRCODE", out.qr_signature);
    add(ide, "numeroCaixa",
        ide_in.child("numeroCaixa") ? ide_in.child_value("numeroCaixa") : "001");
}

} // namespace

char key_check_digit(std::string_view digits43) {
    int sum = 0, weight = 2;
    for (size_t i = digits43.size(); i-- > 0;) {
        sum += (digits43[i] - '0') * weight;
        weight = weight == 9 ? 2 : weight + 1;
    }
    int d = 11 - sum % 11;
    return d >= 10 ? '0' : static_cast<char>('0' + d);
}

std::string access_key(std::string_view uf, std::time_t when, std::string_view emitter_cnpj,
                       std::string_view serial, long number, long cnf) {
    std::string key;
    key.reserve(44);
    key += uf;
    key += local_time(when, "%y%m");
    key += emitter_cnpj;
    key += "59";
    key += serial;
    key += digits(number % 1000000, 6);
    key += digits(cnf % 1000000, 6);
    key += key_check_digit(key);
    return key;
}

std::string fake_signature(std::string_view seed) {
    // 256 bytes of a simple generator seeded from the text: base64 of 256 bytes is
    // 344 characters, the size of a real RSA-2048 signature.
    uint64_t h = 1469598103934665603ull;
    for (char c : seed)
        h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    std::string bytes(256, '\0');
    for (auto& b : bytes) {
        h ^= h << 13;
        h ^= h >> 7;
        h ^= h << 17;
        b = static_cast<char>(h >> 24);
    }
    return base64_encode(bytes);
}

Issued issue_sale(std::string_view document, const IssueContext& ctx) {
    pugi::xml_document doc;
    if (!doc.load_buffer(document.data(), document.size(), pugi::parse_default,
                         pugi::encoding_utf8))
        return refuse("06010", kRejectMalformed);
    pugi::xml_node cfe = doc.child("CFe");
    pugi::xml_node inf = cfe.child("infCFe");
    if (!inf) return refuse("06010", kRejectMalformed);
    pugi::xml_node emit_in = inf.child("emit");
    if (std::string_view(emit_in.child_value("CNPJ")) != ctx.taxpayer_cnpj)
        return refuse("06010", kRejectEmitter);
    pugi::xml_node ide_in = inf.child("ide");
    if (!ctx.associated) return refuse("06003", "0000");
    if (std::string_view(ide_in.child_value("CNPJ")) != ctx.sh_cnpj ||
        std::string_view(ide_in.child_value("signAC")) != ctx.signature)
        return refuse("06004", "0000");
    if (!inf.child("det")) return refuse("06010", kRejectNoItems);
    // The recipient's number comes back as a field of the answer: only digits of
    // the right length may get there.
    for (auto [tag, length] : {std::pair{"CPF", 11u}, std::pair{"CNPJ", 14u}}) {
        pugi::xml_node n = inf.child("dest").child(tag);
        if (!n) continue;
        std::string_view v = n.child_value();
        if (v.size() != length || v.find_first_not_of("0123456789") != std::string_view::npos)
            return refuse("06010", kRejectRecipient);
    }

    Issued out;
    out.key = access_key(ctx.uf, ctx.now, ctx.taxpayer_cnpj, ctx.serial, ctx.number, ctx.cnf);
    out.qr_signature = fake_signature(out.key);

    // Every amount is read as a decimal of its field's format. A text outside it, an
    // amount too large for its field or a discount larger than what it is taken off
    // refuses the sale, as the device's check of the content does.
    bool valid = true;
    auto read = [&valid](pugi::xml_node n, DecimalFormat format) -> long long {
        if (!n) return 0;
        std::optional<long long> v = parse_decimal(n.child_value(), format);
        valid = valid && v;
        return v.value_or(0);
    };
    auto money = [&valid](__int128 v) -> long long {
        if (v > kMoneyLimit || v < -kMoneyLimit) valid = false;
        return valid ? static_cast<long long>(v) : 0;
    };
    // A total stays within its field too; each addend is, so the sum cannot overflow.
    auto add_to = [&](long long& total, long long v) { total = money(total + __int128(v)); };

    // Items: the gross value of each (qCom x vUnCom) and its value after its own discount
    // and surcharge, the weight of its share of the subtotal's.
    struct Item {
        pugi::xml_node prod;
        long long value;
    };
    std::vector<Item> items;
    std::vector<long long> weights;
    long long sum_prod = 0, sum_desc = 0, sum_outro = 0, sum_weights = 0;
    for (pugi::xml_node det : inf.children("det")) {
        pugi::xml_node prod = det.child("prod");
        if (!prod) return refuse("06010", kRejectMalformed);
        // indRegra governs the gross value only: T truncates it to the cent, A rounds half up.
        Rounding rule = std::string_view(prod.child_value("indRegra")) == "T" ? Rounding::Truncate
                                                                              : Rounding::HalfUp;
        // Ten-thousandths of a unit times thousandths of a real: 100000 of them to the cent.
        __int128 gross = static_cast<__int128>(read(prod.child("qCom"), kQuantity)) *
                         read(prod.child("vUnCom"), kUnitPrice);
        long long v_prod = money(divide(gross, 100000, rule));
        long long v_desc = read(prod.child("vDesc"), kMoney);
        long long v_outro = read(prod.child("vOutro"), kMoney);
        long long value = v_prod - v_desc + v_outro;
        if (value < 0) valid = false;
        add_to(sum_prod, v_prod);
        add_to(sum_desc, v_desc);
        add_to(sum_outro, v_outro);
        add_to(sum_weights, value);
        if (!valid) return refuse("06010", kRejectValue);
        pugi::xml_node after = prod.child("vUnCom");
        pugi::xml_node vp =
            after ? prod.insert_child_after("vProd", after) : prod.append_child("vProd");
        vp.text().set(money_text(v_prod).c_str());
        items.push_back({prod, value});
        weights.push_back(value);
    }

    // The subtotal's discount and surcharge are shared out over the items in proportion to
    // their values (vRatDesc, vRatAcr); the last item takes the remainder.
    pugi::xml_node total = inf.child("total");
    if (!total) total = inf.insert_child_after("total", inf.last_child());
    pugi::xml_node desc_acr = total.child("DescAcrEntr");
    long long desc_subtot = read(desc_acr.child("vDescSubtot"), kMoney);
    long long acres_subtot = read(desc_acr.child("vAcresSubtot"), kMoney);
    if (!valid || desc_subtot > sum_weights) return refuse("06010", kRejectValue);
    std::vector<long long> rat_desc = spread(desc_subtot, weights);
    std::vector<long long> rat_acr = spread(acres_subtot, weights);
    long long v_cfe = money(__int128(sum_prod) - sum_desc + sum_outro - desc_subtot + acres_subtot);

    // The value of each item, and the taxes on it: ICMS on vItem, PIS and COFINS on the
    // base the point of sale gives, or on vItem where it gives none.
    long long sum_icms = 0, sum_pis = 0, sum_cofins = 0;
    // Rates in hundredths of a percent (pICMS) or ten-thousandths (pPIS, pCOFINS) alike:
    // 10000 of them to the whole.
    auto tax = [&](pugi::xml_node group, long long base, pugi::xml_node rate, const char* name,
                   DecimalFormat format) -> long long {
        long long v = money(
            divide(static_cast<__int128>(base) * read(rate, format), 10000, Rounding::HalfUp));
        group.insert_child_after(name, rate).text().set(money_text(v).c_str());
        return v;
    };
    for (size_t i = 0; i < items.size(); ++i) {
        pugi::xml_node prod = items[i].prod;
        long long v_item = items[i].value - rat_desc[i] + rat_acr[i];
        pugi::xml_node last = prod.child("vOutro")  ? prod.child("vOutro")
                              : prod.child("vDesc") ? prod.child("vDesc")
                                                    : prod.child("indRegra");
        pugi::xml_node vi =
            last ? prod.insert_child_after("vItem", last) : prod.append_child("vItem");
        vi.text().set(money_text(v_item).c_str());
        if (acres_subtot > 0)
            prod.insert_child_after("vRatAcr", vi).text().set(money_text(rat_acr[i]).c_str());
        if (desc_subtot > 0)
            prod.insert_child_after("vRatDesc", vi).text().set(money_text(rat_desc[i]).c_str());

        pugi::xml_node imposto = prod.parent().child("imposto");
        for (pugi::xml_node icms : imposto.child("ICMS").children())
            if (pugi::xml_node p = icms.child("pICMS"))
                add_to(sum_icms, tax(icms, v_item, p, "vICMS", kPercent));
        for (auto [group, rate, name, sum] : {std::tuple{"PIS", "pPIS", "vPIS", &sum_pis},
                                              {"COFINS", "pCOFINS", "vCOFINS", &sum_cofins}}) {
            for (pugi::xml_node g : imposto.child(group).children()) {
                pugi::xml_node r = g.child(rate);
                if (!r) continue;
                pugi::xml_node base = g.child("vBC");
                if (!base) {
                    base = g.insert_child_before("vBC", r);
                    base.text().set(money_text(v_item).c_str());
                }
                add_to(*sum, tax(g, read(base, kMoney), r, name, kRate));
            }
        }
        if (!valid) return refuse("06010", kRejectValue);
    }

    long long paid = 0;
    pugi::xml_node pgto = inf.child("pgto");
    for (pugi::xml_node mp : pgto.children("MP"))
        add_to(paid, read(mp.child("vMP"), kMoney));
    if (!valid) return refuse("06010", kRejectValue);
    if (paid < v_cfe) return refuse("06010", kRejectPayment);

    pugi::xml_node tot = total.prepend_child("ICMSTot");
    add(tot, "vICMS", money_text(sum_icms));
    add(tot, "vProd", money_text(sum_prod));
    add(tot, "vDesc", money_text(sum_desc));
    add(tot, "vPIS", money_text(sum_pis));
    add(tot, "vCOFINS", money_text(sum_cofins));
    add(tot, "vPISST", "0.00");
    add(tot, "vCOFINSST", "0.00");
    add(tot, "vOutro", money_text(sum_outro));
    pugi::xml_node vcfe = total.insert_child_after("vCFe", tot);
    vcfe.text().set(money_text(v_cfe).c_str());
    set_text(pgto, "vTroco", money_text(paid - v_cfe));
    out.total = money_text(v_cfe);

    pugi::xml_node dest = inf.child("dest");
    for (const char* tag : {"CPF", "CNPJ"}) {
        if (dest.child(tag)) {
            out.recipient_tag = tag;
            out.recipient = dest.child_value(tag);
            break;
        }
    }

    // ide and emit are rebuilt in the standard's order with the device's own data.
    pugi::xml_node ide = inf.insert_child_before("ide", ide_in ? ide_in : inf.first_child());
    add_device_ide(ide, ide_in, ctx, out, true);
    if (ide_in) inf.remove_child(ide_in);

    pugi::xml_node emit = inf.insert_child_after("emit", ide);
    add_emitter(emit, ctx.taxpayer_cnpj, emit_in);
    if (emit_in) inf.remove_child(emit_in);

    std::string versao_dados = inf.attribute("versaoDadosEnt").value();
    while (inf.first_attribute())
        inf.remove_attribute(inf.first_attribute());
    std::string id = "CFe" + out.key;
    inf.append_attribute("Id") = id.c_str();
    inf.append_attribute("versao") = "0.07";
    inf.append_attribute("versaoDadosEnt") = versao_dados.empty() ? "0.07" : versao_dados.c_str();
    inf.append_attribute("versaoSB") = "010000";
    add_signature(cfe, id);

    out.xml = serialize(doc);
    return out;
}

Issued issue_cancellation(std::string_view document, std::string_view key_field,
                          const SaleRecord& sale, const IssueContext& ctx) {
    if (sale.key.empty() || key_field != "CFe" + sale.key) return refuse("07002", "0000");
    pugi::xml_document in;
    if (!in.load_buffer(document.data(), document.size(), pugi::parse_default, pugi::encoding_utf8))
        return refuse("07007", kRejectMalformed);
    pugi::xml_node inf_in = in.child("CFeCanc").child("infCFe");
    if (!inf_in) return refuse("07007", kRejectMalformed);
    if (std::string_view(inf_in.attribute("chCanc").value()) != key_field)
        return refuse("07007", kRejectKeyMismatch);
    if (sale.cancelled) return refuse("07007", kRejectCancelled);
    if (ctx.now - sale.time > 30 * 60) return refuse("07007", kRejectTooLate);

    Issued out;
    out.key = access_key(ctx.uf, ctx.now, ctx.taxpayer_cnpj, ctx.serial, ctx.number, ctx.cnf);
    out.qr_signature = fake_signature(out.key);
    out.total = sale.total;
    out.recipient_tag = sale.recipient_tag;
    out.recipient = sale.recipient;

    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child("CFeCanc");
    pugi::xml_node inf = root.append_child("infCFe");
    std::string id = "CFe" + out.key;
    inf.append_attribute("Id") = id.c_str();
    inf.append_attribute("chCanc") = std::string(key_field).c_str();
    inf.append_attribute("versao") = "0.07";
    add(inf, "dEmi", local_time(sale.time, "%Y%m%d"));
    add(inf, "hEmi", local_time(sale.time, "%H%M%S"));
    pugi::xml_node ide_in = inf_in.child("ide");
    pugi::xml_node ide = inf.append_child("ide");
    add_device_ide(ide, ide_in, ctx, out, false);
    add_emitter(inf.append_child("emit"), ctx.taxpayer_cnpj, pugi::xml_node());
    pugi::xml_node dest = inf.append_child("dest");
    if (!sale.recipient_tag.empty()) add(dest, sale.recipient_tag.c_str(), sale.recipient);
    add(inf.append_child("total"), "vCFe", sale.total);
    copy_child(inf, inf_in, "infAdic");
    add_signature(root, id);
    out.xml = serialize(doc);
    return out;
}

} // namespace satemu
