#include "page.h"

#include <cstdio>

namespace satd {

namespace {

constexpr const char* kHead =
    "<!DOCTYPE html>\n<html lang=\"pt-BR\"><head><meta charset=\"utf-8\">"
    "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
    "<title>%s</title><style>"
    "body{font-family:system-ui,sans-serif;margin:0 auto;padding:1em;max-width:60em;"
    "color:#222;background:#fafafa}"
    "h1{font-size:1.4em}h2{font-size:1.15em;margin-top:1.5em}"
    "table{border-collapse:collapse;width:100%%}"
    "th,td{text-align:left;padding:.35em .5em;border-bottom:1px solid #ddd;"
    "vertical-align:top;overflow-wrap:anywhere}"
    "#status th{width:40%%;font-weight:normal;color:#555}"
    ".ok{color:#1a7f37}.aviso{color:#9a6700;font-weight:bold}"
    ".critico{color:#fff;background:#cf222e;font-weight:bold;padding:0 .3em}"
    ".alertas li{margin:.2em 0}"
    "form{display:inline-block;margin:.3em .3em .3em 0}"
    "button{font-size:1em;padding:.6em 1em;border:1px solid #888;border-radius:4px;"
    "background:#fff}"
    "textarea{width:100%%;min-height:6em;box-sizing:border-box}"
    "pre{white-space:pre-wrap;overflow-wrap:anywhere;background:#fff;border:1px solid #ddd;"
    "padding:.5em}"
    "@media (max-width:40em){#status th{width:auto}.calls td:nth-child(4),"
    ".calls th:nth-child(4){display:none}}"
    "</style></head><body>\n";

std::string head(const std::string& title) {
    // As long as the title needs: the device's serial number is in it.
    const std::string t = html_escape(title);
    std::string text(static_cast<size_t>(std::snprintf(nullptr, 0, kHead, t.c_str())), '\0');
    std::snprintf(text.data(), text.size() + 1, kHead, t.c_str());
    return text;
}

std::string when(std::optional<std::time_t> t, bool with_time = true) {
    if (!t) return "desconhecido";
    std::tm tm{};
    localtime_r(&*t, &tm);
    char text[32];
    std::strftime(text, sizeof text, with_time ? "%d/%m/%Y %H:%M" : "%d/%m/%Y", &tm);
    return text;
}

std::string bytes(std::optional<std::uint64_t> b) {
    if (!b) return "desconhecido";
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(*b) / (1 << 20));
    return text;
}

std::string or_unknown(const std::string& s) {
    return s.empty() ? "desconhecido" : s;
}

// One row of the status table; `alert` marks it in words and colour.
std::string row(const char* label, const std::string& value, const Alert* alert = nullptr,
                bool judged = false) {
    std::string mark;
    if (alert)
        mark = std::string(" <span class=\"") + (alert->critical ? "critico" : "aviso") + "\">" +
               (alert->critical ? "CRÍTICO" : "ATENÇÃO") + "</span>";
    else if (judged)
        mark = " <span class=\"ok\">OK</span>";
    return std::string("<tr><th>") + label + "</th><td>" + html_escape(value) + mark +
           "</td></tr>\n";
}

// A form that posts to /painel/<action>; `id` names its button (the action's own name
// when empty).
std::string button(const char* action, const char* label, const std::string& extra = "",
                   const char* id = "") {
    return std::string("<form method=\"post\" action=\"/painel/") + action + "\">" + extra +
           "<button id=\"" + (*id ? id : action) + "\" type=\"submit\">" + label +
           "</button></form>\n";
}

} // namespace

