#include "console/ui/StreamStatuView.h"

#include <QHeaderView>
#include <algorithm>
#include <QMenu>
#include <QPushButton>
#include <QTimer>

#include "console/ui/ConsoleWindows.h"
#include "console/ui/KHTitleDlg.h"

CStreamStatuView::CStreamStatuView(QWidget* parent) : QWidget(parent), prompt_(this) {
  setObjectName(QStringLiteral("1116"));
  logic_ = std::make_unique<CTaskStatusLogic>(prompt_, *this, vvconsole::ConsoleWorker());
  logic_->SetObserver(this);
  strip_ = new CKHTitleMainDlg(QStringLiteral(":/console/title_buttons.png"), 2, this);
  strip_->setObjectName(QStringLiteral("138"));
  connect(strip_, &CKHTitleMainDlg::ButtonClicked, this, &CStreamStatuView::ShowTaskList, Qt::QueuedConnection);
  forward_ = MakeList("1124", ForwardColumns());
  record_ = MakeList("1113", RecordColumns());
  add_ = new QPushButton(QStringLiteral("添加任务..."), this);
  add_->setObjectName(QStringLiteral("1126"));
  edit_ = new QPushButton(QStringLiteral("编辑任务..."), this);
  edit_->setObjectName(QStringLiteral("1127"));
  connect(add_, &QPushButton::clicked, this, &CStreamStatuView::OnAddTask);
  connect(edit_, &QPushButton::clicked, this, &CStreamStatuView::OnEditTask);
  ShowTaskList(0);
  auto* timer = new QTimer(this);
  timer->setObjectName(QStringLiteral("1000"));
  connect(timer, &QTimer::timeout, this, &CStreamStatuView::RefreshStatus);
  timer->start(1000);
  vvconsole::SetTaskListView(this);
  Layout();
}

CStreamStatuView::~CStreamStatuView() {
  if (vvconsole::TaskListView() == this) vvconsole::SetTaskListView(nullptr);
  logic_->SetObserver(nullptr);
}

QTableWidget* CStreamStatuView::MakeList(const char* id, const std::vector<TaskColumn>& columns) {
  auto* list = new QTableWidget(0, static_cast<int>(columns.size()), this);
  list->setObjectName(QString::fromLatin1(id));
  QStringList titles;
  for (const TaskColumn& c : columns) titles << QString::fromUtf8(c.title);
  list->setHorizontalHeaderLabels(titles);
  for (size_t i = 0; i < columns.size(); ++i) list->setColumnWidth(static_cast<int>(i), columns[i].width);
  list->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  list->horizontalHeader()->setSectionsMovable(true);
  // The note at the end takes the free width: an error text is longer than
  // its column; the whole of every cell shows as its tip.
  list->horizontalHeader()->setStretchLastSection(true);
  list->verticalHeader()->hide();
  list->verticalHeader()->setDefaultSectionSize(22);
  list->setShowGrid(true);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list->setWordWrap(false);
  list->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(list, &QTableWidget::customContextMenuRequested, this, &CStreamStatuView::OnRClick);
  connect(list, &QTableWidget::cellDoubleClicked, this, [this](int, int) {
    std::vector<int> rows = SelectedRows();
    if (rows.size() > 1) rows.resize(1);  // the first selected row only
    logic_->EditTask(rows);
  });
  return list;
}

QTableWidget* CStreamStatuView::FrontList() const {
  return logic_->Mode() == kRecordList ? record_ : forward_;
}

std::vector<int> CStreamStatuView::SelectedRows() const {
  std::vector<int> rows;
  QTableWidget* list = FrontList();
  for (const QModelIndex& index : list->selectionModel()->selectedRows()) rows.push_back(index.row());
  std::sort(rows.begin(), rows.end());
  return rows;
}

void CStreamStatuView::ShowTaskList(int button) {
  if (button == 0) {
    forward_->show();
    record_->hide();
    add_->show();
    edit_->show();
  } else if (button == 1) {
    forward_->hide();
    record_->show();
    add_->show();
    edit_->show();
  } else if (button == 2) {
    forward_->hide();
    record_->hide();
    add_->hide();
    edit_->hide();
  }
  logic_->ShowTaskList(button);
  if (button == 0 || button == 1) strip_->SetSelected(button);
}

