// The report of a tree and the report of its saved scan: what the export writes and the import
// reads back must say what the scan says.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/app/report_text.h"
#include "core/saved/json_export.h"
#include "core/saved/json_import.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/file_store.h"
#include "core/tree/summary.h"
#include "core/saved/saved_support.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

// The report's lines without the drive line, which differs by nature (device, free space).
std::string Lines(const DiskObject& drive) {
  std::string out;
  FormatReport(drive, out);
  return out.substr(out.find('\n') + 1);
}

std::string ScanLines(const std::string& root, DirectoryReader* reader = nullptr,
                      HardLinkRule links = HardLinkRule::Each) {
  DiskObject drive;
  drive.Class = ObjectClass::Drive;
  drive.DriveForChange().RootFolder = root + "/";
  drive.DriveForChange().AllocationUnit = 4096;
  std::int32_t keys = 0;
  ScanOptions options;
  options.Threads = 1;
  options.Reader = reader;
  options.Links = links;
  Scanning = true;
  ScanDrive(drive, keys, options);
  Scanning = false;
  SummarizeSizes(drive);
  return Lines(drive);
}

// Makes a chain of depth folders named "d" under folder, without recursing.
void Chain(const std::string& folder, int depth) {
  int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  for (int i = 0; i < depth; ++i) {
    ASSERT_EQ(::mkdirat(fd, "d", 0755), 0);
    const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY);
    ::close(fd);
    fd = next;
  }
  ::write(::openat(fd, "leaf", O_CREAT | O_WRONLY, 0644), "xyz", 3);
  ::close(fd);
}

// A folder "locked" that cannot be opened, and a folder "noenter" that may be read but not
// entered: its names are listed and none can be stated, as a folder of mode r-- is for a
// user (root passes through both, so the reader stands in for the permissions).
class Unreadable : public DirectoryReader {
 public:
  int OpenAt(int dirFd, const char* name) override {
    if (std::string(name) == "locked") {
      errno = EACCES;
      return -1;
    }
    return DirectoryReader::OpenAt(dirFd, name);
  }
  int StatAt(int dirFd, const char* name, struct stat& out) override {
    struct stat self {};
    if (::fstat(dirFd, &self) == 0 && self.st_ino == noEnter && self.st_dev == noEnterDev) {
      errno = EACCES;
      return -1;
    }
    return DirectoryReader::StatAt(dirFd, name, out);
  }
  ino_t noEnter = 0;
  dev_t noEnterDev = 0;
};

// A small file system mounted on a folder of the tree while the test runs, where the system
// lets the test mount one.
class Mounted {
 public:
  explicit Mounted(const std::string& at) : at_(at) {
    ok_ = ::mount("kestrum-test", at.c_str(), "tmpfs", 0, "size=1m") == 0;
  }
  ~Mounted() {
    if (ok_) ::umount2(at_.c_str(), MNT_DETACH);
  }
  bool Ok() const { return ok_; }

 private:
  std::string at_;
  bool ok_ = false;
};

// Whether the folder of this path (as the report writes it) keeps its expander.
bool Expands(const DiskObject& drive, const std::string& path) {
  bool found = false;
  drive.DiskObjectsIfAny()->ForEachWithPath([&](const DiskObject& f, const std::string& p) {
    if (p == path) found = f.Children;
  });
  return found;
}

using test::Export;
using test::Import;
using test::Imported;

