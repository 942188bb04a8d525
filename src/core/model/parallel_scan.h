#pragma once
#include <cstdint>

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

}  // namespace kestrum
