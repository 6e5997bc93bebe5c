#pragma once
// The toolbar's CPU panel: a borderless panel with a gradient background
// and, in its right half, a bar with the machine's processor load as text,
// refreshed every second.
#include <QString>
#include <QTimer>
#include <QWidget>
#include <string>

#include "console/logic/CpuLoad.h"

namespace vvconsole {

// A progress bar that paints itself: black ground, green fill, the text
// centred twice (shadowed), a sunken border.
class CSwingProgressCtrl : public QWidget {
  Q_OBJECT

 public:
  explicit CSwingProgressCtrl(QWidget* parent = nullptr);
  void SetText(const QString& text);
  QString GetText() const { return text_; }
  void SetRange(int lower, int upper);
  void SetStep(int step) { step_ = step; }
  void SetPos(int pos);
  int GetPos() const { return pos_; }
  void SetVertical(bool vertical);
  // The filled part, in the widget's coordinates.
  QRect FilledRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
  int lower_ = 0, upper_ = 100, step_ = 1, pos_ = 0;
  bool vertical_ = false;
};

class CCpuNetInfoDlg : public QWidget {
  Q_OBJECT

 public:
  // statPath: where the processor counters are read (tests point it elsewhere).
  explicit CCpuNetInfoDlg(QWidget* parent = nullptr, const std::string& statPath = "/proc/stat");
  CSwingProgressCtrl* Bar() const { return bar_; }
  // One refresh: read the load, show it on the bar.
  void UpdateCpuLoad();
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  cpuload::CpuLoadMeter meter_;
  CSwingProgressCtrl* bar_;
  QTimer timer_;
};

}  // namespace vvconsole
