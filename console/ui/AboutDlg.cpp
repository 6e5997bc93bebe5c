#include "console/ui/AboutDlg.h"

#include <QDateTime>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QVBoxLayout>

#include "console/logic/FrameModel.h"
#include "console/ui/HyperLink.h"

namespace vvconsole {

QString AboutBuildText(const char* date, const char* time) {
  std::string line = BuildLine(date, time);  // "Build: yyyy-mm-dd hh:mm:ss" when readable
  QString text = QString::fromStdString(line);
  QDateTime when = QDateTime::fromString(text.mid(7), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
  if (!when.isValid()) return text;
  return QStringLiteral("Build: %1").arg(QLocale::system().toString(when, QLocale::ShortFormat));
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("100"));
  setWindowTitle(QStringLiteral("关于Velvanet"));

  auto* icon = new QLabel(this);
  icon->setPixmap(QIcon(QStringLiteral(":/console/velvanet.svg")).pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  auto* name = new QLabel(QStringLiteral("Velvanet 直播转发服务器"), this);
  QFont bold = name->font();
  bold.setBold(true);
  name->setFont(bold);
  auto* version = new QLabel(QString::fromUtf8(kVersionText), this);

  struct Link {
    int id;
    const char* text;
    const char* url;
  } links[] = {
      {1069, "产品主页", "https://velvanet.example.org/"},
      {1070, "使用文档", "https://velvanet.example.org/docs/"},
      {1071, "技术支持", "mailto:support@velvanet.example.org"},
  };
  auto* linkRow = new QHBoxLayout;
  for (int i = 0; i < 3; ++i) {
    links_[i] = new CHyperLink(QString::fromUtf8(links[i].text), this);
    links_[i]->setObjectName(QString::number(links[i].id));
    links_[i]->SetURL(QString::fromUtf8(links[i].url));
    linkRow->addWidget(links_[i]);
  }
  linkRow->addStretch(1);

  build_ = new QLabel(AboutBuildText(__DATE__, __TIME__), this);
  build_->setObjectName(QStringLiteral("1074"));

  auto* text = new QVBoxLayout;
  text->addWidget(name);
  text->addWidget(version);
  text->addLayout(linkRow);
  text->addWidget(build_);
  text->addStretch(1);

  auto* ok = new QPushButton(QStringLiteral("确定"), this);
  ok->setObjectName(QStringLiteral("1"));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* top = new QHBoxLayout;
  top->addWidget(icon);
  top->addSpacing(12);
  top->addLayout(text, 1);
  top->addWidget(ok, 0, Qt::AlignTop);

  auto* outer = new QVBoxLayout(this);
  outer->addLayout(top);
  outer->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace vvconsole
