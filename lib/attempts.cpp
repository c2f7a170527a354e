// The attempts: EnviarDadosVenda, CancelarUltimaVenda, ConsultarNumeroSessao and
// ConsultarUltimaSessaoFiscal repeat their exchange, up to NumTent times and
// TmpTent seconds apart, while it fails or the device answers its busy code. The
// lock is held across all attempts.
//
// A sale (or cancellation) whose answer got lost may already have been issued by
// the device. Sending it again would issue a second receipt, so after a lost
// answer the next attempt first asks the device for the stored answer of this
// very session ("|08|") and returns it when the device has one of the command's
// family; only otherwise is the command sent again. When the device answered that
// it is busy, it did not take the command, and later attempts resend it directly.
// The two session queries issue nothing: every attempt simply sends them again.
#include "device_lock.h"
#include "sat_internal.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace {

using sat::Field;

// What tells one function's attempts from another's: its row and its own texts.
struct AttemptKind {
    sat::Id id;
    const char* first_cod_ret;  // result code of the first attempt's answer
    const char* resend_label;   // before a resent command; null: the first send's label
    const char* resend_cod_ret; // result code of a resent command's answer
    const char* busy_log;       // the device answered with its busy code
    const char* family;         // first two digits of the command's result codes
    bool session_check;         // after a lost answer, ask for the stored one first
    bool repair;                // eleven-field answers gain an empty field
};

constexpr AttemptKind kSale{
    sat::Id::EnviarDadosVenda,
    "EnviarDadosVenda -> cod_ret: ",
    "Retransmissao -> EnviarDadosVenda: ",
    "EnviarDadosVenda -> cod_ret: ",
    "EnviarDadosVendas: possivel processo de atualizacao",
    "06",
    true,
    false,
};

constexpr AttemptKind kCancel{
    sat::Id::CancelarUltimaVenda,
    "CancelarUltimaVenda -> cod_ret: ",
    "Retransmissao -> CancelarUltimaVenda: ",
    "CancelaUltimaVenda -> cod_ret: ",
    "CancelarUltimaVenda: possivel processo de atualizacao",
    "07",
    true,
    true,
};

constexpr AttemptKind kSessionQuery{
    sat::Id::ConsultarNumeroSessao,
    "ConsultarUltimaSessao -> cod_ret: ",
    nullptr,
    "ConsultarUltimaSessao -> cod_ret: ",
    "ConsultarNumeroSessao: possivel processo de atualizacao",
    "",
    false,
    false,
};

constexpr AttemptKind kLastFiscalSession{
    sat::Id::ConsultarUltimaSessaoFiscal,
    "ConsultarUltimaSessaoFiscal -> cod_ret: ",
    nullptr,
    "ConsultarUltimaSessaoFiscal -> cod_ret: ",
    "ConsultarUltimaSessaoFiscal: possivel processo de atualizacao",
    "",
    false,
    false,
};

// How one attempt's exchange ended.
enum class Step { Finished, DeviceBusy, NotSent, AnswerLost };

// Sleeps the pause between two attempts; a signal does not cut it short.
void pause_between_attempts() {
    unsigned left = static_cast<unsigned>(std::max(TmpTent, 0));
    while (left > 0)
        left = ::sleep(left);
}

