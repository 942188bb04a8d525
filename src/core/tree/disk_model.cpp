#include "core/tree/disk_model.h"

#include <algorithm>
#include <new>
#include <unordered_set>

namespace kestrum {

FolderList::FolderList() = default;
FolderList::~FolderList() = default;

std::uint32_t FolderList::HashOf(const DiskObject* parent, std::string_view name) {
  // Parents are addresses, whose low bits are all alike: mix before taking the high half.
  const std::uint64_t h = std::hash<std::string_view>{}(name) ^
                          reinterpret_cast<std::uintptr_t>(parent) * 0xC2B2AE3D27D4EB4FULL;
  return static_cast<std::uint32_t>((h * 0x9E3779B97F4A7C15ULL) >> 32);
}

std::uint32_t FolderList::HashOf(const DiskObject& folder) {
  return HashOf(folder.Parent, folder.Name);
}

void FolderList::EndPlaced::operator()(DiskObject* o) const noexcept { o->~DiskObject(); }

void* FolderList::Room() {
  if (free_.empty()) return blocks_.Take(sizeof(DiskObject));
  void* slot = free_.back();
  free_.pop_back();
  return slot;
}

DiskObject* FolderList::AddNew() {
  std::unique_ptr<DiskObject, EndPlaced> o(new (Room()) DiskObject());
  items_.push_back(std::move(o));  // if this throws, o still ends the object
  items_.back()->ListHint = static_cast<std::uint32_t>(items_.size() - 1);
  return items_.back().get();
}

DiskObject* FolderList::Add(std::unique_ptr<DiskObject> folder) {
  DiskObject* o = AddNew();
  *o = std::move(*folder);
  o->ListHint = static_cast<std::uint32_t>(items_.size() - 1);
  return o;
}

void FolderList::Reserve(std::size_t count) const {
  if (2 * count <= children_.size()) return;
  // Grow to at least twice the need and place every position again, hashing each once more.
  std::size_t size = 16;
  while (size < 2 * count) size *= 2;
  std::vector<std::uint32_t> old = std::move(children_);
  children_.assign(size, kFree);
  const std::size_t mask = size - 1;
  for (const std::uint32_t at : old) {
    if (at == kFree) continue;
    std::size_t i = HashOf(*items_[at]) & mask;
    while (children_[i] != kFree) i = (i + 1) & mask;
    children_[i] = at;
  }
}

void FolderList::Index(std::size_t position) const {
  const DiskObject& folder = *items_[position];
  Reserve(childCount_ + 1);
  const std::size_t mask = children_.size() - 1;
  std::size_t i = HashOf(folder) & mask;
  for (; children_[i] != kFree; i = (i + 1) & mask) {
    const DiskObject& o = *items_[children_[i]];
    if (o.Parent == folder.Parent && o.Name == folder.Name) return;  // the first one stays
  }
  children_[i] = static_cast<std::uint32_t>(position);
  ++childCount_;
}

std::size_t FolderList::BucketOf(std::size_t position) const {
  if (children_.empty()) return SIZE_MAX;
  const std::size_t mask = children_.size() - 1;
  for (std::size_t i = HashOf(*items_[position]) & mask; children_[i] != kFree; i = (i + 1) & mask)
    if (children_[i] == position) return i;
  return SIZE_MAX;
}

void FolderList::EraseBucket(std::size_t at) const {
  // Shift later members of the probe run back, so that no lookup stops early at the hole.
  const std::size_t mask = children_.size() - 1;
  std::size_t hole = at;
  for (std::size_t j = (at + 1) & mask; children_[j] != kFree; j = (j + 1) & mask) {
    const std::size_t home = HashOf(*items_[children_[j]]) & mask;
    const bool staysPut = hole <= j ? (hole < home && home <= j) : (hole < home || home <= j);
    if (staysPut) continue;
    children_[hole] = children_[j];
    hole = j;
  }
  children_[hole] = kFree;
  --childCount_;
}

void FolderList::Unindex(std::size_t position) const {
  const std::size_t at = BucketOf(position);
  if (at != SIZE_MAX) EraseBucket(at);
}

DiskObject* FolderList::Find(std::string_view path) const {
  if (items_.empty()) return nullptr;
  // The root folder is found by position; its parent (the drive) changes when a finished
  // scan is handed over, so it stays out of the parent-and-name index.
  if (indexed_ < items_.size()) {
    Reserve(childCount_ + (items_.size() - indexed_));
    for (; indexed_ < items_.size(); ++indexed_) Index(indexed_);
  }
  DiskObject* at = items_.front().get();
  const std::string& rootPath = at->OwnPath();
  if (path.substr(0, rootPath.size()) != rootPath) return nullptr;
  path.remove_prefix(rootPath.size());
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    if (slash == 0 || slash == std::string_view::npos) return nullptr;
    const std::string_view name = path.substr(0, slash);
    const std::size_t mask = children_.size() - 1;
    DiskObject* next = nullptr;
    if (!children_.empty())
      for (std::size_t i = HashOf(at, name) & mask; children_[i] != kFree; i = (i + 1) & mask) {
        DiskObject* o = items_[children_[i]].get();
        if (o->Parent == at && o->Name == name) {
          next = o;
          break;
        }
      }
    if (!next) return nullptr;
    at = next;
    path.remove_prefix(slash + 1);
  }
  return at;
}

