// Shared fixture of the INI tests: every test works on files in a temporary
// folder of its own, removed again when the test passes.
#pragma once

#include "ini.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <filesystem>
#include <set>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <vector>

class IniTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = testsupport::make_temp_dir("ini");
        ASSERT_FALSE(dir_.empty());
        path_ = dir_ + "/t.ini";
    }
    void TearDown() override {
        for (const std::string& m : mounts_)
            umount2(m.c_str(), MNT_DETACH);
        std::error_code ignored;
        if (!HasFailure()) std::filesystem::remove_all(dir_, ignored);
    }

    const char* file() const { return path_.c_str(); }
    void put(const std::string& text) { ASSERT_TRUE(testsupport::write_file(path_, text)); }
    std::string content() const { return testsupport::read_file(path_); }

    // ini_gets into a fresh buffer; "<def>" marks the default.
    std::string gets(const char* section, const char* key, int size = 600) {
        char buf[600];
        const int n = ini_gets(section, key, "<def>", buf, size, file());
        EXPECT_EQ(n, static_cast<int>(std::strlen(buf)));
        return buf;
    }

    // Names in the test folder: a writer must leave nothing but its file.
    std::set<std::string> entries() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            names.insert(e.path().filename().string());
        return names;
    }

    std::string dir_;
    std::vector<std::string> mounts_; // taken down again in TearDown
    std::string path_;
};
