#include "gui/controls/icons.h"

#include <QFile>
#include <QHash>

// The images are compiled into the static gui library, whose resources must be registered
// by hand before the first use.
static void InitIconResources() { Q_INIT_RESOURCE(kestrum); }

namespace kestrum::gui {

QString ThemeNameOf(const QString& key) {
  static const QHash<QString, QString> kNames = {
      {"Kestrum", "kestrum"},          {"MyComputer", "computer"},
      {"HardDrive", "drive-harddisk"}, {"DisketteDrive", "drive-removable-media"},
      {"CDDrive", "drive-optical"},    {"ClosedFolder", "folder"},
      {"OpenFolder", "folder-open"},   {"File", "text-x-generic"},
      {"Stop", "process-stop"},        {"Back", "go-up"},
      {"Recycle", "user-trash"},       {"Delete", "edit-delete"},
      {"Zip", "package-x-generic"},
  };
  return kNames.value(key);
}

QIcon IconFor(const QString& key) {
  static const bool registered = (InitIconResources(), true);
  (void)registered;
  static QHash<QString, QIcon> cache;
  if (key.isEmpty()) return {};
  auto it = cache.find(key);
  if (it == cache.end()) {
    const QString path = ":/icons/" + key + ".svg";
    const QIcon bundled = QFile::exists(path) ? QIcon(path) : QIcon();
    // The user's icon theme wins where it has an icon of the same meaning.
    const QString themed = ThemeNameOf(key);
    it = cache.insert(key, !bundled.isNull() && !themed.isEmpty() && QIcon::hasThemeIcon(themed)
                               ? QIcon::fromTheme(themed, bundled)
                               : bundled);
  }
  return *it;
}

QIcon IconFor(const std::string& key) { return IconFor(QString::fromStdString(key)); }

}  // namespace kestrum::gui
