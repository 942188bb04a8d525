#pragma once
#include <QIcon>
#include <QString>

namespace kestrum::gui {

// The icon of an image key ("HardDrive", "ClosedFolder", ...): the user's icon theme's icon
// of the same meaning where the theme has one, else the bundled image; a null icon for an
// empty or unknown key. "Kestrum" is the program's own icon.
QIcon IconFor(const QString& key);
// The icon theme's name for an image key ("HardDrive" -> "drive-harddisk"), "" for keys no
// theme names (the program's own images, "ScanDisks" and "Allocated").
QString ThemeNameOf(const QString& key);
QIcon IconFor(const std::string& key);

}  // namespace kestrum::gui
