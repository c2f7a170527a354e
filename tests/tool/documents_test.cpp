// Reading the sale and cancellation documents, and the sale key that a
// cancellation carries.
#include <gtest/gtest.h>

#include <string>
#include <unistd.h>

#include "commands.h"
#include "sandbox.h"

using namespace satcli;

TEST(Documents, CancellationKeyIsTheChCancOfInfCFe) {
    const struct {
        std::string doc;
        std::string chave;
    } casos[] = {
        {"<CFeCanc><infCFe chCanc=\"CFe35260111111111111111590000000010000011234567\"><ide/>"
         "</infCFe></CFeCanc>",
         "CFe35260111111111111111590000000010000011234567"},
        {"<?xml version=\"1.0\"?>\n<CFeCanc>\n  <infCFe\n    chCanc = "
         "'CFe1'>\n</infCFe></CFeCanc>\n",
         "CFe1"},
        {"<CFeCanc><infCFe versao=\"0.07\" chCanc=\"CFe7\"></infCFe></CFeCanc>", "CFe7"},
        {"<CFeCanc><infCFe><ide chCanc=\"CFe9\"/></infCFe></CFeCanc>", ""},
        {"<CFeCanc><infCFeX chCanc=\"CFe9\"/><infCFe xchCanc=\"CFe8\"></infCFe></CFeCanc>", ""},
        {"<CFeCanc><infCFe chCanc=CFe5></infCFe></CFeCanc>", ""},
        {"<CFeCanc><infCFe chCanc=\"CFe5", ""},
        {"", ""},
    };
    for (const auto& c : casos)
        EXPECT_EQ(cancellation_key(c.doc), c.chave) << c.doc;
}

TEST(Documents, ReadToTheEndFromFilesAndPipes) {
    std::string dir = testsupport::make_temp_dir("satcli-doc");
    std::string grande(200000, 'x');
    grande += "<fim/>";
    testsupport::write_file(dir + "/venda.xml", grande);
    testsupport::write_file(dir + "/vazio.xml", "");
    std::string lido;
    EXPECT_TRUE(read_document((dir + "/venda.xml").c_str(), lido));
    EXPECT_EQ(lido, grande);
    EXPECT_TRUE(read_document((dir + "/vazio.xml").c_str(), lido));
    EXPECT_EQ(lido, "");
    EXPECT_FALSE(read_document((dir + "/nada.xml").c_str(), lido));
    EXPECT_FALSE(read_document(dir.c_str(), lido)) << "a folder opens but cannot be read";

    int canal[2];
    ASSERT_EQ(pipe(canal), 0);
    ASSERT_EQ(write(canal[1], "<CFe>pipe</CFe>", 15), 15);
    close(canal[1]);
    EXPECT_TRUE(read_document(("/dev/fd/" + std::to_string(canal[0])).c_str(), lido));
    EXPECT_EQ(lido, "<CFe>pipe</CFe>");
    close(canal[0]);
}
