#include "console/ui/toolkit/ColourPicker.h"

#include <QApplication>
#include <QColorDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QStyle>
#include <QStyleOption>
#include <QToolTip>
#include <qdrawutil.h>

namespace vvconsole {

namespace {

constexpr int kEdge = 2;  // the edge width of the frames drawn here

QRect ToQRect(const TkRect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

ColourPopupLayout MakeLayout(const QFontMetrics& fm, const QString& def, const QString& custom) {
  const QSize d = fm.size(Qt::TextSingleLine, def);
  const QSize c = fm.size(Qt::TextSingleLine, custom);
  return ColourPopupLayout(kEdge, !def.isEmpty(), d.width(), d.height(), !custom.isEmpty(),
                           c.width(), c.height());
}

}  // namespace

QColor ColourRefToQColor(ColourRef c) {
  if (IsAutomaticColour(c)) return QColor();
  return QColor(ColourRed(c), ColourGreen(c), ColourBlue(c));
}

ColourRef QColorToColourRef(const QColor& c) {
  if (!c.isValid()) return kAutomaticColour;
  return MakeColourRef(c.red(), c.green(), c.blue());
}

// ---- CColourPicker

CColourPicker::CColourPicker(int id, QWidget* parent)
    : QPushButton(parent),
      id_(id),
      state_(QColorToColourRef(palette().color(QPalette::Button)),
             QColorToColourRef(palette().color(QPalette::ButtonText))),
      defaultText_(QStringLiteral("Automatic")),
      customText_(QStringLiteral("More Colours...")) {
  setObjectName(QString::number(id));
  setMinimumWidth(Arrow().minButtonWidth);
  connect(this, &QPushButton::clicked, this, &CColourPicker::OnClicked);
}

// An open popup is a child of the picker and goes with it.
CColourPicker::~CColourPicker() {
  if (popup_) popup_->disconnect(this);
}

QColor CColourPicker::GetColour() const { return ColourRefToQColor(state_.Colour()); }
void CColourPicker::SetColour(const QColor& c) {
  state_.SetColour(QColorToColourRef(c));
  update();
}
QColor CColourPicker::GetBkColour() const { return ColourRefToQColor(state_.Background()); }
void CColourPicker::SetBkColour(const QColor& c) {
  state_.SetBackground(QColorToColourRef(c));
  update();
}
QColor CColourPicker::GetTextColour() const { return ColourRefToQColor(state_.Text()); }
void CColourPicker::SetTextColour(const QColor& c) {
  state_.SetText(QColorToColourRef(c));
  update();
}

PickerArrow CColourPicker::Arrow() const {
  const int thumb = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
  return ComputePickerArrow(thumb, thumb, kEdge, kEdge);
}

QSize CColourPicker::sizeHint() const {
  const PickerArrow a = Arrow();
  return QSize(std::max(a.minButtonWidth, 4 * a.size), a.buttonHeight);
}

QSize CColourPicker::minimumSizeHint() const {
  const PickerArrow a = Arrow();
  return QSize(a.minButtonWidth, a.buttonHeight);
}

void CColourPicker::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect client = rect();
  const PickerArrow a = Arrow();
  const TkRect arrow = PickerArrowRect({0, 0, client.width(), client.height()}, kEdge, kEdge,
                                       a.size);
  const QRect arrowRect = ToQRect(arrow);

  // The drop arrow: a scroll-down button, pushed while the popup is open.
  QStyleOptionButton button;
  button.initFrom(this);
  button.rect = arrowRect;
  const bool pushed = state_.Active() || isDown();
  button.state |= pushed ? QStyle::State_Sunken : QStyle::State_Raised;
  if (!isEnabled()) button.state &= ~QStyle::State_Enabled;
  style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &button, &p, this);
  QStyleOption arrowOpt;
  arrowOpt.initFrom(this);
  arrowOpt.rect = arrowRect.adjusted(3, 3, -3, -3).translated(pushed ? 1 : 0, pushed ? 1 : 0);
  if (!isEnabled()) arrowOpt.state &= ~QStyle::State_Enabled;
  style()->drawPrimitive(QStyle::PE_IndicatorArrowDown, &arrowOpt, &p, this);

  // A sunken edge round the rest, filled with the colour shown.
  const QRect rest(client.left(), client.top(), arrowRect.left() - client.left(),
                   client.height());
  qDrawShadePanel(&p, rest, palette(), true, kEdge);
  const auto fill = state_.FillColour(isEnabled());
  const QColor inside = fill ? ColourRefToQColor(*fill) : palette().color(QPalette::Button);
  p.fillRect(rest.adjusted(kEdge, kEdge, -kEdge, -kEdge), inside);
  if (hasFocus()) {
    QStyleOptionFocusRect focus;
    focus.initFrom(this);
    focus.rect = rest.adjusted(kEdge + 2, kEdge + 2, -kEdge - 2, -kEdge - 2);
    style()->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, &p, this);
  }
}

