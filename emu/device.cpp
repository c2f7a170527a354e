#include "device.h"

#include <algorithm>
#include <random>
#include <string_view>

#include <pugixml.hpp>

#include "util.h"
#include "validate.h"

namespace satemu {

const char* const preset::kSignature =
    "mNUR/sFFp91Ri8/e5lljvD4FdKLRTg93f6RS26GjJrpn/Ob3++y3yYHVtq9PZTQ0+tgqE7FEImOsp1qGAHv8BbujOvgv/"
    "vqWROyDg+ODwIsy2ku2vPylhqrzEjJ6EYzSxhfmvrDnHm0aTHhmcWG7LATWByaRBg3AzEYzHnlT43cZWx26Du/"
    "i7tAkqg3o0huYIwJxcaHC9DokaT3QY8CeVn0c9i9+PV+LMQI2dWKay8iwbY5sPZ6E+sPBlr0jH+UPkTZhiLwACqyu/"
    "2YBhHaUgXJhXgCyUehf7ONUTI+JgFTBw4mIW3pwm3keg8uox5TJJ2wOhvmGoeGJe8Rrz9U1HA==";

namespace {

constexpr const char* kBusy = "SAT em processamento. Tente novamente.";

struct CodeText {
    std::string_view code;
    const char* text;
};

// Messages of the result codes the emulator answers with.
constexpr CodeText kMessages[] = {
    {"04000", "Ativado corretamente"},
    {"04001", "Erro na criação do certificado"},
    {"04002", "SEFAZ não reconhece este SAT (CNPJ inválido)"},
    {"04003", "SAT já ativado"},
    {"04006", "CSR ICP-BRASIL criado com sucesso"},
    {"05000", "Certificado transmitido com sucesso"},
    {"05001", "Código de ativação inválido"},
    {"05003", "Certificado inválido"},
    {"06000", "Emitido com sucesso + conteúdo notas."},
    {"06001", "Código de ativação inválido"},
    {"06002", "SAT ainda não ativado"},
    {"06003", "SAT não vinculado ao AC"},
    {"06004", "Vinculação do AC não confere"},
    {"06006", "SAT bloqueado pelo contribuinte"},
    {"06010", "Erro de validação do conteúdo."},
    {"07000", "Cupom cancelado com sucesso + conteúdo CF-eSAT cancelado."},
    {"07001", "Código ativação inválido"},
    {"07002", "Cupom inválido"},
    {"07003", "SAT bloqueado pelo contribuinte"},
    {"07007", "Erro de validação do conteúdo."},
    {"08000", "SAT em operação"},
    {"09000", "Emitido com sucesso"},
    {"09001", "Código ativação inválido"},
    {"09002", "SAT ainda não ativado"},
    {"09099", "Erro desconhecido na emissão."},
    {"10000", "Resposta com Sucesso"},
    {"10001", "Código de ativação inválido"},
    {"10002", "SAT ainda não ativado"},
    {"11001", "Código de ativação inválido"},
    {"11002", "SAT ainda não ativado"},
    {"11003", "Sessão não existe"},
    {"12000", "Rede Configurada com Sucesso"},
    {"12001", "Código de ativação inválido"},
    {"12002", "Dados fora do padrão a ser informado"},
    {"13000", "Assinatura do AC Registrada"},
    {"13001", "Código de ativação inválido"},
    {"13003", "Assinatura fora do padrão especificado"},
    {"13004", "Erro de validação do conteúdo"},
    {"13007", "CNPJ do contribuinte difere daquele constante da parametrização de uso"},
    {"14000", "Software Atualizado com Sucesso"},
    {"14001", "Código de ativação inválido"},
    {"15000", "Transferência completa"},
    {"15001", "Código de ativação inválido"},
    {"16000", "Equipamento SAT bloqueado com sucesso"},
    {"16001", "Código de ativação inválido"},
    {"16002", "Equipamento SAT já está bloqueado"},
    {"17000", "Equipamento SAT desbloqueado com sucesso"},
    {"17001", "Código de ativação inválido"},
    {"17005", "SAT já desbloqueado"},
    {"18000", "Código de ativação alterado com sucesso"},
    {"18001", "Código de ativação inválido"},
    {"18002", "Código de ativação de emergência incorreto"},
    {"18003", "Confirmação do novo código não confere"},
    {"18099", "Erro desconhecido na troca do código"},
    {"19001", "Código de ativação inválido"},
    {"19002", "SAT ainda não ativado"},
    {"19003", "Não existe sessão fiscal"},
};

std::string message(std::string_view code) {
    for (const auto& m : kMessages)
        if (m.code == code) return m.text;
    if (code.size() == 5 && code.substr(2) == "097") return "Número de sessão inválido";
    if (code.size() == 5 && code.substr(2) == "098") return kBusy;
    return "Erro desconhecido";
}

std::string family_code(int family, int result) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d%03d", family, result);
    return buf;
}

std::string short_answer(const Command& cmd, const std::string& code, const char* cccc = "0000") {
    std::string a = cmd.session_field() + "|" + code + "|";
    const CommandRow* row = Device::row_of(cmd.code);
    if (row && row->cccc) a += std::string(cccc) + "|";
    return a + message(code) + "||";
}

// A fixed certificate signing request that the activation answers carry, as a device's
// would; it was made once for the preset's CNPJ and serial and its key was thrown away.
constexpr const char* kSampleCsr = R"(-----BEGIN CERTIFICATE REQUEST-----
MIICqDCCAZACAQAwYzELMAkGA1UEBhMCQlIxEzARBgNVBAoMCklDUC1CcmFzaWwx
FTATBgNVBAsMDFNBVCBFTVVMQURPUjEoMCYGA1UEAwwfU0FURU1VOjQ3MjkxNTgz
MDAwMTEwOjkwMDAwMDAwMTCCASIwDQYJKoZIhvcNAQEBBQADggEPADCCAQoCggEB
AKrXSJsf+zNLA7k8BksN3bvhRMyhxJ4b/siR0PuZ1gjVlLLNEdjme6l7+qxH7Dq6
MTVkfQqiGO9g90AW3CW7qOdJqdCxo7woy9X9Ss4wa3Z3qaXmDPlXRZgDMiPADPzR
5CC3dGCILLxTD9L82e6KgKFoKxePvS4IB+3a0SkglKIrvUtcUoCX+5cyu5GvUOnT
+7Z7fay/jW1TKEMBXiddfRakA3MFKod0sRuN2trD/ErLThG6YHnrFQlltGnz/ZDe
o/mAqPUDOrGDLBQQuRLsq/DfbRBkZ7jzPe70RXuGvUzc5fG2g972GsTBb1qxupj7
0w6oBuCc1S1WNLCmkN+kTi8CAwEAAaAAMA0GCSqGSIb3DQEBCwUAA4IBAQCe/H0V
lA9QlUeg2tMqFkws6v9yplTP2/P4sz3VYYSlC7T3N08QEwvZnOO2iL0riRswy7He
OMyo01bhu+iVHBNCnPcTwnMyecIOBEFsqmwu8HqPOdP5EmiZd23F8uUduTUVaKnK
DMaRWMAeV5onstoGg+GcYnSFBj81E62lMhid3XU1g34d6HcnUkjoUEgo1lMcvAaK
oCtxF/itAXQQhAmZPi0Ft5ILKb8UjfhznaGuhBe0jM9pqAfiJ+Pfz0m0eN7cPqkW
Qzd60mqkP8oGzxeDvZM8Dg1DcjzH5dCWgI1fBdX3KbSitpZElj4OcprXEq3yhY58
kY4uOvxYAwu6Pmcu
-----END CERTIFICATE REQUEST-----
)";

