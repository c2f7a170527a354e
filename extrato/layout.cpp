#include "layout.h"

#include <charconv>

#include "format.h"

namespace extrato {

namespace {

struct Payment {
    std::string_view code, short_label, long_label;
};
constexpr Payment kPayments[] = {
    {"01", "Dinheiro", "Dinheiro"},
    {"02", "Cheque", "Cheque"},
    {"03", "Cartão Crédito", "Cartão de Crédito"},
    {"04", "Cartão Débito", "Cartão de Débito"},
    {"05", "Crédito Loja", "Crédito Loja"},
    {"10", "Vale Alimentação", "Vale Alimentação"},
    {"11", "Vale Refeição", "Vale Refeição"},
    {"12", "Vale Presente", "Vale Presente"},
    {"13", "Vale Combustível", "Vale Combustível"},
    {"15", "Boleto Bancário", "Boleto Bancário"},
    {"16", "Depósito Bancário", "Depósito Bancário"},
    {"17", "Pix", "Pagamento Instantâneo (PIX)"},
    {"18", "Carteira Digital", "Transferência bancária, Carteira Digital"},
    {"19", "Cashback", "Programa de fidelidade, Cashback, Crédito Virtual"},
    {"90", "Sem Pagamento", "Sem Pagamento"},
    {"99", "Outros", "Outros"},
};

constexpr std::string_view kLegend =
    "# | COD | DESC | QTD | UN | VL UN R$ | (VL TR R$)* | VL ITEM R$";

class Builder {
  public:
    Builder(const Options& o, Columns c) : options_(o), cols_(c) {}

    Layout take() { return std::move(layout_); }

    void line(std::string text, bool bold = false, bool condensed = false,
              Align align = Align::Left) {
        Block b;
        b.text = std::move(text);
        b.bold = bold;
        b.condensed = condensed;
        b.align = align;
        layout_.blocks.push_back(std::move(b));
    }
    void lines(std::string_view text, bool bold, bool condensed, Align align) {
        for (std::string& l : wrap(text, columns(condensed)))
            line(std::move(l), bold, condensed, align);
    }
    void pair(std::string_view label, std::string_view value, bool bold = false,
              bool condensed = false, std::size_t gap = 4) {
        for (std::string& l : label_value(label, value, columns(condensed), gap))
            line(std::move(l), bold, condensed);
    }
    void blank() { line(""); }
    void separator() { line(std::string(cols_.normal, '-')); }
    void special(Block::Kind kind, std::string text, int n = 0) {
        Block b;
        b.kind = kind;
        b.text = std::move(text);
        b.lines = n;
        b.align = Align::Center;
        layout_.blocks.push_back(std::move(b));
    }
    std::size_t columns(bool condensed) const { return condensed ? cols_.condensed : cols_.normal; }

    void header(const Emitter& e) {
        const Address& a = e.address;
        if (!e.trade_name.empty()) lines(e.trade_name, true, false, Align::Center);
        lines(e.name, true, false, Align::Center);
        std::string street = a.street;
        if (!a.number.empty()) street += (street.empty() ? "" : ", ") + a.number;
        if (!a.complement.empty()) {
            if (width(street) + 2 + width(a.complement) <= cols_.normal) {
                street += (street.empty() ? "" : ", ") + a.complement;
            } else {
                lines(street, false, false, Align::Center);
                street = a.complement;
            }
        }
        lines(street, false, false, Align::Center);
        lines(a.district, false, false, Align::Center);
        std::string city = a.city + (a.uf.empty() ? "" : "/" + a.uf);
        if (!a.cep.empty()) city += " CEP: " + cep_text(a.cep);
        lines(city, false, false, Align::Center);
        lines("CNPJ: " + cnpj_text(e.cnpj), false, false, Align::Left);
        lines("IE: " + e.ie, false, false, Align::Left);
        if (options_.im_always || !e.im.empty()) lines("IM: " + e.im, false, false, Align::Left);
        separator();
    }

