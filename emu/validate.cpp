#include "validate.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <climits>
#include <memory>
#include <string>

#include <pugixml.hpp>

#include "cfe.h"
#include "util.h"

namespace satemu {

namespace {

bool pem_certificate(std::string_view text) {
    if (text.size() > INT_MAX) return false;
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), BIO_free);
    if (!bio) return false;
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr), X509_free);
    return cert != nullptr;
}

bool der_certificate(std::string_view bytes) {
    if (bytes.size() > LONG_MAX) return false;
    auto p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::unique_ptr<X509, decltype(&X509_free)> cert(
        d2i_X509(nullptr, &p, static_cast<long>(bytes.size())), X509_free);
    return cert && p == reinterpret_cast<const unsigned char*>(bytes.data() + bytes.size());
}

} // namespace

bool valid_cnpj(std::string_view cnpj) {
    return cnpj.size() == 14 && all_digits(cnpj) &&
           // The same modulo-11 digit as the access key's.
           cnpj[12] == key_check_digit(cnpj.substr(0, 12)) &&
           cnpj[13] == key_check_digit(cnpj.substr(0, 13));
}

bool state_code(std::string_view uf) {
    if (uf.empty() || uf.size() > 2 || !all_digits(uf)) return false;
    int n = std::stoi(std::string(uf));
    for (int code : {11, 12, 13, 14, 15, 16, 17, 21, 22, 23, 24, 25, 26, 27,
                     28, 29, 31, 32, 33, 35, 41, 42, 43, 50, 51, 52, 53})
        if (n == code) return true;
    return false;
}

bool x509_certificate(std::string_view text) {
    if (pem_certificate(text)) return true;
    auto bytes = base64_decode(text);
    return bytes && !bytes->empty() && (der_certificate(*bytes) || pem_certificate(*bytes));
}

bool ac_signature(std::string_view text) {
    if (text.size() != 344) return false;
    // The decoder stops at the first '=', so only the canonical text of 256
    // bytes counts: nothing may follow the padding.
    auto bytes = base64_decode(text);
    return bytes && bytes->size() == 256 && base64_encode(*bytes) == text;
}

bool dotted_quad(std::string_view text) {
    int parts = 0;
    while (true) {
        size_t dot = text.find('.');
        std::string_view part = text.substr(0, dot);
        if (part.empty() || part.size() > 3 || !all_digits(part) ||
            std::stoi(std::string(part)) > 255)
            return false;
        ++parts;
        if (dot == std::string_view::npos) return parts == 4;
        text.remove_prefix(dot + 1);
    }
}

bool network_document(std::string_view xml) {
    pugi::xml_document doc;
    if (xml.empty() || !doc.load_buffer(xml.data(), xml.size())) return false;
    pugi::xml_node cfg = doc.child("config");
    std::string_view inter = cfg.child_value("tipoInter");
    std::string_view lan = cfg.child_value("tipoLan");
    if (!cfg || (inter != "ETHE" && inter != "WIFI") ||
        (lan != "DHCP" && lan != "IPFIX" && lan != "PPPoE"))
        return false;
    for (const char* name : {"lanIP", "lanMask", "lanGW", "lanDNS1", "lanDNS2"}) {
        std::string_view v = cfg.child_value(name);
        bool needed = lan == "IPFIX" && std::string_view(name) == "lanIP";
        if ((needed || !v.empty()) && !dotted_quad(v)) return false;
    }
    return true;
}

} // namespace satemu