std::string trim(std::string s) {
    s.erase(0, s.find_first_not_of(' '));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

std::string network_value(const pugi::xml_node& cfg, const char* name, const char* fallback) {
    const char* v = cfg.child_value(name);
    return *v ? v : fallback;
}

std::string plus_years(std::time_t t, int years) {
    std::string ymd = local_time(t, "%Y%m%d");
    int y = std::stoi(ymd.substr(0, 4)) + years;
    return std::to_string(y) + ymd.substr(4);
}

} // namespace

const CommandRow* Device::row_of(std::string_view code) {
    using enum CommandRow::Gate;
    // The device's commands: family, CCCC field, stored-answer query, what the command needs
    // and the result on a device never activated (xx002 where the family has one).
    static constexpr CommandRow rows[] = {
        {"01", 4, false, false, Open, 1, &Device::activate},
        {"02", 5, false, false, Code, 1, &Device::certificate},
        {"03", 6, true, false, Code, 2, &Device::sale},
        {"04", 7, true, false, Code, 1, &Device::cancellation},
        {"05", 8, false, false, Open, 1, &Device::query},
        {"06", 9, false, false, Code, 2, &Device::end_to_end},
        {"07", 10, false, false, Code, 2, &Device::status},
        {"08", 11, false, true, Code, 2, &Device::session_query},
        {"09", 12, false, false, Code, 1, &Device::network},
        {"10", 13, true, false, Code, 1, &Device::associate},
        {"11", 14, false, false, Code, 1, &Device::update},
        {"12", 15, false, false, Code, 1, &Device::logs},
        {"13", 16, false, false, Code, 1, &Device::block},
        {"14", 17, false, false, Code, 1, &Device::unblock},
        {"15", 18, false, false, Activated, 1, &Device::change_code},
        {"20", 19, false, true, Code, 2, &Device::last_fiscal},
    };
    for (const auto& row : rows)
        if (code == row.code) return &row;
    return nullptr;
}

