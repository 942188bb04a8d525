#pragma once
#include <string>

namespace kestrum {

// One file or folder a file operation (delete, trash, properties) acts on, every path as
// exact bytes. The operations open Folder from VolumeRoot one name at a time without
// following links, then act on Name in it.
struct FileTarget {
  bool IsFolder = false;
  std::string FullPath;    // no trailing "/", even for a folder
  std::string Folder;      // the folder that holds it, ending in "/"
  std::string Name;        // its last name (FullPath == Folder + Name)
  std::string VolumeRoot;  // root folder of the volume it lies on, ending in "/"
};

}  // namespace kestrum
