#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/tree/file_store.h"
#include "core/tree/hard_links.h"
#include "core/tree/keyed_list.h"
#include "core/tree/object_blocks.h"

namespace kestrum {

struct FileListing;

// Identifies a node of the folder tree (see adapter/explorer.h). 0 means "no node".
using NodeId = std::uint32_t;
inline constexpr NodeId kNoNode = 0;

// One entry of a drive's largest-files list.
struct FileObject {
  std::string Name;  // full path: folder path followed by the file name
  double Size = 0;
  double Allocated = 0;
  std::string key;  // "K" + running number
};

struct DiskObject;
inline const std::string& DiskObjectKey(const DiskObject& d);
inline const std::string& FileObjectKey(const FileObject& f) { return f.key; }

using DiskObjectList = KeyedList<DiskObject, DiskObjectKey>;
using FileObjectList = KeyedList<FileObject, FileObjectKey>;

// The folders of one scan of a drive, in creation order (the root folder first), with lookup
// by full path. Only the root folder holds its path; every other folder is keyed by its parent
// and its Name, so the list costs memory in the number of folders, not in the sum of their
// path lengths, however deep the tree. A folder's Name and Parent must not change once added.
// The key index is built on the first Find, so a scan that only appends never pays for it;
// Find is therefore not safe to call from two threads at once.
class FolderList {
 public:
  FolderList();
  ~FolderList();
  FolderList(const FolderList&) = delete;
  FolderList& operator=(const FolderList&) = delete;