int family_of(const std::string& code) {
    const CommandRow* row = Device::row_of(code);
    return row ? row->family : 0;
}

const std::string* DeviceState::stored(long long session) const {
    for (auto it = sessions.rbegin(); it != sessions.rend(); ++it)
        if (it->first == session) return &it->second;
    return nullptr;
}

void DeviceState::store(long long session, std::string answer) {
    std::erase_if(sessions, [&](const auto& p) { return p.first == session; });
    sessions.emplace_back(session, std::move(answer));
    while (sessions.size() > kStoredSessions)
        sessions.pop_front();
    ++stores;
}

void DeviceState::add_event(std::string line) {
    events.push_back(std::move(line));
    if (events.size() > kEventLines)
        events.erase(events.begin(),
                     events.begin() + static_cast<long>(events.size() - kEventLines));
    ++events_logged;
}

void Device::apply_preset(const std::string& code) {
    state_.activated = true;
    state_.code = code;
    state_.taxpayer_cnpj = preset::kTaxpayerCnpj;
    state_.uf = preset::kUf;
    state_.sh_cnpj = preset::kSoftwareHouseCnpj;
    state_.signature = preset::kSignature;
    state_.activation_time = clock();
    contact();
    log_event("SAT ativado (preset)");
    changed();
}

void Device::log_event(const std::string& text) {
    state_.add_event(local_time(clock(), "%Y%m%d%H%M%S") + "|SAT|info|" + text);
}

void Device::changed() {
    if (on_change) on_change();
}

std::string Device::busy_answer(const Command& cmd) const {
    return short_answer(cmd, family_code(family_of(cmd.code), 98));
}

void Device::store_answer(const Command& cmd, const std::string& answer) {
    const CommandRow* row = row_of(cmd.code);
    if (row && row->stored) return;
    state_.store(cmd.session, answer);
    if (cmd.code == "03" || cmd.code == "04") state_.last_fiscal = answer;
}

