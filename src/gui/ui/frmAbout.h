#pragma once
#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

#include "core/app/sys_info_tool.h"

namespace kestrum::gui {

// The About window: the program's icon, title, version, comment, company and legal notice
// from the version record, three read-only texts (licence, where the project lives, how to
// report a problem), "OK" and "&System Info...".
class frmAbout : public QDialog {
  Q_OBJECT
 public:
  // parent: the main window, whose icon the window takes.
  explicit frmAbout(QWidget* parent = nullptr);

  // Starts the system-information program (see core/app/sys_info_tool.h); when none is found
  // or it cannot be started, shows "System Information Is Unavailable At This Time" (OK
  // only, no icon) and the window stays open. Returns whether a program was started.
  bool StartSysInfo();
  void cmdOK_Click() { close(); }
  void cmdSysInfo_Click() { StartSysInfo(); }

  // Where StartSysInfo looks; the process's own by default (tests point it elsewhere).
  SysInfoSources Sources = SystemSysInfoSources();

  QLabel* picIcon() const { return icon_; }
  QLabel* Label(const char* name) const;
  QPlainTextEdit* Text(int n) const { return texts_[n - 1]; }
  QPushButton* cmdOK() const { return ok_; }
  QPushButton* cmdSysInfo() const { return sysInfo_; }

 private:
  QLabel* icon_;
  QPlainTextEdit* texts_[3];
  QPushButton* ok_;
  QPushButton* sysInfo_;
};

// The three texts of the About window.
QString AboutLicenceText();
QString AboutProjectText(const QString& helpFolder);
QString AboutProblemText();

}  // namespace kestrum::gui
