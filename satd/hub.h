// The hub API without the HTTP server: one request in, one status and JSON body
// out. Access control, form decoding and field checks, session numbers, the
// journal and Idempotency-Key, and the call through the device worker.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "config.h"
#include "device.h"
#include "extrato.h"
#include "form.h"
#include "functions.h"
#include "journal.h"
#include "metrics.h"
#include "printers.h"
#include "status.h"

namespace satd {

struct Request {
    std::string method, path, remote, body;
    // Headers by their lower-case name; a missing header is absent from the map.
    std::map<std::string, std::string> headers;
};

struct Reply {
    int status = 200;
    std::string body; // JSON, or the extrato's bytes
    std::string content_type = "application/json";
    std::vector<std::pair<std::string, std::string>> headers; // extra response headers
};

Reply error_reply(int status, const std::string& erro);

class Hub {
  public:
    Hub(const Config& config, Journal& journal, Device& device);

    Reply handle(const Request& request);
    // Asks the device about the sales and cancellations that a crash left running.
    // Those it cannot settle now (the device is away or does not say) are asked
    // about again before later calls, until the device says.
    void recover();
    std::string activation_code();
    // One status poll, when the device is idle: false when it did not answer a status.
    bool poll_status();

  private:
    struct Pending {
        std::string digest;
        bool done = false;
        Reply reply;
    };
    Reply refuse_or_call(const Request& r);
    // "/", "/metrics" and the page's buttons under "/painel/"; nullopt for other paths.
    std::optional<Reply> panel(const Request& r);
    Reply panel_action(const std::string& action, const Fields& fields);
    std::string metrics_text();
    // The admin list and its token (Bearer, or a browser's Basic password).
    bool admin(const Request& r) const;
    bool foreign_origin(const Request& r) const;
    void keep_status(const std::string& answer);
    // GET <base>/extrato/<44 digits>.{txt,png,pdf}: the extrato of a receipt in the journal.
    Reply extrato(const Request& r, const std::string& name);
    // The extrato of an issued sale or cancellation (funcao, answer) in `format`;
    // an error reply when it cannot be made.
    Reply render(const std::string& funcao, const std::string& answer, extrato::Format format,
                 int paper_mm);
    Reply call(const Function& f, int caixa, const Fields& fields, const std::string& key,
               const std::string& digest);
    Reply run_journaled(const Function& f, int caixa, const Fields& fields, const std::string& key,
                        const std::string& digest);
    // How long a call may wait for its turn ([deadlines], else [device] wait).
    std::chrono::seconds wait_of(const Function& f) const;
    // `poll`: satd's own status poll, which yields to every checkout's call.
    std::string device_call(const Function& f, int caixa, int session, const Fields& fields,
                            bool poll = false);
    // The stored answer of `e`'s session when the device has one; "" when it has none
    // (11003); nullopt when it could not say.
    std::optional<std::string> ask_device(const Entry& e);
    void settle_orphans();
    Reply answer(const Function& f, const std::string& text);
    bool allowed(const Function& f, const Request& r) const;
    void log(int caixa, const Function& f, int session, const std::string& code, long ms);

    const Config& config_;
    Metrics metrics_;
    // The last status the device gave, and how the polls went.
    std::mutex status_mutex_;
    std::optional<Status> status_;
    std::time_t polled_ = 0;  // when status_ came
    std::string poll_error_;  // of the last poll, when it failed
    bool poll_tried_ = false; // a poll has ended, well or not
    std::uint64_t poll_failures_ = 0;
    Printers printers_;
    Journal& journal_;
    Device& device_;
    std::string code_; // activation code
    std::mutex code_mutex_;
    std::mutex pending_mutex_;
    std::condition_variable pending_done_;
    std::map<std::pair<int, std::string>, std::shared_ptr<Pending>> pending_;
    // The sales and cancellations of unknown outcome that no retry has settled yet:
    // those found running or answered busy at start, and those answered busy since.
    // Only these are asked about: a row running now may be a call on its way.
    std::mutex orphans_mutex_;
    std::vector<Entry> orphans_;
    std::atomic<bool> has_orphans_{false};
    std::chrono::steady_clock::time_point
        orphans_again_{}; // when a device that did not say is asked again
};

} // namespace satd
