#pragma once
// What the console's logic asks of the operator: a message to read and a
// Yes/No question. The widgets answer with message boxes; tests record them.
#include <string>

class IPrompt {
 public:
  virtual ~IPrompt() = default;
  // A message box with one button ("确定").
  virtual void Message(const std::string& text) = 0;
  // A Yes/No question ("是", "否"); true only on Yes.
  virtual bool Ask(const std::string& text) = 0;
};
