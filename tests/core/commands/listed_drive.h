#pragma once
#include <string>

#include "core/adapter/explorer.h"
#include "core/adapter/list_data.h"

namespace kestrum::test {

// A drive "/v" with its root folder, one subfolder (named subName) holding another (named
// deepName), and the largest-files folder, as the tree and the model hold them after a scan;
// rows are added to the list by hand, as a listing would.
struct ListedDrive {
  CExplorer ex;
  ListData list;
  DiskObject computer, drive, root, sub, deep, folder100;
  NodeId nComputer, nDrive, nRoot, nSub, nDeep, n100;

  explicit ListedDrive(const std::string& subName = "sub \"q\"\n\xff",
                       const std::string& deepName = "deep") {
    ex.Init(&list);
    computer.Class = ObjectClass::Root;
    computer.SetPath("My Computer");
    drive.Class = ObjectClass::Drive;
    drive.SetPath("/v");
    drive.DriveForChange().RootFolder = "/v/";
    drive.Parent = &computer;
    root.Class = ObjectClass::Folder;
    root.RootDirectory = true;
    root.SetPath("/v/");
    root.Parent = &drive;
    sub.Class = ObjectClass::Folder;
    sub.Name = subName;
    sub.Parent = &root;
    deep.Class = ObjectClass::Folder;
    deep.Name = deepName;
    deep.Parent = &sub;
    folder100.Class = ObjectClass::Folder100;
    folder100.Name = "100 Largest Files";
    folder100.SetPath("/v/100 Largest Files/");
    folder100.Parent = &root;
    nComputer = ex.AddNode("My Computer", &computer, false);
    nDrive = ex.AddNode("(/v)", &drive, false, nComputer);
    nRoot = ex.AddNode("/v/", &root, false, nDrive);
    nSub = ex.AddNode(sub.Name, &sub, false, nRoot);
    nDeep = ex.AddNode(deep.Name, &deep, false, nSub);
    n100 = ex.AddNode("100 Largest Files", &folder100, false, nRoot);
  }

  void Row(const std::string& text, RowTag tag, bool selected = true, std::string key = {}) {
    ListRow r;
    r.Text = text;
    r.Tag = std::move(tag);
    r.Selected = selected;
    r.Key = std::move(key);
    list.Add(std::move(r));
  }
};

}  // namespace kestrum::test
