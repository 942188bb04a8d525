#include "gui/ui/frmAbout.h"

#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QProcess>
#include <QVBoxLayout>
#include <QtMath>

#include "gui/controls/icons.h"
#include "gui/ui/ContextIDs.h"
#include "gui/ui/FunctionKeys.h"
#include "gui/ui/frmSplash.h"
#include "kestrum_version.h"

namespace kestrum::gui {

QString AboutLicenceText() {
  return QString(version::Product) +
         " is free software: you can redistribute it and/or modify it under the terms of the "
         "GNU General Public License as published by the Free Software Foundation, either "
         "version 3 of the License, or (at your option) any later version.\n\n"
         "It is distributed in the hope that it will be useful, but WITHOUT ANY WARRANTY; "
         "without even the implied warranty of MERCHANTABILITY or FITNESS FOR A PARTICULAR "
         "PURPOSE. See the GNU General Public License for more details.";
}

QString AboutProjectText(const QString& helpFolder) {
  return QString(version::Product) +
         " is developed in the open: its source, its history and its issue tracker live in "
         "the project's git repository.\n\n"
         "This copy keeps its help in " +
         helpFolder + " (Help, Contents) and its manual page as \"man kestrum\".";
}

QString AboutProblemText() {
  return "To report a problem, start the program as \"kestrum trace\" and do again what went "
         "wrong. Then open an issue in the project's tracker with what you did, what you "
         "expected and what happened, and attach the trace log: kestrum.tra beside the "
         "program, or in ~/.local/state/Kestrum/ for an installed program (its header names "
         "the place).";
}

frmAbout::frmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName("frmAbout");
  setWindowTitle(QString("About ") + version::Product);
  const QIcon icon = parent ? parent->windowIcon() : IconFor(QString("MyComputer"));
  setWindowIcon(icon);

  const QFontMetrics fm(font());
  icon_ = new QLabel(this);
  icon_->setObjectName("picIcon");
  icon_->setAccessibleName("Program icon");
  icon_->setPixmap(icon.pixmap(48, 48));
  icon_->setAlignment(Qt::AlignTop | Qt::AlignHCenter);

  auto label = [this](const char* name, const QString& text, double scale, bool bold) {
    auto* l = new QLabel(text, this);
    l->setObjectName(name);
    l->setTextFormat(Qt::PlainText);
    l->setWordWrap(true);
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    QFont f = l->font();
    f.setPointSizeF(f.pointSizeF() * scale);
    f.setBold(bold);
    l->setFont(f);
    return l;
  };
  auto* title = label("lblTitle", version::Product, 1.6, true);
  auto* ver = label("lblVersion", VersionText(), 1.0, false);
  auto* comment = label("lblComment", version::Comments, 1.0, false);
  auto* company = label("lblCompany", version::Company, 1.0, false);
  auto* copyright = label("lblCopyright", version::Copyright, 1.0, false);

  const QString texts[3] = {AboutLicenceText(),
                            AboutProjectText(QFileInfo(HelpFile(parent)).absolutePath()),
                            AboutProblemText()};
  const char* names[3] = {"Licence", "Where the project lives", "Reporting a problem"};
  for (int i = 0; i < 3; ++i) {
    auto* t = new QPlainTextEdit(texts[i], this);
    t->setObjectName(QString("Text%1").arg(i + 1));
    t->setAccessibleName(names[i]);
    t->setReadOnly(true);
    t->setTabChangesFocus(true);
    // Whole lines only: five of them, the document's margins and the frame.
    t->setFixedHeight(fm.lineSpacing() * 5 + 2 * t->frameWidth() +
                      2 * qCeil(t->document()->documentMargin()) + 2);
    texts_[i] = t;
  }

  ok_ = new QPushButton("OK", this);
  ok_->setObjectName("cmdOK");
  ok_->setDefault(true);
  sysInfo_ = new QPushButton("&System Info...", this);
  sysInfo_->setObjectName("cmdSysInfo");
  connect(ok_, &QPushButton::clicked, this, &frmAbout::cmdOK_Click);
  connect(sysInfo_, &QPushButton::clicked, this, &frmAbout::cmdSysInfo_Click);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);

  auto* grid = new QGridLayout(this);
  grid->setHorizontalSpacing(fm.averageCharWidth() * 2);
  grid->addWidget(icon_, 0, 0, 3, 1);
  grid->addWidget(title, 0, 1);
  grid->addWidget(ver, 1, 1);
  grid->addWidget(comment, 2, 1);
  grid->addWidget(texts_[0], 3, 1);
  grid->addWidget(texts_[1], 4, 1);
  grid->addWidget(texts_[2], 5, 1);
  grid->addWidget(line, 6, 0, 1, 2);
  auto* bottom = new QHBoxLayout;
  auto* facts = new QVBoxLayout;
  facts->addWidget(company);
  facts->addWidget(copyright);
  bottom->addLayout(facts, 1);
  auto* buttons = new QVBoxLayout;
  buttons->addWidget(ok_);
  buttons->addWidget(sysInfo_);
  buttons->addStretch(1);
  bottom->addLayout(buttons);
  grid->addLayout(bottom, 7, 0, 1, 2);
  grid->setColumnStretch(1, 1);
  setMinimumWidth(fm.averageCharWidth() * 100);
  InstallF12(this);
}

QLabel* frmAbout::Label(const char* name) const { return findChild<QLabel*>(name); }

bool frmAbout::StartSysInfo() {
  if (const auto cmd = SysInfoCommand(Sources)) {
    QStringList args;
    for (std::size_t i = 1; i < cmd->size(); ++i) args << QString::fromStdString((*cmd)[i]);
    if (QProcess::startDetached(QString::fromStdString(cmd->front()), args)) return true;
  }
  auto* box = new QMessageBox(QMessageBox::NoIcon, version::Product, kSysInfoUnavailable,
                              QMessageBox::Ok, this);
  box->setObjectName("msgSysInfo");
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
  return false;
}

}  // namespace kestrum::gui
