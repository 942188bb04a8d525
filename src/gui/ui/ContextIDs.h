#pragma once
#include <QString>
#include <QWidget>

namespace kestrum::gui {

class frmHelp;

// The program's help: where its collection is and the two help commands of the Help menu.
// Window thread only.

// Settles the help collection of the program and keeps it with owner (the main window):
// beside the executable in a build tree, else the installed one (core/app/help_files.h).
void HelpSetup(QWidget* owner);
// The help collection the program uses: the one HelpSetup kept with the top window of from,
// or the one it would settle on.
QString HelpFile(const QWidget* from = nullptr);
// "&Contents": opens the help window at its contents. from: the window asking.
void HelpContents(QWidget* from);
// "&Search For Help On...": opens the help window on its keyword index, nothing typed in.
void HelpSearch(QWidget* from);
// The help window that HelpContents and HelpSearch from this window show: a window of the
// modal dialog in front, if one is open (so that it can be used at all), else of the top
// window of from. Made on first use.
frmHelp* HelpWindowFor(QWidget* from);

}  // namespace kestrum::gui
