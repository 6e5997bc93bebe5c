#include "console/ui/SetupSheet.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTabWidget>
#include <QVBoxLayout>

#include "console/logic/AutoRun.h"
#include "console/logic/SetupSettings.h"
#include "console/ui/ConsoleWindows.h"
#include "console/ui/MainThreadCall.h"
#include "console/ui/MessageBox.h"
#include "core/IniFileEx.h"
#include "core/Log.h"
#include "core/Paths.h"

namespace vvconsole {

namespace {
// Longest wait of the connection test.
constexpr int kTestTimeoutMs = 5000;
const char* const kNotAnInteger = "请输入一个整数。";
}  // namespace

// ---------------------------------------------------------------- Ixo page

CIxoPullStreamSetupPage::CIxoPullStreamSetupPage(IPrompt* prompt, QWidget* parent)
    : QWidget(parent), prompt_(prompt) {
  setObjectName(QStringLiteral("192"));
  host_ = new QLineEdit(this);
  host_->setObjectName(QStringLiteral("1103"));
  port_ = new QLineEdit(this);
  port_->setObjectName(QStringLiteral("1091"));
  port_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,9}")), port_));
  key_ = new QLineEdit(this);
  key_->setObjectName(QStringLiteral("1093"));
  test_ = new QPushButton(QStringLiteral("测试连接"), this);
  test_->setObjectName(QStringLiteral("1092"));

  auto* form = new QFormLayout;
  form->addRow(QStringLiteral("IXO服务器地址："), host_);
  form->addRow(QStringLiteral("IXO服务器端口："), port_);
  form->addRow(QStringLiteral("IXO密钥："), key_);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(new QLabel(QStringLiteral("修改后需要重启生效"), this));
  buttons->addStretch(1);
  buttons->addWidget(test_);
  auto* top = new QVBoxLayout(this);
  top->addLayout(form);
  top->addLayout(buttons);
  top->addStretch(1);

  for (QLineEdit* e : {host_, port_, key_}) connect(e, &QLineEdit::textEdited, this, &CIxoPullStreamSetupPage::Changed);
  connect(test_, &QPushButton::clicked, this, &CIxoPullStreamSetupPage::OnTestConnect);
}

CIxoPullStreamSetupPage::~CIxoPullStreamSetupPage() {
  // The test ends within its time-out; its answer then finds no page.
  if (tester_.joinable()) tester_.join();
}

void CIxoPullStreamSetupPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  visited_ = true;
  Load();
}

void CIxoPullStreamSetupPage::Load() {
  if (loaded_) return;
  loaded_ = true;
  CIniFileEx ini(GetConfigPath());
  setup::IxoServer s = setup::ReadIxoServer(ini);
  host_->setText(QString::fromStdString(s.host));
  port_->setText(QString::number(s.port));
  key_->setText(QString::fromStdString(s.key));
}

bool CIxoPullStreamSetupPage::OnApply() {
  setup::IxoServer s;
  if (!setup::ParsePortField(port_->text().toStdString(), s.port)) {
    prompt_->Message(kNotAnInteger);
    port_->setFocus();
    return false;
  }
  s.host = host_->text().toStdString();
  s.key = key_->text().toStdString();
  CIniFileEx ini(GetConfigPath());
  if (!setup::WriteIxoServer(ini, s)) {
    LogError("cannot write the Ixo settings to %s", ini.GetPath().c_str());
    prompt_->Message(setup::kWriteFailed);
    return false;
  }
  return true;
}

void CIxoPullStreamSetupPage::OnTestConnect() {
  if (testing_) return;
  std::string host = host_->text().toStdString();
  int port = 0;
  if (!setup::ParsePortField(port_->text().toStdString(), port)) port = 0;
  if (host.empty() || port <= 0 || port > 65535) {
    prompt_->Message(setup::kFillInParameters);
    emit TestFinished(QString::fromUtf8(setup::kFillInParameters));
    return;
  }
  if (tester_.joinable()) tester_.join();  // the previous test has reported: it is over
  testing_ = true;
  test_->setEnabled(false);
  tester_ = std::thread([this, host, port] {
    std::string text = setup::TestConnection(host, port, kTestTimeoutMs);
    // The page outlives this thread (its destructor joins it), so the
    // queued call always has its receiver.
    PostToMainThread(this, [this, text] {
      testing_ = false;
      test_->setEnabled(true);
      prompt_->Message(text);
      emit TestFinished(QString::fromStdString(text));
    });
  });
}

