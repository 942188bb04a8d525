// The report of a tree and the report of its saved scan: what the export writes and the import
// reads back must say what the scan says.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "core/app/report_text.h"
#include "core/saved/json_export.h"
#include "core/saved/json_import.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/imported_files.h"
#include "core/tree/summary.h"
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
  drive.RootFolder = root + "/";
  drive.AllocationUnit = 4096;
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

// Fails to open one folder name, as a folder without read permission does for a user.
class Unreadable : public DirectoryReader {
 public:
  int OpenAt(int dirFd, const char* name) override {
    if (std::string(name) == "locked") {
      errno = EACCES;
      return -1;
    }
    return DirectoryReader::OpenAt(dirFd, name);
  }
};

struct Imported {
  bool Ok;
  std::string Message;
  std::unique_ptr<DiskObject> Drive = std::make_unique<DiskObject>();
};

Imported Import(const std::string& file, HardLinkRule links = HardLinkRule::Once) {
  Imported out;
  std::int32_t keys = 0;
  ImportError error;
  ImportOptions options;
  options.Links = links;
  out.Ok = ImportScan(file, *out.Drive, keys, error, options);
  out.Message = error.Message;
  return out;
}

std::string Export(const std::string& root, DirectoryReader* reader = nullptr) {
  std::string text, error;
  ExportOptions options;
  options.Reader = reader;
  Scanning = true;
  const bool ok = ExportTree(
      root,
      [&text](std::string_view piece) {
        text.append(piece);
        return true;
      },
      error, options);
  Scanning = false;
  EXPECT_TRUE(ok) << error;
  return text;
}

// Export, then import: every folder line, largest file and total is the scan's, for names
// of any bytes, links, unreadable folders and deep chains.
TEST(SavedReport, ExportThenImportGivesTheScansLines) {
  TempDir t;
  const std::string root = t.Mkdir("tree");
  t.Write("tree/a/one", std::string(5000, 'x'));
  t.Write("tree/a/b/two", std::string(70000, 'y'));
  t.Write("tree/" + std::string("q\"uo\\te\nnl\ttab\x01\x7f"), "12");
  t.Write("tree/" + std::string("bad\xff\xfename"), "123");
  t.Write("tree/locked/hidden", "never read");
  t.Write("tree/empty/.keep", "");
  ASSERT_EQ(::link((root + "/a/one").c_str(), (root + "/a/b/one-again").c_str()), 0);
  ASSERT_EQ(::symlink("a/one", (root + "/link").c_str()), 0);
  ASSERT_EQ(::mkfifo((root + "/fifo").c_str(), 0644), 0);
  Chain(t.Mkdir("tree/deep"), 300);
  Unreadable reader;
  const std::string text = Export(root, &reader);
  EXPECT_EQ(text.compare(0, 7, "[1,2,{\""), 0);
  const std::size_t locked = text.find("{\"name\":\"locked\"");
  EXPECT_EQ(text.find("\"read_error\":true}", locked), text.find('}', locked) - 17);
  EXPECT_NE(text.find("\"name\":\"q\\\"uo\\\\te\\nnl\\ttab\\u0001\\u007f\""), std::string::npos);
  EXPECT_NE(text.find("\"name\":\"bad\xff\xfename\""), std::string::npos);
  EXPECT_NE(text.find("{\"name\":\"link\",\"notreg\":true}"), std::string::npos);
  EXPECT_NE(text.find("\"nlink\":2"), std::string::npos);
  const std::string file = t.Write("scan.json", text);
  const Imported each = Import(file, HardLinkRule::Each);
  ASSERT_TRUE(each.Ok) << each.Message;
  EXPECT_EQ(Lines(*each.Drive), ScanLines(root, &reader));
  EXPECT_EQ(each.Drive->DeepestLevel, 302);  // tree, deep and 300 d's

  // Once: the second name of "one" counts nothing and is marked, as the scan counts it.
  const Imported once = Import(file, HardLinkRule::Once);
  ASSERT_TRUE(once.Ok);
  EXPECT_EQ(Lines(*once.Drive), ScanLines(root, &reader, HardLinkRule::Once));
  EXPECT_EQ(once.Drive->UsedSpace, each.Drive->UsedSpace - 5000);
  const ImportedFiles& files = *once.Drive->Imported;
  std::vector<std::string> elsewhere;
  std::size_t count = 0;
  for (const auto& folder : once.Drive->DiskObjects())
    for (std::uint64_t i = files.First(folder.get()); i != ImportedFiles::kEnd; ++count) {
      const ImportedFile f = files.At(i);
      if (f.CountedElsewhere) elsewhere.push_back(folder->Path() + std::string(f.Name));
      i = f.Next;
    }
  EXPECT_EQ(count, files.Count());
  EXPECT_EQ(elsewhere, std::vector<std::string>{root + "/a/b/one-again"});
}

}  // namespace
}  // namespace kestrum
