// The writer: every row of its result table, quoting round trips, limits,
// and replacing the file through a unique temporary file.
#include "ini_fixture.h"

#include <fcntl.h>
#include <sstream>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using IniWrite = IniTest;

struct Change {
    const char* name;
    const char* before;
    const char* section;
    const char* key;
    const char* value;
    const char* after;
};

const Change kChanges[] = {
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
    {"DeleteKeyOfMissingSection", "[a]\nk=2\n", "b", "k", nullptr, "[a]\nk=2\n"},
    {"DeleteSection", "top=1\n[a]\nk=1\n; c\n\n[b]\ny=2\n", "a", nullptr, nullptr,
     "top=1\n[b]\ny=2\n"},
    {"DeleteLastSection", "[b]\ny=2\n[a]\nk=1\n", "a", nullptr, nullptr, "[b]\ny=2\n"},
    {"DeleteMissingSection", "[b]\ny=2\n", "a", nullptr, nullptr, "[b]\ny=2\n"},
    {"DeleteNamelessSection", "top=1\n; c\n[a]\nk=1\n", "", nullptr, nullptr, "[a]\nk=1\n"},
    {"CrLfKept", "[a]\r\nx=1\r\nk=0\r\n", "a", "k", "v", "[a]\r\nx=1\r\nk=v\n"},
};

void PrintTo(const Change& c, std::ostream* os) {
    *os << c.name;
}

class IniChange : public IniWrite, public ::testing::WithParamInterface<Change> {};

TEST_P(IniChange, ResultTable) {
    const Change& c = GetParam();
    put(c.before);
    ASSERT_EQ(ini_puts(c.section, c.key, c.value, file()), 1);
    EXPECT_EQ(content(), c.after);
    EXPECT_EQ(entries(), std::set<std::string>{"t.ini"});
}

INSTANTIATE_TEST_SUITE_P(Rows, IniChange, ::testing::ValuesIn(kChanges),
                         [](const auto& row) { return std::string(row.param.name); });

TEST_F(IniWrite, SameValueLeavesTheFileUntouched) {
    put("[DEFAULT]\nSERIAL = \"123\" ; kept\n");
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
}

TEST_F(IniWrite, MissingFile) {
    EXPECT_EQ(ini_puts("DEFAULT", "SERIAL", nullptr, file()), 1);
    EXPECT_EQ(ini_puts("DEFAULT", nullptr, nullptr, file()), 1);
    EXPECT_TRUE(entries().empty());
    ASSERT_EQ(ini_puts("DEFAULT", "SERIAL", "900001", file()), 1);
    EXPECT_EQ(content(), "[DEFAULT]\nSERIAL=900001\n");
    EXPECT_EQ(entries(), std::set<std::string>{"t.ini"});
}

TEST_F(IniWrite, LinesKeptAcrossManyFlushes) {
    // Far more than one 512-byte block before and after the changed line.
    std::string head, tail;
    for (int i = 0; i < 80; i++)
        head += "; comment line " + std::to_string(i) + "\r\n";
    head += "[s]\n" + std::string(700, 'L') + "\n   spaced = 1   # note\n\n";
    for (int i = 0; i < 80; i++)
        tail += "k" + std::to_string(i) + " = " + std::to_string(i) + "\n";
    put(head + "target=old\n" + tail);
    ASSERT_EQ(ini_puts("s", "target", "new", file()), 1);
    EXPECT_EQ(content(), head + "target=new\n" + tail);
    ASSERT_EQ(ini_puts("s", "added", "1", file()), 1);
    EXPECT_EQ(content(), head + "target=new\n" + tail + "added=1\n");
}

TEST_F(IniWrite, ReplacingALongKeyLineDropsAllOfIt) {
    // A key line longer than one read must not leave its tail behind.
    put("[s]\nk=" + std::string(600, 'x') + "=y\nz=1\n");
    ASSERT_EQ(ini_puts("s", "k", "short", file()), 1);
    EXPECT_EQ(content(), "[s]\nk=short\nz=1\n");
}

