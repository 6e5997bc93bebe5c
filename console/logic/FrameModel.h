#pragma once
// What the main frame shows and does, without widgets: the toolbar's buttons
// for each mode, the left pane's tabs and the views each tab shows, the
// texts of the frame's questions and commands.
#include <string>
#include <vector>

namespace vvconsole {

// ---- Control ids of the frame.
enum FrameId {
  kIdNewChannel = 32793,
  kIdShowLog = 32794,
  kIdSystemSettings = 32795,
  kIdOnlineUsers = 32797,
  kIdPlay = 32798,
  kIdAppExit = 57665,
  kIdTrayExit = 32819,
  kIdTraySettings = 32820,
  kIdDeviceSource = 32869,
  kIdNetSource = 32870,
  kIdFileSource = 32871,
  kIdOtherSource = 32872,
  kIdViewToolbar = 59392,  // also the toolbar's own id
  kIdViewStatusBar = 59393,  // also the status bar's own id
  kIdReBar = 59396,
  kIdHelp = 57670,
  kIdAppAbout = 57664,
  kIdPaneFirst = 59648,  // the splitter's first pane
  kIdTabControl = 1025,
  kIdPullView = 1099,
  kIdTransferView = 1100,
  kIdSourceView = 1114,
  kIdStatusView = 1116,
};

// ---- Toolbar. Mode 0 until the left pane selects its first tab, then the
// selected tab's mode (4, 5 or 6).
struct ToolbarButton {
  int id;
  std::string text;  // as shown: padded with three blanks on each side
  int image;         // index into the toolbar's six images
  bool enabled;
  bool dropDown;     // an arrow that opens the source menu
};
std::string PadButtonText(const std::string& text);
std::vector<ToolbarButton> ToolbarButtons(int mode);
// "在线用户" can be used only before the first tab selection.
bool OnlineUsersEnabled(int mode);
// The "新建频道" button opens the device source dialog only in mode 6.
bool NewChannelOpensDeviceDialog(int mode);
// The drop-down arrow opens the source menu for that button in any mode
// but 0.
bool DropDownOpensSourceMenu(int mode, int buttonId);

struct MenuEntry {
  int id;
  std::string text;
};
// The "新建频道" drop-down: "设备源", "网络源", "文件源", "其他源".
const std::vector<MenuEntry>& SourceMenu();
// The tray icon's menu: "系统设置...", "退   出".
const std::vector<MenuEntry>& TrayMenu();

// ---- Left pane tabs.
struct PaneTab {
  std::string text;
  int mode;
};
// "源列表" 6, "IXO拉流" 4, "转码" 5, in tab order.
const std::vector<PaneTab>& LeftPaneTabs();

// The views a mode shows; known is false for a mode no tab has (then
// nothing is changed).
struct PaneVisibility {
  bool known = false;
  bool rightColumn = false;
  bool pullView = false;
  bool transferView = false;
  bool sourceView = false;
  bool statusView = false;
};
PaneVisibility VisibilityForMode(int mode);

// Height of the tab strip under the left pane's views.
constexpr int kTabStripHeight = 20;

// ---- Texts.
extern const char* const kCloseQuestion;        // "确定退出吗？"
extern const char* const kAlreadyRunning;       // "应用程序已经在运行"
extern const char* const kDatabaseFailed;       // "连接数据库失败!"
extern const char* const kTrayTip;              // "Velvanet"
extern const char* const kCaption;              // the frame's caption
extern const char* const kPlayerProgram;        // "test.exe"
extern const char* const kHelpFile;             // "help.chm"
extern const char* const kVersionText;          // "版本号:2.2.0.1"

// The help file in the program folder; empty when there is none (then the
// help command does nothing).
std::string HelpFilePath();

// "Build: <date and time>" for the about box, from the compiler's
// __DATE__ ("Mmm dd yyyy") and __TIME__ ("hh:mm:ss"); the date and time are
// written "yyyy-mm-dd hh:mm:ss". An unreadable text is shown as it is.
std::string BuildLine(const char* date, const char* time);

}  // namespace vvconsole
