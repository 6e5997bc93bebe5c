#include "console/ui/toolkit/SortListCtrl.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyleOption>
#include <algorithm>

#include "console/ui/toolkit/ToolkitStore.h"

namespace vvconsole {

namespace {


// The row's record: the copies of its texts for sorting and its value.
class SortListItem : public QTreeWidgetItem {
 public:
  SortRowRecord record;
};

SortListItem* Row(const QTreeWidget* list, int row) {
  if (row < 0 || row >= list->topLevelItemCount()) return nullptr;
  return static_cast<SortListItem*>(list->topLevelItem(row));
}

Qt::Alignment AlignmentOf(int format) {
  switch (format) {
    case kListFormatRight:
      return Qt::AlignRight | Qt::AlignVCenter;
    case kListFormatCenter:
      return Qt::AlignHCenter | Qt::AlignVCenter;
    default:
      return Qt::AlignLeft | Qt::AlignVCenter;
  }
}

}  // namespace

// ---- CSortHeaderCtrl

CSortHeaderCtrl::CSortHeaderCtrl(QWidget* parent) : QHeaderView(Qt::Horizontal, parent) {
  setSectionsClickable(true);
  setSortIndicatorShown(false);
  setStretchLastSection(false);
  setMinimumSectionSize(0);  // a column may be as narrow as its width says
}

void CSortHeaderCtrl::SetSortArrow(int column, bool ascending) {
  sortColumn_ = column;
  ascending_ = ascending;
  viewport()->update();
}

std::vector<uint8_t> CSortHeaderCtrl::SaveWidths() const {
  std::vector<int> widths;
  for (int i = 0; i < count(); ++i) widths.push_back(sectionSize(i));
  return EncodeColumnWidths(widths);
}

bool CSortHeaderCtrl::LoadWidths(const std::vector<uint8_t>& blob) {
  const auto widths = DecodeColumnWidths(blob, count());
  if (!widths) return false;
  for (int i = 0; i < count(); ++i) resizeSection(i, (*widths)[i]);
  viewport()->update();
  return true;
}

void CSortHeaderCtrl::mousePressEvent(QMouseEvent* e) {
  pressed_ = logicalIndexAt(e->position().toPoint());
  QHeaderView::mousePressEvent(e);
  viewport()->update();
}

void CSortHeaderCtrl::mouseReleaseEvent(QMouseEvent* e) {
  pressed_ = -1;
  QHeaderView::mouseReleaseEvent(e);
  viewport()->update();
}

void CSortHeaderCtrl::paintSection(QPainter* p, const QRect& rect, int logicalIndex) const {
  if (!rect.isValid()) return;
  p->save();
  // A raised button face with the item's text in its own alignment.
  QStyleOptionHeader opt;
  initStyleOption(&opt);
  opt.rect = rect;
  opt.section = logicalIndex;
  opt.state |= (logicalIndex == pressed_) ? QStyle::State_Sunken : QStyle::State_Raised;
  opt.text.clear();
  opt.sortIndicator = QStyleOptionHeader::None;
  p->fillRect(rect, palette().color(QPalette::Button));
  style()->drawControl(QStyle::CE_HeaderSection, &opt, p, this);

  QRect textRect = rect.adjusted(6, 0, -6, 0);
  const TkRect item{rect.left(), rect.top(), rect.left() + rect.width(),
                    rect.top() + rect.height()};
  const bool sorted = logicalIndex == sortColumn_;
  SortArrowLines arrow;
  if (sorted) {
    arrow = ComputeSortArrow(item, ascending_);
    textRect.setRight(textRect.right() - arrow.reserved);
  }
  if (logicalIndex == pressed_) textRect.translate(1, 2);
  const QVariant align = model() ? model()->headerData(logicalIndex, orientation(),
                                                       Qt::TextAlignmentRole)
                                 : QVariant();
  const Qt::Alignment a =
      align.isValid() ? Qt::Alignment(align.toInt()) : (Qt::AlignLeft | Qt::AlignVCenter);
  const QString text =
      model() ? model()->headerData(logicalIndex, orientation(), Qt::DisplayRole).toString()
              : QString();
  p->setPen(palette().color(QPalette::ButtonText));
  p->drawText(textRect, int(a | Qt::AlignVCenter) | Qt::TextSingleLine,
              fontMetrics().elidedText(text, Qt::ElideRight, textRect.width()));

  if (sorted) {
    auto polyline = [p](const std::vector<TkPoint>& pts, const QColor& c) {
      p->setPen(QPen(c, 1));
      for (size_t i = 1; i < pts.size(); ++i) {
        p->drawLine(pts[i - 1].x, pts[i - 1].y, pts[i].x, pts[i].y);
      }
    };
    polyline(arrow.highlight, palette().color(QPalette::Light));
    polyline(arrow.shadow, palette().color(QPalette::Dark));
  }
  p->restore();
}

// ---- CSortListCtrl

CSortListCtrl::CSortListCtrl(int id, QWidget* parent, ISettingsStore* store)
    : QTreeWidget(parent), id_(id), store_(store ? store : &ToolkitSettings()) {
  setObjectName(QString::number(id));
  header_ = new CSortHeaderCtrl(this);
  setHeader(header_);
  setRootIsDecorated(false);
  setItemsExpandable(false);
  setUniformRowHeights(true);
  setAllColumnsShowFocus(true);
  setSortingEnabled(false);  // the list sorts by its own rules
  setColumnCount(0);
  header_->setSectionsClickable(true);
  connect(header_, &QHeaderView::sectionClicked, this, &CSortListCtrl::OnColumnClick);
}

CSortListCtrl::~CSortListCtrl() = default;

bool CSortListCtrl::SetHeadings(const QString& headings, int format) {
  const ParsedHeadings parsed = ParseHeadings(headings.toStdString());
  QTreeWidgetItem* head = headerItem();
  for (const auto& col : parsed.columns) {
    const int index = columns_++;
    setColumnCount(columns_);
    head->setText(index, QString::fromStdString(col.title));
    head->setTextAlignment(index, AlignmentOf(format));
    header_->resizeSection(index, col.width);
  }
  return parsed.ok;
}

void CSortListCtrl::DeleteAllColumns() {
  setColumnCount(0);
  columns_ = 0;
  sort_ = SortState{};
  header_->SetSortArrow(-1, true);
}

int CSortListCtrl::AddItem(const QStringList& texts) { return AddItem(-1, texts); }

int CSortListCtrl::AddItem(int image, const QStringList& texts) {
  auto* item = new SortListItem;
  for (int i = 0; i < texts.size(); ++i) {
    if (texts[i].isNull()) break;
    item->setText(i, texts[i]);
    item->record.texts.push_back(texts[i].toStdString());
  }
  if (image >= 0 && image < images_.size()) item->setIcon(0, images_[image]);
  addTopLevelItem(item);
  return topLevelItemCount() - 1;
}

bool CSortListCtrl::DeleteItem(int row) {
  SortListItem* item = Row(this, row);
  if (!item) return false;
  delete item;
  return true;
}

void CSortListCtrl::DeleteAllItems() { clear(); }

QString CSortListCtrl::ItemText(int row, int column) const {
  const SortListItem* item = Row(this, row);
  return item ? item->text(column) : QString();
}

bool CSortListCtrl::SetItemData(int row, uint32_t data) {
  SortListItem* item = Row(this, row);
  if (!item) return false;
  item->record.data = data;
  return true;
}

uint32_t CSortListCtrl::GetItemData(int row) const {
  const SortListItem* item = Row(this, row);
  return item ? item->record.data : 0;
}

void CSortListCtrl::Sort(int column, bool ascending) {
  sort_ = {column, ascending};
  header_->SetSortArrow(column, ascending);
  const int n = topLevelItemCount();
  if (n == 0) return;
  QTreeWidgetItem* current = currentItem();
  std::vector<SortRowRecord> records;
  std::vector<QTreeWidgetItem*> items;
  records.reserve(n);
  for (int i = n - 1; i >= 0; --i) items.push_back(takeTopLevelItem(i));
  std::reverse(items.begin(), items.end());
  for (auto* it : items) records.push_back(static_cast<SortListItem*>(it)->record);
  QList<QTreeWidgetItem*> ordered;
  for (size_t i : SortRowOrder(records, column, ascending)) ordered.push_back(items[i]);
  addTopLevelItems(ordered);
  if (current) setCurrentItem(current);
}

void CSortListCtrl::OnColumnClick(int column) {
  if (notify_) {
    notify_(id_, column);
    return;
  }
  const SortState next = NextSortState(sort_, column);
  Sort(next.column, next.ascending);
}

void CSortListCtrl::SaveColumnInfo() {
  store_->SetBinary("ListCtrls", std::to_string(id_), header_->SaveWidths());
}

void CSortListCtrl::LoadColumnInfo() {
  const auto blob = store_->GetBinary("ListCtrls", std::to_string(id_));
  if (blob && !blob->empty()) header_->LoadWidths(*blob);
  header_->viewport()->update();
}

}  // namespace vvconsole
