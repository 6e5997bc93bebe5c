#pragma once
// A static text turned into a link: underlined in the link colour, the hover
// colour under the mouse, a hand cursor, its address as tool tip; a click
// opens the address with the desktop opener (the address is handed over as
// one argument, never through a shell).
#include <QColor>
#include <QCursor>
#include <QLabel>
#include <functional>

class IPrompt;

namespace vvconsole {

class CHyperLink : public QLabel {
  Q_OBJECT

 public:
  // Opens an address; above 32 means it opened (see hyperlink::kOpened).
  using Opener = std::function<int(const QString& address)>;

  explicit CHyperLink(const QString& text = QString(), QWidget* parent = nullptr);

  void SetURL(const QString& address);
  QString GetURL() const { return url_; }
  // An invalid hover colour means the system highlight colour.
  void SetColours(const QColor& link, const QColor& visited, const QColor& hover = QColor());
  QColor GetLinkColour() const { return link_; }
  QColor GetVisitedColour() const { return visited_; }
  QColor GetHoverColour() const;
  void SetVisited(bool visited = true);
  bool GetVisited() const { return visitedFlag_; }
  // A cursor of shape Qt::BitmapCursor with no pixmap counts as none: the hand.
  void SetLinkCursor(const QCursor& cursor);
  QCursor GetLinkCursor() const { return cursor_; }
  void SetUnderline(bool underline = true);
  bool GetUnderline() const { return underline_; }
  void SetAutoSize(bool autoSize = true);
  bool GetAutoSize() const { return autoSize_; }

  // The colour the text is drawn in now.
  QColor CurrentColour() const;
  bool IsOver() const { return over_; }

  // Where clicks go and where failures are told (tests); null restores
  // the desktop opener and the message box.
  void SetOpener(Opener opener);
  void SetPrompt(IPrompt* prompt) { prompt_ = prompt; }
  // The desktop opener: "xdg-open" with the address as its one argument.
  static int OpenWithDesktop(const QString& address);

  // Opens the address as a click does.
  void Open();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void ApplyColour();
  void ApplyFont();
  void Fit();

  QColor link_{0, 0, 238};
  QColor visited_{85, 26, 139};
  QColor hover_;  // invalid: the highlight colour
  bool over_ = false;
  bool visitedFlag_ = false;
  bool underline_ = true;
  bool autoSize_ = true;
  QString url_;
  QCursor cursor_{Qt::PointingHandCursor};
  Opener opener_;
  IPrompt* prompt_ = nullptr;
};

}  // namespace vvconsole
