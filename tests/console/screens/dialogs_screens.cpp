// Shots of the frame's dialogs, the CPU panel, the Ixo views and the
// hyperlink and check group controls.
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>
#include <fstream>

#include "console/ui/CheckGroup.h"
#include "console/ui/CpuNetInfoDlg.h"
#include "console/ui/HyperLink.h"
#include "console/ui/IxoStreamViews.h"
#include "console/ui/LogDlg.h"
#include "console/ui/OnlineUserDlg.h"
#include "console/ui/SetupSheet.h"
#include "core/IniFileEx.h"
#include "tests/console/screens/Screens.h"

using namespace vvconsole;

namespace {
void WriteSettings() {
  CIniFileEx ini(vvscreens::ProgramFolder() + "/conf/system.ini");
  ini.WriteString("IXO_SETUP", "HOST", "192.168.10.20");
  ini.WriteInt("IXO_SETUP", "PORT", 9100);
  ini.WriteString("IXO_SETUP", "KEY", "ixo-key-01");
  ini.WriteInt("START_OPTION", "AUTO_FORWARD", 1);
}
}  // namespace

VV_SCREEN("setup_sheet") {
  WriteSettings();
  return new CSetupSheet(QStringLiteral("设置"));
}

VV_SCREEN("setup_sheet_startup") {
  WriteSettings();
  auto* sheet = new CSetupSheet(QStringLiteral("设置"));
  sheet->Tabs()->setCurrentIndex(1);
  return sheet;
}

VV_SCREEN("log_dialog") {
  std::string path = vvscreens::ProgramFolder() + "/Velvanet.log";
  std::ofstream log(path, std::ios::trunc);
  log << "2026-12-10 09:00:00 [DEBUG]: Velvanet start\n"
      << "2026-12-10 09:00:01 [INFO]: register pull engine to 192.168.10.20:9100\n"
      << "2026-12-10 09:00:02 [WARN]: 连接IXO服务器失败，3秒后重试\n"
      << "2026-12-10 09:00:05 [INFO]: live source rtsp://192.168.1.64/main opened\n"
      << "2026-12-10 09:00:06 [ERROR]: 转发任务 7 推流失败: rtmp://127.0.0.1/live/a\n";
  log.close();
  return new CLogDlg(nullptr, path);
}

VV_SCREEN("cpu_panel") {
  auto* panel = new CCpuNetInfoDlg(nullptr, "/proc/stat");
  panel->resize(152, 52);
  panel->Bar()->SetText(QStringLiteral("37%"));
  panel->Bar()->SetPos(37);
  return panel;
}

VV_SCREEN("online_users") { return new COnlineUserDlg(); }

VV_SCREEN("ixo_pull_view") {
  auto* view = new CIxoPullStreamView(nullptr, [] {
    return std::vector<ixoview::Row>{
        {"1", "rtsp://192.168.1.64:554/Streaming/Channels/101", "512KB/S", "正在拉流"},
        {"2", "rtsp://192.168.1.64:554/Streaming/Channels/101", "0KB/S", "拉流失败"},
        {"1", "rtmp://127.0.0.1/live/studio", "1024KB/S", "正在拉流"},
    };
  });
  view->resize(560, 240);
  view->Rebuild();
  return view;
}

VV_SCREEN("ixo_transfer_view") {
  auto* view = new CIxoTransferStreamView(nullptr, [] {
    return std::vector<ixoview::Row>{
        {"1", "812K", "640x480", "25", "800000"},
        {"2", "301K", "320x240", "15", "300000"},
    };
  });
  view->resize(700, 240);
  view->Rebuild();
  return view;
}

VV_SCREEN("hyperlink_checkgroup") {
  auto* w = new QWidget;
  w->setWindowTitle(QStringLiteral("控件"));
  auto* top = new QVBoxLayout(w);
  auto* link = new CHyperLink(QStringLiteral("访问主页"), w);
  link->SetURL(QStringLiteral("https://example.org/velvanet"));
  auto* visited = new CHyperLink(QStringLiteral("已访问的链接"), w);
  visited->SetVisited(true);
  top->addWidget(link);
  top->addWidget(visited);
  auto* on = new CCheckGroup(QStringLiteral("视频设置"), w);
  auto* onForm = new QFormLayout(on);
  auto* size = new QComboBox(on);
  size->setObjectName(QStringLiteral("2001"));
  size->addItem(QStringLiteral("640x480"));
  auto* rate = new QLineEdit(QStringLiteral("25"), on);
  rate->setObjectName(QStringLiteral("2002"));
  onForm->addRow(QStringLiteral("分辨率："), size);
  onForm->addRow(QStringLiteral("帧率："), rate);
  on->AddControl(2001);
  on->AddControl(2002);
  auto* off = new CCheckGroup(QStringLiteral("音频设置"), w);
  auto* offForm = new QFormLayout(off);
  auto* sample = new QLineEdit(QStringLiteral("44100"), off);
  sample->setObjectName(QStringLiteral("2003"));
  offForm->addRow(QStringLiteral("采样率："), sample);
  off->AddControl(2003);
  top->addWidget(on);
  top->addWidget(off);
  off->SetCheck(0);
  w->resize(320, 300);
  return w;
}
