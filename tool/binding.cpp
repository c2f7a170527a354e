#include "binding.h"

#include <dlfcn.h>

namespace satcli {

namespace {

enum class Tipo { obrigatoria, opcional };

// Looks `name` up and stores it in `slot`, whose type is the declared type of
// that function. Returns false only when a required function is missing.
template <typename Fn>
bool liga(void* handle, Fn& slot, const char* name, const char* mensagem, Tipo tipo, bool* suporte,
          std::FILE* out) {
    if (suporte) *suporte = true;
    dlerror(); // forget any error left by an earlier lookup
    void* sym = dlsym(handle, name);
    if (const char* erro = dlerror()) {
        std::fprintf(out, mensagem, erro);
        if (tipo == Tipo::obrigatoria) return false;
        if (suporte) *suporte = false;
        return true;
    }
    slot = reinterpret_cast<Fn>(sym);
    return true;
}

} // namespace

bool carrega_biblioteca(const char* path, Api& api, std::FILE* out) {
    void* h = dlopen(path, RTLD_LAZY);
    if (!h) {
        const char* erro = dlerror();
        std::fprintf(out, "dl_handle: %s\n", erro ? erro : "");
        return false;
    }
    constexpr Tipo req = Tipo::obrigatoria;
    constexpr Tipo opt = Tipo::opcional;
    // The order decides which message a broken library shows first.
    return liga(h, api.ExtrairLogs, "ExtrairLogs", "dlsym_ExtrairLogs: %s\n", req, nullptr, out) &&
           liga(h, api.AtualizarSoftwareSAT, "AtualizarSoftwareSAT",
                "dlsym_AtualizarSoftwareSAT: %s\n", req, nullptr, out) &&
           liga(h, api.ConsultarStatusOperacional, "ConsultarStatusOperacional",
                "dlsym_ConsultarStatusOperacional: %s\n", req, nullptr, out) &&
           liga(h, api.AtivarSAT, "AtivarSAT", "dlsym_AtivarSAT: %s\n", req, nullptr, out) &&
           // The message has carried the extra "s" for years; scripts match on it.
           liga(h, api.EnviarDadosVenda, "EnviarDadosVenda", "dlsym_EnviarDadosVendas: %s\n", req,
                nullptr, out) &&
           liga(h, api.CancelarUltimaVenda, "CancelarUltimaVenda",
                "dlsym_CancelarUltimaVenda: %s\n", req, nullptr, out) &&
           liga(h, api.ConsultarSAT, "ConsultarSAT", "dlsym_ConsultarSAT: %s\n", req, nullptr,
                out) &&
           liga(h, api.TesteFimAFim, "TesteFimAFim", "dlsym_TesteFimAFim: %s\n", req, nullptr,
                out) &&
           liga(h, api.ConsultarNumeroSessao, "ConsultarNumeroSessao",
                "dlsym_ConsultarNumeroSessao: %s\n", req, nullptr, out) &&
           liga(h, api.ConsultarUltimaSessaoFiscal, "ConsultarUltimaSessaoFiscal",
                "dlsym_ConsultarUltimaSessaoFiscal: %s\n", opt, &api.suporta_ultima_sessao_fiscal,
                out) &&
           liga(h, api.ConfigurarInterfaceDeRede, "ConfigurarInterfaceDeRede",
                "dlsym_ConfigurarInterfaceDeRede: %s\n", req, nullptr, out) &&
           liga(h, api.AssociarAssinatura, "AssociarAssinatura", "dlsym_AssociarAssinatura: %s\n",
                req, nullptr, out) &&
           liga(h, api.BloquearSAT, "BloquearSAT", "dlsym_BloquearSAT: %s\n", req, nullptr, out) &&
           liga(h, api.DesbloquearSAT, "DesbloquearSAT", "dlsym_DesbloquearSAT: %s\n", req, nullptr,
                out) &&
           liga(h, api.TrocarCodigoDeAtivacao, "TrocarCodigoDeAtivacao",
                "dlsym_TrocarCodigoDeAtivacao: %s\n", req, nullptr, out) &&
           liga(h, api.SetDriver, "SetDriver", "dlsym_SetDriver: %s\n", opt,
                &api.suporta_set_driver, out);
}

} // namespace satcli
