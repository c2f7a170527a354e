#include "journal.h"

#include <sqlite3.h>

#include <ctime>

namespace satd {

namespace {

std::string now_utc() {
    char text[32];
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

// One prepared statement, finalized on every path.
class Statement {
  public:
    Statement(sqlite3* db, const char* sql) { sqlite3_prepare_v2(db, sql, -1, &s_, nullptr); }
    ~Statement() { sqlite3_finalize(s_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& bind(int i, const std::string& v) {
        sqlite3_bind_text(s_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& bind(int i, long long v) {
        sqlite3_bind_int64(s_, i, v);
        return *this;
    }
    bool step() { return s_ && sqlite3_step(s_) == SQLITE_ROW; }
    bool run() { return s_ && sqlite3_step(s_) == SQLITE_DONE; }
    long long integer(int i) { return sqlite3_column_int64(s_, i); }
    std::string text(int i) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(s_, i));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(s_, i))) : "";
    }

  private:
    sqlite3_stmt* s_ = nullptr;
};

constexpr const char* kColumns = "id, checkout, session, function, idempotency_key, digest, "
                                 "running, answer, code, cfe_key, amount, started, "
                                 "finished, ms";

Entry read_entry(Statement& s) {
    Entry e;
    e.id = s.integer(0);
    e.caixa = static_cast<int>(s.integer(1));
    e.sessao = static_cast<int>(s.integer(2));
    e.funcao = s.text(3);
    e.key = s.text(4);
    e.digest = s.text(5);
    e.running = s.integer(6) != 0;
    e.answer = s.text(7);
    e.code = s.text(8);
    e.chave = s.text(9);
    e.valor = s.text(10);
    e.started = s.text(11);
    e.finished = s.text(12);
    e.ms = static_cast<long>(s.integer(13));
    return e;
}

} // namespace

std::string answer_field(const std::string& answer, size_t index) {
    size_t start = 0;
    for (size_t i = 0; i < index; ++i) {
        start = answer.find('|', start);
        if (start == std::string::npos) return "";
        ++start;
    }
    const size_t end = answer.find('|', start);
    return answer.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

Journal::~Journal() {
    sqlite3_close(db_);
}

bool Journal::exec(const char* sql) {
    return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool Journal::open(const std::string& path, std::string& why, bool read_only) {
    const int flags = read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    if (sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr) != SQLITE_OK) {
        why = path + ": " + (db_ ? sqlite3_errmsg(db_) : "cannot open");
        return false;
    }
    sqlite3_busy_timeout(db_, 5000);
    if (read_only) return true;
    // A row must be on disk before its answer leaves: WAL with a sync at every commit.
    const bool ok =
        exec("PRAGMA journal_mode=WAL") && exec("PRAGMA synchronous=FULL") &&
        exec("CREATE TABLE IF NOT EXISTS calls (id INTEGER PRIMARY KEY, checkout INTEGER NOT "
             "NULL, session INTEGER NOT NULL, function TEXT NOT NULL, idempotency_key TEXT, "
             "digest TEXT NOT NULL, running INTEGER NOT NULL, answer TEXT, code TEXT, "
             "cfe_key TEXT, amount TEXT, started TEXT NOT NULL, finished TEXT, ms INTEGER)") &&
        exec("CREATE UNIQUE INDEX IF NOT EXISTS calls_key ON calls (checkout, "
             "idempotency_key) WHERE idempotency_key IS NOT NULL") &&
        exec("CREATE TABLE IF NOT EXISTS sessions (checkout INTEGER PRIMARY KEY, last INTEGER)") &&
        exec("CREATE TABLE IF NOT EXISTS settings (name TEXT PRIMARY KEY, value TEXT)");
    if (!ok || !keep_counts()) {
        why = path + ": " + sqlite3_errmsg(db_);
        exec("ROLLBACK");
        return false;
    }
    return true;
}

// The rows by function and outcome, kept by triggers in the same transaction as the
// rows themselves, so that /metrics need not count a journal of years at every
// scrape. A journal written before the counts existed is counted once, here. On
// failure the caller rolls the transaction back.
bool Journal::keep_counts() {
    {
        Statement exists(db_, "SELECT 1 FROM sqlite_master WHERE name = 'outcome_counts'");
        if (exists.step()) return true;
    }
    auto of = [](const char* row) {
        std::string text = "CASE WHEN R.running THEN 'running' WHEN coalesce(R.code, '') = '' "
                           "THEN 'none' ELSE R.code END";
        for (size_t at; (at = text.find("R.")) != std::string::npos;)
            text.replace(at, 1, row);
        return text;
    };
    auto add = [&](const char* row, const char* n) {
        return std::string("INSERT INTO outcome_counts VALUES (") + row + ".function, " + of(row) +
               ", " + n + ") ON CONFLICT DO UPDATE SET rows = rows + " + n + ";";
    };
    const std::string sql =
        "BEGIN IMMEDIATE;"
        "CREATE TABLE outcome_counts (function TEXT NOT NULL, outcome TEXT NOT NULL, rows "
        "INTEGER NOT NULL, PRIMARY KEY (function, outcome));"
        "INSERT INTO outcome_counts SELECT function, " +
        of("calls") + ", count(*) FROM calls GROUP BY 1, 2;" +
        "CREATE TRIGGER outcome_insert AFTER INSERT ON calls BEGIN " + add("new", "1") + " END;" +
        "CREATE TRIGGER outcome_update AFTER UPDATE OF function, running, code ON calls BEGIN " +
        add("old", "-1") + add("new", "1") + " END;" +
        "CREATE TRIGGER outcome_delete AFTER DELETE ON calls BEGIN " + add("old", "-1") +
        " END;COMMIT;";
    return exec(sql.c_str());
}

int Journal::next_session(int caixa) {
    std::lock_guard<std::mutex> hold(mutex_);
    Counter& c = counters_[caixa];
    if (!c.loaded) {
        Statement s(db_, "SELECT last FROM sessions WHERE checkout = ?");
        if (s.bind(1, caixa).step()) c.last = static_cast<int>(s.integer(0));
        c.loaded = true;
    }
    // The stored number is the end of a block handed out from memory: one disk
    // write per kSessionBlock calls, and a restart goes on after the block.
    if (c.left == 0) {
        Statement s(db_, "INSERT INTO sessions (checkout, last) VALUES (?, ?) "
                         "ON CONFLICT (checkout) DO UPDATE SET last = excluded.last");
        // A number not reserved on disk could come again after a restart: none is given.
        if (!s.bind(1, caixa).bind(2, (c.last + kSessionBlock - 1) % 999 + 1).run()) return 0;
        c.left = kSessionBlock;
    }
    c.last = c.last % 999 + 1;
    --c.left;
    return caixa * 1000 + c.last;
}

long long Journal::begin(const Entry& e) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement s(db_, "INSERT INTO calls (checkout, session, function, idempotency_key, digest, "
                     "running, started) VALUES (?, ?, ?, ?, ?, 1, ?)");
    s.bind(1, e.caixa).bind(2, e.sessao).bind(3, e.funcao).bind(5, e.digest).bind(6, now_utc());
    if (!e.key.empty()) s.bind(4, e.key);
    return s.run() ? sqlite3_last_insert_rowid(db_) : 0;
}

bool Journal::restart(long long id, int sessao) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement s(db_, "UPDATE calls SET session = ?, running = 1, answer = NULL, "
                     "code = NULL, cfe_key = NULL, amount = NULL, started = ?, finished = NULL "
                     "WHERE id = ?");
    return s.bind(1, sessao).bind(2, now_utc()).bind(3, id).run();
}

void Journal::finish(long long id, const std::string& answer, long ms) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement s(db_, "UPDATE calls SET running = 0, answer = ?, code = ?, cfe_key "
                     "= ?, amount = ?, finished = ?, ms = ? WHERE id = ?");
    const std::string code = answer_field(answer, 1);
    // Only issued receipts and cancellations carry a key and a value.
    const bool issued = code == "06000" || code == "07000";
    s.bind(1, answer).bind(2, code).bind(3, issued ? answer_field(answer, 8) : "");
    s.bind(4, issued ? answer_field(answer, 9) : "").bind(5, now_utc()).bind(6, ms).bind(7, id);
    s.run();
}

