#include "gui/controls/shell_open.h"

#include <gio/gio.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QString>
#include <QStringList>
#include <memory>

#include "core/fileops/properties.h"

namespace kestrum::gui {

namespace {

struct GFree {
  void operator()(void* p) const { g_free(p); }
};

// Launches the first folder handler other than ourselves.
bool LaunchFolderHandler(const std::string& uri) {
  GList* apps = g_app_info_get_all_for_type("inode/directory");
  bool launched = false;
  for (GList* l = apps; l && !launched; l = l->next) {
    auto* app = static_cast<GAppInfo*>(l->data);
    const char* id = g_app_info_get_id(app);
    const char* exe = g_app_info_get_executable(app);
    const std::string ids = id ? id : "", exes = exe ? exe : "";
    if (ids.find("kestrum") != std::string::npos || ids.find("Kestrum") != std::string::npos ||
        exes.find("kestrum") != std::string::npos)
      continue;
    GList uris{const_cast<char*>(uri.c_str()), nullptr, nullptr};
    launched = g_app_info_launch_uris(app, &uris, nullptr, nullptr);
  }
  g_list_free_full(apps, g_object_unref);
  return launched;
}

}  // namespace

std::string FolderUri(const std::string& path, bool trashView) {
  if (trashView) return "trash:///";
  std::unique_ptr<char, GFree> uri(g_filename_to_uri(path.c_str(), nullptr, nullptr));
  return uri ? std::string(uri.get()) : std::string();
}

bool OpenFolderInFileManager(const std::string& path, bool trashView) {
  const std::string uri = FolderUri(path, trashView);
  if (uri.empty()) return false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return LaunchFolderHandler(uri);
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                     "/org/freedesktop/FileManager1",
                                                     "org.freedesktop.FileManager1", "ShowFolders");
  call << QStringList{QString::fromUtf8(uri.c_str())} << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                   [uri](QDBusPendingCallWatcher* w) {
                     if (w->isError()) LaunchFolderHandler(uri);
                     w->deleteLater();
                   });
  return true;
}

void ShowItemsInFileManager(const std::vector<std::string>& paths) {
  QStringList uris;
  for (const std::string& p : paths) {
    // File URIs are ASCII: every byte outside it is percent-encoded.
    if (const std::string uri = FileUri(p); !uri.empty()) uris << QString::fromLatin1(uri.c_str());
  }
  if (uris.isEmpty()) return;
  // The containing folders, each opened with its default handler (never Kestrum itself).
  const auto fallback = [paths] { SystemLauncher().ShowItems(paths); };
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    fallback();
    return;
  }
  QDBusMessage call = QDBusMessage::createMethodCall("org.freedesktop.FileManager1",
                                                     "/org/freedesktop/FileManager1",
                                                     "org.freedesktop.FileManager1", "ShowItems");
  call << uris << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, 5000));
  QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                   [fallback](QDBusPendingCallWatcher* w) {
                     if (w->isError()) fallback();
                     w->deleteLater();
                   });
}

}  // namespace kestrum::gui
