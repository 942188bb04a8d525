#include "gui/app/properties_sheet.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QWidget>

#include "core/commands/properties_command.h"
#include "gui/ui/frmProperties.h"

namespace kestrum::gui {

PropertiesSheet::PropertiesSheet(QWidget* window) : QObject(window), window_(window) {}

void PropertiesSheet::Show(const RowTarget& target) {
  const std::string uri = FileUri(target.FullPath);
  // The folder's model object may be gone by the time a window opens (a rescan), so keep
  // only what the window needs now.
  PropertiesInfo info = PropertiesOf(target);
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!UseSessionBus || uri.empty() || !bus.isConnected()) {
    ShowOwn(std::move(info));
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall(
      "org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
      "org.freedesktop.FileManager1", "ShowItemProperties");
  call << QStringList{QString::fromLatin1(uri.c_str())} << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, info = std::move(info)](QDBusPendingCallWatcher* w) mutable {
            w->deleteLater();
            if (!w->isError()) return;  // a file manager shows its own sheet
            ShowOwn(std::move(info));
          });
}

void PropertiesSheet::ShowOwn(PropertiesInfo info) {
  auto* f = new frmProperties(info, window_);
  f->setWindowFlag(Qt::Window);
  f->show();
  LastPropertiesWindow = f;
}

}  // namespace kestrum::gui