TEST_F(IniWrite, QuotedValuesReadBackUnchanged) {
    const char* values[] = {"a;b",   "a#b", "say \"hi\"", "end ",        "x\\\"y",
                            "\"\"",  "\"",  "a\\",        "caf\xc3\xa9", "tab\t",
                            "plain", "",    "in  ner",    "\"q\" ; x"};
    for (const char* v : values) {
        ASSERT_EQ(ini_puts("s", "k", v, file()), 1) << v;
        EXPECT_EQ(gets("s", "k"), v);
    }
    ASSERT_EQ(ini_puts("s", "k", "a;b", file()), 1);
    EXPECT_EQ(content(), "[s]\nk=\"a;b\"\n");
    ASSERT_EQ(ini_puts("s", "k", "say \"hi\"", file()), 1);
    EXPECT_EQ(content(), "[s]\nk=\"say \\\"hi\\\"\"\n");
    // Leading blanks do not cause quoting and do not survive the reading.
    ASSERT_EQ(ini_puts("s", "k", "  lead", file()), 1);
    EXPECT_EQ(content(), "[s]\nk=  lead\n");
    EXPECT_EQ(gets("s", "k"), "lead");
}

TEST_F(IniWrite, LongNamesAndValuesAreCut) {
    ASSERT_EQ(ini_puts(std::string(600, 'S').c_str(), std::string(600, 'K').c_str(),
                       std::string(600, 'v').c_str(), file()),
              1);
    EXPECT_EQ(content(), "[" + std::string(507, 'S') + "]\n" + std::string(508, 'K') + "=\n");

    std::filesystem::remove(path_);
    ASSERT_EQ(ini_puts("s", "k", std::string(600, '"').c_str(), file()), 1);
    const std::string text = content();
    const std::string line = text.substr(4);
    EXPECT_LE(line.size(), 510u);
    // Only whole escape pairs: an even number of characters between the quotes.
    EXPECT_EQ(line.substr(line.size() - 2), "\"\n");
    EXPECT_EQ((line.size() - 5) % 2, 0u) << line;
    EXPECT_EQ(gets("s", "k"), std::string((line.size() - 5) / 2, '"'));
}

TEST_F(IniWrite, LineFeedsAreRefused) {
    put("[s]\nk=1\n");
    EXPECT_EQ(ini_puts("s", "k", "1\n[evil]", file()), 0);
    EXPECT_EQ(ini_puts("s", "k\nx", "1", file()), 0);
    EXPECT_EQ(ini_puts("s\n", nullptr, nullptr, file()), 0);
    EXPECT_EQ(content(), "[s]\nk=1\n");
}

TEST_F(IniWrite, FileNameEndingInTilde) {
    // Such a file must not be its own temporary file, truncated while read.
    path_ = dir_ + "/sat.ini~";
    put("[s]\nk=1\n[t]\nx=1\n");
    ASSERT_EQ(ini_puts("s", "k", "2", file()), 1);
    EXPECT_EQ(content(), "[s]\nk=2\n[t]\nx=1\n");
    ASSERT_EQ(ini_puts("s", nullptr, nullptr, file()), 1);
    EXPECT_EQ(content(), "[t]\nx=1\n");
    EXPECT_EQ(entries(), std::set<std::string>{"sat.ini~"});
}

TEST_F(IniWrite, ModeIsKept) {
    put("[s]\nk=1\n");
    ASSERT_EQ(chmod(file(), 0640), 0);
    ASSERT_EQ(ini_puts("s", "k", "2", file()), 1);
    struct stat st {};
    ASSERT_EQ(stat(file(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(IniWrite, ConcurrentWritersAndReaders) {
    put("[s]\nstable=yes\n");
    constexpr int kWriters = 2, kRounds = 150;
    std::vector<pid_t> kids;
    for (int w = 0; w < kWriters; w++) {
        const pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int bad = 0;
            for (int i = 0; i < kRounds; i++) {
                const std::string key = "w" + std::to_string(w) + "k" + std::to_string(i % 5);
                bad += ini_putl("s", key.c_str(), i, file()) != 1;
            }
            _exit(bad == 0 ? 0 : 1);
        }
        kids.push_back(pid);
    }
    const pid_t reader = fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        // The file is never missing nor half written for a reader.
        int bad = 0;
        for (int i = 0; i < 2000; i++) {
            char buf[8];
            ini_gets("s", "stable", "missing", buf, sizeof buf, file());
            bad += std::strcmp(buf, "yes") != 0;
        }
        _exit(bad == 0 ? 0 : 2);
    }
    kids.push_back(reader);
    for (pid_t pid : kids) {
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << pid;
    }
    // Whatever won, the file is whole: one header, then well-formed key lines.
    const std::string text = content();
    ASSERT_EQ(text.rfind("[s]\nstable=yes\n", 0), 0u) << text;
    std::istringstream lines(text.substr(15));
    for (std::string line; std::getline(lines, line);)
        EXPECT_TRUE(line.size() >= 6 && line[0] == 'w' && line.find('=') == 4) << line;
    EXPECT_EQ(entries(), std::set<std::string>{"t.ini"});
}

} // namespace
