#include "config.h"

#include <cctype>
#include <climits>
#include <cstring>

#include "ini.h"

namespace satcli {

char cLayout[6];
char cCNPJContrib[33];
char cIEContrib[33];
char cCNPJSh[33];
char cAssinaturaSH[345];
char cUF[3];
char cCNPJValue[70];

char ctipoInter[5];
char ctipoLan[9];
char clanIP[16];
char clanMask[16];
char clanGW[16];
char clanDNS1[16];
char clanDNS2[16];
char cproxy[2];
char cproxy_ip[16];
char cproxy_porta[6];
char cproxy_user[65];
char cproxy_senha[65];

namespace {

template <std::size_t N>
void le(const char* secao, const char* chave, const char* padrao, char (&buf)[N],
        const char* arquivo) {
    ini_gets(secao, chave, padrao, buf, static_cast<int>(N), arquivo);
}

bool comeca_com(const char* texto, const char* prefixo) {
    return std::strncmp(texto, prefixo, std::strlen(prefixo)) == 0;
}

// The needed section must be the first or the second of the file; the name is
// compared on its leading characters, with case.
int aceita_arquivo(const char* secao, const char* arquivo) {
    char nome[10];
    bool achou = false;
    for (int indice = 0; indice < 2 && !achou; ++indice)
        achou = ini_getsection(indice, nome, sizeof nome, arquivo) > 0 && comeca_com(nome, secao);
    if (!achou) return -1;
    return file_existe(arquivo) ? 0 : -1;
}

} // namespace

int valor_inteiro(const char* texto) {
    if (!texto) return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(texto);
    while (std::isspace(*p))
        ++p;
    bool negativo = false;
    if (*p == '+' || *p == '-') negativo = *p++ == '-';
    long long v = 0;
    for (; std::isdigit(*p); ++p) {
        v = v * 10 + (*p - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negativo) return static_cast<int>(-v);
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

int file_existe(const char* path) {
    std::FILE* f = std::fopen(path, "r");
    if (!f) return 0;
    std::fclose(f);
    return 1;
}

int ValidaIP(const char* ip) {
    for (std::size_t i = 0; ip[i]; ++i) {
        bool ponto = i == 3 || i == 7 || i == 11;
        if (ponto ? ip[i] != '.' : !std::isdigit(static_cast<unsigned char>(ip[i]))) return 1;
    }
    return 0;
}

int le_ini_default(const char* arquivo) {
    if (aceita_arquivo("DEFAULT", arquivo) != 0) return -1;
    le("DEFAULT", "LAYOUT", "0.06", cLayout, arquivo);
    le("DEFAULT", "CNPJ_CONTRIB", " ", cCNPJContrib, arquivo);
    le("DEFAULT", "IE_CONTRIB", " ", cIEContrib, arquivo);
    le("DEFAULT", "CNPJ_SH", " ", cCNPJSh, arquivo);
    le("DEFAULT", "ASSINATURA_SH", " ", cAssinaturaSH, arquivo);
    le("DEFAULT", "UF", " ", cUF, arquivo);
    std::snprintf(cCNPJValue, sizeof cCNPJValue, "%s%s", cCNPJSh, cCNPJContrib);
    return 0;
}

int le_ini_rede(std::FILE* out, const char* arquivo) {
    if (aceita_arquivo("REDE", arquivo) != 0) return -1;
    le("REDE", "tipoInter", " ", ctipoInter, arquivo);
    if (!comeca_com(ctipoInter, "ETHE")) {
        std::fputs("erro: tipoInter\n", out);
        return -1;
    }
    le("REDE", "tipoLan", " ", ctipoLan, arquivo);
    if (!comeca_com(ctipoLan, "DHCP") && !comeca_com(ctipoLan, "IPFIX")) {
        std::fputs("erro: tipoLan\n", out);
        return -1;
    }
    le("REDE", "lanIP", "", clanIP, arquivo);
    le("REDE", "lanMask", "", clanMask, arquivo);
    le("REDE", "lanGW", "", clanGW, arquivo);
    le("REDE", "lanDNS1", "", clanDNS1, arquivo);
    le("REDE", "lanDNS2", "", clanDNS2, arquivo);
    le("REDE", "proxy", "", cproxy, arquivo);
    int proxy = valor_inteiro(cproxy);
    if (proxy < 0 || proxy > 2) {
        std::fputs("erro: proxy\n", out);
        return -1;
    }
    le("REDE", "proxy_ip", "", cproxy_ip, arquivo);
    le("REDE", "proxy_porta", "", cproxy_porta, arquivo);
    le("REDE", "proxy_user", "", cproxy_user, arquivo);
    le("REDE", "proxy_senha", "", cproxy_senha, arquivo);
    // prioridade, prioridade_3g, usuario_3g, senha_3g, phone_3g and APN_3g may
    // be present; no request uses them.
    return 0;
}

std::string documento_teste_fim_a_fim() {
    std::string d;
    d.reserve(1400);
    d += "<?xml version=\"1.0\" encoding=\"UTF-8\"?><CFe><infCFe versaoDadosEnt=\"";
    d += cLayout;
    d += "\"><ide><CNPJ>";
    d += cCNPJSh;
    d += "</CNPJ><signAC>";
    d += cAssinaturaSH;
    d += "</signAC><numeroCaixa>099</numeroCaixa></ide><emit><CNPJ>";
    d += cCNPJContrib;
    d += "</CNPJ><IE>";
    d += cIEContrib;
    d += "</IE><cRegTribISSQN>1</cRegTribISSQN><indRatISSQN>N</indRatISSQN></emit><dest><CNPJ>"
         "11222333000181</CNPJ></dest><det nItem=\"1\"><prod><cProd>001</cProd><xProd>MiniPc"
         "</xProd><CFOP>5001</CFOP><uCom>UN</uCom><qCom>1.0000</qCom><vUnCom>654.320</vUnCom>"
         "<indRegra>A</indRegra></prod><imposto><vItem12741>1.00</vItem12741><ICMS><ICMS00>"
         "<Orig>0</Orig><CST>00</CST><pICMS>12.00</pICMS></ICMS00></ICMS><PIS><PISAliq><CST>01"
         "</CST><vBC>654.32</vBC><pPIS>0.0600</pPIS></PISAliq></PIS><COFINS><COFINSAliq><CST>01"
         "</CST><vBC>654.32</vBC><pCOFINS>0.0400</pCOFINS></COFINSAliq></COFINS></imposto></det>"
         "<total><vCFeLei12741>1.00</vCFeLei12741></total><pgto><MP><cMP>01</cMP><vMP>2000.00"
         "</vMP></MP></pgto></infCFe></CFe>";
    return d;
}

std::string documento_rede() {
    std::string d = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><config><tipoInter>";
    auto elemento = [&d](const char* nome, const char* valor) {
        d += '<';
        d += nome;
        d += '>';
        d += valor;
        d += "</";
        d += nome;
        d += '>';
    };
    d += ctipoInter;
    d += "</tipoInter><tipoLan>";
    d += ctipoLan;
    d += "</tipoLan>";
    if (!comeca_com(ctipoLan, "DHCP")) {
        elemento("lanIP", clanIP);
        elemento("lanMask", clanMask);
        elemento("lanGW", clanGW);
        elemento("lanDNS1", clanDNS1);
        elemento("lanDNS2", clanDNS2);
    }
    elemento("proxy", cproxy);
    if (valor_inteiro(cproxy) == 1) {
        elemento("proxy_ip", cproxy_ip);
        elemento("proxy_porta", cproxy_porta);
        elemento("proxy_user", cproxy_user);
        elemento("proxy_senha", cproxy_senha);
    }
    d += "</config>";
    return d;
}

} // namespace satcli