    void title(const std::string& number, bool test, bool cancellation) {
        line("Extrato No. " + (test ? std::string("000000") : number), true, false, Align::Center);
        line("CUPOM FISCAL ELETRÔNICO - SAT", true, false, Align::Center);
        if (cancellation) line("CANCELAMENTO", true, false, Align::Center);
        if (test) {
            blank();
            line("= T E S T E =", false, false, Align::Center);
            blank();
            for (int i = 0; i < 3; ++i)
                line(std::string(cols_.normal, '>'));
        }
        separator();
    }

    // "CPF/CNPJ do Consumidor: ..." when the buyer's number is a valid one.
    bool consumer(const std::string& cpf, const std::string& cnpj) {
        std::string number = valid_cnpj(cnpj) ? cnpj_text(cnpj)
                             : valid_cpf(cpf) ? cpf_text(cpf)
                                              : "";
        if (!number.empty()) lines("CPF/CNPJ do Consumidor: " + number, false, false, Align::Left);
        return !number.empty();
    }

    void items(const Sale& s) {
        lines(kLegend, false, true, Align::Left);
        separator();
        const std::size_t cols = columns(true);
        for (const Item& it : s.items) {
            std::string number = it.number;
            if (number.size() < 3) number.insert(0, 3 - number.size(), '0');
            std::vector<std::string> text =
                wrap(number + " " + it.code + " " + it.description, cols);
            std::string detail =
                quantity(it.quantity) + " " + it.unit + " x " + money(it.unit_price);
            if (!is_zero(it.tax)) detail += " (" + money(it.tax) + ")";
            detail += " " + money(it.value);
            const std::size_t last = width(text.back()), d = width(detail);
            if (last + 1 + d <= cols) {
                text.back() += std::string(cols - last - d, ' ') + detail;
            } else {
                text.push_back(std::string(cols > d ? cols - d : 0, ' ') + detail);
            }
            for (std::string& l : text)
                line(std::move(l), false, true);
            adjustment("desconto sobre item", it.discount, "- ");
            adjustment("rateio de desconto sobre subtotal", it.shared_discount, "- ");
            adjustment("acréscimo sobre item", it.surcharge, "+ ");
            adjustment("rateio de acréscimo sobre subtotal", it.shared_surcharge, "+ ");
            if (it.issqn) {
                adjustment("dedução para ISSQN", it.issqn_deduction, "- ");
                pair("base de cálculo ISSQN", money(it.issqn_base.empty() ? "0.00" : it.issqn_base),
                     false, true, 1);
            }
        }
    }
    void adjustment(std::string_view label, const std::string& value, std::string_view sign,
                    bool condensed = true) {
        if (!is_zero(value))
            pair(label, std::string(sign) + money(value), false, condensed, condensed ? 1 : 4);
    }

    void totals(const Sale& s) {
        blank();
        if (!is_zero(s.item_discounts) || !is_zero(s.item_surcharges) ||
            !is_zero(s.subtotal_discount) || !is_zero(s.subtotal_surcharge)) {
            pair("Total bruto de itens", money(s.gross));
            adjustment("Total de descontos sobre item", s.item_discounts, "- ", false);
            adjustment("Desconto sobre subtotal", s.subtotal_discount, "- ", false);
            adjustment("Total de acréscimos sobre item", s.item_surcharges, "+ ", false);
            adjustment("Acréscimo sobre subtotal", s.subtotal_surcharge, "+ ", false);
        }
        pair("TOTAL R$", money(s.stamp.total), true);
        blank();
        for (const auto& [code, value] : s.payments) {
            std::string label = code;
            for (const Payment& p : kPayments)
                if (p.code == code)
                    label = options_.payment_labels == PaymentLabels::Short ? p.short_label
                                                                            : p.long_label;
            pair(label, money(value));
        }
        if (!is_zero(s.change)) pair("Troco R$", money(s.change));
    }

