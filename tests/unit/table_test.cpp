// The table of the sixteen SAT functions, the command texts built from it and
// the busy answers.
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using sat::Id;
using sat::Receive;
using sat::row;

TEST(Table, CodesFamiliesAndReceiveRoutines) {
    ASSERT_EQ(sat::rows.size(), 16u);
    for (std::size_t i = 0; i < sat::rows.size(); ++i) {
        const sat::Row& r = sat::rows[i];
        int code = static_cast<int>(i) + 1;
        if (code == 16) code = 20;
        char text[8];
        std::snprintf(text, sizeof text, "|%02d|", code);
        EXPECT_STREQ(r.code, text) << r.name;
        // Families run from 04: command code + 3, and command 20 has family 19.
        int family = code == 20 ? 19 : code + 3;
        std::snprintf(text, sizeof text, "|%02d098|", family);
        EXPECT_STREQ(r.busy, text) << r.name;
        bool stored_answer = code == 8 || code == 20;
        EXPECT_EQ(r.receive, stored_answer ? Receive::Any : Receive::Session) << r.name;
        bool sale_or_cancel = code == 3 || code == 4;
        EXPECT_STREQ(r.busy_prefix, sale_or_cancel ? "0000|" : "") << r.name;
        EXPECT_EQ(sat::find_row(r.name), &r);
        EXPECT_EQ(sat::find_code(text), nullptr) << "a busy code is no command code";
        std::snprintf(text, sizeof text, "%02d", code);
        EXPECT_EQ(sat::find_code(text), &r);
        EXPECT_EQ(sat::find_code(r.code), &r);
    }
    EXPECT_EQ(sat::find_row("SetDriver"), nullptr);
    EXPECT_EQ(sat::find_row("ConsultarSA"), nullptr);
    EXPECT_EQ(sat::find_code("16"), nullptr);
    EXPECT_EQ(sat::find_code(""), nullptr);
}

TEST(Table, TimeoutPairsAndTheirLoadValues) {
    struct {
        Id id;
        int* pair;
        int minutes, seconds;
    } expected[] = {
        {Id::AtivarSAT, T_Ativ, 5, 0},
        {Id::ComunicarCertificadoICPBRASIL, T_ICP, 5, 0},
        {Id::EnviarDadosVenda, T_Venda, 0, 20},
        {Id::CancelarUltimaVenda, T_Canc, 0, 3},
        {Id::ConsultarSAT, T_Cons, 0, 4},
        {Id::TesteFimAFim, T_Fim, 0, 40},
        {Id::ConsultarStatusOperacional, T_Stat, 0, 4},
        {Id::ConsultarNumeroSessao, T_Sessao, 0, 20},
        {Id::ConfigurarInterfaceDeRede, T_Rede, 0, 20},
        {Id::AssociarAssinatura, T_Assoc, 30, 0},
        {Id::AtualizarSoftwareSAT, T_Atual, 30, 0},
        {Id::ExtrairLogs, T_Logs, 0, 20},
        {Id::BloquearSAT, T_Bloq, 5, 0},
        {Id::DesbloquearSAT, T_Desbloq, 0, 40},
        {Id::TrocarCodigoDeAtivacao, T_CodAtiv, 0, 20},
        {Id::ConsultarUltimaSessaoFiscal, T_SessaoFiscal, 0, 20},
    };
    for (auto& e : expected) {
        EXPECT_EQ(row(e.id).timeout, e.pair) << row(e.id).name;
        EXPECT_EQ(e.pair[0], e.minutes) << row(e.id).name;
        EXPECT_EQ(e.pair[1], e.seconds) << row(e.id).name;
    }
}

std::string command(Id id, int sessao, std::initializer_list<sat::Field> fields) {
    sat::CommandBuffer cmd;
    EXPECT_TRUE(cmd.format(row(id), sessao, fields));
    EXPECT_EQ(sat::command_length(row(id), sessao, fields), std::strlen(cmd.text()));
    return cmd.text();
}

