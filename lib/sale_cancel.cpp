// EnviarDadosVenda and CancelarUltimaVenda: the attempt loop with retransmission.
//
// A sale (or cancellation) whose answer got lost may already have been issued by
// the device. Sending it again would issue a second receipt, so after a lost
// answer the next attempt first asks the device for the stored answer of this
// very session ("|08|") and returns it when the device has one of the command's
// family; only otherwise is the command sent again. When the device answered that
// it is busy, it did not take the command, and later attempts resend it directly.
#include "device_lock.h"
#include "sat_internal.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace sat {

// Inserts one empty field after the tenth '|' of `text` when it holds exactly
// ten (eleven fields become twelve). `capacity` counts every byte that `text`
// may use, its terminating NUL included; an answer that would not fit once
// grown is left unchanged. True when the field was inserted.
bool insert_empty_field(char* text, std::size_t capacity) noexcept;

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

// The result code of an answer: the five characters after its first '|' (fewer
// when the text ends sooner, empty without a '|'), NUL-terminated for the log.
void cod_ret(const char* answer, char (&out)[6]) noexcept;

void cod_ret(const char* answer, char (&out)[6]) noexcept {
    std::memset(out, 0, sizeof out);
    if (const char* bar = std::strchr(answer, '|')) std::memcpy(out, bar + 1, strnlen(bar + 1, 5));
}

// Sleeps the pause between two attempts; a signal does not cut it short.
void pause_between_attempts() noexcept;

void pause_between_attempts() noexcept {
    unsigned left = static_cast<unsigned>(std::max(TmpTent, 0));
    while (left > 0)
        left = ::sleep(left);
}

} // namespace sat

