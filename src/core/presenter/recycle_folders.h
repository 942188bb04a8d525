#pragma once
#include <optional>
#include <string>

#include "core/tree/disk_model.h"

namespace kestrum {

// What the file manager is asked to open instead of listing a folder.
struct ShellOpenRequest {
  std::string Path;        // the folder's exact path, ending in "/"
  bool TrashView = false;  // a trash folder: shown as the trash (trash:///) where offered
};

// Where the user's own trash lives: $XDG_DATA_HOME/Trash/, by default
// $HOME/.local/share/Trash/; empty when neither variable is set.
std::string HomeTrashPath();

// Whether listing node text / folder would instead open the folder in the file manager:
//  - a node whose text begins with "recycle" in any case (a recycle-bin folder);
//  - a freedesktop trash folder: ".Trash" or ".Trash-" + uid directly in a volume's root
//    folder, or the user's own trash folder (homeTrash, ending in "/").
// nullopt for every other node.
std::optional<ShellOpenRequest> RecycleFolderRequest(const std::string& nodeText,
                                                     const DiskObject& folder, unsigned uid,
                                                     const std::string& homeTrash);

}  // namespace kestrum
