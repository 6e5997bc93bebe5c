#include "console/ui/SourceListView.h"

#include <QHeaderView>
#include <functional>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionViewItem>
#include <QVBoxLayout>

#include "console/logic/SourceLabel.h"

namespace {

constexpr int kTipWidth = 300;
constexpr int kTipHeight = 50;

SourceEditResult FromDialog(const vvconsole::DialogResult& r) {
  SourceEditResult out;
  out.ok = r.ok;
  out.id = r.id;
  out.alias = r.alias;
  out.url = r.url;
  return out;
}

SourceNode* NodeOf(QTreeWidgetItem* item) {
  return item ? reinterpret_cast<SourceNode*>(item->data(0, Qt::UserRole).value<quintptr>()) : nullptr;
}

}  // namespace

// ---------------------------------------------------------------- CTipWnd

CTipWnd::CTipWnd(QWidget* parent)
    : QDialog(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  setObjectName(QStringLiteral("207"));
  setAttribute(Qt::WA_ShowWithoutActivating);
  // Half transparent where the window system can blend; opaque elsewhere.
  setWindowOpacity(0.5);
  setFixedSize(kTipWidth, kTipHeight);
}

void CTipWnd::SetText(const QString& text) {
  text_ = text;
  update();
}

void CTipWnd::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect r = rect();
  p.fillRect(r, QColor(0x8E, 0xED, 0xFD));
  p.setPen(Qt::black);
  QFont f = font();
  f.setPixelSize(13);
  p.setFont(f);
  const int line = QFontMetrics(f).height();
  p.drawText(QRect(r.width() / 3, r.top(), r.width(), line), Qt::AlignLeft | Qt::AlignTop,
             QStringLiteral("直播地址"));
  p.drawText(QRect(r.left() + 10, r.top() + 30, 40, line), Qt::AlignLeft | Qt::AlignTop, QStringLiteral("LIVE:"));
  p.drawText(QRect(r.left() + 50, r.top() + 30, r.width() - 52, line), Qt::AlignLeft | Qt::AlignTop,
             QFontMetrics(f).elidedText(text_, Qt::ElideMiddle, r.width() - 52));
}

// ----------------------------------------------------------- CMyCtreeCtrl

CMyCtreeCtrl::CMyCtreeCtrl(QWidget* parent) : QTreeWidget(parent) {
  setObjectName(QStringLiteral("1026"));
  setHeaderHidden(true);
  setColumnCount(1);
  setRootIsDecorated(true);
  setIconSize(QSize(30, 30));
  setMouseTracking(true);
  setContextMenuPolicy(Qt::CustomContextMenu);
  setSelectionMode(QAbstractItemView::SingleSelection);
}

QRect CMyCtreeCtrl::HotStrip(QTreeWidgetItem* item) const {
  if (!item) return QRect();
  QStyleOptionViewItem option;
  initViewItemOption(&option);
  const QModelIndex index = indexFromItem(item);
  option.rect = visualRect(index);
  option.index = index;
  option.features |= QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasDisplay;
  option.icon = item->icon(0);
  option.text = item->text(0);
  option.decorationSize = iconSize();
  return style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this);
}

void CMyCtreeCtrl::mouseMoveEvent(QMouseEvent* event) {
  const QPoint p = event->position().toPoint();
  QTreeWidgetItem* item = itemAt(p);
  if (owner_) {
    if (!item || !item->parent()) {
      owner_->HideTip();
    } else {
      const QRect hot = HotStrip(item);
      viewport()->update(hot);
      SourceNode* node = NodeOf(item);
      if (hot.contains(p) && node) owner_->ShowTip(hot, node->id);
      else owner_->HideTip();
    }
  }
  QTreeWidget::mouseMoveEvent(event);
}

void CMyCtreeCtrl::leaveEvent(QEvent* event) {
  if (owner_) owner_->HideTip();
  QTreeWidget::leaveEvent(event);
}

// -------------------------------------------------------- CSourceListView

