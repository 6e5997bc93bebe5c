#include "console/ui/IxoStreamViews.h"

#include <QHeaderView>
#include <QResizeEvent>
#include <QTableWidget>

#include "console/ui/ConsoleWindows.h"

namespace vvconsole {

CIxoListView::CIxoListView(const char* id, const std::vector<ixoview::Column>& columns, RowSource rows,
                           QWidget* parent)
    : QWidget(parent), rows_(std::move(rows)) {
  setObjectName(QString::fromLatin1(id));
  list_ = new QTableWidget(0, static_cast<int>(columns.size()), this);
  list_->setObjectName(QStringLiteral("1136"));
  for (size_t i = 0; i < columns.size(); ++i) {
    auto* h = new QTableWidgetItem(QString::fromUtf8(columns[i].title));
    h->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    list_->setHorizontalHeaderItem(static_cast<int>(i), h);
    list_->setColumnWidth(static_cast<int>(i), columns[i].width);
  }
  list_->verticalHeader()->hide();
  list_->setShowGrid(true);
  list_->horizontalHeader()->setSectionsMovable(true);
  // One line per row, as a report list shows it; long urls are cut short.
  list_->setWordWrap(false);
  list_->setTextElideMode(Qt::ElideRight);
  list_->horizontalHeader()->setStretchLastSection(false);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  list_->setGeometry(0, 0, width(), height());
  timer_.setInterval(1000);
  connect(&timer_, &QTimer::timeout, this, &CIxoListView::Rebuild);
  timer_.start();
}

void CIxoListView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  list_->setGeometry(0, 0, event->size().width(), event->size().height());
}

void CIxoListView::Rebuild() {
  std::vector<ixoview::Row> rows = rows_();
  list_->setUpdatesEnabled(false);
  list_->setRowCount(0);
  list_->setRowCount(static_cast<int>(rows.size()));
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size() && c < static_cast<size_t>(list_->columnCount()); ++c) {
      auto* item = new QTableWidgetItem(QString::fromStdString(rows[r][c]));
      item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      list_->setItem(static_cast<int>(r), static_cast<int>(c), item);
    }
  }
  list_->setUpdatesEnabled(true);
  list_->viewport()->update();
}

CIxoPullStreamView::CIxoPullStreamView(QWidget* parent, RowSource rows)
    : CIxoListView("1099", ixoview::PullColumns(),
                   rows ? std::move(rows) : RowSource([] { return ixoview::PullRowsOf(*CLiveChannelManager::Instance()); }),
                   parent) {}

CIxoTransferStreamView::CIxoTransferStreamView(QWidget* parent, RowSource rows)
    : CIxoListView("1100", ixoview::TransferColumns(),
                   rows ? std::move(rows)
                        : RowSource([] { return ixoview::TransferRowsOf(*CLiveChannelManager::Instance()); }),
                   parent) {}

QWidget* CreateIxoPullStreamView(QWidget* parent) { return new CIxoPullStreamView(parent); }
QWidget* CreateIxoTransferStreamView(QWidget* parent) { return new CIxoTransferStreamView(parent); }

}  // namespace vvconsole
