#include "console/logic/FrameModel.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>

#include "core/Paths.h"

namespace vvconsole {

const char* const kCloseQuestion = "确定退出吗？";
const char* const kAlreadyRunning = "应用程序已经在运行";
const char* const kDatabaseFailed = "连接数据库失败!";
const char* const kTrayTip = "Velvanet";
const char* const kCaption = "Velvanet-直播转发服务器";
const char* const kPlayerProgram = "test.exe";
const char* const kHelpFile = "help.chm";
const char* const kVersionText = "版本号:2.2.0.1";

std::string PadButtonText(const std::string& text) { return "   " + text + "   "; }

bool OnlineUsersEnabled(int mode) { return mode == 0; }
bool NewChannelOpensDeviceDialog(int mode) { return mode == 6; }
bool DropDownOpensSourceMenu(int mode, int buttonId) { return mode != 0 && buttonId == kIdNewChannel; }

std::vector<ToolbarButton> ToolbarButtons(int mode) {
  struct Row {
    int id;
    const char* text;
  };
  static const Row rows[] = {
      {kIdNewChannel, "新建频道"}, {kIdSystemSettings, "系统设置"}, {kIdOnlineUsers, "在线用户"},
      {kIdPlay, "播放"},           {kIdShowLog, "日志"},           {kIdAppExit, "退出"},
  };
  std::vector<ToolbarButton> buttons;
  int index = 0;
  for (const Row& r : rows) {
    ToolbarButton b{r.id, PadButtonText(r.text), index++, true, false};
    if (r.id == kIdOnlineUsers) b.enabled = OnlineUsersEnabled(mode);
    if (r.id == kIdNewChannel) b.dropDown = mode == 6;
    buttons.push_back(b);
  }
  return buttons;
}

const std::vector<MenuEntry>& SourceMenu() {
  static const std::vector<MenuEntry> menu = {
      {kIdDeviceSource, "设备源"}, {kIdNetSource, "网络源"}, {kIdFileSource, "文件源"}, {kIdOtherSource, "其他源"}};
  return menu;
}

const std::vector<MenuEntry>& TrayMenu() {
  static const std::vector<MenuEntry> menu = {{kIdTraySettings, "系统设置..."}, {kIdTrayExit, "退   出"}};
  return menu;
}

const std::vector<PaneTab>& LeftPaneTabs() {
  static const std::vector<PaneTab> tabs = {{"源列表", 6}, {"IXO拉流", 4}, {"转码", 5}};
  return tabs;
}

PaneVisibility VisibilityForMode(int mode) {
  PaneVisibility v;
  switch (mode) {
    case 4:
      v.known = true;
      v.pullView = true;
      break;
    case 5:
      v.known = true;
      v.transferView = true;
      break;
    case 6:
      v.known = true;
      v.rightColumn = true;
      v.sourceView = true;
      v.statusView = true;
      break;
    default:
      break;
  }
  return v;
}

std::string HelpFilePath() {
  std::string path = ProgramDirectory() + kHelpFile;
  struct stat st;
  if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return "";
  return path;
}

std::string BuildLine(const char* date, const char* time) {
  static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  char mon[4] = {0};
  int day = 0, year = 0, h = 0, m = 0, s = 0;
  int month = 0;
  if (date && time && std::sscanf(date, "%3s %d %d", mon, &day, &year) == 3 &&
      std::sscanf(time, "%d:%d:%d", &h, &m, &s) == 3) {
    for (int i = 0; i < 12; ++i)
      if (std::strcmp(mon, months[i]) == 0) month = i + 1;
  }
  char buf[96];
  if (month == 0 || day < 1 || day > 31 || h > 23 || m > 59 || s > 60) {
    std::snprintf(buf, sizeof(buf), "Build: %s %s", date ? date : "", time ? time : "");
  } else {
    std::snprintf(buf, sizeof(buf), "Build: %04d-%02d-%02d %02d:%02d:%02d", year, month, day, h, m, s);
  }
  return buf;
}

}  // namespace vvconsole