  std::size_t Count() const { return items_.size(); }
  bool Empty() const { return items_.empty(); }
  // Appends a new, empty folder object and returns it; Add appends folder's contents (moved
  // into the list's own storage). The first folder added is the root folder. As directory
  // names are unique within a folder, so no second folder of one Name under one parent comes
  // from a scan; were one added, Find would return the first. Positions fit 32 bits.
  DiskObject* AddNew();
  DiskObject* Add(std::unique_ptr<DiskObject> folder);
  // 1-based position; nullptr outside 1..Count().
  DiskObject* Item(std::size_t position) const {
    return position >= 1 && position <= items_.size() ? items_[position - 1].get() : nullptr;
  }
  // folder's 1-based position, 0 when it is not in the list. Looks first where the folder was
  // put and searches outward from there: after branches of other sizes were replaced before
  // it, that costs the difference of their sizes, not the length of the list.
  std::size_t PositionOf(const DiskObject* folder) const;
  // The folder whose Path is path exactly (ending in "/"), or nullptr. Costs one lookup per
  // path component below the root folder.
  DiskObject* Find(std::string_view path) const;
  // Calls visit(folder, path) for every folder in order. Paths are built as the walk goes,
  // so the whole pass costs the length of the paths it hands out, not the depth times that.
  void ForEachWithPath(
      const std::function<void(const DiskObject&, const std::string&)>& visit) const;
  void Clear();
  // Removes folder and every folder below it (found through Parent; a folder is always
  // added after its parent), keeping the others in their order. Returns how many went.
  // Costs one pass over the list; the path index loses the folders that went and renumbers
  // the others' positions where they stand, hashing none of them again. Pointers
  // to the removed folders are dangling afterwards.
  std::size_t RemoveBranch(const DiskObject* folder,
                           std::unordered_set<const DiskObject*>* removed = nullptr);
  // Puts the folders below rescan's first folder in place of those below folder (which must
  // be in this list), keeping the objects where they are: the subfolders of rescan's first
  // folder become folder's, and every Level is raised by folder's Level - 1. rescan is left
  // empty (its first folder ended: take what it holds before). removed, when given, receives the
  // folders that went (their objects are ended). Costs the old branch and rescan, and a move of
  // the folders after the branch when the two differ in size; the path index hashes the
  // branch only (the positions after it move by the difference, in one pass over the index).
  // The rescan's folders are moved into the room of folders that went before (this branch's
  // or earlier ones'), so that refreshing a branch again and again holds no more; relocated,
  // when given, receives each moved folder's old address and its new one (the rescan's other
  // references to its folders, such as its hard-link table, must follow).
  void ReplaceBranch(DiskObject* folder, FolderList& rescan,
                     std::unordered_set<const DiskObject*>* removed = nullptr,
                     std::unordered_map<const DiskObject*, DiskObject*>* relocated = nullptr);

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 private:
  // Ends an object placed in blocks_ without freeing its memory, which blocks_ owns.
  struct EndPlaced {
    void operator()(DiskObject* o) const noexcept;
  };
  // The path index: an open-addressing table (linear probing, at most half full, deletion by
  // shifting back) of 0-based positions in items_, keyed by the folder's Parent and Name,
  // whose hash is computed again from the folder rather than stored. Four bytes a bucket,
  // eight to sixteen a folder, and no allocation per folder.
  static constexpr std::uint32_t kFree = UINT32_MAX;
  static std::uint32_t HashOf(const DiskObject* parent, std::string_view name);
  static std::uint32_t HashOf(const DiskObject& folder);
  // The bucket holding position, or SIZE_MAX.
  std::size_t BucketOf(std::size_t position) const;
  // Makes room for count positions at most half full.
  void Reserve(std::size_t count) const;
  void Index(std::size_t position) const;
  // Takes the folder at position (not a namesake) out of the index.
  void Unindex(std::size_t position) const;
  void EraseBucket(std::size_t at) const;
  // Room for the next object: a slot of one that was removed, else new room in blocks_.
  void* Room();
  // The objects live in blocks_ (declared first, so it goes last); the list only ends them.
  ObjectBlocks blocks_;
  // Slots in blocks_ of objects removed (RemoveBranch, ReplaceBranch), which new ones take.
  std::vector<void*> free_;
  std::vector<std::unique_ptr<DiskObject, EndPlaced>> items_;
  mutable std::vector<std::uint32_t> children_;
  mutable std::size_t childCount_ = 0;  // positions in children_
  mutable std::size_t indexed_ = 1;  // items_ before this position are in children_
};

// What a model object stands for. The names are the model's class names; File is what the
// views call a largest-files entry when they label one; Import is a saved scan read from a
// file, listed under the root after the drives like one of them. Results is the pseudo folder
// of files gathered from any drive (file_list.h), the root's last child. None: not set yet.
enum class ObjectClass : std::uint8_t { None, Root, Drive, Folder, Folder100, File, Import, Results };

// True for the objects that stand at the top of a scanned tree: drives, folder entries and
// imported scans.
inline bool IsDriveClass(ObjectClass c) {
  return c == ObjectClass::Drive || c == ObjectClass::Import;
}

// What only some objects hold: the volume facts, the last scan and its lists of a drive (also
// of a folder entry or an import), and the own path of the root, drives, a drive's root
// folder and the largest-files folder. A DiskObject allocates one only when it needs it, so
// that the million plain folders of a large scan carry a null pointer instead.
struct DriveFields {
  double DeviceSize = 0;
  double FreeSpace = 0;
  // The volume's allocation unit; a folder has none of its own and lists its files with its
  // drive's.
  std::int32_t AllocationUnit = 0;
  std::string FileSystem;
  std::string RootFolder;
  double Smallest = 0;
  std::int32_t SmallestIndex = 0;
  std::int32_t DeepestLevel = 0;
  // A folder given to scan (command line, "Scan &Folder..."), shown as a drive whose Path is
  // the folder and whose volume facts are those of the volume holding it.
  bool FolderEntry = false;
  // The type code 0..5 SetSubClass was given (see volumes.h); -1 when none was.
  std::int8_t DriveType = -1;
  // How the last scan counted hard links; a refresh counts the same way, so the drive's
  // totals follow one rule until the next scan.
  HardLinkRule LinkRule = HardLinkRule::Once;
  // The exclude rules of the last scan, one line each as the settings keep them, and whether
  // it went into other file systems mounted below its folder: a refresh leaves out what the
  // scan left out, and an excluded entry names its rule by its place here.
  std::vector<std::string> ExcludeLines;
  bool CrossFileSystems = false;
  // The number the next largest-files key continues from, so that keys are never used twice
  // on a drive, even across refreshes.
  std::int32_t NextLargestKey = 0;
  // The "100 Largest Files" pseudo folder of the last scan. It is not one of the drive's
  // DiskObjects; the drive owns it so that it lives exactly as long as the scan.
  std::unique_ptr<DiskObject> Folder100;
  // Every entry of the last scan's folders other than subfolders (see file_store.h), or of the
  // saved scan it read, which the listing shows instead of reading a disk (FromFile); also an
  // Import's. Null when the scan kept no entries (a report). Shared, so that a reader on
  // another thread keeps what it was given; only the window thread changes it.
  std::shared_ptr<FileStore> Files;
  // The results folder's files (Results only). Shared, so that a listing reading its rows on
  // another thread keeps what it was given while a new search replaces them.
  std::shared_ptr<const FileListing> Listed;
  // The history's file of the last scan, when it was kept there ("" when not).
  std::string HistoryFile;

 private:
  friend struct DiskObject;
  std::string path_;
  std::unique_ptr<FolderList> diskObjects_;
  std::unique_ptr<FileObjectList> largestFiles_;
  std::shared_ptr<HardLinkTable> hardLinks_;
};

// The one record class of the model: root, drive, folder and the largest-files pseudo
// folder, told apart by Class. Sizes are byte counts;
// fields beginning with "f" hold a folder's own values, the others subtree totals after the
// summary. Parent and Node are non-owning back references. A plain folder holds only what
// every folder needs; the rest is in its DriveFields (Drive()), made on first change.
struct DiskObject {
  std::string Name;
  DiskObject* Parent = nullptr;
  double UsedSpace = 0;
  double AllocatedSpace = 0;
  double fUsedSpace = 0;
  double fAllocatedSpace = 0;
  NodeId Node = kNoNode;
  std::int32_t Level = 0;
  std::int32_t FolderCount = 0;
  std::int32_t FileCount = 0;
  std::int32_t fFolderCount = 0;
  std::int32_t fFileCount = 0;
  // Folder: how many files of the drive's HardLinks table it counted, at least (a refresh
  // reads it to learn whether every entry of a branch came back, and so whether the whole
  // table needs a pass).
  std::int32_t LinkClaims = 0;
  // Folder: where its entries start in its drive's Files, FileStore::kNone when it has none.
  std::uint64_t FilesAt = FileStore::kNone;
  // Folder: where its FolderList put it (0-based), a hint that PositionOf starts from.
  std::uint32_t ListHint = 0;
  ObjectClass Class = ObjectClass::None;
  bool Children = false;
  bool RootDirectory = false;

