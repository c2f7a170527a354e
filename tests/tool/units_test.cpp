// satcli's pieces that its output does not show whole: base64 within its capacity,
// the cancellation key, reading files and pipes, session numbers and loading the library.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "answers.h"
#include "base64.h"
#include "binding.h"
#include "commands.h"
#include "sandbox.h"
#include "session.h"

using namespace satcli;

TEST(Base64, DecodesTheDeviceAlphabetAndNeverWritesPastItsCapacity) {
    const struct {
        std::string in, out;
        int result;
        std::size_t capacity = 0; // 0: room enough
    } cases[] = {
        {"QUJD", "ABC", 0},
        {"QUI=", "AB", 0},
        {"QUI", "AB", 0},
        {"Q", "", 0},
        {"QQ==QUJD", "A", 0},
        {"QUJD QUJD", "ABC", 1},
        {"QUJDRE\xC3VG", "ABC", 1},
        {"AEEA", std::string("\0A\0", 3), 0},
        // Three bytes plus the terminator need four.
        {"QUJD", "", 1, 3},
        {"QUJD", "ABC", 0, 4},
        {"QUJDQUI", "ABC", 1, 5},
        {"QUJDQUI", "ABCAB", 0, 6},
        {"QUJDREVG", "ABC", 1, 6},
    };
    for (const auto& c : cases) {
        std::vector<char> out(c.capacity ? c.capacity : c.in.size() + 1, 'X');
        std::size_t n = 99;
        EXPECT_EQ(torvane::base64_decode(c.in.data(), c.in.size(), out.data(), out.size(), &n),
                  c.result)
            << c.in << " in " << c.capacity;
        EXPECT_EQ(std::string(out.data(), n), c.out) << c.in;
        EXPECT_EQ(out[n], '\0') << "terminator right behind the decoded bytes";
    }
    std::vector<char> guard(8, 'X');
    EXPECT_EQ(torvane::base64_decode("QUJD", 4, guard.data(), 1), 1);
    EXPECT_EQ(guard[0], '\0');
    EXPECT_EQ(guard[1], 'X');
}

TEST(Documents, CancellationKeyIsTheChCancOfInfCFe) {
    const char* cases[][2] = {
        {"<CFeCanc><infCFe chCanc=\"CFe3526011111111111\"><ide/></infCFe></CFeCanc>",
         "CFe3526011111111111"},
        {"<?xml version=\"1.0\"?>\n<CFeCanc>\n  <infCFe\n    chCanc = 'CFe1'>\n</infCFe>", "CFe1"},
        {"<CFeCanc><infCFe versao=\"0.07\" chCanc=\"CFe7\"></infCFe></CFeCanc>", "CFe7"},
        {"<CFeCanc><infCFe><ide chCanc=\"CFe9\"/></infCFe></CFeCanc>", ""},
        {"<CFeCanc><infCFeX chCanc=\"CFe9\"/><infCFe xchCanc=\"CFe8\"></infCFe></CFeCanc>", ""},
        {"<CFeCanc><infCFe chCanc=CFe5></infCFe></CFeCanc>", ""},
        {"<CFeCanc><infCFe chCanc=\"CFe5", ""},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cancellation_key(c[0]), c[1]) << c[0];
}

// Files and pipes are read to their end (golden_test.cpp: folders, unreadable files).
TEST(Documents, ReadToTheEndFromFilesAndPipes) {
    const std::string path = testsupport::make_temp_dir("satcli-doc") + "/venda.xml";
    const std::string big = std::string(200000, 'x') + "<fim/>";
    testsupport::write_file(path, big);
    std::string read;
    EXPECT_TRUE(read_document(path.c_str(), read));
    EXPECT_EQ(read, big);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    ASSERT_EQ(write(pipe_fds[1], "<CFe>pipe</CFe>", 15), 15);
    close(pipe_fds[1]);
    EXPECT_TRUE(read_document(("/dev/fd/" + std::to_string(pipe_fds[0])).c_str(), read));
    EXPECT_EQ(read, "<CFe>pipe</CFe>");
    close(pipe_fds[0]);
}

TEST(Sessions, RingOfTheLastHundredAndSeedsThatDiffer) {
    clear_sessions();
    EXPECT_FALSE(session_is_new(0)) << "empty slots hold 0";
    EXPECT_EQ(remember_session(7), 1);
    EXPECT_FALSE(session_is_new(7));
    for (int i = 2; i <= 100; ++i)
        remember_session(1000 + i);
    EXPECT_EQ(recent_sessions[0], 1100) << "the hundredth save lands in slot 0";
    EXPECT_TRUE(session_is_new(0)) << "no slot holds 0 any more";
    remember_session(555);
    EXPECT_TRUE(session_is_new(7)) << "the oldest number left the ring";
    clear_sessions();
    std::vector<int> seen;
    for (int i = 0; i < 250; ++i) {
        int s = new_session();
        ASSERT_TRUE(s >= 1 && s <= 999999) << s;
        for (std::size_t j = seen.size() >= 99 ? seen.size() - 99 : 0; j < seen.size(); ++j)
            ASSERT_NE(seen[j], s) << "draw " << i << " repeats a number still in the ring";
        seen.push_back(s);
    }
    // Runs started in the same second differ by pid and by draw.
    std::set<unsigned> seeds;
    for (pid_t pid = 1000; pid < 1100; ++pid)
        seeds.insert(session_seed(1700000000, pid, 0));
    for (unsigned n = 1; n < 100; ++n)
        seeds.insert(session_seed(1700000000, 1000, n));
    for (long t = 1; t < 100; ++t)
        seeds.insert(session_seed(1700000000 + t, 1000, 0));
    EXPECT_EQ(seeds.size(), 298u);
}

// The loader's messages; a library without the two optional functions still loads.
TEST(Loader, MissingLibraryOrFunctions) {
    const struct {
        const char* path;
        bool loads;
        std::string messages;
    } cases[] = {
        {"./nenhuma.so", false,
         "dl_handle: ./nenhuma.so: cannot open shared object file: No such file or directory\n"},
        {STUB_NO_REQUIRED, false,
         "dlsym_AtivarSAT: " STUB_NO_REQUIRED ": undefined symbol: AtivarSAT\n"},
        {STUB_NO_OPTIONAL, true,
         "dlsym_ConsultarUltimaSessaoFiscal: " STUB_NO_OPTIONAL
         ": undefined symbol: ConsultarUltimaSessaoFiscal\n"
         "dlsym_SetDriver: " STUB_NO_OPTIONAL ": undefined symbol: SetDriver\n"},
        {LIB_PATH, true, ""},
    };
    for (const auto& c : cases) {
        char* text = nullptr;
        size_t size = 0;
        FILE* out = open_memstream(&text, &size);
        Api api;
        EXPECT_EQ(load_library(c.path, api, out), c.loads) << c.path;
        std::fclose(out);
        EXPECT_EQ(std::string(text, size), c.messages);
        std::free(text);
        if (c.loads) {
            EXPECT_NE(api.TrocarCodigoDeAtivacao, nullptr);
            EXPECT_EQ(api.has_set_driver, c.messages.empty());
            EXPECT_EQ(api.has_ultima_sessao_fiscal, c.messages.empty());
        }
    }
}
