// config.ini: acceptance, readers, address check and the generated documents.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "capture.h"
#include "config.h"
#include "sandbox.h"

using namespace satcli;
using satcli_test::Captura;

namespace {

std::string config(const std::string& texto) {
    std::string dir = testsupport::make_temp_dir("satcli-cfg");
    std::string path = dir + "/config.ini";
    EXPECT_TRUE(testsupport::write_file(path, texto));
    return path;
}

} // namespace

TEST(check_ip, ChecksOnlyTheShapeOfThreeDigitParts) {
    const struct {
        const char* ip;
        int esperado;
    } casos[] = {
        {"192.168.001.010", 0},
        {"999.999.999.999", 0},
        {"", 0},
        {"192.168", 0},
        {"192", 0},
        {"192.168.1.10", 1},
        {"192.168.001.01x", 1},
        {"a", 1},
        {"192,168.001.010", 1},
        {"1921.68.001.01", 1},
        {"...", 1},
        {"000.000.000.000", 0},
    };
    for (const auto& c : casos)
        EXPECT_EQ(check_ip(c.ip), c.esperado) << c.ip;
}

TEST(ValorInteiro, ReadsLikeTheCommandLineExpects) {
    const struct {
        const char* texto;
        int esperado;
    } casos[] = {
        {"35", 35},
        {"  12abc", 12},
        {"-5", -5},
        {"+7", 7},
        {"abc", 0},
        {"", 0},
        {" ", 0},
        {"0x1F", 0},
        {"2147483647", INT_MAX},
        {"99999999999999999999", INT_MAX},
        {"-99999999999", INT_MIN},
    };
    for (const auto& c : casos)
        EXPECT_EQ(int_value(c.texto), c.esperado) << c.texto;
}

// More refusals run through satcli in golden_stub_test.
TEST(ConfigDefault, SectionMustBeFirstOrSecondAndSpelledExactly) {
    const struct {
        const char* texto;
        int esperado;
    } casos[] = {
        {"[DEFAULT]\nLAYOUT=0.07\n", 0},
        {"[REDE]\ntipoInter=ETHE\n[DEFAULT]\nLAYOUT=0.07\n", 0},
        {"[ DEFAULT ]\nLAYOUT=0.07\n", -1},
        {"LAYOUT=0.07\n", -1},
        {"", -1},
    };
    for (const auto& c : casos)
        EXPECT_EQ(read_default_section(config(c.texto).c_str()), c.esperado) << c.texto;
    EXPECT_EQ(read_default_section("/nonexistent/config.ini"), -1);
}

TEST(ConfigDefault, DefaultsWidthsAndTheCnpjValue) {
    ASSERT_EQ(read_default_section(config("[DEFAULT]\n").c_str()), 0);
    EXPECT_STREQ(cLayout, "0.06");
    EXPECT_STREQ(cCNPJContrib, " ");
    EXPECT_STREQ(cIEContrib, " ");
    EXPECT_STREQ(cCNPJSh, " ");
    EXPECT_STREQ(cAssinaturaSH, " ");
    EXPECT_STREQ(cUF, " ");
    EXPECT_STREQ(cCNPJValue, "  ");

    std::string assinatura(400, 'A');
    std::string texto = "[DEFAULT]\nLAYOUT=0.07.1\nCNPJ_CONTRIB=11111111111111\n"
                        "IE_CONTRIB=111111111111\nCNPJ_SH=22222222222222\nASSINATURA_SH=" +
                        assinatura + "\nUF=355\n";
    ASSERT_EQ(read_default_section(config(texto).c_str()), 0);
    EXPECT_STREQ(cLayout, "0.07.");
    EXPECT_STREQ(cUF, "35");
    EXPECT_EQ(std::string(cAssinaturaSH), std::string(344, 'A'));
    EXPECT_STREQ(cCNPJValue, "2222222222222211111111111111");
}

namespace {

int rede(const std::string& corpo, std::string* saida = nullptr) {
    Captura c;
    int r = read_rede_section(c.file(), config("[REDE]\n" + corpo).c_str());
    if (saida) *saida = c.texto();
    return r;
}

} // namespace

TEST(ConfigRede, ChecksInterfaceLanTypeAndProxyMode) {
    const struct {
        const char* corpo;
        int esperado;
        const char* mensagem;
    } casos[] = {
        {"tipoInter=ETHE\ntipoLan=DHCP\n", 0, ""},
        {"tipoInter=ETHERNET\ntipoLan=IPFIX\n", 0, ""},
        {"tipoInter=WIFI\ntipoLan=DHCP\n", -1, "erro: tipoInter\n"},
        {"tipoInter=ETHE\n", -1, "erro: tipoLan\n"},
        {"tipoInter=ETHE\ntipoLan=dhcp\n", -1, "erro: tipoLan\n"},
        {"tipoInter=ETHE\ntipoLan=DHCP\nproxy=-1\n", 0, ""}, // cut to "-", which reads as 0
        {"tipoInter=ETHE\ntipoLan=DHCP\nproxy=2\n", 0, ""},
        {"tipoInter=ETHE\ntipoLan=DHCP\nproxy=10\n", 0, ""},
    };
    for (const auto& c : casos) {
        std::string saida;
        EXPECT_EQ(rede(c.corpo, &saida), c.esperado) << c.corpo;
        EXPECT_EQ(saida, c.mensagem) << c.corpo;
    }
    ASSERT_EQ(rede("tipoInter=ETHERNET\ntipoLan=DHCP\nproxy=10\n"), 0);
    EXPECT_STREQ(ctipoInter, "ETHE");
    EXPECT_STREQ(cproxy, "1");
}

