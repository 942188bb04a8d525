#include "core/tree/summary.h"

#include "core/trace/trace.h"

namespace kestrum {

void SummarizeSizes(DiskObject& drive) {
  if (Tracing()) Trace("Globals.SummarizeSizes");
  FolderList& folders = drive.DiskObjects();
  // One backward pass over creation order instead of one pass per level: every child comes
  // after its parent, so its totals are complete when it is added. The sums are whole byte
  // counts, exact in a double, so the order of additions cannot change them, and a tree
  // 100,000 levels deep costs one walk instead of a walk per level.
  for (std::size_t i = folders.Count(); i >= 1; --i) {
    const DiskObject& f = *folders.Item(i);
    if (f.Level < 2 || f.Level > drive.Drive().DeepestLevel || !f.Parent) continue;
    DiskObject& p = *f.Parent;
    p.UsedSpace += f.UsedSpace;
    p.AllocatedSpace += f.AllocatedSpace;
    p.FolderCount += f.FolderCount;
    p.FileCount += f.FileCount;
  }
  if (const DiskObject* root = folders.Item(1)) {
    drive.AllocatedSpace = root->AllocatedSpace;
    drive.UsedSpace = root->UsedSpace;
  }
}

}  // namespace kestrum
