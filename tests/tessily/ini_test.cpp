#include "Tessily.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

enum class Op { Get, List, Write, ClearKey, ClearSection, Rename };

struct IniCase {
    const char* what;
    Op op;
    std::string text, section, key, value;  // value: the default (Get), the new name (Rename)
    char join;
    std::string expected;
};

std::string RunCase(const IniCase& c) {
    switch (c.op) {
    case Op::Get: return GetMemIniString(c.text, c.section, c.key, c.value, c.join);
    case Op::List: return GetMemIniStringAsList(c.text, c.section, "ignored", 'x');
    case Op::Write: return WriteMemIniString(c.text, c.section, c.key, c.value);
    case Op::ClearKey: return ClearMemIniStringInSect(c.text, c.section, c.key);
    case Op::ClearSection: return ClearMemIniString(c.text, c.section);
    case Op::Rename: return RenameMemIniSecString(c.text, c.section, c.value);
    }
    return std::string();
}

const IniCase kCases[] = {
    // Reading
    {"first value", Op::Get, "[Net]\r\nHost = a\r\nhost=b\r\n", "net", "HOST", "d", 0, "a"},
    {"joined values", Op::Get, "[Net]\r\nHost = a\r\nhost=b\r\n", "net", "HOST", "d", ';', "a;b"},
    {"joined empty value", Op::Get, "[a]\nx=\nx=2", "a", "x", "d", ',', ",2"},
    {"empty value is found", Op::Get, "[a]\r\nx=\r\n", "a", "x", "d", 0, ""},
    {"missing key", Op::Get, "[a]\r\ny=1\r\n", "a", "x", "d", 0, "d"},
    {"missing section", Op::Get, "[b]\r\nx=1\r\n", "a", "x", "d", 0, "d"},
    {"blank before header in memory", Op::Get, " [a]\r\nx=1\r\n", "a", "x", "d", 0, "d"},
    {"blank after header in memory", Op::Get, "[a] \r\nx=1\r\n", "a", "x", "d", 0, "d"},
    {"header name not trimmed", Op::Get, "[ a ]\r\nx=1\r\n", "a", "x", "d", 0, "d"},
    {"wanted names trimmed, any case", Op::Get, "[Sec]\r\n Key = v \r\n", "  sEC ", " KEY ", "d", 0, "v"},
    {"no comment syntax", Op::Get, "[a]\r\n;x=1\r\n", "a", ";x", "d", 0, "1"},
    {"commented key is another key", Op::Get, "[a]\r\n;x=1\r\n", "a", "x", "d", 0, "d"},
    {"value after the first =", Op::Get, "[a]\r\n x = 1 = 2 \r\n", "a", "x", "d", 0, "1 = 2"},
    {"line without =", Op::Get, "[a]\r\nx\r\nx2=1", "a", "x", "d", 0, "d"},
    {"one-character line is empty", Op::Get, "[a]\r\n=\r\n", "a", "", "d", 0, "d"},
    {"later section of the name not searched", Op::Get, "[a]\r\nx=1\r\n[b]\r\n[a]\r\ny=2", "a", "y", "d", 0, "d"},
    {"keys before any header", Op::Get, "x=0\r\n[a]\r\nx=1", "a", "x", "d", 0, "1"},
    {"carriage returns stripped", Op::Get, "[a]\r\r\nx=1\r", "a", "x", "d", 0, "1"},
    {"list of key lines", Op::List, "[s]\r\nx=1\r\ny=2\r\n", "s", "", "", 0, "x=1,y=2,"},
    {"list keeps lines as read", Op::List, "[s]\r\n x = 1 \r\nnokey\r\n\r\n[t]\r\nz=3", "s", "", "", 0, " x = 1 ,"},
    {"list of missing section", Op::List, "[s]\r\nx=1\r\n", "t", "", "", 0, ""},

    // Writing
    {"write into empty text", Op::Write, "", "a", "x", "1", 0, "[a]\r\nx=1\r\n"},
    {"replace a key", Op::Write, "[a]\r\nx=0\r\n[b]\r\ny=1\r\n", "a", "x", "5", 0, "[a]\r\nx=5\r\n[b]\r\ny=1\r\n"},
    {"only the first of the key", Op::Write, "[a]\nx=1\nx=2", "a", "X", "3", 0, "[a]\r\nX=3\r\nx=2\r\n"},
    {"missing key right before next header", Op::Write, "[a]\r\nx=0\r\n\r\n[b]\r\ny=1\r\n", "a", "z", "5", 0,
     "[a]\r\nx=0\r\n\r\nz=5\r\n[b]\r\ny=1\r\n"},
    {"missing key in last section", Op::Write, "[a]\nx=0", "a", "y", "1", 0, "[a]\r\nx=0\r\ny=1\r\n"},
    {"missing section appended", Op::Write, "[a]\nx=0", "b", "y", "1", 0, "[a]\r\nx=0\r\n[b]\r\ny=1\r\n"},
    {"new names trimmed", Op::Write, "", " b ", " y ", " 1 ", 0, "[b]\r\ny=1\r\n"},
    {"empty value written", Op::Write, "[a]\r\nx=1\r\n", "a", "x", "", 0, "[a]\r\nx=\r\n"},
    {"memory lines copied untrimmed", Op::Write, "[a]\n  x = 0  \n w=1", "a", "w", "2", 0, "[a]\r\n  x = 0  \r\nw=2\r\n"},
    {"one-character line written empty", Op::Write, "[a]\nq\nx=0", "a", "x", "1", 0, "[a]\r\n\r\nx=1\r\n"},
    {"refused: = in key", Op::Write, "[a]\nx=0", "a", "k=v", "1", 0, "[a]\nx=0"},
    {"refused: line feed in value", Op::Write, "[a]\nx=0", "a", "x", "1\r\n[evil]", 0, "[a]\nx=0"},
    {"refused: carriage return in key", Op::Write, "[a]\nx=0", "a", "x\r", "1", 0, "[a]\nx=0"},
    {"refused: line feed in section", Op::Write, "[a]\nx=0", "a]\n[b", "x", "1", 0, "[a]\nx=0"},
    {"refused: line that reads as a header", Op::Write, "[a]\nx=0", "a", "[x", "]", 0, "[a]\nx=0"},
    {"refused: line that reads as empty", Op::Write, "[a]\nx=0", "a", " ", " ", 0, "[a]\nx=0"},

    // Clearing and renaming
    {"clear a key", Op::ClearKey, "[a]\r\nx=1\r\ny=2\r\n[b]\r\nx=3\r\n", "a", "X", "", 0, "[a]\r\ny=2\r\n[b]\r\nx=3\r\n"},
    {"clear the first of the key", Op::ClearKey, "[a]\r\nx=1\r\nx=2\r\n", "a", "x", "", 0, "[a]\r\nx=2\r\n"},
    {"clear stops at the section's end", Op::ClearKey, "[a]\ny=1\n[b]\n[a]\nx=1", "a", "x", "", 0,
     "[a]\r\ny=1\r\n[b]\r\n[a]\r\nx=1\r\n"},
    {"clear leaves keys outside the section", Op::ClearKey, "x=1\n[a]\nx=2", "a", "x", "", 0, "x=1\r\n[a]\r\n"},
    {"clear a section", Op::ClearSection, "[a]\r\nx=1\r\n[b]\r\ny=2\r\n", "a", "", "", 0, "[b]\r\ny=2\r\n"},
    {"clear every section of the name", Op::ClearSection, "top=1\n[a]\nx=1\n\n[b]\ny=2\n[A]\nz=3\n", " a ", "", "", 0,
     "top=1\r\n\r\n[b]\r\ny=2\r\n"},
    {"rename every match", Op::Rename, "[a]\nx=1\n[A]\ny=2\n[b]", " a ", "", "c", 0, "[c]\r\nx=1\r\n[c]\r\ny=2\r\n[b]\r\n"},
    {"new name untrimmed", Op::Rename, "[a]\n", "a", "", " c ", 0, "[ c ]\r\n"},
    {"refused: line break in new name", Op::Rename, "[a]\n", "a", "", "c]\r\n[d", 0, "[a]\n"},
};

