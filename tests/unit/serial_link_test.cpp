// The serial link on a pseudo-terminal pair whose device side the test holds and
// never reads (raw mode and frames: tests/device, through satemu).
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

#include <cstring>
#include <string>

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
    }
    void TearDown() override {
        sat::close_device();
        close(master);
        close(slave);
    }
    int master = -1, slave = -1;
};

// A device that takes nothing makes the send fail once the deadline, at least
// 2 s, has passed, instead of blocking the call (and the lock) for good.
TEST_F(SerialLink, SendToADeviceThatTakesNothingGivesUp) {
    Tempo_Tout = static_cast<int>(tick());
    std::string text(1 << 20, 'z');
    EXPECT_EQ(envia_usb(text.c_str()), -1);
    EXPECT_FALSE(fcntl(fdUSB, F_GETFL) & O_NONBLOCK) << "blocking again for the receive";
}

} // namespace