void FolderList::ForEachWithPath(
    const std::function<void(const DiskObject&, const std::string&)>& visit) const {
  // Creation order is depth first, so the path of the folder last seen at each level is a
  // prefix of the next folder's path: keep the ancestors' path lengths on a stack.
  std::string path;
  std::vector<std::pair<const DiskObject*, std::size_t>> open;
  for (const auto& f : items_) {
    while (!open.empty() && open.back().first != f->Parent) open.pop_back();
    if (open.empty()) {
      path = f->Path();
    } else {
      path.resize(open.back().second);
      path += f->Name;
      path += '/';
    }
    open.emplace_back(f.get(), path.size());
    visit(*f, path);
  }
}

void FolderList::Clear() {
  children_.clear();
  childCount_ = 0;
  items_.clear();
  free_.clear();
  blocks_.Release();
  indexed_ = 1;
}

std::size_t FolderList::PositionOf(const DiskObject* folder) const {
  const std::size_t n = items_.size();
  if (!folder || n == 0) return 0;
  const std::size_t hint = std::min<std::size_t>(folder->ListHint, n - 1);
  for (std::size_t d = 0; d <= hint || hint + d < n; ++d) {
    if (hint + d < n && items_[hint + d].get() == folder) return hint + d + 1;
    if (d > 0 && d <= hint && items_[hint - d].get() == folder) return hint - d + 1;
  }
  return 0;
}

std::size_t FolderList::RemoveBranch(const DiskObject* folder,
                                     std::unordered_set<const DiskObject*>* removed) {
  std::unordered_set<const DiskObject*> own;
  std::unordered_set<const DiskObject*>& gone = removed ? *removed : own;
  // The index keeps its other entries: those of the folders that go leave it first (while
  // every object still stands where the index says), then the others are renumbered where
  // they are, with no hashing; the indexed front shrinks by the folders of it that went.
  std::vector<bool> goes(items_.size(), false);
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const DiskObject* item = items_[i].get();
    if (item == folder || (item->Parent && gone.count(item->Parent))) {
      gone.insert(item);
      goes[i] = true;
      if (i < indexed_) Unindex(i);
    }
  }
  if (gone.empty()) return 0;
  std::vector<std::unique_ptr<DiskObject, EndPlaced>> kept;
  kept.reserve(items_.size());
  std::vector<std::uint32_t> renumbered(childCount_ > 0 ? items_.size() : 0);
  std::size_t indexed = 0;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (goes[i]) {
      free_.push_back(items_[i].get());  // ended with the old items_ below; its room is reused
      continue;
    }
    if (i < indexed_) ++indexed;
    if (!renumbered.empty()) renumbered[i] = static_cast<std::uint32_t>(kept.size());
    kept.push_back(std::move(items_[i]));
  }
  if (!renumbered.empty())
    for (std::uint32_t& b : children_)
      if (b != kFree) b = renumbered[b];
  indexed_ = std::max<std::size_t>(indexed, 1);
  items_ = std::move(kept);
  return gone.size();
}

