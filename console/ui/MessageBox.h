#pragma once
// Message boxes of the console with Chinese button texts, and the prompt
// that hands the logic's questions to them.
#include <string>

#include "console/logic/Prompt.h"

class QWidget;

namespace vvconsole {

// One "确定" button.
void ShowMessage(QWidget* parent, const std::string& text);
// "是" and "否"; true only on Yes.
bool AskYesNo(QWidget* parent, const std::string& text);

class MessageBoxPrompt : public IPrompt {
 public:
  explicit MessageBoxPrompt(QWidget* parent) : parent_(parent) {}
  void Message(const std::string& text) override { ShowMessage(parent_, text); }
  bool Ask(const std::string& text) override { return AskYesNo(parent_, text); }

 private:
  QWidget* parent_;
};

}  // namespace vvconsole