TEST(TessilyIni, TextRules) {
    for (const IniCase& c : kCases) EXPECT_EQ(RunCase(c), c.expected) << c.what;
}

TEST(TessilyIni, WrittenKeyReadsBackOnce) {
    // Whatever a writer accepts reads back as written, and writing it again changes nothing.
    const std::string values[] = {"1", "", " spaced out ", "a=b", "[x]", "\xe4\xb8\xad", ";c"};
    for (const std::string& v : values) {
        const std::string once = WriteMemIniString("[a]\r\nk=0\r\n[b]\r\n", "a", "key", v);
        EXPECT_EQ(GetMemIniString(once, "a", "key", "default", ','), Trim(v)) << v;
        EXPECT_EQ(WriteMemIniString(once, "a", "key", v), once) << v;
    }
}

class TessilyIniFile : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tessily_test_XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        if (!dir_.empty()) std::system(("rm -rf '" + dir_ + "'").c_str());
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    static void Put(const std::string& path, const std::string& content) {
        std::ofstream(path, std::ios::binary) << content;
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::vector<std::string> Entries() const {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(dir_.c_str())) {
            while (dirent* e = ::readdir(d))
                if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
            ::closedir(d);
        }
        return names;
    }
    std::string dir_;
};

TEST_F(TessilyIniFile, WriteCreatesAndUpdates) {
    const std::string p = Path("new.ini");
    EXPECT_TRUE(WriteIniString(p, "a", "x", "1"));
    EXPECT_EQ(Read(p), "[a]\r\nx=1\r\n");
    EXPECT_TRUE(WriteIniString(p, "b", "y", "2"));
    EXPECT_TRUE(WriteIniString(p, "a", "z", "3"));  // just before [b]
    EXPECT_TRUE(WriteIniString(p, "A", "X", "4"));
    EXPECT_EQ(Read(p), "[a]\r\nX=4\r\nz=3\r\n[b]\r\ny=2\r\n");
    EXPECT_EQ(GetIniString(p, "a", "x", "d", 0), "4");
    EXPECT_EQ(GetIniString(Path("missing.ini"), "a", "x", "d", 0), "d");
    EXPECT_EQ(Entries(), std::vector<std::string>{"new.ini"});  // no temporary left behind
}