CSourceListView::CSourceListView(QWidget* parent)
    : QWidget(parent), prompt_(this), tree_(new CMyCtreeCtrl(this)), tip_(new CTipWnd(this)) {
  setObjectName(QStringLiteral("1114"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(tree_);
  tree_->SetOwner(this);
  tip_->hide();
  logic_ = std::make_unique<CSourceTreeLogic>(prompt_, *this, vvconsole::ConsoleWorker());
  logic_->SetObserver(this);
  logic_->SetTaskList(&taskList_);
  connect(tree_, &QTreeWidget::customContextMenuRequested, this, &CSourceListView::OnRightClick);
  connect(tree_, &QTreeWidget::currentItemChanged, this,
          [this](QTreeWidgetItem* current, QTreeWidgetItem*) { logic_->SelectionChanged(NodeOf(current)); });
  logic_->Restore();
  vvconsole::SetSourceTree(this);
}

CSourceListView::~CSourceListView() {
  if (vvconsole::SourceTree() == this) vvconsole::SetSourceTree(nullptr);
  logic_->SetObserver(nullptr);
  disconnect(tree_, nullptr, this, nullptr);
}

QIcon CSourceListView::Image(int index) {
  static const char* const files[] = {":/console/tree_device.png",      ":/console/tree_net.png",
                                      ":/console/tree_file.png",        ":/console/tree_source_live.png",
                                      ":/console/tree_sub_live.png",    ":/console/tree_sub_idle.png"};
  if (index < 0 || index > 5) return QIcon();
  return QIcon(QString::fromLatin1(files[index]));
}

QTreeWidgetItem* CSourceListView::ItemOf(const SourceNode* node) const {
  auto it = items_.find(node);
  return it == items_.end() ? nullptr : it->second;
}

SourceNode* CSourceListView::SelectedNode() const { return NodeOf(tree_->currentItem()); }

void CSourceListView::NodeInserted(SourceNode* node) {
  QTreeWidgetItem* parent = node->parent ? ItemOf(node->parent) : nullptr;
  auto* item = parent ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
  item->setText(0, QString::fromStdString(node->label));
  item->setIcon(0, Image(node->image));
  item->setData(0, Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(node)));
  items_[node] = item;
}

void CSourceListView::NodeChanged(SourceNode* node) {
  QTreeWidgetItem* item = ItemOf(node);
  if (!item) return;
  item->setText(0, QString::fromStdString(node->label));
  item->setIcon(0, Image(node->image));
  if (node->expanded && !item->isExpanded()) item->setExpanded(true);
}

void CSourceListView::NodeRemoved(SourceNode* node) {
  QTreeWidgetItem* item = ItemOf(node);
  std::function<void(const SourceNode*)> forget = [&](const SourceNode* n) {
    items_.erase(n);
    for (const auto& child : n->children) forget(child.get());
  };
  forget(node);
  delete item;  // with its children
}

void CSourceListView::AddDeviceSourceItem(const std::string& label, int id) {
  logic_->AddSourceItem(LIVE_TYPE_DEVICE, label, id);
}
void CSourceListView::AddNetSourceItem(const std::string& label, int id) {
  logic_->AddSourceItem(LIVE_TYPE_NET, label, id);
}
void CSourceListView::AddFileSourceItem(const std::string& label, int id) {
  logic_->AddSourceItem(LIVE_TYPE_FILE, label, id);
}

SourceEditResult CSourceListView::RunSourceDialog(LiveSourceType type, int editId) {
  switch (type) {
    case LIVE_TYPE_DEVICE: return FromDialog(vvconsole::RunDeviceSourceDialog(this, editId));
    case LIVE_TYPE_NET: return FromDialog(vvconsole::RunNetSourceDialog(this, editId));
    case LIVE_TYPE_FILE: return FromDialog(vvconsole::RunFileSourceDialog(this, editId));
    default: return {};
  }
}

SourceEditResult CSourceListView::RunSubStreamDialog(int editId, const std::string& sourceUrl) {
  return FromDialog(vvconsole::RunSubStreamDialog(this, editId, sourceUrl));
}

void CSourceListView::ShowTip(const QRect& hot, int id) {
  std::string text = logic_->TipText(id);
  if (text.empty()) {
    // Not live: no address to show (and not the last node's).
    HideTip();
    return;
  }
  tip_->SetText(QString::fromStdString(text));
  const QPoint corner = tree_->viewport()->mapToGlobal(hot.topRight());
  tip_->move(corner);
  if (!tip_->isVisible()) tip_->show();
  tip_->update();
}

void CSourceListView::HideTip() {
  if (tip_->isVisible()) tip_->hide();
}

void CSourceListView::OnStartLive() { logic_->StartLive(SelectedNode()); }
void CSourceListView::OnStopLive() { logic_->StopLive(SelectedNode()); }
void CSourceListView::OnEditSource() { logic_->EditSource(SelectedNode()); }
void CSourceListView::OnDeleteSource() { logic_->DeleteSource(SelectedNode()); }
void CSourceListView::OnAddSubStream() { logic_->AddSubStream(SelectedNode()); }

void CSourceListView::OnRightClick(const QPoint& pos) {
  if (QTreeWidgetItem* hit = tree_->itemAt(pos)) tree_->setCurrentItem(hit);
  SourceMenu menu = logic_->ContextMenu(SelectedNode());
  if (menu.kind == SourceMenu::kNone) return;
  if (menu.kind == SourceMenu::kAddDialog) {
    logic_->RunAddDialog(menu.addType);
    return;
  }
  QMenu popup(this);
  auto add = [&](const char* text, const char* id, void (CSourceListView::*slot)(), bool enabled = true) {
    QAction* a = popup.addAction(QString::fromUtf8(text));
    a->setObjectName(QString::fromLatin1(id));
    a->setEnabled(enabled);
    connect(a, &QAction::triggered, this, slot);
  };
  add("删除通道", "32887", &CSourceListView::OnDeleteSource);
  add("编辑通道 ...", "32889", &CSourceListView::OnEditSource);
  if (menu.kind == SourceMenu::kSourceMenu) add("添加子码流", "32884", &CSourceListView::OnAddSubStream);
  popup.addSeparator();
  add("开始直播", "32877", &CSourceListView::OnStartLive, menu.startLiveEnabled);
  add("停止直播", "32876", &CSourceListView::OnStopLive, menu.stopLiveEnabled);
  popup.exec(tree_->viewport()->mapToGlobal(pos));
}

namespace vvconsole {
QWidget* CreateSourceListView(QWidget* parent) { return new CSourceListView(parent); }
}  // namespace vvconsole
