#include "console/ui/MainFrame.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QProcess>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>

#include "console/logic/FrameModel.h"
#include "console/ui/AboutDlg.h"
#include "console/ui/ConsoleWindows.h"
#include "console/ui/FlatSplitter.h"
#include "console/ui/MessageBox.h"
#include "console/ui/SFToolBar.h"

namespace vvconsole {

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

}  // namespace

CMainFrame::CMainFrame(QWidget* parent) : QMainWindow(parent) {
  setWindowTitle(QStringLiteral("Velvanet"));
  setWindowIcon(QIcon(QStringLiteral(":/console/velvanet.svg")));
  trayAvailable_ = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
}

CMainFrame::~CMainFrame() {
  if (tray_) tray_->hide();
}

bool CMainFrame::Create() {
  if (created_) return true;
  created_ = true;

  // Menu.
  QMenu* view = menuBar()->addMenu(QStringLiteral("视图(&V)"));
  QAction* showToolbar = view->addAction(QStringLiteral("工具栏(&T)"));
  showToolbar->setObjectName(QString::number(kIdViewToolbar));
  showToolbar->setCheckable(true);
  showToolbar->setChecked(true);
  QAction* showStatus = view->addAction(QStringLiteral("状态栏(&S)"));
  showStatus->setObjectName(QString::number(kIdViewStatusBar));
  showStatus->setCheckable(true);
  showStatus->setChecked(true);
  QMenu* help = menuBar()->addMenu(QStringLiteral("帮助(&H)"));
  QAction* helpFile = help->addAction(QStringLiteral("帮  助..."));
  helpFile->setObjectName(QString::number(kIdHelp));
  connect(helpFile, &QAction::triggered, this, [this] { OnCommand(kIdHelp); });
  QAction* about = help->addAction(QStringLiteral("关于 Velvanet(&A)..."));
  about->setObjectName(QString::number(kIdAppAbout));
  connect(about, &QAction::triggered, this, [this] { OnCommand(kIdAppAbout); });

  // Toolbar.
  toolBar_ = new CSFToolBar(this);
  toolBar_->setObjectName(QString::number(kIdViewToolbar));
  toolBar_->setWindowTitle(QStringLiteral("工具条"));
  toolBar_->setMovable(false);
  toolBar_->setFloatable(false);
  toolBar_->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  toolBar_->setIconSize(QSize(32, 32));
  toolBar_->toggleViewAction()->setVisible(false);
  addToolBar(Qt::TopToolBarArea, toolBar_);
  connect(showToolbar, &QAction::toggled, toolBar_, &QWidget::setVisible);
  sourceMenu_ = new QMenu(this);
  for (const MenuEntry& e : vvconsole::SourceMenu()) {
    QAction* a = sourceMenu_->addAction(Q(e.text));
    a->setObjectName(QString::number(e.id));
    int id = e.id;
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
  }
  SetupToolbar(0);

  // Status bar: the message pane, then the clock.
  QStatusBar* status = statusBar();
  status->setObjectName(QString::number(kIdViewStatusBar));
  clockPane_ = new QLabel(status);
  clockPane_->setObjectName(QStringLiteral("runningClock"));
  status->addPermanentWidget(clockPane_);
  connect(showStatus, &QAction::toggled, status, &QWidget::setVisible);

  // Tray icon and its menu.
  tray_ = new QSystemTrayIcon(windowIcon(), this);
  tray_->setToolTip(QString::fromUtf8(kTrayTip));
  trayMenu_ = new QMenu(this);
  for (const MenuEntry& e : vvconsole::TrayMenu()) {
    QAction* a = trayMenu_->addAction(Q(e.text));
    a->setObjectName(QString::number(e.id));
    int id = e.id;
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
  }
  connect(trayMenu_, &QMenu::aboutToShow, this, &CMainFrame::UpdateTrayMenu);
  tray_->setContextMenu(trayMenu_);
  connect(tray_, &QSystemTrayIcon::activated, this, &CMainFrame::OnTrayActivated);
  tray_->show();

  clockTimer_ = new QTimer(this);
  clockTimer_->setInterval(RunningClock::kFirstTickMs);
  connect(clockTimer_, &QTimer::timeout, this, &CMainFrame::OnTimer);
  clockTimer_->start();

  return CreateClient();
}

bool CMainFrame::CreateClient() {
  // A third of the frame for the left pane; the right one takes the rest.
  QSize frame = frameGeometry().size();
  QSize pane(frame.width() / 3, frame.height() - 16);
  splitter_ = new CKHSplitterWnd(this);
  if (!splitter_->CreateStatic(1, 2)) return false;
  rightPane_ = new CRightPaneView(splitter_);
  if (!splitter_->CreateView(0, 1, rightPane_, pane)) return false;
  leftPane_ = new CLeftPaneView(this, splitter_);
  if (!splitter_->CreateView(0, 0, leftPane_, pane)) return false;
  setCentralWidget(splitter_);
  rightPane_->OnInitialUpdate();
  leftPane_->OnInitialUpdate();
  return true;
}