void FolderList::ReplaceBranch(DiskObject* folder, FolderList& rescan,
                               std::unordered_set<const DiskObject*>* removed,
                               std::unordered_map<const DiskObject*, DiskObject*>* relocated) {
  const std::size_t position = PositionOf(folder);
  if (position == 0) return;
  const std::size_t at = position - 1;
  // Creation order is depth first: the folder's descendants follow it, up to the first
  // folder that is not deeper.
  std::size_t end = at + 1;
  while (end < items_.size() && items_[end]->Level > folder->Level) ++end;
  for (std::size_t i = at + 1; i < end; ++i) {
    if (removed) removed->insert(items_[i].get());
    if (i < indexed_) Unindex(i);
    free_.push_back(items_[i].get());
    items_[i].reset();
  }
  const DiskObject* newTop = rescan.items_.empty() ? nullptr : rescan.items_.front().get();
  const std::int32_t shift = folder->Level - 1;
  std::vector<std::unique_ptr<DiskObject, EndPlaced>> moved;
  // The rescan's folders move into the room of folders that went (this branch's, or earlier
  // ones'), so that refreshing one branch again and again holds no more memory than once;
  // those that find none stay where they are, in the rescan's blocks, which are then kept.
  std::unordered_map<const DiskObject*, DiskObject*> own;
  std::unordered_map<const DiskObject*, DiskObject*>& to = relocated ? *relocated : own;
  bool keepBlocks = false;
  std::vector<void*> vacated{rescan.items_.empty() ? nullptr : rescan.items_.front().get()};
  if (!rescan.items_.empty()) {
    moved.reserve(rescan.items_.size() - 1);
    for (std::size_t i = 1; i < rescan.items_.size(); ++i) {
      DiskObject* f = rescan.items_[i].get();
      if (f->Parent == newTop) {
        f->Parent = folder;
      } else if (const auto p = to.find(f->Parent); p != to.end()) {
        f->Parent = p->second;
      }
      f->Level += shift;
      if (free_.empty()) {
        keepBlocks = true;
        moved.push_back(std::move(rescan.items_[i]));
        continue;
      }
      DiskObject* n = new (free_.back()) DiskObject(std::move(*f));
      free_.pop_back();
      to.emplace(f, n);
      moved.emplace_back(n);
      vacated.push_back(f);  // ended below with the rescan's items
    }
    rescan.items_.clear();  // ends its first folder and what moved out
  }
  // One move of the folders after the branch, none when the sizes agree; the slots moved into
  // are empty (the old branch's, or ones already moved from), so no folder ends on the way.
  const std::size_t was = end - at - 1, now = moved.size();
  if (now > was) {
    items_.resize(items_.size() + (now - was));
    const auto first = items_.begin();
    std::move_backward(first + static_cast<std::ptrdiff_t>(end),
                       items_.end() - static_cast<std::ptrdiff_t>(now - was), items_.end());
  } else if (now < was) {
    const auto first = items_.begin();
    std::move(first + static_cast<std::ptrdiff_t>(end), items_.end(),
              first + static_cast<std::ptrdiff_t>(at + 1 + now));
    items_.resize(items_.size() - (was - now));
  }
  for (std::size_t j = 0; j < now; ++j) {
    moved[j]->ListHint = static_cast<std::uint32_t>(at + 1 + j);
    items_[at + 1 + j] = std::move(moved[j]);
  }
  // The index changes by the branch only, so that a refresh costs what the branch costs
  // whatever the size of the rest: the folders after it are renumbered where they are (one
  // pass over the buckets, no hashing, as cheap as the move above), and when the index
  // reached into the branch, the new folders join it.
  if (now != was && childCount_ > 0)
    for (std::uint32_t& b : children_)
      if (b != kFree && b >= end) b = static_cast<std::uint32_t>(b + now - was);
  if (indexed_ > at + 1) {
    for (std::size_t i = at + 1; i < at + 1 + now; ++i) Index(i);
    indexed_ = indexed_ >= end ? indexed_ - was + now : at + 1 + now;
  }
  if (keepBlocks) {
    // Some folders stay in the rescan's blocks: they are kept, and the room of those that
    // moved out is offered again.
    blocks_.Adopt(rescan.blocks_);
    for (void* slot : vacated)
      if (slot) free_.push_back(slot);
  } else {
    rescan.blocks_.Release();
  }
  rescan.free_.clear();
  rescan.children_.clear();
  rescan.childCount_ = 0;
  rescan.indexed_ = 1;
}

