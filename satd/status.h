// The device's operating status: the 28 fields of ConsultarStatusOperacional's
// answer read into values, and the warnings a technician must see before a sale
// is refused (certificate, memory, contact with the tax authority, blocking).
// A field the device leaves empty or sends malformed stays unknown (nullopt): it
// is never read as zero.
#pragma once

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace satd {

struct Status {
    std::string serial;   // NSERIE
    std::string lan_type; // DHCP or IPFIX
    std::string ip, mac, mask, gateway, dns1, dns2;
    std::string lan_status;                                 // CONECTADO or NAO_CONECTADO
    std::string battery;                                    // ALTO, MEDIO or BAIXO
    std::optional<std::uint64_t> memory_total, memory_used; // bytes
    std::optional<std::time_t> device_time;                 // DH_ATUAL
    std::string firmware;                                   // VER_SB
    std::string layout;                                     // VER_LAYOUT
    std::string last_cfe;                          // ULTIMO_CF-E-SAT as sent; empty when none
    std::string first_pending, last_pending;       // LISTA_INICIAL, LISTA_FINAL
    std::optional<std::time_t> last_transmission;  // DH_CFE
    std::optional<std::time_t> last_contact;       // DH_ULTIMA
    std::optional<std::time_t> certificate_issued; // CERT_EMISSAO
    std::optional<std::time_t> certificate_expiry; // CERT_VENCIMENTO, end of the day
    std::optional<int> state;                      // ESTADO_OPERACAO: 0 unblocked, 1-4 blocked
};

// Reads a ConsultarStatusOperacional answer. nullopt when it is not a status (a
// refusal such as 10001, a busy answer, fewer than 28 fields). The device's times
// are its local times, read in satd's time zone.
std::optional<Status> decode_status(const std::string& answer);

// "4 Gbytes", "330 Mbytes", "512 Kbytes", "100 bytes" (units of 1024); nullopt otherwise.
std::optional<std::uint64_t> memory_bytes(const std::string& text);

// ESTADO_OPERACAO in words: "desbloqueado", "bloqueado pela SEFAZ", ...
std::string state_text(std::optional<int> state);

// One condition that stops sales soon, in the technician's words.
struct Alert {
    const char* what;    // "certificado", "memoria", "comunicacao", "estado"
    std::string message; // Portuguese, for the page
    bool critical;       // already stopping sales, or within days
};

// The limits of docs/satd.md's alert rules: certificate within 30 days, memory
// over 80 %, no contact for 5 days, any block. Unknown values raise nothing.
std::vector<Alert> alerts(const Status& s, std::time_t now);

} // namespace satd
