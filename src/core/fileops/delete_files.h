#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/fileops/delete_engine.h"
#include "core/fileops/targets.h"
#include "core/views/command_slot.h"
#include "core/views/explorer.h"
#include "core/views/list_data.h"

namespace kestrum {

// What the delete and trash commands need of the main window. Window thread only.
class FileOpsWindow {
 public:
  virtual ~FileOpsWindow() = default;
  // The warning box with OK and Cancel, captioned with the product name: text is the
  // question, details the expandable list of what will go. True for OK.
  virtual bool Confirm(const std::string& text, const std::string& details) = 0;
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void SetStatus(const std::string& text) = 0;
  // Starts or stops the one-second timer that shows the slot's progress line.
  virtual void SetProgressTimer(bool running) = 0;
};

// The question asked once per delete or trash command.
std::string ConfirmText(const std::string& action);
// The details below it: how many objects, then each full path (folders end in "/"), and how
// many selected rows are left out.
std::string ConfirmDetails(const std::string& action, const TargetSelection& selection);

// RemoveDiskObject: removes object from diskList as the model's owner of drives does
// (entries whose Parent is object first, then object itself, by Path key), and, for a
// folder of a scanned drive, removes it and every folder below it from the drive's
// DiskObjects, so that the model holds only folders that still have a tree node.
void RemoveDiskObject(DiskCollection* diskList, DiskObject* object);

// Removes the largest-files entry with key from the drive the largest-files folder listed
// belongs to; false when there is none.
bool RemoveLargestEntry(DiskObject* largestFolder, const std::string& key);

// DeleteFiles(Action), "Delete" or "Recycle": the selected rows of list, which shows the
// node listed, are confirmed once and then deleted or moved to the trash one by one in list
// order on the slot's worker thread. After each object the worker says what is gone, and
// the window thread updates the tree (a folder's node goes with its branch), the model
// (RemoveDiskObject) and the drive's largest-files list (only for rows of the largest-files
// folder). The first object that fails ends the command: it and the rows after it stay as
// they were, and a message names it with the system's error text. An object that vanished
// since the scan counts as done and is reported. Stop ends the command between entries.
// The command ends by relisting the node listed when anything changed.
class DeleteFilesCommand {
 public:
  DeleteFilesCommand(FileOpsWindow& window, CExplorer& explorer, ListData& list, CommandSlot& slot);
  // Stops a running command and waits for its worker.
  ~DeleteFilesCommand();
  DeleteFilesCommand(const DeleteFilesCommand&) = delete;
  DeleteFilesCommand& operator=(const DeleteFilesCommand&) = delete;

  // Returns false, doing nothing but a status line, when the slot is busy or a listing is
  // pending; true otherwise (also when nothing was selected or the user cancelled).
  bool DeleteFiles(const std::string& action, NodeId listed, bool listingPending);

  // Action + ": " + objects done + " of " + total + " objects, " + entries + " entries removed".
  std::string ProgressLine() const;

  // The model's root and drives (for RemoveDiskObject); may stay null in tests.
  std::function<DiskCollection*()> DiskList;
  // Rebuilds the list of the node listed; run at the end when anything changed.
  std::function<void()> Relist;
  // Runs on the window thread once the command is over and the slot is free.
  std::function<void()> OnFinished;
  // The system calls and mount table used; tests replace them.
  OpControl Control;

 private:
  void Work();
  void Post(std::function<void()> task);
  void Apply(std::size_t index, const OpResult& result);
  void Finish();

  FileOpsWindow& window_;
  CExplorer& explorer_;
  ListData& list_;
  CommandSlot& slot_;
  // The command being run: what it acts on, taken when it was given.
  std::vector<FileTarget> targets_;
  DiskObject* largestFolder_ = nullptr;
  std::vector<OpResult> problems_;  // failures, refusals and vanished objects, in order
  std::size_t done_ = 0;
  bool changed_ = false;
  bool stopped_ = false;
  bool running_ = false;
  std::string action_;
  std::atomic<std::int64_t> entries_{0};
  std::atomic<std::size_t> objects_{0};
  // Posted tasks hold a weak reference: after destruction they do nothing.
  std::shared_ptr<DeleteFilesCommand*> alive_;
};

}  // namespace kestrum