TEST(Documents, SampleSaleCarriesTheValuesUnescaped) {
    ASSERT_EQ(read_default_section(config("[DEFAULT]\nCNPJ_SH=1<&2\nIE_CONTRIB=ie\n").c_str()), 0);
    std::string d = teste_fim_a_fim_document();
    EXPECT_EQ(
        d.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?><CFe><infCFe versaoDadosEnt=\"0.06\">"
                "<ide><CNPJ>1<&2</CNPJ><signAC> </signAC><numeroCaixa>099</numeroCaixa></ide>"
                "<emit><CNPJ> </CNPJ><IE>ie</IE><cRegTribISSQN>",
                0),
        0u);
    EXPECT_NE(d.find("<xProd>MiniPc</xProd><CFOP>5001</CFOP>"), std::string::npos);
    EXPECT_EQ(d.find('\n'), std::string::npos);
    EXPECT_TRUE(d.ends_with("<vMP>2000.00</vMP></MP></pgto></infCFe></CFe>"));

    // Every value at its full width gives the longest document.
    std::string cheio =
        "[DEFAULT]\nLAYOUT=" + std::string(5, 'L') + "\nCNPJ_CONTRIB=" + std::string(40, 'c') +
        "\nIE_CONTRIB=" + std::string(40, 'i') + "\nCNPJ_SH=" + std::string(40, 's') +
        "\nASSINATURA_SH=" + std::string(400, 'a') + "\n";
    ASSERT_EQ(read_default_section(config(cheio).c_str()), 0);
    EXPECT_EQ(teste_fim_a_fim_document().size(), 1307u);
}

TEST(Documents, NetworkDocumentFollowsLanTypeAndProxyMode) {
    const char* cabeca = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><config><tipoInter>ETHE"
                         "</tipoInter><tipoLan>";
    const struct {
        const char* corpo;
        std::string resto;
    } casos[] = {
        {"tipoInter=ETHE\ntipoLan=DHCP\nlanIP=lixo\nproxy=0\nproxy_ip=1.2\n",
         "DHCP</tipoLan><proxy>0</proxy></config>"},
        {"tipoInter=ETHE\ntipoLan=DHCP\n", "DHCP</tipoLan><proxy></proxy></config>"},
        {"tipoInter=ETHE\ntipoLan=IPFIX\nlanIP=192.168.001.010\nlanMask=255.255.255.000\n"
         "lanGW=192.168.001.001\nlanDNS1=008.008.008.008\nlanDNS2=\nproxy=2\nproxy_ip=x\n",
         "IPFIX</tipoLan><lanIP>192.168.001.010</lanIP><lanMask>255.255.255.000</lanMask>"
         "<lanGW>192.168.001.001</lanGW><lanDNS1>008.008.008.008</lanDNS1><lanDNS2></lanDNS2>"
         "<proxy>2</proxy></config>"},
        {"tipoInter=ETHE\ntipoLan=DHCP\nproxy=1\nproxy_ip=010.000.000.001\nproxy_porta=3128\n"
         "proxy_user=\"u;1\"\nproxy_senha=s#2\n",
         "DHCP</tipoLan><proxy>1</proxy><proxy_ip>010.000.000.001</proxy_ip><proxy_porta>3128"
         "</proxy_porta><proxy_user>u;1</proxy_user><proxy_senha>s</proxy_senha></config>"},
    };
    for (const auto& c : casos) {
        ASSERT_EQ(rede(c.corpo), 0) << c.corpo;
        EXPECT_EQ(network_document(), cabeca + c.resto) << c.corpo;
    }
    std::string cheio =
        "tipoInter=ETHE\ntipoLan=IPFIXXXXX\nlanIP=" + std::string(20, '1') +
        "\nlanMask=" + std::string(20, '2') + "\nlanGW=" + std::string(20, '3') +
        "\nlanDNS1=" + std::string(20, '4') + "\nlanDNS2=" + std::string(20, '5') +
        "\nproxy=1\nproxy_ip=" + std::string(20, '6') + "\nproxy_porta=" + std::string(9, '7') +
        "\nproxy_user=" + std::string(90, 'u') + "\nproxy_senha=" + std::string(90, 's') + "\n";
    ASSERT_EQ(rede(cheio), 0);
    EXPECT_EQ(network_document().size(), 535u);
}
