// Pure logic of the library: Correcao, valida_TOUT, IntToStr, cbInit, the table
// of the sixteen functions, command texts, busy answers and the call lock.
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(Correcao, DecodesAsciiReferencesKeepingTheLength) {
    struct {
        const char* in;
        const char* out;
    } cases[] = {{"&#x41;", "     A"},
                 {"&#X41;", "     A"},
                 {"&#x0D;", "      "},
                 {"&#x27;", "     `"},
                 {"a&#x42;c&#x43;", "a     Bc     C"},
                 {"&#x000000041;", "            A"},
                 {"&#x0000000041;", "&#x0000000041;"}, // ten digits: left alone
                 {"&#xE9;", "&#xE9;"},
                 {"&#x41", "&#x41"},
                 {"&#x4G;&#x41;", "&#x4G;     A"},
                 {"&amp;&#", "&amp;&#"},
                 // No digits or the value 0 would put a NUL into the sale: left alone.
                 {"&#x;z", "&#x;z"},
                 {"&#x00;z", "&#x00;z"},
                 {"&#0;z", "&#0;z"},
                 // Decimal references under the same rules.
                 {"&#65;", "    A"},
                 {"&#13;", "     "},
                 {"&#39;", "    `"},
                 {"&#233;", "&#233;"},
                 {"&#6a;", "&#6a;"},
                 {"&#;", "&#;"},
                 {"&#000000065;", "           A"},
                 {"&#0000000065;", "&#0000000065;"}};
    for (auto& c : cases) {
        std::string text = c.in;
        EXPECT_EQ(Correcao(text.data()), 0);
        EXPECT_EQ(std::string(text.c_str()), c.out) << c.in;
    }
    EXPECT_EQ(Correcao(nullptr), 0);
}

// Exact-size heap copies: the asan tree sees any read past the text.
int valida(const char* text) {
    if (!text) return valida_TOUT(nullptr);
    std::vector<char> copy(text, text + std::strlen(text) + 1);
    return valida_TOUT(copy.data());
}

TEST(Helpers, ValidaTout) {
    ASSERT_EQ(valida("01:30"), 1);
    EXPECT_STREQ(sMM, "01");
    EXPECT_STREQ(sSS, "30");
    EXPECT_EQ(valida("99:99"), 1);
    for (const char* bad :
         std::initializer_list<const char*>{"1:30", "01-30", "0a:30", "01:3x", "", "1",
                                            "01:", "12:3", "ab:cd", "12345", nullptr}) {
        EXPECT_EQ(valida(bad), 0) << (bad ? bad : "null");
        EXPECT_STREQ(sSS, "99") << "untouched by a refused text";
    }
}

// A text of at most `length` characters inside its block of length + 1 bytes.
TEST(Helpers, IntToStrStaysInsideItsBlock) {
    struct {
        int value, length;
        const char* out;
    } cases[] = {{42, 6, "000042"},
                 {-5, 6, "-00005"},
                 {INT_MAX, 10, "2147483647"},
                 {42, 2, "00"},
                 {1234567, 3, "123"},
                 {42, 0, ""},
                 {-42, 1, "-"},
                 {INT_MIN, 5, "-2147"},
                 {INT_MIN, 11, "-2147483648"},
                 {INT_MIN, 20, "-2147483648"}};
    for (auto& c : cases) {
        char* text = IntToStr(c.value, c.length);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, c.out) << c.value << " in " << c.length;
        std::free(text);
    }
    EXPECT_EQ(IntToStr(42, -1), nullptr);
}

TEST(Helpers, CbInitResetsTheBuffer) {
    BC.NumBytes = 77;
    std::strcpy(BC.Dados, "old");
    EXPECT_EQ(cbInit(3145728), 3145728);
    EXPECT_EQ(BC.Tamanho, 3145728);
    EXPECT_EQ(BC.NumBytes, 0);
    EXPECT_EQ(BC.Dados[0], '\0');
}

TEST(Table, CodesFamiliesAndReceive) {
    for (std::size_t i = 0; i < sat::rows.size(); ++i) {
        const sat::Row& r = sat::rows[i];
        int code = i == 15 ? 20 : static_cast<int>(i) + 1;
        char text[24];
        std::snprintf(text, sizeof text, "|%02d|", code);
        EXPECT_STREQ(r.code, text);
        std::snprintf(text, sizeof text, "|%02d098|", code == 20 ? 19 : code + 3);
        EXPECT_STREQ(r.busy, text);
        EXPECT_EQ(r.receive, code == 8 || code == 20 ? sat::Receive::Any : sat::Receive::Session);
    }
}

std::string command(sat::Id id, int sessao, std::initializer_list<sat::Field> fields) {
    sat::CommandBuffer cmd;
    EXPECT_TRUE(cmd.format(sat::row(id), sessao, fields));
    return cmd.text();
}

// The single-exchange frames are checked on the wire in tests/device/exchange_test.cpp.
TEST(Table, CommandTexts) {
    using sat::Id;
    const char* none = nullptr;
    struct {
        std::string got;
        const char* want;
    } cases[] = {
        {command(Id::AtivarSAT, 1, {12, none, none, 5}), "|01|000001|12||| 5"},
        {command(Id::EnviarDadosVenda, 3, {"ac", "<CFe/>"}), "|03|000003|ac|<CFe/>"},
        {command(Id::CancelarUltimaVenda, 4, {"ac", "k", "d"}), "|04|000004|ac|k|d"},
        {command(Id::ConsultarSAT, 1234567, {}), "|05|1234567"},
        {command(Id::ConsultarStatusOperacional, 7, {"ac"}), "|07|000007|ac"},
        {command(Id::ConsultarNumeroSessao, 8, {"ac", 5}), "|08|000008|ac|000005"},
        {command(Id::ConsultarUltimaSessaoFiscal, 16, {"ac"}), "|20|000016|ac"},
    };
    for (auto& c : cases)
        EXPECT_EQ(c.got, c.want);
}

TEST(Table, CommandLargerThanTheBufferIsNotCut) {
    std::string sale(sat::kCommandSize + 1000, 'v');
    sat::CommandBuffer cmd;
    ASSERT_TRUE(cmd.format(sat::row(sat::Id::EnviarDadosVenda), 3, {"ac", sale.c_str()}));
    EXPECT_EQ(std::string(cmd.text()), "|03|000003|ac|" + sale);
}

TEST(Lock, SwitchedOffOrHeld) {
    ModoLock = 0;
    lib_lock = 1;
    EXPECT_EQ(lock(), 0);
    EXPECT_EQ(lib_lock, 0) << "a flag left set is cleared";
    ModoLock = 1;
    lib_lock = 1;
    EXPECT_EQ(lock(), 1);
    unlock();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(lock(), 0);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(95));
    EXPECT_EQ(lib_lock, 1);
}

TEST(Lock, NeverHeldByTwoThreads) {
    std::atomic<int> inside{0}, overlaps{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 3; ++i) {
                sat::take_lock();
                if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                inside.fetch_sub(1);
                unlock();
            }
        });
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(overlaps.load(), 0);
}

} // namespace
