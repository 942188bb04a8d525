#pragma once
#include <string>
#include <vector>

#include "core/fileops/launch.h"

namespace kestrum::gui {

// Opens a folder in the user's file manager, the trash view (trash:///) when trashView.
// Asks org.freedesktop.FileManager1.ShowFolders on the session bus without waiting for the
// answer; when nobody answers, launches the first application GIO lists for inode/directory
// that is not Kestrum itself. path is exact bytes. Returns false only when the request could
// not even be sent.
bool OpenFolderInFileManager(const std::string& path, bool trashView);

// Asks the file manager to show each path selected in its folder
// (org.freedesktop.FileManager1.ShowItems on the session bus, without waiting); when nobody
// answers, or there is no bus, opens each containing folder as OpenFolderInFileManager's
// fallback does. paths are exact bytes.
void ShowItemsInFileManager(const std::vector<std::string>& paths);

// The system's launcher with the file manager asked over D-Bus for ShowItems.
class DesktopLauncher : public SystemLauncher {
 public:
  void ShowItems(const std::vector<std::string>& paths) override { ShowItemsInFileManager(paths); }
};

// The URI the file manager is given: "trash:///" for the trash view, else the file URI of
// path (bytes that are not plain ASCII escaped as %XX).
std::string FolderUri(const std::string& path, bool trashView);

}  // namespace kestrum::gui
