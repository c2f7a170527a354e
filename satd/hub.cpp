#include "hub.h"

#include "base64.h"
#include "extrato.h"
#include "page.h"

#include <nlohmann/json.hpp>
#include <openssl/crypto.h>
#include <openssl/evp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace satd {

namespace {

using Clock = std::chrono::steady_clock;

bool is_busy(const std::string& code) {
    return code.size() == 5 && code.ends_with("098");
}

const Function* by_funcao(const std::string& funcao) {
    for (const Function& f : functions())
        if (funcao == f.funcao) return &f;
    return nullptr;
}

std::string digest_of(const Function& f, int caixa, const Fields& fields) {
    std::string text = std::string(f.funcao) + '\n' + std::to_string(caixa) + '\n';
    for (const Field& field : f.fields) {
        const auto it = fields.find(field.name);
        const std::string v = it == fields.end() ? "" : it->second;
        text += std::string(field.name) + '=' + std::to_string(v.size()) + ':' + v + '\n';
    }
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(text.data(), text.size(), md, &size, EVP_sha256(), nullptr);
    std::string out;
    char two[3];
    for (unsigned int i = 0; i < size; ++i) {
        std::snprintf(two, sizeof two, "%02x", md[i]);
        out += two;
    }
    return out;
}

// Compares without stopping at the first difference, so the time says nothing.
bool same_secret(const std::string& a, const std::string& b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

std::string header(const Request& r, const char* name) {
    const auto it = r.headers.find(name);
    return it == r.headers.end() ? std::string() : it->second;
}

// A client's text in a log line: one line, not too long.
std::string printable(const std::string& text) {
    std::string out = text.substr(0, 200);
    for (char& c : out)
        if (static_cast<unsigned char>(c) < ' ' || c == 0x7f) c = '?';
    return out;
}

long since(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

} // namespace

Reply error_reply(int status, const std::string& erro) {
    nlohmann::json j{{"erro", erro}};
    return {status,
            j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
            "application/json",
            {}};
}

Hub::Hub(const Config& config, Journal& journal, Device& device)
    : config_(config), printers_(config.printers), journal_(journal), device_(device) {
    // A code changed through satd is kept in the journal and wins over the file's.
    code_ = journal_.setting("activation_code");
    if (code_.empty()) code_ = config_.activation_code;
}

// Read under its lock: TrocarCodigoDeAtivacao changes it on the device worker.
std::string Hub::activation_code() {
    std::lock_guard<std::mutex> hold(code_mutex_);
    return code_;
}

namespace {

// The request carries `token`: as a bearer token, or as the password of a
// browser's Basic authorization (any user name).
bool has_token(const Request& r, const std::string& token) {
    if (token.empty()) return true;
    const std::string auth = header(r, "authorization");
    if (same_secret(auth, "Bearer " + token)) return true;
    if (auth.rfind("Basic ", 0) != 0) return false;
    const std::optional<std::string> pair =
        torvane::base64_decode(std::string_view(auth).substr(6));
    const size_t colon = pair ? pair->find(':') : std::string::npos;
    return colon != std::string::npos && same_secret(pair->substr(colon + 1), token);
}

} // namespace

bool Hub::admin(const Request& r) const {
    return config_.admin.contains(r.remote) && has_token(r, config_.admin_token);
}

bool Hub::allowed(const Function& f, const Request& r) const {
    if (admin(r)) return true;
    return f.checkout && config_.checkouts.contains(r.remote) &&
           has_token(r, config_.checkouts_token);
}

bool Hub::foreign_origin(const Request& r) const {
    if (!r.headers.count("origin")) return false;
    const std::string origin = header(r, "origin");
    for (const std::string& o : config_.origins)
        if (o == origin) return false;
    // A browser that reached satd by its address, not by a name (which a foreign
    // site could point here), names that address in both headers: the technician's
    // own page on a wildcard listen address.
    const std::string host = header(r, "host");
    std::array<unsigned char, 16> ignored{};
    // "[v6]" and "[v6]:port" in brackets; "v4" and "v4:port" without.
    const bool v6 = !host.empty() && host.front() == '[';
    const std::string bare =
        v6 ? host.substr(1, host.find(']') - 1) : host.substr(0, host.find(':'));
    const char* scheme = config_.tls_certificate.empty() ? "http://" : "https://";
    return !(parse_address(bare, ignored) && origin == scheme + host);
}

Reply Hub::extrato(const Request&, const std::string& name) {
    static const std::pair<const char*, std::pair<extrato::Format, const char*>> kFormats[] = {
        {".txt", {extrato::Format::Text, "text/plain; charset=utf-8"}},
        {".png", {extrato::Format::Png, "image/png"}},
        {".pdf", {extrato::Format::Pdf, "application/pdf"}},
    };
    const std::string digits = name.substr(0, name.find('.'));
    const std::string ext = name.substr(digits.size());
    const auto* format = std::find_if(std::begin(kFormats), std::end(kFormats),
                                      [&](const auto& f) { return ext == f.first; });
    if (!all_digits(digits, 44, 44) || format == std::end(kFormats))
        return error_reply(404, "extrato: expected <44 digits>.txt, .png or .pdf");
    const std::optional<Entry> e = journal_.issued("CFe" + digits);
    if (!e) return error_reply(404, "extrato: no receipt with key " + digits + " in the journal");
    Reply reply = render(e->funcao, e->answer, format->second.first, 80);
    if (reply.status == 200) reply.content_type = format->second.second;
    return reply;
}

Reply Hub::render(const std::string& funcao, const std::string& answer, extrato::Format format,
                  int paper_mm) {
    // A cancellation's extrato carries its sale, which its CFeCanc names in chCanc.
    std::string sale;
    if (funcao == "CancelarUltimaVenda") {
        const std::string chave = extrato::cancelled_key(answer);
        const std::optional<Entry> s = chave.empty() ? std::nullopt : journal_.issued(chave);
        if (!s) return error_reply(404, "extrato: the cancelled sale is not in the journal");
        sale = s->answer;
    }
    extrato::Options options;
    options.profile = extrato::paper_profile(paper_mm);
    const extrato::Result out = extrato::render(answer, sale, format, options);
    if (out.error != extrato::Error::None) return error_reply(500, "extrato: " + out.message);
    return Reply{200, out.bytes, "application/octet-stream", {}};
}

Reply Hub::handle(const Request& r) {
    Reply reply = refuse_or_call(r);
    // Refusals never reach the device; their line names the client instead.
    if (reply.status != 200)
        std::fprintf(stderr, "satd: %s %s %s: HTTP %d %s\n", r.remote.c_str(),
                     printable(r.method).c_str(), printable(r.path).c_str(), reply.status,
                     printable(reply.body).c_str());
    return reply;
}

Reply Hub::refuse_or_call(const Request& r) {
    if (std::optional<Reply> p = panel(r)) {
        // The page runs no script and loads nothing, and no other site may frame it
        // to make the technician press its buttons unawares.
        p->headers.emplace_back("Content-Security-Policy",
                                "default-src 'none'; style-src 'unsafe-inline'; img-src 'self'; "
                                "form-action 'self'; frame-ancestors 'none'");
        p->headers.emplace_back("X-Frame-Options", "DENY");
        p->headers.emplace_back("X-Content-Type-Options", "nosniff");
        return *p;
    }
    const std::string prefix = config_.base_path + "/";
    const std::string name = r.path.rfind(prefix, 0) == 0 ? r.path.substr(prefix.size()) : "";
    const Function* f = find_function(name);
    const bool extrato_path = name.rfind("extrato/", 0) == 0;
    if (!f && !extrato_path) return error_reply(404, "unknown function: " + r.path);
    if (r.method != (extrato_path ? "GET" : "POST"))
        return error_reply(405, extrato_path ? "only GET is allowed" : "only POST is allowed");
    if (foreign_origin(r))
        return error_reply(403, "cross-site request refused: Origin " + header(r, "origin"));
    // The extrato is for whoever may sell.
    if (extrato_path) f = find_function("enviardadosvenda");
    if (!allowed(*f, r)) return error_reply(403, "not allowed from " + r.remote);
    if (extrato_path) return extrato(r, name.substr(8));
    size_t header_bytes = 0;
    for (const auto& [k, v] : r.headers)
        header_bytes += k.size() + v.size() + 4;
    if (header_bytes > config_.max_header) return error_reply(413, "headers too large");

    std::string type = header(r, "content-type");
    type = type.substr(0, type.find(';'));
    while (!type.empty() && type.back() == ' ')
        type.pop_back();
    for (char& c : type)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if ((!r.body.empty() || !type.empty()) && type != "application/x-www-form-urlencoded")
        return error_reply(415, "Content-Type must be application/x-www-form-urlencoded");
    Fields fields;
    std::string why;
    if (!decode_form(r.body, fields, why)) return error_reply(400, why);

    std::string caixa_text = fields.count("numero_caixa") ? fields["numero_caixa"] : "";
    if (r.headers.count("numero_caixa")) {
        const std::string h = header(r, "numero_caixa");
        if (!caixa_text.empty() && caixa_text != h)
            return error_reply(400, "numero_caixa: header and field differ");
        caixa_text = h;
    }
    if (caixa_text.empty()) return error_reply(400, "numero_caixa: missing");
    if (!valid(Shape::Session, caixa_text) || caixa_text.size() > 3)
        return error_reply(400, "numero_caixa: not a number from 0 to 999: " + caixa_text);
    const int caixa = std::atoi(caixa_text.c_str());

    for (const Field& field : f->fields) {
        const auto it = fields.find(field.name);
        if (it == fields.end()) {
            if (field.optional) continue;
            return error_reply(400, std::string(field.name) + ": missing");
        }
        if (!valid(field.shape, it->second))
            return error_reply(400, std::string(field.name) + ": invalid value");
    }
    if (std::string(f->name) == "trocarcodigodeativacao" && fields["opcao"] == "2" &&
        !fields.count("codigo_emergencia"))
        return error_reply(400, "codigo_emergencia: missing (opcao 2)");

    const std::string key = header(r, "idempotency-key");
    if (r.headers.count("idempotency-key")) {
        bool ok = !key.empty() && key.size() <= 200;
        for (const char c : key)
            ok = ok && c > ' ' && c <= '~';
        if (!ok) return error_reply(400, "Idempotency-Key: 1 to 200 printable characters");
    }
    if (activation_code().empty() && std::string(f->name) != "consultarsat")
        return error_reply(503, "no activation code configured");
    return call(*f, caixa, fields, key, digest_of(*f, caixa, fields));
}

Reply Hub::call(const Function& f, int caixa, const Fields& fields, const std::string& key,
                const std::string& digest) {
    // The outcome of a call cut short by a crash is learnt before any new call, while
    // the device still remembers that session.
    if (has_orphans_) settle_orphans();
    if (key.empty()) {
        if (f.fiscal) return run_journaled(f, caixa, fields, key, digest);
        const int session = journal_.next_session(caixa);
        if (!session) return error_reply(500, "the journal cannot be written");
        return answer(f, device_call(f, caixa, session, fields));
    }
    // A repeat of a call still running waits for it and gets its answer.
    const auto id = std::make_pair(caixa, key);
    std::unique_lock<std::mutex> hold(pending_mutex_);
    if (const auto it = pending_.find(id); it != pending_.end()) {
        const auto p = it->second;
        if (p->digest != digest)
            return error_reply(422, "Idempotency-Key already used for another request");
        // Its wait is bounded as every call's is: the busy answer after it, and the
        // next repeat finds the call done or still running.
        if (!pending_done_.wait_for(hold, wait_of(f), [&] { return p->done; })) {
            hold.unlock();
            return answer(f, busy_answer(f, journal_.next_session(caixa)));
        }
        return p->reply;
    }
    auto p = std::make_shared<Pending>();
    p->digest = digest;
    pending_[id] = p;
    hold.unlock();
    Reply reply = run_journaled(f, caixa, fields, key, digest);
    hold.lock();
    p->reply = reply;
    p->done = true;
    pending_.erase(id);
    pending_done_.notify_all();
    return reply;
}

Reply Hub::run_journaled(const Function& f, int caixa, const Fields& fields, const std::string& key,
                         const std::string& digest) {
    const std::optional<Entry> row = key.empty() ? std::nullopt : journal_.find(caixa, key);
    long long id = 0;
    int session = 0;
    if (row) {
        if (row->digest != digest)
            return error_reply(422, "Idempotency-Key already used for another request");
        if (!row->running && !row->answer.empty() && !is_busy(row->code))
            return answer(f, row->answer);
        // Running at a crash, answered busy, or found absent from the device: a sale
        // or cancellation may still have been issued, so the device is asked first.
        // Recovery asks about the rows of a crash too: one of the two at a time, and
        // the row is read again once it is this one's turn.
        std::lock_guard<std::mutex> settle(orphans_mutex_);
        const std::optional<Entry> now = journal_.find(caixa, key);
        if (!now) return error_reply(500, "the journal cannot be read");
        if (!now->running && !now->answer.empty() && !is_busy(now->code))
            return answer(f, now->answer);
        if (f.fiscal) {
            const auto stored = ask_device(*now);
            if (!stored) return answer(f, busy_answer(f, now->sessao));
            if (!stored->empty()) {
                journal_.finish(now->id, *stored, now->ms);
                std::erase_if(orphans_, [&](const Entry& e) { return e.id == now->id; });
                has_orphans_ = !orphans_.empty();
                return answer(f, *stored);
            }
        }
        std::erase_if(orphans_, [&](const Entry& e) { return e.id == now->id; });
        has_orphans_ = !orphans_.empty();
        id = now->id;
        session = journal_.next_session(caixa);
        // The new session is on disk before it goes to the device, as a new row's is.
        if (!session || !journal_.restart(id, session))
            return error_reply(500, "the journal cannot be written");
    } else {
        session = journal_.next_session(caixa);
        Entry e;
        e.caixa = caixa;
        e.sessao = session;
        e.funcao = f.funcao;
        e.key = key;
        e.digest = digest;
        id = session ? journal_.begin(e) : 0;
        if (!id) return error_reply(500, "the journal cannot be written");
    }
    const auto start = Clock::now();
    const std::string text = device_call(f, caixa, session, fields);
    journal_.finish(id, text, since(start));
    // The checkout's printer gets the extrato of what was issued; the answer does not wait.
    const std::string code = answer_field(text, 1);
    if (const Printer* p = printers_.of(caixa); p && (code == "06000" || code == "07000")) {
        Reply out = render(f.funcao, text, extrato::Format::EscPos, p->paper_mm);
        if (out.status == 200)
            printers_.print(caixa, std::move(out.body));
        else
            std::fprintf(stderr, "satd: caixa %03d impressora: %s\n", caixa, out.body.c_str());
    }
    // A busy answer may hide a receipt that the device issued while its answer got
    // lost: the device is asked about the session before the next call, so the
    // journal learns of it even if the client never retries.
    if (f.fiscal && is_busy(code)) {
        Entry e;
        e.id = id;
        e.caixa = caixa;
        e.sessao = session;
        e.funcao = f.funcao;
        std::lock_guard<std::mutex> hold(orphans_mutex_);
        orphans_.push_back(e);
        orphans_again_ = {};
        has_orphans_ = true;
    }
    return answer(f, text);
}

std::chrono::seconds Hub::wait_of(const Function& f) const {
    const auto it = config_.waits.find(f.name);
    return std::chrono::seconds(it != config_.waits.end() ? it->second : config_.wait);
}

std::string Hub::device_call(const Function& f, int caixa, int session, const Fields& fields,
                             bool poll) {
    const auto start = Clock::now();
    std::chrono::duration<double> waited{};
    auto began = start; // on the device
    auto run = [&] {
        began = Clock::now();
        std::string code;
        {
            std::lock_guard<std::mutex> hold(code_mutex_);
            code = code_;
        }
        std::string text = f.call(session, code, fields);
        // The new code is kept durably before anyone learns that it changed.
        if (std::string(f.name) == "trocarcodigodeativacao" && answer_field(text, 1) == "18000") {
            const std::string novo = fields.at("novo_codigo_ativacao");
            if (!journal_.set_setting("activation_code", novo))
                std::fprintf(stderr, "satd: the new activation code could not be stored\n");
            std::lock_guard<std::mutex> hold(code_mutex_);
            code_ = novo;
        }
        return text;
    };
    // The poll waits for a rest of a second after the last call, and gives up after a
    // minute of calls: the next poll comes soon after.
    const auto out = poll ? device_.run_idle(std::chrono::seconds(1), std::chrono::minutes(1), run)
                          : device_.run(caixa, wait_of(f), run, &waited);
    if (poll && !out) return "";
    const std::string text = out ? *out : busy_answer(f, session);
    const std::string code = answer_field(text, 1);
    log(caixa, f, session, code, since(start));
    // The poll's own wait for the device to rest is no latency of the device's.
    metrics_.call(f.funcao, code,
                  std::chrono::duration<double>(Clock::now() - (poll ? began : start)).count());
    if (!poll) metrics_.waited(waited.count());
    // Only the device's own status now: ConsultarNumeroSessao may bring back an old one.
    if (code == "10000" && std::string(f.name) == "consultarstatusoperacional") keep_status(text);
    return text;
}

std::optional<std::string> Hub::ask_device(const Entry& e) {
    const Function* query = find_function("consultarnumerosessao");
    const Function* asked = by_funcao(e.funcao);
    const int session = journal_.next_session(e.caixa);
    if (!session) return std::nullopt;
    const std::string text =
        device_call(*query, e.caixa, session, {{"numero_sessao", std::to_string(e.sessao)}});
    const std::string code = answer_field(text, 1);
    if (code == "11003") return std::string();
    if (asked && std::atoi(answer_field(text, 0).c_str()) == e.sessao &&
        code.rfind(asked->family, 0) == 0 && !is_busy(code))
        return text;
    return std::nullopt;
}

void Hub::recover() {
    {
        std::lock_guard<std::mutex> hold(orphans_mutex_);
        orphans_ = journal_.running();
    }
    has_orphans_ = true;
    // Before satd listens: all of them, unless the device does not say.
    do
        settle_orphans();
    while (has_orphans_ && orphans_again_ == Clock::time_point{});
}

void Hub::settle_orphans() {
    // A call does not wait while another one asks: it goes on to its own turn.
    std::unique_lock<std::mutex> hold(orphans_mutex_, std::try_to_lock);
    if (!hold) return;
    // A device that did not say is not asked again at every call, only once a second.
    if (!has_orphans_ || Clock::now() < orphans_again_) return;
    // A few at a time, so that the call that asks is not held up long; those not
    // asked go first the next time.
    std::vector<Entry> later, unknown;
    int asked = 0;
    for (const Entry& e : orphans_) {
        const Function* f = by_funcao(e.funcao);
        if (!f || !f->fiscal) {
            journal_.finish(e.id, "", 0);
            continue;
        }
        if (asked == 4) {
            later.push_back(e);
            continue;
        }
        ++asked;
        const auto stored = ask_device(e);
        if (!stored) {
            std::fprintf(stderr,
                         "satd: caixa %03d %s sessao %06d: still unknown, the device did not say\n",
                         e.caixa, e.funcao.c_str(), e.sessao);
            unknown.push_back(e);
            continue;
        }
        journal_.finish(e.id, *stored, e.ms);
        std::fprintf(
            stderr, "satd: caixa %03d %s sessao %06d: %s\n", e.caixa, e.funcao.c_str(), e.sessao,
            stored->empty()
                ? "never reached the device"
                : ("recorded from the device, codigo " + answer_field(*stored, 1)).c_str());
    }
    later.insert(later.end(), unknown.begin(), unknown.end());
    orphans_ = std::move(later);
    has_orphans_ = !orphans_.empty();
    // Rows not asked yet are asked at the next call; a device that did not say, in a second.
    orphans_again_ = unknown.empty() ? Clock::time_point{} : Clock::now() + std::chrono::seconds(1);
}

Reply Hub::answer(const Function& f, const std::string& text) {
    nlohmann::json j{{"funcao", f.funcao}, {"retorno", text}};
    return {200,
            j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
            "application/json",
            {}};
}

void Hub::log(int caixa, const Function& f, int session, const std::string& code, long ms) {
    std::fprintf(stderr, "satd: caixa %03d %s sessao %06d codigo %s %ld ms\n", caixa, f.funcao,
                 session, code.empty() ? "-" : code.c_str(), ms);
}

void Hub::keep_status(const std::string& answer) {
    std::optional<Status> s = decode_status(answer);
    std::lock_guard<std::mutex> hold(status_mutex_);
    if (s) {
        status_ = std::move(s);
        polled_ = std::time(nullptr);
        poll_error_.clear();
    } else {
        poll_error_ = "resposta ilegível: " + printable(answer);
    }
}

bool Hub::poll_status() {
    const Function* f = find_function("consultarstatusoperacional");
    if (activation_code().empty()) return false;
    const int session = journal_.next_session(0);
    const std::string text = session ? device_call(*f, 0, session, {}, true) : "";
    // A sale cut short is asked about now, not only at the next checkout's call: the
    // device keeps the last sessions only, and idle hours of polls would push it out.
    if (has_orphans_) settle_orphans();
    // Calls kept the device busy for a minute: not the device's fault, asked again later.
    if (session && text.empty()) return false;
    const std::string code = answer_field(text, 1);
    std::lock_guard<std::mutex> hold(status_mutex_);
    poll_tried_ = true;
    if (code == "10000" && poll_error_.empty()) return true;
    ++poll_failures_;
    if (!session)
        poll_error_ = "o diário não pode ser gravado";
    else if (code != "10000")
        poll_error_ = "código " + (code.empty() ? "nenhum" : code) + ": " + printable(text);
    return false;
}

std::string Hub::metrics_text() {
    Exposition out;
    metrics_.write(out);
    out.family("satd_device_waiting_calls", "gauge",
               "Calls waiting for their turn on the device now.");
    out.sample("satd_device_waiting_calls", {}, device_.waiting());
    std::optional<Status> s;
    std::time_t polled = 0;
    bool tried = false;
    std::uint64_t failures = 0;
    bool failing = false;
    {
        std::lock_guard<std::mutex> hold(status_mutex_);
        s = status_;
        polled = polled_;
        tried = poll_tried_;
        failures = poll_failures_;
        failing = !poll_error_.empty();
    }
    // A value the device did not give has no sample: absent, never zero.
    auto gauge = [&](const char* name, const char* help, auto value) {
        out.family(name, "gauge", help);
        if (value) out.sample(name, {}, static_cast<double>(*value));
    };
    const Status none;
    const Status& st = s ? *s : none;
    out.family("satd_sat_info", "gauge", "The device's serial number and versions; always 1.");
    if (s)
        out.sample("satd_sat_info",
                   {{"serie", st.serial}, {"versao_sb", st.firmware}, {"versao_layout", st.layout}},
                   1);
    gauge("satd_sat_certificate_expiry_timestamp_seconds",
          "End of the last day of the device's certificate, as a Unix time.",
          st.certificate_expiry);
    gauge("satd_sat_last_contact_timestamp_seconds",
          "The device's last communication with the tax authority (SEFAZ), as a Unix time.",
          st.last_contact);
    gauge("satd_sat_last_transmission_timestamp_seconds",
          "The device's last transmission of CF-e to the tax authority, as a Unix time.",
          st.last_transmission);
    gauge("satd_sat_memory_used_bytes", "Memory for CF-e in use on the device.", st.memory_used);
    gauge("satd_sat_memory_total_bytes", "Memory for CF-e on the device.", st.memory_total);
    gauge("satd_sat_operating_state",
          "0 unblocked, 1 blocked by SEFAZ, 2 by the taxpayer, 3 for lack of communication, "
          "4 permanently.",
          st.state);
    gauge("satd_status_poll_age_seconds", "Seconds since the last status the device gave.",
          polled ? std::optional<double>(std::difftime(std::time(nullptr), polled)) : std::nullopt);
    gauge("satd_status_poll_up", "1 when the last status poll succeeded, 0 when it failed.",
          tried ? std::optional<int>(!failing) : std::nullopt);
    out.family("satd_status_poll_failures_total", "counter", "Status polls that failed.");
    out.sample("satd_status_poll_failures_total", {}, static_cast<double>(failures));
    out.family("satd_journal_rows", "gauge",
               "Rows of the journal by SAT function and answer code (running: no outcome yet).");
    for (const Journal::Count& c : journal_.counts())
        out.sample("satd_journal_rows", {{"funcao", c.funcao}, {"codigo", c.code}},
                   static_cast<double>(c.rows));
    return out.text();
}

std::optional<Reply> Hub::panel(const Request& r) {
    const bool page = r.path == "/", metrics = r.path == "/metrics";
    const std::string prefix = "/painel/";
    if (!page && !metrics && r.path.rfind(prefix, 0) != 0) return std::nullopt;
    if (r.method != (page || metrics ? "GET" : "POST"))
        return error_reply(405, page || metrics ? "only GET is allowed" : "only POST is allowed");
    if (foreign_origin(r))
        return error_reply(403, "cross-site request refused: Origin " + header(r, "origin"));
    const bool may = admin(r) || (metrics && config_.metrics.contains(r.remote) &&
                                  has_token(r, config_.metrics_token));
    if (!may) {
        Reply no = error_reply(403, "not allowed from " + r.remote);
        // A browser asks the technician for the admin token as a password.
        if (!metrics && config_.admin.contains(r.remote)) {
            no = error_reply(401, "admin token required");
            no.headers.emplace_back("WWW-Authenticate", "Basic realm=\"satd\", charset=\"UTF-8\"");
        }
        return no;
    }
    if (metrics) return Reply{200, metrics_text(), "text/plain; version=0.0.4; charset=utf-8", {}};
    if (page) {
        PageData d;
        {
            std::lock_guard<std::mutex> hold(status_mutex_);
            d.status = status_;
            d.polled = polled_;
            d.poll_error = poll_error_;
        }
        d.calls = journal_.list(20);
        std::reverse(d.calls.begin(), d.calls.end());
        d.test_sale = config_.test_sale;
        d.now = std::time(nullptr);
        return Reply{200, status_page(d), "text/html; charset=utf-8", {}};
    }
    Fields fields;
    std::string why;
    if (!decode_form(r.body, fields, why)) return error_reply(400, why);
    return panel_action(r.path.substr(prefix.size()), fields);
}

Reply Hub::panel_action(const std::string& action, const Fields& fields) {
    const Function* f = find_function(action);
    if (!f || (action != "consultarsat" && action != "testefimafim" && action != "extrairlogs"))
        return error_reply(404, "unknown action: " + action);
    Fields given;
    if (action == "testefimafim") {
        const auto it = fields.find("dados_venda");
        if (it == fields.end() || !valid(Shape::Document, it->second))
            return error_reply(400, "dados_venda: missing or invalid");
        given["dados_venda"] = it->second;
    }
    if (activation_code().empty() && action != "consultarsat")
        return error_reply(503, "no activation code configured");
    const int session = journal_.next_session(0);
    if (!session) return error_reply(500, "the journal cannot be written");
    const std::string text = device_call(*f, 0, session, given);
    const std::string html = "text/html; charset=utf-8";
    if (action != "extrairlogs" || answer_field(text, 1) != "15000")
        return Reply{200, result_page(f->funcao, text), html, {}};
    const std::optional<std::string> log = torvane::base64_decode(answer_field(text, 5));
    if (!log) return Reply{200, result_page(f->funcao, text), html, {}};
    Reply reply{200, *log, "text/plain; charset=utf-8", {}};
    std::string serial;
    {
        std::lock_guard<std::mutex> hold(status_mutex_);
        if (status_) serial = status_->serial;
    }
    if (!all_digits(serial, 0, serial.size())) serial.clear();
    const bool download = fields.count("baixar") && fields.at("baixar") == "1";
    reply.headers.emplace_back("Content-Disposition",
                               std::string(download ? "attachment" : "inline") +
                                   "; filename=\"sat-" + (serial.empty() ? "" : serial + "-") +
                                   "logs.txt\"");
    return reply;
}

} // namespace satd
