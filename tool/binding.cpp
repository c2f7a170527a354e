#include "binding.h"

#include <dlfcn.h>

namespace satcli {

namespace {

enum class Need { required, optional };

// Looks `name` up and stores it in `slot`, whose type is the declared type of
// that function. Returns false only when a required function is missing.
template <typename Fn>
bool bind_function(void* handle, Fn& slot, const char* name, const char* message, Need need,
                   bool* support, std::FILE* out) {
    if (support) *support = true;
    dlerror(); // forget any error left by an earlier lookup
    void* sym = dlsym(handle, name);
    if (const char* error = dlerror()) {
        std::fprintf(out, message, error);
        if (need == Need::required) return false;
        if (support) *support = false;
        return true;
    }
    slot = reinterpret_cast<Fn>(sym);
    return true;
}

} // namespace

bool load_library(const char* path, Api& api, std::FILE* out) {
    void* h = dlopen(path, RTLD_LAZY);
    if (!h) {
        const char* error = dlerror();
        std::fprintf(out, "dl_handle: %s\n", error ? error : "");
        return false;
    }
    constexpr Need req = Need::required;
    constexpr Need opt = Need::optional;
    // The order decides which message a broken library shows first.
    return bind_function(h, api.ExtrairLogs, "ExtrairLogs", "dlsym_ExtrairLogs: %s\n", req, nullptr,
                         out) &&
           bind_function(h, api.AtualizarSoftwareSAT, "AtualizarSoftwareSAT",
                         "dlsym_AtualizarSoftwareSAT: %s\n", req, nullptr, out) &&
           bind_function(h, api.ConsultarStatusOperacional, "ConsultarStatusOperacional",
                         "dlsym_ConsultarStatusOperacional: %s\n", req, nullptr, out) &&
           bind_function(h, api.AtivarSAT, "AtivarSAT", "dlsym_AtivarSAT: %s\n", req, nullptr,
                         out) &&
           // The message has carried the extra "s" for years; scripts match on it.
           bind_function(h, api.EnviarDadosVenda, "EnviarDadosVenda",
                         "dlsym_EnviarDadosVendas: %s\n", req, nullptr, out) &&
           bind_function(h, api.CancelarUltimaVenda, "CancelarUltimaVenda",
                         "dlsym_CancelarUltimaVenda: %s\n", req, nullptr, out) &&
           bind_function(h, api.ConsultarSAT, "ConsultarSAT", "dlsym_ConsultarSAT: %s\n", req,
                         nullptr, out) &&
           bind_function(h, api.TesteFimAFim, "TesteFimAFim", "dlsym_TesteFimAFim: %s\n", req,
                         nullptr, out) &&
           bind_function(h, api.ConsultarNumeroSessao, "ConsultarNumeroSessao",
                         "dlsym_ConsultarNumeroSessao: %s\n", req, nullptr, out) &&
           bind_function(h, api.ConsultarUltimaSessaoFiscal, "ConsultarUltimaSessaoFiscal",
                         "dlsym_ConsultarUltimaSessaoFiscal: %s\n", opt,
                         &api.has_ultima_sessao_fiscal, out) &&
           bind_function(h, api.ConfigurarInterfaceDeRede, "ConfigurarInterfaceDeRede",
                         "dlsym_ConfigurarInterfaceDeRede: %s\n", req, nullptr, out) &&
           bind_function(h, api.AssociarAssinatura, "AssociarAssinatura",
                         "dlsym_AssociarAssinatura: %s\n", req, nullptr, out) &&
           bind_function(h, api.BloquearSAT, "BloquearSAT", "dlsym_BloquearSAT: %s\n", req, nullptr,
                         out) &&
           bind_function(h, api.DesbloquearSAT, "DesbloquearSAT", "dlsym_DesbloquearSAT: %s\n", req,
                         nullptr, out) &&
           bind_function(h, api.TrocarCodigoDeAtivacao, "TrocarCodigoDeAtivacao",
                         "dlsym_TrocarCodigoDeAtivacao: %s\n", req, nullptr, out) &&
           bind_function(h, api.SetDriver, "SetDriver", "dlsym_SetDriver: %s\n", opt,
                         &api.has_set_driver, out);
}

} // namespace satcli
