// The command exchange: sending a command, receiving its answer into BC, the
// command buffer and the single exchange that every SAT function runs.
#include "device_lock.h"
#include "sat_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr char kEtx = 0x03;

// One argument of a command format: the code and the session come first, then
// the function's fields.
struct Arg {
    const char* text;
    int number;
};

// Renders `format` with `args`: "%s" takes a text, "%<flags/width>d" a number.
// Writes into `out` when it is not null (the caller sized it with a first pass
// without `out`) and returns the length of the text.
std::size_t render(const char* format, const Arg* args, std::size_t nargs, char* out) {
    std::size_t len = 0;
    std::size_t next = 0;
    auto put = [&](const char* s, std::size_t n) {
        if (out) std::memcpy(out + len, s, n);
        len += n;
    };
    for (const char* p = format; *p; ++p) {
        if (*p != '%') {
            put(p, 1);
            continue;
        }
        const char* conversion = p++;
        while (*p && *p != 's' && *p != 'd')
            ++p;
        if (!*p) break;
        Arg a = next < nargs ? args[next] : Arg{"", 0};
        ++next;
        if (*p == 's') {
            put(a.text, std::strlen(a.text));
        } else {
            char conv[8];
            std::size_t convlen = static_cast<std::size_t>(p - conversion) + 1;
            if (convlen >= sizeof conv) convlen = sizeof conv - 1;
            std::memcpy(conv, conversion, convlen);
            conv[convlen] = '\0';
            char digits[24];
            int n = std::snprintf(digits, sizeof digits, conv, a.number);
            if (n > 0) put(digits, static_cast<std::size_t>(n));
        }
    }
    if (out) out[len] = '\0';
    return len;
}

// The code and the session number, then the fields, as the row's format takes them.
std::size_t render_row(const sat::Row& r, int numeroSessao,
                       std::initializer_list<sat::Field> fields, char* out) {
    Arg args[8];
    std::size_t n = 0;
    args[n++] = {r.code, 0};
    args[n++] = {"", numeroSessao};
    for (const sat::Field& f : fields) {
        if (n == std::size(args)) break;
        args[n++] = {f.text, f.number};
    }
    return render(r.format, args, n, out);
}

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
        if (BC.NumBytes > 0 && BC.Dados[BC.NumBytes - 1] == kEtx) {
            BC.Dados[BC.NumBytes - 1] = '\0';
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

const Row* find_row(std::string_view name) noexcept {
    for (const Row& r : rows)
        if (name == r.name) return &r;
    return nullptr;
}

const Row* find_code(std::string_view code) noexcept {
    if (code.size() == 4 && code.front() == '|' && code.back() == '|') code.remove_prefix(1);
    if (code.size() < 2) return nullptr;
    for (const Row& r : rows)
        if (code[0] == r.code[1] && code[1] == r.code[2] && (code.size() == 2 || code[2] == '|'))
            return &r;
    return nullptr;
}

CommandBuffer::CommandBuffer() noexcept
    : data_(static_cast<char*>(std::malloc(kCommandSize))), capacity_(data_ ? kCommandSize : 0) {
    if (data_) data_[0] = '\0';
}

CommandBuffer::~CommandBuffer() {
    std::free(data_);
}

bool CommandBuffer::format(const Row& r, int numeroSessao,
                           std::initializer_list<Field> fields) noexcept {
    std::size_t need = render_row(r, numeroSessao, fields, nullptr) + 1;
    if (need > capacity_) {
        // A command larger than the usual buffer (a very large sale) is sent whole.
        char* bigger = static_cast<char*>(std::realloc(data_, need));
        if (!bigger) return false;
        data_ = bigger;
        capacity_ = need;
    }
    render_row(r, numeroSessao, fields, data_);
    return true;
}

std::size_t command_length(const Row& r, int numeroSessao,
                           std::initializer_list<Field> fields) noexcept {
    return render_row(r, numeroSessao, fields, nullptr);
}

void set_deadline(const int* pair) noexcept {
    Tempo_Tout = static_cast<int>(tick() + pair[0] * 60 + pair[1]);
}

int send_receive(const Row& r, int numeroSessao, CommandBuffer& cmd,
                 std::initializer_list<Field> fields, const char* label) noexcept {
    // The deadline covers opening the device, sending and receiving.
    set_deadline(r.timeout);
    // Another process may hold the device: wait for it within the deadline, then
    // give the exchange its whole time. Not had in time: nothing is sent.
    DeviceHold device(Tempo_Tout);
    if (!device) return -1;
    if (device.waited()) set_deadline(r.timeout);
    if (!cmd.format(r, numeroSessao, fields)) return -1;
    if (ModoDebug == 1) {
        char own[64];
        if (!label) {
            std::snprintf(own, sizeof own, "%s: ", r.name);
            label = own;
        }
        // The detail is the command after its four-character code.
        EnviaLog(label, cmd.text() + 4);
    }
    if (EnviaParaSat(cmd.text()) != 0) return -1;
    return r.receive == Receive::Session ? RecebeDoSat2(numeroSessao) : RecebeDoSat3();
}

void write_busy(const Row& r, int numeroSessao) noexcept {
    std::snprintf(BC.Dados, sizeof BC.Dados, "%06d%s%s%s%s", numeroSessao, r.busy, r.busy_prefix,
                  kBusyMessage, "||");
}

char* single_exchange(const Row& r, int numeroSessao,
                      std::initializer_list<Field> fields) noexcept {
    take_lock();
    {
        CommandBuffer cmd;
        if (send_receive(r, numeroSessao, cmd, fields) != 0) write_busy(r, numeroSessao);
    }
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
    if (init_usb(SAT_SERIAL) != 0) {
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

SAT_API int RecebeDoSat2(int numeroSessao) noexcept {
    return receive(true, numeroSessao);
}

SAT_API int RecebeDoSat3(void) noexcept {
    return receive(false, 0);
}

} // extern "C"
