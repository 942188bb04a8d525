#pragma once
#include <QIcon>
#include <QString>

namespace kestrum::gui {

// The icon of an image key ("HardDrive", "ClosedFolder", ...) from the bundled images;
// a null icon for an empty or unknown key.
QIcon IconFor(const QString& key);
QIcon IconFor(const std::string& key);

}  // namespace kestrum::gui
