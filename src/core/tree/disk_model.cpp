#include "core/tree/disk_model.h"

#include <algorithm>
#include <new>
#include <unordered_set>

namespace kestrum {

FolderList::FolderList() = default;
FolderList::~FolderList() = default;

std::size_t FolderList::ChildKeyHash::operator()(const ChildKey& k) const noexcept {
  const std::size_t h = std::hash<std::string_view>{}(k.name);
  return h ^ (std::hash<const void*>{}(k.parent) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
}

void FolderList::EndPlaced::operator()(DiskObject* o) const noexcept { o->~DiskObject(); }

DiskObject* FolderList::AddNew() {
  std::unique_ptr<DiskObject, EndPlaced> o(new (blocks_.Take(sizeof(DiskObject))) DiskObject());
  items_.push_back(std::move(o));  // if this throws, o still ends the object
  items_.back()->ListHint = items_.size() - 1;
  return items_.back().get();
}

DiskObject* FolderList::Add(std::unique_ptr<DiskObject> folder) {
  DiskObject* o = AddNew();
  *o = std::move(*folder);
  o->ListHint = items_.size() - 1;
  return o;
}

void FolderList::Index(DiskObject* folder) const {
  children_.try_emplace(ChildKey{folder->Parent, folder->Name}, folder);
}

DiskObject* FolderList::Find(std::string_view path) const {
  if (items_.empty()) return nullptr;
  // The root folder is found by position; its parent (the drive) changes when a finished
  // scan is handed over, so it stays out of the parent-and-name index.
  if (indexed_ < items_.size()) {
    children_.reserve(items_.size());
    for (; indexed_ < items_.size(); ++indexed_) Index(items_[indexed_].get());
  }
  DiskObject* at = items_.front().get();
  const std::string& rootPath = at->OwnPath();
  if (path.substr(0, rootPath.size()) != rootPath) return nullptr;
  path.remove_prefix(rootPath.size());
  while (!path.empty()) {
    const std::size_t slash = path.find('/');
    if (slash == 0 || slash == std::string_view::npos) return nullptr;
    const auto it = children_.find(ChildKey{at, path.substr(0, slash)});
    if (it == children_.end()) return nullptr;
    at = it->second;
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
  items_.clear();
  blocks_.Release();
  indexed_ = 1;
}

std::size_t FolderList::PositionOf(const DiskObject* folder) const {
  const std::size_t n = items_.size();
  if (!folder || n == 0) return 0;
  const std::size_t hint = std::min(folder->ListHint, n - 1);
  for (std::size_t d = 0; d <= hint || hint + d < n; ++d) {
    if (hint + d < n && items_[hint + d].get() == folder) return hint + d + 1;
    if (d > 0 && d <= hint && items_[hint - d].get() == folder) return hint - d + 1;
  }
  return 0;
}

void FolderList::Unindex(const DiskObject* folder) const {
  const auto it = children_.find(ChildKey{folder->Parent, folder->Name});
  if (it != children_.end() && it->second == folder) children_.erase(it);
}

std::size_t FolderList::RemoveBranch(const DiskObject* folder,
                                     std::unordered_set<const DiskObject*>* removed) {
  std::unordered_set<const DiskObject*> own;
  std::unordered_set<const DiskObject*>& gone = removed ? *removed : own;
  std::vector<std::unique_ptr<DiskObject, EndPlaced>> kept;
  kept.reserve(items_.size());
  // The index keeps its other entries: those of the folders that go leave it (while their
  // names still live), and the indexed front shrinks by those of them it held.
  std::size_t indexed = 0;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    auto& item = items_[i];
    if (item.get() == folder || (item->Parent && gone.count(item->Parent))) {
      gone.insert(item.get());
      if (i < indexed_) Unindex(item.get());
    } else {
      if (i < indexed_) ++indexed;
      kept.push_back(std::move(item));
    }
  }
  if (gone.empty()) return 0;
  indexed_ = std::max<std::size_t>(indexed, 1);
  items_ = std::move(kept);
  return gone.size();
}

void FolderList::ReplaceBranch(DiskObject* folder, FolderList& rescan,
                               std::unordered_set<const DiskObject*>* removed) {
  const std::size_t position = PositionOf(folder);
  if (position == 0) return;
  const std::size_t at = position - 1;
  // Creation order is depth first: the folder's descendants follow it, up to the first
  // folder that is not deeper.
  std::size_t end = at + 1;
  while (end < items_.size() && items_[end]->Level > folder->Level) ++end;
  for (std::size_t i = at + 1; i < end; ++i) {
    if (removed) removed->insert(items_[i].get());
    if (i < indexed_) Unindex(items_[i].get());
    items_[i].reset();
  }
  const DiskObject* newTop = rescan.items_.empty() ? nullptr : rescan.items_.front().get();
  const std::int32_t shift = folder->Level - 1;
  std::vector<std::unique_ptr<DiskObject, EndPlaced>> moved;
  if (!rescan.items_.empty()) {
    moved.reserve(rescan.items_.size() - 1);
    for (std::size_t i = 1; i < rescan.items_.size(); ++i) {
      DiskObject* f = rescan.items_[i].get();
      if (f->Parent == newTop) f->Parent = folder;
      f->Level += shift;
      moved.push_back(std::move(rescan.items_[i]));
    }
    rescan.items_.clear();  // ends its first folder, whose block is adopted below
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
    moved[j]->ListHint = at + 1 + j;
    items_[at + 1 + j] = std::move(moved[j]);
  }
  // The index changes by the branch only, so that a refresh costs what the branch costs
  // whatever the size of the rest: when it reached into the branch, the new folders join it.
  if (indexed_ > at + 1) {
    for (std::size_t i = at + 1; i < at + 1 + now; ++i) Index(items_[i].get());
    indexed_ = indexed_ >= end ? indexed_ - was + now : at + 1 + now;
  }
  blocks_.Adopt(rescan.blocks_);
  rescan.children_.clear();
  rescan.indexed_ = 1;
}

std::string DiskObject::Path() const {
  if (!path_.empty() || !Parent) return path_;
  // Walk up to the nearest object that holds its path; iterative, for very deep trees.
  std::vector<const DiskObject*> chain;
  std::size_t length = 0;
  const DiskObject* o = this;
  for (; o && o->path_.empty(); o = o->Parent) {
    chain.push_back(o);
    length += o->Name.size() + 1;
  }
  std::string out;
  out.reserve((o ? o->path_.size() : 0) + length);
  if (o) out = o->path_;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    out += (*it)->Name;
    out += '/';
  }
  return out;
}

FolderList& DiskObject::DiskObjects() {
  if (!diskObjects_) diskObjects_ = std::make_unique<FolderList>();
  return *diskObjects_;
}

FileObjectList& DiskObject::LargestFiles() {
  if (!largestFiles_) largestFiles_ = std::make_unique<FileObjectList>();
  return *largestFiles_;
}

HardLinkTable& DiskObject::HardLinks() {
  if (!hardLinks_) hardLinks_ = std::make_shared<HardLinkTable>();
  return *hardLinks_;
}

HardLinkTable& DiskObject::HardLinksForChange() {
  if (hardLinks_ && hardLinks_.use_count() > 1)
    hardLinks_ = std::make_shared<HardLinkTable>(*hardLinks_);
  return HardLinks();
}

void DiskObject::AdoptScan(DiskObject& result) {
  diskObjects_ = std::move(result.diskObjects_);
  largestFiles_ = std::move(result.largestFiles_);
  hardLinks_ = std::move(result.hardLinks_);
  LinkRule = result.LinkRule;
  Folder100 = std::move(result.Folder100);
  Files = std::move(result.Files);
  Smallest = result.Smallest;
  SmallestIndex = result.SmallestIndex;
  DeepestLevel = result.DeepestLevel;
  if (diskObjects_)
    for (const auto& f : *diskObjects_)
      if (f->Parent == &result) f->Parent = this;
  if (Folder100 && Folder100->Parent == &result) Folder100->Parent = this;
}

std::string DiskObject::Label() const {
  if (Class == ObjectClass::Import) {
    const std::size_t slash = path_.rfind('/');
    return Name + " (" + (slash == std::string::npos ? path_ : path_.substr(slash + 1)) + ")";
  }
  if (Class == ObjectClass::Drive)
    return Name.empty() ? "(" + path_ + ")" : Name + " (" + path_ + ")";
  if (Class == ObjectClass::Root || Class == ObjectClass::Folder ||
      Class == ObjectClass::Folder100 || Class == ObjectClass::File)
    return Name.empty() ? Path() : Name;
  return {};
}

void DiskObject::SetSubClass(std::optional<int> driveType) {
  if (Class == ObjectClass::Drive) {
    if (!driveType) return;
    static constexpr const char* kSub[] = {"Unknown", "Removable", "Fixed",
                                           "Network", "CD-ROM",    "RAM Disk"};
    static constexpr const char* kIcon[] = {"HardDrive", "DisketteDrive", "HardDrive",
                                            "HardDrive", "CDDrive",       "HardDrive"};
    const int t = *driveType;
    if (t < 0 || t > 5) return;
    SubClass = kSub[t];
    ClosedIcon = OpenIcon = kIcon[t];
  } else if (Class == ObjectClass::Import) {
    SubClass = "Saved Scan";
    ClosedIcon = OpenIcon = "SavedScan";
  } else if (Class == ObjectClass::Root) {
    ClosedIcon = "MyComputer";
  } else if (Class == ObjectClass::Folder || Class == ObjectClass::Folder100) {
    ClosedIcon = "ClosedFolder";
    OpenIcon = "OpenFolder";
  } else if (Class == ObjectClass::File) {
    ClosedIcon = OpenIcon = "File";
  }
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
  return drive && (drive->Class == ObjectClass::Import || (drive->Files && drive->Files->FromFile));
}

std::string VolumeRootOf(const DiskObject* object) {
  const DiskObject* drive = DriveOf(object);
  if (!drive) return {};
  std::string root = drive->RootFolder.empty() ? drive->Path() : drive->RootFolder;
  if (root.empty() || root.back() != '/') root += '/';
  return root;
}

}  // namespace kestrum
