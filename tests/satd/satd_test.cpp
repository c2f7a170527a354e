// satd as its clients see it: satd in a sandbox in front of satemu, over raw HTTP.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>
#include <set>
#include <thread>

#include "base64.h"
#include "satlib.h"

extern char** environ;

using namespace testsupport;
using nlohmann::json;

namespace {

struct Http {
    int status = 0;
    std::string body;
    json j() const { return json::parse(body, nullptr, false); }
    std::string retorno() const {
        const json v = j();
        return v.is_object() ? v.value("retorno", "") : "";
    }
};

// One request on a connection of its own from `source`; `drop_after_ms` closes it
// that long after sending, without reading.
Http http(int port, const std::string& text, const char* source = "127.0.0.1",
          int drop_after_ms = -1) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{}, to{};
    a.sin_family = to.sin_family = AF_INET;
    inet_pton(AF_INET, source, &a.sin_addr);
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    to.sin_port = htons(static_cast<uint16_t>(port));
    timeval tv{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    Http h;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
        send(fd, text.data(), text.size(), MSG_NOSIGNAL) == ssize_t(text.size())) {
        if (drop_after_ms >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(drop_after_ms));
        } else {
            std::string in;
            char buf[65536];
            for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;)
                in.append(buf, size_t(n));
            if (in.size() > 12) h.status = std::atoi(in.c_str() + 9);
            const auto end = in.find("\r\n\r\n");
            if (end != std::string::npos) h.body = in.substr(end + 4);
        }
    }
    close(fd);
    return h;
}

std::string encode(const std::string& s) {
    std::string out;
    char hex[4];
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
            out += char(c);
        } else {
            std::snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        }
    }
    return out;
}

using Form = std::vector<std::pair<std::string, std::string>>;
std::string form(const Form& f) {
    std::string out;
    for (const auto& [k, v] : f)
        out += (out.empty() ? "" : "&") + encode(k) + "=" + encode(v);
    return out;
}

std::string post(const std::string& name, const std::string& body, const std::string& headers = "",
                 const char* type = "application/x-www-form-urlencoded") {
    return "POST /hub/v1/" + name + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
           (*type ? std::string("Content-Type: ") + type + "\r\n" : "") + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

constexpr const char* kChromium = "/usr/bin/chromium";
constexpr const char* kChromedriver = "/usr/bin/chromedriver";

// A headless chromium driven through chromedriver's WebDriver interface, with HOME,
// the log and the browser's profile in `dir`. chromedriver's process group, the
// browser with it, goes with the object or the test.
class Browser {
  public:
    Browser(const std::string& dir, int width, int height) {
        const std::string log = dir + "/chromedriver.log", home = "HOME=" + dir;
        std::vector<const char*> env{home.c_str()};
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "HOME=", 5) != 0) env.push_back(*e);
        env.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            setpgid(0, 0);
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            dup2(out, 1);
            dup2(out, 2);
            if (chdir(dir.c_str()) == 0)
                execle(kChromedriver, kChromedriver, "--port=0", nullptr, env.data());
            _exit(127);
        }
        const std::string ready = "started successfully on port ";
        for (int i = 0; i < 500 && port_ == 0; ++i) {
            const std::string text = read_file(log);
            if (const auto at = text.find(ready); at != std::string::npos)
                port_ = std::atoi(text.c_str() + at + ready.size());
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        // Over a pipe rather than a port, the browser also quits when chromedriver dies.
        const json args = {"--remote-debugging-pipe",
                           "--no-sandbox",
                           "--headless=new",
                           "--disable-gpu",
                           "--user-data-dir=" + dir + "/chromium",
                           "--window-size=" + std::to_string(width) + "," + std::to_string(height)};
        const json options{{"binary", kChromium}, {"args", args}};
        const json v = call(
            "POST", "", {{"capabilities", {{"alwaysMatch", {{"goog:chromeOptions", options}}}}}});
        session_ = v.is_object() ? "/" + v.value("sessionId", "") : "";
        if (port_ == 0) why_ = "chromedriver did not start: " + read_file(log);
    }
    ~Browser() {
        if (!session_.empty()) call("DELETE", "");
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL); // in case it had not made its group yet
        waitpid(pid_, nullptr, 0);
    }
    const std::string& error() const { return why_; }
    bool open(const std::string& url) {
        return !session_.empty() && (call("POST", "/url", {{"url", url}}), why_.empty());
    }
    // The rendered text of the first element that matches `css`; empty when none does.
    std::string text(const std::string& css) {
        const std::string id = element(css);
        const json v = id.empty() ? nullptr : call("GET", "/element/" + id + "/text");
        return v.is_string() ? v.get<std::string>() : "";
    }
    bool click(const std::string& css) {
        const std::string id = element(css);
        return !id.empty() &&
               (call("POST", "/element/" + id + "/click", json::object()), why_.empty());
    }
    std::string screenshot_png() {
        const json v = call("GET", "/screenshot");
        return v.is_string() ? torvane::base64_decode(v.get<std::string>()).value_or("") : "";
    }

  private:
    // One command of the session (path "" with no session yet: a new one); its
    // "value", or null with error() set. Through curl: chromedriver keeps its
    // connections open after the answer.
    json call(const char* method, const std::string& path, const json& body = nullptr) {
        const std::string url =
            "http://127.0.0.1:" + std::to_string(port_) + "/session" + session_ + path;
        std::vector<std::string> argv{"/usr/bin/curl", "-s", "-m", "60", "-X", method, url};
        if (!body.is_null())
            argv.insert(argv.end(),
                        {"-H", "Content-Type: application/json", "--data-binary", body.dump()});
        const json j = json::parse(run_program(argv, "/").out, nullptr, false);
        const json v = j.is_object() && j.contains("value") ? j["value"] : nullptr;
        why_ = j.is_discarded()                       ? url + ": no answer"
               : v.is_object() && v.contains("error") ? url + ": " + v.value("message", "")
                                                      : "";
        return why_.empty() ? v : nullptr;
    }
    std::string element(const std::string& css) {
        const json v = call("POST", "/element", {{"using", "css selector"}, {"value", css}});
        // A found element is an object with one member, named by the protocol.
        return v.is_object() && !v.empty() ? v.begin()->get<std::string>() : "";
    }

    pid_t pid_ = -1;
    int port_ = 0;
    std::string session_, why_;
};

