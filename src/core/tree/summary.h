#pragma once
#include "core/tree/disk_model.h"

namespace kestrum {

// Rolls the folders' own totals up into subtree totals for every folder of level 2 up to the
// drive's DeepestLevel, then gives the drive the UsedSpace and AllocatedSpace of its first
// folder (the root folder). The "f" fields and the drive's counts are left alone. A drive
// without folders keeps its totals.
void SummarizeSizes(DiskObject& drive);

}  // namespace kestrum
