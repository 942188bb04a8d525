#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

#include "core/tree/disk_model.h"

namespace kestrum {

// A drive keeps at most this many of its largest files.
inline constexpr std::size_t kLargestBound = 100;
inline constexpr const char* kLargestFolderName = "100 Largest Files";

// Builds the drive's "100 Largest Files" pseudo folder from its LargestFiles as they stand
// and stores it in drive.Folder100 (it is not one of the drive's DiskObjects). rootPath is
// the root folder's Path (ending in "/"), rootName its name for the trace line. Raises
// currentLevel by one (from 0 to 1 after a drive's root folder) and DeepestLevel with it.
// No tree node is made here: the window thread adds it when it attaches the scan.
DiskObject* Add100Folder(const std::string& rootPath, const std::string& rootName,
                         DiskObject& rootObject, DiskObject& drive, std::int32_t& currentLevel);

// Takes the file of this full path out of the drive's largest files, if it is there.
void RemoveLargest(DiskObject& drive, const std::string& name);

}  // namespace kestrum