std::string Device::handle(const Command& cmd) {
    const CommandRow* row = row_of(cmd.code);
    if (!row) return {};
    // A repeated session number is refused without replacing the answer stored for it.
    if (options_.unique_sessions && !row->stored && state_.stored(cmd.session))
        return short_answer(cmd, family_code(row->family, 97));
    std::string answer = dispatch(cmd, *row);
    store_answer(cmd, answer);
    std::string_view result = answer;
    size_t bar = result.find('|');
    log_event("comando " + cmd.code + " sessao " + cmd.session_field() + " resultado " +
              std::string(bar == std::string_view::npos ? "" : result.substr(bar + 1, 5)));
    changed();
    return answer;
}

IssueContext Device::context(long number) {
    IssueContext ctx;
    ctx.uf = state_.uf;
    ctx.serial = state_.serial;
    ctx.taxpayer_cnpj = state_.taxpayer_cnpj;
    ctx.associated = state_.associated();
    ctx.sh_cnpj = state_.sh_cnpj;
    ctx.signature = state_.signature;
    ctx.number = number;
    if (random_cnf) {
        ctx.cnf = random_cnf();
    } else {
        static std::mt19937 gen{std::random_device{}()};
        ctx.cnf = std::uniform_int_distribution<long>(0, 999999)(gen);
    }
    ctx.now = clock();
    return ctx;
}

std::string Device::dispatch(const Command& cmd, const CommandRow& row) {
    if (row.gate != CommandRow::Open && !state_.activated)
        return short_answer(cmd, family_code(row.family, row.not_activated));
    if (row.gate == CommandRow::Code && cmd.field(0) != state_.code) {
        // The status query's answer to a wrong code differs between devices.
        if (cmd.code == "07")
            return short_answer(cmd, family_code(10, options_.status_wrong_code % 1000));
        return short_answer(cmd, family_code(row.family, 1));
    }
    return (this->*row.run)(cmd);
}

void Device::contact() {
    state_.last_contact = clock();
}

std::string Device::query(const Command& cmd) {
    return cmd.session_field() + "|08000|" + message("08000") + "||";
}

std::string Device::activate(const Command& cmd) {
    if (state_.activated) return short_answer(cmd, "04003");
    if (cmd.field(1).empty()) return short_answer(cmd, "04001");
    std::string uf = trim(cmd.field(3));
    if (!valid_cnpj(cmd.field(2)) || !state_code(uf)) return short_answer(cmd, "04002");
    state_.activated = true;
    state_.code = cmd.field(1);
    state_.taxpayer_cnpj = cmd.field(2);
    state_.uf = uf.size() == 1 ? "0" + uf : uf;
    state_.activation_time = clock();
    contact();
    log_event("SAT ativado para o CNPJ " + state_.taxpayer_cnpj);
    std::string code = trim(cmd.field(0)) == "2" ? "04006" : "04000";
    return cmd.session_field() + "|" + code + "|" + message(code) + "|||" +
           base64_encode(kSampleCsr);
}

std::string Device::change_code(const Command& cmd) {
    std::string option = trim(cmd.field(1));
    if (option == "1" && cmd.field(0) != state_.code) return short_answer(cmd, "18001");
    if (option == "2" && cmd.field(0) != state_.emergency_code) return short_answer(cmd, "18002");
    if (option != "1" && option != "2") return short_answer(cmd, "18099");
    if (cmd.field(2) != cmd.field(3)) return short_answer(cmd, "18003");
    if (cmd.field(2).empty()) return short_answer(cmd, "18099");
    state_.code = cmd.field(2);
    log_event("codigo de ativacao alterado");
    return short_answer(cmd, "18000");
}

std::string Device::certificate(const Command& cmd) {
    if (!x509_certificate(cmd.field(1))) return short_answer(cmd, "05003");
    contact();
    log_event("certificado ICP-Brasil instalado");
    return short_answer(cmd, "05000");
}

std::string Device::sale(const Command& cmd) {
    if (state_.blocked) return short_answer(cmd, "06006");
    return fiscal_sale(cmd, false);
}

