// The serial link on a pseudo-terminal pair: the terminal settings, the frame on
// the wire, reading into BC, and the bound of BC.Dados.
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

namespace {

class SerialLink : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[64];
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        // SAT_SERIAL non-empty: the library counts as started and reads no settings.
        ASSERT_LT(std::strlen(name), sizeof SAT_SERIAL);
        std::memcpy(SAT_SERIAL, name, std::strlen(name) + 1);
        ASSERT_EQ(init_usb(SAT_SERIAL), 0);
        ASSERT_GE(fdUSB, 0);
        cbInit(sat::kResponseSize);
    }
    void TearDown() override {
        sat::close_device();
        if (master >= 0) close(master);
        if (slave >= 0) close(slave);
    }
    void device_sends(const std::string& bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        usleep(20000); // let the line discipline pass the bytes to the other side
    }
    std::string device_reads() {
        usleep(20000);
        std::string out;
        char buf[4096];
        int flags = fcntl(master, F_GETFL);
        fcntl(master, F_SETFL, flags | O_NONBLOCK);
        ssize_t n;
        while ((n = read(master, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<std::size_t>(n));
        fcntl(master, F_SETFL, flags);
        return out;
    }
    int master = -1;
    int slave = -1;
};

TEST_F(SerialLink, InitUsbMakesTheLineRawAndBlocking) {
    termios tio{};
    ASSERT_EQ(tcgetattr(fdUSB, &tio), 0);
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ECHOE | ISIG));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | IXANY));
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_FALSE(fcntl(fdUSB, F_GETFL) & O_NONBLOCK);
    EXPECT_TRUE(fcntl(fdUSB, F_GETFD) & FD_CLOEXEC);
    EXPECT_TRUE(sat::device_is_terminal());
}

TEST_F(SerialLink, FrameIsTheTextThenPipeAndEtx) {
    ASSERT_EQ(envia_usb("|05|000123"), 0);
    EXPECT_EQ(device_reads(), std::string("|05|000123|\x03"));
    ASSERT_EQ(envia_usb(""), 0);
    EXPECT_EQ(device_reads(), std::string("|\x03"));
    ASSERT_EQ(envia_usb(nullptr), 0);
    EXPECT_EQ(device_reads(), std::string("|\x03"));
}

TEST_F(SerialLink, LongFrameIsWrittenWhole) {
    std::string text(300000, 'z');
    std::string received;
    // The device side reads while the library writes: nothing may be dropped.
    std::thread reader([&] {
        char buf[65536];
        while (received.size() < text.size() + 2) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            received.append(buf, static_cast<std::size_t>(n));
        }
    });
    EXPECT_EQ(envia_usb(text.c_str()), 0);
    reader.join();
    EXPECT_EQ(received, text + "|\x03");
}

TEST_F(SerialLink, NothingWaitingStoresNothing) {
    std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "false");
    testing::internal::CaptureStdout();
    EXPECT_EQ(le_usb(), 0);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "le_usb -> bytes: 0\n");
    EXPECT_EQ(BC.NumBytes, 0);
}

TEST_F(SerialLink, PiecesAreAppendedAcrossCalls) {
    device_sends("000001|08");
    std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "false");
    testing::internal::CaptureStdout();
    // Returns after the 2 s select without an end marker.
    EXPECT_EQ(le_usb(), 9);
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "le_usb -> bytes: 9\nle_usb -> bytes lidos: 9 de 9\n");
    std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "true");
    EXPECT_EQ(BC.NumBytes, 9);
    device_sends("000|x||\x03");
    le_usb();
    EXPECT_EQ(BC.NumBytes, 17);
    EXPECT_EQ(std::string(BC.Dados, 17), std::string("000001|08000|x||\x03"));
    EXPECT_EQ(BC.Dados[17], '\0');
    EXPECT_EQ(sat::response_overflow(), sat::Overflow::None);
}

TEST_F(SerialLink, AnswerBeyondTheBufferIsReadAndDropped) {
    // Leave room for 5 bytes (and the terminating 0) only.
    BC.NumBytes = sat::kResponseSize - 6;
    device_sends("0123456789\x03");
    le_usb();
    EXPECT_EQ(sat::response_overflow(), sat::Overflow::Dropped);
    EXPECT_EQ(BC.NumBytes, sat::kResponseSize - 6) << "nothing stored past the buffer";
    EXPECT_EQ(device_reads(), "") << "the rest of the answer was read";
    // A fresh answer after the reset is stored normally.
    cbInit(sat::kResponseSize);
    device_sends("000002|08000||\x03");
    le_usb();
    EXPECT_EQ(sat::response_overflow(), sat::Overflow::None);
    EXPECT_STREQ(BC.Dados, "000002|08000||\x03");
}

TEST_F(SerialLink, AnswerThatExactlyFitsIsKept) {
    BC.NumBytes = sat::kResponseSize - 5;
    std::memset(BC.Dados, 'x', static_cast<std::size_t>(BC.NumBytes));
    device_sends("abc\x03");
    le_usb();
    EXPECT_EQ(sat::response_overflow(), sat::Overflow::None);
    EXPECT_EQ(BC.NumBytes, sat::kResponseSize - 1);
    EXPECT_EQ(BC.Dados[sat::kResponseSize - 2], '\x03');
    EXPECT_EQ(BC.Dados[sat::kResponseSize - 1], '\0');
}

TEST_F(SerialLink, ReceiveReplacesTheEndMarkerAndCloses) {
    Tempo_Tout = static_cast<int>(tick() + 5);
    device_sends("000007|08000|ok||\x03");
    EXPECT_EQ(RecebeDoSat2(7), 0);
    EXPECT_STREQ(BC.Dados, "000007|08000|ok||");
    EXPECT_EQ(fdUSB, -1);
}

TEST_F(SerialLink, EmptyAnswerIsCompleteForTheUncheckedReceive) {
    Tempo_Tout = static_cast<int>(tick() + 5);
    device_sends("\x03");
    EXPECT_EQ(RecebeDoSat3(), 0);
    EXPECT_STREQ(BC.Dados, "");
}

TEST_F(SerialLink, PassedDeadlineReadsNothing) {
    Tempo_Tout = static_cast<int>(tick() - 1);
    device_sends("000007|08000|ok||\x03");
    EXPECT_EQ(RecebeDoSat3(), -1);
    EXPECT_STREQ(BC.Dados, "");
    EXPECT_EQ(fdUSB, -1);
}

TEST(SerialLinkClock, MiliTickIsSixtyFourBits) {
    static_assert(sizeof(mili_tick()) == 8);
    EXPECT_GT(mili_tick(), static_cast<int64_t>(1700000000) * 1000);
}

} // namespace
