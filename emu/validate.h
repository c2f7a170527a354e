// Checks of the input that the device refuses: CNPJ check digits, state codes,
// certificates, signatures and the network configuration document.
#pragma once

#include <string_view>

namespace satemu {

// Fourteen digits whose two last are the mod-11 check digits of the others.
bool valid_cnpj(std::string_view cnpj);
// One of the IBGE codes of the 27 Brazilian states (11 .. 53), as one or two digits.
bool state_code(std::string_view uf);
// An X.509 certificate: PEM text, or base64 of its DER or PEM form.
bool x509_certificate(std::string_view text);
// The software house's signature: 344 base64 characters, the 256 bytes of an RSA-2048 signature.
bool ac_signature(std::string_view text);
// Four decimal numbers of 0..255 separated by dots.
bool dotted_quad(std::string_view text);
// The network configuration document: <config> with a known tipoInter and tipoLan and
// every address given as a dotted quad (a fixed address needs its lanIP).
bool network_document(std::string_view xml);

} // namespace satemu
