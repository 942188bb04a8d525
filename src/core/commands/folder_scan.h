#pragma once
#include <string>
#include <vector>

#include "core/adapter/explorer.h"
#include "core/tree/disk_model.h"
#include "core/platform/volumes.h"

namespace kestrum {

// What one "scan these folders" command acts on.
struct FolderScanPlan {
  std::vector<DiskObject*> Targets;   // drive objects to scan, in the order given, once each
  std::vector<std::string> Messages;  // one per path that cannot be scanned
};

// Resolves given paths against the model disks (the root and the drives, read through fs):
// a volume's mount point targets that volume; a folder already listed as an entry targets
// that entry again; any other folder becomes a new entry (a drive object after the volumes
// with its tree node under the root, and its path kept in entries so that rediscovery adds
// it again). Paths that do not exist or are not folders only add their message. Window
// thread only; call it only while no command is busy.
FolderScanPlan PlanFolderScan(DiskCollection& disks, const FileSystemService& fs,
                              CExplorer& explorer, std::vector<std::string>& entries,
                              const std::vector<std::string>& given);

// The messages of a plan as one text for one message box, or "" when there are none.
std::string JoinMessages(const std::vector<std::string>& messages);

}  // namespace kestrum