std::optional<Entry> Journal::find(int caixa, const std::string& key) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement s(db_, (std::string("SELECT ") + kColumns +
                      " FROM calls WHERE checkout = ? AND idempotency_key = ?")
                         .c_str());
    if (!s.bind(1, caixa).bind(2, key).step()) return std::nullopt;
    return read_entry(s);
}

std::optional<Entry> Journal::issued(const std::string& chave) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement s(db_, (std::string("SELECT ") + kColumns +
                      " FROM calls WHERE cfe_key = ? AND running = 0 AND code IN ('06000', '07000')"
                      " ORDER BY id DESC LIMIT 1")
                         .c_str());
    if (!s.bind(1, chave).step()) return std::nullopt;
    return read_entry(s);
}

std::vector<Entry> Journal::running() {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement s(db_, (std::string("SELECT ") + kColumns +
                      " FROM calls WHERE running = 1 OR (code LIKE '__098' AND function IN "
                      "('EnviarDadosVenda', 'CancelarUltimaVenda')) ORDER BY id")
                         .c_str());
    std::vector<Entry> out;
    while (s.step())
        out.push_back(read_entry(s));
    return out;
}

std::vector<Entry> Journal::list(int limit) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement s(db_, (std::string("SELECT * FROM (SELECT ") + kColumns +
                      " FROM calls ORDER BY id DESC LIMIT ?) ORDER BY id")
                         .c_str());
    s.bind(1, limit);
    std::vector<Entry> out;
    while (s.step())
        out.push_back(read_entry(s));
    return out;
}

std::vector<Journal::Count> Journal::counts() {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement s(db_, "SELECT function, outcome, rows FROM outcome_counts WHERE rows > 0 "
                     "ORDER BY 1, 2");
    std::vector<Count> out;
    while (s.step())
        out.push_back({s.text(0), s.text(1), s.integer(2)});
    return out;
}

std::string Journal::setting(const std::string& name) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement s(db_, "SELECT value FROM settings WHERE name = ?");
    return s.bind(1, name).step() ? s.text(0) : "";
}

bool Journal::set_setting(const std::string& name, const std::string& value) {
    std::lock_guard<std::mutex> hold(mutex_);
    Statement s(db_, "INSERT INTO settings (name, value) VALUES (?, ?) "
                     "ON CONFLICT (name) DO UPDATE SET value = excluded.value");
    return s.bind(1, name).bind(2, value).run();
}

} // namespace satd