void CMainFrame::SetupToolbar(int mode) {
  // clear() only takes the actions off the bar: they would stay its
  // children, a dozen more on every tab switch. None of them is running
  // here (the tabs, not the toolbar, change the mode).
  const QList<QAction*> old = toolBar_->actions();
  toolBar_->clear();
  qDeleteAll(old);
  for (const ToolbarButton& b : ToolbarButtons(mode)) {
    QAction* a = new QAction(Q(b.text), toolBar_);
    a->setObjectName(QString::number(b.id));
    a->setIconText(Q(b.text));  // kept as is: the blanks widen the button
    a->setData(b.image);
    a->setEnabled(b.enabled);
    int id = b.id;
    connect(a, &QAction::triggered, this, [this, id] { OnCommand(id); });
    toolBar_->addAction(a);
    if (QToolButton* button = toolBar_->Button(b.id)) {
      button->setAutoRaise(true);
      if (b.dropDown) {
        button->setMenu(sourceMenu_);
        button->setPopupMode(QToolButton::MenuButtonPopup);
      }
    }
    toolBar_->addSeparator();
  }
  std::vector<QPixmap> images = ToolbarImages(32);
  toolBar_->SetImageList(CSFToolBar::kNormal, images);
  toolBar_->SetImageList(CSFToolBar::kHot, images);
}

void CMainFrame::SetToolbarMode(int mode) {
  SetupToolbar(mode);
  toolBar_->update();
  mode_ = mode;
}

void CMainFrame::ShowRightColumn(bool show) {
  if (!splitter_) return;
  if (show)
    splitter_->ShowColumn();
  else
    splitter_->HideColumn(1);
}

QWidget* CMainFrame::StatusView() { return rightPane_ ? rightPane_->StatusView() : nullptr; }

void CMainFrame::OnTimer() {
  clockTimer_->setInterval(RunningClock::kTickMs);
  clockPane_->setText(Q(clock_.Text()));
}

void CMainFrame::OnCommand(int id) {
  switch (id) {
    case kIdNewChannel:
      if (NewChannelOpensDeviceDialog(mode_)) RunDeviceSourceDialog(this, 0);
      break;
    case kIdDeviceSource:
      RunDeviceSourceDialog(this, 0);
      break;
    case kIdNetSource:
      RunNetSourceDialog(this, 0);
      break;
    case kIdFileSource:
      RunFileSourceDialog(this, 0);
      break;
    case kIdOtherSource:
      break;
    case kIdSystemSettings:
    case kIdTraySettings:
      RunSetupSheet(this);
      break;
    case kIdOnlineUsers:
      if (OnlineUsersEnabled(mode_)) RunOnlineUserDialog(this);
      break;
    case kIdPlay:
      // Found on PATH, started on its own; a failure is not reported.
      QProcess::startDetached(QString::fromUtf8(kPlayerProgram), {});
      break;
    case kIdShowLog:
      RunLogDialog(this);
      break;
    case kIdAppExit:
    case kIdTrayExit:
      close();
      break;
    case kIdHelp: {
      std::string path = HelpFilePath();
      if (!path.empty()) QProcess::startDetached(QStringLiteral("xdg-open"), {Q(path)});
      break;
    }
    case kIdAppAbout: {
      CAboutDlg dlg(this);
      dlg.exec();
      break;
    }
    default:
      break;
  }
}

void CMainFrame::UpdateTrayMenu() {
  // While a dialog holds the operator's attention, the tray cannot open
  // another one nor close the program under it.
  bool free = QApplication::activeModalWidget() == nullptr;
  for (QAction* a : trayMenu_->actions()) a->setEnabled(free);
}

void CMainFrame::OnTrayActivated(QSystemTrayIcon::ActivationReason reason) {
  if (reason == QSystemTrayIcon::DoubleClick) RestoreFromTray();
}

void CMainFrame::RestoreFromTray() {
  setWindowState(windowState() & ~Qt::WindowMinimized);
  show();
  raise();
  activateWindow();
}

void CMainFrame::CloseWithoutQuestion() {
  closing_ = true;
  close();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (!closing_) {
    MessageBoxPrompt boxes(this);
    IPrompt& prompt = prompt_ ? *prompt_ : static_cast<IPrompt&>(boxes);
    if (!prompt.Ask(kCloseQuestion)) {
      event->ignore();
      return;
    }
    closing_ = true;
  }
  if (tray_) tray_->hide();
  event->accept();
  if (shutdown_) {
    auto handler = std::move(shutdown_);
    shutdown_ = nullptr;
    handler();
  }
}

void CMainFrame::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() != QEvent::WindowStateChange || !isMinimized()) return;
  // Without a tray a hidden window could never be reached again.
  if (tray_ && tray_->isVisible() && trayAvailable_ && trayAvailable_()) {
    QTimer::singleShot(0, this, [this] {
      if (isMinimized()) hide();
    });
  }
}

}  // namespace vvconsole