void CStreamStatuView::FillTaskList(int liveId, LiveSourceType type) { logic_->FillTaskList(liveId, type); }
void CStreamStatuView::ForgetLive(int liveId) { logic_->ForgetLive(liveId); }

void CStreamStatuView::ListChanged(int which) {
  QTableWidget* list = which == kRecordList ? record_ : forward_;
  const std::vector<TaskRow>& rows = logic_->Rows(which);
  bool same = list->rowCount() == static_cast<int>(rows.size());
  for (int r = 0; same && r < list->rowCount(); ++r) {
    QTableWidgetItem* first = list->item(r, 0);
    same = first && first->data(Qt::UserRole).toInt() == rows[static_cast<size_t>(r)].taskId;
  }
  if (!same) {
    list->clearSelection();
    list->setRowCount(static_cast<int>(rows.size()));
  }
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const TaskRow& row = rows[static_cast<size_t>(r)];
    for (int c = 0; c < list->columnCount(); ++c) {
      QString text = c < static_cast<int>(row.cells.size()) ? QString::fromStdString(row.cells[static_cast<size_t>(c)])
                                                            : QString();
      QTableWidgetItem* item = list->item(r, c);
      if (!item) {
        item = new QTableWidgetItem(text);
        item->setToolTip(text);
        list->setItem(r, c, item);
      } else if (item->text() != text) {
        item->setText(text);
        item->setToolTip(text);
      }
      if (c == 0) item->setData(Qt::UserRole, row.taskId);
    }
  }
}

int CStreamStatuView::RunTaskDialog(int kind, int editId, int liveId) {
  vvconsole::DialogResult r = kind == kRecordList ? vvconsole::RunRecordTaskDialog(this, editId, liveId)
                                                  : vvconsole::RunForwardTaskDialog(this, editId, liveId);
  return r.ok ? r.id : 0;
}

void CStreamStatuView::OnStartTask() { logic_->StartTasks(SelectedRows()); }
void CStreamStatuView::OnStopTask() { logic_->StopTasks(SelectedRows()); }
void CStreamStatuView::OnDeleteTask() { logic_->DeleteTasks(SelectedRows()); }
void CStreamStatuView::OnAddTask() { logic_->AddTask(); }
void CStreamStatuView::OnEditTask() { logic_->EditTask(SelectedRows()); }
void CStreamStatuView::RefreshStatus() { logic_->Refresh(); }

void CStreamStatuView::OnRClick(const QPoint& pos) {
  QTableWidget* list = FrontList();
  if (sender() != list) return;
  TaskMenu menu = logic_->ContextMenu(SelectedRows());
  if (!menu.show) return;
  const bool forward = logic_->Mode() == kForwardList;
  QMenu popup(this);
  auto add = [&](const char* text, const char* id, void (CStreamStatuView::*slot)(), bool enabled) {
    QAction* a = popup.addAction(QString::fromUtf8(text));
    a->setObjectName(QString::fromLatin1(id));
    a->setEnabled(enabled);
    connect(a, &QAction::triggered, this, slot);
  };
  add("删除", forward ? "32853" : "32837", &CStreamStatuView::OnDeleteTask, menu.deleteEnabled);
  add(forward ? "开始转发" : "开始录像", forward ? "32854" : "32842", &CStreamStatuView::OnStartTask,
      menu.startEnabled);
  add(forward ? "停止转发" : "停止录像", forward ? "32855" : "32843", &CStreamStatuView::OnStopTask,
      menu.stopEnabled);
  popup.exec(list->viewport()->mapToGlobal(pos));
}

void CStreamStatuView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Layout();
}

void CStreamStatuView::Layout() {
  const int w = width();
  const int h = height();
  if (w <= 0 || h <= 0 || !strip_) return;
  const int stripHeight = strip_->sizeHint().height();
  strip_->setGeometry(0, 0, w, stripHeight);
  const int listHeight = std::max(0, h - stripHeight - 40);
  forward_->setGeometry(0, stripHeight, w, listHeight);
  record_->setGeometry(0, stripHeight, w, listHeight);
  add_->setGeometry(50, h - 40, 100, 30);
  edit_->setGeometry(250, h - 40, 100, 30);
}

namespace vvconsole {
QWidget* CreateStreamStatuView(QWidget* parent) { return new CStreamStatuView(parent); }
}  // namespace vvconsole
