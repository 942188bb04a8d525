// Times the window-thread part of a scan: attaching a scanned drive to the model and tree.
//   attach_bench ROOT   (scans ROOT once on this thread, then times AttachScan)
#include <chrono>
#include <cstdio>
#include <string>

#include "core/adapter/explorer.h"
#include "core/commands/attach_scan.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"

int main(int argc, char** argv) {
  using namespace kestrum;
  if (argc < 2) return 2;
  CExplorer explorer;
  DiskCollection disks;
  auto root = std::make_unique<DiskObject>();
  root->Class = ObjectClass::Root;
  root->SetPath("My Computer");
  DiskObject* r = disks.Add(std::move(root));
  r->Node = explorer.AddNode(r->Label(), ItemValue(r), true);
  auto drive = std::make_unique<DiskObject>();
  drive->Class = ObjectClass::Drive;
  drive->SetPath(argv[1]);
  DiskObject* d = disks.Add(std::move(drive));
  d->Node = explorer.AddNode(d->Label(), ItemValue(d), true, r->Node);

  DiskObject result;
  result.Class = ObjectClass::Drive;
  result.SetPath(argv[1]);
  result.DriveForChange().RootFolder = std::string(argv[1]) + "/";
  result.DriveForChange().AllocationUnit = 4096;
  std::int32_t keys = 0;
  Scanning = true;
  const auto t0 = std::chrono::steady_clock::now();
  ScanDrive(result, keys);
  SummarizeSizes(result);
  const auto t1 = std::chrono::steady_clock::now();
  const std::size_t folders = result.DiskObjects().Count();
  AttachScan(explorer, *d, result);
  const auto t2 = std::chrono::steady_clock::now();
  std::printf("folders %zu  scan+summary %.3f s  attach %.3f s  nodes %zu\n", folders,
              std::chrono::duration<double>(t1 - t0).count(),
              std::chrono::duration<double>(t2 - t1).count(), explorer.NodeCount());
  std::printf("sizeof(DiskObject) %zu bytes\n", sizeof(DiskObject));
  return 0;
}