const DriveFields& DiskObject::Drive() const {
  static const DriveFields kNone;  // what an object without its own fields reads
  return drive_ ? *drive_ : kNone;
}

DriveFields& DiskObject::DriveForChange() {
  if (!drive_) drive_ = std::make_unique<DriveFields>();
  return *drive_;
}

void DiskObject::SetPath(std::string path) {
  if (path.empty() && !drive_) return;  // nothing to keep: no fields of its own for it
  DriveForChange().path_ = std::move(path);
}

std::string DiskObject::Path() const {
  const std::string& own = OwnPath();
  if (!own.empty() || !Parent) return own;
  // Walk up to the nearest object that holds its path; iterative, for very deep trees.
  std::vector<const DiskObject*> chain;
  std::size_t length = 0;
  const DiskObject* o = this;
  for (; o && o->OwnPath().empty(); o = o->Parent) {
    chain.push_back(o);
    length += o->Name.size() + 1;
  }
  std::string out;
  out.reserve((o ? o->OwnPath().size() : 0) + length);
  if (o) out = o->OwnPath();
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    out += (*it)->Name;
    out += '/';
  }
  return out;
}

FolderList& DiskObject::DiskObjects() {
  DriveFields& d = DriveForChange();
  if (!d.diskObjects_) d.diskObjects_ = std::make_unique<FolderList>();
  return *d.diskObjects_;
}

FileObjectList& DiskObject::LargestFiles() {
  DriveFields& d = DriveForChange();
  if (!d.largestFiles_) d.largestFiles_ = std::make_unique<FileObjectList>();
  return *d.largestFiles_;
}

HardLinkTable& DiskObject::HardLinks() {
  DriveFields& d = DriveForChange();
  if (!d.hardLinks_) d.hardLinks_ = std::make_shared<HardLinkTable>();
  return *d.hardLinks_;
}

HardLinkTable& DiskObject::HardLinksForChange() {
  DriveFields& d = DriveForChange();
  if (d.hardLinks_ && d.hardLinks_.use_count() > 1)
    d.hardLinks_ = std::make_shared<HardLinkTable>(*d.hardLinks_);
  return HardLinks();
}

void DiskObject::AdoptScan(DiskObject& result) {
  DriveFields& d = DriveForChange();
  DriveFields& r = result.DriveForChange();
  d.diskObjects_ = std::move(r.diskObjects_);
  d.largestFiles_ = std::move(r.largestFiles_);
  d.hardLinks_ = std::move(r.hardLinks_);
  d.LinkRule = r.LinkRule;
  d.ExcludeLines = std::move(r.ExcludeLines);
  d.CrossFileSystems = r.CrossFileSystems;
  d.HistoryFile = std::move(r.HistoryFile);
  d.Folder100 = std::move(r.Folder100);
  d.Files = std::move(r.Files);
  d.Smallest = r.Smallest;
  d.SmallestIndex = r.SmallestIndex;
  d.DeepestLevel = r.DeepestLevel;
  if (d.diskObjects_)
    for (const auto& f : *d.diskObjects_)
      if (f->Parent == &result) f->Parent = this;
  if (d.Folder100 && d.Folder100->Parent == &result) d.Folder100->Parent = this;
}

