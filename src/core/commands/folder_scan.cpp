#include "core/commands/folder_scan.h"

#include <algorithm>

#include "core/tree/folder_entries.h"
#include "core/trace/trace.h"

namespace kestrum {

FolderScanPlan PlanFolderScan(DiskCollection& disks, const FileSystemService& fs,
                              CExplorer& explorer, std::vector<std::string>& entries,
                              const std::vector<std::string>& given) {
  FolderScanPlan plan;
  if (disks.Count() == 0) return plan;
  DiskObject* root = disks.Item(1);
  std::vector<std::string> volumes;
  for (const auto& d : disks)
    if (d->Class == ObjectClass::Drive && !d->Drive().FolderEntry) volumes.push_back(d->OwnPath());

  std::vector<DriveInfo> drives;
  bool drivesRead = false;
  const auto addTarget = [&](DiskObject* d) {
    if (d && std::find(plan.Targets.begin(), plan.Targets.end(), d) == plan.Targets.end())
      plan.Targets.push_back(d);
  };
  for (const std::string& g : given) {
    if (Tracing()) Trace("frmMain.PlanFolderScan(" + g + ")");
    const FolderArgument a = ResolveFolderArgument(g, volumes);
    if (a.What == FolderArgument::Unusable) {
      plan.Messages.push_back(a.Message);
      continue;
    }
    if (DiskObject* known = disks.Find(a.Path); known && known->Class == ObjectClass::Drive) {
      addTarget(known);
      continue;
    }
    if (!drivesRead) {
      drives = fs.Drives();
      drivesRead = true;
    }
    auto entry = MakeFolderEntry(fs, drives, a.Path,
                                 [&plan](const std::string& m) { plan.Messages.push_back(m); });
    entry->Parent = root;
    DiskObject* d = disks.Add(std::move(entry));
    if (!d) continue;
    d->Node = explorer.AddNode(d->Label(), d, d->Children, root->Node, d->ClosedIcon(),
                               d->OpenIcon(), true);
    if (std::find(entries.begin(), entries.end(), a.Path) == entries.end())
      entries.push_back(a.Path);
    addTarget(d);
  }
  return plan;
}

std::string JoinMessages(const std::vector<std::string>& messages) {
  std::string text;
  for (const std::string& m : messages) text += (text.empty() ? "" : "\n") + m;
  return text;
}

}  // namespace kestrum
