// The serial link on a pseudo-terminal pair: terminal settings, the frame on the
// wire, reading into BC and the bound of BC.Dados.
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <thread>

namespace {

class SerialLink : public ::testing::Test {
  protected:
    void SetUp() override {
        char name[64];
        ASSERT_EQ(openpty(&master, &slave, name, nullptr, nullptr), 0);
        // A non-empty SAT_SERIAL: the library counts as started and reads no settings.
        ASSERT_LT(std::strlen(name), sizeof SAT_SERIAL);
        std::memcpy(SAT_SERIAL, name, std::strlen(name) + 1);
        ASSERT_EQ(init_usb(SAT_SERIAL), 0);
        cbInit(sat::kResponseSize);
    }
    void TearDown() override {
        sat::close_device();
        close(master);
        close(slave);
    }
    void device_sends(const std::string& bytes) {
        ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        usleep(20000); // the line discipline passes them on
    }
    std::string device_reads(std::size_t size) {
        std::string out;
        char buf[65536];
        while (out.size() < size) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) break;
            out.append(buf, static_cast<std::size_t>(n));
        }
        return out;
    }
    int master = -1;
    int slave = -1;
};

TEST_F(SerialLink, RawBlockingLineAndTheFrame) {
    termios tio{};
    ASSERT_EQ(tcgetattr(fdUSB, &tio), 0);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ECHOE | ISIG));
    EXPECT_FALSE(tio.c_oflag & OPOST);
    EXPECT_FALSE(fcntl(fdUSB, F_GETFL) & O_NONBLOCK);
    ASSERT_EQ(envia_usb("|05|000123"), 0);
    EXPECT_EQ(device_reads(12), "|05|000123|\x03");
}

// Every byte is drained to the other side, none flushed away.
TEST_F(SerialLink, LongFrameIsWrittenWhole) {
    std::string text(300000, 'z');
    std::string received;
    std::thread reader([&] { received = device_reads(text.size() + 2); });
    EXPECT_EQ(envia_usb(text.c_str()), 0);
    reader.join();
    EXPECT_EQ(received, text + "|\x03");
}

// A device that takes nothing (its side never reads) makes the send fail once
// the deadline, at least 2 s, has passed, instead of blocking the call for good.
TEST_F(SerialLink, SendToADeviceThatTakesNothingGivesUp) {
    Tempo_Tout = static_cast<int>(tick());
    std::string text(1 << 20, 'z');
    EXPECT_EQ(envia_usb(text.c_str()), -1);
    EXPECT_FALSE(fcntl(fdUSB, F_GETFL) & O_NONBLOCK) << "blocking again for the receive";
}

TEST_F(SerialLink, PiecesAreAppendedAcrossCalls) {
    std::snprintf(SAT_NOPOPUP, sizeof SAT_NOPOPUP, "false");
    testing::internal::CaptureStdout();
    EXPECT_EQ(le_usb(), 0);
    device_sends("000001|08");
    EXPECT_EQ(le_usb(), 9); // ends after 2 s of silence, without an end marker
    std::fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "le_usb -> bytes: 0\nle_usb -> bytes: 9\nle_usb -> bytes lidos: 9 de 9\n");
    device_sends("000|x||\x03");
    le_usb();
    EXPECT_EQ(BC.NumBytes, 17);
    EXPECT_STREQ(BC.Dados, "000001|08000|x||\x03");
}

TEST_F(SerialLink, AnswerBeyondTheBufferIsReadAndDropped) {
    BC.NumBytes = sat::kResponseSize - 6; // room for five bytes and the 0
    device_sends("0123456789\x03");
    le_usb();
    EXPECT_EQ(sat::response_overflow(), sat::Overflow::Dropped);
    EXPECT_EQ(BC.NumBytes, sat::kResponseSize - 6);
    cbInit(sat::kResponseSize);
    device_sends("000002|08000||\x03");
    le_usb();
    EXPECT_STREQ(BC.Dados, "000002|08000||\x03") << "the line was read to its end";
}

TEST_F(SerialLink, ReceiveReplacesTheEndMarkerAndCloses) {
    Tempo_Tout = static_cast<int>(tick() + 5);
    device_sends("000007|08000|ok||\x03");
    EXPECT_EQ(RecebeDoSat2(7), 0);
    EXPECT_STREQ(BC.Dados, "000007|08000|ok||");
    EXPECT_EQ(fdUSB, -1);
}

} // namespace
