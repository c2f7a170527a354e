// ConsultarStatusOperacional (with the 10099 -> 10001 substitution) and the two
// session queries, which repeat their exchange while the device is busy or the
// exchange fails.
#include "device_lock.h"
#include "sat_internal.h"

#include <cstdio>
#include <cstring>
#include <initializer_list>

namespace sat {

// Shared with the sale's loop (sale_cancel.cpp).
void cod_ret(const char* answer, char (&out)[6]) noexcept;
void pause_between_attempts() noexcept;

} // namespace sat

namespace {

// Up to NumTent exchanges of `r`, TmpTent seconds apart, while the exchange fails
// or the device answers its busy code; the lock is held across all of them.
char* query_attempts(const sat::Row& r, int numeroSessao, std::initializer_list<sat::Field> fields,
                     const char* cod_ret_label, const char* busy_log) {
    char attempt_log[64];
    char answer_label[64];
    std::snprintf(attempt_log, sizeof attempt_log, "%s -> Tentativa: ", r.name);
    std::snprintf(answer_label, sizeof answer_label, "Resposta de %s: ", r.name);
    const char* device_busy = r.busy + 1; // "|11098|" -> "11098|", compared over five

    sat::take_lock();
    {
        sat::CommandBuffer cmd;
        int tentativa = 1;
        // Held for every attempt and pause (see the sale's loop).
        sat::DeviceHold device(sat::deadline_after(r.timeout));
        if (!device) sat::write_busy(r, numeroSessao);
        while (device && tentativa <= NumTent) {
            sat::console("%s -> Tentativa: %d\n", r.name, tentativa);
            sat::log_number(attempt_log, tentativa);
            if (sat::send_receive(r, numeroSessao, cmd, fields) != 0) {
                sat::write_busy(r, numeroSessao);
            } else {
                char cod[6];
                sat::cod_ret(BC.Dados, cod);
                sat::log(cod_ret_label, cod);
                if (std::strncmp(cod, device_busy, 5) != 0) break;
                sat::log(busy_log, " ");
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

SAT_API char* ConsultarStatusOperacional(int numeroSessao, char* codigoDeAtivacao) noexcept {
    const sat::Row& r = sat::row(sat::Id::ConsultarStatusOperacional);
    sat::take_lock();
    {
        sat::CommandBuffer cmd;
        if (sat::send_receive(r, numeroSessao, cmd, {codigoDeAtivacao}) != 0)
            sat::write_busy(r, numeroSessao);
    }
    // Read at every call, so a change through SetDriver applies to the next one.
    if (Ret10001 != 0) {
        char cod[6];
        sat::cod_ret(BC.Dados, cod);
        sat::log("ConsultarStatusOperacional -> cod_ret: ", cod);
        if (std::strncmp(cod, "10099", 5) == 0) {
            std::snprintf(BC.Dados, sizeof BC.Dados, "%06d%s%s%s", numeroSessao, "|10001|",
                          "Codigo de ativacao invalido", "||");
            sat::log("ConsultarStatusOperacional: Substituindo retorno de 10099 para 10001", " ");
        }
    }
    sat::log("Resposta de ConsultarStatusOperacional: ", BC.Dados);
    unlock();
    return BC.Dados;
}

SAT_API char* ConsultarNumeroSessao(int numeroSessao, char* codigoDeAtivacao,
                                    int cNumeroDeSessao) noexcept {
    return query_attempts(sat::row(sat::Id::ConsultarNumeroSessao), numeroSessao,
                          {codigoDeAtivacao, cNumeroDeSessao}, "ConsultarUltimaSessao -> cod_ret: ",
                          "ConsultarNumeroSessao: possivel processo de atualizacao");
}

SAT_API char* ConsultarUltimaSessaoFiscal(int numeroSessao, char* codigoDeAtivacao) noexcept {
    return query_attempts(sat::row(sat::Id::ConsultarUltimaSessaoFiscal), numeroSessao,
                          {codigoDeAtivacao}, "ConsultarUltimaSessaoFiscal -> cod_ret: ",
                          "ConsultarUltimaSessaoFiscal: possivel processo de atualizacao");
}

} // extern "C"
