/* Internal interface of the SAT driver library, shared by every source file of lib/.
 *
 * Stable: the declarations below are relied on by other files of the library
 * (attempts.cpp, sat_functions.cpp) and by the unit tests. A change to any of them
 * is recorded here, with the reason, before it is made.
 *
 * Changes:
 *  - Receive::Any became Stored and Last, and take_answer() gave way to answer_end()
 *    and answer_session(): the receive splits what arrived into answers and takes
 *    the one of its session (the session query: the session asked for; the last
 *    fiscal session: the last answer), so a late answer of another command is
 *    never handed back, alone or joined to this one's.
 *
 * Two layers:
 *  - extern "C": the library's globals and internal functions under their own
 *    names and types. They are exported (SAT_API) because hosts and test tools
 *    of the SAT driver family look at them; they are plain C.
 *  - namespace sat: C++ helpers that nobody outside the library sees (hidden by
 *    visibility and by the linker version script): the table of the sixteen SAT
 *    functions, the command buffer, the single exchange and the busy answer.
 */
#pragma once

#include "sat.h"

#include <sys/select.h>
#include <sys/time.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string_view>

/* ---- Sizes, paths and texts of the library ---------------------------------------- */

namespace sat {

// Sent by ExtrairLogs and answered by SetDriver("VERSAO"); the same in both builds.
inline constexpr const char* kVersion = "3.0.0.3_x86";
inline constexpr const char* kIniPath = "/var/torvane_halvex/sat.ini";
inline constexpr const char* kLogPath = "/var/torvane_halvex/lib_torvane_halvex.log";
inline constexpr const char* kDefaultSerial = "/dev/ttyQZ0";
// Capacity of BC.Dados; one byte of it is always kept for the terminating 0.
inline constexpr int kResponseSize = 3145728;
// Size of the command buffer that every call allocates (grown when a command needs more).
inline constexpr std::size_t kCommandSize = 1572864;
inline constexpr const char* kBusyMessage = "SAT em processamento. Tente novamente.";
// Sleep of lock() before it takes the flag, and of the callers between two polls.
inline constexpr unsigned kLockPollMicros = 100000;

} // namespace sat

/* ---- Globals and internal functions (C linkage, exported) ------------------------- */

extern "C" {

/* Response buffer: the one place where device answers are stored. */
typedef struct sat_buffer {
    int Tamanho;  /* capacity of Dados, set by cbInit */
    int NumBytes; /* answer bytes stored since the last cbInit */
    char Dados[3145728];
} sat_buffer;

SAT_API extern sat_buffer BC;

/* Device link state. */
SAT_API extern int fdUSB;
SAT_API extern fd_set inputUSB;
SAT_API extern struct timeval timeoutUSB;

/* Deadline of the current exchange, in tick() seconds. */
SAT_API extern int Tempo_Tout;

/* Text settings (built-in values put in place by init_lib). */
SAT_API extern char SAT_SERIAL[30];
SAT_API extern char SAT_DEBUG[7];
SAT_API extern char SAT_NOPOPUP[7];
SAT_API extern char SAT_CORRECAO[7];
SAT_API extern char SAT_LOCK[7];
SAT_API extern char SAT_RET_10001[7];

/* Integer settings. */
SAT_API extern int ModoDebug;
SAT_API extern int Corrigir;
SAT_API extern int ModoLock;
SAT_API extern int Ret10001;
SAT_API extern int NumTent;
SAT_API extern int TmpTent;

/* Timeout pairs {minutes, seconds}, one per SAT function. */
SAT_API extern int T_Ativ[2];
SAT_API extern int T_ICP[2];
SAT_API extern int T_Venda[2];
SAT_API extern int T_Canc[2];
SAT_API extern int T_Cons[2];
SAT_API extern int T_Fim[2];
SAT_API extern int T_Stat[2];
SAT_API extern int T_Sessao[2];
SAT_API extern int T_SessaoFiscal[2];
SAT_API extern int T_Rede[2];
SAT_API extern int T_Assoc[2];
SAT_API extern int T_Atual[2];
SAT_API extern int T_Logs[2];
SAT_API extern int T_Bloq[2];
SAT_API extern int T_Desbloq[2];
SAT_API extern int T_CodAtiv[2];

/* Call lock flag: 1 while an exported SAT function holds the lock. */
SAT_API extern int lib_lock;

/* Minute and second texts left by the last successful valida_TOUT. */
SAT_API extern char sMM[3];
SAT_API extern char sSS[3];

/* Serial link (serial_link.cpp: the only file with terminal calls). */
SAT_API int init_usb(const char* dispositivo) noexcept;
SAT_API int envia_usb(const char* comando) noexcept;
SAT_API int le_usb(void) noexcept;
SAT_API int cbInit(int tamanho) noexcept;
SAT_API long tick(void) noexcept;
SAT_API int64_t mili_tick(void) noexcept;

/* Exchange. */
SAT_API int EnviaParaSat(const char* comando) noexcept;
SAT_API int RecebeDoSat2(int numeroSessao) noexcept;
SAT_API int RecebeDoSat3(void) noexcept;
SAT_API int Correcao(char* texto) noexcept;

/* State, start-up, diagnostics, call lock. */
SAT_API int init_lib(void) noexcept;
SAT_API int file_existe(const char* arquivo) noexcept;
SAT_API int EnviaLog(const char* mensagem, const char* detalhe) noexcept;
SAT_API char* timestamp(void) noexcept;
SAT_API char* IntToStr(int valor, int tamanho) noexcept;
SAT_API int lock(void) noexcept;
SAT_API int unlock(void) noexcept;

/* Settings file. */
SAT_API int valida_TOUT(const char* texto) noexcept;

} /* extern "C" */