  // The fields of drives and of the objects that hold their own path. Drive() reads them
  // (defaults for an object that has none, which it does not make); DriveForChange() makes
  // them on first use and returns them to write.
  const DriveFields& Drive() const;
  DriveFields& DriveForChange();
  bool HasDriveFields() const { return drive_ != nullptr; }

  // The object's full path: "My Computer" for the root, the mount point for a drive, and for
  // folders the path ending in "/". The root, drives, a drive's root folder and the
  // largest-files folder hold theirs (SetPath); any other folder has none of its own and
  // derives its path from its parent's and its Name, so that a tree n levels deep costs
  // memory in n rather than n squared. Costs one step per level for a derived path.
  std::string Path() const;
  // The path the object holds itself; empty for a folder whose path is derived.
  const std::string& OwnPath() const { return Drive().path_; }
  void SetPath(std::string path);

  // Drive only: every folder of the last scan keyed by Path, root folder first; and the
  // largest files of that scan. Both are created empty on first use, so folders carry none.
  FolderList& DiskObjects();
  FileObjectList& LargestFiles();
  const FolderList* DiskObjectsIfAny() const { return Drive().diskObjects_.get(); }
  const FileObjectList* LargestFilesIfAny() const { return Drive().largestFiles_.get(); }
  // Drive only: the files with more than one name the last scan counted once (see
  // hard_links.h), created empty on first use. Shared, so that a listing reading file rows on
  // another thread can keep the table it was given while a refresh makes a new one.
  HardLinkTable& HardLinks();
  std::shared_ptr<const HardLinkTable> HardLinksIfAny() const { return Drive().hardLinks_; }
  // Drive only: the table the window changes, copied first when a listing still holds it.
  HardLinkTable& HardLinksForChange();
  // Drive only: takes over the folders, largest files, hard-link table, largest-files folder,
  // Smallest, SmallestIndex, DeepestLevel, LinkRule, ExcludeLines and CrossFileSystems of result
  // (a detached drive object that a scan filled), dropping those of the last scan. The root folder's Parent is pointed at this
  // drive. result is left without a scan.
  void AdoptScan(DiskObject& result);

  // Drive only: offers one file to the largest-files list (bounded at 100, a single marker
  // on the first smallest entry). keyCounter numbers the entries' keys ("K" + number); the
  // scan command resets it, so keys stay unique across the drives of one command.
  void AddLargest(const std::string& name, double size, double allocated, std::int32_t& keyCounter);

  // The text shown for the object: a drive "Name (Path)" or "(Path)"; an import its Name
  // (the scanned root's path) and the last name of its file, "/srv (server.json)"; root,
  // folders and files their Name, or Path when Name is empty; any other class an empty text.
  std::string Label() const;
  // What the class makes of the object: its subclass text and its two icon keys, from Class
  // and, for drives, the type code SetSubClass kept (none before it: all three empty).
  std::string SubClass() const;
  std::string ClosedIcon() const;
  std::string OpenIcon() const;
  // Drive only: keeps the type code 0..5 that SubClass and the icons follow; a code outside
  // it, or none, changes nothing. Other classes need no call.
  void SetSubClass(std::optional<int> driveType = std::nullopt);
  // The size the views show: AllocatedSpace while "Allocated" is on, UsedSpace otherwise.
  double Space(bool showAllocated) const { return showAllocated ? AllocatedSpace : UsedSpace; }

 private:
  std::unique_ptr<DriveFields> drive_;
};

// A scan of a million folders keeps a million of these, so a plain folder is held to 128
// bytes: a name, a parent, four totals, where its entries start, seven counts and a null
// pointer to its DriveFields. Anything only some objects need belongs in DriveFields.
static_assert(sizeof(DiskObject) <= 128, "a plain folder must stay small: see DriveFields");

inline const std::string& DiskObjectKey(const DiskObject& d) { return d.OwnPath(); }

// The root and the drives, keyed by Path, root first, then the drives in mount-table order.
using DiskCollection = DiskObjectList;

// The drive (or folder entry, or import) object lies on: itself or its nearest ancestor of
// class Drive or Import; nullptr when it has none.
const DiskObject* DriveOf(const DiskObject* object);
DiskObject* DriveOf(DiskObject* object);
// The root folder of the drive object lies on, ending in "/"; "" when it has no drive.
// True when object lies on an imported scan: nothing on this computer stands behind it.
bool IsImported(const DiskObject* object);
std::string VolumeRootOf(const DiskObject* object);

}  // namespace kestrum
