// The INI module: reading lines, names and values, numbers and truth values, enumeration
// and browsing, the writer's result table, and writes that cannot complete.
#include "ini.h"
#include "sandbox.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

namespace {

const std::string kNone; // no file name

class Ini : public ::testing::Test {
  protected:
    void SetUp() override { path_ = (dir_ = testsupport::make_temp_dir("ini")) + "/t.ini"; }
    void TearDown() override {
        for (const std::string& m : mounts_)
            umount2(m.c_str(), MNT_DETACH);
        if (!HasFailure()) std::filesystem::remove_all(dir_);
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
    std::set<std::string> entries() const { // a writer must leave nothing but its file
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            names.insert(e.path().filename());
        return names;
    }
    std::string dir_, path_;
    std::vector<std::string> mounts_; // taken down again in TearDown
};

TEST_F(Ini, LookupRules) {
    const struct {
        const char *text, *section, *key, *expected;
    } lookups[] = {
        // Values: blanks, comments, quoting.
        {"KEY=\n", "", "KEY", ""},
        {"  key  =  value  ; note\n", "", "key", "value"},
        {"key = \"a;b\" # note\n", "", "key", "a;b"},
        {"key = \"say \"\"hi\"\"\"\n", "", "key", "say \"hi\""},
        {"key = \"x\\\"y\"\n", "", "key", "x\"y"},
        // Separators: '=' first, else ':'.
        {"a:b=c\n", "", "a:b", "c"},
        // Names: case-insensitive, equal length, first match wins.
        {"keys=1\nkey=2\n", "", "key", "2"},
        {"[ DEFAULT ]\nk=1\n[default]\nk=2\n", "DEFAULT", "k", "2"},
        {"[s]\na=1\n[t]\n[s]\na=2\nb=3\n", "s", "a", "1"},
        // Spans end at any '[' line; lines above the first form the nameless section.
        {"[s]\na=1\n[broken\nb=2\n", "s", "b", "<def>"},
        // "[]" is no way into its keys: the empty name means the nameless section.
        {"top=1\n[]\nk=2\n", "", "k", "<def>"},
        // Line ends and blanks by the signed-byte rule; a NUL ends the line.
        {"[s]\r\nk=v\r\n", "s", "k", "v"},
        {"k=caf\xe9\n", "", "k", "caf"},
    };
    for (const auto& c : lookups) {
        put(c.text);
        EXPECT_EQ(gets(c.section, c.key), c.expected) << "file: " << c.text;
    }
}

TEST_F(Ini, ReadLimitsAndDefaults) {
    put(std::string("k=ab\0cd\n\0x=1\nx=2\n", 17));
    EXPECT_EQ(gets("", "k"), "ab");
    EXPECT_EQ(gets("", "x"), "2");
    // "a=" + 509 characters fill the first 511-character piece; "b=tail" starts the second.
    put("[s]\na=" + std::string(509, 'x') + "b=tail\n");
    EXPECT_EQ(gets("s", "a"), std::string(509, 'x'));
    EXPECT_EQ(gets("s", "b"), "tail");

    put("[A]\nk=value\n");
    char buf[8] = "untouch";
    EXPECT_EQ(ini_gets("A", "k", "d", buf, 0, file()), 0);
    EXPECT_EQ(ini_gets("A", "k", "d", buf, -1, file()), 0);
    EXPECT_EQ(ini_gets("A", nullptr, "d", buf, 8, file()), 0);
    EXPECT_EQ(ini_gets("A", "k", "d", nullptr, 10, file()), 0);
    EXPECT_STREQ(buf, "untouch");
    EXPECT_EQ(ini_gets("A", "k", "d", buf, 4, file()), 3);
    EXPECT_STREQ(buf, "val");
    EXPECT_EQ(ini_gets("A", "missing", "default", buf, 4, file()), 3);
    EXPECT_STREQ(buf, "def");
    EXPECT_EQ(ini_gets("A", "missing", nullptr, buf, 8, file()), 0);
    EXPECT_STREQ(buf, "");
    put("q = \"\\\"x\"\n");
    EXPECT_EQ(gets("", "q", 2), "\"") << "an escaped quote undone in a small buffer too";
}

TEST(IniDeath, BufferStartingInsideTheDefaultStopsTheProcess) {
    // A forked child: a re-executed one would start this i386 program again
    // without the emulator that may be running it.
    GTEST_FLAG_SET(death_test_style, "fast");
    char text[16] = "default";
    // A buffer right behind the default is fine.
    EXPECT_EQ(ini_gets("", "missing", text, text + 8, 8, "/nonexistent-ini-test/t.ini"), 7);
    EXPECT_DEATH(ini_gets("", "missing", text, text + 1, 8, "/nonexistent-ini-test/t.ini"),
                 "ini_text.cpp");
}

// long is 32 bits in the x86 tree and 64 bits in the x64 tree.
TEST_F(Ini, NumbersAndTruthValues) {
    const std::tuple<const char*, long, int> rows[] = {
        // value, ini_getl with default -7, ini_getbool with default 7
        {"0X1f", 31, 0},   {"010", 10, 0}, {"-0x10", 0, 7}, {"12abc", 12, 1}, {"-5", -5, 7},
        {"\"42\"", 42, 7}, {"", -7, 7},    {"True", 0, 1},  {"t", 0, 1},      {"false", 0, 0},
        {"N", 0, 0},       {"on", 0, 7},   {"2", 2, 7},     {"\"yes\"", 0, 1}};
    for (const auto& [value, number, truth] : rows) {
        put(std::string("[n]\nN = ") + value + "\n");
        EXPECT_EQ(ini_getl("n", "N", -7, file()), number) << value;
        EXPECT_EQ(ini_getbool("n", "N", 7, file()), truth) << value;
    }
    EXPECT_EQ(ini_getl("n", "missing", -7, file()), -7);
    EXPECT_EQ(ini_getbool("n", nullptr, 7, file()), 7);

    put("big=2147483648\nneg=-2147483649\nhuge=99999999999999999999\na=1.5\nb=abc\ne=-0.25 ; c\n");
    const bool wide = sizeof(long) == 8; // out of range, the conversion saturates
    EXPECT_EQ(ini_getl("", "big", 0, file()), wide ? 2147483648L : LONG_MAX);
    EXPECT_EQ(ini_getl("", "neg", 0, file()), wide ? -2147483649L : LONG_MIN);
    EXPECT_EQ(ini_getl("", "huge", 0, file()), LONG_MAX);
    for (auto [key, value] : {std::pair{"a", 1.5f}, {"b", 0.f}, {"e", -0.25f}, {"missing", 9.f}})
        EXPECT_FLOAT_EQ(ini_getf("", key, 9.f, file()), value) << key;

    ASSERT_EQ(ini_putl("n", "v", LONG_MIN, file()), 1);
    EXPECT_EQ(ini_getl("n", "v", 3, file()), LONG_MIN);
    ASSERT_EQ(ini_putl("n", "v", -2147483647L - 1, file()), 1);
    ASSERT_EQ(ini_putf("n", "f", 1.5f, file()), 1);
    EXPECT_NE(content().find("\nv=-2147483648\nf=1.500000\n"), std::string::npos) << content();
}

std::vector<std::string> listed(const std::function<int(int, char*, int)>& get, int size = 64) {
    std::vector<std::string> out;
    char buf[64];
    for (int i = 0; get(i, buf, size) > 0; i++)
        out.push_back(buf);
    return out;
}

// Collects "section/key=value" lines until `stop_after` entries.
struct Collected {
    std::string text;
    int left = 1000;
};
int collect(const char* section, const char* key, const char* value, void* user) {
    auto* c = static_cast<Collected*>(user);
    c->text += std::string(section) + "/" + key + "=" + value + "\n";
    return --c->left > 0;
}

TEST_F(Ini, SectionsKeysAndBrowse) {
    put("top=1\n; comment=no\n[a]\nx = 1\nno separator\n#y=2\nz:3\n[]\ne=1\n[ b ]\n[broken=4\n"
        "[A]\nw=5\nq = \"a;b\" ; note\n");
    auto sections = [&](int i, char* b, int n) { return ini_getsection(i, b, n, file()); };
    auto keys = [&](const char* s) {
        return listed([&](int i, char* b, int n) { return ini_getkey(s, i, b, n, file()); });
    };
    // Every header counts in file order, a repeated one too; "[]" does not.
    EXPECT_EQ(listed(sections), (std::vector<std::string>{"a", " b ", "A"}));
    EXPECT_EQ(listed(sections, 3), (std::vector<std::string>{"a", " b", "A"}));
    EXPECT_EQ(keys("a"), (std::vector<std::string>{"x", "z"}));
    EXPECT_EQ(keys(""), (std::vector<std::string>{"top"}));
    EXPECT_EQ(keys(nullptr), (std::vector<std::string>{"top"}));
    // The span of " b " ends at "[broken=4"; the first "a" is the one searched.
    EXPECT_TRUE(keys(" b ").empty());
    EXPECT_TRUE(keys("missing").empty());
    char buf[4] = "xyz";
    EXPECT_EQ(ini_getsection(-1, buf, sizeof buf, file()), 0);
    EXPECT_EQ(ini_getsection(0, buf, 0, file()), 0);
    EXPECT_EQ(ini_getsection(0, nullptr, 10, file()), 0);
    EXPECT_EQ(ini_getkey("a", -1, buf, sizeof buf, file()), 0);
    EXPECT_EQ(ini_getkey("a", 0, nullptr, sizeof buf, file()), 0);
    EXPECT_EQ(ini_getkey("a", 0, buf, 2, file()), 1);
    EXPECT_STREQ(buf, "x");

    // "[broken=4" is no header here but a key line of the section above; the keys
    // under "[]" show with the empty section name.
    Collected all, two{"", 2};
    ASSERT_EQ(ini_browse(collect, &all, file()), 1);
    EXPECT_EQ(all.text, "/top=1\na/x=1\na/z=3\n/e=1\n b /[broken=4\nA/w=5\nA/q=a;b\n");
    EXPECT_EQ(ini_browse(collect, &two, file()), 1);
    EXPECT_EQ(two.text, "/top=1\na/x=1\n");
    EXPECT_EQ(ini_browse(nullptr, &all, file()), 0);
}

const char* const kOld = "[s]\nk=old\n; keep me\n";

// Where the file is missing, a folder, a loop (cannot be opened, yet not missing),
// inside a file or has no name: the readers give the caller's default, the writer
// reports 0 and leaves what is there.
TEST_F(Ini, UnusableFilesGiveDefaultsAndRefuseWrites) {
    put(kOld);
    const std::string missing = dir_ + "/nao/existe.ini", folder = dir_ + "/folder.ini",
                      loop = dir_ + "/loop.ini", inside = path_ + "/sub.ini";
    ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(symlink("loop.ini", loop.c_str()), 0);
    for (const std::string* name : {&missing, &folder, &loop, &inside, &kNone}) {
        const char* f = name == &kNone ? nullptr : name->c_str();
        char buf[16] = "x";
        EXPECT_EQ(ini_gets("s", "k", "padrao", buf, sizeof buf, f), 6);
        EXPECT_STREQ(buf, "padrao");
        EXPECT_EQ(ini_getsection(0, buf, sizeof buf, f), 0);
        EXPECT_EQ(ini_getkey("s", 0, buf, sizeof buf, f), 0);
        EXPECT_EQ(ini_getl("s", "k", -7, f), -7);
        EXPECT_EQ(ini_getbool("s", "k", 1, f), 1);
        if (!f) continue;
        EXPECT_EQ(ini_puts("s", "k", "novo", f), 0) << *name;
        if (name != &missing) { // deleting from a missing file has nothing to do: 1
            EXPECT_EQ(ini_puts("s", "k", nullptr, f), 0) << *name;
        }
    }
    EXPECT_EQ(content(), kOld);
    EXPECT_TRUE(std::filesystem::is_symlink(loop));
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(entries(), (std::set<std::string>{"t.ini", "loop.ini", "folder.ini"}));
}

const std::string kLongS(600, 'S'), kLongK(600, 'K'), kLongV(600, 'v');

TEST_F(Ini, WriterResultTable) {
    const struct {
        const char* name;
        std::string before;
        const char *section, *key, *value;
        std::string after;
    } changes[] = {
        {"ReplaceInPlace", "[a]\nTimeout = 5 ; seconds\nnext=1\n", "a", "timeout", "6",
         "[a]\ntimeout=6\nnext=1\n"},
        {"InsertAsLastLineOfSpan", "[a]\nx=1\n\n; c\n[b]\ny=2\n", "a", "k", "v",
         "[a]\nx=1\n\n; c\nk=v\n[b]\ny=2\n"},
        {"InsertAtEndOfFile", "[a]\nx=1\n", "A", "k", "v", "[a]\nx=1\nk=v\n"},
        {"AppendSection", "[a]\nx=1\n", "b", "k", "v", "[a]\nx=1\n[b]\nk=v\n"},
        {"AppendAfterUnterminatedLine", "[a]\nx=1", "b", "k", "v", "[a]\nx=1\n[b]\nk=v\n"},
        {"HeaderIsLastLine", "[a]", "a", "k", "v", "[a]\nk=v\n"},
        {"EmptyFileNamedSection", "", "s", "k", "v", "[s]\nk=v\n"},
        {"EmptyFileNameless", "", "", "k", "v", "k=v\n"},
        {"NamelessBeforeFirstHeader", "top=1\n[a]\nx=1\n", "", "k", "v", "top=1\nk=v\n[a]\nx=1\n"},
        {"SpanEndsAtBrokenHeader", "[a]\nx=1\n[broken\nk=0\n", "a", "k", "v",
         "[a]\nx=1\nk=v\n[broken\nk=0\n"},
        {"DeleteKey", "[a]\nk=1\nx=2\nk=3\n", "a", "K", nullptr, "[a]\nx=2\nk=3\n"},
        {"DeleteMissingKey", "[a]\nx=2\n", "a", "k", nullptr, "[a]\nx=2\n"},
        {"DeleteSection", "top=1\n[a]\nk=1\n; c\n\n[b]\ny=2\n", "a", nullptr, nullptr,
         "top=1\n[b]\ny=2\n"},
        {"DeleteLastSection", "[b]\ny=2\n[a]\nk=1\n", "a", nullptr, nullptr, "[b]\ny=2\n"},
        {"DeleteNamelessSection", "top=1\n; c\n[a]\nk=1\n", "", nullptr, nullptr, "[a]\nk=1\n"},
        {"CrLfKept", "[a]\r\nx=1\r\nk=0\r\n", "a", "k", "v", "[a]\r\nx=1\r\nk=v\n"},
        // A key line longer than one read must not leave its tail behind.
        {"LongKeyLineReplacedWhole", "[s]\nk=" + std::string(600, 'x') + "=y\nz=1\n", "s", "k",
         "short", "[s]\nk=short\nz=1\n"},
        {"LongNamesAreCut", "", kLongS.c_str(), kLongK.c_str(), kLongV.c_str(),
         "[" + std::string(507, 'S') + "]\n" + std::string(508, 'K') + "=\n"},
    };
    for (const auto& c : changes) {
        put(c.before);
        ASSERT_EQ(ini_puts(c.section, c.key, c.value, file()), 1) << c.name;
        EXPECT_EQ(content(), c.after) << c.name;
        EXPECT_EQ(entries(), std::set<std::string>{"t.ini"}) << c.name;
    }
}

TEST_F(Ini, SameValueMissingFileAndMode) {
    put("[DEFAULT]\nSERIAL = \"123\" ; kept\n");
    ASSERT_EQ(chmod(file(), 0640), 0);
    const timespec old[2] = {{1000000, 0}, {1000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file(), old, 0), 0);
    struct stat before {
    }, after{};
    ASSERT_EQ(stat(file(), &before), 0);
    ASSERT_EQ(ini_puts("default", "serial", "123", file()), 1);
    ASSERT_EQ(stat(file(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtime, 1000000);
    EXPECT_EQ(content(), "[DEFAULT]\nSERIAL = \"123\" ; kept\n");
    ASSERT_EQ(ini_puts("default", "serial", "124", file()), 1);
    ASSERT_EQ(stat(file(), &after), 0);
    EXPECT_EQ(after.st_mode & 07777, 0640u);

    std::filesystem::remove(path_);
    EXPECT_EQ(ini_puts("DEFAULT", "SERIAL", nullptr, file()), 1);
    EXPECT_EQ(ini_puts("DEFAULT", nullptr, nullptr, file()), 1);
    EXPECT_TRUE(entries().empty());
    ASSERT_EQ(ini_puts("DEFAULT", "SERIAL", "900001", file()), 1);
    EXPECT_EQ(content(), "[DEFAULT]\nSERIAL=900001\n");
    // A line feed would plant lines of its own: refused, the file untouched.
    EXPECT_EQ(ini_puts("DEFAULT", "k", "1\n[evil]", file()), 0);
    EXPECT_EQ(ini_puts("DEFAULT", "k\nx", "1", file()), 0);
    EXPECT_EQ(ini_puts("s\n", nullptr, nullptr, file()), 0);
    EXPECT_EQ(content(), "[DEFAULT]\nSERIAL=900001\n");
}

TEST_F(Ini, LinesKeptAcrossManyFlushes) {
    // Far more than one 512-byte block before and after the changed line.
    std::string head, tail;
    for (int i = 0; i < 80; i++)
        head += "; comment line " + std::to_string(i) + "\r\n";
    head += "[s]\n" + std::string(700, 'L') + "\n   spaced = 1   # note\n\n";
    for (int i = 0; i < 80; i++)
        tail += "k" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    put(head + "target=old\n" + tail);
    ASSERT_EQ(ini_puts("s", "target", "new", file()), 1);
    ASSERT_EQ(ini_puts("s", "added", "1", file()), 1);
    EXPECT_EQ(content(), head + "target=new\n" + tail + "added=1\n");
}

// Values that need quotes read back unchanged; a long quoted value keeps only whole
// escape pairs.
TEST_F(Ini, QuotedValuesReadBackUnchanged) {
    for (const char* v : {"a;b", "end ", "tab\t", "x\\\"y", "\"q\" ; x", ""}) {
        ASSERT_EQ(ini_puts("s", "k", v, file()), 1) << v;
        EXPECT_EQ(gets("s", "k"), v);
    }
    ASSERT_EQ(ini_puts("s", "k", std::string(600, '"').c_str(), file()), 1);
    const std::string line = content().substr(4);
    EXPECT_LE(line.size(), 510u);
    EXPECT_EQ(line.substr(line.size() - 2), "\"\n");
    EXPECT_EQ((line.size() - 5) % 2, 0u) << line;
    EXPECT_EQ(gets("s", "k"), std::string((line.size() - 5) / 2, '"'));
}

TEST_F(Ini, FileNameEndingInTilde) {
    // Such a file must not be its own temporary file, truncated while read.
    path_ = dir_ + "/sat.ini~";
    put("[s]\nk=1\n[t]\nx=1\n");
    ASSERT_EQ(ini_puts("s", "k", "2", file()), 1);
    EXPECT_EQ(content(), "[s]\nk=2\n[t]\nx=1\n");
    ASSERT_EQ(ini_puts("s", nullptr, nullptr, file()), 1);
    EXPECT_EQ(content(), "[t]\nx=1\n");
    EXPECT_EQ(entries(), std::set<std::string>{"sat.ini~"});
}

// Writes that cannot complete report 0 and leave the old file as it was, with no
// temporary file behind: a full file system, a read-only folder, and a file with
// another mount on it, which cannot be renamed over (EBUSY).
TEST_F(Ini, WritesThatCannotComplete) {
    const std::string other = dir_ + "/other", sub = dir_ + "/ro", full = dir_ + "/full";
    for (const std::string& d : {sub, full})
        ASSERT_EQ(mkdir(d.c_str(), 0755), 0);
    for (const std::string& f : {path_, other, sub + "/t.ini"})
        ASSERT_TRUE(testsupport::write_file(f, kOld));
    std::string why;
    if (!testsupport::enter_private_mounts(why) || !testsupport::mount_tmpfs(full, "64k", why) ||
        !testsupport::bind_mount(sub, sub, why, true) ||
        !testsupport::bind_mount(other, path_, why))
        GTEST_SKIP() << "no private mount namespace: " << why;
    mounts_ = {sub, path_, full};
    const std::string ro = sub + "/t.ini", old = full + "/t.ini";
    EXPECT_EQ(ini_puts("s", "k", "new", ro.c_str()), 0);
    EXPECT_EQ(ini_puts("s", nullptr, nullptr, ro.c_str()), 0);
    EXPECT_EQ(ini_puts("s", "k", "old", ro.c_str()), 1); // nothing to write
    EXPECT_EQ(testsupport::read_file(ro), kOld);
    EXPECT_EQ(ini_puts("s", "k", "new", file()), 0);
    EXPECT_EQ(content(), kOld);

    ASSERT_TRUE(testsupport::write_file(old, kOld));
    const int fd = open((full + "/filler").c_str(), O_WRONLY | O_CREAT, 0644);
    const std::string block(4096, 'f');
    while (write(fd, block.data(), block.size()) > 0) {
    }
    while (write(fd, block.data(), 1) > 0) {
    }
    close(fd);
    EXPECT_EQ(ini_puts("s", "created", "1", (full + "/new.ini").c_str()), 0);
    EXPECT_EQ(ini_puts("s", "k", std::string(300, 'n').c_str(), old.c_str()), 0);
    EXPECT_EQ(ini_puts("s", "k", nullptr, old.c_str()), 0);
    EXPECT_EQ(testsupport::read_file(old), kOld);
    for (const std::string& d : {sub, full})
        for (const auto& e : std::filesystem::directory_iterator(d))
            EXPECT_TRUE(e.path().filename() == "t.ini" || e.path().filename() == "filler")
                << e.path();
    // Room again: the same request now succeeds.
    std::filesystem::remove(full + "/filler");
    EXPECT_EQ(ini_puts("s", "k", "new", old.c_str()), 1);
    EXPECT_EQ(testsupport::read_file(old), "[s]\nk=new\n; keep me\n");
}

} // namespace
