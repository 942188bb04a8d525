#include "core/commands/disk_loader.h"

#include <sys/stat.h>

#include <ctime>
#include <utility>

#include "core/commands/attach_scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "core/platform/numbers.h"
#include "core/trace/trace.h"

namespace kestrum {

bool SystemDriveSource::IsReady(const std::string& path) const {
  const auto d = fs_.GetDrive(path);
  return d && d->IsReady;
}

std::int32_t SystemDriveSource::AllocUnit(const std::string& path) const {
  return DriveAllocUnit(fs_, path);
}

void SystemDriveSource::Space(const std::string& path, double& total, double& free,
                              const MessageSink& report) const {
  GetDriveSpace(fs_, path, total, free, report);
}

bool DriveSource::IsFolderReady(const std::string& path) const {
  struct stat st {};
  return path.find('\0') == std::string::npos && ::stat(path.c_str(), &st) == 0 &&
         S_ISDIR(st.st_mode);
}

DiskLoader::Plan DiskLoader::PlanOf(DiskObject* d) {
  return Plan{d,
              d->OwnPath(),
              d->Drive().RootFolder,
              d->Label(),
              d->SubClass(),
              d->Drive().FolderEntry,
              HardLinkRule::Once,
              nullptr,
              false};
}

bool DiskLoader::Ready(const Plan& p) const {
  return p.Entry ? drives_.IsFolderReady(p.Path) : drives_.IsReady(p.Path);
}

std::string ProgressText(const std::string& targetDisk, std::int64_t folders, std::int64_t files) {
  return targetDisk + " folders scanned: " + std::to_string(folders) + " for " +
         std::to_string(files) + " files";
}

DiskLoader::DiskLoader(CommandWindow& window, CExplorer& explorer, const DriveSource& drives,
                       CommandSlot& slot)
    : window_(window),
      explorer_(explorer),
      drives_(drives),
      slot_(slot),
      alive_(std::make_shared<DiskLoader*>(this)) {}

DiskLoader::~DiskLoader() {
  Scanning = false;
  JoinWorker();
  alive_.reset();
}

void DiskLoader::JoinWorker() { slot_.Join(); }

std::string DiskLoader::ProgressLine() const {
  std::string disk;
  {
    std::lock_guard lock(targetMutex_);
    disk = targetDisk_;
  }
  return ProgressText(disk, progress_.Folders.load(), progress_.Files.load());
}

void DiskLoader::Stop() { Scanning = false; }

void DiskLoader::Post(std::function<void()> task) {
  std::weak_ptr<DiskLoader*> token = alive_;
  slot_.Post([token, task = std::move(task)] {
    if (token.lock()) task();
  });
}

bool DiskLoader::LoadDisk(DiskObject* selected, DiskCollection& disks, bool includeCd) {
  if (!slot_.Acquire()) return false;
  if (Tracing()) Trace("frmMain.LoadDisk");
  JoinWorker();  // the previous command's worker has posted its last task already
  keyCounter_ = 0;
  window_.ClearList();
  window_.SetTreeEnabled(false);
  std::vector<Plan> plan;
  const auto planOf = &DiskLoader::PlanOf;
  bool allDrives = false;
  if (selected && selected->Class == ObjectClass::Drive) {
    if (!Ready(planOf(selected))) {
      window_.SetStatus("Drive not ready...");
      window_.SetTreeEnabled(true);
      slot_.Release();
      return true;
    }
    plan.push_back(planOf(selected));
  } else if (selected && selected->Class == ObjectClass::Root) {
    allDrives = true;
    for (const auto& d : disks)
      if (d->Class == ObjectClass::Drive) plan.push_back(planOf(d.get()));
  }
  for (Plan& p : plan) {
    p.Links = Links;
    p.Excludes = Excludes;
    p.Cross = CrossFileSystems;
  }
  slot_.Progress = [this] { return ProgressLine(); };
  if (plan.empty() && !allDrives) {
    FinalSteps();
    return true;
  }
  Scanning = true;
  window_.ClearPathLabel();
  window_.SetProgressTimer(true);
  slot_.Run([this, plan = std::move(plan), allDrives, includeCd]() mutable {
    Work(std::move(plan), allDrives, includeCd);
  });
  return true;
}

bool DiskLoader::LoadFolders(const std::vector<DiskObject*>& targets, bool includeCd) {
  if (targets.empty() || !slot_.Acquire()) return false;
  if (Tracing()) Trace("frmMain.LoadFolders");
  JoinWorker();
  keyCounter_ = 0;
  window_.ClearList();
  window_.SetTreeEnabled(false);
  std::vector<Plan> plan;
  for (DiskObject* d : targets) plan.push_back(PlanOf(d));
  for (Plan& p : plan) {
    p.Links = Links;
    p.Excludes = Excludes;
    p.Cross = CrossFileSystems;
  }
  showAfter_ = targets.front();
  slot_.Progress = [this] { return ProgressLine(); };
  Scanning = true;
  window_.ClearPathLabel();
  window_.SetProgressTimer(true);
  slot_.Run([this, plan = std::move(plan), includeCd]() mutable {
    Work(std::move(plan), true, includeCd);
  });
  return true;
}

void DiskLoader::Work(std::vector<Plan> plan, bool allDrives, bool includeCd) {
  for (const Plan& p : plan) {
    if (!Scanning) break;
    if (allDrives && !Ready(p)) continue;
    LoadSingleDisk(p, includeCd);
  }
  Post([this] { FinalSteps(); });
}

void DiskLoader::LoadSingleDisk(const Plan& p, bool includeCd) {
  if (Tracing()) Trace("frmMain.LoadSingleDisk(" + p.Path + ")");
  auto result = std::make_shared<DiskObject>();
  drives_.Space(p.Path, result->DriveForChange().DeviceSize, result->DriveForChange().FreeSpace,
                [this](const std::string& m) { Post([this, m] { window_.ShowMessage(m); }); });
  if (p.SubClass == "CD-ROM" && !includeCd) {
    Post([p, result] {
      DiskObject& d = *p.Drive;
      d.DriveForChange().DeviceSize = result->Drive().DeviceSize;
      d.DriveForChange().FreeSpace = result->Drive().FreeSpace;
      d.UsedSpace = 0;
      d.AllocatedSpace = 0;
      d.DriveForChange().Smallest = 0;
      d.DriveForChange().SmallestIndex = 0;
      d.LargestFiles().Clear();
    });
    return;
  }
  {
    std::lock_guard lock(targetMutex_);
    targetDisk_ = p.Label;
  }
  progress_.Folders = 0;
  progress_.Files = 0;
  Post([this, text = "Scanning disk " + p.Label + "..."] { window_.SetStatus(text); });
  result->Class = ObjectClass::Drive;
  result->SetPath(p.Path);
  result->DriveForChange().RootFolder = p.RootFolder.empty() ? p.Path + "/" : p.RootFolder;
  result->DriveForChange().AllocationUnit = drives_.AllocUnit(p.Path);
  ScanOptions options;
  options.Reader = Reader;
  options.Progress = &progress_;
  options.AfterFolder = AfterFolder;
  options.Links = p.Links;
  options.Excludes = p.Excludes;
  options.CrossFileSystems = p.Cross;
  ScanDrive(*result, keyCounter_, options);
  Post([this] { window_.SetStatus("Summarizing disk space..."); });
  SummarizeSizes(*result);
  if (Tracing()) {
    Trace("  device size=" + PlainNumber(result->Drive().DeviceSize));
    Trace("  free space =" + PlainNumber(result->Drive().FreeSpace));
    Trace("  used space =" + PlainNumber(result->UsedSpace));
    Trace("  allocated  =" + PlainNumber(result->AllocatedSpace));
  }
  KeepInHistory(p, *result);
  Post([this, p, result, keys = keyCounter_] {
    DiskObject& d = *p.Drive;
    d.DriveForChange().DeviceSize = result->Drive().DeviceSize;
    d.DriveForChange().FreeSpace = result->Drive().FreeSpace;
    AttachScan(explorer_, d, *result);
    // A refresh numbers its largest files on from here: no key of the drive is used twice.
    d.DriveForChange().NextLargestKey = keys;
  });
}

void DiskLoader::KeepInHistory(const Plan& p, DiskObject& result) {
  // A stopped scan is not the tree as it stands, and one without its entries cannot be saved.
  if (!History || !Scanning || !result.Drive().Files) return;
  HistoryRoot root{p.Path, {}};
  struct stat st {};
  if (::stat(p.Path.c_str(), &st) == 0) root.Uuid = FileSystemUuid(st.st_dev);
  Post([this] { window_.SetStatus("Keeping the scan in the history..."); });
  const HistorySaved saved = History->Save(result, root, std::time(nullptr), true);
  if (!saved.Kept && Scanning) historyNote_ = saved.Message;
  if (saved.Kept) result.DriveForChange().HistoryFile = saved.File;
  if (Tracing()) Trace("  history: " + (saved.Kept ? saved.File : saved.Message));
}

void DiskLoader::FinalSteps() {
  Scanning = false;
  window_.SetProgressTimer(false);
  window_.SetStatus(historyNote_.empty() ? "Done" : std::exchange(historyNote_, {}));
  window_.SetTreeEnabled(true);
  DiskObject* first = std::exchange(showAfter_, nullptr);
  if (first && first->Node != kNoNode) {
    explorer_.SetSelectedItem(first->Node);
    window_.ShowNode(first->Node);
  } else {
    explorer_.SetSelectedItem(explorer_.FirstNode());
    window_.ShowRoot();
  }
  slot_.Release();
}

}  // namespace kestrum
