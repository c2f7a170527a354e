#include "binding.h"

#include <dlfcn.h>

namespace satcli {

namespace {

enum class Need { required, optional };

// Looks `name` up and stores it in `slot`, whose type is the declared type of
// that function; a missing one is reported as "dlsym_<label>: <error>", the
// label being the name unless given. Returns false only when a required
// function is missing.
template <typename Fn>
bool bind_function(void* handle, Fn& slot, const char* name, std::FILE* out,
                   Need need = Need::required, bool* support = nullptr,
                   const char* label = nullptr) {
    if (support) *support = true;
    dlerror(); // forget any error left by an earlier lookup
    void* sym = dlsym(handle, name);
    if (const char* error = dlerror()) {
        std::fprintf(out, "dlsym_%s: %s\n", label ? label : name, error);
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
    // The order decides which message a broken library shows first.
    return bind_function(h, api.ExtrairLogs, "ExtrairLogs", out) &&
           bind_function(h, api.AtualizarSoftwareSAT, "AtualizarSoftwareSAT", out) &&
           bind_function(h, api.ConsultarStatusOperacional, "ConsultarStatusOperacional", out) &&
           bind_function(h, api.AtivarSAT, "AtivarSAT", out) &&
           // The message has carried the extra "s" for years; scripts match on it.
           bind_function(h, api.EnviarDadosVenda, "EnviarDadosVenda", out, Need::required, nullptr,
                         "EnviarDadosVendas") &&
           bind_function(h, api.CancelarUltimaVenda, "CancelarUltimaVenda", out) &&
           bind_function(h, api.ConsultarSAT, "ConsultarSAT", out) &&
           bind_function(h, api.TesteFimAFim, "TesteFimAFim", out) &&
           bind_function(h, api.ConsultarNumeroSessao, "ConsultarNumeroSessao", out) &&
           bind_function(h, api.ConsultarUltimaSessaoFiscal, "ConsultarUltimaSessaoFiscal", out,
                         Need::optional, &api.has_ultima_sessao_fiscal) &&
           bind_function(h, api.ConfigurarInterfaceDeRede, "ConfigurarInterfaceDeRede", out) &&
           bind_function(h, api.AssociarAssinatura, "AssociarAssinatura", out) &&
           bind_function(h, api.BloquearSAT, "BloquearSAT", out) &&
           bind_function(h, api.DesbloquearSAT, "DesbloquearSAT", out) &&
           bind_function(h, api.TrocarCodigoDeAtivacao, "TrocarCodigoDeAtivacao", out) &&
           bind_function(h, api.SetDriver, "SetDriver", out, Need::optional, &api.has_set_driver);
}

} // namespace satcli