// The attempts of `k`. `correct_first`, when given, is the sale text that the
// escape correction (when on) rewrites once, under the lock, before any attempt.
char* run_attempts(const AttemptKind& k, int numeroSessao, const char* codigoDeAtivacao,
                   std::initializer_list<Field> fields, char* correct_first = nullptr) {
    const sat::Row& r = sat::row(k.id);
    const sat::Row& query = sat::row(sat::Id::ConsultarNumeroSessao);
    const char* device_busy = r.busy + 1; // "|06098|" -> "06098|", compared over five
    // Labels of the attempt number, the first send and the final answer.
    char attempt_log[64];
    char first_label[64];
    char answer_label[64];
    std::snprintf(attempt_log, sizeof attempt_log, "%s -> Tentativa: ", r.name);
    std::snprintf(first_label, sizeof first_label, "%s: ", r.name);
    std::snprintf(answer_label, sizeof answer_label, "Resposta de %s: ", r.name);
    const char* resend_label = k.resend_label ? k.resend_label : first_label;

    sat::take_lock();
    // Before the first attempt, so every attempt sends the corrected text. In the
    // first call of a process the settings are not read yet and Corrigir is 0.
    if (correct_first && Corrigir != 0) Correcao(correct_first);
    {
        sat::CommandBuffer cmd;
        int attempt = 1;
        // Set once the device has said it is busy: it did not take the command,
        // so it is resent without asking for a stored answer first.
        bool resend = false;
        // Held for every attempt and pause, as the call lock is. Another process
        // that keeps the device past the command's deadline: busy, nothing sent.
        sat::DeviceHold device(sat::deadline_after(r.timeout));
        if (!device) sat::write_busy(r, numeroSessao);

        // Sends the command and classifies what came back; a cancellation answer
        // that ends the call is repaired here.
        auto exchange = [&](const char* label, const char* cod_ret_label) {
            const sat::Sent sent = sat::send_receive(r, numeroSessao, cmd, fields, label);
            if (sent != sat::Sent::Answered) {
                sat::write_busy(r, numeroSessao);
                return sent == sat::Sent::AnswerLost ? Step::AnswerLost : Step::NotSent;
            }
            char cod[6];
            sat::cod_ret(BC.Dados, cod);
            sat::log(cod_ret_label, cod);
            if (std::strncmp(cod, device_busy, 5) != 0) {
                if (k.repair) sat::insert_empty_field(BC.Dados, sizeof BC.Dados);
                return Step::Finished;
            }
            sat::log(k.busy_log, " ");
            return Step::DeviceBusy;
        };

        // NumTent and TmpTent are read at every check: SetDriver or the settings
        // file read inside the first send may change them during the call.
        while (device && attempt <= NumTent) {
            sat::console("%s -> Tentativa: %d\n", r.name, attempt);
            sat::log_number(attempt_log, attempt);

            if (attempt == 1 || resend || !k.session_check) {
                const Step step = exchange(attempt == 1 ? first_label : resend_label,
                                           attempt == 1 ? k.first_cod_ret : k.resend_cod_ret);
                if (step == Step::Finished) break;
                // Only the device's own busy answer sets the flag. A lost answer may
                // hide an issued receipt: the next attempt asks for the stored
                // answer before anything is sent again.
                if (step == Step::DeviceBusy && attempt == 1) resend = true;
                if (step == Step::AnswerLost) resend = false;
            } else {
                // Session check: does the device already hold this session's answer?
                if (sat::send_receive(query, numeroSessao, cmd, {codigoDeAtivacao, numeroSessao}) !=
                    sat::Sent::Answered) {
                    sat::write_busy(r, numeroSessao);
                } else {
                    sat::log("Resposta de ConsultarNumeroSessao: ", BC.Dados);
                    char cod[6];
                    sat::cod_ret(BC.Dados, cod);
                    sat::log("ConsultarNumeroSessao -> cod_ret: ", cod);
                    if (std::strncmp(cod, query.busy + 1, 5) == 0) {
                        sat::log(kSessionQuery.busy_log, " ");
                    } else {
                        char stored_head[24];
                        std::snprintf(stored_head, sizeof stored_head, "%06d|%s", numeroSessao,
                                      k.family);
                        sat::console("chr_numsessao: %s\n", stored_head);
                        if (std::strncmp(BC.Dados, stored_head, std::strlen(stored_head)) == 0) {
                            // The stored answer is the result, as the device keeps it.
                            sat::log("Cupom ja foi gerado. Sessao: ", stored_head);
                            break;
                        }
                        // The device does not have it: send it again at once.
                        // A busy answer or a failure here keeps the session check.
                        if (exchange(resend_label, k.resend_cod_ret) == Step::Finished) break;
                    }
                }
            }
            ++attempt;
            if (attempt <= NumTent) pause_between_attempts();
        }
    }
    sat::log(answer_label, BC.Dados);
    unlock();
    return BC.Dados;
}

} // namespace

namespace sat {

bool insert_empty_field(char* text, std::size_t capacity) noexcept {
    const std::size_t len = strnlen(text, capacity);
    if (len == capacity) return false; // not a terminated text: nothing to repair
    std::size_t bars = 0;
    std::size_t after_tenth = 0;
    for (std::size_t i = 0; i < len; ++i) {
        if (text[i] != '|') continue;
        if (++bars == 10) after_tenth = i + 1;
        if (bars > 10) return false;
    }
    if (bars != 10 || len + 2 > capacity) return false;
    std::memmove(text + after_tenth + 1, text + after_tenth, len - after_tenth + 1);
    text[after_tenth] = '|';
    return true;
}

void cod_ret(const char* answer, char (&out)[6]) noexcept {
    std::memset(out, 0, sizeof out);
    if (const char* bar = std::strchr(answer, '|')) std::memcpy(out, bar + 1, strnlen(bar + 1, 5));
}

} // namespace sat

extern "C" {

SAT_API char* EnviarDadosVenda(int numeroSessao, char* codigoDeAtivacao,
                               char* dadosVenda) noexcept {
    return run_attempts(kSale, numeroSessao, codigoDeAtivacao, {codigoDeAtivacao, dadosVenda},
                        dadosVenda);
}

SAT_API char* CancelarUltimaVenda(int numeroSessao, char* codigoDeAtivacao, char* chave,
                                  char* dadosCancelamento) noexcept {
    return run_attempts(kCancel, numeroSessao, codigoDeAtivacao,
                        {codigoDeAtivacao, chave, dadosCancelamento});
}

SAT_API char* ConsultarNumeroSessao(int numeroSessao, char* codigoDeAtivacao,
                                    int cNumeroDeSessao) noexcept {
    return run_attempts(kSessionQuery, numeroSessao, codigoDeAtivacao,
                        {codigoDeAtivacao, cNumeroDeSessao});
}

SAT_API char* ConsultarUltimaSessaoFiscal(int numeroSessao, char* codigoDeAtivacao) noexcept {
    return run_attempts(kLastFiscalSession, numeroSessao, codigoDeAtivacao, {codigoDeAtivacao});
}

} // extern "C"
