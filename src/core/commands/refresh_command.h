#pragma once
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/adapter/explorer.h"
#include "core/commands/command_slot.h"
#include "core/commands/command_window.h"
#include "core/commands/disk_loader.h"
#include "core/tree/disk_model.h"
#include "core/scan/scan.h"

namespace kestrum {

// The refresh of one folder: its subtree is scanned again on the slot's worker and, when the
// scan ran to its end, made part of the drive's scan in one step on the window thread (see
// model/refresh.h): the folder's nodes are replaced, expanded folders that still exist are
// expanded again and the selection stays where it can. A stopped or failed refresh changes
// nothing, not even the list or its status line.
//
// The rescan reads only below the folder: the folder is opened from the volume's root one
// name at a time without following links, and counts files with more than one name the way
// the drive's scan did (a file that a folder outside counted counts nothing here).
//
// Threads: construct, Refresh, ProgressLine and destroy on the window thread.
class RefreshCommand {
 public:
  RefreshCommand(CommandWindow& window, CExplorer& explorer, const DriveSource& drives,
                 CommandSlot& slot);
  ~RefreshCommand();
  RefreshCommand(const RefreshCommand&) = delete;
  RefreshCommand& operator=(const RefreshCommand&) = delete;

  // Refreshes folder, a folder of a scanned drive below its root folder. Returns false,
  // doing nothing, when the slot is taken or folder is no such folder.
  bool Refresh(DiskObject* folder);
  // The folder's path + " folders scanned: " + folders + " for " + files + " files".
  std::string ProgressLine() const;

  // Test seams, passed to the rescan: directory reading and a hook after each folder.
  DirectoryReader* Reader = nullptr;
  std::function<void(const DiskObject&)> AfterFolder;

 private:
  struct Plan;
  void Work(const std::shared_ptr<Plan>& plan);
  void Commit(Plan& plan);
  void Finish(const std::string& message);
  void Post(std::function<void()> task);

  CommandWindow& window_;
  CExplorer& explorer_;
  const DriveSource& drives_;
  CommandSlot& slot_;
  ScanProgress progress_;
  mutable std::mutex targetMutex_;
  std::string target_;
  std::shared_ptr<RefreshCommand*> alive_;
};

}  // namespace kestrum
