// The single-exchange functions on the line: frames of null, empty and hostile texts,
// answers handed back unchanged, deadlines and other sessions' answers (answers beyond
// the buffer: the fault matrix). Faults per function: tests/faults; attempts: tests/retry.
#include "sat_internal.h"
#include "satlib.h"

#include <cstring>

namespace {

using namespace testsupport;
using Device = LibTest;

char ac[] = "12345678";
std::string busy(int session, int function = 4) { // ConsultarSAT's by default
    return busy_answer(functions()[function], session);
}

// A null text goes out as an empty one; '|', control and high bytes as they are.
TEST_F(Device, FramesOfEveryFunctionWithNullEmptyAndHostileTexts) {
    start();
    if (HasFatalFailure()) return;
    std::string hostile = "a|b";
    for (int c = 1; c < 0x100; ++c)
        if (c < 0x20 || c >= 0x7F) hostile += static_cast<char>(c);
    int session = 100;
    for (const Function& f : functions()) {
        SCOPED_TRACE(f.name);
        std::vector<std::string> frames;
        for (Texts t : {Texts{"C", "A", "B", false}, Texts{"", "", "", false},
                        Texts{"", "", "", true}, Texts{hostile, hostile, hostile, false}}) {
            const std::string answer = f.call(++session, t);
            char head[16];
            std::snprintf(head, sizeof head, "%06d", session);
            EXPECT_EQ(field(answer, 0) + "|" + field(answer, 1).substr(0, 2),
                      head + std::string("|") + f.family);
            std::string frame = emu->frames().back();
            for (size_t at; (at = frame.find(head)) != std::string::npos;)
                frame.replace(at, 6, "S");
            frames.push_back(frame);
        }
        EXPECT_EQ(frames[0], "|" + std::string(f.code) + "|S" + f.frame + "|\x03");
        EXPECT_EQ(frames[1], frames[2]);
        EXPECT_TRUE(f.name == std::string("ConsultarSAT") ||
                    frames[3].find("|" + hostile) != std::string::npos);
    }
}

// Answers come back as the device sent them, in one buffer; a command above the
// 1.5 MiB buffer goes out whole.
TEST_F(Device, AnswersUnchangedAndLargeCommandsWhole) {
    start();
    if (HasFatalFailure()) return;
    emu->fault("1*05:answer:{sessao}|08099|Erro desconhecido|0001|aviso|extra");
    char* first = ConsultarSAT(42);
    EXPECT_STREQ(first, "000042|08099|Erro desconhecido|0001|aviso|extra");
    emu->fault("1*05:etx-inside");
    char* second = ConsultarSAT(43);
    EXPECT_EQ(first, second) << "one response buffer";
    EXPECT_EQ(std::string(second).substr(0, 12), "000043|08000");
    EXPECT_NE(std::string(second).find('\x03'), std::string::npos) << "an inner 0x03 is kept";
    std::string sale = "<CFe>" + std::string(1700000, 'a') + "</CFe>";
    TesteFimAFim(31, ac, sale.data());
    EXPECT_EQ(emu->frames().back(), "|06|000031|12345678|" + sale + "|\x03");
}

// /dev/full opens but refuses every write: each failed send closes the device.
TEST_F(Device, FailedSendClosesTheDevice) {
    ASSERT_EQ(set_driver("SERIAL", "/dev/full") + set_driver("LOCK", "false") +
                  set_driver("NO_POPUP", "false"),
              "OKOKOK");
    testing::internal::CaptureStdout();
    EXPECT_EQ(std::string(ConsultarSAT(1)), busy(1));
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "EnviaparaSat: (TX) Perda de comunicação com o SAT.\n");
    const int before = open_descriptors();
    set_driver("NO_POPUP", "true");
    for (int i = 0; i < 50; ++i)
        ConsultarSAT(i);
    EXPECT_EQ(open_descriptors(), before);
}

// Without an earlier call the first call starts the library inside its send: its
// deadline comes from the built-in pair, the file's pair applies from the next.
TEST_F(Device, FirstExchangeUsesTheBuiltInDeadline) {
    start(1, "", {"--preset", "active"}, false, 1);
    if (HasFatalFailure()) return;
    emu->fault("1*05:delay:2500");
    EXPECT_EQ(std::string(ConsultarSAT(1)).substr(0, 12), "000001|08000"); // within 4 s
    emu->fault("1*05:delay:3500");
    EXPECT_EQ(std::string(ConsultarSAT(2)), busy(2)); // not within 1 s
    const std::string text = log();
    for (const char* line :
         {": ConsultarSAT: 000002\n", ": EnviarParaSat: inicio do envio ...\n",
          ": EnviarParaSat: final do envio. \n", ": RecebeDoSat: inicio da recepção ...\n",
          ": Erro ao receber dados do SAT \n", ": RecebeDoSat: final da recepção. \n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(text.find(": ConsultarSAT: 000001\n"), std::string::npos) << "logging began later";
}

TEST_F(Device, DeadlinesAndAnswersOfOtherSessions) {
    start();
    if (HasFatalFailure()) return;
    T_Cons[1] = 0; // already passed: the command goes out, nothing is awaited
    EXPECT_EQ(std::string(ConsultarSAT(16)), busy(16));
    EXPECT_EQ(emu->frames().back(), "|05|000016|\x03");
    // Seven digits go out in full, but answers are matched on six characters.
    T_Cons[1] = 1;
    EXPECT_EQ(std::string(ConsultarSAT(1234567)), busy(1234567));
    EXPECT_EQ(emu->frames().back(), "|05|1234567|\x03");
    EXPECT_EQ(fdUSB, -1);
    // The late answer of an earlier command arrives while the next one waits.
    emu->fault("2*05:delay:2500");
    EXPECT_EQ(std::string(ConsultarSAT(30)), busy(30));
    T_Cons[1] = 9;
    EXPECT_EQ(std::string(ConsultarSAT(31)).substr(0, 12), "000031|08000") << emu->transcript();
}

TEST_F(Device, InternalFunctionsWithoutDeviceOrWithNull) {
    ASSERT_TRUE(write_file(halvex + "/sat.ini", settings(kAbsent, 1, 3, 1)));
    const int fds = open_descriptors();
    EXPECT_EQ(init_usb(nullptr), -1); // SAT_SERIAL: no such node
    EXPECT_EQ(fdUSB, -1);
    EXPECT_EQ(init_usb(""), -1);
    EXPECT_EQ(envia_usb(nullptr), -1);
    EXPECT_EQ(envia_usb("|05|000001"), -1);
    EXPECT_EQ(le_usb(), 0);
    EXPECT_EQ(EnviaParaSat(nullptr), -1);
    EXPECT_EQ(RecebeDoSat2(-1), -1);
    EXPECT_EQ(RecebeDoSat3(), -1);
    EXPECT_EQ(file_existe(nullptr) + file_existe(""), 0);
    EnviaLog(nullptr, nullptr); // must not crash
    EXPECT_EQ(std::strlen(timestamp()), 19u);
    EXPECT_EQ(open_descriptors(), fds);
}

} // namespace
