/* The public header compiled as C99 with every warning an error: each function
 * is assigned to a pointer of the exact type that a C host would write. The
 * assignments stand inside sizeof, so they are type-checked but not linked. */
#include "sat.h"

#define BIND(pointer, function) ((void)sizeof((pointer) = (function)), 1)

int sat_header_c_bindings(void);

int sat_header_c_bindings(void) {
    char* (*session_only)(int) = 0;
    char* (*session_code)(int, char*) = 0;
    char* (*session_code_text)(int, char*, char*) = 0;
    char* (*session_code_two_texts)(int, char*, char*, char*) = 0;
    char* (*ativar)(int, int, char*, char*, int) = 0;
    char* (*sessao)(int, char*, int) = 0;
    char* (*trocar)(int, char*, int, char*, char*) = 0;
    char* (*driver)(char*, char*) = 0;
    int count = 0;
    count += BIND(ativar, AtivarSAT);
    count += BIND(session_code_text, ComunicarCertificadoICPBRASIL);
    count += BIND(session_code_text, EnviarDadosVenda);
    count += BIND(session_code_two_texts, CancelarUltimaVenda);
    count += BIND(session_only, ConsultarSAT);
    count += BIND(session_code_text, TesteFimAFim);
    count += BIND(session_code, ConsultarStatusOperacional);
    count += BIND(sessao, ConsultarNumeroSessao);
    count += BIND(session_code_text, ConfigurarInterfaceDeRede);
    count += BIND(session_code_two_texts, AssociarAssinatura);
    count += BIND(session_code, AtualizarSoftwareSAT);
    count += BIND(session_code, ExtrairLogs);
    count += BIND(session_code, BloquearSAT);
    count += BIND(session_code, DesbloquearSAT);
    count += BIND(trocar, TrocarCodigoDeAtivacao);
    count += BIND(session_code, ConsultarUltimaSessaoFiscal);
    count += BIND(driver, SetDriver);
    return count;
}
