#pragma once
// A bitmap cut into equal frames (CBitmapStrip) and the button painted
// from one (CBitWnd): frame 0 normal, 1 under the mouse, 2 pressed or
// checked.
#include <QCursor>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QWidget>
#include <memory>
#include <optional>

#include "console/logic/toolkit/BitmapStripLayout.h"

class QPainter;

namespace vvconsole {

class CBitmapStrip {
 public:
  // The bitmap from a file or a Qt resource (":/..."); a bitmap that cannot
  // be read gives a strip without frames. Copy mode 1 keeps a second,
  // writable copy of the bitmap.
  CBitmapStrip(const QString& resource, int frameWidth, int frameHeight, int copyMode = 0);
  CBitmapStrip(const QImage& bitmap, int frameWidth, int frameHeight, int copyMode = 0);

  const BitmapStripLayout& Layout() const { return layout_; }
  int FrameCount() const { return layout_.FrameCount(); }
  int FrameWidth() const { return layout_.FrameWidth(); }
  int FrameHeight() const { return layout_.FrameHeight(); }
  bool IsVertical() const { return layout_.IsVertical(); }
  int CopyMode() const { return copyMode_; }
  QPoint Offset() const;
  void SetOffset(const QPoint& p);
  const QImage& Bitmap() const { return bitmap_; }
  const QImage& CopyBitmap() const { return copy_; }

  // False for an index outside the strip.
  bool GetFrameRect(int index, QRect* rect, bool ignoreOffset = false,
                    const QPoint* offset = nullptr) const;
  bool HitTest(const QPoint& p, const QPoint* offset = nullptr) const;
  QRect GetBounds(const QPoint* offset = nullptr) const;

  // Draws one frame; false (nothing drawn) without a painter or for an
  // index outside the strip.
  bool DrawFrame(QPainter* painter, int index, bool keepPosition = false,
                 const QPoint* offset = nullptr) const;
  // Draws the whole bitmap (the copy in copy mode): a zero width or height
  // takes the bitmap's; see BitmapStripLayout::PlanDraw.
  bool Draw(QPainter* painter, int x, int y, int width = 0, int height = 0,
            const QPoint& source = QPoint(), bool stretch = false, bool centre = false) const;
  bool Draw(QPainter* painter, const QRect& dest, const QPoint& source = QPoint(),
            bool stretch = false, bool centre = false) const;

  // Copy mode only: a frame of another strip into the same frame of the
  // copy, and the whole bitmap over the copy.
  bool CopyFrameFrom(const CBitmapStrip& other, int index);
  void ResetCopy();

 private:
  void Init(int frameWidth, int frameHeight);

  QImage bitmap_;
  QImage copy_;
  int copyMode_;
  BitmapStripLayout layout_;
};

class CBitWnd : public QWidget {
  Q_OBJECT
 public:
  // id: the control id (the objectName) sent with the command.
  explicit CBitWnd(int id, QWidget* parent = nullptr);
  ~CBitWnd() override;

  int Id() const { return id_; }
  // Makes and owns a strip (copy mode off), freeing an owned one, and sizes
  // the button to one frame. False when the bitmap gives no frame.
  bool LoadStrip(const QString& resource, int frameWidth, int frameHeight);
  bool LoadStrip(const QImage& bitmap, int frameWidth, int frameHeight);
  // A strip the caller owns (an owned one is freed); null leaves the button
  // without a strip.
  void SetStrip(CBitmapStrip* strip);
  CBitmapStrip* Strip() const { return strip_; }
  bool OwnsStrip() const { return owned_ != nullptr; }

  int Frame() const { return state_.Frame(); }
  bool GetCheck() const { return state_.Checked(); }
  void SetCheck(bool checked);
  void SetToggle(bool on) { state_.SetToggles(on); }
  bool GetToggle() const { return state_.Toggles(); }
  void SetNotifyOnPress(bool on) { state_.SetNotifyOnPress(on); }
  // Moves and left-button presses and releases go on to the parent, in its
  // coordinates (moves without a button reach a parent that tracks the
  // mouse, as Qt delivers them).
  void SetForwardMouse(bool on) { state_.SetForwardsMouse(on); }
  // Nothing: the default cursor.
  void SetButtonCursor(const std::optional<QCursor>& cursor);

  QSize sizeHint() const override;

 signals:
  // The button was clicked (on the press with notify on press, else on the
  // release).
  void command(int id, CBitWnd* button);

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void leaveEvent(QEvent* e) override;

 private:
  void UseStrip(CBitmapStrip* strip);
  void Forward(QMouseEvent* e);
  // Repaints after a press or release, sends the command when notify is
  // set, then forwards the event unless the command closed the window.
  void AfterClick(bool notify, QMouseEvent* e);

  int id_;
  BitButtonState state_;
  CBitmapStrip* strip_ = nullptr;
  std::unique_ptr<CBitmapStrip> owned_;
};

}  // namespace vvconsole
