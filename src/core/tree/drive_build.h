#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "core/tree/disk_model.h"
#include "core/tree/largest.h"

namespace kestrum {

// How a scan and an import build a drive: the same folder objects and the same largest list,
// whoever read the tree.

// Appends a new folder object to drive's DiskObjects (class, icons, level and allocation unit
// set, totals 0) and raises DeepestLevel to level. Only the root folder keeps a path of its
// own, rootPath; the others derive theirs from parent and name.
DiskObject* AddScannedFolder(DiskObject& drive, std::string name, DiskObject* parent, bool isRoot,
                             std::int32_t level, const std::string& rootPath);

// Offers the file name of the folder at folderPath (ending in "/") to the drive's largest
// files. Only a file that would enter the list pays for its full path, built in scratch.
inline void OfferLargest(DiskObject& drive, std::string_view folderPath, std::string_view name,
                         double size, double allocated, std::int32_t& keyCounter,
                         std::string& scratch) {
  if (!(size > 0)) return;
  if (drive.LargestFiles().Count() >= kLargestBound && !(size > drive.Drive().Smallest)) return;
  scratch.assign(folderPath);
  scratch.append(name);
  drive.AddLargest(scratch, size, allocated, keyCounter);
}

}  // namespace kestrum