std::string DiskObject::Label() const {
  const std::string& path = OwnPath();
  if (Class == ObjectClass::Import) {
    const std::size_t slash = path.rfind('/');
    return Name + " (" + (slash == std::string::npos ? path : path.substr(slash + 1)) + ")";
  }
  if (Class == ObjectClass::Drive)
    return Name.empty() ? "(" + path + ")" : Name + " (" + path + ")";
  if (Class == ObjectClass::Root || Class == ObjectClass::Folder ||
      Class == ObjectClass::Folder100 || Class == ObjectClass::File ||
      Class == ObjectClass::Results)
    return Name.empty() ? Path() : Name;
  return {};
}

namespace {

// A drive's subclass and icon by its type code, valid codes 0..5 (see volumes.h).
constexpr const char* kDriveSub[] = {"Unknown", "Removable", "Fixed",
                                     "Network", "CD-ROM",    "RAM Disk"};
constexpr const char* kDriveIcon[] = {"HardDrive", "DisketteDrive", "HardDrive",
                                      "HardDrive", "CDDrive",       "HardDrive"};

}  // namespace

std::string DiskObject::SubClass() const {
  if (Class == ObjectClass::Drive) {
    const int t = Drive().DriveType;
    return t < 0 ? std::string() : kDriveSub[t];
  }
  return Class == ObjectClass::Import ? "Saved Scan" : "";
}

std::string DiskObject::ClosedIcon() const {
  switch (Class) {
    case ObjectClass::Drive: {
      const int t = Drive().DriveType;
      return t < 0 ? std::string() : kDriveIcon[t];
    }
    case ObjectClass::Import:
      return "SavedScan";
    case ObjectClass::Root:
      return "MyComputer";
    case ObjectClass::Folder:
    case ObjectClass::Folder100:
    case ObjectClass::Results:
      return "ClosedFolder";
    case ObjectClass::File:
      return "File";
    case ObjectClass::None:
      break;
  }
  return {};
}

std::string DiskObject::OpenIcon() const {
  switch (Class) {
    case ObjectClass::Folder:
    case ObjectClass::Folder100:
    case ObjectClass::Results:
      return "OpenFolder";
    case ObjectClass::Root:
      return {};
    default:
      return ClosedIcon();
  }
}

void DiskObject::SetSubClass(std::optional<int> driveType) {
  if (Class != ObjectClass::Drive || !driveType || *driveType < 0 || *driveType > 5) return;
  DriveForChange().DriveType = static_cast<std::int8_t>(*driveType);
}

namespace {

template <typename Object>
Object* NearestDrive(Object* object) {
  for (Object* o = object; o; o = o->Parent)
    if (IsDriveClass(o->Class)) return o;
  return nullptr;
}

}  // namespace

const DiskObject* DriveOf(const DiskObject* object) { return NearestDrive(object); }
DiskObject* DriveOf(DiskObject* object) { return NearestDrive(object); }

bool IsImported(const DiskObject* object) {
  const DiskObject* drive = DriveOf(object);
  const FileStore* files = drive ? drive->Drive().Files.get() : nullptr;
  return drive && (drive->Class == ObjectClass::Import || (files && files->FromFile));
}

std::string VolumeRootOf(const DiskObject* object) {
  const DiskObject* drive = DriveOf(object);
  if (!drive) return {};
  const std::string& folder = drive->Drive().RootFolder;
  std::string root = folder.empty() ? drive->Path() : folder;
  if (root.empty() || root.back() != '/') root += '/';
  return root;
}

}  // namespace kestrum
