// Writes that cannot complete report 0 and leave the old file as it was,
// with no temporary file behind. Tests run as root, so the failures come from
// the file system's shape instead of permissions.
#include "ini_fixture.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char* const kOld = "[s]\nk=old\n; keep me\n";

using IniFailure = IniTest;

TEST_F(IniFailure, FolderIsAFile) {
    put(kOld);
    const std::string inside = path_ + "/sub.ini";
    EXPECT_EQ(ini_puts("s", "k", "new", inside.c_str()), 0);
    EXPECT_EQ(ini_puts("s", "k", nullptr, inside.c_str()), 0);
    EXPECT_EQ(content(), kOld);
    EXPECT_EQ(entries(), std::set<std::string>{"t.ini"});
}

TEST_F(IniFailure, TargetIsADirectory) {
    ASSERT_EQ(mkdir(file(), 0755), 0);
    EXPECT_EQ(ini_puts("s", "k", "new", file()), 0);
    EXPECT_EQ(ini_puts("s", "k", nullptr, file()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(path_));
    EXPECT_EQ(entries(), std::set<std::string>{"t.ini"});
}

TEST_F(IniFailure, UnreadableFileIsNotReplaced) {
    // A symlink loop cannot be opened, yet it is not a missing file.
    ASSERT_EQ(symlink("t.ini", file()), 0);
    EXPECT_EQ(ini_puts("s", "k", "new", file()), 0);
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
    EXPECT_EQ(entries(), std::set<std::string>{"t.ini"});
}

TEST_F(IniFailure, FullFileSystem) {
    std::string why;
    if (!testsupport::enter_private_mounts(why) || !testsupport::mount_tmpfs(dir_, "64k", why))
        GTEST_SKIP() << "no private mount namespace: " << why;
    mounts_.push_back(dir_);
    put(kOld);
    // Fill every remaining block.
    {
        const int fd = open((dir_ + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (write(fd, block.data(), block.size()) > 0) {
        }
        EXPECT_EQ(errno, ENOSPC);
        while (write(fd, block.data(), 1) > 0) {
        }
        close(fd);
    }
    EXPECT_EQ(ini_puts("s", "created", "1", (dir_ + "/new.ini").c_str()), 0);
    EXPECT_EQ(ini_puts("s", "k", std::string(300, 'n').c_str(), file()), 0);
    EXPECT_EQ(ini_puts("s", "k", nullptr, file()), 0);
    EXPECT_EQ(content(), kOld);
    EXPECT_EQ(entries(), (std::set<std::string>{"filler", "t.ini"}));
    // Room again: the same request now succeeds.
    std::filesystem::remove(dir_ + "/filler");
    EXPECT_EQ(ini_puts("s", "k", "new", file()), 1);
    EXPECT_EQ(content(), "[s]\nk=new\n; keep me\n");
}

TEST_F(IniFailure, TemporaryFileCannotBeCreated) {
    std::string why;
    put(kOld);
    // The folder turns read-only: the old file still reads, nothing is created.
    if (!testsupport::enter_private_mounts(why) || !testsupport::bind_mount(dir_, dir_, why, true))
        GTEST_SKIP() << "no private mount namespace: " << why;
    mounts_.push_back(dir_);
    EXPECT_EQ(ini_puts("s", "k", "new", file()), 0);
    EXPECT_EQ(ini_puts("s", nullptr, nullptr, file()), 0);
    EXPECT_EQ(ini_puts("s", "k", "old", file()), 1); // nothing to write
    EXPECT_EQ(content(), kOld);
    EXPECT_EQ(entries(), std::set<std::string>{"t.ini"});
}

TEST_F(IniFailure, RenameFails) {
    std::string why;
    put(kOld);
    const std::string other = dir_ + "/other";
    ASSERT_TRUE(testsupport::write_file(other, kOld));
    // A file with another mount on it cannot be renamed over (EBUSY).
    if (!testsupport::enter_private_mounts(why) || !testsupport::bind_mount(other, path_, why))
        GTEST_SKIP() << "no private mount namespace: " << why;
    mounts_.push_back(path_);
    EXPECT_EQ(ini_puts("s", "k", "new", file()), 0);
    EXPECT_EQ(content(), kOld);
    EXPECT_EQ(entries(), (std::set<std::string>{"other", "t.ini"}));
}

} // namespace