    void notes(const Sale& s) {
        for (const auto& [name, text] : s.fiscal_notes)
            lines(name + ": " + text, false, true, Align::Left);
        if (s.delivery) {
            const Address& a = *s.delivery;
            separator();
            line("DADOS PARA ENTREGA", true);
            std::string place = a.street;
            for (const std::string* part : {&a.number, &a.complement})
                if (!part->empty()) place += ", " + *part;
            place += " / " + a.district + " / " + a.city + (a.uf.empty() ? "" : "/" + a.uf);
            lines("Endereço: " + place, false, false, Align::Left);
            if (!s.consumer_name.empty())
                lines("Destinatário: " + s.consumer_name, false, false, Align::Left);
        }
        if (!options_.summary)
            lines("*Valor aproximado dos tributos do item.", false, true, Align::Left);
        if (!s.notes.empty() || !is_zero(s.tax_total)) {
            separator();
            line("OBSERVAÇÕES DO CONTRIBUINTE", true);
            lines(s.notes, false, true, Align::Left);
            if (!is_zero(s.tax_total)) {
                lines("Valor aproximado dos tributos deste cupom", false, true, Align::Left);
                pair("(Lei Fed. 12.741/2012) R$", money(s.tax_total), false, true);
            }
        }
    }

    // SAT number, time, key as text and bars, QR code and, where asked, the message.
    void stamp(const Stamp& st, bool message) {
        line("SAT no. " + st.serial, true, false, Align::Center);
        line(date_time(st.date, st.time), false, false, Align::Center);
        blank();
        lines(grouped_key(st.key), false, true, Align::Center);
        std::vector<int> parts = bar_split(options_.profile.bar_split);
        if (parts.empty()) parts = {22, 22};
        std::size_t at = 0;
        for (int n : parts) {
            special(Block::Bars, st.key.substr(at, n));
            at += n;
        }
        special(Block::Qr, qr_content(st));
        if (message)
            lines("Consulte o QRCode pelo aplicativo " + options_.app +
                      ", disponível na AppStore (Apple) e PlayStore (Android)",
                  false, true, Align::Center);
    }

    void end() {
        separator();
        if (!options_.footer.empty()) lines(options_.footer, false, false, Align::Center);
        special(Block::Feed, "", 7);
        if (options_.profile.cutter) special(Block::Cut, "");
    }

  private:
    const Options& options_;
    Columns cols_;
    Layout layout_;
};

} // namespace

std::string qr_content(const Stamp& s) {
    return s.key + "|" + s.date + s.time + "|" + s.total + "|" + s.consumer + "|" + s.signature;
}

std::vector<int> bar_split(const std::string& split) {
    std::vector<int> parts;
    int sum = 0;
    for (std::string_view rest = split; !rest.empty();) {
        const std::string_view part = rest.substr(0, rest.find(','));
        rest.remove_prefix(std::min(rest.size(), part.size() + 1));
        int n = 0;
        const auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), n);
        if (ec != std::errc() || end != part.data() + part.size() || n <= 0 || n % 2) return {};
        parts.push_back(n);
        sum += n;
    }
    return sum == 44 ? parts : std::vector<int>{};
}

Layout make_layout(const Document& d, const Options& o, Columns c) {
    Builder b(o, c);
    const Sale& s = d.sale;
    if (!d.cancellation) {
        b.header(s.emitter);
        b.title(s.number, s.test, false);
        if (b.consumer(s.consumer_cpf, s.consumer_cnpj)) b.separator();
        if (!o.summary) b.items(s);
        b.totals(s);
        b.notes(s);
        b.separator();
        b.stamp(s.stamp, true);
    } else {
        const Cancellation& k = *d.cancellation;
        b.header(k.emitter);
        b.title(k.number, k.test, true);
        b.lines("DADOS DO CUPOM FISCAL ELETRÔNICO CANCELADO", true, true, Align::Left);
        b.blank();
        b.consumer(k.consumer_cpf, k.consumer_cnpj);
        b.pair("TOTAL R$", money(k.stamp.total), true);
        b.separator();
        b.stamp(s.stamp, false);
        b.separator();
        b.lines("DADOS DO CUPOM FISCAL ELETRÔNICO DE CANCELAMENTO", true, false, Align::Center);
        b.stamp(k.stamp, true);
    }
    b.end();
    return b.take();
}

} // namespace extrato
