// The autostart entry: what counts as enabled, and program paths that must
// survive the entry's quoting as a desktop session (and a shell) reads it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

#include "console/logic/AutoRun.h"
#include "tests/tools/TestUtil.h"

using vvtest::ShellQuote;
using vvtest::TempDir;

namespace {

class AutoRunTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("XDG_CONFIG_HOME");
    hadOld_ = old != nullptr;
    if (old) old_ = old;
    setenv("XDG_CONFIG_HOME", dir_.file("config").c_str(), 1);
  }
  void TearDown() override {
    if (hadOld_)
      setenv("XDG_CONFIG_HOME", old_.c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }
  void WriteEntry(const std::string& text) {
    vvtest::Run("mkdir -p " + ShellQuote(dir_.file("config/autostart")));
    std::ofstream(vvconsole::AutoStartFilePath()) << text;
  }
  std::string ExecLine() {
    std::string text = vvtest::ReadFileText(vvconsole::AutoStartFilePath());
    size_t at = text.find("\nExec=");
    if (at == std::string::npos) return "";
    size_t end = text.find('\n', at + 1);
    return text.substr(at + 6, end - at - 6);
  }
  TempDir dir_{"vv-autorun"};
  bool hadOld_ = false;
  std::string old_;
};

}  // namespace

TEST_F(AutoRunTest, EntryPathFollowsXdgConfigHome) {
  EXPECT_EQ(vvconsole::AutoStartFilePath(), dir_.file("config/autostart/velvanet.desktop"));
  // A relative XDG_CONFIG_HOME is ignored in favour of ~/.config.
  setenv("XDG_CONFIG_HOME", "relative/dir", 1);
  std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  EXPECT_EQ(vvconsole::AutoStartFilePath(), home + "/.config/autostart/velvanet.desktop");
}

TEST_F(AutoRunTest, EnabledOnlyWithAnExecAndNotHidden) {
  struct Case {
    const char* text;
    bool enabled;
  } cases[] = {
      {"[Desktop Entry]\nType=Application\nExec=/opt/vv/velvanet\n", true},
      {"[Desktop Entry]\nExec=\n", false},
      {"[Desktop Entry]\nExec=   \n", false},
      {"[Desktop Entry]\nName=Velvanet\n", false},
      {"[Desktop Entry]\nExec=/opt/vv/velvanet\nHidden=true\n", false},
      {"[Desktop Entry]\nExec=/opt/vv/velvanet\nHidden=false\n", true},
      // Exec of another group does not count.
      {"[Desktop Action x]\nExec=/opt/vv/velvanet\n[Desktop Entry]\nName=x\n", false},
      {"", false},
  };
  EXPECT_FALSE(vvconsole::IsAutoRunEnabled());  // no file at all
  for (const Case& c : cases) {
    WriteEntry(c.text);
    EXPECT_EQ(vvconsole::IsAutoRunEnabled(), c.enabled) << c.text;
  }
}

TEST_F(AutoRunTest, EnableWritesAnEntryAndDisableRemovesIt) {
  // The autostart folder does not exist yet: it is made.
  ASSERT_TRUE(vvconsole::SetAutoRun(true, "/opt/velvanet/velvanet"));
  EXPECT_TRUE(vvconsole::IsAutoRunEnabled());
  EXPECT_EQ(ExecLine(), "/opt/velvanet/velvanet");
  std::string text = vvtest::ReadFileText(vvconsole::AutoStartFilePath());
  EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
  EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;

  ASSERT_TRUE(vvconsole::SetAutoRun(false));
  EXPECT_FALSE(vvconsole::IsAutoRunEnabled());
  struct stat st;
  EXPECT_NE(stat(vvconsole::AutoStartFilePath().c_str(), &st), 0);
  // Disabling with no entry reports failure and leaves nothing behind.
  EXPECT_FALSE(vvconsole::SetAutoRun(false));
  EXPECT_NE(stat(vvconsole::AutoStartFilePath().c_str(), &st), 0);
  // The program folder's executable by default.
  ASSERT_TRUE(vvconsole::SetAutoRun(true));
  EXPECT_EQ(vvconsole::ExecProgram(ExecLine()), vvconsole::ProgramExecutablePath());
}

TEST_F(AutoRunTest, UnwritableFolderFailsWithoutAnEntry) {
  // A file where the autostart folder should be.
  vvtest::Run("mkdir -p " + ShellQuote(dir_.file("config")) + " && touch " + ShellQuote(dir_.file("config/autostart")));
  EXPECT_FALSE(vvconsole::SetAutoRun(true, "/opt/velvanet/velvanet"));
  EXPECT_FALSE(vvconsole::IsAutoRunEnabled());
}

TEST_F(AutoRunTest, ProgramPathsSurviveQuoting) {
  const std::string paths[] = {
      "/opt/velvanet/velvanet",
      "/home/op/My Programs/velvanet",
      "/srv/a\"b/velvanet",
      "/srv/$HOME/`id`/velvanet",
      "/srv/back\\slash/velvanet",
      "/srv/100%/velvanet",
      "/srv/it's;(x)&y|z*?#~<>/velvanet",
      "/srv/视频/直播 服务/velvanet",
  };
  for (const std::string& p : paths) {
    ASSERT_TRUE(vvconsole::SetAutoRun(true, p)) << p;
    std::string exec = ExecLine();
    EXPECT_EQ(vvconsole::ExecProgram(exec), p) << exec;
    // After the string escapes are undone and %% is made %, the Exec value's
    // quoting is the shell's double-quote rule: sh must read back one word.
    if (p.find('%') != std::string::npos) continue;
    std::string unescaped;
    for (size_t i = 0; i < exec.size(); ++i) {
      if (exec[i] == '\\' && i + 1 < exec.size() && exec[i + 1] == '\\') {
        unescaped += '\\';
        ++i;
      } else {
        unescaped += exec[i];
      }
    }
    vvtest::CommandResult r = vvtest::Run("sh -c " + ShellQuote("printf '%s|' " + unescaped));
    EXPECT_EQ(r.output, p + "|") << exec;
  }
}
