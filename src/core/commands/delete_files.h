#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/adapter/explorer.h"
#include "core/adapter/list_data.h"
#include "core/commands/command_slot.h"
#include "core/commands/command_window.h"
#include "core/commands/targets.h"
#include "core/fileops/delete_engine.h"

namespace kestrum {

// What a delete command does with each object: delete it for good, or move it to the trash.
// Only Delete deletes for good.
enum class DeleteAction : std::uint8_t { Delete, Recycle };

// The question asked once per delete or trash command.
std::string ConfirmText(DeleteAction action);
// The details below it: how many objects, then each full path (folders end in "/"), and how
// many selected rows are left out.
std::string ConfirmDetails(DeleteAction action, const TargetSelection& selection);

// RemoveDiskObject: removes object from diskList as the model's owner of drives does
// (entries whose Parent is object first, then object itself, by Path key), and, for a
// folder of a scanned drive, removes it and every folder below it from the drive's
// DiskObjects, so that the model holds only folders that still have a tree node.
void RemoveDiskObject(DiskCollection* diskList, DiskObject* object);

// Removes the largest-files entry with key from the drive the largest-files folder listed
// belongs to; false when there is none.
bool RemoveLargestEntry(DiskObject* largestFolder, const std::string& key);

// DeleteFiles(action): the selected rows of list, which shows the node listed, are confirmed
// once and then deleted or moved to the trash one by one in list
// order on the slot's worker thread. After each object the worker says what is gone, and
// the window thread updates the tree (a folder's node goes with its branch), the model
// (RemoveDiskObject), what the drive kept of a file, the drive's largest-files list (only for
// rows of the largest-files folder) and, for rows of the results folder, that folder's listing
// (once, at the end). The first object that fails ends the command: it and the rows after it stay as
// they were, and a message names it with the system's error text. An object that vanished
// since the scan counts as done and is reported. Stop ends the command between entries.
// The command ends by relisting the node listed (the window's Relist) when anything changed.
class DeleteFilesCommand {
 public:
  DeleteFilesCommand(CommandWindow& window, CExplorer& explorer, ListData& list, CommandSlot& slot);
  // Stops a running command and waits for its worker.
  ~DeleteFilesCommand();
  DeleteFilesCommand(const DeleteFilesCommand&) = delete;
  DeleteFilesCommand& operator=(const DeleteFilesCommand&) = delete;

  // Returns false, doing nothing, when the slot is taken (callers refuse commands while it
  // is, or while a listing is read); true otherwise (also when nothing was selected or the
  // user cancelled).
  bool DeleteFiles(DeleteAction action, NodeId listed);

  // Action + ": " + objects done + " of " + total + " objects, " + entries + " entries removed".
  std::string ProgressLine() const;

  // The model's root and drives (for RemoveDiskObject); may stay null in tests.
  std::function<DiskCollection*()> DiskList;
  // The system calls and mount table used; tests replace them.
  OpControl Control;

 private:
  void Work();
  void Post(std::function<void()> task);
  void Apply(std::size_t index, const OpResult& result);
  void Finish();

  CommandWindow& window_;
  CExplorer& explorer_;
  ListData& list_;
  CommandSlot& slot_;
  // The command being run: what it acts on, taken when it was given.
  std::vector<RowTarget> targets_;
  DiskObject* largestFolder_ = nullptr;
  DiskObject* resultsFolder_ = nullptr;  // the results folder, when its rows are acted on
  std::vector<std::string> goneRows_;    // keys of its rows gone, applied at the end
  DiskObject* drive_ = nullptr;  // the drive of the listing the rows came from
  std::vector<OpResult> problems_;  // failures, refusals and vanished objects, in order
  std::size_t done_ = 0;
  bool changed_ = false;
  bool stopped_ = false;
  bool running_ = false;
  DeleteAction action_ = DeleteAction::Recycle;
  std::atomic<std::int64_t> entries_{0};
  std::atomic<std::size_t> objects_{0};
  // Posted tasks hold a weak reference: after destruction they do nothing.
  std::shared_ptr<DeleteFilesCommand*> alive_;
};

}  // namespace kestrum
