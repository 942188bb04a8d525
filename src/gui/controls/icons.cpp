#include "gui/controls/icons.h"

#include <QFile>
#include <QHash>

// The images are compiled into the static gui library, whose resources must be registered
// by hand before the first use.
static void InitIconResources() { Q_INIT_RESOURCE(kestrum); }

namespace kestrum::gui {

QIcon IconFor(const QString& key) {
  static const bool registered = (InitIconResources(), true);
  (void)registered;
  static QHash<QString, QIcon> cache;
  if (key.isEmpty()) return {};
  auto it = cache.find(key);
  if (it == cache.end()) {
    const QString path = ":/icons/" + key + ".svg";
    it = cache.insert(key, QFile::exists(path) ? QIcon(path) : QIcon());
  }
  return *it;
}

QIcon IconFor(const std::string& key) { return IconFor(QString::fromStdString(key)); }

}  // namespace kestrum::gui