void CColourPicker::Send(const std::vector<ColourPickerState::Sent>& notes) {
  QPointer<CColourPicker> alive(this);
  for (const auto& n : notes) {
    if (!alive) return;
    const QColor c = ColourRefToQColor(n.colour);
    switch (n.note) {
      case ColourPickerState::Note::SelChange:
        emit selectionChanged(c, id_);
        break;
      case ColourPickerState::Note::DropDown:
        emit dropDown(c, id_);
        break;
      case ColourPickerState::Note::CloseUp:
        emit closeUp(c, id_);
        break;
      case ColourPickerState::Note::EndOk:
        emit selectionEndedOk(c, id_);
        break;
      case ColourPickerState::Note::Cancelled:
        emit selectionCancelled(c, id_);
        break;
    }
  }
}

void CColourPicker::OnClicked() {
  if (popup_) return;
  const auto notes = state_.OnDropDown();
  popup_ = new CColourPopup(mapToGlobal(rect().bottomLeft() + QPoint(0, 1)), state_.Colour(),
                            this, defaultText_, customText_);
  connect(popup_, &CColourPopup::highlightChanged, this, &CColourPicker::OnPopupHighlight);
  connect(popup_, &CColourPopup::ended, this, &CColourPicker::OnPopupEnded);
  update();
  Send(notes);
}

void CColourPicker::OnPopupHighlight(ColourRef colour) {
  const auto notes = state_.OnHighlight(colour);
  update();
  Send(notes);
}

void CColourPicker::OnPopupEnded(bool ok, ColourRef colour) {
  // The popup closes and goes away by itself; a new click opens a new one.
  if (popup_) popup_->disconnect(this);
  popup_ = nullptr;
  const auto notes = ok ? state_.OnEndOk(colour) : state_.OnCancel(colour);
  update();
  Send(notes);
}

// ---- CColourPopup

CColourPopup::CColourPopup(const QPoint& pos, ColourRef initial, CColourPicker* picker,
                           const QString& defaultText, const QString& customText)
    : QWidget(picker, Qt::Popup),
      initial_(initial),
      chosenColour_(initial),
      defaultText_(defaultText),
      customText_(customText),
      layout_(MakeLayout(QFontMetrics(QApplication::font("QMenu")), defaultText, customText)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setFont(QApplication::font("QMenu"));
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);

  // Below the picker, inside the screen; above it near the screen's bottom.
  const QRect pickerRect(picker->mapToGlobal(QPoint(0, 0)), picker->size());
  QScreen* screen = picker->screen() ? picker->screen() : QGuiApplication::primaryScreen();
  const QRect avail = screen ? screen->availableGeometry() : QRect(0, 0, 1 << 16, 1 << 16);
  const TkRect placed = layout_.Place(
      {pickerRect.left(), pickerRect.top(), pickerRect.left() + pickerRect.width(),
       pos.y()},
      {avail.left(), avail.top(), avail.left() + avail.width(), avail.top() + avail.height()});
  setGeometry(placed.left, placed.top, placed.Width(), placed.Height());

  current_ = chosen_ =
      InitialPopupCell(initial, layout_.HasDefault(), layout_.HasCustom());
  // A press outside closes a popup by itself; that, and the program losing
  // the focus to another one, is a cancel (closeEvent).
  connect(qApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState s) {
    if (s != Qt::ApplicationActive) EndSelection(false);
  });
  show();
  setFocus();
}

CColourPopup::~CColourPopup() = default;

QRect CColourPopup::CellRect(int cell) const {
  if (cell == kCellDefault) return ToQRect(layout_.DefaultBox());
  if (cell == kCellCustom) return ToQRect(layout_.CustomBox());
  return ToQRect(layout_.CellRect(cell));
}

void CColourPopup::ChangeSelection(int cell) {
  if (cell == current_) return;
  const int old = current_;
  current_ = cell;
  update(CellRect(old));
  update(CellRect(cell));
  chosenColour_ = PopupCellColour(cell, initial_);
  emit highlightChanged(chosenColour_);
}

