#include "core/presenter/recycle_folders.h"

#include <cstdlib>

#include "core/platform/open_folder.h"

namespace kestrum {

namespace {

bool StartsWithRecycle(const std::string& text) {
  static constexpr char kWord[] = "recycle";
  if (text.size() < 7) return false;
  for (std::size_t i = 0; i < 7; ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kWord[i]) return false;
  }
  return true;
}

}  // namespace

std::string HomeTrashPath() {
  if (const char* d = std::getenv("XDG_DATA_HOME"); d && *d == '/') return WithSlash(d) + "Trash/";
  if (const char* h = std::getenv("HOME"); h && *h == '/')
    return WithSlash(h) + ".local/share/Trash/";
  return {};
}

std::optional<ShellOpenRequest> RecycleFolderRequest(const std::string& nodeText,
                                                     const DiskObject& folder, unsigned uid,
                                                     const std::string& homeTrash) {
  if (folder.Class != ObjectClass::Folder) return std::nullopt;
  const std::string path = WithSlash(folder.Path());
  const bool topLevel = folder.Parent && folder.Parent->RootDirectory;
  if ((topLevel && (folder.Name == ".Trash" || folder.Name == ".Trash-" + std::to_string(uid))) ||
      (!homeTrash.empty() && path == homeTrash))
    return ShellOpenRequest{path, true};
  if (StartsWithRecycle(nodeText)) return ShellOpenRequest{path, false};
  return std::nullopt;
}

}  // namespace kestrum
