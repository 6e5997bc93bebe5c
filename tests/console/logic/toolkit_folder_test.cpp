// The folder chooser's results, callbacks and long paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <vector>

#include "console/logic/toolkit/FolderChooserModel.h"
#include "tests/tools/TestUtil.h"

namespace {

// Stands in for the browser window: the folder browser of the desktop has
// no peer without a display; the Qt one is tested with the widgets.
class ScriptedBrowser : public IFolderBrowser {
 public:
  std::optional<FolderItem> result;
  std::vector<FolderItem> selections;  // walked through before closing
  std::vector<std::string> log;

  std::optional<FolderItem> Run(FolderChooser& chooser) override {
    chooser.Callback(*this, kBffmInitialized, nullptr);
    for (const auto& item : selections) chooser.Callback(*this, kBffmSelChanged, &item);
    return result;
  }
  void SetStatusText(const std::string& t) override { log.push_back("status:" + t); }
  void EnableOk(bool e) override { log.push_back(e ? "ok:on" : "ok:off"); }
  void SetSelection(const std::string& p) override { log.push_back("select:" + p); }
  void SetOkText(const std::string& t) override { log.push_back("oktext:" + t); }
  void SetExpanded(const std::string& p) override { log.push_back("expand:" + p); }
};

TEST(FolderChooserTest, ResultCodes) {
  struct Case {
    const char* what;
    std::optional<FolderItem> result;
    int code;
    std::string path;
  } cases[] = {
      {"chosen", FolderItem{"file:///srv/media", "/srv/media"}, kFolderIdOk, "/srv/media"},
      {"cancelled", std::nullopt, kFolderIdCancel, "/before"},
      {"virtual folder", FolderItem{"trash:///", std::nullopt}, kFolderNoPath, "/before"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FolderChooser chooser("选择文件夹", std::nullopt, 0);
    ScriptedBrowser first;
    first.result = FolderItem{"file:///before", "/before"};
    ASSERT_EQ(chooser.DoModal(first), kFolderIdOk);
    ScriptedBrowser b;
    b.result = c.result;
    EXPECT_EQ(chooser.DoModal(b), c.code);
    EXPECT_EQ(chooser.GetFolderPath(), c.path);
  }
}

TEST(FolderChooserTest, CallbacksSelectTheStartFolderAndShowStatus) {
  ScriptedBrowser b;
  b.selections = {{"file:///a", "/a"}, {"net:///x", std::nullopt}, {"file:///b", "/b"}};
  FolderChooser withStatus("t", std::string("/start"), kBifStatusText);
  withStatus.DoModal(b);
  EXPECT_EQ(b.log, (std::vector<std::string>{"select:/start", "status:/a", "status:/b"}));

  ScriptedBrowser quiet;
  quiet.selections = b.selections;
  FolderChooser plain("t", std::nullopt, 0);
  plain.DoModal(quiet);
  EXPECT_TRUE(quiet.log.empty());
}

TEST(FolderChooserTest, CommandsReachOnlyTheOpenBrowser) {
  struct Custom : FolderChooser {
    using FolderChooser::FolderChooser;
    int beeps = 0;
    bool unknown = false;
    void OnInitialized() override {
      SetOkText("选择");
      EnableOk(false);
      SetExpanded("/srv");
    }
    void OnIUnknown() override { unknown = true; }
    void ErrorBeep() override { ++beeps; }
  } chooser("t", std::nullopt, 0);
  ScriptedBrowser b;
  chooser.DoModal(b);
  EXPECT_EQ(b.log, (std::vector<std::string>{"oktext:选择", "ok:off", "expand:/srv"}));
  chooser.SetStatusText("nobody listens");  // no browser open
  EXPECT_EQ(b.log.size(), 3u);
  EXPECT_EQ(chooser.Callback(b, kBffmValidateFailed, nullptr, "nosuch"), 1);
  EXPECT_EQ(chooser.beeps, 1);
  EXPECT_EQ(chooser.Callback(b, kBffmIUnknown, nullptr), 0);
  EXPECT_TRUE(chooser.unknown);
  EXPECT_EQ(chooser.Callback(b, 4, nullptr), 0);  // other codes answer 0
}

TEST(FolderChooserTest, RootFolderAndPathsOfAnyLength) {
  vvtest::TempDir dir("vvfolder");
  std::string deep = dir.path();
  while (deep.size() < 700) deep += "/" + std::string(60, 'd');
  std::filesystem::create_directories(deep);

  FolderChooser chooser("t", deep, kBifStatusText);
  EXPECT_EQ(chooser.StartFolder(), deep);
  EXPECT_TRUE(chooser.SetRootFolder(deep + "/"));
  EXPECT_EQ(chooser.RootFolder(), deep);
  EXPECT_FALSE(chooser.SetRootFolder(deep + "/missing"));
  EXPECT_EQ(chooser.RootFolder(), deep);  // the earlier root stays
  EXPECT_FALSE(chooser.SetRootFolder(std::string()));
  EXPECT_TRUE(chooser.SetRootFolder(std::nullopt));
  EXPECT_FALSE(chooser.RootFolder());

  ScriptedBrowser b;
  b.selections = {{"file://" + deep, deep}};
  b.result = FolderItem{"file://" + deep, deep};
  EXPECT_EQ(chooser.DoModal(b), kFolderIdOk);
  EXPECT_EQ(chooser.GetFolderPath(), deep);
  EXPECT_EQ(b.log.back(), "status:" + deep);
}

}  // namespace
