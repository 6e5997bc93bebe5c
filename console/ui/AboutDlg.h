#pragma once
// The about box: the program's icon, its version, three links and the date
// and time the program was built.
#include <QDialog>

class QLabel;

namespace vvconsole {

class CHyperLink;

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(QWidget* parent = nullptr);
  QLabel* BuildLabel() const { return build_; }
  CHyperLink* Link(int index) const { return links_[index]; }

 private:
  QLabel* build_ = nullptr;
  CHyperLink* links_[3] = {nullptr, nullptr, nullptr};
};

// "Build: " and the build's date and time in the operator's locale.
QString AboutBuildText(const char* date, const char* time);

}  // namespace vvconsole
