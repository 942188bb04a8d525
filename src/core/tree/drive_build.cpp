#include "core/tree/drive_build.h"

namespace kestrum {

DiskObject* AddScannedFolder(DiskObject& drive, std::string name, DiskObject* parent, bool isRoot,
                             std::int32_t level, const std::string& rootPath) {
  if (drive.Drive().DeepestLevel < level) drive.DriveForChange().DeepestLevel = level;
  DiskObject* obj = drive.DiskObjects().AddNew();
  obj->Class = ObjectClass::Folder;
  obj->Name = std::move(name);
  obj->Parent = parent;
  obj->SetSubClass();
  obj->RootDirectory = isRoot;
  obj->Level = level;
  if (isRoot) obj->SetPath(rootPath);
  return obj;
}

}  // namespace kestrum
