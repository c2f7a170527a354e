// The SAT functions that are one single exchange each. Their rows (code, command
// format, timeout pair, receive routine, busy code) are in sat::rows; the four
// that repeat their exchange are in attempts.cpp.
#include "sat_internal.h"

#include <cstdio>
#include <cstring>

using sat::Id;
using sat::row;
using sat::single_exchange;

namespace {

// ConsultarStatusOperacional with RET_10001 on answers 10001 where the device
// said 10099. Read at every call, so a change through SetDriver applies to the next one.
void substitute_10001(int numeroSessao) {
    if (Ret10001 == 0) return;
    char cod[6];
    sat::cod_ret(BC.Dados, cod);
    sat::log("ConsultarStatusOperacional -> cod_ret: ", cod);
    if (std::strncmp(cod, "10099", 5) == 0) {
        std::snprintf(BC.Dados, sizeof BC.Dados, "%06d%s%s%s", numeroSessao, "|10001|",
                      "Codigo de ativacao invalido", "||");
        sat::log("ConsultarStatusOperacional: Substituindo retorno de 10099 para 10001", " ");
    }
}

} // namespace

extern "C" {

SAT_API char* AtivarSAT(int numeroSessao, int subComando, char* codigoDeAtivacao, char* CNPJ,
                        int cUF) noexcept {
    return single_exchange(row(Id::AtivarSAT), numeroSessao,
                           {subComando, codigoDeAtivacao, CNPJ, cUF});
}

SAT_API char* ComunicarCertificadoICPBRASIL(int numeroSessao, char* codigoDeAtivacao,
                                            char* certificado) noexcept {
    return single_exchange(row(Id::ComunicarCertificadoICPBRASIL), numeroSessao,
                           {codigoDeAtivacao, certificado});
}

SAT_API char* ConsultarSAT(int numeroSessao) noexcept {
    return single_exchange(row(Id::ConsultarSAT), numeroSessao, {});
}

SAT_API char* TesteFimAFim(int numeroSessao, char* codigoDeAtivacao, char* dadosVenda) noexcept {
    return single_exchange(row(Id::TesteFimAFim), numeroSessao, {codigoDeAtivacao, dadosVenda});
}

SAT_API char* ConsultarStatusOperacional(int numeroSessao, char* codigoDeAtivacao) noexcept {
    return single_exchange(row(Id::ConsultarStatusOperacional), numeroSessao, {codigoDeAtivacao},
                           substitute_10001);
}

SAT_API char* ConfigurarInterfaceDeRede(int numeroSessao, char* codigoDeAtivacao,
                                        char* dadosConfiguracao) noexcept {
    return single_exchange(row(Id::ConfigurarInterfaceDeRede), numeroSessao,
                           {codigoDeAtivacao, dadosConfiguracao});
}

SAT_API char* AssociarAssinatura(int numeroSessao, char* codigoDeAtivacao, char* CNPJvalue,
                                 char* assinaturaCNPJs) noexcept {
    return single_exchange(row(Id::AssociarAssinatura), numeroSessao,
                           {codigoDeAtivacao, CNPJvalue, assinaturaCNPJs});
}

SAT_API char* AtualizarSoftwareSAT(int numeroSessao, char* codigoDeAtivacao) noexcept {
    return single_exchange(row(Id::AtualizarSoftwareSAT), numeroSessao, {codigoDeAtivacao});
}

SAT_API char* ExtrairLogs(int numeroSessao, char* codigoDeAtivacao) noexcept {
    return single_exchange(row(Id::ExtrairLogs), numeroSessao, {codigoDeAtivacao, sat::kVersion});
}

SAT_API char* BloquearSAT(int numeroSessao, char* codigoDeAtivacao) noexcept {
    return single_exchange(row(Id::BloquearSAT), numeroSessao, {codigoDeAtivacao});
}

SAT_API char* DesbloquearSAT(int numeroSessao, char* codigoDeAtivacao) noexcept {
    return single_exchange(row(Id::DesbloquearSAT), numeroSessao, {codigoDeAtivacao});
}

SAT_API char* TrocarCodigoDeAtivacao(int numeroSessao, char* codigoDeAtivacao, int opcao,
                                     char* novoCodigo, char* confNovoCodigo) noexcept {
    return single_exchange(row(Id::TrocarCodigoDeAtivacao), numeroSessao,
                           {codigoDeAtivacao, opcao, novoCodigo, confNovoCodigo});
}

} // extern "C"
