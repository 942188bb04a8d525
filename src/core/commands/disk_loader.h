#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core/adapter/explorer.h"
#include "core/commands/command_slot.h"
#include "core/commands/command_window.h"
#include "core/tree/discovery.h"
#include "core/tree/disk_model.h"
#include "core/scan/scan.h"
#include "core/saved/scan_history.h"
#include "core/platform/volumes.h"

namespace kestrum {

// Readiness and capacity of a drive, asked on the worker thread. The default asks the
// system; tests stand in for it.
class DriveSource {
 public:
  virtual ~DriveSource() = default;
  virtual bool IsReady(const std::string& path) const = 0;
  virtual std::int32_t AllocUnit(const std::string& path) const = 0;
  // Capacity and free bytes; on failure both 0 and the message sent to report.
  virtual void Space(const std::string& path, double& total, double& free,
                     const MessageSink& report) const = 0;
  // Readiness of a folder entry: its folder is still there.
  virtual bool IsFolderReady(const std::string& path) const;
};

class SystemDriveSource : public DriveSource {
 public:
  explicit SystemDriveSource(const FileSystemService& fs) : fs_(fs) {}
  bool IsReady(const std::string& path) const override;
  std::int32_t AllocUnit(const std::string& path) const override;
  void Space(const std::string& path, double& total, double& free,
             const MessageSink& report) const override;

 private:
  const FileSystemService& fs_;
};

// The scan commands of the main window: one drive, or every ready drive under the root,
// scanned on a worker thread; each finished drive is attached to the model and the tree on
// the window thread (see attach_scan.h), in the order the drives were scanned.
//
// Threads: construct, call LoadDisk, Stop, Busy, ProgressLine and destroy on the window
// thread. The worker only reads its own copy of each drive's facts and writes the detached
// result; every change of the model, the tree and the window is posted to the window thread.
//
// While Busy() is true the window must refuse every command that changes the model
// (discovery, delete, recycle, another scan): drives held by the running command are
// changed when its posted results arrive, even after Stop.
class DiskLoader {
 public:
  // Runs its commands in slot, which the window's other long commands share; window,
  // explorer, drives and slot must outlive the loader.
  DiskLoader(CommandWindow& window, CExplorer& explorer, const DriveSource& drives,
             CommandSlot& slot);
  // Stops a running scan (clears Scanning), waits for the worker and drops results not yet
  // attached: what closing the window needs.
  ~DiskLoader();
  DiskLoader(const DiskLoader&) = delete;
  DiskLoader& operator=(const DiskLoader&) = delete;

  // "ScanDisks": scans the selected object when it is a drive (a drive that is not ready
  // gets "Drive not ready..." and nothing else), or every ready drive of disks when it is the
  // root; anything else scans nothing. includeCd: the "CDDrives" button or "Include &CD
  // drives" is on; otherwise CD-ROM drives only get fresh capacity and zero totals. Returns
  // false, doing nothing, when the slot is taken (callers refuse commands while it is). The
  // final steps ("Done", tree enabled, root selected, ShowRoot) run on the window thread when
  // the worker is done; disks and selected must stay alive until then.
  bool LoadDisk(DiskObject* selected, DiskCollection& disks, bool includeCd);
  // Scans targets (drives or folder entries, see folder_scan.h) one after another as one
  // command, skipping any that is not ready; Stop ends it. When it is over, the first target
  // is selected and listed (ShowNode) instead of the root. Returns false, doing nothing,
  // when the slot is taken or targets is empty. targets must stay alive until then.
  bool LoadFolders(const std::vector<DiskObject*>& targets, bool includeCd);
  // "Stop" and "S&top Scan": clears Scanning; the drive being scanned keeps its partial,
  // summarised result and no further drive is started.
  void Stop();
  // True from LoadDisk until its final steps have run on the window thread.
  bool Busy() const { return slot_.Busy(); }
  // TargetDisk + " folders scanned: " + folders + " for " + files + " files".
  std::string ProgressLine() const;

  // Test seams, passed to every scan: directory reading and a hook after each folder.
  DirectoryReader* Reader = nullptr;
  std::function<void(const DiskObject&)> AfterFolder;
  // How the next command's scans count files with several names.
  HardLinkRule Links = HardLinkRule::Once;
  // Where each completed scan of a drive or folder entry is kept, on the worker after its
  // summary and before it is attached (the result is the worker's alone then); null keeps
  // none. A stop ends the writing and keeps nothing; a scan not kept (a failure, too large)
  // says why in the status line that would have said "Done".
  std::shared_ptr<const ScanHistory> History;
  // What the next command's scans leave out, and whether they cross into file systems
  // mounted below their folders.
  std::shared_ptr<const ExcludeRules> Excludes;
  bool CrossFileSystems = false;

 private:
  // What the worker knows of one drive: a copy taken on the window thread.
  struct Plan {
    DiskObject* Drive;
    std::string Path, RootFolder, Label, SubClass;
    bool Entry = false;
    HardLinkRule Links = HardLinkRule::Once;
    std::shared_ptr<const ExcludeRules> Excludes;
    bool Cross = false;
  };
  static Plan PlanOf(DiskObject* d);
  bool Ready(const Plan& p) const;
  void Work(std::vector<Plan> plan, bool allDrives, bool includeCd);
  void LoadSingleDisk(const Plan& p, bool includeCd);
  void KeepInHistory(const Plan& p, DiskObject& result);
  void Post(std::function<void()> task);
  void FinalSteps();
  void JoinWorker();

  CommandWindow& window_;
  CExplorer& explorer_;
  const DriveSource& drives_;
  CommandSlot& slot_;
  DiskObject* showAfter_ = nullptr;  // a folder command's first target
  std::int32_t keyCounter_ = 0;      // LargestKeyCounter of the running command
  ScanProgress progress_;
  mutable std::mutex targetMutex_;
  std::string targetDisk_;
  // Written by the worker, read by the final steps posted after it.
  std::string historyNote_;
  // Posted tasks hold a weak reference: after destruction they do nothing.
  std::shared_ptr<DiskLoader*> alive_;
};

// The progress line from its parts.
std::string ProgressText(const std::string& targetDisk, std::int64_t folders, std::int64_t files);

}  // namespace kestrum
