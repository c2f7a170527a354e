// The tool's configuration file and the XML documents built from it.
//
// config.ini in the current directory has two sections: [DEFAULT] with the
// taxpayer's and the software house's data, [REDE] with the device's network
// settings. A section is accepted only as the first or second of the file.
#pragma once

#include <cstdio>
#include <string>

namespace satcli {

inline constexpr const char* kConfigIni = "./config.ini";

// [DEFAULT]; widths are the buffer sizes, terminator included.
extern char cLayout[6];
extern char cCNPJContrib[33];
extern char cIEContrib[33];
extern char cCNPJSh[33];
extern char cAssinaturaSH[345];
extern char cUF[3];
// CNPJ_SH immediately followed by CNPJ_CONTRIB.
extern char cCNPJValue[70];

// [REDE]
extern char ctipoInter[5];
extern char ctipoLan[9];
extern char clanIP[16];
extern char clanMask[16];
extern char clanGW[16];
extern char clanDNS1[16];
extern char clanDNS2[16];
extern char cproxy[2];
extern char cproxy_ip[16];
extern char cproxy_porta[6];
extern char cproxy_user[65];
extern char cproxy_senha[65];

// Integer value of a text: leading white space, optional sign, decimal digits
// up to the first other character; no digits give 0. Out-of-range values are
// clamped to the int range.
int int_value(const char* text);

// 0 when `ip` has '.' at positions 3, 7 and 11 and decimal digits everywhere
// else (so 192.168.001.010 and the empty text pass, 192.168.1.10 does not);
// 1 otherwise.
int check_ip(const char* ip);

// Read [DEFAULT] / [REDE] of `file_name`. 0 on success, -1 when the file or its
// section is not accepted or (for [REDE]) a value is refused, after printing
// the value's "erro: ..." line to `out`.
int read_default_section(const char* file_name = kConfigIni);
int read_rede_section(std::FILE* out, const char* file_name = kConfigIni);

// The sample sale sent by TesteFimAFim, from the [DEFAULT] values.
std::string teste_fim_a_fim_document();

// The network document sent by ConfigurarInterfaceDeRede, from the [REDE]
// values: lan elements only for a fixed address, proxy_ elements only for a
// configured proxy (mode 1).
std::string network_document();

} // namespace satcli
