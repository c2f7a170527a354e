// The journal: an SQLite database (WAL, synchronous FULL) that holds every sale and
// cancellation, every call made with an Idempotency-Key, each checkout's next
// session number and the activation code after a change. A row is written as
// "running" before the call reaches the device and completed before satd answers,
// so after a crash the rows still running name the sessions to ask the device about.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace satd {

struct Entry {
    long long id = 0;
    int caixa = 0;
    int sessao = 0;
    std::string funcao; // SAT function name
    std::string key;    // Idempotency-Key, empty when none
    std::string digest; // of the request
    bool running = false;
    std::string answer, code, chave, valor;
    std::string started, finished; // UTC, ISO 8601
    long ms = 0;
};

class Journal {
  public:
    Journal() = default;
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Opens (creating it and its tables when missing); false with the reason in `why`.
    bool open(const std::string& path, std::string& why, bool read_only = false);

    // The checkout's next session number: caixa * 1000 + 1..999, in turn. Numbers
    // are reserved on disk in blocks before they are handed out, so a restart
    // never repeats one of the last 999 - kSessionBlock of the checkout, far more
    // than the 100 sessions a device remembers.
    // 0 when the reservation cannot be written.
    int next_session(int caixa);

    long long begin(const Entry& e); // a new running row; its id
    // Reuses a row (a retry of a call that never reached the device).
    bool restart(long long id, int sessao);
    void finish(long long id, const std::string& answer, long ms);
    std::optional<Entry> find(int caixa, const std::string& key);
    // The rows still running, and the sales and cancellations answered busy.
    std::vector<Entry> running();
    std::vector<Entry> list(int limit);
    // The newest issued sale or cancellation whose CF-e key is `chave` ("CFe" + 44 digits).
    std::optional<Entry> issued(const std::string& chave);

    // The rows by function and answer code ("running", or "none" when no answer came).
    struct Count {
        std::string funcao, code;
        long long rows;
    };
    std::vector<Count> counts();

    std::string setting(const std::string& name);
    bool set_setting(const std::string& name, const std::string& value);

  private:
    bool exec(const char* sql);
    bool keep_counts();
    static constexpr int kSessionBlock = 100;
    struct Counter {
        int last = 0; // the number handed out last, 1..999; 0: none yet
        int left = 0; // of the block reserved on disk
        bool loaded = false;
    };
    std::map<int, Counter> counters_;
    sqlite3* db_ = nullptr;
    std::mutex mutex_;
};

// Fields 1 (code), 8 (key) and 9 (value) of an answer text.
std::string answer_field(const std::string& answer, size_t index);

} // namespace satd
