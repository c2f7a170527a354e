#include "functions.h"

#include "sat.h"

#include <cstdio>
#include <cstdlib>

namespace satd {

namespace {

// The library takes writable texts (EnviarDadosVenda may correct the sale in place),
// so every text goes through a copy of its own.
struct Text {
    explicit Text(const std::string& s) : value(s) {}
    char* get() { return value.data(); }
    std::string value;
};

std::string field(const Fields& f, const char* name) {
    const auto it = f.find(name);
    return it == f.end() ? std::string() : it->second;
}

int number(const Fields& f, const char* name) {
    return std::atoi(field(f, name).c_str());
}

// The answer lives in the library's one buffer until the next call: copied at once.
std::string answer(const char* text) {
    return text ? text : "";
}

} // namespace

const std::vector<Function>& functions() {
    static const std::vector<Function> table = {
        {"ativarsat",
         "AtivarSAT",
         "04",
         false,
         false,
         {{"tipo_certificado", Shape::Type},
          {"cnpj", Shape::Digits14},
          {"codigo_uf", Shape::State}},
         [](int s, const std::string& c, const Fields& f) {
             Text code(c), cnpj(field(f, "cnpj"));
             return answer(AtivarSAT(s, number(f, "tipo_certificado"), code.get(), cnpj.get(),
                                     number(f, "codigo_uf")));
         }},
        {"comunicarcertificadoicpbrasil",
         "ComunicarCertificadoICPBRASIL",
         "05",
         false,
         false,
         {{"certificado", Shape::Document}},
         [](int s, const std::string& c, const Fields& f) {
             Text code(c), cert(field(f, "certificado"));
             return answer(ComunicarCertificadoICPBRASIL(s, code.get(), cert.get()));
         }},
        {"enviardadosvenda",
         "EnviarDadosVenda",
         "06",
         true,
         true,
         {{"dados_venda", Shape::Document}},
         [](int s, const std::string& c, const Fields& f) {
             Text code(c), sale(field(f, "dados_venda"));
             return answer(EnviarDadosVenda(s, code.get(), sale.get()));
         }},
        {"cancelarultimavenda",
         "CancelarUltimaVenda",
         "07",
         true,
         true,
         {{"chave_cfe", Shape::AccessKey}, {"dados_cancelamento", Shape::Document}},
         [](int s, const std::string& c, const Fields& f) {
             Text code(c), key(field(f, "chave_cfe")), doc(field(f, "dados_cancelamento"));
             return answer(CancelarUltimaVenda(s, code.get(), key.get(), doc.get()));
         }},
        {"consultarsat",
         "ConsultarSAT",
         "08",
         true,
         false,
         {},
         [](int s, const std::string&, const Fields&) { return answer(ConsultarSAT(s)); }},
        {"testefimafim",
         "TesteFimAFim",
         "09",
         true,
         false,
         {{"dados_venda", Shape::Document}},
         [](int s, const std::string& c, const Fields& f) {
             Text code(c), sale(field(f, "dados_venda"));
             return answer(TesteFimAFim(s, code.get(), sale.get()));
         }},
        {"consultarstatusoperacional",
         "ConsultarStatusOperacional",
         "10",
         true,
         false,
         {},
         [](int s, const std::string& c, const Fields&) {
             Text code(c);
             return answer(ConsultarStatusOperacional(s, code.get()));
         }},
        {"consultarnumerosessao",
         "ConsultarNumeroSessao",
         "11",
         true,
         false,
         {{"numero_sessao", Shape::Session}},
         [](int s, const std::string& c, const Fields& f) {
             Text code(c);
             return answer(ConsultarNumeroSessao(s, code.get(), number(f, "numero_sessao")));
         }},
        {"configurarinterfacederede",
         "ConfigurarInterfaceDeRede",
         "12",
         false,
         false,
         {{"configuracao", Shape::Document}},
         [](int s, const std::string& c, const Fields& f) {
             Text code(c), doc(field(f, "configuracao"));
             return answer(ConfigurarInterfaceDeRede(s, code.get(), doc.get()));
         }},
        {"associarassinatura",
         "AssociarAssinatura",
         "13",
         false,
         false,
         {{"sequencia_cnpj", Shape::Digits28}, {"assinatura_ac", Shape::Base64}},
         [](int s, const std::string& c, const Fields& f) {
             Text code(c), cnpjs(field(f, "sequencia_cnpj")), sig(field(f, "assinatura_ac"));
             return answer(AssociarAssinatura(s, code.get(), cnpjs.get(), sig.get()));
         }},
        {"atualizarsoftwaresat",
         "AtualizarSoftwareSAT",
         "14",
         false,
         false,
         {},
         [](int s, const std::string& c, const Fields&) {
             Text code(c);
             return answer(AtualizarSoftwareSAT(s, code.get()));
         }},
        {"extrairlogs",
         "ExtrairLogs",
         "15",
         false,
         false,
         {},
         [](int s, const std::string& c, const Fields&) {
             Text code(c);
             return answer(ExtrairLogs(s, code.get()));
         }},
        {"bloquearsat",
         "BloquearSAT",
         "16",
         false,
         false,
         {},
         [](int s, const std::string& c, const Fields&) {
             Text code(c);
             return answer(BloquearSAT(s, code.get()));
         }},
        {"desbloquearsat",
         "DesbloquearSAT",
         "17",
         false,
         false,
         {},
         [](int s, const std::string& c, const Fields&) {
             Text code(c);
             return answer(DesbloquearSAT(s, code.get()));
         }},
        {"trocarcodigodeativacao",
         "TrocarCodigoDeAtivacao",
         "18",
         false,
         false,
         {{"novo_codigo_ativacao", Shape::Secret},
          {"opcao", Shape::Option},
          {"codigo_emergencia", Shape::Secret, true}},
         [](int s, const std::string& c, const Fields& f) {
             // With opcao 2 the emergency code stands where the activation code goes;
             // the hub sends the new code once, so it is its own confirmation too.
             const int opcao = number(f, "opcao");
             Text code(opcao == 2 ? field(f, "codigo_emergencia") : c);
             Text novo(field(f, "novo_codigo_ativacao")), conf(field(f, "novo_codigo_ativacao"));
             return answer(TrocarCodigoDeAtivacao(s, code.get(), opcao, novo.get(), conf.get()));
         }},
        {"consultarultimasessaofiscal",
         "ConsultarUltimaSessaoFiscal",
         "19",
         true,
         false,
         {},
         [](int s, const std::string& c, const Fields&) {
             Text code(c);
             return answer(ConsultarUltimaSessaoFiscal(s, code.get()));
         }},
    };
    return table;
}

const Function* find_function(const std::string& name) {
    for (const Function& f : functions())
        if (name == f.name) return &f;
    return nullptr;
}

std::string busy_answer(const Function& f, int session) {
    const std::string family = f.family;
    char head[16];
    std::snprintf(head, sizeof head, "%06d|", session);
    return head + family + "098|" + (f.fiscal ? "0000|" : "") +
           "SAT em processamento. Tente novamente.||";
}

} // namespace satd
