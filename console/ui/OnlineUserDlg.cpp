#include "console/ui/OnlineUserDlg.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "console/ui/ConsoleWindows.h"
#include "console/ui/MessageBox.h"

namespace vvconsole {

COnlineUserDlg::COnlineUserDlg(QWidget* parent, IPrompt* prompt) : QDialog(parent) {
  if (!prompt) prompt = ownPrompt_ = new MessageBoxPrompt(this);
  prompt_ = prompt;
  setObjectName(QStringLiteral("158"));
  setWindowTitle(QStringLiteral("在线用户管理"));

  list_ = new QTableWidget(0, 5, this);
  list_->setObjectName(QStringLiteral("1034"));
  struct Column {
    const char* title;
    int width;
  } columns[] = {{"序号", 60}, {"类型", 150}, {"IP", 100}, {"连接开始时间", 150}, {"连接时长(秒)", 100}};
  for (int i = 0; i < 5; ++i) {
    auto* h = new QTableWidgetItem(QString::fromUtf8(columns[i].title));
    h->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->setHorizontalHeaderItem(i, h);
    list_->setColumnWidth(i, columns[i].width);
  }
  list_->verticalHeader()->hide();
  list_->setShowGrid(true);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setRowCount(0);

  selectHighlighted_ = new QCheckBox(QStringLiteral("选择选中记录"), this);
  selectHighlighted_->setObjectName(QStringLiteral("1036"));
  selectAll_ = new QCheckBox(QStringLiteral("选择所有记录"), this);
  selectAll_->setObjectName(QStringLiteral("1037"));
  auto* disconnect = new QPushButton(QStringLiteral("断开连接"), this);
  disconnect->setObjectName(QStringLiteral("1035"));
  auto* refresh = new QPushButton(QStringLiteral("刷新"), this);
  refresh->setObjectName(QStringLiteral("1045"));
  auto* quit = new QPushButton(QStringLiteral("退出"), this);
  quit->setObjectName(QStringLiteral("2"));

  connect(selectHighlighted_, &QCheckBox::clicked, this, &COnlineUserDlg::OnSelectHighlighted);
  connect(selectAll_, &QCheckBox::clicked, this, &COnlineUserDlg::OnSelectAll);
  connect(disconnect, &QPushButton::clicked, this, &COnlineUserDlg::OnDisconnect);
  connect(refresh, &QPushButton::clicked, this, &COnlineUserDlg::OnRefresh);
  connect(quit, &QPushButton::clicked, this, &QDialog::reject);

  auto* row = new QHBoxLayout;
  row->addWidget(selectHighlighted_);
  row->addWidget(selectAll_);
  row->addStretch(1);
  row->addWidget(disconnect);
  row->addWidget(refresh);
  row->addWidget(quit);
  auto* top = new QVBoxLayout(this);
  top->addWidget(new QLabel(QStringLiteral("在线用户列表："), this));
  top->addWidget(list_);
  top->addLayout(row);
  resize(600, 380);
}

COnlineUserDlg::~COnlineUserDlg() { delete ownPrompt_; }

int COnlineUserDlg::CheckedRows() const {
  int n = 0;
  for (int r = 0; r < list_->rowCount(); ++r) {
    QTableWidgetItem* item = list_->item(r, 0);
    if (item && item->checkState() == Qt::Checked) ++n;
  }
  return n;
}

void COnlineUserDlg::CheckAll(bool on) {
  for (int r = 0; r < list_->rowCount(); ++r) {
    QTableWidgetItem* item = list_->item(r, 0);
    if (item) item->setCheckState(on ? Qt::Checked : Qt::Unchecked);
  }
}

void COnlineUserDlg::OnSelectHighlighted() {
  selectAll_->setChecked(false);
  CheckAll(false);
  if (selectHighlighted_->isChecked()) {
    for (int r = 0; r < list_->rowCount(); ++r) {
      QTableWidgetItem* item = list_->item(r, 0);
      if (item && list_->selectionModel()->isRowSelected(r, QModelIndex())) item->setCheckState(Qt::Checked);
    }
  }
  list_->viewport()->update();
}

void COnlineUserDlg::OnSelectAll() {
  selectHighlighted_->setChecked(false);
  CheckAll(selectAll_->isChecked());
  list_->viewport()->update();
}

void COnlineUserDlg::OnDisconnect() {
  if (prompt_->Ask("确定断开连接吗？")) list_->setRowCount(0);
}

void COnlineUserDlg::OnRefresh() { list_->setRowCount(0); }

void RunOnlineUserDialog(QWidget* parent) {
  COnlineUserDlg dialog(parent);
  dialog.exec();
}

}  // namespace vvconsole