namespace {

using sat::Field;

// What tells the sale's loop from the cancellation's: its row and its own texts.
struct RetryKind {
    sat::Id id;
    const char* attempt_log;    // before the attempt number
    const char* resend_label;   // before a resent command
    const char* first_cod_ret;  // result code of the first attempt's answer
    const char* resend_cod_ret; // result code of a resent command's answer
    const char* busy_log;       // the device answered with its busy code
    const char* device_busy;    // that busy code
    const char* family;         // first two digits of the command's result codes
    bool repair;                // eleven-field answers gain an empty field
};

constexpr RetryKind kSale{
    sat::Id::EnviarDadosVenda,
    "EnviarDadosVenda -> Tentativa: ",
    "Retransmissao -> EnviarDadosVenda: ",
    "EnviarDadosVenda -> cod_ret: ",
    "EnviarDadosVenda -> cod_ret: ",
    "EnviarDadosVendas: possivel processo de atualizacao",
    "06098",
    "06",
    false,
};

constexpr RetryKind kCancel{
    sat::Id::CancelarUltimaVenda,
    "CancelarUltimaVenda -> Tentativa: ",
    "Retransmissao -> CancelarUltimaVenda: ",
    "CancelarUltimaVenda -> cod_ret: ",
    "CancelaUltimaVenda -> cod_ret: ",
    "CancelarUltimaVenda: possivel processo de atualizacao",
    "07098",
    "07",
    true,
};

// How one attempt's exchange ended.
enum class Step { Finished, DeviceBusy, NotSent, AnswerLost };

enum class Sent {
    Answered,   // an answer of this session is in BC.Dados
    NotSent,    // the device could not be opened or written: it has not got the command
    AnswerLost, // the command went out but no answer came: it may have been issued
};

// Sends the command once and receives its answer, with the command's own deadline.
Sent send_command(const sat::Row& r, int numeroSessao, sat::CommandBuffer& cmd,
                  std::initializer_list<Field> fields, const char* label) {
    sat::set_deadline(r.timeout);
    sat::DeviceHold device(Tempo_Tout); // see send_receive
    if (!device) return Sent::NotSent;
    if (device.waited()) sat::set_deadline(r.timeout);
    if (!cmd.format(r, numeroSessao, fields)) return Sent::NotSent;
    sat::log(label, cmd.text() + 4);
    if (EnviaParaSat(cmd.text()) != 0) return Sent::NotSent;
    return RecebeDoSat2(numeroSessao) == 0 ? Sent::Answered : Sent::AnswerLost;
}

char* run_attempts(const RetryKind& k, int numeroSessao, const char* codigoDeAtivacao,
                   std::initializer_list<Field> fields) {
    const sat::Row& r = sat::row(k.id);
    const sat::Row& query = sat::row(sat::Id::ConsultarNumeroSessao);
    // Labels of the first send and of the final answer, from the exported name.
    char first_label[64];
    char answer_label[64];
    std::snprintf(first_label, sizeof first_label, "%s: ", r.name);
    std::snprintf(answer_label, sizeof answer_label, "Resposta de %s: ", r.name);

    {
        sat::CommandBuffer cmd;
        int tentativa = 1;
        // Set once the device has said it is busy: it did not take the command,
        // so it is resent without asking for a stored answer first.
        bool retransmissao = false;
        // Held for every attempt and pause, as the call lock is. Another process
        // that keeps the device past the command's deadline: busy, nothing sent.
        sat::DeviceHold device(sat::deadline_after(r.timeout));
        if (!device) sat::write_busy(r, numeroSessao);

        // Sends the command and classifies what came back; a cancellation answer
        // that ends the call is repaired here.
        auto exchange = [&](const char* label, const char* cod_ret_label) {
            const Sent sent = send_command(r, numeroSessao, cmd, fields, label);
            if (sent != Sent::Answered) {
                sat::write_busy(r, numeroSessao);
                return sent == Sent::AnswerLost ? Step::AnswerLost : Step::NotSent;
            }
            char cod[6];
            sat::cod_ret(BC.Dados, cod);
            sat::log(cod_ret_label, cod);
            if (std::strncmp(cod, k.device_busy, 5) != 0) {
                if (k.repair) sat::insert_empty_field(BC.Dados, sizeof BC.Dados);
                return Step::Finished;
            }
            sat::log(k.busy_log, " ");
            return Step::DeviceBusy;
        };

        // NumTent and TmpTent are read at every check: SetDriver or the settings
        // file read inside the first send may change them during the call.
        while (device && tentativa <= NumTent) {
            sat::console("%s -> Tentativa: %d\n", r.name, tentativa);
            sat::log_number(k.attempt_log, tentativa);

            if (tentativa == 1 || retransmissao) {
                const Step step = exchange(tentativa == 1 ? first_label : k.resend_label,
                                           tentativa == 1 ? k.first_cod_ret : k.resend_cod_ret);
                if (step == Step::Finished) break;
                // Only the device's own busy answer sets the flag. A lost answer may
                // hide an issued receipt: the next attempt asks for the stored
                // answer before anything is sent again.
                if (step == Step::DeviceBusy && tentativa == 1) retransmissao = true;
                if (step == Step::AnswerLost) retransmissao = false;
            } else {
                // Session check: does the device already hold this session's answer?
                if (sat::send_receive(query, numeroSessao, cmd, {codigoDeAtivacao, numeroSessao}) !=
                    0) {
                    sat::write_busy(r, numeroSessao);
                } else {
                    sat::log("Resposta de ConsultarNumeroSessao: ", BC.Dados);
                    char cod[6];
                    sat::cod_ret(BC.Dados, cod);
                    sat::log("ConsultarNumeroSessao -> cod_ret: ", cod);
                    if (std::strncmp(cod, "11098", 5) == 0) {
                        sat::log("ConsultarNumeroSessao: possivel processo de atualizacao", " ");
                    } else {
                        char chr_numsessao[24];
                        std::snprintf(chr_numsessao, sizeof chr_numsessao, "%06d|%s", numeroSessao,
                                      k.family);
                        sat::console("chr_numsessao: %s\n", chr_numsessao);
                        if (std::strncmp(BC.Dados, chr_numsessao, std::strlen(chr_numsessao)) ==
                            0) {
                            // The stored answer is the result, as the device keeps it.
                            sat::log("Cupom ja foi gerado. Sessao: ", chr_numsessao);
                            break;
                        }
                        // The device does not have it: send it again at once.
                        // A busy answer or a failure here keeps the session check.
                        if (exchange(k.resend_label, k.resend_cod_ret) == Step::Finished) break;
                    }
                }
            }
            ++tentativa;
            if (tentativa <= NumTent) sat::pause_between_attempts();
        }
    }
    sat::log(answer_label, BC.Dados);
    unlock();
    return BC.Dados;
}

} // namespace

extern "C" {

SAT_API char* EnviarDadosVenda(int numeroSessao, char* codigoDeAtivacao,
                               char* dadosVenda) noexcept {
    sat::take_lock();
    // Before the first attempt, so every attempt sends the corrected text. In the
    // first call of a process the settings are not read yet and Corrigir is 0.
    if (Corrigir != 0 && dadosVenda) Correcao(dadosVenda);
    return run_attempts(kSale, numeroSessao, codigoDeAtivacao, {codigoDeAtivacao, dadosVenda});
}

SAT_API char* CancelarUltimaVenda(int numeroSessao, char* codigoDeAtivacao, char* chave,
                                  char* dadosCancelamento) noexcept {
    sat::take_lock();
    return run_attempts(kCancel, numeroSessao, codigoDeAtivacao,
                        {codigoDeAtivacao, chave, dadosCancelamento});
}

} // extern "C"
