#pragma once
// The settings sheet "设置": the Ixo server page (address, port, key and a
// connection test) and the start-up page (autorun, start every forward task
// at launch). "确定" and "应用" write the pages the operator has opened.
#include <QDialog>
#include <QWidget>
#include <atomic>
#include <thread>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class IPrompt;

namespace vvconsole {

class CIxoPullStreamSetupPage : public QWidget {
  Q_OBJECT

 public:
  CIxoPullStreamSetupPage(IPrompt* prompt, QWidget* parent = nullptr);
  ~CIxoPullStreamSetupPage() override;

  bool Visited() const { return visited_; }
  // Writes HOST, PORT and KEY; false (after telling the operator) when the
  // port is not a number or the file could not be written.
  bool OnApply();
  // Button 1092: tests the connection off the window's thread; the outcome
  // is told when it comes back.
  void OnTestConnect();
  bool TestRunning() const { return testing_; }

 signals:
  void Changed();
  void TestFinished(const QString& text);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Load();

  IPrompt* prompt_;
  QLineEdit* host_;
  QLineEdit* port_;
  QLineEdit* key_;
  QPushButton* test_;
  bool visited_ = false;
  bool loaded_ = false;
  bool testing_ = false;
  std::thread tester_;
};

class CStartupOptionPage : public QWidget {
  Q_OBJECT

 public:
  CStartupOptionPage(IPrompt* prompt, QWidget* parent = nullptr);
  bool Visited() const { return visited_; }
  // Sets or removes autorun (its outcome is only logged) and writes
  // AUTO_FORWARD; false (after telling the operator) when that fails.
  bool OnApply();

 signals:
  void Changed();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void Load();

  IPrompt* prompt_;
  QCheckBox* autoRun_;
  QCheckBox* autoForward_;
  bool visited_ = false;
  bool loaded_ = false;
};

class CSetupSheet : public QDialog {
  Q_OBJECT

 public:
  // prompt: where messages go (null: message boxes).
  explicit CSetupSheet(const QString& caption, QWidget* parent = nullptr, IPrompt* prompt = nullptr);
  ~CSetupSheet() override;

  CIxoPullStreamSetupPage* IxoPage() const { return ixo_; }
  CStartupOptionPage* StartupPage() const { return startup_; }
  QTabWidget* Tabs() const { return tabs_; }
  // Applies the opened pages in tab order; false keeps the sheet open.
  bool Apply();
  void accept() override;

 private:
  IPrompt* prompt_;
  IPrompt* ownPrompt_ = nullptr;
  QTabWidget* tabs_;
  CStartupOptionPage* startup_;
  CIxoPullStreamSetupPage* ixo_;
  QPushButton* apply_;
};

}  // namespace vvconsole
