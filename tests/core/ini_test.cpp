#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "core/IniFileEx.h"
#include "core/Paths.h"
#include "tests/tools/TestUtil.h"

namespace {
void WriteText(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
}
}  // namespace

TEST(IniFile, ReadsWithPrivateProfileRules) {
  vvtest::TempDir dir;
  std::string path = dir.file("a.ini");
  WriteText(path,
            "; leading comment\n"
            "[Ixo_Setup]\n"
            "Host = 10.0.0.5  \n"
            "PORT= 1935\n"
            "port=9999\n"
            "# another comment\n"
            "EMPTY=\n"
            "nokeyline\n"
            "[other]\n"
            "HOST=wrong\n"
            "[IXO_SETUP]\n"
            "KEY=second-section-is-shadowed\n"
            "  [ spaced ]  \n"
            "  a  =  b c  \n");
  CIniFileEx ini(path);
  struct Case {
    const char* section;
    const char* key;
    const char* def;
    const char* expected;
  } cases[] = {
      {"IXO_SETUP", "HOST", "", "10.0.0.5"},   // case-insensitive, trimmed
      {"ixo_setup", "host", "", "10.0.0.5"},
      {"IXO_SETUP", "PORT", "", "1935"},       // first occurrence wins
      {"IXO_SETUP", "KEY", "dflt", "dflt"},    // the first section is the one read
      {"IXO_SETUP", "EMPTY", "dflt", ""},      // present but empty is not the default
      {"IXO_SETUP", "nokeyline", "d", "d"},
      {"OTHER", "HOST", "", "wrong"},
      {"spaced", "A", "", "b c"},
      {"missing", "HOST", "fallback", "fallback"},
      {"IXO_SETUP", "missing", "fallback", "fallback"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.section) + "/" + c.key);
    EXPECT_EQ(ini.GetString(c.section, c.key, c.def), c.expected);
  }
  CIniFileEx missing(dir.file("nothing.ini"));
  EXPECT_EQ(missing.GetString("IXO_SETUP", "HOST", "x"), "x");
}

TEST(IniFile, TypedReads) {
  vvtest::TempDir dir;
  std::string path = dir.file("t.ini");
  WriteText(path,
            "[S]\r\n"
            "abc=abc\r\nspaced= 1935 \r\nneg=-12x\r\nplus=+7\r\n"
            "b_empty=\r\nb_zero=0\r\nb_no=no\r\nb_00=00\r\nb_false=false\r\nb_one=1\r\n"
            "f=2.5\r\nfbad=x\r\n");
  CIniFileEx ini(path);
  EXPECT_EQ(ini.GetInt("S", "abc", 5), 0);
  EXPECT_EQ(ini.GetInt("S", "spaced", 5), 1935);
  EXPECT_EQ(ini.GetInt("S", "neg", 5), -12);
  EXPECT_EQ(ini.GetInt("S", "plus", 5), 7);
  EXPECT_EQ(ini.GetInt("S", "missing", -5), -5);
  struct {
    const char* key;
    bool def;
    bool expected;
  } bools[] = {{"b_empty", true, true},  {"b_empty", false, false}, {"missing", true, true},
               {"b_zero", true, false},  {"b_no", false, true},     {"b_00", false, true},
               {"b_false", false, true}, {"b_one", false, true}};
  for (const auto& b : bools) {
    SCOPED_TRACE(b.key);
    EXPECT_EQ(ini.GetBool("S", b.key, b.def), b.expected);
  }
  EXPECT_FLOAT_EQ(ini.GetFloat("S", "f", 1.0f), 2.5f);
  EXPECT_FLOAT_EQ(ini.GetFloat("S", "fbad", 1.0f), 0.0f);
  EXPECT_FLOAT_EQ(ini.GetFloat("S", "missing", 1.25f), 1.25f);
}

TEST(IniFile, LongValueIsCutTo2047) {
  vvtest::TempDir dir;
  std::string path = dir.file("l.ini");
  std::string value(3000, 'v');
  value[2046] = 'E';
  WriteText(path, "[S]\nK=" + value + "\n");
  std::string got = CIniFileEx(path).GetString("S", "K", "");
  ASSERT_EQ(got.size(), 2047u);
  EXPECT_EQ(got.back(), 'E');
}

