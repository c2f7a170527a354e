// Every exported global of the library, defined once, with its load value.
#include "sat_internal.h"

#include <cstddef>

extern "C" {

SAT_API sat_buffer BC;

SAT_API int fdUSB;
SAT_API fd_set inputUSB;
SAT_API struct timeval timeoutUSB;

SAT_API int Tempo_Tout;

// Empty until init_lib has run: an empty SAT_SERIAL means "not started yet".
SAT_API char SAT_SERIAL[30];
SAT_API char SAT_DEBUG[7];
SAT_API char SAT_NOPOPUP[7];
SAT_API char SAT_CORRECAO[7];
SAT_API char SAT_LOCK[7];
SAT_API char SAT_RET_10001[7];

SAT_API int ModoDebug = 0;
SAT_API int Corrigir = 0;
SAT_API int ModoLock = 1;
SAT_API int Ret10001 = 0;
SAT_API int NumTent = 1;
SAT_API int TmpTent = 6;

SAT_API int T_Ativ[2] = {5, 0};
SAT_API int T_ICP[2] = {5, 0};
SAT_API int T_Venda[2] = {0, 20};
SAT_API int T_Canc[2] = {0, 3};
SAT_API int T_Cons[2] = {0, 4};
SAT_API int T_Fim[2] = {0, 40};
SAT_API int T_Stat[2] = {0, 4};
SAT_API int T_Sessao[2] = {0, 20};
SAT_API int T_SessaoFiscal[2] = {0, 20};
SAT_API int T_Rede[2] = {0, 20};
SAT_API int T_Assoc[2] = {30, 0};
SAT_API int T_Atual[2] = {30, 0};
SAT_API int T_Logs[2] = {0, 20};
SAT_API int T_Bloq[2] = {5, 0};
SAT_API int T_Desbloq[2] = {0, 40};
SAT_API int T_CodAtiv[2] = {0, 20};

SAT_API int lib_lock = 0;

SAT_API char sMM[3];
SAT_API char sSS[3];

} // extern "C"

// Hosts of the SAT driver family read BC directly: its layout is part of the ABI.
static_assert(offsetof(sat_buffer, Tamanho) == 0);
static_assert(offsetof(sat_buffer, NumBytes) == 4);
static_assert(offsetof(sat_buffer, Dados) == 8);
static_assert(sizeof(sat_buffer) == 8 + sat::kResponseSize);
static_assert(sizeof(BC.Dados) == sat::kResponseSize);
static_assert(sizeof(SAT_SERIAL) == 30 && sizeof(SAT_NOPOPUP) == 7 && sizeof(sMM) == 3);
