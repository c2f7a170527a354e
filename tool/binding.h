// Loading the driver library and binding its functions.
#pragma once

#include <cstdio>

#include "sat_functions.h"

namespace satcli {

// The library is always taken from the current directory under its i386 name;
// the x64 test trees copy their own build to this name.
inline constexpr const char* kLibraryPath = "./libtorvane_sat_x86.so";

// Entry-point table: one slot per library function satcli offers, each typed
// from the function's own declaration.
struct Api {
    decltype(&::ExtrairLogs) ExtrairLogs = nullptr;
    decltype(&::AtualizarSoftwareSAT) AtualizarSoftwareSAT = nullptr;
    decltype(&::ConsultarStatusOperacional) ConsultarStatusOperacional = nullptr;
    decltype(&::AtivarSAT) AtivarSAT = nullptr;
    decltype(&::EnviarDadosVenda) EnviarDadosVenda = nullptr;
    decltype(&::CancelarUltimaVenda) CancelarUltimaVenda = nullptr;
    decltype(&::ConsultarSAT) ConsultarSAT = nullptr;
    decltype(&::TesteFimAFim) TesteFimAFim = nullptr;
    decltype(&::ConsultarNumeroSessao) ConsultarNumeroSessao = nullptr;
    decltype(&::ConsultarUltimaSessaoFiscal) ConsultarUltimaSessaoFiscal = nullptr;
    decltype(&::ConfigurarInterfaceDeRede) ConfigurarInterfaceDeRede = nullptr;
    decltype(&::AssociarAssinatura) AssociarAssinatura = nullptr;
    decltype(&::BloquearSAT) BloquearSAT = nullptr;
    decltype(&::DesbloquearSAT) DesbloquearSAT = nullptr;
    decltype(&::TrocarCodigoDeAtivacao) TrocarCodigoDeAtivacao = nullptr;
    decltype(&::SetDriver) SetDriver = nullptr;

    // Support flags of the two functions that older libraries lack.
    bool has_ultima_sessao_fiscal = false;
    bool has_set_driver = false;
};

// Loads the library at `path` with lazy binding and binds every function in
// the fixed order, printing the loader's message for each failure to `out`.
// Returns false when the library cannot be loaded or a required function is
// missing (the caller then ends with status 1); a missing optional function
// only clears its support flag.
bool load_library(const char* path, Api& api, std::FILE* out);

} // namespace satcli
