// Bad input for every exported function of the library: null and empty texts,
// fields holding '|' and control or high bytes, negative and huge session
// numbers, a 10 MiB sale, hostile settings, and the INI operations with null
// buffers, size 0, missing files, folders and unreadable files. Nothing may
// crash or touch memory it does not own (the asan tree checks that), every
// failure shows in the result, and no existing file is lost.
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "emulator.h"
#include "faults.h"
#include "ini.h"
#include "sandbox.h"
#include "sat.h"

extern "C" {
extern char SAT_SERIAL[30];
extern int NumTent, TmpTent, fdUSB, lib_lock;
int init_usb(const char*);
int envia_usb(const char*);
int le_usb(void);
int cbInit(int);
int EnviaParaSat(const char*);
int RecebeDoSat2(int);
int RecebeDoSat3(void);
int init_lib(void);
int file_existe(const char*);
int EnviaLog(const char*, const char*);
char* timestamp(void);
}

namespace {

using faults::Function;

// Every control byte but NUL, '|' inside, and the bytes above 0x7E. No "|\x03":
// that pair ends a frame on the line, and the test wants to see the field arrive.
std::string hostile_text() {
    std::string s = "a|b";
    for (int c = 1; c < 0x20; ++c)
        s += static_cast<char>(c);
    for (int c = 0x7F; c < 0x100; ++c)
        s += static_cast<char>(c);
    return s;
}

class BadInput : public ::testing::Test {
  protected:
    void SetUp() override {
        SAT_ENTER_SANDBOX_WITH(halvex, faults::enter_sandbox);
        halvex_ = halvex;
    }
    void start_device(int seconds = 2, const std::string& extra = "") {
        emu_ = std::make_unique<testsupport::Emulator>();
        ASSERT_FALSE(emu_->device().empty());
        ASSERT_TRUE(testsupport::write_file(
            halvex_ + "/sat.ini", faults::settings(emu_->device(), 1, 3, seconds, extra)));
        ConsultarSAT(1);
    }
    // Frames received with this session number, without their "|\x03".
    std::vector<std::string> frames_of(int session) {
        char head[16];
        std::snprintf(head, sizeof head, "|%06d", session);
        std::vector<std::string> out;
        for (const auto& f : emu_->frames())
            if (f.find(head) == 3) out.push_back(f.substr(0, f.size() - 2));
        return out;
    }
    std::string halvex_;
    std::unique_ptr<testsupport::Emulator> emu_;
};

// The answer to a call with `session`: its own number first, a result of the family.
void expect_answer_of(const Function& f, int session, const std::string& answer) {
    char head[32];
    std::snprintf(head, sizeof head, "%06d", session);
    EXPECT_EQ(faults::field(answer, 0), head) << f.name << ": " << answer;
    const std::string code = faults::field(answer, 1);
    EXPECT_EQ(code.size(), 5u) << f.name << ": " << answer;
    EXPECT_EQ(code.substr(0, 2), f.family) << f.name << ": " << answer;
}

TEST_F(BadInput, NullTextsAreSentAsEmptyTexts) {
    start_device();
    int session = 100;
    for (const Function& f : faults::functions()) {
        faults::Texts empty{"", "", "", false};
        faults::Texts null{"", "", "", true};
        expect_answer_of(f, session, f.call(session, empty));
        expect_answer_of(f, session + 1, f.call(session + 1, null));
        const auto a = frames_of(session), b = frames_of(session + 1);
        ASSERT_EQ(a.size(), 1u) << f.name;
        ASSERT_EQ(b.size(), 1u) << f.name;
        char from[16], to[16];
        std::snprintf(from, sizeof from, "%06d", session);
        std::snprintf(to, sizeof to, "%06d", session + 1);
        std::string expected = a[0];
        expected.replace(expected.find(from), 6, to);
        if (std::string(f.name) == "ConsultarNumeroSessao") // asks for its own session number
            expected.replace(expected.rfind(from), 6, to);
        EXPECT_EQ(b[0], expected) << f.name;
        session += 2;
    }
}

TEST_F(BadInput, HostileFieldsReachTheDeviceUnchanged) {
    start_device();
    const std::string hostile = hostile_text();
    int session = 200;
    for (const Function& f : faults::functions()) {
        faults::Texts t{hostile, hostile, hostile, false};
        expect_answer_of(f, session, f.call(session, t));
        const auto sent = frames_of(session);
        ASSERT_FALSE(sent.empty()) << f.name;
        if (std::string(f.name) != "ConsultarSAT") { // the only one without text fields
            EXPECT_NE(sent[0].find("|" + hostile), std::string::npos) << f.name;
        }
        ++session;
    }
}

// The device repeats the number in full, but only its first six characters are
// compared: a number outside -99999..999999 never matches, and the call ends
// with its busy answer after the deadline (1 s here) although the device answered.
TEST_F(BadInput, NegativeAndHugeSessionNumbers) {
    start_device(1);
    for (const Function& f : faults::functions()) {
        for (int session : {-1, 0, 999999, INT_MIN, INT_MAX}) {
            faults::Texts t = faults::default_texts(f);
            const std::string answer = f.call(session, t);
            // The two queries return stored answers of whatever session was asked for.
            if (f.kind != faults::Kind::Query) expect_answer_of(f, session, answer);
            EXPECT_GE(faults::split(answer).size(), 3u) << f.name << ": " << answer;
        }
    }
    EXPECT_EQ(lib_lock, 0);
}

TEST_F(BadInput, TenMebibyteSaleIsRefusedByTheLineNotTheCaller) {
    start_device(2, "CORRECAO=true\n");
    std::string sale(10u << 20, 'x');
    sale.replace(0, 6, "&#x41;"); // corrected in place, length kept
    const int fds = faults::open_descriptors();
    const auto start = std::chrono::steady_clock::now();
    const std::string answer = EnviarDadosVenda(42, const_cast<char*>(faults::kCode), sale.data());
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // The device drops a frame this large: no answer, the busy answer after the deadline.
    EXPECT_EQ(answer, faults::busy_answer(*faults::function("EnviarDadosVenda"), 42));
    EXPECT_EQ(sale.size(), 10u << 20);
    EXPECT_EQ(sale.substr(0, 7), "     Ax");
    EXPECT_LT(seconds, 60);
    EXPECT_EQ(faults::open_descriptors(), fds);
}

TEST_F(BadInput, InternalFunctionsWithoutDeviceOrWithNull) {
    ASSERT_TRUE(
        testsupport::write_file(halvex_ + "/sat.ini", faults::settings(faults::kAbsent, 1, 3, 1)));
    const int fds = faults::open_descriptors();
    EXPECT_EQ(init_usb(nullptr), -1); // SAT_SERIAL: no such node
    EXPECT_EQ(fdUSB, -1);
    EXPECT_EQ(init_usb(""), -1);
    EXPECT_EQ(envia_usb(nullptr), -1);
    EXPECT_EQ(envia_usb("|05|000001"), -1);
    EXPECT_EQ(le_usb(), 0);
    EXPECT_EQ(EnviaParaSat(nullptr), -1);
    EXPECT_EQ(RecebeDoSat2(-1), -1);
    EXPECT_EQ(RecebeDoSat3(), -1);
    EXPECT_EQ(cbInit(0), 0);
    EXPECT_EQ(cbInit(-5), -5);
    EXPECT_EQ(file_existe(nullptr), 0);
    EXPECT_EQ(file_existe(""), 0);
    EnviaLog(nullptr, nullptr); // result ignored by every caller; must not crash
    EXPECT_EQ(std::strlen(timestamp()), 19u);
    EXPECT_EQ(faults::open_descriptors(), fds);
}

TEST_F(BadInput, SetDriverWithHostileParameters) {
    ASSERT_TRUE(
        testsupport::write_file(halvex_ + "/sat.ini", faults::settings(faults::kAbsent, 1, 3, 1)));
    const std::string huge(100000, 'A');
    const std::string hostile = hostile_text();
    const char* params[] = {nullptr, "",         "SERIAL",    "N_TENT", "TMP_TENT", "LOCK",
                            "DEBUG", "NO_POPUP", "RET_10001", "VERSAO", "serial",   "DESCONHECIDO"};
    const char* values[] = {nullptr, "",           "0",
                            "-5",    "abc",        "999999999999999999999",
                            "true",  huge.c_str(), hostile.c_str()};
    for (const char* p : params)
        for (const char* v : values) {
            const char* r = SetDriver(const_cast<char*>(p), const_cast<char*>(v));
            ASSERT_NE(r, nullptr);
            EXPECT_LT(strnlen(SAT_SERIAL, sizeof SAT_SERIAL), sizeof SAT_SERIAL);
            EXPECT_GE(NumTent, 1) << (p ? p : "(null)") << "=" << (v ? v : "(null)");
            EXPECT_GE(TmpTent, 3) << (p ? p : "(null)") << "=" << (v ? v : "(null)");
        }
}

TEST_F(BadInput, SettingsFileThatIsAFolderOrBinary) {
    ASSERT_EQ(mkdir((halvex_ + "/sat.ini").c_str(), 0755), 0);
    EXPECT_EQ(init_lib(), 0);
    EXPECT_STREQ(SAT_SERIAL, "/dev/ttyQZ0");
    ASSERT_EQ(rmdir((halvex_ + "/sat.ini").c_str()), 0);
    std::string binary;
    for (int i = 0; i < 70000; ++i)
        binary += static_cast<char>((i * 7919) & 0xFF);
    ASSERT_TRUE(testsupport::write_file(halvex_ + "/sat.ini", binary));
    EXPECT_EQ(init_lib(), 0);
    EXPECT_LT(strnlen(SAT_SERIAL, sizeof SAT_SERIAL), sizeof SAT_SERIAL);
    EXPECT_GE(NumTent, 1);
    EXPECT_GE(TmpTent, 3);
}

// ---- INI operations --------------------------------------------------------------

// Null buffers and negative sizes (the INI suite has size 0 and the rest).
TEST_F(BadInput, IniReadersWithNullBuffersAndNegativeSizes) {
    const std::string file = halvex_ + "/t.ini";
    ASSERT_TRUE(testsupport::write_file(file, "[A]\nk=valor\n"));
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    EXPECT_EQ(ini_gets("A", "k", "d", nullptr, 10, file.c_str()), 0);
    EXPECT_EQ(ini_gets("A", "k", "d", buf, -1, file.c_str()), 0);
    EXPECT_EQ(buf[0], '#'); // untouched
    EXPECT_EQ(ini_getsection(0, nullptr, 10, file.c_str()), 0);
    EXPECT_EQ(ini_getkey("A", 0, buf, 0, file.c_str()), 0);
    EXPECT_EQ(ini_gets("A", "k", nullptr, buf, 1, file.c_str()), 0);
    EXPECT_EQ(buf[0], '\0');
}

// Where the file is missing, a folder, or unreadable: every reader gives the
// caller's default, every writer reports 0 and leaves what is there untouched.
TEST_F(BadInput, IniOperationsOnMissingFoldersAndUnreadableFiles) {
    const std::string missing = halvex_ + "/nao/existe.ini";
    const std::string folder = halvex_ + "/pasta.ini";
    const std::string locked = halvex_ + "/trancado.ini";
    const std::string locked_dir = halvex_ + "/trancada";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_TRUE(testsupport::write_file(locked, "[A]\nk=segredo\n"));
    ASSERT_EQ(chmod(locked.c_str(), 0), 0);
    ASSERT_EQ(mkdir(locked_dir.c_str(), 0755), 0);
    ASSERT_TRUE(testsupport::write_file(locked_dir + "/f.ini", "[A]\nk=v\n"));
    ASSERT_EQ(chmod(locked_dir.c_str(), 0555), 0);
    faults::drop_file_capabilities();
    if (access(locked.c_str(), R_OK) == 0) GTEST_SKIP() << "mode bits do not apply here";

    for (const std::string& file : {missing, folder, locked}) {
        SCOPED_TRACE(file);
        char buf[16] = "x";
        EXPECT_EQ(ini_gets("A", "k", "padrao", buf, sizeof buf, file.c_str()), 6);
        EXPECT_STREQ(buf, "padrao");
        EXPECT_EQ(ini_getl("A", "k", -7, file.c_str()), -7);
        EXPECT_EQ(ini_getf("A", "k", 1.5f, file.c_str()), 1.5f);
        EXPECT_EQ(ini_getbool("A", "k", 1, file.c_str()), 1);
        EXPECT_EQ(ini_getsection(0, buf, sizeof buf, file.c_str()), 0);
        EXPECT_EQ(ini_getkey("A", 0, buf, sizeof buf, file.c_str()), 0);
        // fopen takes a folder, so browsing one "reads" an empty file.
        const int browsed = ini_browse(
            [](const char*, const char*, const char*, void*) { return 1; }, nullptr, file.c_str());
        if (file != folder) {
            EXPECT_EQ(browsed, 0);
        }
        EXPECT_EQ(ini_puts("A", "k", "novo", file.c_str()), 0);
        EXPECT_EQ(ini_putl("A", "k", 5, file.c_str()), 0);
        EXPECT_EQ(ini_putf("A", "k", 2.5f, file.c_str()), 0);
        // A delete finds nothing to delete in any of them; what counts is what stays.
        ini_puts("A", nullptr, nullptr, file.c_str());
        ini_puts("A", "k", nullptr, file.c_str());
    }
    struct stat st {};
    EXPECT_EQ(stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(stat(missing.c_str(), &st), -1);
    ASSERT_EQ(chmod(locked.c_str(), 0600), 0);
    EXPECT_EQ(testsupport::read_file(locked), "[A]\nk=segredo\n");

    // A file that can be read in a folder that cannot be written: the rewrite fails,
    // the file stays.
    const std::string inside = locked_dir + "/f.ini";
    EXPECT_EQ(ini_puts("A", "k", "novo", inside.c_str()), 0);
    EXPECT_EQ(testsupport::read_file(inside), "[A]\nk=v\n");
}

} // namespace
