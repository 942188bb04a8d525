#include "gui/ui/ContextIDs.h"

#include <QApplication>
#include <QVariant>

#include "core/app/help_files.h"
#include "gui/ui/frmHelp.h"

#ifndef KESTRUM_DATADIR
#define KESTRUM_DATADIR "share"
#endif
#ifndef KESTRUM_INSTALL_DATADIR
#define KESTRUM_INSTALL_DATADIR ""
#endif

namespace kestrum::gui {

namespace {
constexpr const char* kHelpFileProperty = "kestrumHelpFile";

QWidget* TopOf(QWidget* w) {
  while (w && w->parentWidget()) w = w->parentWidget();
  return w;
}

QString SettleHelpFile() {
  const std::string folder = QCoreApplication::applicationDirPath().toStdString();
  return QString::fromStdString(
      FindHelpFile(HelpFileCandidates(folder, KESTRUM_DATADIR, KESTRUM_INSTALL_DATADIR)));
}
}  // namespace

void HelpSetup(QWidget* owner) {
  if (owner) owner->setProperty(kHelpFileProperty, SettleHelpFile());
}

QString HelpFile(const QWidget* from) {
  for (const QWidget* w = from; w; w = w->parentWidget()) {
    const QVariant v = w->property(kHelpFileProperty);
    if (v.isValid()) return v.toString();
  }
  return SettleHelpFile();
}

frmHelp* HelpWindowFor(QWidget* from) {
  QWidget* owner = QApplication::activeModalWidget();
  if (!owner) owner = TopOf(from);
  if (owner)
    if (auto* existing = owner->findChild<frmHelp*>(QString(), Qt::FindDirectChildrenOnly))
      return existing;
  return new frmHelp(HelpFile(from), owner);
}

void HelpContents(QWidget* from) { HelpWindowFor(from)->ShowContents(); }

void HelpSearch(QWidget* from) { HelpWindowFor(from)->ShowIndex(); }

}  // namespace kestrum::gui
