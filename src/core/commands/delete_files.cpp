#include "core/commands/delete_files.h"

#include "core/tree/file_list.h"
#include "core/tree/kept_entries.h"

#include <unordered_set>

#include "core/fileops/trash.h"
#include "core/scan/scanning.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

// Only Delete deletes for good: any other value, even one that is no enumerator, goes to the
// trash, from which it can be taken back.
bool Recycling(DeleteAction action) { return action != DeleteAction::Delete; }

// The action's word in the question and the trace: "Delete" or "Recycle".
const char* Word(DeleteAction action) { return Recycling(action) ? "Recycle" : "Delete"; }

std::string Objects(std::size_t n) { return std::to_string(n) + (n == 1 ? " object" : " objects"); }

std::string Verb(DeleteAction action) {
  return Recycling(action) ? "moved to the trash" : "deleted";
}

}  // namespace

std::string ConfirmText(DeleteAction action) {
  return std::string("Are you sure you want to ") + Word(action) + " the selected objects?";
}

std::string ConfirmDetails(DeleteAction action, const TargetSelection& selection) {
  std::string out = Objects(selection.Targets.size()) + " will be " + Verb(action) + ":\n";
  for (const RowTarget& t : selection.Targets) out += t.FullPath + (t.IsFolder ? "/" : "") + "\n";
  if (const auto excluded = ExcludedCount(selection); excluded > 0)
    out += std::to_string(excluded) +
           (excluded == 1 ? " of them was" : " of them were") +
           " left out of the scan by an exclude rule: " + (excluded == 1 ? "its" : "their") +
           " size was not counted.\n";
  if (selection.LeftOut > 0)
    out += std::to_string(selection.LeftOut) +
           (selection.LeftOut == 1 ? " selected row is" : " selected rows are") +
           " not a file or folder and will be left alone.\n";
  return out;
}

void RemoveDiskObject(DiskCollection* diskList, DiskObject* object) {
  if (!object) return;
  if (diskList) {
    std::vector<DiskObject*> children;
    for (const auto& d : *diskList)
      if (d->Parent == object) children.push_back(d.get());
    for (DiskObject* child : children) RemoveDiskObject(diskList, child);
    if (diskList->Find(object->OwnPath()) == object) {
      diskList->Remove(object->OwnPath());
      return;  // it was a drive or the root, and is gone now
    }
  }
  if (object->Class != ObjectClass::Folder || object->RootDirectory) return;
  DiskObject* drive = DriveOf(object->Parent);
  if (!drive) return;
  std::unordered_set<const DiskObject*> gone;
  // What the scan kept of the branch's entries goes with it.
  ForgetBranchEntries(*drive, *object);
  drive->DiskObjects().RemoveBranch(object, &gone);
  CompactFilesIfWorthIt(*drive);
  // The hard-link table must not name a folder that is gone.
  if (drive->HardLinksIfAny())
    drive->HardLinksForChange().EraseIf([&gone](const DiskObject* f) { return gone.count(f) > 0; });
}

bool RemoveLargestEntry(DiskObject* largestFolder, const std::string& key) {
  DiskObject* drive = DriveOf(largestFolder);
  return drive && drive->LargestFiles().Remove(key) != nullptr;
}

DeleteFilesCommand::DeleteFilesCommand(CommandWindow& window, CExplorer& explorer, ListData& list,
                                       CommandSlot& slot)
    : window_(window),
      explorer_(explorer),
      list_(list),
      slot_(slot),
      alive_(std::make_shared<DeleteFilesCommand*>(this)) {}

DeleteFilesCommand::~DeleteFilesCommand() {
  if (running_) {
    CommandSlot::Stop();
    slot_.Join();
  }
  alive_.reset();
}

std::string DeleteFilesCommand::ProgressLine() const {
  return std::string(Recycling(action_) ? "Moving to the trash: " : "Deleting: ") +
         std::to_string(objects_.load()) + " of " + Objects(targets_.size()) + " done, " +
         std::to_string(entries_.load()) + " entries removed";
}

bool DeleteFilesCommand::DeleteFiles(DeleteAction action, NodeId listed) {
  // Taken first, so that nothing else can start while the user is asked.
  if (!slot_.Acquire()) return false;
  if (Tracing()) Trace(std::string("frmMain.DeleteFiles(") + Word(action) + ")");
  TargetSelection selection = SelectFileTargets(list_, explorer_, listed);
  if (selection.Targets.empty()) {
    slot_.Release();
    if (const std::string why = NothingToActOn(selection); !why.empty()) window_.ShowMessage(why);
    return true;
  }
  if (!window_.Confirm(ConfirmText(action), ConfirmDetails(action, selection))) {
    slot_.Release();
    return true;
  }

  // The command acts on what was selected when it was given, whatever the list does later.
  targets_ = std::move(selection.Targets);
  DiskObject* shown = ObjectOf(explorer_, listed);
  largestFolder_ = shown && shown->Class == ObjectClass::Folder100 ? shown : nullptr;
  resultsFolder_ = shown && shown->Class == ObjectClass::Results ? shown : nullptr;
  goneRows_.clear();
  drive_ = DriveOf(shown);
  problems_.clear();
  done_ = 0;
  changed_ = false;
  stopped_ = false;
  action_ = action;
  entries_ = 0;
  objects_ = 0;

  running_ = true;
  slot_.Progress = [this] { return ProgressLine(); };
  Scanning = true;
  window_.SetStatus(Recycling(action) ? "Moving to the trash..." : "Deleting...");
  window_.SetProgressTimer(true);
  slot_.Run([this] { Work(); });
  return true;
}

