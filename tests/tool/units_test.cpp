// satcli's pieces that its output does not show whole: the cancellation key, reading
// pipes, session numbers and loading the library. Base64: its fuzz target.
#include <gtest/gtest.h>

#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "binding.h"
#include "commands.h"
#include "sandbox.h"
#include "session.h"

using namespace satcli;

TEST(Documents, CancellationKeyIsTheChCancOfInfCFe) {
    const char* cases[][2] = {
        {"<?xml version=\"1.0\"?>\n<CFeCanc>\n  <infCFe\n    chCanc = 'CFe1'>\n</infCFe>", "CFe1"},
        {"<CFeCanc><infCFe versao=\"0.07\" chCanc=\"CFe7\"></infCFe></CFeCanc>", "CFe7"},
        {"<CFeCanc><infCFe><ide chCanc=\"CFe9\"/></infCFe></CFeCanc>", ""},
        {"<CFeCanc><infCFeX chCanc=\"CFe9\"/><infCFe xchCanc=\"CFe8\"></infCFe></CFeCanc>", ""},
        {"<CFeCanc><infCFe chCanc=CFe5></infCFe></CFeCanc>", ""},
        {"<CFeCanc><infCFe chCanc=\"CFe5", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(cancellation_key(c[0]), c[1]) << c[0];
}

TEST(Documents, PipesAreReadToTheEnd) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    ASSERT_EQ(write(fds[1], "<CFe>pipe</CFe>", 15), 15);
    close(fds[1]);
    std::string read;
    EXPECT_TRUE(read_document(("/dev/fd/" + std::to_string(fds[0])).c_str(), read));
    EXPECT_EQ(read, "<CFe>pipe</CFe>");
    close(fds[0]);
}

TEST(Sessions, RingOfTheLastHundredAndSeedsThatDiffer) {
    clear_sessions();
    EXPECT_FALSE(session_is_new(0)) << "empty slots hold 0";
    remember_session(7);
    for (int i = 2; i <= 100; ++i)
        remember_session(1000 + i);
    EXPECT_EQ(recent_sessions[0], 1100) << "the hundredth save lands in slot 0";
    EXPECT_FALSE(session_is_new(7));
    remember_session(555);
    EXPECT_TRUE(session_is_new(7)) << "the oldest number left the ring";
    std::vector<int> seen;
    for (int i = 0; i < 250; ++i) {
        const int s = new_session();
        ASSERT_TRUE(s >= 1 && s <= 999999) << s;
        for (std::size_t j = seen.size() >= 99 ? seen.size() - 99 : 0; j < seen.size(); ++j)
            ASSERT_NE(seen[j], s) << "draw " << i << " repeats a number still in the ring";
        seen.push_back(s);
    }
    // Runs started in the same second differ by pid and by draw.
    std::set<unsigned> seeds;
    for (unsigned n = 0; n < 100; ++n)
        seeds.insert({session_seed(1700000000, 1000 + n, 0), session_seed(1700000000, 1000, n),
                      session_seed(1700000000 + n, 1000, 0)});
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
        EXPECT_EQ(api.TrocarCodigoDeAtivacao != nullptr, c.loads);
        EXPECT_EQ(api.has_set_driver && api.has_ultima_sessao_fiscal, c.messages.empty());
    }
}
