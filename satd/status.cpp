#include "status.h"

#include "form.h"

#include <cstdlib>

namespace satd {

namespace {

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> out(1);
    for (const char c : text)
        if (c == '|')
            out.emplace_back();
        else
            out.back() += c;
    return out;
}

// AAAAMMDDHHMMSS (`size` 14) or AAAAMMDD (8) as a local time; nullopt when empty,
// of another length or not a real date.
std::optional<std::time_t> local_time(const std::string& text, size_t size = 14) {
    if (!all_digits(text, size, size)) return std::nullopt;
    auto part = [&](size_t at, size_t n) {
        return at < text.size() ? std::atoi(text.substr(at, n).c_str()) : 0;
    };
    std::tm tm{};
    tm.tm_year = part(0, 4) - 1900;
    tm.tm_mon = part(4, 2) - 1;
    tm.tm_mday = part(6, 2);
    tm.tm_hour = part(8, 2);
    tm.tm_min = part(10, 2);
    tm.tm_sec = part(12, 2);
    tm.tm_isdst = -1;
    const std::tm asked = tm;
    const std::time_t t = std::mktime(&tm);
    // mktime carries 31 February into March: such a date is malformed, not read.
    if (t == -1 || tm.tm_mday != asked.tm_mday || tm.tm_mon != asked.tm_mon ||
        tm.tm_hour != asked.tm_hour || tm.tm_min != asked.tm_min || asked.tm_year < 100)
        return std::nullopt;
    return t;
}

std::string key_or_empty(const std::string& text) {
    // Devices send 44 zeros, or nothing, when there is no such CF-e. Any other text
    // is kept as sent: a malformed key is not "none".
    return text.find_first_not_of('0') == std::string::npos ? "" : text;
}

} // namespace

std::optional<std::uint64_t> memory_bytes(const std::string& text) {
    static const std::pair<const char*, std::uint64_t> kUnits[] = {{"bytes", 1},
                                                                   {"Kbytes", 1ull << 10},
                                                                   {"Mbytes", 1ull << 20},
                                                                   {"Gbytes", 1ull << 30},
                                                                   {"Tbytes", 1ull << 40}};
    const size_t space = text.find(' ');
    const std::string number = text.substr(0, space);
    if (space == std::string::npos || !all_digits(number, 1, 15)) return std::nullopt;
    const std::string unit = text.substr(space + 1);
    const std::uint64_t n = std::strtoull(number.c_str(), nullptr, 10);
    // No device holds UINT64_MAX / 100 bytes: a size past that is malformed, and the
    // percentages of the alerts and the page stay within 64 bits.
    for (const auto& [name, scale] : kUnits)
        if (unit == name && n <= UINT64_MAX / 100 / scale) return n * scale;
    return std::nullopt;
}

std::optional<Status> decode_status(const std::string& answer) {
    std::vector<std::string> f = split(answer);
    // Some devices end the answer with a '|': an empty 29th field.
    if (f.size() == 29 && f.back().empty()) f.pop_back();
    if (f.size() != 28 || f[1] != "10000") return std::nullopt;
    Status s;
    s.serial = f[5];
    s.lan_type = f[6];
    s.ip = f[7];
    s.mac = f[8];
    s.mask = f[9];
    s.gateway = f[10];
    s.dns1 = f[11];
    s.dns2 = f[12];
    s.lan_status = f[13];
    s.battery = f[14];
    s.memory_total = memory_bytes(f[15]);
    s.memory_used = memory_bytes(f[16]);
    s.device_time = local_time(f[17]);
    s.firmware = f[18];
    s.layout = f[19];
    s.last_cfe = key_or_empty(f[20]);
    s.first_pending = key_or_empty(f[21]);
    s.last_pending = key_or_empty(f[22]);
    s.last_transmission = local_time(f[23]);
    s.last_contact = local_time(f[24]);
    s.certificate_issued = local_time(f[25], 8);
    // A certificate is valid through its last day.
    if (const auto day = local_time(f[26], 8)) s.certificate_expiry = *day + 86399;
    if (f[27].size() == 1 && f[27][0] >= '0' && f[27][0] <= '4') s.state = f[27][0] - '0';
    return s;
}

std::string state_text(std::optional<int> state) {
    static const char* const kStates[] = {
        "desbloqueado", "bloqueado pela SEFAZ", "bloqueado pelo contribuinte",
        "bloqueado por falta de comunicação", "bloqueado definitivamente"};
    return state ? kStates[*state] : "desconhecido";
}

std::vector<Alert> alerts(const Status& s, std::time_t now) {
    constexpr std::time_t kDay = 86400;
    std::vector<Alert> out;
    if (s.certificate_expiry) {
        const long days = static_cast<long>((*s.certificate_expiry - now) / kDay);
        if (*s.certificate_expiry <= now)
            out.push_back({"certificado", "certificado vencido", true});
        else if (days < 30)
            out.push_back({"certificado", "certificado vence em " + std::to_string(days) + " dias",
                           days < 7});
    }
    if (s.memory_total && s.memory_used && *s.memory_total > 0) {
        const auto percent = *s.memory_used * 100 / *s.memory_total;
        if (*s.memory_used * 5 > *s.memory_total * 4)
            out.push_back(
                {"memoria", "memória " + std::to_string(percent) + " % usada", percent >= 95});
    }
    if (s.last_contact && now - *s.last_contact >= 5 * kDay)
        out.push_back({"comunicacao",
                       "sem comunicação com a SEFAZ há " +
                           std::to_string((now - *s.last_contact) / kDay) + " dias",
                       now - *s.last_contact >= 10 * kDay});
    if (s.state && *s.state != 0) out.push_back({"estado", "SAT " + state_text(s.state), true});
    return out;
}

} // namespace satd
