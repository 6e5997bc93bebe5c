#pragma once
// The console's main window: menu, toolbar (with the CPU load panel), status
// bar with the running-time clock, tray icon with its menu, and a client
// area split into the left pane (tabs) and the right pane (task status).
// Minimising puts it in the tray (when there is one); closing asks first.
#include <QMainWindow>
#include <QPointer>
#include <QSystemTrayIcon>
#include <functional>

#include "console/logic/RunningClock.h"
#include "console/ui/PaneViews.h"

class IPrompt;
class QLabel;
class QMenu;
class QTimer;

namespace vvconsole {

class CSFToolBar;
class CKHSplitterWnd;

class CMainFrame : public QMainWindow, public IPaneHost {
  Q_OBJECT

 public:
  explicit CMainFrame(QWidget* parent = nullptr);
  ~CMainFrame() override;

  // Builds the bars, the tray icon and the client area with its panes (the
  // panes restore the running state). False when a part cannot be made.
  bool Create();

  // Toolbar mode: 0 until the left pane selects a tab, then 4, 5 or 6.
  void SetToolbarMode(int mode) override;
  int ToolbarMode() const { return mode_; }
  void ShowRightColumn(bool show) override;
  QWidget* StatusView() override;

  // The question before closing ("确定退出吗？"); null: message boxes.
  void SetPrompt(IPrompt* prompt) { prompt_ = prompt; }
  // Run once when the frame closes for good (a confirmed close or a
  // termination signal), before the frame goes away.
  void SetShutdownHandler(std::function<void()> handler) { shutdown_ = std::move(handler); }
  // Whether minimising may hide the window (default: a tray is there).
  void SetTrayAvailable(std::function<bool()> available) { trayAvailable_ = std::move(available); }
  // Closes without the question (termination signals).
  void CloseWithoutQuestion();
  bool IsClosing() const { return closing_; }

  // Brings the window back from the tray as it was before.
  void RestoreFromTray();
  // The status bar clock; the first tick comes 5 s after start.
  void SetClockStart(int64_t startMs) { clock_ = RunningClock(startMs); }
  void OnTimer();
  // Runs a frame command by its id (toolbar, menus, tray).
  void OnCommand(int id);

  CSFToolBar* ToolBar() const { return toolBar_; }
  CKHSplitterWnd* Splitter() const { return splitter_; }
  CLeftPaneView* LeftPane() const { return leftPane_; }
  CRightPaneView* RightPane() const { return rightPane_; }
  QLabel* ClockPane() const { return clockPane_; }
  QTimer* ClockTimer() const { return clockTimer_; }
  QSystemTrayIcon* Tray() const { return tray_; }
  QMenu* TrayMenu() const { return trayMenu_; }
  QMenu* SourceMenu() const { return sourceMenu_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void SetupToolbar(int mode);
  bool CreateClient();
  void UpdateTrayMenu();
  void OnTrayActivated(QSystemTrayIcon::ActivationReason reason);

  CSFToolBar* toolBar_ = nullptr;
  CKHSplitterWnd* splitter_ = nullptr;
  CLeftPaneView* leftPane_ = nullptr;
  CRightPaneView* rightPane_ = nullptr;
  QLabel* clockPane_ = nullptr;
  QTimer* clockTimer_ = nullptr;
  QSystemTrayIcon* tray_ = nullptr;
  QMenu* trayMenu_ = nullptr;
  QMenu* sourceMenu_ = nullptr;
  RunningClock clock_;
  int mode_ = 0;
  IPrompt* prompt_ = nullptr;
  std::function<void()> shutdown_;
  std::function<bool()> trayAvailable_;
  bool closing_ = false;
  bool created_ = false;
};

}  // namespace vvconsole
