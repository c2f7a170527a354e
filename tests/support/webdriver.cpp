#include "webdriver.h"

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
#include <thread>
#include <vector>

#include "base64.h"
#include "sandbox.h"

extern char** environ;

namespace testsupport {

namespace {

// One request to chromedriver, which keeps the connection open after its answer:
// the body is read up to its Content-Length.
std::string roundtrip(int port, const std::string& request) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    timeval tv{60, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    std::string in;
    size_t end = std::string::npos, size = 0;
    char buf[65536];
    if (connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0 &&
        send(fd, request.data(), request.size(), MSG_NOSIGNAL) == ssize_t(request.size()))
        for (ssize_t n; (end == std::string::npos || in.size() < end + 4 + size) &&
                        (n = recv(fd, buf, sizeof buf, 0)) > 0;)
            if (in.append(buf, size_t(n)); end == std::string::npos) {
                end = in.find("\r\n\r\n");
                const char* length = strcasestr(in.c_str(), "\ncontent-length:");
                size = length ? size_t(std::atol(length + 16)) : 0;
            }
    close(fd);
    return end == std::string::npos ? "" : in.substr(end + 4);
}

} // namespace

Browser::Browser(const std::string& dir, int width, int height) {
    const std::string log = dir + "/chromedriver.log";
    // HOME too in the test's folder: chromium writes its settings and caches there.
    std::string home = "HOME=" + dir;
    std::vector<char*> envp{home.data()};
    for (char** e = environ; *e; ++e)
        if (std::strncmp(*e, "HOME=", 5) != 0) envp.push_back(*e);
    envp.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
        // Dies with the test; a group of its own, which the destructor kills whole.
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(out, 1);
        dup2(out, 2);
        if (chdir(dir.c_str()) == 0)
            execle(kChromedriver, kChromedriver, "--port=0", nullptr, envp.data());
        _exit(127);
    }
    constexpr const char* kReady = "started successfully on port ";
    for (int i = 0; i < 500 && port_ == 0; ++i) {
        const std::string text = read_file(log);
        const auto at = text.find(kReady);
        if (at != std::string::npos) port_ = std::atoi(text.c_str() + at + strlen(kReady));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (port_ == 0) {
        why_ = "chromedriver did not start: " + read_file(log);
        return;
    }
    // Over a pipe rather than a port, the browser also quits when chromedriver dies.
    const nlohmann::json options{
        {"binary", kChromium},
        {"args",
         {"--remote-debugging-pipe", "--no-sandbox", "--headless=new", "--disable-gpu",
          "--user-data-dir=" + dir + "/chromium",
          "--window-size=" + std::to_string(width) + "," + std::to_string(height)}}};
    const nlohmann::json caps{
        {"capabilities", {{"alwaysMatch", {{"goog:chromeOptions", options}}}}}};
    const nlohmann::json v = call("POST", "/session", caps);
    if (v.is_object()) session_ = v.value("sessionId", "");
}

Browser::~Browser() {
    if (!session_.empty()) call("DELETE", "");
    if (pid_ > 0) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL); // in case it had not made its group yet
        waitpid(pid_, nullptr, 0);
    }
}

nlohmann::json Browser::call(const char* method, const std::string& path,
                             const nlohmann::json& body) {
    why_.clear();
    const std::string text = body.is_null() ? "" : body.dump();
    const std::string url = path == "/session" ? path : "/session/" + session_ + path;
    const std::string answer =
        roundtrip(port_, std::string(method) + " " + url +
                             " HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Type: application/json\r\n"
                             "Content-Length: " +
                             std::to_string(text.size()) + "\r\n\r\n" + text);
    const nlohmann::json j = nlohmann::json::parse(answer, nullptr, false);
    const nlohmann::json v = j.is_object() && j.contains("value") ? j["value"] : nullptr;
    if (v.is_object() && v.contains("error")) {
        why_ = std::string(method) + " " + url + ": " + v.value("message", v.value("error", ""));
        return nullptr;
    }
    if (j.is_discarded()) why_ = std::string(method) + " " + url + ": no answer";
    return v;
}

bool Browser::open(const std::string& url) {
    return !session_.empty() && (call("POST", "/url", {{"url", url}}), why_.empty());
}

std::string Browser::element(const std::string& css) {
    const nlohmann::json v = call("POST", "/element", {{"using", "css selector"}, {"value", css}});
    // A found element is an object with one member, named by the protocol.
    return v.is_object() && !v.empty() ? v.begin()->get<std::string>() : "";
}

std::string Browser::text(const std::string& css) {
    const std::string id = element(css);
    const nlohmann::json v = id.empty() ? nullptr : call("GET", "/element/" + id + "/text");
    return v.is_string() ? v.get<std::string>() : "";
}

bool Browser::click(const std::string& css) {
    const std::string id = element(css);
    return !id.empty() &&
           (call("POST", "/element/" + id + "/click", nlohmann::json::object()), why_.empty());
}

std::string Browser::screenshot_png() {
    const nlohmann::json v = call("GET", "/screenshot");
    return v.is_string() ? torvane::base64_decode(v.get<std::string>()).value_or("") : "";
}

} // namespace testsupport
