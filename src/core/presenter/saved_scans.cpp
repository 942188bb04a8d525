#include "core/presenter/saved_scans.h"

#include <atomic>
#include <cstdlib>
#include <string_view>
#include <utility>

#include "core/commands/attach_scan.h"
#include "core/commands/status_texts.h"
#include "core/platform/numbers.h"
#include "core/saved/json_export.h"
#include "core/saved/json_import.h"
#include "core/scan/scanning.h"
#include "core/presenter/main_presenter.h"
#include "core/presenter/search_results.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

std::string Canonical(const std::string& file) {
  if (file == "-") return file;  // standard input, whatever file of that name is here
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(file.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : file;
}

std::string Counted(const std::string& what, const ScanProgress& progress) {
  return what + ": " + std::to_string(progress.Folders.load()) + " folders, " +
         std::to_string(progress.Files.load()) + " files";
}

// What the progress line of an import reads: the file being read and how far.
struct ImportReading {
  std::atomic<std::size_t> Index{0};  // into the files given
  ImportReadProgress Read;
};

// How a file is named in the status line: its own name, "-" as standard input.
std::string FileLabel(const std::string& file) {
  if (file == "-") return "standard input";
  std::string_view name = file;
  while (name.size() > 1 && name.back() == '/') name.remove_suffix(1);
  if (const std::size_t slash = name.rfind('/'); slash + 1 < name.size())
    name.remove_prefix(slash + 1);  // npos + 1 is 0: no folder in it
  return std::string(name);
}

// Gives entry the scan in result: a new entry under the root, or the scan of the entry of the
// same file. Returns the entry shown.
DiskObject* Attach(MainPresenter& p, const std::string& key, DiskObject& result) {
  DiskCollection* disks = p.DiskList();
  if (!disks || disks->Count() == 0) return nullptr;
  if (DiskObject* old = disks->Find(key)) {
    if (old->Class != ObjectClass::Import) return nullptr;
    // The same file opened again: its entry is made anew, as its root may have changed.
    if (p.Explorer().Exists(old->Node)) p.Explorer().RemoveNode(old->Node);
    disks->Remove(key);
  }
  DiskObject* root = disks->Item(1);
  auto made = std::make_unique<DiskObject>();
  made->Class = ObjectClass::Import;
  made->SetSubClass();
  made->SetPath(key);
  made->DriveForChange().AllocationUnit = 1;
  made->Parent = root;
  made->Children = true;
  const FolderList* folders = result.DiskObjectsIfAny();
  std::string name = folders && folders->Count() ? folders->Item(1)->OwnPath() : std::string();
  while (name.size() > 1 && name.back() == '/') name.pop_back();
  made->Name = name;
  DiskObject* entry = disks->Add(std::move(made));
  entry->Node = p.Explorer().AddNode(entry->Label(), entry, false, root->Node, entry->ClosedIcon(),
                                     entry->OpenIcon(), true);
  AttachScan(p.Explorer(), *entry, result);
  return entry;
}

}  // namespace

std::vector<std::unique_ptr<DiskObject>> TakeSavedScans(DiskCollection* disks) {
  std::vector<std::unique_ptr<DiskObject>> out;
  if (!disks) return out;
  for (std::size_t i = disks->Count(); i >= 1; --i)
    if (disks->Item(i)->Class == ObjectClass::Import) out.insert(out.begin(), disks->RemoveAt(i));
  for (auto& d : out) d->Node = kNoNode;
  return out;
}

void AddSavedScan(MainPresenter& p, std::unique_ptr<DiskObject> entry) {
  DiskCollection* disks = p.DiskList();
  if (!disks || disks->Count() == 0) return;
  DiskObject* root = disks->Item(1);
  entry->Parent = root;
  DiskObject* d = disks->Add(std::move(entry));
  if (!d) return;
  d->Node =
      p.Explorer().AddNode(d->Label(), d, false, root->Node, d->ClosedIcon(), d->OpenIcon(), true);
  if (const FolderList* folders = d->DiskObjectsIfAny(); folders && folders->Count() > 0) {
    folders->Item(1)->Parent = d;
    if (d->Drive().Folder100) d->Drive().Folder100->Parent = folders->Item(1);
    AddScanNodes(p.Explorer(), *d);
  }
}

std::string ImportProgressText(const std::string& name, std::size_t index, std::size_t count,
                               std::uint64_t bytes, std::int64_t size) {
  std::string line = "Reading " + name;
  if (count > 1) line += " (" + std::to_string(index + 1) + " of " + std::to_string(count) + ")";
  line += ": " + FormatSize(static_cast<double>(bytes));
  if (size >= 0) line += " of " + FormatSize(static_cast<double>(size));
  return line;
}

std::string ImportEndText(std::size_t added, std::size_t count, bool stopped) {
  const std::string what = std::to_string(added) + " of " + std::to_string(count) +
                           " saved scans added";
  if (stopped) return "Open Scan stopped: " + (added ? what : std::string("nothing was added"));
  if (added == count) return "Done";
  return added ? "Done: " + what : std::string("Open Scan failed: nothing was added");
}

