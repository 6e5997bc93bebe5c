#pragma once
// Skinned title strips: a tiled background image, a button image with its
// states stacked vertically drawn over it, and one or two clickable buttons
// that tell the owner which was clicked.
#include <QPixmap>
#include <QString>
#include <QWidget>

#include "console/logic/TitleStrip.h"

class CKHTitleBaseDlg : public QWidget {
  Q_OBJECT
 public:
  explicit CKHTitleBaseDlg(QWidget* parent = nullptr);
  // The image tiled across the strip; the strip takes its height.
  void SetBackgroundBitmap(const QString& resource);
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent*) override;
  virtual void PaintOver(class QPainter&) {}
  QPixmap background_;
};

class CKHTitleBitDlg : public CKHTitleBaseDlg {
  Q_OBJECT
 public:
  explicit CKHTitleBitDlg(QWidget* parent = nullptr);
  // Both set: stored, true. Otherwise false, and the strip has no buttons.
  bool SetButtonBitmap(const QString& resource, int count);
  void SetSelected(int index);
  int Selected() const { return selected_; }
  StripBox DrawBox() const { return draw_; }

 protected:
  void PaintOver(QPainter& painter) override;
  QPixmap buttons_;
  int count_ = 0;
  int selected_ = 0;
  StripBox draw_;
};

class CKHTitleMainDlg : public CKHTitleBitDlg {
  Q_OBJECT
 public:
  // mode: the number of buttons (1 to 3).
  CKHTitleMainDlg(const QString& buttonResource, int mode, QWidget* parent = nullptr);
  StripButtons Buttons() const { return buttons_hit_; }

 signals:
  // The button clicked (0 or 1); delivered to the owner as a queued call.
  void ButtonClicked(int index);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;

 private:
  int mode_;
  StripButtons buttons_hit_;
};