TEST(CommandText, EveryRowFormatsItsFields) {
    char ac[] = "12345678";
    EXPECT_EQ(command(Id::AtivarSAT, 1, {1, ac, "11111111111111", 35}),
              "|01|000001|1|12345678|11111111111111|35");
    EXPECT_EQ(command(Id::AtivarSAT, 1, {2, ac, "1", 5}), "|01|000001|2|12345678|1| 5");
    EXPECT_EQ(command(Id::ComunicarCertificadoICPBRASIL, 2, {ac, "CERT"}),
              "|02|000002|12345678|CERT");
    EXPECT_EQ(command(Id::EnviarDadosVenda, 3, {ac, "<CFe/>"}), "|03|000003|12345678|<CFe/>");
    EXPECT_EQ(command(Id::CancelarUltimaVenda, 4, {ac, "CFe123", "<CFeCanc/>"}),
              "|04|000004|12345678|CFe123|<CFeCanc/>");
    EXPECT_EQ(command(Id::ConsultarSAT, 123, {}), "|05|000123");
    EXPECT_EQ(command(Id::TesteFimAFim, 6, {ac, "<CFe/>"}), "|06|000006|12345678|<CFe/>");
    EXPECT_EQ(command(Id::ConsultarStatusOperacional, 7, {ac}), "|07|000007|12345678");
    EXPECT_EQ(command(Id::ConsultarNumeroSessao, 8, {ac, 5}), "|08|000008|12345678|000005");
    EXPECT_EQ(command(Id::ConfigurarInterfaceDeRede, 9, {ac, "<config/>"}),
              "|09|000009|12345678|<config/>");
    EXPECT_EQ(command(Id::AssociarAssinatura, 10, {ac, "123", "sig"}),
              "|10|000010|12345678|123|sig");
    EXPECT_EQ(command(Id::AtualizarSoftwareSAT, 11, {ac}), "|11|000011|12345678");
    EXPECT_EQ(command(Id::ExtrairLogs, 7, {ac, sat::kVersion}), "|12|000007|12345678|3.0.0.3_x86");
    EXPECT_EQ(command(Id::BloquearSAT, 13, {ac}), "|13|000013|12345678");
    EXPECT_EQ(command(Id::DesbloquearSAT, 14, {ac}), "|14|000014|12345678");
    EXPECT_EQ(command(Id::TrocarCodigoDeAtivacao, 15, {ac, 1, "novo", "novo"}),
              "|15|000015|12345678|1|novo|novo");
    EXPECT_EQ(command(Id::ConsultarUltimaSessaoFiscal, 16, {ac}), "|20|000016|12345678");
}

TEST(CommandText, NumbersAreMinimumWidths) {
    EXPECT_EQ(command(Id::ConsultarSAT, 7, {}), "|05|000007");
    EXPECT_EQ(command(Id::ConsultarSAT, 1234567, {}), "|05|1234567");
    EXPECT_EQ(command(Id::ConsultarSAT, -1, {}), "|05|-00001");
    EXPECT_EQ(command(Id::AtivarSAT, 1, {12, "a", "b", 123}), "|01|000001|12|a|b|123");
    EXPECT_EQ(command(Id::ConsultarNumeroSessao, 1, {"a", 1234567}), "|08|000001|a|1234567");
}

TEST(CommandText, NullTextsCountAsEmpty) {
    const char* none = nullptr;
    EXPECT_EQ(command(Id::CancelarUltimaVenda, 1, {none, none, none}), "|04|000001|||");
    EXPECT_EQ(command(Id::AtivarSAT, 1, {1, none, none, 35}), "|01|000001|1|||35");
}

TEST(CommandText, LargerThanTheBufferIsSentWhole) {
    std::string sale(sat::kCommandSize + 1000, 'v');
    sat::CommandBuffer cmd;
    ASSERT_EQ(cmd.capacity(), sat::kCommandSize);
    ASSERT_TRUE(cmd.format(row(Id::EnviarDadosVenda), 3, {"ac", sale.c_str()}));
    std::string text = cmd.text();
    EXPECT_EQ(text.size(), 14 + sale.size());
    EXPECT_EQ(text.substr(0, 14), "|03|000003|ac|");
    EXPECT_EQ(text.substr(14), sale);
    EXPECT_GE(cmd.capacity(), text.size() + 1);
}

TEST(CommandText, ExactlyFillingTheBufferNeedsNoGrowth) {
    // 14 characters of code, session and activation code, the NUL, and the sale.
    std::string sale(sat::kCommandSize - 15, 'v');
    sat::CommandBuffer cmd;
    ASSERT_TRUE(cmd.format(row(Id::EnviarDadosVenda), 3, {"ac", sale.c_str()}));
    EXPECT_EQ(cmd.capacity(), sat::kCommandSize);
    EXPECT_EQ(std::strlen(cmd.text()), sat::kCommandSize - 1);
}

TEST(BusyAnswer, FormatPerFunction) {
    sat::write_busy(row(Id::ConsultarSAT), 123);
    EXPECT_STREQ(BC.Dados, "000123|08098|SAT em processamento. Tente novamente.||");
    sat::write_busy(row(Id::EnviarDadosVenda), 123);
    EXPECT_STREQ(BC.Dados, "000123|06098|0000|SAT em processamento. Tente novamente.||");
    sat::write_busy(row(Id::CancelarUltimaVenda), 42);
    EXPECT_STREQ(BC.Dados, "000042|07098|0000|SAT em processamento. Tente novamente.||");
    sat::write_busy(row(Id::ConsultarUltimaSessaoFiscal), 42);
    EXPECT_STREQ(BC.Dados, "000042|19098|SAT em processamento. Tente novamente.||");
    sat::write_busy(row(Id::AtivarSAT), 1234567);
    EXPECT_STREQ(BC.Dados, "1234567|04098|SAT em processamento. Tente novamente.||");
}

TEST(Deadline, PairInMinutesAndSeconds) {
    int pair[2] = {1, 30};
    long before = tick();
    sat::set_deadline(pair);
    EXPECT_GE(Tempo_Tout, before + 90);
    EXPECT_LE(Tempo_Tout, tick() + 90);
}

} // namespace
