#include "console/ui/PaneViews.h"

#include <QResizeEvent>
#include <algorithm>
#include <QTabBar>

#include "console/logic/FrameModel.h"
#include "console/ui/ConsoleWindows.h"

namespace vvconsole {

namespace {

void ShowView(QWidget* view, bool show) {
  if (view) view->setVisible(show);
}

}  // namespace

CRightPaneView::CRightPaneView(QWidget* parent) : QWidget(parent) {}

void CRightPaneView::OnInitialUpdate() {
  if (statusView_) return;
  statusView_ = CreateStreamStatuView(this);
  if (!statusView_) return;
  statusView_->setObjectName(QString::number(kIdStatusView));
  statusView_->hide();
  statusView_->setGeometry(rect());
}

void CRightPaneView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (statusView_) statusView_->setGeometry(0, 0, width(), height());
}

CLeftPaneView::CLeftPaneView(IPaneHost* host, QWidget* parent) : QWidget(parent), host_(host) {
  tabs_ = new QTabBar(this);
  tabs_->setObjectName(QString::number(kIdTabControl));
  tabs_->setShape(QTabBar::RoundedSouth);
  tabs_->setDrawBase(false);
  tabs_->setExpanding(false);
  tabs_->setFocusPolicy(Qt::NoFocus);
  connect(tabs_, &QTabBar::currentChanged, this, &CLeftPaneView::OnTabChange);
}

void CLeftPaneView::OnInitialUpdate() {
  if (pullView_ || sourceView_ || transferView_) return;
  struct Child {
    QWidget* (*create)(QWidget*);
    QWidget** slot;
    int id;
  } children[] = {
      {CreateIxoPullStreamView, &pullView_, kIdPullView},
      {CreateIxoTransferStreamView, &transferView_, kIdTransferView},
      {CreateSourceListView, &sourceView_, kIdSourceView},
  };
  for (const Child& c : children) {
    QWidget* view = c.create(this);
    if (!view) continue;
    view->setObjectName(QString::number(c.id));
    view->hide();
    *c.slot = view;
  }
  {
    // Filling the tabs selects the first one: that selection is made below,
    // once every tab is in.
    QSignalBlocker block(tabs_);
    for (const PaneTab& tab : LeftPaneTabs()) {
      int index = tabs_->addTab(QString::fromStdString(tab.text));
      if (static_cast<int>(modes_.size()) <= index) modes_.resize(static_cast<size_t>(index) + 1, 0);
      modes_[static_cast<size_t>(index)] = tab.mode;
    }
  }
  tabs_->raise();
  Place();
  if (tabs_->count() > 0) {
    QSignalBlocker block(tabs_);
    tabs_->setCurrentIndex(0);
    SelectTab(0);
  }
}

int CLeftPaneView::ModeOfTab(int index) const {
  return index >= 0 && index < static_cast<int>(modes_.size()) ? modes_[static_cast<size_t>(index)] : 0;
}

void CLeftPaneView::SelectTab(int index) {
  int mode = ModeOfTab(index);
  PaneVisibility v = VisibilityForMode(mode);
  if (v.known) {
    // The right column first: a view shown in it then gets its width.
    if (host_) host_->ShowRightColumn(v.rightColumn);
    ShowView(pullView_, v.pullView);
    ShowView(transferView_, v.transferView);
    ShowView(sourceView_, v.sourceView);
    ShowView(host_ ? host_->StatusView() : nullptr, v.statusView);
  }
  if (host_) host_->SetToolbarMode(mode);
}

void CLeftPaneView::OnTabChange(int index) { SelectTab(index); }

void CLeftPaneView::Place() {
  const int cx = width(), cy = height();
  for (QWidget* view : {pullView_, transferView_, sourceView_})
    if (view) view->setGeometry(0, 0, cx, std::max(0, cy - kTabStripHeight));
  // The strip reaches below the pane; only its top shows.
  tabs_->setGeometry(0, cy - kTabStripHeight, cx, cy);
}

void CLeftPaneView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Place();
}

}  // namespace vvconsole