void DeleteFilesCommand::Post(std::function<void()> task) {
  std::weak_ptr<DeleteFilesCommand*> token = alive_;
  slot_.Post([token, task = std::move(task)] {
    if (token.lock()) task();
  });
}

void DeleteFilesCommand::Work() {
  OpControl control = Control;
  control.Removed = &entries_;
  control.StopRequested = [] { return CommandSlot::StopRequested(); };
  const bool recycle = Recycling(action_);
  for (std::size_t i = 0; i < targets_.size(); ++i) {
    if (CommandSlot::StopRequested()) {
      Post([this] { stopped_ = true; });
      break;
    }
    const RowTarget& t = targets_[i];
    if (Tracing()) {
      Trace((recycle      ? "  recycle: "
             : t.IsFolder ? "  delete folder: "
                          : "  delete: ") +
            t.FullPath);
    }
    OpResult r = recycle ? TrashTarget(t, control) : DeleteTarget(t, control);
    objects_.fetch_add(1);
    const bool goOn = IsGone(r);
    Post([this, i, r = std::move(r)] { Apply(i, r); });
    if (!goOn) break;
  }
  Post([this] { Finish(); });
}

void DeleteFilesCommand::Apply(std::size_t index, const OpResult& r) {
  const RowTarget& t = targets_[index];
  if (r.Status != OpStatus::Done) problems_.push_back(r);
  if (r.Status == OpStatus::Stopped) stopped_ = true;
  if (!IsGone(r)) {
    // A folder deleted in part is still there: the list shows what is left of it.
    if (r.Removed > 0) changed_ = true;
    return;
  }
  ++done_;
  changed_ = true;
  // A folder a rule left out is an entry of its folder, as a file is: it has no node.
  if (!t.IsFolder || t.Excluded) {
    if (largestFolder_ && !t.LargestKey.empty()) RemoveLargestEntry(largestFolder_, t.LargestKey);
    if (resultsFolder_ && !t.LargestKey.empty()) goneRows_.push_back(t.LargestKey);
    // Nothing that reads what the scan kept shows the file again. (The drive's largest-files
    // list loses a file only through its own folder's rows, as the folder listings leave it.)
    DiskObject* drive = drive_;
    if (!drive && !t.DriveKey.empty() && DiskList)
      if (DiskCollection* disks = DiskList()) drive = disks->Find(t.DriveKey);
    if (drive && IsDriveClass(drive->Class)) ForgetEntry(*drive, t.FullPath);
    return;
  }
  // The node is the folder's only while it still carries the folder's object.
  if (ObjectOf(explorer_, t.Node) != t.Object) return;
  explorer_.RemoveNode(t.Node);
  RemoveDiskObject(DiskList ? DiskList() : nullptr, t.Object);
}

void DeleteFilesCommand::Finish() {
  // The rows gone leave the results folder in one step, before it is listed again.
  if (resultsFolder_) ForgetListedFiles(*resultsFolder_, goneRows_);
  goneRows_.clear();
  Scanning = false;
  window_.SetProgressTimer(false);
  running_ = false;
  slot_.Release();
  // The status line ends as the listing writes it: the relisted folder's counts, or those of
  // the listing left as it was.
  if (changed_)
    window_.Relist();
  else
    window_.ShowListStatus();

  std::string message;
  const OpResult* failure = nullptr;
  for (const OpResult& p : problems_) {
    if (p.Status == OpStatus::Vanished) {
      message += p.Message + "\n";
    } else {
      failure = &p;
    }
  }
  const std::size_t total = targets_.size();
  if (failure) {
    message += (message.empty() ? "" : "\n") + failure->Message + "\n";
    if (failure->Status != OpStatus::Stopped) {
      message += "\n" + std::to_string(done_) + " of " + Objects(total) + " " +
                 (done_ == 1 ? "was " : "were ") + Verb(action_) +
                 "; the others were left as they were.";
    }
  } else if (stopped_ && done_ < total) {
    message += (message.empty() ? "" : "\n") + std::string("Stopped: ") + std::to_string(done_) +
               " of " + Objects(total) + " " + (done_ == 1 ? "was " : "were ") + Verb(action_) +
               ".";
  }
  while (!message.empty() && message.back() == '\n') message.pop_back();
  if (!message.empty()) window_.ShowMessage(message);
  targets_.clear();
}

}  // namespace kestrum