TEST_F(TessilyIniFile, FileLinesAreTrimmedAndUnlimited) {
    const std::string p = Path("t.ini");
    const std::string longValue(10000, 'v');
    Put(p, "  [a]  \n  x = 0  \n\n y=1\t\nq\nlong=" + longValue + "\n[b]\n");
    EXPECT_EQ(GetIniString(p, "a", "y", "d", 0), "1");  // " [a] " is a header in a file
    EXPECT_EQ(GetIniString(p, "a", "long", "d", 0), longValue);
    EXPECT_EQ(GetIniString(p, "b", longValue.substr(0, 10), "d", 0), "d");  // no split line
    EXPECT_TRUE(WriteIniString(p, "a", "x", "5"));
    EXPECT_EQ(Read(p), "[a]\r\nx=5\r\n\r\ny=1\r\n\r\nlong=" + longValue + "\r\n[b]\r\n");
}

TEST_F(TessilyIniFile, RefusedWriteLeavesFileAlone) {
    const std::string p = Path("t.ini");
    Put(p, "[a]\nx=0\n");
    EXPECT_FALSE(WriteIniString(p, "a", "x", "1\n[b]\ny=2"));
    EXPECT_FALSE(WriteIniString(p, "a", "x=y", "1"));
    EXPECT_FALSE(WriteIniString(p, "a\r", "x", "1"));
    EXPECT_EQ(Read(p), "[a]\nx=0\n");
}

