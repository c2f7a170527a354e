// A sandboxed /var/torvane_halvex and a satemu for one test.
#pragma once

#include "emulator.h"
#include "sandbox.h"
#include "sat_internal.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

class DeviceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        SAT_ENTER_SANDBOX(dir);
        halvex = dir;
    }

    // Starts satemu and points the library at it through SetDriver, which also
    // starts the library (reading `ini` first when given).
    void start(std::vector<std::string> args = {"--preset", "active"},
               const std::string& ini = "") {
        if (!ini.empty()) {
            ASSERT_TRUE(testsupport::write_file(halvex + "/sat.ini", ini));
        }
        emu = std::make_unique<testsupport::Emulator>(args);
        ASSERT_FALSE(emu->device().empty());
        ASSERT_EQ(set("SERIAL", emu->device()), "OK");
    }

    static std::string set(const std::string& parameter, const std::string& value) {
        return SetDriver(const_cast<char*>(parameter.c_str()), const_cast<char*>(value.c_str()));
    }

    std::string last_frame() {
        auto frames = emu->frames();
        return frames.empty() ? std::string() : frames.back();
    }

    std::string halvex;
    std::unique_ptr<testsupport::Emulator> emu;
};

inline char* text(const char* s) {
    return const_cast<char*>(s);
}
inline std::string busy(int sessao, const char* code) {
    char buf[128];
    std::snprintf(buf, sizeof buf, "%06d|%s|SAT em processamento. Tente novamente.||", sessao,
                  code);
    return buf;
}
