#include "config.h"

#include <cctype>
#include <climits>
#include <cstring>
#include <span>

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

bool starts_with(const char* text, const char* prefix) {
    return std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

// The needed section must be the first or the second of the file; the name is
// compared on its leading characters, with case.
int accept_file(const char* section, const char* file_name) {
    char name[10];
    bool found = false;
    for (int position = 0; position < 2 && !found; ++position)
        found = ini_getsection(position, name, sizeof name, file_name) > 0 &&
                starts_with(name, section);
    if (!found) return -1;
    return ini_readable(file_name) ? 0 : -1;
}

// One key of config.ini: its built-in value, the buffer it goes to, and for a
// few keys the check whose failure ends the reading with "erro: <key>".
struct Key {
    const char* key;
    const char* fallback;
    char* buf;
    int size;
    bool (*valid)(const char* value) = nullptr;
};

template <std::size_t N>
constexpr Key key(const char* name, const char* fallback, char (&buf)[N],
                  bool (*valid)(const char*) = nullptr) {
    return {name, fallback, buf, static_cast<int>(N), valid};
}

const Key kDefaultKeys[] = {
    key("LAYOUT", "0.06", cLayout),           key("CNPJ_CONTRIB", " ", cCNPJContrib),
    key("IE_CONTRIB", " ", cIEContrib),       key("CNPJ_SH", " ", cCNPJSh),
    key("ASSINATURA_SH", " ", cAssinaturaSH), key("UF", " ", cUF),
};

// In the order they are read; a refused value leaves the keys after it unread.
// prioridade, prioridade_3g, usuario_3g, senha_3g, phone_3g and APN_3g may be
// present; no request uses them.
const Key kRedeKeys[] = {
    key("tipoInter", " ", ctipoInter, [](const char* v) { return starts_with(v, "ETHE"); }),
    key("tipoLan", " ", ctipoLan,
        [](const char* v) { return starts_with(v, "DHCP") || starts_with(v, "IPFIX"); }),
    key("lanIP", "", clanIP),
    key("lanMask", "", clanMask),
    key("lanGW", "", clanGW),
    key("lanDNS1", "", clanDNS1),
    key("lanDNS2", "", clanDNS2),
    key("proxy", "", cproxy,
        [](const char* v) {
            const int proxy = int_value(v);
            return proxy >= 0 && proxy <= 2;
        }),
    key("proxy_ip", "", cproxy_ip),
    key("proxy_porta", "", cproxy_porta),
    key("proxy_user", "", cproxy_user),
    key("proxy_senha", "", cproxy_senha),
};

// Where the groups of kRedeKeys begin.
constexpr std::size_t kTipoInter = 0, kLanIP = 2, kProxy = 7, kProxyIp = 8;

// Reads `keys` of `section`; -1 after printing "erro: <key>" to `out` at the
// first refused value.
template <std::size_t N>
int read_keys(const char* section, const Key (&keys)[N], std::FILE* out, const char* file_name) {
    if (accept_file(section, file_name) != 0) return -1;
    for (const Key& k : keys) {
        ini_gets(section, k.key, k.fallback, k.buf, k.size, file_name);
        if (k.valid && !k.valid(k.buf)) {
            std::fprintf(out, "erro: %s\n", k.key);
            return -1;
        }
    }
    return 0;
}

} // namespace

int int_value(const char* text) {
    if (!text) return 0;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    while (std::isspace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long v = 0;
    for (; std::isdigit(*p); ++p) {
        v = v * 10 + (*p - '0');
        if (v > static_cast<long long>(INT_MAX) + 1) v = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) return static_cast<int>(-v);
    return v > INT_MAX ? INT_MAX : static_cast<int>(v);
}

int check_ip(const char* ip) {
    for (std::size_t i = 0; ip[i]; ++i) {
        bool dot = i == 3 || i == 7 || i == 11;
        if (dot ? ip[i] != '.' : !std::isdigit(static_cast<unsigned char>(ip[i]))) return 1;
    }
    return 0;
}

int read_default_section(const char* file_name) {
    if (read_keys("DEFAULT", kDefaultKeys, stdout, file_name) != 0) return -1;
    std::snprintf(cCNPJValue, sizeof cCNPJValue, "%s%s", cCNPJSh, cCNPJContrib);
    return 0;
}

int read_rede_section(std::FILE* out, const char* file_name) {
    return read_keys("REDE", kRedeKeys, out, file_name);
}

std::string teste_fim_a_fim_document() {
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

std::string network_document() {
    std::string d = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><config>";
    // Each element is named after its key in [REDE].
    auto elements = [&d](std::size_t first, std::size_t count) {
        for (const Key& k : std::span(kRedeKeys).subspan(first, count)) {
            d += '<';
            d += k.key;
            d += '>';
            d += k.buf;
            d += "</";
            d += k.key;
            d += '>';
        }
    };
    elements(kTipoInter, 2);
    if (!starts_with(ctipoLan, "DHCP")) elements(kLanIP, 5);
    elements(kProxy, 1);
    if (int_value(cproxy) == 1) elements(kProxyIp, 4);
    d += "</config>";
    return d;
}

} // namespace satcli
