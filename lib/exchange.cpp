// The command exchange: starting the library and opening the link, sending a
// command, receiving its answer into BC, and the single exchange that most SAT
// functions run.
#include "device_lock.h"
#include "sat_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// The receive loop of RecebeDoSat2 (check_session) and RecebeDoSat3.
int receive(bool check_session, int numeroSessao) {
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
        if (sat::take_answer()) {
            complete = true;
            if (check_session) {
                // The first six characters, fewer when the answer is shorter.
                char head[7] = {};
                std::memcpy(head, BC.Dados, std::min<std::size_t>(6, std::strlen(BC.Dados)));
                if (std::atoi(head) != numeroSessao) {
                    // The answer of an earlier command: wait on for ours.
                    sat::log("   .........   .........", " ");
                    cbInit(sat::kResponseSize);
                    complete = false;
                }
            }
        }
    }
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
    const int received =
        r.receive == Receive::Session ? RecebeDoSat2(numeroSessao) : RecebeDoSat3();
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
    return receive(true, numeroSessao);
}

SAT_API int RecebeDoSat3(void) noexcept {
    return receive(false, 0);
}

} // extern "C"