// Export, then import: every folder line, largest file and total is the scan's, for names
// of any bytes, links across folders, folders that cannot be opened or entered, a mount point
// and a deep chain; a folder the scan could not read whole is written with read_error and
// keeps its expander in both.
TEST(SavedReport, ExportThenImportGivesTheScansLines) {
  TempDir t;
  const std::string root = t.Mkdir("tree");
  t.Write("tree/a/one", std::string(5000, 'x'));
  t.Write("tree/a/b/two", std::string(70000, 'y'));
  t.Write("tree/" + std::string("q\"uo\\te\nnl\ttab\x01\x7f"), "12");
  t.Write("tree/" + std::string("bad\xff\xfename"), "123");
  t.Write("tree/locked/hidden", "never read");
  t.Write("tree/noenter/listed", "named, never stated");
  t.Mkdir("tree/noenter/sub");
  t.Write("tree/empty/.keep", "");
  ASSERT_EQ(::link((root + "/a/one").c_str(), (root + "/a/b/one-again").c_str()), 0);
  // A root file's second name in a subfolder listed first: the root's own files count first.
  t.Write("tree/z-root", std::string(9000, 'z'));
  ASSERT_EQ(::link((root + "/z-root").c_str(), (root + "/a/z-again").c_str()), 0);
  ASSERT_EQ(::symlink("a/one", (root + "/link").c_str()), 0);
  ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0644), 0);
  Chain(t.Mkdir("tree/deep"), 300);
  const Mounted mount(t.Mkdir("tree/mnt"));
  if (mount.Ok()) t.Write("tree/mnt/elsewhere", std::string(3000, 'm'));
  struct stat ne {};
  ASSERT_EQ(::stat((root + "/noenter").c_str(), &ne), 0);
  ::chmod((root + "/noenter").c_str(), 0555 & ~0111);
  Unreadable reader;
  reader.noEnter = ne.st_ino;
  reader.noEnterDev = ne.st_dev;

  const std::string text = Export(root, &reader);
  EXPECT_EQ(text.compare(0, 7, "[1,2,{\""), 0);
  for (const std::string name : {"locked", "noenter"}) {
    const std::size_t at = text.find("{\"name\":\"" + name + "\"");
    EXPECT_EQ(text.find("\"read_error\":true}", at), text.find('}', at) - 17) << name;
  }
  EXPECT_NE(text.find("\"name\":\"q\\\"uo\\\\te\\nnl\\ttab\\u0001\\u007f\""), std::string::npos);
  EXPECT_NE(text.find("\"name\":\"bad\xff\xfename\""), std::string::npos);
  EXPECT_NE(text.find("{\"name\":\"link\",\"notreg\":true}"), std::string::npos);
  EXPECT_NE(text.find("\"nlink\":2"), std::string::npos);
  if (mount.Ok()) {
    EXPECT_NE(text.find("{\"name\":\"mnt\",\"excluded\":\"othfs\"}"), std::string::npos);
  }
  const std::string file = t.Write("scan.json", text);

  for (const HardLinkRule links : {HardLinkRule::Each, HardLinkRule::Once}) {
    const Imported imported = Import(file, links);
    ASSERT_TRUE(imported.Ok) << imported.Message;
    EXPECT_EQ(Lines(*imported.Drive), ScanLines(root, &reader, links));
    EXPECT_EQ(imported.Drive->Drive().DeepestLevel, 302);  // tree, deep and 300 d's
    EXPECT_TRUE(Expands(*imported.Drive, root + "/noenter/"));
    EXPECT_TRUE(Expands(*imported.Drive, root + "/locked/"));
  }
  ::chmod((root + "/noenter").c_str(), 0755);
}

// Once, an import marks the further names of a linked file as counted elsewhere, as the scan
// counts them.
TEST(SavedReport, FurtherNamesOfALinkedFileAreMarked) {
  TempDir t;
  const std::string root = t.Mkdir("tree");
  t.Write("tree/a/one", std::string(5000, 'x'));
  ASSERT_EQ(::link((root + "/a/one").c_str(), (root + "/a/b-again").c_str()), 0);
  t.Mkdir("tree/a/b");
  ASSERT_EQ(::link((root + "/a/one").c_str(), (root + "/a/b/one-again").c_str()), 0);
  const std::string file = t.Write("scan.json", Export(root));
  const Imported once = Import(file, HardLinkRule::Once);
  const Imported each = Import(file, HardLinkRule::Each);
  ASSERT_TRUE(once.Ok && each.Ok);
  EXPECT_EQ(once.Drive->UsedSpace, each.Drive->UsedSpace - 10000);
  const FileStore& files = *once.Drive->Drive().Files;
  std::vector<std::string> elsewhere;
  std::size_t count = 0;
  for (const auto& folder : once.Drive->DiskObjects())
    files.ForEach(folder->FilesAt, [&](const StoredEntry& f) {
      ++count;
      if (f.CountedElsewhere) elsewhere.push_back(folder->Path() + std::string(f.Name));
    });
  EXPECT_EQ(count, files.Count());
  EXPECT_EQ(elsewhere, (std::vector<std::string>{root + "/a/b-again", root + "/a/b/one-again"}));
}

