#pragma once
#include <cstdint>
#include <string>

#include "core/model/disk_model.h"
#include "core/model/scan.h"

namespace kestrum {

// ScanDrive with threads (2 or more) threads reading directories: the calling thread and
// threads - 1 helpers it starts and joins before returning. Every promise of ScanDrive holds,
// and the result (folders, their order, levels and totals, largest files and their keys,
// DeepestLevel, progress counts) is exactly that of the one-thread walk; only a stop may end
// it at another point, always between two folders of the depth-first order.
bool ScanDriveParallel(DiskObject& drive, std::int32_t& keyCounter, const ScanOptions& options,
                       unsigned threads);

// Both walks: appends a new folder object to drive's DiskObjects (class, icons, level and
// allocation unit set, totals 0) and raises DeepestLevel to level. Only the root folder
// keeps a path of its own, rootPath; the others derive theirs from parent and name.
DiskObject* AddScannedFolder(DiskObject& drive, std::string name, DiskObject* parent, bool isRoot,
                             std::int32_t level, const std::string& rootPath);

}  // namespace kestrum
