// The CF-e as the extrato sees it: the texts it prints, read from the XML and
// checked once, so that the layout never meets a missing field.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "extrato.h"

namespace extrato {

struct Address {
    std::string street, number, complement, district, city, cep, uf;
};

struct Emitter {
    std::string cnpj, ie, im, name, trade_name;
    Address address;
};

// What the footer of a document shows and its QR code carries.
struct Stamp {
    std::string key;       // 44 digits
    std::string serial;    // nserieSAT as stored
    std::string date;      // AAAAMMDD
    std::string time;      // HHMMSS
    std::string total;     // vCFe as written
    std::string consumer;  // dest CNPJ, else CPF, else empty
    std::string signature; // assinaturaQRCODE
};

struct Item {
    std::string number, code, description, quantity, unit, unit_price, value, tax;
    std::string discount, shared_discount, surcharge, shared_surcharge;
    bool issqn = false;
    std::string issqn_deduction, issqn_base;
};

struct Sale {
    Stamp stamp;
    std::string number; // nCFe
    bool test = false;
    Emitter emitter;
    std::string consumer_cpf, consumer_cnpj, consumer_name;
    std::vector<Item> items;
    std::string gross, item_discounts, item_surcharges, subtotal_discount, subtotal_surcharge;
    std::string change, tax_total;
    std::vector<std::pair<std::string, std::string>> payments;     // cMP, vMP
    std::vector<std::pair<std::string, std::string>> fiscal_notes; // xCampo, xTexto
    std::string notes;                                             // infCpl
    std::optional<Address> delivery;
};

struct Cancellation {
    Stamp stamp;
    std::string number;
    bool test = false;
    Emitter emitter;
    std::string consumer_cpf, consumer_cnpj;
};

struct Document {
    Sale sale; // for a cancellation, the sale it cancels
    std::optional<Cancellation> cancellation;
};

struct Parsed {
    Error error = Error::None;
    std::string message;
    Document document;
};

// Reads the documents of one extrato (see render() for the forms accepted).
Parsed parse(std::string_view document, std::string_view sale);

// The XML text of a CF-e out of any accepted form: XML, base64, a device answer
// or a satcli output. On failure `error` says why and the text is empty.
std::string extract_xml(std::string_view input, Error& error, std::string& message);

} // namespace extrato
