#include "gui/ui/FunctionKeys.h"

#include <QShortcut>

#include "gui/ui/ContextIDs.h"

namespace kestrum::gui {

void InstallF12(QWidget* window) {
  if (!window) return;
  auto* key = new QShortcut(QKeySequence(Qt::Key_F12), window);
  key->setObjectName("keyF12");
  key->setContext(Qt::WindowShortcut);
  QObject::connect(key, &QShortcut::activated, window, [window] { HelpContents(window); });
}

}  // namespace kestrum::gui
