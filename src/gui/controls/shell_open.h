#pragma once
#include <string>

namespace kestrum::gui {

// Opens a folder in the user's file manager, the trash view (trash:///) when trashView.
// Asks org.freedesktop.FileManager1.ShowFolders on the session bus without waiting for the
// answer; when nobody answers, launches the first application GIO lists for inode/directory
// that is not Kestrum itself. path is exact bytes. Returns false only when the request could
// not even be sent.
bool OpenFolderInFileManager(const std::string& path, bool trashView);

// The URI the file manager is given: "trash:///" for the trash view, else the file URI of
// path (bytes that are not plain ASCII escaped as %XX).
std::string FolderUri(const std::string& path, bool trashView);

}  // namespace kestrum::gui