/* ---- C++ helpers of the library (hidden) ------------------------------------------ */

namespace sat {

// Which receive routine a function uses.
enum class Receive : unsigned char {
    Session, // RecebeDoSat2: only an answer that carries the call's session number
    // RecebeDoSat3, for the session query: the stored answer of the session asked
    // for (the query's last number), or the device's refusal under the query's own
    Stored,
    // RecebeDoSat3, for the last fiscal session, whose stored answer may carry any
    // session: the last whole answer that arrived (the device answers in order)
    Last,
};

// One SAT function: everything the single exchange needs to know about it.
struct Row {
    const char* name;   // exported name; also the label of its log lines
    const char* code;   // command code between pipes, "|05|"
    const char* format; // command format: "%s" the code, "%06d" the session, then the fields
    int* timeout;       // its timeout pair {minutes, seconds}
    Receive receive;
    const char* busy;        // busy code between pipes, "|08098|"
    const char* busy_prefix; // "0000|" for sale and cancellation, else ""
};

// Index of each row in `rows`, in command-code order.
enum class Id : unsigned char {
    AtivarSAT,
    ComunicarCertificadoICPBRASIL,
    EnviarDadosVenda,
    CancelarUltimaVenda,
    ConsultarSAT,
    TesteFimAFim,
    ConsultarStatusOperacional,
    ConsultarNumeroSessao,
    ConfigurarInterfaceDeRede,
    AssociarAssinatura,
    AtualizarSoftwareSAT,
    ExtrairLogs,
    BloquearSAT,
    DesbloquearSAT,
    TrocarCodigoDeAtivacao,
    ConsultarUltimaSessaoFiscal,
};

inline constexpr std::array<Row, 16> rows{{
    {"AtivarSAT", "|01|", "%s%06d|%1d|%s|%s|%2d", T_Ativ, Receive::Session, "|04098|", ""},
    {"ComunicarCertificadoICPBRASIL", "|02|", "%s%06d|%s|%s", T_ICP, Receive::Session, "|05098|",
     ""},
    {"EnviarDadosVenda", "|03|", "%s%06d|%s|%s", T_Venda, Receive::Session, "|06098|", "0000|"},
    {"CancelarUltimaVenda", "|04|", "%s%06d|%s|%s|%s", T_Canc, Receive::Session, "|07098|",
     "0000|"},
    {"ConsultarSAT", "|05|", "%s%06d", T_Cons, Receive::Session, "|08098|", ""},
    {"TesteFimAFim", "|06|", "%s%06d|%s|%s", T_Fim, Receive::Session, "|09098|", ""},
    {"ConsultarStatusOperacional", "|07|", "%s%06d|%s", T_Stat, Receive::Session, "|10098|", ""},
    {"ConsultarNumeroSessao", "|08|", "%s%06d|%s|%06d", T_Sessao, Receive::Stored, "|11098|", ""},
    {"ConfigurarInterfaceDeRede", "|09|", "%s%06d|%s|%s", T_Rede, Receive::Session, "|12098|", ""},
    {"AssociarAssinatura", "|10|", "%s%06d|%s|%s|%s", T_Assoc, Receive::Session, "|13098|", ""},
    {"AtualizarSoftwareSAT", "|11|", "%s%06d|%s", T_Atual, Receive::Session, "|14098|", ""},
    {"ExtrairLogs", "|12|", "%s%06d|%s|%s", T_Logs, Receive::Session, "|15098|", ""},
    {"BloquearSAT", "|13|", "%s%06d|%s", T_Bloq, Receive::Session, "|16098|", ""},
    {"DesbloquearSAT", "|14|", "%s%06d|%s", T_Desbloq, Receive::Session, "|17098|", ""},
    {"TrocarCodigoDeAtivacao", "|15|", "%s%06d|%s|%1d|%s|%s", T_CodAtiv, Receive::Session,
     "|18098|", ""},
    {"ConsultarUltimaSessaoFiscal", "|20|", "%s%06d|%s", T_SessaoFiscal, Receive::Last, "|19098|",
     ""},
}};

constexpr const Row& row(Id id) noexcept {
    return rows[static_cast<std::size_t>(id)];
}

// One command field after the session number: a text or a number. A null text
// counts as the empty text, so nothing is ever read through a null pointer.
struct Field {
    const char* text;
    int number;
    bool is_text;
    constexpr Field(const char* t) noexcept : text(t ? t : ""), number(0), is_text(true) {}
    constexpr Field(int n) noexcept : text(""), number(n), is_text(false) {}
};

// The command buffer of one call: kCommandSize bytes, grown when a command needs
// more (a long sale is never cut), freed when the call leaves its scope.
class CommandBuffer {
  public:
    CommandBuffer() noexcept;
    ~CommandBuffer();
    CommandBuffer(const CommandBuffer&) = delete;
    CommandBuffer& operator=(const CommandBuffer&) = delete;

