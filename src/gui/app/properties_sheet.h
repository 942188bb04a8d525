#pragma once
#include <QObject>
#include <QPointer>

#include "core/commands/targets.h"
#include "core/fileops/properties.h"

class QWidget;

namespace kestrum::gui {

// The properties command's sheet: asks a file manager on the session bus to show an
// object's properties, and opens Kestrum's own window when none answers. Window thread only.
class PropertiesSheet : public QObject {
  Q_OBJECT
 public:
  // window: the owner of the windows opened.
  explicit PropertiesSheet(QWidget* window);

  void Show(const RowTarget& target);

  // False makes Show skip the session bus (tests, or no bus).
  bool UseSessionBus = true;
  // The last properties window opened by Kestrum itself (null once closed).
  QPointer<QWidget> LastPropertiesWindow;

 private:
  void ShowOwn(PropertiesInfo info);

  QWidget* window_;
};

}  // namespace kestrum::gui
