#pragma once
// The left pane's Ixo lists: the streams the Ixo media server pulls from
// this system and the transcoding sessions it runs through it, rebuilt once
// a second from value snapshots of the live-channel manager.
#include <QTimer>
#include <QWidget>
#include <functional>

#include "console/logic/IxoViewRows.h"

class QTableWidget;

namespace vvconsole {

class CIxoListView : public QWidget {
  Q_OBJECT

 public:
  using RowSource = std::function<std::vector<ixoview::Row>()>;
  QTableWidget* List() const { return list_; }
  // One rebuild, as the timer does it.
  void Rebuild();

 protected:
  CIxoListView(const char* id, const std::vector<ixoview::Column>& columns, RowSource rows, QWidget* parent);
  void resizeEvent(QResizeEvent* event) override;

 private:
  QTableWidget* list_;
  RowSource rows_;
  QTimer timer_;
};

class CIxoPullStreamView : public CIxoListView {
  Q_OBJECT

 public:
  // rows: where the rows come from (null: the live-channel manager).
  explicit CIxoPullStreamView(QWidget* parent = nullptr, RowSource rows = nullptr);
};

class CIxoTransferStreamView : public CIxoListView {
  Q_OBJECT

 public:
  explicit CIxoTransferStreamView(QWidget* parent = nullptr, RowSource rows = nullptr);
};

}  // namespace vvconsole
