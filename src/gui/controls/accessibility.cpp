#include "gui/controls/accessibility.h"

#include <QAccessible>
#include <QAccessibleApplication>
#include <QApplication>
#include <QMenu>
#include <QWidget>

namespace kestrum::gui {

namespace {

// The application with its open popup menus after its windows.
class ApplicationWithPopups : public QAccessibleApplication {
 public:
  int childCount() const override {
    return QAccessibleApplication::childCount() + static_cast<int>(Popups().size());
  }

  QAccessibleInterface* child(int index) const override {
    const int windows = QAccessibleApplication::childCount();
    if (index < windows) return QAccessibleApplication::child(index);
    const QList<QWidget*> popups = Popups();
    const qsizetype i = index - windows;
    return i < popups.size() ? QAccessible::queryAccessibleInterface(popups[i]) : nullptr;
  }

  int indexOfChild(const QAccessibleInterface* child) const override {
    if (child) {
      const qsizetype i = Popups().indexOf(qobject_cast<QWidget*>(child->object()));
      if (i >= 0) return QAccessibleApplication::childCount() + static_cast<int>(i);
    }
    return QAccessibleApplication::indexOfChild(child);
  }

 private:
  static QList<QWidget*> Popups() {
    QList<QWidget*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
      if (w->isVisible() && w->windowType() == Qt::Popup && qobject_cast<QMenu*>(w)) out << w;
    return out;
  }
};

QAccessibleInterface* Factory(const QString& key, QObject* object) {
  if (key == QLatin1String("QApplication") && object == qApp) return new ApplicationWithPopups;
  return nullptr;
}

}  // namespace

void InstallAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(Factory);
    return true;
  }();
  (void)installed;
}

}  // namespace kestrum::gui
