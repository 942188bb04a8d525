#include "core/presenter/saved_scans.h"

#include <cstdlib>

#include "core/commands/attach_scan.h"
#include "core/commands/status_texts.h"
#include "core/saved/json_export.h"
#include "core/saved/json_import.h"
#include "core/scan/scanning.h"
#include "core/presenter/main_presenter.h"
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

void ImportScans(MainPresenter& p, const std::vector<std::string>& files) {
  if (files.empty()) return;
  if (p.Refused(Guard::Busy, false) || !p.Slot().Acquire()) {
    p.SetStatus("A command is still running: the saved scan is not opened");
    return;
  }
  if (Tracing()) Trace("frmMain.ImportScans");
  CommandSlot& slot = p.Slot();
  slot.Join();
  p.ClearList();
  p.SetTreeEnabled(false);
  auto progress = std::make_shared<ScanProgress>();
  slot.Progress = [progress] { return Counted("Reading the saved scan", *progress); };
  p.SetProgressTimer(true);
  p.SetStatus("Reading the saved scan...");
  MainPresenter* presenter = &p;
  auto first = std::make_shared<DiskObject*>(nullptr);
  const HardLinkRule links = p.LinkRule();
  // Stop ends a wait for a pipe's data (a FIFO, standard input), never a file read halfway.
  Scanning = true;
  slot.Run([presenter, &slot, files, progress, first, links] {
    std::int32_t keyCounter = 0;
    for (const std::string& file : files) {
      auto result = std::make_shared<DiskObject>();
      ImportError error;
      ImportOptions options;
      options.Links = links;
      options.Progress = progress.get();
      options.Stoppable = true;
      const std::string key = Canonical(file);
      result->SetPath(key);
      if (!ImportScan(file, *result, keyCounter, error, options)) {
        slot.Post([presenter, message = error.Message] { presenter->ShowMessage(message); });
        continue;
      }
      slot.Post([presenter, key, result, first] {
        DiskObject* shown = Attach(*presenter, key, *result);
        if (!*first) *first = shown;
      });
    }
    slot.Post([presenter, &slot, first] {
      Scanning = false;
      presenter->SetProgressTimer(false);
      presenter->SetTreeEnabled(true);
      presenter->SetStatus("Done");
      slot.Progress = nullptr;
      slot.Release();
      if (*first && (*first)->Node != kNoNode)
        presenter->ShowNode((*first)->Node);
      else
        presenter->ShowRoot();
    });
  });
}

void ExportSelected(MainPresenter& p) {
  const DiskObject* d = ObjectOf(p.Explorer(), p.Explorer().SelectedItem());
  DiskObject* drive = const_cast<DiskObject*>(DriveOf(d));
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