TEST(IniFile, WritesInPlaceKeepingEverythingElse) {
  const std::string original =
      "; settings\n"
      "[IXO_SETUP]\n"
      "host = old\n"
      "PORT=1\n"
      "\n"
      "; before db\n"
      "[DBCONF]\n"
      "DB_IP=1.2.3.4\n"
      "DB_NAME=x\n";
  struct Case {
    const char* name;
    const char* section;
    const char* key;    // null: delete the section
    const char* value;  // null: delete the key
    const char* expected;
  } cases[] = {
      {"replace in place, original key spelling kept", "ixo_setup", "HOST", "new",
       "; settings\n[IXO_SETUP]\nhost=new\nPORT=1\n\n; before db\n[DBCONF]\nDB_IP=1.2.3.4\nDB_NAME=x\n"},
      {"new key goes after the section's last key", "IXO_SETUP", "KEY", "k",
       "; settings\n[IXO_SETUP]\nhost = old\nPORT=1\nKEY=k\n\n; before db\n[DBCONF]\nDB_IP=1.2.3.4\nDB_NAME=x\n"},
      {"empty value writes KEY=", "DBCONF", "DB_IP", "",
       "; settings\n[IXO_SETUP]\nhost = old\nPORT=1\n\n; before db\n[DBCONF]\nDB_IP=\nDB_NAME=x\n"},
      {"new section appended", "START_OPTION", "AUTO_FORWARD", "1",
       "; settings\n[IXO_SETUP]\nhost = old\nPORT=1\n\n; before db\n[DBCONF]\nDB_IP=1.2.3.4\nDB_NAME=x\n"
       "[START_OPTION]\nAUTO_FORWARD=1\n"},
      {"no value deletes the key", "dbconf", "db_ip", nullptr,
       "; settings\n[IXO_SETUP]\nhost = old\nPORT=1\n\n; before db\n[DBCONF]\nDB_NAME=x\n"},
      {"no key deletes the section", "IXO_SETUP", nullptr, nullptr,
       "; settings\n[DBCONF]\nDB_IP=1.2.3.4\nDB_NAME=x\n"},
      {"deleting what is missing changes nothing", "NOPE", "X", nullptr, nullptr},
      {"a line break cannot plant a key", "DBCONF", "DB_NAME", "y\nDB_IP=evil",
       "; settings\n[IXO_SETUP]\nhost = old\nPORT=1\n\n; before db\n[DBCONF]\nDB_IP=1.2.3.4\nDB_NAME=y\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    vvtest::TempDir dir;
    std::string path = dir.file("w.ini");
    WriteText(path, original);
    CIniFileEx ini(path);
    EXPECT_TRUE(ini.WriteString(c.section, c.key, c.value));
    EXPECT_EQ(vvtest::ReadFileText(path), c.expected ? c.expected : original);
  }
}

TEST(IniFile, TypedWritesAndRoundTrip) {
  vvtest::TempDir dir;
  std::string path = dir.file("conf/system.ini");
  CIniFileEx ini(path);
  EXPECT_FALSE(ini.WriteInt("IXO_SETUP", "PORT", 1));  // no folder: the write fails
  ASSERT_EQ(mkdir(dir.file("conf").c_str(), 0755), 0);
  EXPECT_TRUE(ini.WriteInt("IXO_SETUP", "PORT", 1935));
  EXPECT_TRUE(ini.WriteString("IXO_SETUP", "HOST", "ixo.local"));
  EXPECT_TRUE(ini.WriteFloat("X", "F", 0.5f));
  EXPECT_TRUE(ini.WriteString("START_OPTION", "AUTO_FORWARD", "1"));
  EXPECT_TRUE(ini.WriteString("RECORD", "DEFAULT_PATH", "/data/rec/今天"));
  EXPECT_EQ(vvtest::ReadFileText(path),
            "[IXO_SETUP]\nPORT=1935\nHOST=ixo.local\n[X]\nF=0.500000\n[START_OPTION]\nAUTO_FORWARD=1\n"
            "[RECORD]\nDEFAULT_PATH=/data/rec/今天\n");
  EXPECT_EQ(ini.GetInt("ixo_setup", "port", 0), 1935);
  EXPECT_TRUE(ini.GetBool("START_OPTION", "AUTO_FORWARD", false));
  EXPECT_EQ(ini.GetString("RECORD", "DEFAULT_PATH", ""), "/data/rec/今天");

  std::vector<std::string> names{"stale"};
  EXPECT_TRUE(ini.GetSectionNames(names));
  EXPECT_EQ(names, (std::vector<std::string>{"IXO_SETUP", "X", "START_OPTION", "RECORD"}));
  EXPECT_TRUE(ini.GetKeyNames("ixo_setup", names));
  EXPECT_EQ(names, (std::vector<std::string>{"PORT", "HOST"}));
  EXPECT_FALSE(ini.GetKeyNames("none", names));
  EXPECT_TRUE(names.empty());

  EXPECT_TRUE(ini.DeleteKey("IXO_SETUP", "PORT"));
  EXPECT_EQ(ini.GetInt("IXO_SETUP", "PORT", 77), 77);
  EXPECT_TRUE(ini.DeleteSection("x"));
  EXPECT_EQ(ini.GetString("X", "F", "gone"), "gone");
}

TEST(IniFile, NameListsOfEmptyAndMissingFiles) {
  vvtest::TempDir dir;
  WriteText(dir.file("empty.ini"), "");
  for (const char* name : {"empty.ini", "missing.ini"}) {
    SCOPED_TRACE(name);
    CIniFileEx ini(dir.file(name));
    std::vector<std::string> names{"stale"};
    EXPECT_FALSE(ini.GetSectionNames(names));
    EXPECT_TRUE(names.empty());
  }
}

TEST(IniFile, ReplacesAtomicallyThroughLinkKeepingMode) {
  vvtest::TempDir dir;
  ASSERT_EQ(mkdir(dir.file("real").c_str(), 0755), 0);
  std::string target = dir.file("real/system.ini");
  WriteText(target, "[A]\nK=0\n; keep me\n");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  std::string link = dir.file("system.ini");
  ASSERT_EQ(symlink("real/system.ini", link.c_str()), 0);

  CIniFileEx ini(link);
  EXPECT_TRUE(ini.WriteString("A", "K", "1"));
  struct stat st;
  ASSERT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced by a file";
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(vvtest::ReadFileText(target), "[A]\nK=1\n; keep me\n");

  // A reader running beside a writer always sees a whole file.
  std::atomic<bool> stop{false};
  std::atomic<int> torn{0}, reads{0};
  std::thread reader([&] {
    while (!stop) {
      std::string text = vvtest::ReadFileText(target);
      if (text.find("; keep me\n") == std::string::npos || text.compare(0, 6, "[A]\nK=") != 0) ++torn;
      ++reads;
    }
  });
  // The writes go on until the reader has looked at the file often enough
  // while they ran (however the threads are scheduled), or a minute passes.
  EXPECT_TRUE(vvtest::WaitFor([&] { return reads.load() > 0; }, std::chrono::seconds(60)));
  std::string big(4000, 'x');
  int firstReads = reads.load();
  auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  bool written = true;
  for (int i = 0; written && (i < 200 || (reads.load() - firstReads < 200 && std::chrono::steady_clock::now() < until));
       ++i)
    written = ini.WriteString("A", "K", (i % 2 ? big : std::string("1")).c_str());
  EXPECT_TRUE(written);
  stop = true;
  reader.join();
  EXPECT_GT(reads.load(), 0);
  EXPECT_EQ(torn.load(), 0);
  // No temporary file is left behind.
  EXPECT_EQ(vvtest::Run("ls -A " + vvtest::ShellQuote(dir.file("real"))).output, "system.ini\n");
}

TEST(ProgramPaths, FolderOfExecutableAndConfig) {
  SetAppDir("");
  EXPECT_EQ(GetAppDir(), std::string(VV_BINARY_DIR) + "/tests");
  EXPECT_EQ(ProgramDirectory(), std::string(VV_BINARY_DIR) + "/tests/");
  EXPECT_EQ(GetConfigPath(), std::string(VV_BINARY_DIR) + "/tests/conf/system.ini");

  vvtest::TempDir dir;
  SetAppDir(dir.path() + "/");
  EXPECT_EQ(GetAppDir(), dir.path());
  EXPECT_EQ(GetConfigPath(), dir.path() + "/conf/system.ini");
  std::string temp = MakeTempFolder();
  EXPECT_EQ(temp, dir.path() + "/temp");
  struct stat st;
  EXPECT_TRUE(stat(temp.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
  EXPECT_EQ(MakeTempFolder(), temp);  // existing folder: same path, no failure

  // A missing settings file gives every default the program relies on.
  CIniFileEx ini(GetConfigPath());
  EXPECT_EQ(ini.GetString("IXO_SETUP", "HOST", ""), "");
  EXPECT_EQ(ini.GetInt("IXO_SETUP", "PORT", 0), 0);
  EXPECT_EQ(ini.GetInt("DBCONF", "DB_OPTION", 0), 0);
  EXPECT_EQ(ini.GetString("DBCONF", "DB_IP", "127.0.0.1"), "127.0.0.1");
  EXPECT_FALSE(ini.GetBool("START_OPTION", "AUTO_FORWARD", false));
  EXPECT_EQ(ini.GetInt("RECORD", "DEFAULT_FILE_TYPE", 1), 1);
  SetAppDir("");
}

TEST(IniFile, ConcurrentWritersLoseNoUpdate) {
  vvtest::TempDir dir;
  std::string path = dir.file("c.ini");
  std::vector<std::thread> writers;
  for (int t = 0; t < 4; ++t)
    writers.emplace_back([&path, t] {
      CIniFileEx ini(path);
      for (int i = 0; i < 25; ++i) ini.WriteInt("S" + std::to_string(t % 2), "K" + std::to_string(t * 100 + i), i);
    });
  for (auto& w : writers) w.join();
  CIniFileEx ini(path);
  for (int t = 0; t < 4; ++t)
    for (int i = 0; i < 25; ++i)
      EXPECT_EQ(ini.GetInt("S" + std::to_string(t % 2), "K" + std::to_string(t * 100 + i), -1), i) << t << " " << i;
}

TEST(IniFile, NameListsStopAtTheirBlock) {
  // Names are handed over in 16384 characters, each with its zero and the
  // list with an empty name: 2730 names of five characters fit, no more.
  vvtest::TempDir dir;
  std::string text;
  char name[16];
  for (int i = 0; i < 3000; ++i) {
    snprintf(name, sizeof(name), "S%04d", i);
    text += std::string("[") + name + "]\nK=1\n";
  }
  WriteText(dir.file("many.ini"), text);
  std::vector<std::string> names;
  EXPECT_TRUE(CIniFileEx(dir.file("many.ini")).GetSectionNames(names));
  ASSERT_EQ(names.size(), 2730u);
  EXPECT_EQ(names.front(), "S0000");
  EXPECT_EQ(names.back(), "S2729");
}