void CColourPopup::EndSelection(bool ok) {
  if (ended_) return;
  ended_ = true;
  ColourRef colour = chosenColour_;
  if (ok && current_ == kCellCustom) {
    // The colour dialog takes the place of the popup.
    hide();
    QColorDialog dlg(ColourRefToQColor(initial_).isValid() ? ColourRefToQColor(initial_)
                                                           : QColor(Qt::white),
                     parentWidget());
    dlg.setObjectName(QStringLiteral("moreColours"));
    if (dlg.exec() == QDialog::Accepted && dlg.selectedColor().isValid()) {
      colour = QColorToColourRef(dlg.selectedColor());
    } else {
      ok = false;
    }
  }
  if (!ok) colour = initial_;
  QPointer<CColourPopup> alive(this);
  emit ended(ok, colour);
  if (alive) close();
}

void CColourPopup::keyPressEvent(QKeyEvent* e) {
  const bool d = layout_.HasDefault(), c = layout_.HasCustom();
  switch (e->key()) {
    case Qt::Key_Down:
      ChangeSelection(NextPopupCell(current_, PopupKey::Down, d, c));
      return;
    case Qt::Key_Up:
      ChangeSelection(NextPopupCell(current_, PopupKey::Up, d, c));
      return;
    case Qt::Key_Right:
      ChangeSelection(NextPopupCell(current_, PopupKey::Right, d, c));
      return;
    case Qt::Key_Left:
      ChangeSelection(NextPopupCell(current_, PopupKey::Left, d, c));
      return;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
      EndSelection(true);
      return;
    case Qt::Key_Escape:
      chosenColour_ = initial_;
      EndSelection(false);
      return;
    default:
      QWidget::keyPressEvent(e);
  }
}

void CColourPopup::mouseMoveEvent(QMouseEvent* e) {
  const QPoint p = e->position().toPoint();
  ChangeSelection(layout_.HitTest({p.x(), p.y()}));
}

void CColourPopup::mousePressEvent(QMouseEvent* e) {
  // Outside: Qt closes the popup, which cancels. Inside: the release ends.
  if (!rect().contains(e->position().toPoint())) QWidget::mousePressEvent(e);
}

void CColourPopup::mouseReleaseEvent(QMouseEvent* e) {
  EndSelection(rect().contains(e->position().toPoint()));
}

void CColourPopup::closeEvent(QCloseEvent* e) {
  EndSelection(false);
  QWidget::closeEvent(e);
}

bool CColourPopup::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(e);
    const int cell = layout_.HitTest({help->pos().x(), help->pos().y()});
    if (cell >= 0) {
      QToolTip::showText(help->globalPos(), QString::fromUtf8(PopupColourTable()[cell].name),
                         this, CellRect(cell));
    } else {
      QToolTip::hideText();
    }
    return true;
  }
  return QWidget::event(e);
}

void CColourPopup::DrawCell(QPainter& p, int cell) {
  const QRect r = CellRect(cell);
  if (r.isEmpty()) return;
  const QPalette& pal = palette();
  const bool isBox = cell < 0;
  QColor bg = pal.color(QPalette::Button);
  if (cell == chosen_ && cell != current_) {
    bg = isBox ? pal.color(QPalette::Midlight) : pal.color(QPalette::Light);
  }
  p.fillRect(r, bg);
  if (cell == current_) {
    qDrawShadePanel(&p, r, pal, false, 1);
  } else if (cell == chosen_) {
    qDrawShadePanel(&p, r, pal, true, 1);
  }

  const int m = layout_.Margin();
  if (!isBox) {
    const QRect swatch = r.adjusted(m + 1, m + 1, -m - 1, -m - 1);
    p.setPen(QPen(pal.color(QPalette::Dark), 1));
    p.setBrush(ColourRefToQColor(PopupColourTable()[cell].colour));
    p.drawRect(swatch.adjusted(0, 0, -1, -1));
    return;
  }
  if (cell == kCellCustom) {
    // A two-line separator along the box's top.
    const int x0 = r.left() + 2 * m, x1 = r.right() - 2 * m;
    p.setPen(pal.color(QPalette::Dark));
    p.drawLine(x0, r.top(), x1, r.top());
    p.setPen(pal.color(QPalette::Light));
    p.drawLine(x0, r.top() + 1, x1, r.top() + 1);
  } else {
    p.setPen(pal.color(QPalette::Dark));
    p.setBrush(Qt::NoBrush);
    p.drawRect(r.adjusted(m, m, -m - 1, -m - 1));
  }
  p.setPen(pal.color(QPalette::ButtonText));
  p.drawText(r, Qt::AlignCenter | Qt::TextSingleLine,
             cell == kCellCustom ? customText_ : defaultText_);
}

void CColourPopup::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Button));
  if (layout_.HasDefault()) DrawCell(p, kCellDefault);
  for (int i = 0; i < kPopupColours; ++i) DrawCell(p, i);
  if (layout_.HasCustom()) DrawCell(p, kCellCustom);
  qDrawShadePanel(&p, rect(), palette(), false, 1);
}

}  // namespace vvconsole