std::string html_escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string status_page(const PageData& d) {
    const Status s = d.status.value_or(Status{});
    const std::vector<Alert> found = d.status ? alerts(s, d.now) : std::vector<Alert>{};
    auto alert_of = [&](const char* what) -> const Alert* {
        for (const Alert& a : found)
            if (std::string(a.what) == what) return &a;
        return nullptr;
    };
    const bool known = d.status.has_value();
    std::string html = head("SAT " + or_unknown(s.serial) + " - satd");
    html += "<h1>SAT " + html_escape(or_unknown(s.serial)) + "</h1>\n";
    if (!d.poll_error.empty())
        html +=
            "<p class=\"critico\">Última consulta de status falhou: " + html_escape(d.poll_error) +
            "</p>\n";
    if (!found.empty()) {
        html += "<ul class=\"alertas\">";
        for (const Alert& a : found)
            html += std::string("<li class=\"") + (a.critical ? "critico" : "aviso") + "\">" +
                    html_escape(a.message) + "</li>";
        html += "</ul>\n";
    }
    html += "<h2>Status</h2><table id=\"status\">\n";
    html += row("Número de série", or_unknown(s.serial));
    html += row("Estado de operação", state_text(s.state), alert_of("estado"), s.state.has_value());
    html += row("Vencimento do certificado", when(s.certificate_expiry, false),
                alert_of("certificado"), s.certificate_expiry.has_value());
    std::string memory = bytes(s.memory_used) + " de " + bytes(s.memory_total);
    if (s.memory_used && s.memory_total && *s.memory_total)
        memory += " (" + std::to_string(*s.memory_used * 100 / *s.memory_total) + " %)";
    html += row("Memória usada", memory, alert_of("memoria"),
                s.memory_used.has_value() && s.memory_total.has_value());
    std::string contact = when(s.last_contact);
    if (s.last_contact)
        contact += ", há " + std::to_string((d.now - *s.last_contact) / 86400) + " dias";
    html += row("Última comunicação com a SEFAZ", contact, alert_of("comunicacao"),
                s.last_contact.has_value());
    html += row("Última transmissão de CF-e", when(s.last_transmission));
    html += row("CF-e mais antigo não transmitido",
                known && s.first_pending.empty() ? "nenhum" : or_unknown(s.first_pending));
    html +=
        row("Último CF-e emitido", known && s.last_cfe.empty() ? "nenhum" : or_unknown(s.last_cfe));
    html += row("Emissão do certificado", when(s.certificate_issued, false));
    html += row("Versão do software básico", or_unknown(s.firmware));
    html += row("Versão do layout", or_unknown(s.layout));
    html += row("Rede", or_unknown(s.lan_type) + " " + s.lan_status);
    html += row("IP / máscara", or_unknown(s.ip) + " / " + or_unknown(s.mask));
    html += row("Gateway / DNS", or_unknown(s.gateway) + " / " + s.dns1 + " " + s.dns2);
    html += row("MAC", or_unknown(s.mac));
    html += row("Bateria", or_unknown(s.battery));
    html += row("Hora do SAT", when(s.device_time));
    html += row("Status consultado em", d.polled ? when(d.polled) : "nunca");
    html += "</table>\n<h2>Ações</h2>\n";
    html += button("consultarsat", "ConsultarSAT");
    html += button("extrairlogs", "ExtrairLogs");
    html += button("extrairlogs", "Baixar logs",
                   "<input type=\"hidden\" name=\"baixar\" value=\"1\">", "baixarlogs");
    html += "<details><summary>TesteFimAFim</summary>" +
            button("testefimafim", "TesteFimAFim",
                   "<textarea name=\"dados_venda\" aria-label=\"dadosVenda\">" +
                       html_escape(d.test_sale) + "</textarea><br>") +
            "</details>\n";
    html += "<h2>Últimas chamadas</h2><table class=\"calls\"><tr><th>Caixa</th><th>Hora (UTC)</th>"
            "<th>Função</th><th>Código</th><th>Valor</th></tr>\n";
    for (const Entry& e : d.calls) {
        char caixa[8];
        std::snprintf(caixa, sizeof caixa, "%03d", e.caixa);
        const std::string code = e.running ? "..." : e.answer.empty() ? "nenhum" : e.code;
        html += std::string("<tr><td>") + caixa + "</td><td>" + html_escape(e.started) +
                "</td><td>" + html_escape(e.funcao) + "</td><td>" + html_escape(code) +
                "</td><td>" + html_escape(e.valor) + "</td></tr>\n";
    }
    html += "</table>\n</body></html>\n";
    return html;
}

std::string result_page(const std::string& title, const std::string& answer) {
    return head(title + " - satd") + "<h1>" + html_escape(title) + "</h1>\n<pre id=\"resultado\">" +
           html_escape(answer) + "</pre>\n<p><a href=\"/\">Voltar</a></p>\n</body></html>\n";
}

} // namespace satd
