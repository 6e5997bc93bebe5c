// The hyperlink control offscreen: its text, colours, clicks and the
// desktop opener it hands the address to.
#include <gtest/gtest.h>

#include "tests/console/ui/ShowQuietly.h"
#include <stdlib.h>

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <fstream>

#include "console/logic/Prompt.h"
#include "console/ui/HyperLink.h"
#include "tests/tools/TestUtil.h"

using vvconsole::CHyperLink;

namespace {

struct RecordingPrompt : IPrompt {
  std::vector<std::string> messages;
  void Message(const std::string& text) override { messages.push_back(text); }
  bool Ask(const std::string&) override { return false; }
};

void Click(QWidget* w) {
  QPointF at(1, 1);
  QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, w->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(w, &press);
  QApplication::sendEvent(w, &release);
}

}  // namespace

TEST(HyperLink, EmptyTextShowsTheAddressAndTheTipHoldsIt) {
  QWidget parent;
  CHyperLink a(QString(), &parent);
  a.SetURL(QStringLiteral("https://example.org/a"));
  EXPECT_EQ(a.text(), QStringLiteral("https://example.org/a"));
  EXPECT_EQ(a.toolTip(), QStringLiteral("https://example.org/a"));
  CHyperLink b(QStringLiteral("主页"), &parent);
  EXPECT_EQ(b.GetURL(), QStringLiteral("主页"));  // the text stands for the address until one is set
  b.SetURL(QStringLiteral("https://example.org/b"));
  EXPECT_EQ(b.text(), QStringLiteral("主页"));
  EXPECT_TRUE(b.font().underline());
  b.SetUnderline(false);
  EXPECT_FALSE(b.font().underline());
  EXPECT_EQ(b.cursor().shape(), Qt::PointingHandCursor);
}

TEST(HyperLink, ClickResultDecidesVisitedOrMessage) {
  struct Case {
    int result;
    bool visited;
    const char* message;
  } cases[] = {
      {33, true, nullptr},
      {42, true, nullptr},
      {26, false, "Unable to open hyperlink:\n\nA sharing violation occurred. "},
      {2, false, "Unable to open hyperlink:\n\nThe specified file was not found."},
      {32, false, "Unable to open hyperlink:\n\nThe specified dynamic-link library was not found."},
  };
  for (const Case& c : cases) {
    QWidget parent;
    CHyperLink link(QStringLiteral("link"), &parent);
    RecordingPrompt prompt;
    link.SetPrompt(&prompt);
    QString opened;
    link.SetURL(QStringLiteral("https://example.org/x"));
    link.SetOpener([&](const QString& a) {
      opened = a;
      return c.result;
    });
    vvuitest::ShowQuietly(&parent);
    Click(&link);
    EXPECT_EQ(opened, QStringLiteral("https://example.org/x"));
    EXPECT_EQ(link.GetVisited(), c.visited) << c.result;
    if (c.message) {
      ASSERT_EQ(prompt.messages.size(), 1u) << c.result;
      EXPECT_EQ(prompt.messages[0], c.message);
    } else {
      EXPECT_TRUE(prompt.messages.empty()) << c.result;
    }
  }
}

TEST(HyperLink, LeavingRestoresLinkOrVisitedColour) {
  QWidget parent;
  CHyperLink link(QStringLiteral("link"), &parent);
  link.SetColours(QColor(1, 2, 3), QColor(4, 5, 6), QColor(7, 8, 9));
  EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(1, 2, 3));
  QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
  QApplication::sendEvent(&link, &enter);
  EXPECT_TRUE(link.IsOver());
  EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(7, 8, 9));
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&link, &leave);
  EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(1, 2, 3));
  link.SetVisited(true);
  QApplication::sendEvent(&link, &enter);
  QApplication::sendEvent(&link, &leave);
  EXPECT_EQ(link.palette().color(QPalette::WindowText), QColor(4, 5, 6));
  // No hover colour given: the system highlight colour.
  link.SetColours(QColor(1, 2, 3), QColor(4, 5, 6));
  EXPECT_EQ(link.GetHoverColour(), QApplication::palette().color(QPalette::Highlight));
}

// The desktop opener receives the address as one argument: characters a
// shell would act on stay inside it.
TEST(HyperLink, DesktopOpenerGetsTheAddressAsOneArgument) {
  vvtest::TempDir dir("vvlink");
  std::string argsFile = dir.file("args");
  std::string marker = dir.file("injected");
  {
    std::ofstream s(dir.file("xdg-open"));
    s << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > " << vvtest::ShellQuote(argsFile) << ".tmp\n"
      << "mv " << vvtest::ShellQuote(argsFile) << ".tmp " << vvtest::ShellQuote(argsFile) << "\n";
  }
  vvtest::Run("chmod +x " + vvtest::ShellQuote(dir.file("xdg-open")));
  std::string oldPath = getenv("PATH") ? getenv("PATH") : "";
  setenv("PATH", (dir.path() + ":" + oldPath).c_str(), 1);

  std::string address = "http://127.0.0.1/a b;touch " + marker + "&$(touch " + marker + ")'\"";
  QWidget parent;
  CHyperLink link(QStringLiteral("link"), &parent);
  link.SetURL(QString::fromStdString(address));
  RecordingPrompt prompt;
  link.SetPrompt(&prompt);
  link.Open();
  bool written = vvtest::WaitFor([&] { return !vvtest::ReadFileText(argsFile).empty(); }, std::chrono::seconds(20));
  setenv("PATH", oldPath.c_str(), 1);
  ASSERT_TRUE(written);
  EXPECT_EQ(vvtest::ReadFileText(argsFile), address + "\n");
  EXPECT_TRUE(link.GetVisited());
  EXPECT_TRUE(prompt.messages.empty());
  std::ifstream injected(marker);
  EXPECT_FALSE(injected.good());
}
