// A headless chromium driven through chromedriver's WebDriver HTTP interface, for
// tests that look at satd's pages as a technician's browser shows them.
#pragma once

#include <sys/types.h>

#include <nlohmann/json.hpp>
#include <string>

namespace testsupport {

inline constexpr const char* kChromium = "/usr/bin/chromium";
inline constexpr const char* kChromedriver = "/usr/bin/chromedriver";

class Browser {
  public:
    // Starts chromedriver on a free port with HOME, its log and the browser's profile
    // in `dir`, then a browser with a `width` x `height` window; error() says what failed.
    Browser(const std::string& dir, int width, int height);
    // Closes the browser, then kills chromedriver's whole process group.
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    const std::string& error() const { return why_; }
    bool open(const std::string& url);
    // The rendered text of the first element that matches `css`; empty when none does.
    std::string text(const std::string& css);
    bool click(const std::string& css);
    std::string screenshot_png(); // the window's PNG bytes; empty on failure

  private:
    // One command; its "value", or null with error() set when it failed.
    nlohmann::json call(const char* method, const std::string& path,
                        const nlohmann::json& body = nullptr);
    std::string element(const std::string& css);

    pid_t pid_ = -1;
    int port_ = 0;
    std::string session_, why_;
};

} // namespace testsupport