class SatdTest : public ::testing::Test {
  protected:
    void SetUp() override {
        halvex = make_temp_dir("halvex");
        std::string why;
        if (!enter_device_sandbox(halvex, why))
            GTEST_SKIP() << "no private mount namespace: " << why;
    }
    void TearDown() override {
        if (pid > 0) stop(SIGKILL);
    }
    void device(std::vector<std::string> args = {}, int attempts = 2, int seconds = 2) {
        args.insert(args.begin(), {"--preset", "active", "--link", kLine});
        emu = std::make_unique<Emulator>(args);
        ASSERT_TRUE(write_file(halvex + "/sat.ini", settings(kLine, attempts, 3, seconds)));
    }
    // Starts satd with `extra` INI lines after the defaults of the test.
    void start(const std::string& extra = "") {
        if (ini.empty())
            ini = "[server]\nlisten = 127.0.0.1:0\n" + extra +
                  "\n[device]\nactivation_code = 12345678\nserial = " + kLine +
                  "\n[journal]\ndatabase = " + halvex +
                  "/satd.db\n"
                  // The poll's calls would come between the frames that tests count.
                  "[status]\npoll_minutes = " +
                  (poll ? "10" : "0") + "\n";
        ASSERT_TRUE(write_file(halvex + "/satd.ini", ini));
        err = halvex + "/satd.err." + std::to_string(++runs);
        const std::string cfg = halvex + "/satd.ini";
        pid = fork();
        if (pid == 0) {
            // satd goes with the test, also when the test is killed.
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            const int out = open(err.c_str(), O_WRONLY | O_CREAT, 0644);
            dup2(out, 2);
            dup2(open("/dev/null", O_WRONLY), 1);
            execl(SATD_PATH, SATD_PATH, "--config", cfg.c_str(), nullptr);
            _exit(127);
        }
        for (int i = 0; i < 300 && port == 0; ++i) {
            const std::string text = read_file(err);
            const auto at = text.find("listening on 127.0.0.1:");
            if (at != std::string::npos) port = std::atoi(text.c_str() + at + 23);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        ASSERT_GT(port, 0) << read_file(err);
    }
    int stop(int sig) {
        kill(pid, sig);
        int status = 0;
        for (int i = 0; i < 1000 && waitpid(pid, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (waitpid(pid, &status, WNOHANG) == 0) { // still there after 20 s
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            status = -1;
        }
        pid = -1;
        port = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string journal() {
        return run_program({SATD_PATH, "--journal", "--config", halvex + "/satd.ini"}, "/").out;
    }
    Http call(const std::string& name, const Form& f, const std::string& headers = "") {
        return http(port, post(name, form(f), headers));
    }
    Http get(const std::string& path, const char* source, const std::string& headers) {
        return http(port,
                    "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" +
                        headers + "\r\n",
                    source);
    }

    std::string halvex, ini, err;
    std::unique_ptr<Emulator> emu;
    pid_t pid = -1;
    int port = 0, runs = 0;
    bool poll = false; // satd's status poll
};

const std::string kSign = "mNUR/sFFp91Ri8/e5lljvD4FdKLRTg93f6RS26GjJrpn/Ob3++y3yYHVtq9PZTQ0+"
                          "tgqE7FEImOsp1qGAHv8BbujOvgv/vqWROyDg+ODwIsy2ku2vPylhqrzEjJ6EYzSxhfm"
                          "vrDnHm0aTHhmcWG7LATWByaRBg3AzEYzHnlT43cZWx26Du/i7tAkqg3o0huYIwJxcaH"
                          "C9DokaT3QY8CeVn0c9i9+PV+LMQI2dWKay8iwbY5sPZ6E+sPBlr0jH+UPkTZhiLwACq"
                          "yu/2YBhHaUgXJhXgCyUehf7ONUTI+JgFTBw4mIW3pwm3keg8uox5TJJ2wOhvmGoeGJe8"
                          "Rrz9U1HA==";

TEST_F(SatdTest, EveryFunctionCarriesTheDeviceAnswerUnchanged) {
    device();
    start("[printers]\n7 = " + halvex + "/impressora 58");
    const std::string sale = sale_document();
    std::string key, cancel_key;
    struct Row {
        const char* name;
        const char* funcao;
        Form fields; // "<key>": the access key of the sale before
        const char* code;
    };
    const Row rows[] = {
        {"consultarsat", "ConsultarSAT", {}, "08000"},
        {"ativarsat",
         "AtivarSAT",
         {{"tipo_certificado", "1"}, {"cnpj", "47291583000110"}, {"codigo_uf", "35"}},
         "04003"},
        {"comunicarcertificadoicpbrasil",
         "ComunicarCertificadoICPBRASIL",
         {{"certificado", "nada"}},
         "05003"},
        {"enviardadosvenda", "EnviarDadosVenda", {{"dados_venda", sale}}, "06000"},
        {"cancelarultimavenda",
         "CancelarUltimaVenda",
         {{"chave_cfe", "<key>"}, {"dados_cancelamento", "<key>"}},
         "07000"},
        {"testefimafim", "TesteFimAFim", {{"dados_venda", sale}}, "09000"},
        {"consultarstatusoperacional", "ConsultarStatusOperacional", {}, "10000"},
        {"consultarnumerosessao", "ConsultarNumeroSessao", {{"numero_sessao", "7004"}}, "06000"},
        {"configurarinterfacederede",
         "ConfigurarInterfaceDeRede",
         {{"configuracao", "<config><tipoInter>ETHE</tipoInter><tipoLan>DHCP</tipoLan></config>"}},
         "12000"},
        {"associarassinatura",
         "AssociarAssinatura",
         {{"sequencia_cnpj", "0831749200015547291583000110"}, {"assinatura_ac", kSign}},
         "13000"},
        {"atualizarsoftwaresat", "AtualizarSoftwareSAT", {}, "14000"},
        {"extrairlogs", "ExtrairLogs", {}, "15000"},
        {"bloquearsat", "BloquearSAT", {}, "16000"},
        {"desbloquearsat", "DesbloquearSAT", {}, "17000"},
        {"consultarultimasessaofiscal", "ConsultarUltimaSessaoFiscal", {}, "07000"},
        {"trocarcodigodeativacao",
         "TrocarCodigoDeAtivacao",
         {{"novo_codigo_ativacao", "novo-codigo-1"}, {"opcao", "1"}},
         "18000"},
        {"consultarstatusoperacional", "ConsultarStatusOperacional", {}, "10000"},
    };
    for (const Row& row : rows) {
        Form f = row.fields;
        for (auto& [k, v] : f)
            if (v == "<key>") v = k == "chave_cfe" ? key : cancel_document(key);
        f.emplace_back("numero_caixa", "7");
        const Http h = call(row.name, f);
        ASSERT_EQ(h.status, 200) << row.name << " " << h.body;
        const std::string retorno = h.retorno();
        EXPECT_EQ(h.j()["funcao"], row.funcao);
        EXPECT_EQ(std::stoi(retorno) / 1000, 7) << retorno; // the checkout's own sessions
        EXPECT_EQ(split_fields(retorno)[1], row.code) << row.name << ": " << retorno;
        EXPECT_NE(unescape_frame(emu->transcript()).find(retorno), std::string::npos) << row.name;
        if (row.code == std::string("06000")) key = split_fields(retorno)[8];
        if (row.code == std::string("07000") && !f.empty() && cancel_key.empty())
            cancel_key = split_fields(retorno)[8];
    }
    // The extratos of the sale and of its cancellation (with its sale), from the journal.
    auto extrato = [&](const std::string& name) {
        return http(port, "GET /hub/v1/extrato/" + name + " HTTP/1.1\r\nConnection: close\r\n\r\n");
    };
    const Http text = extrato(key.substr(3) + ".txt"),
               canc = extrato(cancel_key.substr(3) + ".txt");
    EXPECT_NE(text.body.find("Extrato No."), std::string::npos) << text.body.substr(0, 300);
    EXPECT_NE(canc.body.find("CANCELAMENTO"), std::string::npos) << canc.body.substr(0, 300);
    EXPECT_EQ(extrato(key.substr(3) + ".png").body.substr(1, 3), "PNG");
    EXPECT_EQ(extrato(std::string(44, '1') + ".pdf").status, 404);
    // Checkout 7's printer got the ESC/POS extrato of the sale and of the cancellation.
    auto grouped = [](const std::string& chave) {
        return chave.substr(3, 4) + " " + chave.substr(7, 4);
    };
    std::string printed;
    for (int i = 0; i < 100 && printed.find("CANCELAMENTO") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        printed = read_file(halvex + "/impressora");
    }
    EXPECT_EQ(printed.rfind("\x1b@", 0), 0u);
    EXPECT_NE(printed.find(grouped(key)), std::string::npos);
    EXPECT_NE(printed.find("CANCELAMENTO"), std::string::npos);
    // The changed code outlives a restart: it is kept in the journal.
    EXPECT_EQ(stop(SIGTERM), 0);
    start();
    const std::string status =
        call("consultarstatusoperacional", {{"numero_caixa", "7"}}).retorno();
    EXPECT_EQ(split_fields(status)[1], "10000");
}

// Checkouts selling at once: each receipt reaches its own checkout once, and no two
// calls share a session number.
class Concurrent : public SatdTest, public ::testing::WithParamInterface<int> {};

TEST_P(Concurrent, EveryReceiptReachesItsCheckoutOnce) {
    device();
    start();
    const int checkouts = GetParam(), sales = 3;
    std::vector<std::vector<std::string>> answers(static_cast<size_t>(checkouts));
    std::vector<std::thread> threads;
    for (int c = 0; c < checkouts; ++c)
        threads.emplace_back([&, c] {
            std::string sale = sale_document();
            const auto at = sale.find("<numeroCaixa>001</numeroCaixa>");
            char caixa[12];
            std::snprintf(caixa, sizeof caixa, "%03d", c + 10);
            sale.replace(at + 13, 3, caixa);
            for (int s = 0; s < sales; ++s)
                answers[size_t(c)].push_back(
                    call("enviardadosvenda", {{"numero_caixa", caixa}, {"dados_venda", sale}})
                        .retorno());
        });
    for (auto& t : threads)
        t.join();
    std::set<std::string> sessions, keys;
    for (int c = 0; c < checkouts; ++c)
        for (const std::string& a : answers[size_t(c)]) {
            const auto f = split_fields(a);
            ASSERT_EQ(f.size(), 12u) << a;
            EXPECT_EQ(f[1], "06000");
            EXPECT_EQ(std::stoi(f[0]) / 1000, c + 10);
            sessions.insert(f[0]);
            keys.insert(f[8]);
            char tag[40];
            std::snprintf(tag, sizeof tag, "<numeroCaixa>%03d</numeroCaixa>", c + 10);
            EXPECT_NE(torvane::base64_decode(f[6]).value_or("").find(tag), std::string::npos);
        }
    EXPECT_EQ(sessions.size(), size_t(checkouts * sales));
    EXPECT_EQ(keys.size(), size_t(checkouts * sales));
    EXPECT_EQ(emu->issued(), checkouts * sales);
}
INSTANTIATE_TEST_SUITE_P(Checkouts, Concurrent, ::testing::Values(2, 8));

TEST_F(SatdTest, AllowListsTokensAndOrigin) {
    device();
    start("[access]\ncheckouts = 127.0.0.1/32\nadmin = 127.0.0.1\nadmin_token = s3gredo\n");
    const std::string body = form({{"numero_caixa", "1"}});
    struct Row {
        const char* name;
        const char* source;
        std::string headers;
        int status;
    } rows[] = {
        {"consultarsat", "127.0.0.1", "", 200},
        {"consultarsat", "127.0.0.2", "", 403}, // outside both lists
        {"extrairlogs", "127.0.0.1", "", 403},  // admin needs its token
        {"extrairlogs", "127.0.0.1", "Authorization: Bearer errado\r\n", 403},
        {"extrairlogs", "127.0.0.1", "Authorization: Bearer s3gredo\r\n", 200},
        {"extrairlogs", "127.0.0.2", "Authorization: Bearer s3gredo\r\n", 403},
        {"consultarsat", "127.0.0.1", "Origin: https://loja.example\r\n", 403},
        {"consultarsat", "127.0.0.1", "Origin: null\r\n", 403},
        {"consultarsat", "127.0.0.1", "Origin: http://127.0.0.1:" + std::to_string(port) + "\r\n",
         200},
    };
    for (const Row& r : rows)
        EXPECT_EQ(http(port, post(r.name, body, r.headers), r.source).status, r.status)
            << r.name << " from " << r.source << " " << r.headers;
    // The page takes the admin token also as a browser's Basic password.
    const std::string basic =
        "Authorization: Basic " + torvane::base64_encode("tecnico:s3gredo") + "\r\n";
    EXPECT_EQ(get("/", "127.0.0.1", "").status, 401);
    EXPECT_EQ(get("/", "127.0.0.1", basic).status, 200);
    EXPECT_EQ(get("/", "127.0.0.2", basic).status, 403);
    EXPECT_EQ(read_file(err).find("s3gredo"), std::string::npos);
    EXPECT_EQ(read_file(err).find("12345678"), std::string::npos);
}

TEST_F(SatdTest, MetricsCountTheCallsAndPassPromtool) {
    device();
    start("[access]\nadmin = 127.0.0.1\nmetrics = 127.0.0.3\n");
    for (const char* name : {"consultarsat", "consultarsat", "consultarstatusoperacional"})
        ASSERT_EQ(call(name, {{"numero_caixa", "1"}}).status, 200);
    ASSERT_EQ(
        call("enviardadosvenda", {{"numero_caixa", "2"}, {"dados_venda", sale_document()}}).status,
        200);
    EXPECT_EQ(get("/metrics", "127.0.0.2", "").status, 403);
    EXPECT_EQ(get("/", "127.0.0.3", "").status, 403);
    const Http m = get("/metrics", "127.0.0.3", "");
    ASSERT_EQ(m.status, 200);
    for (const char* line :
         {"satd_calls_total{funcao=\"ConsultarSAT\",codigo=\"08000\"} 2\n",
          "satd_calls_total{funcao=\"EnviarDadosVenda\",codigo=\"06000\"} 1\n",
          "satd_call_duration_seconds_count{funcao=\"ConsultarSAT\"} 2\n",
          "satd_device_wait_seconds_count 4\n", "satd_device_waiting_calls 0\n",
          "satd_journal_rows{funcao=\"EnviarDadosVenda\",codigo=\"06000\"} 1\n",
          "satd_sat_memory_total_bytes 4294967296\n", "satd_sat_operating_state 0\n"})
        EXPECT_NE(m.body.find(line), std::string::npos) << line << m.body;
    // No poll ran: what only a poll tells is absent, not zero.
    EXPECT_EQ(m.body.find("\nsatd_status_poll_up "), std::string::npos);
    for (const char* name : {"bloquearsat", "consultarstatusoperacional"})
        call(name, {{"numero_caixa", "1"}});
    call("consultarnumerosessao", {{"numero_caixa", "1"}, {"numero_sessao", "1003"}});
    const Http after = get("/metrics", "127.0.0.3", "");
    EXPECT_NE(after.body.find("\nsatd_sat_operating_state 2\n"), std::string::npos) << after.body;
    if (access("/usr/bin/promtool", X_OK) != 0)
        GTEST_SKIP() << "promtool not installed (package prometheus): scripts/setup installs it";
    ASSERT_TRUE(write_file(halvex + "/metrics.txt", m.body));
    const testsupport::Run check =
        run_program({"/bin/sh", "-c", "promtool check metrics < metrics.txt"}, halvex);
    EXPECT_EQ(check.status, 0) << check.out << check.err;
}

TEST_F(SatdTest, BadRequestsAreRefusedAndSatdLivesOn) {
    device();
    start("max_body = 4096\n");
    const std::string sale = "numero_caixa=1&dados_venda=";
    struct Row {
        std::string request;
        int status;
    } rows[] = {
        {"GET /hub/v1/consultarsat HTTP/1.1\r\nConnection: close\r\n\r\n", 405},
        {post("nada", "numero_caixa=1"), 404},
        {post("extrato/" + std::string(44, '1') + ".txt", "numero_caixa=1"), 405},
        {post("consultarsat", "numero_caixa=1", "", "text/plain"), 415},
        {post("consultarsat", "numero_caixa=1", "", "multipart/form-data; boundary=x"), 415},
        {post("consultarsat", ""), 400},
        {post("consultarsat", "numero_caixa=1000"), 400},
        {post("consultarsat", "numero_caixa=-1"), 400},
        {post("consultarsat", "numero_caixa=1", "numero_caixa: 2\r\n"), 400},
        {post("consultarsat", "", "numero_caixa: 2\r\n"), 200},
        {post("consultarsat", "numero_caixa=1", "Range: bytes=0-1,5-7\r\n"), 200}, // whole
        {post("consultarsat", "numero_caixa=1&numero_caixa=1"), 400},
        {post("consultarsat", "numero_caixa=1%2"), 400},
        {post("enviardadosvenda", "numero_caixa=1"), 400},
        {post("enviardadosvenda", sale + "%FF%FE"), 400},
        {post("enviardadosvenda", sale + "a%7Cb"), 400},
        {post("enviardadosvenda", sale + "a%00b"), 400},
        {post("enviardadosvenda", sale + std::string(5000, 'a')), 413},
        {post("cancelarultimavenda", "numero_caixa=1&chave_cfe=CFe123&dados_cancelamento=x"), 400},
        {post("ativarsat", "numero_caixa=1&tipo_certificado=9&cnpj=1&codigo_uf=35"), 400},
        {post("trocarcodigodeativacao", "numero_caixa=1&novo_codigo_ativacao=abcdef&opcao=2"), 400},
        {post("consultarsat", "numero_caixa=1", "Idempotency-Key: \x01\r\n"), 400},
        {post("trocarcodigodeativacao", "numero_caixa=1&novo_codigo_ativacao=abc&opcao=1"), 400},
        {"BROKEN\r\n\r\n", 400},
    };
    for (const Row& r : rows) {
        const Http h = http(port, r.request);
        EXPECT_EQ(h.status, r.status) << r.request.substr(0, 120);
        EXPECT_TRUE(h.j().contains(h.status == 200 ? "funcao" : "erro")) << h.body;
    }
    // The same key with another request; unknown fields do not count.
    const std::string key = "Idempotency-Key: k1\r\n";
    EXPECT_EQ(http(port, post("consultarsat", "numero_caixa=1", key)).status, 200);
    EXPECT_EQ(http(port, post("consultarsat", "numero_caixa=1&x=1", key)).status, 200);
    EXPECT_EQ(
        http(port, post("consultarnumerosessao", "numero_caixa=1&numero_sessao=1", key)).status,
        422);
    EXPECT_EQ(call("consultarsat", {{"numero_caixa", "1"}}).status, 200);
}

// A checkout whose connection dropped during a sale retries with its key and gets
// the receipt that the device issued, not a second one.
TEST_F(SatdTest, RetryAfterADroppedConnectionGetsTheSameReceipt) {
    device({"--fault", "1*03:delay:1500"});
    start();
    const std::string body = form({{"numero_caixa", "3"}, {"dados_venda", sale_document()}});
    const std::string key = "Idempotency-Key: venda-42\r\n";
    http(port, post("enviardadosvenda", body, key), "127.0.0.1", 300);
    const Http first = http(port, post("enviardadosvenda", body, key));
    const Http again = http(port, post("enviardadosvenda", body, key));
    ASSERT_EQ(first.status, 200);
    EXPECT_EQ(split_fields(first.retorno())[1], "06000");
    EXPECT_EQ(again.body, first.body);
    EXPECT_EQ(emu->issued(), 1);
    EXPECT_EQ(http(port, post("enviardadosvenda", body + "x", key)).status, 422);
}

// satd killed while the device issues a sale whose answer is lost: the next start
// asks the device about that session, and the retry gets the issued receipt.
TEST_F(SatdTest, KilledDuringASaleTheRetryGetsTheIssuedReceipt) {
    device({"--fault", "1*03:drop"}, 1, 3);
    start();
    const std::string body = form({{"numero_caixa", "4"}, {"dados_venda", sale_document()}});
    const std::string key = "Idempotency-Key: venda-43\r\n";
    std::thread client([&] { http(port, post("enviardadosvenda", body, key)); });
    for (int i = 0; i < 100 && emu->codes().find("03") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop(SIGKILL);
    client.join();
    ASSERT_EQ(emu->issued(), 1);
    start();
    const Http retry = http(port, post("enviardadosvenda", body, key));
    ASSERT_EQ(retry.status, 200);
    const auto f = split_fields(retry.retorno());
    EXPECT_EQ(f[0], "004001");
    EXPECT_EQ(f[1], "06000");
    EXPECT_EQ(emu->issued(), 1);
    EXPECT_EQ(emu->codes(), "03 08");  // one sale, one session query at the start
    EXPECT_EQ(emu->codes(4001), "03"); // the restart draws no number used before it
    EXPECT_NE(journal().find("004    EnviarDadosVenda             004001  06000  " + f[8]),
              std::string::npos)
        << journal();
}

// A sale whose answer the library gave up on (busy): the retry with the key gets
// the receipt the device had issued, from the device's memory of the session.
TEST_F(SatdTest, RetryAfterABusyAnswerGetsTheIssuedReceipt) {
    device({"--fault", "1*03:drop"}, 1, 2);
    start();
    const std::string body = form({{"numero_caixa", "5"}, {"dados_venda", sale_document()}});
    const std::string key = "Idempotency-Key: venda-44\r\n";
    EXPECT_EQ(split_fields(http(port, post("enviardadosvenda", body, key)).retorno())[1], "06098");
    // The next call, of any checkout, first learns the outcome from the device.
    call("consultarsat", {{"numero_caixa", "1"}});
    EXPECT_NE(journal().find("005001  06000  CFe"), std::string::npos);
    const auto f = split_fields(http(port, post("enviardadosvenda", body, key)).retorno());
    EXPECT_EQ(f[0] + " " + f[1], "005001 06000");
    EXPECT_EQ(emu->issued(), 1);
    emu->fault("1*03:ignore"); // a sale the device never took: sent again once it says so
    const std::string k2 = "Idempotency-Key: venda-45\r\n";
    for (const char* code : {"06098", "06000"})
        EXPECT_EQ(field(http(port, post("enviardadosvenda", body, k2)).retorno(), 1), code);
    EXPECT_EQ(emu->issued(), 2);
}

// With no call after it, a sale answered busy is asked about by the status poll.
TEST_F(SatdTest, TheStatusPollSettlesASaleAnsweredBusy) {
    device({"--fault", "1*03:drop"}, 1, 2);
    poll = true;
    start();
    call("enviardadosvenda", {{"numero_caixa", "5"}, {"dados_venda", sale_document()}});
    for (int i = 0; i < 100 && journal().find("005001  06000  CFe") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(journal().find("005001  06000  CFe"), std::string::npos) << journal();
}

// Configurations that satd --check-config refuses.
TEST(SatdConfig, MistakesAreRefused) {
    const std::string dir = make_temp_dir("satdcfg");
    for (const auto& [text, status] : std::vector<std::pair<std::string, int>>{
             {"[server]\nlisten = 127.0.0.1:8080, [::1]:8080\n[deadlines]\nativarsat = 600\n", 0},
             {"[server]\nlisten = 127.0.0.1\n", 1},
             {"[server]\nlisten = 127.0.0.1:65536\n", 1},
             {"[server]\nlistem = 127.0.0.1:8080\n", 1},
             {"[access]\ncheckouts = 10.0.0.0/8, banana\n", 1},
             {"[access]\nadmin = ::1/129\n", 1},
             {"[deadlines]\nconsultarsat = 0\n", 1},
             {"[deadlines]\nnada = 5\n", 1},
             {"[device]\nwait = 99999\n", 1},
         }) {
        ASSERT_TRUE(write_file(dir + "/satd.ini", text));
        EXPECT_EQ(run_program({SATD_PATH, "--check-config", dir + "/satd.ini"}, dir).status, status)
            << text;
    }
}

// One call on the device at a time: a call whose turn does not come in time gets the
// busy answer, and SIGTERM lets the call on the device finish.
TEST_F(SatdTest, BusyAnswerAfterTheWaitAndAGracefulStop) {
    device({"--fault", "1*05:delay:3500"}, 2, 5);
    start("\n[deadlines]\nconsultarsat = 1\n");
    std::thread slow([&] {
        EXPECT_EQ(
            split_fields(call("consultarsat", {{"numero_caixa", "1"}}, "Idempotency-Key: k\r\n")
                             .retorno())[1],
            "08000");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(call("consultarsat", {{"numero_caixa", "2"}}).retorno(),
              "002001|08098|SAT em processamento. Tente novamente.||");
    // A repeat of the running call waits no longer than its deadline either.
    EXPECT_EQ(call("consultarsat", {{"numero_caixa", "1"}}, "Idempotency-Key: k\r\n").retorno(),
              "001002|08098|SAT em processamento. Tente novamente.||");
    EXPECT_EQ(stop(SIGTERM), 0);
    slow.join();
}

// Killed during a sale, started while the device is away: the sale's outcome is
// asked for again, and recorded, once the device is back.
TEST_F(SatdTest, ASaleCutShortIsRecordedOnceTheDeviceIsBack) {
    const std::string state = halvex + "/device.state";
    device({"--state", state, "--fault", "1*03:drop"}, 1, 3);
    start();
    std::thread client([&] {
        call("enviardadosvenda", {{"numero_caixa", "4"}, {"dados_venda", sale_document()}});
    });
    for (int i = 0; i < 100 && emu->codes().find("03") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    stop(SIGKILL);
    client.join();
    emu.reset();
    start();
    emu = std::make_unique<Emulator>(std::vector<std::string>{"--state", state, "--link", kLine});
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    call("consultarsat", {{"numero_caixa", "1"}});
    EXPECT_NE(journal().find("004001  06000  CFe"), std::string::npos) << journal();
}

} // namespace

// The technician's page in headless chromium: the device's status from satd's poll,
// and the answer of ConsultarSAT after a press of its button.
TEST_F(SatdTest, PageInABrowser) {
    if (access(kChromium, X_OK) != 0 || access(kChromedriver, X_OK) != 0)
        GTEST_SKIP() << "chromium/chromedriver not installed: scripts/setup installs them";
    device();
    poll = true;
    start();
    Browser browser(halvex, 1000, 1400);
    ASSERT_EQ(browser.error(), "");
    const std::string page = "http://127.0.0.1:" + std::to_string(port) + "/";
    std::string status;
    for (int i = 0; i < 30 && status.find("900000001") == std::string::npos; ++i) {
        if (i > 0) std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_TRUE(browser.open(page)) << browser.error();
        status = browser.text("#status");
    }
    EXPECT_NE(status.find("900000001"), std::string::npos) << status; // the active preset's
    EXPECT_NE(status.find("01.00.00"), std::string::npos) << status;
    ASSERT_TRUE(browser.click("#consultarsat")) << browser.error();
    std::string result;
    for (int i = 0; i < 50 && (result = browser.text("#resultado")).empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_NE(result.find("|08000|"), std::string::npos) << result << browser.error();
    // The picture is of the page itself, with the status the poll read.
    ASSERT_TRUE(browser.open(page)) << browser.error();
    const char* to = std::getenv("SATD_PAGE_SCREENSHOT");
    const std::string png = browser.screenshot_png(), path = to ? to : halvex + "/satd-page.png";
    ASSERT_TRUE(write_file(path, png));
    EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n") << browser.error();
}