TEST_F(TessilyIniFile, UnreadableFileIsNeverReplaced) {
    // A folder and a pipe exist but are no files to read.
    const std::string folder = Path("folder.ini");
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    EXPECT_FALSE(WriteIniString(folder, "a", "x", "1"));
    EXPECT_EQ(GetIniString(folder, "a", "x", "d", 0), "d");
    EXPECT_EQ(LoadIniFile(folder), "");
    EXPECT_FALSE(SaveIniFile(folder, "x"));
    struct stat st;
    ASSERT_EQ(::stat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    const std::string fifo = Path("fifo.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    EXPECT_EQ(LoadIniFile(fifo), "");  // does not wait for a writer
    EXPECT_FALSE(WriteIniString(fifo, "a", "x", "1"));
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));

    if (::geteuid() != 0) {  // permissions do not stop root
        const std::string locked = Path("locked.ini");
        Put(locked, "[a]\nx=0\n");
        ASSERT_EQ(::chmod(locked.c_str(), 0200), 0);
        EXPECT_FALSE(WriteIniString(locked, "a", "y", "1"));
        ::chmod(locked.c_str(), 0600);
        EXPECT_EQ(Read(locked), "[a]\nx=0\n");
        ASSERT_EQ(::chmod(locked.c_str(), 0400), 0);  // read-only: not replaced either
        EXPECT_FALSE(WriteIniString(locked, "a", "y", "1"));
        EXPECT_FALSE(SaveIniFile(locked, "x"));
        ::chmod(locked.c_str(), 0600);
        EXPECT_EQ(Read(locked), "[a]\nx=0\n");
    }
}

TEST_F(TessilyIniFile, LoadReadsToTheEnd) {
    const std::string p = Path("bin.ini");
    const std::string bytes("a\0b\r\n\xff", 6);
    Put(p, bytes);
    EXPECT_EQ(LoadIniFile(p), bytes);
    EXPECT_EQ(LoadIniFile(Path("missing")), "");
    // Files of /proc report a size of 0 but have content.
    EXPECT_EQ(LoadIniFile("/proc/self/status").compare(0, 5, "Name:"), 0);
}

TEST_F(TessilyIniFile, SaveReplacesWholeFile) {
    const std::string p = Path("s.ini");
    Put(p, std::string(5000, 'o'));
    ASSERT_EQ(::chmod(p.c_str(), 0640), 0);
    const std::string text("[a]\r\nx=\0\r\n", 10);
    EXPECT_TRUE(SaveIniFile(p, text));
    EXPECT_EQ(Read(p), text);
    struct stat st;
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_TRUE(SaveIniFile(p, ""));
    EXPECT_EQ(Read(p), "");
    EXPECT_FALSE(SaveIniFile(Path("no/such/folder.ini"), "x"));
    EXPECT_FALSE(SaveIniFile("", "x"));
    EXPECT_EQ(Entries(), std::vector<std::string>{"s.ini"});

    // Through a link, the linked file is replaced and the link stays.
    const std::string link = Path("link.ini");
    ASSERT_EQ(::symlink(p.c_str(), link.c_str()), 0);
    EXPECT_TRUE(WriteIniString(link, "a", "x", "1"));
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(Read(p), "[a]\r\nx=1\r\n");
}

TEST_F(TessilyIniFile, FailedWriteKeepsOldContent) {
    // A file size limit makes the write fail part-way, as a full disk does.
    const std::string p = Path("full.ini");
    Put(p, "[a]\r\nx=0\r\n");
    rlimit old{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool saved = SaveIniFile(p, std::string(100000, 'x'));
    const bool written = WriteIniString(p, "a", "big", std::string(100000, 'y'));
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_FALSE(written);
    EXPECT_EQ(Read(p), "[a]\r\nx=0\r\n");
    EXPECT_EQ(Entries(), std::vector<std::string>{"full.ini"});
}

}  // namespace