// The report's folder lines alone (the largest files' keys follow the order the file lists
// files in, which a peer may interleave with subfolders).
std::string FolderLines(const std::string& lines) {
  std::istringstream in(lines);
  std::string out;
  for (std::string line; std::getline(in, line);)
    if (line.rfind("folder\t", 0) == 0) out += line + "\n";
  return out;
}

// Runs a peer's export of root into file; false where the peer is missing or fails.
bool PeerExport(const std::string& command) { return std::system(command.c_str()) == 0; }

// ncdu and gdu write a folder's files and subfolders in the directory's order (gdu its
// subfolders as its threads finish them); an import counts linked files by the scan's rule all
// the same: a folder's own files first, then its subfolders depth first. ncdu's folder lines
// are then the scan's; gdu's totals are.
TEST(SavedReport, PeersExportsCountLinksByTheScansRule) {
  TempDir t;
  const std::string root = t.Mkdir("tree");
  // Twenty files of the root, each with a second name in a subfolder; then folders that link
  // into each other, listed in whatever order the directory keeps.
  t.Mkdir("tree/sub");
  for (int i = 1; i <= 20; ++i) {
    const std::string a = t.Write("tree/a" + std::to_string(i), std::string(1000, 'a'));
    ASSERT_EQ(::link(a.c_str(), (root + "/sub/b" + std::to_string(i)).c_str()), 0);
  }
  std::uint32_t seed = 7;
  const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  std::vector<std::string> folders{"tree"};
  for (int i = 0; i < 40; ++i)
    folders.push_back(t.Mkdir(folders[next() % folders.size()] + "/f" + std::to_string(i))
                          .substr(t.Path().size() + 1));
  for (int i = 0; i < 60; ++i) {
    const std::string a = t.Write(folders[next() % folders.size()] + "/x" + std::to_string(i),
                                  std::string(100 + i, 'x'));
    const std::string b =
        t.Path() + "/" + folders[next() % folders.size()] + "/y" + std::to_string(i);
    ASSERT_EQ(::link(a.c_str(), b.c_str()), 0);
  }
  const std::string scanned = ScanLines(root, nullptr, HardLinkRule::Once);
  const std::string ncdu = t.Path() + "/ncdu.json", gdu = t.Path() + "/gdu.json";
  if (PeerExport("ncdu -0 -x -o '" + ncdu + "' '" + root + "' >/dev/null 2>&1")) {
    const Imported imported = Import(ncdu);
    ASSERT_TRUE(imported.Ok) << imported.Message;
    EXPECT_EQ(FolderLines(Lines(*imported.Drive)), FolderLines(scanned));
  } else {
    std::printf("ncdu is missing or failed: its export is not compared\n");
  }
  if (PeerExport("gdu -n -o '" + gdu + "' '" + root + "' >/dev/null 2>&1")) {
    const Imported imported = Import(gdu);
    ASSERT_TRUE(imported.Ok) << imported.Message;
    // The root's line: its path, level, then its total bytes.
    const std::string rootLine = scanned.substr(0, scanned.find('\n'));
    std::istringstream fields(rootLine);
    std::string field;
    for (int i = 0; i < 4; ++i) std::getline(fields, field, '\t');
    EXPECT_EQ(imported.Drive->DiskObjects().Item(1)->UsedSpace, std::stod(field)) << rootLine;
  } else {
    std::printf("gdu is missing or failed: its export is not compared\n");
  }

  // A crafted file that lists a folder's linked file after its subfolder holding the other
  // name: the folder's own file counts, as a scan counts it.
  const std::string crafted = t.Write(
      "crafted.json",
      "[1,2,{},[{\"name\":\"/r\"},"
      "[{\"name\":\"s\"},{\"name\":\"later\",\"asize\":700,\"ino\":9,\"nlink\":2}],"
      "{\"name\":\"own\",\"asize\":700,\"ino\":9,\"nlink\":2}]]");
  const Imported c = Import(crafted);
  ASSERT_TRUE(c.Ok) << c.Message;
  EXPECT_EQ(c.Drive->DiskObjects().Item(1)->fUsedSpace, 700);
  EXPECT_EQ(c.Drive->DiskObjects().Item(2)->fUsedSpace, 0);
  ASSERT_EQ(c.Drive->LargestFiles().Count(), 1u);
  EXPECT_EQ(c.Drive->LargestFiles().Item(1)->Name, "/r/own");
}

}  // namespace
}  // namespace kestrum
