#pragma once
// The sortable report list (CSortListCtrl) and its header with the sort
// arrow (CSortHeaderCtrl). Rows keep a copy of their texts for sorting;
// numbers, dd/mm/yyyy dates and other texts sort each in their own way.
// Column widths are kept in the settings store ("ListCtrls", the list's id).
#include <QHeaderView>
#include <QIcon>
#include <QList>
#include <QStringList>
#include <QTreeWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "console/logic/toolkit/SortListRules.h"
#include "console/logic/toolkit/ToolkitSettings.h"

namespace vvconsole {

// Column formats of SetHeadings.
constexpr int kListFormatLeft = 0;
constexpr int kListFormatRight = 1;
constexpr int kListFormatCenter = 2;

class CSortHeaderCtrl : public QHeaderView {
  Q_OBJECT
 public:
  explicit CSortHeaderCtrl(QWidget* parent = nullptr);

  void SetSortArrow(int column, bool ascending);
  int SortColumn() const { return sortColumn_; }
  bool SortAscending() const { return ascending_; }
  // The widths as the store keeps them, and back: false (nothing changed)
  // when the blob does not fit this header.
  std::vector<uint8_t> SaveWidths() const;
  bool LoadWidths(const std::vector<uint8_t>& blob);

 protected:
  void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  int sortColumn_ = -1;
  bool ascending_ = true;
  int pressed_ = -1;
};

class CSortListCtrl : public QTreeWidget {
  Q_OBJECT
 public:
  // store: where the widths are kept; null takes the toolkit's store.
  explicit CSortListCtrl(int id, QWidget* parent = nullptr, ISettingsStore* store = nullptr);
  ~CSortListCtrl() override;

  int Id() const { return id_; }
  CSortHeaderCtrl* SortHeader() const { return header_; }

  // "title,width;title,width": adds the columns at the next indexes; false
  // at the first pair that cannot be added.
  bool SetHeadings(const QString& headings, int format = kListFormatLeft);
  int ColumnCount() const { return columns_; }
  void DeleteAllColumns();

  // Appends a row with the texts (column 0 first; a null text ends them)
  // and gives its index.
  int AddItem(const QStringList& texts);
  int AddItem(int image, const QStringList& texts);
  void SetImageList(const QList<QIcon>& images) { images_ = images; }
  bool DeleteItem(int row);
  void DeleteAllItems();
  int RowCount() const { return topLevelItemCount(); }
  QString ItemText(int row, int column) const;
  // The row's value; rows past the end are refused (GetItemData gives 0).
  bool SetItemData(int row, uint32_t data);
  uint32_t GetItemData(int row) const;

  void Sort(int column, bool ascending);
  int SortColumn() const { return sort_.column; }
  bool SortAscending() const { return sort_.ascending; }

  // A handler that takes header clicks instead of sorting (list id, column).
  void SetNotifyHandler(std::function<long(int id, int column)> handler) {
    notify_ = std::move(handler);
  }

  void LoadColumnInfo();
  void SaveColumnInfo();

 private:
  void OnColumnClick(int column);

  int id_;
  ISettingsStore* store_;
  CSortHeaderCtrl* header_;
  int columns_ = 0;
  SortState sort_;
  QList<QIcon> images_;
  std::function<long(int, int)> notify_;
};

}  // namespace vvconsole