    // Formats `r`'s command for `numeroSessao` and `fields` (in the order of the
    // row's format). False only when memory for it cannot be had.
    bool format(const Row& r, int numeroSessao, std::initializer_list<Field> fields) noexcept;
    const char* text() const noexcept { return data_ ? data_ : ""; }
    std::size_t capacity() const noexcept { return capacity_; }

  private:
    char* data_;
    std::size_t capacity_;
};

// ---- The frame (frame.cpp): what goes on the wire ----
// A command is its text, then '|', then ETX; every answer of the device ends with ETX.
inline constexpr char kEtx = 0x03;
inline constexpr char kCommandEnd[2] = {'|', kEtx};
// True when the `size` bytes at `data` end with the answer's end marker.
bool ends_answer(const char* data, std::size_t size) noexcept;
// Where the answer that starts at `from` ends: the index of its end marker, or npos
// while no whole answer has arrived. An end marker ends an answer when it is the
// last byte that arrived, or when the start of another answer (six digits or
// more, then '|') follows it: the device answers one command after another, and a
// late answer may come in one read with the next. Any other end marker is text.
std::size_t answer_end(std::string_view data, std::size_t from) noexcept;
// The session number an answer begins with: its first six characters as atoi reads them.
int answer_session(std::string_view answer) noexcept;

// init_lib when the library has not been started yet (SAT_SERIAL is still empty).
void start_library() noexcept;

// Polls lock() until it is taken, sleeping 100 ms after every "busy".
void take_lock() noexcept;
// The deadline (tick() seconds) that a timeout pair {minutes, seconds} gives from now.
long deadline_after(const int* pair) noexcept;
// Tempo_Tout = deadline_after(pair).
void set_deadline(const int* pair) noexcept;

// How one exchange ended.
enum class Sent : unsigned char {
    Answered,   // an answer is in BC.Dados
    NotSent,    // the device could not be opened or written: it has not got the command
    AnswerLost, // the command went out but no answer came: it may have been carried out
};

// One exchange of `r` without the lock and without the busy answer: sets the
// deadline from r.timeout, formats the command into `cmd`, writes the debug line
// `label` (default: r.name + ": ") with the command after its code, sends it with
// EnviaParaSat and receives with RecebeDoSat2(numeroSessao) or RecebeDoSat3 as the
// row says.
Sent send_receive(const Row& r, int numeroSessao, CommandBuffer& cmd,
                  std::initializer_list<Field> fields, const char* label = nullptr) noexcept;

// Writes r's busy answer for numeroSessao into BC.Dados:
// "%06d" session, busy code, busy prefix, "SAT em processamento. Tente novamente.", "||".
void write_busy(const Row& r, int numeroSessao) noexcept;

// The whole single exchange of a SAT function: lock, command buffer, send_receive,
// busy answer on failure, `after` (when given) on the answer, "Resposta de <name>: "
// debug line, unlock. Returns BC.Dados.
char* single_exchange(const Row& r, int numeroSessao, std::initializer_list<Field> fields,
                      void (*after)(int numeroSessao) = nullptr) noexcept;

// ---- The attempts (attempts.cpp): sale, cancellation and the two session queries ----
// The result code of an answer: the five characters after its first '|' (fewer
// when the text ends sooner, empty without a '|'), NUL-terminated for the log.
void cod_ret(const char* answer, char (&out)[6]) noexcept;
// Inserts one empty field after the tenth '|' of `text` when it holds exactly
// ten (eleven fields become twelve). `capacity` counts every byte that `text`
// may use, its terminating NUL included; an answer that would not fit once
// grown is left unchanged. True when the field was inserted.
bool insert_empty_field(char* text, std::size_t capacity) noexcept;

// Debug log line (EnviaLog) written only while ModoDebug is 1.
void log(const char* mensagem, const char* detalhe) noexcept;
// Debug log line whose detail is a decimal number.
void log_number(const char* mensagem, long valor) noexcept;
// Debug log line for bytes that came from the device and are thrown away: their
// count, then the first of them (at most kDiscardShown).
inline constexpr std::size_t kDiscardShown = 512;
void log_discarded(const char* mensagem, std::size_t total, std::string_view first) noexcept;
// True when console messages are on: SAT_NOPOPUP begins with "false".
bool console_on() noexcept;
// printf to standard output, only when console_on().
void console(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));
// True when `text` (null counts as empty) begins with `prefix`.
bool starts_with(const char* text, const char* prefix) noexcept;
// The device path that a SERIAL setting names, "/dev/" put in front unless it is
// there, into `out`; false, `out` untouched, when that does not fit in `size`.
bool serial_path(const char* value, char* out, std::size_t size) noexcept;
// The device path that sat.ini's SERIAL names, by serial_path; false (and `out`
// untouched) when it does not fit.
bool configured_serial(char* out, std::size_t size) noexcept;
// True for a setting text that begins with "true" (case-sensitive).
inline bool is_true(const char* text) noexcept {
    return starts_with(text, "true");
}

// ---- Serial-link helpers (serial_link.cpp), used by the exchange ----
// Opens `path` as the device and sets the terminal up; -1 when it cannot be opened.
int open_link(const char* path) noexcept;
// Closes fdUSB (when open) and sets it to -1, so that a stale number never
// reaches a descriptor that the host has opened since.
void close_device() noexcept;
// True while fdUSB is an open terminal.
bool device_is_terminal() noexcept;
// State of the answer being received since the last cbInit: an answer that
// does not fit into BC.Dados is read to its end and dropped.
enum class Overflow : unsigned char { None, Reading, Dropped };
Overflow response_overflow() noexcept;

} // namespace sat