std::string Device::end_to_end(const Command& cmd) {
    return fiscal_sale(cmd, true);
}

std::string Device::session_query(const Command& cmd) {
    const std::string& asked = cmd.field(1);
    if (all_digits(asked) && asked.size() <= 18)
        if (const std::string* a = state_.stored(std::stoll(asked))) return *a;
    return short_answer(cmd, "11003");
}

std::string Device::network(const Command& cmd) {
    if (!network_document(cmd.field(1))) return short_answer(cmd, "12002");
    state_.network = cmd.field(1);
    log_event("interface de rede configurada");
    return short_answer(cmd, "12000");
}

std::string Device::associate(const Command& cmd) {
    const std::string& value = cmd.field(1);
    if (value.size() != 28 || !valid_cnpj(value.substr(0, 14)) || !valid_cnpj(value.substr(14)))
        return short_answer(cmd, "13004");
    if (value.substr(14) != state_.taxpayer_cnpj) return short_answer(cmd, "13007");
    if (!ac_signature(cmd.field(2))) return short_answer(cmd, "13003");
    state_.sh_cnpj = value.substr(0, 14);
    state_.signature = cmd.field(2);
    contact();
    log_event("assinatura do AC registrada para o CNPJ " + state_.sh_cnpj);
    return short_answer(cmd, "13000");
}

std::string Device::update(const Command& cmd) {
    contact();
    log_event("software atualizado");
    return short_answer(cmd, "14000");
}

std::string Device::logs(const Command& cmd) {
    std::string log;
    for (const auto& line : state_.events)
        log += line + "\n";
    return cmd.session_field() + "|15000|" + message("15000") + "|||" + base64_encode(log);
}

std::string Device::block(const Command& cmd) {
    if (state_.blocked) return short_answer(cmd, "16002");
    state_.blocked = true;
    log_event("SAT bloqueado pelo contribuinte");
    return short_answer(cmd, "16000");
}

std::string Device::unblock(const Command& cmd) {
    if (!state_.blocked) return short_answer(cmd, "17005");
    state_.blocked = false;
    log_event("SAT desbloqueado pelo contribuinte");
    return short_answer(cmd, "17000");
}

std::string Device::last_fiscal(const Command& cmd) {
    if (state_.last_fiscal.empty()) return short_answer(cmd, "19003");
    return state_.last_fiscal;
}

std::string Device::fiscal_sale(const Command& cmd, bool test) {
    IssueContext ctx = context(state_.counter + 1);
    ctx.test = test;
    Issued r = issue_sale(cmd.field(1), ctx);
    std::string sess = cmd.session_field();
    std::string stamp = local_time(ctx.now, "%Y%m%d%H%M%S");
    if (test) {
        if (!r.code.empty()) return short_answer(cmd, "09099");
        contact();
        log_event("teste fim a fim: CFe" + r.key);
        return sess + "|09000|" + message("09000") + "|||" + base64_encode(r.xml) + "|" + stamp +
               "|" + std::to_string(1000000 + ctx.number % 1000000).substr(1) + "|CFe" + r.key;
    }
    if (!r.code.empty()) return short_answer(cmd, r.code, r.rejection.c_str());
    state_.counter = ctx.number;
    state_.last_sale = SaleRecord{r.key, r.total, r.recipient_tag, r.recipient, ctx.now, false};
    if (state_.first_key.empty()) state_.first_key = r.key;
    state_.last_key = r.key;
    state_.last_cfe_time = ctx.now;
    contact();
    log_event("CF-e emitido: CFe" + r.key);
    return sess + "|06000|0000|" + message("06000") + "|||" + base64_encode(r.xml) + "|" + stamp +
           "|CFe" + r.key + "|" + r.total + "|" + r.recipient + "|" + r.qr_signature;
}