void ImportScans(MainPresenter& p, const std::vector<std::string>& files) {
  if (files.empty()) return;
  if (p.Refused(Guard::Busy, false) || !p.Slot().Acquire()) {
    p.SetStatus("A command is still running: the saved scan is not opened");
    return;
  }
  if (Tracing()) Trace("frmMain.ImportScans");
  CommandSlot& slot = p.Slot();
  slot.Join();
  // The list and the selection stay as they are until the files are read: a failed or
  // stopped import leaves the window as it found it.
  p.SetTreeEnabled(false);
  auto reading = std::make_shared<ImportReading>();
  slot.Progress = [reading, files] {
    const std::size_t i = reading->Index.load();
    return ImportProgressText(FileLabel(files[i]), i, files.size(), reading->Read.Bytes.load(),
                              reading->Read.Size.load());
  };
  p.SetProgressTimer(true);
  p.SetStatus("Reading " + FileLabel(files.front()) + "...");
  MainPresenter* presenter = &p;
  const HardLinkRule links = p.LinkRule();
  Scanning = true;
  slot.Run([presenter, &slot, files, reading, links] {
    // Read files in order; the tree is changed only once all are read, in one step on the
    // window thread, so that a stop or a failure never leaves half an import behind.
    std::vector<std::pair<std::string, std::shared_ptr<DiskObject>>> read;
    std::int32_t keyCounter = 0;
    bool stopped = false;
    for (std::size_t i = 0; i < files.size(); ++i) {
      const std::string& file = files[i];
      reading->Read.Bytes = 0;
      reading->Read.Size = -1;
      reading->Index = i;
      auto result = std::make_shared<DiskObject>();
      ImportError error;
      ImportOptions options;
      options.Links = links;
      options.Read = &reading->Read;
      options.Stoppable = true;
      const std::string key = Canonical(file);
      result->SetPath(key);
      const bool ok = ImportScan(file, *result, keyCounter, error, options);
      if (!Scanning) {
        // Stop drops the file at hand even when its last steps ran to their end. Not a fault
        // of the file: no message.
        stopped = true;
        break;
      }
      if (ok) {
        read.emplace_back(key, std::move(result));
      } else {
        slot.Post([presenter, message = error.Message] { presenter->ShowMessage(message); });
      }
    }
    slot.Post([presenter, &slot, read = std::move(read), stopped, total = files.size()] {
      Scanning = false;
      presenter->SetProgressTimer(false);
      presenter->SetTreeEnabled(true);
      slot.Progress = nullptr;
      slot.Release();
      // The first entry added is shown, looked up by its key once all are attached: a file
      // given twice replaces its own first entry.
      const std::string* firstKey = nullptr;
      for (const auto& [key, result] : read)
        if (Attach(*presenter, key, *result) && !firstKey) firstKey = &key;
      KeepResultsLast(*presenter);
      presenter->SetStatus(ImportEndText(read.size(), total, stopped));
      if (read.empty()) return;
      const DiskObject* first = firstKey ? presenter->DiskList()->Find(*firstKey) : nullptr;
      if (first && first->Node != kNoNode)
        presenter->ShowNode(first->Node);
      else
        presenter->ShowRoot();
    });
  });
}

void ExportSelected(MainPresenter& p) {
  DiskObject* d = ObjectOf(p.Explorer(), p.Explorer().SelectedItem());
  DiskObject* drive = DriveOf(d);
  const FolderList* folders = drive ? drive->DiskObjectsIfAny() : nullptr;
  if (!folders || folders->Count() == 0 || !d ||
      (d->Class != ObjectClass::Folder && !IsDriveClass(d->Class))) {
    p.SetStatus("Select a scanned drive, folder or saved scan in the tree to export its scan");
    return;
  }
  if (!drive->Drive().Files) {
    p.SetStatus("Scan " + drive->Label() + " again to export it: this scan kept no files");
    return;
  }
  // The tree shown: the whole scan of a drive, folder entry or saved scan, or one folder's.
  const DiskObject* top = d->Class == ObjectClass::Folder ? d : folders->Item(1);
  const std::string root = top->Path();
  const std::string file = p.View().AskExportFile(root);
  if (file.empty() || !p.Slot().Acquire()) return;
  if (Tracing()) Trace("frmMain.ExportSelected(" + root + ")");
  CommandSlot& slot = p.Slot();
  slot.Join();
  auto progress = std::make_shared<ScanProgress>();
  slot.Progress = [progress, root] { return Counted("Exporting " + root, *progress); };
  Scanning = true;
  p.SetProgressTimer(true);
  p.SetStatus("Exporting " + root + "...");
  MainPresenter* presenter = &p;
  // The slot is held: nothing changes the drive's folders or store while the worker writes.
  slot.Run([presenter, &slot, drive, top, file, progress] {
    std::string error;
    ExportOptions options;
    options.Progress = progress.get();
    options.Stoppable = true;
    options.Top = top;
    const bool ok = ExportScanToFile(*drive, file, error, options);
    const bool stopped = !ok && !Scanning;
    slot.Post([presenter, &slot, ok, stopped, error, file] {
      Scanning = false;
      presenter->SetProgressTimer(false);
      slot.Progress = nullptr;
      slot.Release();
      if (ok) {
        presenter->SetStatus("Done: the scan is saved in " + file);
      } else if (stopped) {
        presenter->SetStatus("Export stopped: no file was written");
      } else {
        presenter->SetStatus("Export failed");
        presenter->ShowMessage("Cannot export to \"" + file + "\": " + error);
      }
    });
  });
}

}  // namespace kestrum
