#include "core/model/disk_model.h"

namespace kestrum {

DiskObjectList& DiskObject::DiskObjects() {
  if (!diskObjects_) diskObjects_ = std::make_unique<DiskObjectList>();
  return *diskObjects_;
}

FileObjectList& DiskObject::LargestFiles() {
  if (!largestFiles_) largestFiles_ = std::make_unique<FileObjectList>();
  return *largestFiles_;
}

void DiskObject::DropScan() {
  Folder100.reset();
  diskObjects_.reset();
}

void DiskObject::AdoptScan(DiskObject& result) {
  diskObjects_ = std::move(result.diskObjects_);
  largestFiles_ = std::move(result.largestFiles_);
  Folder100 = std::move(result.Folder100);
  Smallest = result.Smallest;
  SmallestIndex = result.SmallestIndex;
  DeepestLevel = result.DeepestLevel;
  if (diskObjects_)
    for (const auto& f : *diskObjects_)
      if (f->Parent == &result) f->Parent = this;
  if (Folder100 && Folder100->Parent == &result) Folder100->Parent = this;
}

std::string DiskObject::Label() const {
  if (Class == "Drive") return Name.empty() ? "(" + Path + ")" : Name + " (" + Path + ")";
  if (Class == "Root" || Class == "Folder" || Class == "Folder100" || Class == "File")
    return Name.empty() ? Path : Name;
  return {};
}

void DiskObject::SetSubClass(std::optional<int> driveType) {
  if (Class == "Drive") {
    if (!driveType) return;
    static constexpr const char* kSub[] = {"Unknown", "Removable", "Fixed",
                                           "Network", "CD-ROM",    "RAM Disk"};
    static constexpr const char* kIcon[] = {"HardDrive", "DisketteDrive", "HardDrive",
                                            "HardDrive", "CDDrive",       "HardDrive"};
    const int t = *driveType;
    if (t < 0 || t > 5) return;
    SubClass = kSub[t];
    ClosedIcon = OpenIcon = kIcon[t];
  } else if (Class == "Root") {
    ClosedIcon = "MyComputer";
  } else if (Class == "Folder" || Class == "Folder100") {
    ClosedIcon = "ClosedFolder";
    OpenIcon = "OpenFolder";
  } else if (Class == "File") {
    ClosedIcon = OpenIcon = "File";
  }
}

}  // namespace kestrum
