// Stand-in driver libraries for satcli's loader: every function but the two
// optional ones, or (STUB_SEM_ATIVAR) without AtivarSAT either.
#define STUB(name, ...)                                                                            \
    extern "C" __attribute__((visibility("default"))) char* name(__VA_ARGS__) {                    \
        return nullptr;                                                                            \
    }
STUB(ExtrairLogs, int, char*)
STUB(AtualizarSoftwareSAT, int, char*)
STUB(ConsultarStatusOperacional, int, char*)
#ifndef STUB_SEM_ATIVAR
STUB(AtivarSAT, int, int, char*, char*, int)
#endif
STUB(EnviarDadosVenda, int, char*, char*)
STUB(CancelarUltimaVenda, int, char*, char*, char*)
STUB(ConsultarSAT, int)
STUB(TesteFimAFim, int, char*, char*)
STUB(ConsultarNumeroSessao, int, char*, int)
STUB(ConfigurarInterfaceDeRede, int, char*, char*)
STUB(AssociarAssinatura, int, char*, char*, char*)
STUB(BloquearSAT, int, char*)
STUB(DesbloquearSAT, int, char*)
STUB(TrocarCodigoDeAtivacao, int, char*, int, char*, char*)