// ---------------------------------------------------------------- start-up page

CStartupOptionPage::CStartupOptionPage(IPrompt* prompt, QWidget* parent) : QWidget(parent), prompt_(prompt) {
  setObjectName(QStringLiteral("170"));
  autoRun_ = new QCheckBox(QStringLiteral("程序随系统启动而自动运行"), this);
  autoRun_->setObjectName(QStringLiteral("1076"));
  autoForward_ = new QCheckBox(QStringLiteral("启动后自动启动所有转发流"), this);
  autoForward_->setObjectName(QStringLiteral("1079"));
  auto* top = new QVBoxLayout(this);
  top->addWidget(autoRun_);
  top->addWidget(autoForward_);
  top->addStretch(1);
  connect(autoRun_, &QCheckBox::toggled, this, &CStartupOptionPage::Changed);
  connect(autoForward_, &QCheckBox::toggled, this, &CStartupOptionPage::Changed);
}

void CStartupOptionPage::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  visited_ = true;
  Load();
}

void CStartupOptionPage::Load() {
  if (loaded_) return;
  loaded_ = true;
  CIniFileEx ini(GetConfigPath());
  QSignalBlocker a(autoRun_), b(autoForward_);
  autoRun_->setChecked(IsAutoRunEnabled());
  autoForward_->setChecked(setup::ReadAutoForward(ini));
}

bool CStartupOptionPage::OnApply() {
  bool on = autoRun_->isChecked();
  // Unticking with nothing set up leaves things as they are.
  if (on || IsAutoRunEnabled()) {
    if (!SetAutoRun(on, ProgramExecutablePath())) LogWarn("cannot %s autorun", on ? "set up" : "remove");
  }
  CIniFileEx ini(GetConfigPath());
  if (!setup::WriteAutoForward(ini, autoForward_->isChecked())) {
    LogError("cannot write AUTO_FORWARD to %s", ini.GetPath().c_str());
    prompt_->Message(setup::kWriteFailed);
    return false;
  }
  return true;
}

// ---------------------------------------------------------------- the sheet

CSetupSheet::CSetupSheet(const QString& caption, QWidget* parent, IPrompt* prompt) : QDialog(parent) {
  if (!prompt) prompt = ownPrompt_ = new MessageBoxPrompt(this);
  prompt_ = prompt;
  setWindowTitle(caption);
  tabs_ = new QTabWidget(this);
  startup_ = new CStartupOptionPage(prompt_, tabs_);
  ixo_ = new CIxoPullStreamSetupPage(prompt_, tabs_);
  tabs_->addTab(ixo_, QStringLiteral("IXO服务器设置"));
  tabs_->addTab(startup_, QStringLiteral("启动设置"));
  tabs_->setCurrentIndex(0);

  auto* box = new QDialogButtonBox(this);
  QPushButton* ok = box->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
  ok->setObjectName(QStringLiteral("1"));
  ok->setDefault(true);
  QPushButton* cancel = box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("2"));
  apply_ = box->addButton(QStringLiteral("应用(&A)"), QDialogButtonBox::ApplyRole);
  apply_->setObjectName(QStringLiteral("12321"));
  apply_->setEnabled(false);
  connect(box, &QDialogButtonBox::accepted, this, &CSetupSheet::accept);
  connect(box, &QDialogButtonBox::rejected, this, &CSetupSheet::reject);
  connect(apply_, &QPushButton::clicked, this, [this] {
    if (Apply()) apply_->setEnabled(false);
  });
  connect(ixo_, &CIxoPullStreamSetupPage::Changed, this, [this] { apply_->setEnabled(true); });
  connect(startup_, &CStartupOptionPage::Changed, this, [this] { apply_->setEnabled(true); });

  auto* top = new QVBoxLayout(this);
  top->addWidget(tabs_);
  top->addWidget(box);
  resize(420, 300);
}

CSetupSheet::~CSetupSheet() { delete ownPrompt_; }

bool CSetupSheet::Apply() {
  if (ixo_->Visited() && !ixo_->OnApply()) {
    tabs_->setCurrentWidget(ixo_);
    return false;
  }
  if (startup_->Visited() && !startup_->OnApply()) {
    tabs_->setCurrentWidget(startup_);
    return false;
  }
  return true;
}

void CSetupSheet::accept() {
  if (Apply()) QDialog::accept();
}

void RunSetupSheet(QWidget* parent) {
  CSetupSheet sheet(QStringLiteral("设置"), parent);
  sheet.exec();
}

}  // namespace vvconsole
