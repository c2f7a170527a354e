// The command exchange: starting the library and opening the link, sending a
// command, receiving its answer into BC, and the single exchange that most SAT
// functions run.
#include "device_lock.h"
#include "sat_internal.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Which answer a receive takes.
struct Wanted {
    sat::Receive take;
    int session; // Session: the call's own; Stored: the session asked for
    int own;     // Stored: the query's own session, which the device's refusal carries
};

// What the next RecebeDoSat3 takes: the exchange sets it for the query it sends.
// A host that calls RecebeDoSat3 itself gets the last whole answer that arrived.
Wanted next_query{sat::Receive::Last, 0, 0};

bool accepts(const Wanted& w, std::string_view answer) {
    const int session = sat::answer_session(answer);
    switch (w.take) {
    case sat::Receive::Session:
        return session == w.session;
    case sat::Receive::Stored:
        return session == w.session || session == w.own;
    case sat::Receive::Last:
        break;
    }
    return true;
}

// [begin, end) of `data`; string_view::substr would bring the exception machinery
// into a library that links against libc only.
std::string_view piece(std::string_view data, std::size_t begin, std::size_t end) {
    return {data.data() + begin, end - begin};
}

// Moves `answer` (inside BC) to the front of BC as the received text.
void keep_answer(std::string_view answer) {
    std::memmove(BC.Dados, answer.data(), answer.size());
    BC.Dados[answer.size()] = '\0';
    BC.NumBytes = static_cast<int>(answer.size());
}

// Looks at the whole answers in BC. True when one is taken: it is then the text
// of BC. Otherwise the answers passed over are dropped from BC (logged one line
// each) and what is still arriving stays. For `Last`, the last whole answer is
// taken once nothing follows it, or when `at_deadline`.
bool pick(const Wanted& w, bool at_deadline) {
    const std::string_view data(BC.Dados, static_cast<std::size_t>(BC.NumBytes));
    std::size_t from = 0;
    std::size_t last = std::string_view::npos; // start of the last whole answer
    for (std::size_t end; (end = sat::answer_end(data, from)) != std::string_view::npos;
         from = end + 1) {
        const std::string_view answer = piece(data, from, end);
        if (w.take == sat::Receive::Last) {
            last = from;
            continue;
        }
        if (accepts(w, answer)) {
            const std::string_view rest = piece(data, end + 1, data.size());
            sat::log_discarded("RecebeDoSat: descartado apos a resposta: ", rest.size(), rest);
            keep_answer(answer);
            return true;
        }
        // The answer of an earlier command: wait on for ours.
        sat::log("   .........   .........", " ");
    }
    if (last != std::string_view::npos && (from == data.size() || at_deadline)) {
        keep_answer(piece(data, last, sat::answer_end(data, last)));
        return true;
    }
    // Keep what may still become the answer (for Last, from its candidate on).
    const std::size_t keep = last != std::string_view::npos ? last : from;
    std::memmove(BC.Dados, BC.Dados + keep, data.size() - keep);
    BC.NumBytes = static_cast<int>(data.size() - keep);
    BC.Dados[BC.NumBytes] = '\0';
    return false;
}

// The receive loop of RecebeDoSat2 and RecebeDoSat3.
int receive(const Wanted& w) {
    sat::log("RecebeDoSat: inicio da recepção", " ...");
    cbInit(sat::kResponseSize);
    bool complete = false;
    bool reported = false;
    // The deadline is tested between reads only: one le_usb may wait 2 s more.
    while (!complete && tick() < Tempo_Tout) {
        if (!sat::device_is_terminal()) {
            if (sat::console_on()) std::puts("RecebeDoSat: Erro ao receber dados do SAT(1)");
            sat::log("Erro ao receber dados do SAT", " ");
            BC.Dados[0] = '\0';
            reported = true;
            break;
        }
        le_usb();
        // An answer too large for BC was read to its end and dropped: no answer.
        if (sat::response_overflow() == sat::Overflow::Dropped) break;
        if (sat::response_overflow() != sat::Overflow::None) continue;
        complete = pick(w, false);
    }
    if (!complete && !reported && sat::response_overflow() == sat::Overflow::None)
        complete = w.take == sat::Receive::Last && pick(w, true);
    if (!complete) {
        if (!reported) {
            if (sat::console_on()) std::puts("RecebeDoSat: Erro ao receber dados do SAT(2)");
            sat::log("Erro ao receber dados do SAT", " ");
        }
        BC.Dados[0] = '\0';
    }
    sat::log("RecebeDoSat: final da recepção.", " ");
    sat::close_device();
    return complete ? 0 : -1;
}

} // namespace

