#include "core/commands/targets.h"

#include "core/adapter/row_tags.h"
#include "core/platform/open_folder.h"
#include "core/tree/file_list.h"

namespace kestrum {

TargetSelection SelectFileTargets(const ListData& list, const CExplorer& explorer, NodeId listed,
                                  bool onlySelected, std::size_t current, bool withSaved) {
  TargetSelection out;
  const DiskObject* parent = ObjectOf(explorer, listed);
  const bool folderListing = parent && parent->Class == ObjectClass::Folder;
  const bool largestListing = parent && parent->Class == ObjectClass::Folder100;
  const FileListing* found = parent && parent->Class == ObjectClass::Results
                                 ? parent->Drive().Listed.get()
                                 : nullptr;
  const std::string volumeRoot = VolumeRootOf(parent);

  const auto& rows = list.Rows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const ListRow& row = rows[i];
    const std::size_t position = i + 1;
    if (current != 0 ? position != current : (onlySelected && !row.Selected)) continue;

    RowTarget t;
    t.Row = position;
    t.VolumeRoot = volumeRoot;
    bool real = false;
    if (IsFileTag(row.Tag) && folderListing && !row.Text.empty()) {
      t.Folder = WithSlash(parent->Path());
      t.Name = row.Text;
      t.FullPath = t.Folder + t.Name;
      // A folder a rule left out has no node: its row stands for it.
      t.IsFolder = row.ExcludedFolder;
      t.Excluded = row.Excluded;
      real = t.Name.find('/') == std::string::npos;
    } else if (IsFileTag(row.Tag) && largestListing && !row.Text.empty() &&
               row.Text.front() == '/') {
      SplitPath split = SplitLastName(row.Text);
      t.Folder = std::move(split.Folder);
      t.Name = std::move(split.Name);
      t.FullPath = row.Text;
      t.LargestKey = row.Key;
      real = !t.Name.empty() && row.Text.back() != '/';
    } else if (IsFileTag(row.Tag) && found) {
      const ListedFile* f = found->Find(row.Key);
      const ListedDrive* drive = f && f->Drive < found->Drives.size() ? &found->Drives[f->Drive]
                                                                      : nullptr;
      if (f && drive && f->Path.size() > 1 && f->Path.front() == '/' && f->Path.back() != '/') {
        SplitPath split = SplitLastName(f->Path);
        t.Folder = std::move(split.Folder);
        t.Name = std::move(split.Name);
        t.FullPath = f->Path;
        t.LargestKey = row.Key;
        t.DriveKey = drive->Key;
        t.VolumeRoot = drive->VolumeRoot;
        real = !t.Name.empty() && (!drive->Saved || withSaved);
        if (drive->Saved && !withSaved) ++out.Saved;
      }
    } else if (IsRemovedTag(row.Tag) && folderListing && !row.Text.empty()) {
      // What went since a scan compared with: only its path can be read.
      t.Folder = WithSlash(parent->Path());
      t.Name = row.Text;
      t.FullPath = t.Folder + t.Name;
      real = withSaved && t.Name.find('/') == std::string::npos;
      if (!withSaved) ++out.Removed;
    } else if (const auto node = TagNode(row.Tag); node && folderListing) {
      const TreeNode* n = explorer.Node(*node);
      DiskObject* child = ObjectOf(explorer, *node);
      if (n && n->Parent == listed && child && child->Class == ObjectClass::Folder &&
          !child->RootDirectory && child->Parent == parent && !child->Name.empty()) {
        t.IsFolder = true;
        t.Node = *node;
        t.Object = child;
        t.Folder = WithSlash(parent->Path());
        t.Name = child->Name;
        t.FullPath = t.Folder + t.Name;
        real = true;
      }
    }
    if (real) {
      out.Targets.push_back(std::move(t));
    } else {
      ++out.LeftOut;
    }
  }
  return out;
}

std::string NothingToActOn(const TargetSelection& selection) {
  if (!selection.Targets.empty()) return {};
  if (selection.LeftOut == 0) return {};
  if (selection.Removed == selection.LeftOut)
    return "The selected rows went since the scan compared with: only Copy Path works on them.";
  if (selection.Saved == selection.LeftOut)
    return "The selected rows were found in saved scans: nothing on this computer stands behind "
           "them, and only Copy Path works on them.";
  return "The selected rows are not files or folders: drives, a drive's root folder, the "
         "largest-files folder and statistics rows cannot be acted on.";
}

std::size_t ExcludedCount(const TargetSelection& selection) {
  std::size_t n = 0;
  for (const RowTarget& t : selection.Targets) n += t.Excluded ? 1 : 0;
  return n;
}

}  // namespace kestrum