std::string Device::cancellation(const Command& cmd) {
    if (state_.blocked) return short_answer(cmd, "07003");
    IssueContext ctx = context(state_.counter + 1);
    Issued r = issue_cancellation(cmd.field(2), cmd.field(1), state_.last_sale, ctx);
    if (!r.code.empty()) return short_answer(cmd, r.code, r.rejection.c_str());
    state_.counter = ctx.number;
    state_.last_sale.cancelled = true;
    state_.last_key = r.key;
    state_.last_cfe_time = ctx.now;
    contact();
    log_event("CF-e cancelado: CFe" + state_.last_sale.key);
    // The older firmware's answer lacks CPFCNPJValue.
    std::string recipient = options_.cancel_answer_fields == 11 ? "" : r.recipient + "|";
    return cmd.session_field() + "|07000|0000|" + message("07000") + "|||" + base64_encode(r.xml) +
           "|" + local_time(ctx.now, "%Y%m%d%H%M%S") + "|CFe" + r.key + "|" + r.total + "|" +
           recipient + r.qr_signature;
}

std::string Device::status(const Command& cmd) {
    pugi::xml_document net;
    if (!state_.network.empty()) net.load_buffer(state_.network.data(), state_.network.size());
    pugi::xml_node cfg = net.child("config");
    std::string tipo = network_value(cfg, "tipoLan", "DHCP");
    bool fixed = tipo.rfind("IPFIX", 0) == 0;
    auto addr = [&](const char* name, const char* dhcp) {
        return fixed ? network_value(cfg, name, dhcp) : std::string(dhcp);
    };
    std::string mac = "02:53:41:" + state_.serial.substr(3, 2) + ":" + state_.serial.substr(5, 2) +
                      ":" + state_.serial.substr(7, 2);
    std::time_t now = clock();
    std::string last_time =
        state_.last_cfe_time ? local_time(state_.last_cfe_time, "%Y%m%d%H%M%S") : "";
    // A state file of an older satemu has no last contact: activation was one.
    std::time_t contact_time = state_.last_contact
                                   ? state_.last_contact
                                   : std::max(state_.activation_time, state_.last_cfe_time);
    std::time_t cert = state_.activation_time ? state_.activation_time : now;
    std::vector<std::string> f = {
        cmd.session_field(),
        "10000",
        message("10000"),
        "",
        "",
        state_.serial,
        fixed ? "IPFIX" : "DHCP",
        addr("lanIP", "192.168.0.50"),
        mac,
        addr("lanMask", "255.255.255.0"),
        addr("lanGW", "192.168.0.1"),
        addr("lanDNS1", "8.8.8.8"),
        addr("lanDNS2", "8.8.4.4"),
        "CONECTADO",
        "ALTO",
        "4 Gbytes",
        std::to_string(330 + state_.counter / 200) + " Mbytes",
        local_time(now, "%Y%m%d%H%M%S"),
        "01.00.00",
        "00.07",
        state_.last_key,
        state_.first_key,
        state_.last_key,
        last_time,
        contact_time ? local_time(contact_time, "%Y%m%d%H%M%S") : "",
        local_time(cert, "%Y%m%d"),
        plus_years(cert, 5),
        state_.blocked ? "2" : "0",
    };
    std::string out;
    for (size_t i = 0; i < f.size(); ++i)
        out += (i ? "|" : "") + f[i];
    return out;
}

std::string Device::summary() const {
    const DeviceState& s = state_;
    return "activated=" + std::to_string(s.activated) + " blocked=" + std::to_string(s.blocked) +
           " serial=" + s.serial + " code=" + s.code + " uf=" + s.uf +
           " taxpayer=" + s.taxpayer_cnpj + " associated=" + std::to_string(s.associated()) +
           " counter=" + std::to_string(s.counter) +
           " sessions=" + std::to_string(s.sessions.size()) + " last_sale=" + s.last_sale.key +
           " cancelled=" + std::to_string(s.last_sale.cancelled) +
           " events=" + std::to_string(s.events.size());
}

} // namespace satemu