namespace sat {

long deadline_after(const int* pair) noexcept {
    return tick() + pair[0] * 60 + pair[1];
}

void set_deadline(const int* pair) noexcept {
    Tempo_Tout = static_cast<int>(deadline_after(pair));
}

Sent send_receive(const Row& r, int numeroSessao, CommandBuffer& cmd,
                  std::initializer_list<Field> fields, const char* label) noexcept {
    // The deadline covers opening the device, sending and receiving.
    set_deadline(r.timeout);
    // Another process may hold the device: wait for it within the deadline, then
    // give the exchange its whole time. Not had in time: nothing is sent.
    DeviceHold device(Tempo_Tout);
    if (!device) return Sent::NotSent;
    if (device.waited()) set_deadline(r.timeout);
    if (!cmd.format(r, numeroSessao, fields)) return Sent::NotSent;
    if (ModoDebug == 1) {
        char own[64];
        if (!label) {
            std::snprintf(own, sizeof own, "%s: ", r.name);
            label = own;
        }
        // The detail is the command after its four-character code.
        EnviaLog(label, cmd.text() + 4);
    }
    if (EnviaParaSat(cmd.text()) != 0) return Sent::NotSent;
    int received;
    if (r.receive == Receive::Session) {
        received = RecebeDoSat2(numeroSessao);
    } else {
        // The session query asks for the session in its last number field.
        int asked = numeroSessao;
        for (const Field& f : fields)
            if (!f.is_text) asked = f.number;
        next_query = {r.receive, asked, numeroSessao};
        received = RecebeDoSat3();
        next_query = {Receive::Last, 0, 0};
    }
    return received == 0 ? Sent::Answered : Sent::AnswerLost;
}

void write_busy(const Row& r, int numeroSessao) noexcept {
    std::snprintf(BC.Dados, sizeof BC.Dados, "%06d%s%s%s%s", numeroSessao, r.busy, r.busy_prefix,
                  kBusyMessage, "||");
}

char* single_exchange(const Row& r, int numeroSessao, std::initializer_list<Field> fields,
                      void (*after)(int numeroSessao)) noexcept {
    take_lock();
    {
        CommandBuffer cmd;
        if (send_receive(r, numeroSessao, cmd, fields) != Sent::Answered)
            write_busy(r, numeroSessao);
    }
    if (after) after(numeroSessao);
    if (ModoDebug == 1) {
        char label[64];
        std::snprintf(label, sizeof label, "Resposta de %s: ", r.name);
        EnviaLog(label, BC.Dados);
    }
    unlock();
    return BC.Dados;
}

} // namespace sat

extern "C" {

SAT_API int EnviaParaSat(const char* comando) noexcept {
    sat::log("EnviarParaSat: inicio do envio", " ...");
    sat::log("Abrindo comunicacao com: ", SAT_SERIAL);
    // The first exchange of a process reads the settings, and only then opens
    // the node they name.
    sat::start_library();
    if (sat::open_link(SAT_SERIAL) != 0) {
        sat::console("EnviaParaSat: Falha ao configurar a interface %s\n", SAT_SERIAL);
        sat::log("Falha ao configurar a interface ", SAT_SERIAL);
        return -1;
    }
    if (envia_usb(comando) != 0) {
        if (sat::console_on()) std::puts("EnviaparaSat: (TX) Perda de comunicação com o SAT.");
        sat::log("(TX) ", "Perda de comunicação com o SAT");
        // No receive follows a failed send: the device is closed here.
        sat::close_device();
        return -1;
    }
    sat::log("EnviarParaSat: final do envio.", " ");
    return 0;
}

// The exported open of the link, as hosts have always called it: it starts the
// library first when nothing has yet.
SAT_API int init_usb(const char* dispositivo) noexcept {
    sat::start_library();
    // Callers pass SAT_SERIAL itself, filled by the start only now.
    return sat::open_link(dispositivo ? dispositivo : SAT_SERIAL);
}

SAT_API int RecebeDoSat2(int numeroSessao) noexcept {
    return receive({sat::Receive::Session, numeroSessao, numeroSessao});
}

SAT_API int RecebeDoSat3(void) noexcept {
    return receive(next_query);
}

} // extern "C"
