#pragma once
#include "core/fileops/delete_engine.h"

namespace kestrum {

// Moves the object target names to the freedesktop.org trash through GIO (g_file_trash on
// its exact byte path: the user's own trash on the home volume, the volume's ".Trash-uid"
// elsewhere). Its folder is first reached from the volume's root without following links,
// and a folder that is or holds a mount point is refused (the mounted volume would move
// with it). A trash that fails is reported as Failed with GIO's message and never falls
// back to deleting: GIO refuses some volumes on purpose (tmpfs and other system mounts
// away from the home volume). An object gone before the call is Vanished.
OpResult TrashTarget(const FileTarget& target, const OpControl& control);

}  // namespace kestrum
