#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

#include "core/tree/imported_files.h"
#include "core/saved/json_export.h"
#include "core/saved/json_import.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

const std::string kData = std::string(KESTRUM_TEST_DATA) + "/saved_scans/";

// What a drive's report says of it but for the drive line, which differs by nature (device,
// free space): every folder's figures and the largest files.
std::string Lines(const DiskObject& drive) {
  std::ostringstream out;
  if (const auto* folders = drive.DiskObjectsIfAny())
    folders->ForEachWithPath([&](const DiskObject& f, const std::string& path) {
      out << path << ' ' << f.Level << ' ' << f.UsedSpace << ' ' << f.AllocatedSpace << ' '
          << f.FileCount << ' ' << f.FolderCount << ' ' << f.fUsedSpace << ' '
          << f.fAllocatedSpace << ' ' << f.fFileCount << ' ' << f.fFolderCount << '\n';
    });
  if (const auto* largest = drive.LargestFilesIfAny())
    for (const auto& e : *largest)
      out << e->key << ' ' << e->Size << ' ' << e->Allocated << ' ' << e->Name << '\n';
  return out.str();
}

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

// Clears Scanning at the tenth folder it opens, as Stop does.
class Stopper : public DirectoryReader {
 public:
  std::atomic<int> opened{0};
  int OpenAt(int dirFd, const char* name) override {
    if (++opened == 10) Scanning = false;
    return DirectoryReader::OpenAt(dirFd, name);
  }
};

// A stopped export, and one whose target cannot be written, leave no file; a finished one
// replaces an earlier file of its name.
TEST(SavedScan, OnlyAFinishedExportLeavesAFile) {
  TempDir t;
  const std::string root = t.Mkdir("tree");
  for (int i = 0; i < 40; ++i) t.Write("tree/d" + std::to_string(i) + "/f", "x");
  const std::string target = t.Write("out/scan.json", "earlier");
  Stopper stopper;
  ExportOptions options;
  options.Reader = &stopper;
  std::string error;
  Scanning = true;
  EXPECT_FALSE(ExportToFile(root, target, error, options));
  EXPECT_EQ(error, "stopped");
  EXPECT_EQ(test::Slurp(target), "earlier");
  EXPECT_EQ(test::Names(t.Path() + "/out"), std::set<std::string>{"scan.json"});
  Scanning = true;
  EXPECT_FALSE(ExportToFile(root, t.Path() + "/missing/scan.json", error));
  EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
  Scanning = true;
  ASSERT_TRUE(ExportToFile(root, target, error)) << error;
  Scanning = false;
  const Imported r = Import(target);
  ASSERT_TRUE(r.Ok) << r.Message;
  EXPECT_EQ(r.Drive->DiskObjects().Item(1)->FolderCount, 40);
}

// ncdu 1.18 and gdu 5.22 wrote these of one tree (three names of one file, a link, a name
// that is not UTF-8): both give the same totals, by either rule.
TEST(SavedScan, ReadsNcduAndGduAlike) {
  struct Case {
    const char* file;
    HardLinkRule links;
    double used, allocated;
    std::int32_t files;
  };
  const Case cases[] = {
      {"ncdu-1.18.json", HardLinkRule::Once, 5009, 20480, 6},
      {"gdu-5.22.json", HardLinkRule::Once, 5009, 20480, 6},
      {"ncdu-1.18.json", HardLinkRule::Each, 5021, 28672, 6},
      {"gdu-5.22.json", HardLinkRule::Each, 5021, 28672, 6},
  };
  for (const Case& c : cases) {
    const Imported r = Import(kData + c.file, c.links);
    ASSERT_TRUE(r.Ok) << c.file << ": " << r.Message;
    const DiskObject& root = *r.Drive->DiskObjects().Item(1);
    EXPECT_EQ(root.OwnPath(), "/srv/t/") << c.file;
    EXPECT_EQ(root.UsedSpace, c.used) << c.file;
    EXPECT_EQ(root.AllocatedSpace, c.allocated) << c.file;
    EXPECT_EQ(root.FileCount, c.files) << c.file;
    EXPECT_EQ(root.FolderCount, 3) << c.file;
  }
  // ncdu keeps a name's bytes; gdu wrote U+FFFD for them.
  const Imported n = Import(kData + "ncdu-1.18.json");
  bool raw = false;
  for (const auto& f : n.Drive->LargestFiles()) raw |= f->Name == "/srv/t/bad\xffname";
  EXPECT_TRUE(raw);
}

TEST(SavedScan, RefusesDamagedFilesWithWhereAndWhy) {
  const std::string head = "[1,2,{\"progname\":\"x\"},\n[{\"name\":\"/r\"},";
  struct Case {
    std::string text, why;
    std::string at;  // the text at the reported offset
  };
  const Case cases[] = {
      {head + "{\"name\":\"a\",\"asize\":1}", "cut short", ""},
      {"hello", "it is not a JSON export", "hello"},
      {"[2,0,{},[{\"name\":\"/r\"}]]", "major version 2 is not 1", "2,0"},
      {head + "{\"name\":\"a\",\"asize\":-1}]]", "asize is negative", "-1"},
      {head + "{\"name\":\"a\",\"dsize\":99999999999999999999}]]", "dsize is out of range",
       "99999999999999999999}"},
      {head + "{\"name\":\"a\",\"asize\":1.5}]]", "not a whole number", "1.5"},
      {head + "{\"name\":\"a\\q\"}]]", "an invalid escape", "\\q"},
      {head + "{\"name\":\"a\\ud800\"}]]", "lone surrogate", "\\ud800"},
      {head + "{\"name\":\"\"}]]", "an empty name", "{\"name\":\"\"}"},
      {head + "{\"name\":\"a/b\"}]]", "holds a \"/\"", "{\"name\":\"a/b\"}"},
      {head + "{\"name\":\"..\"}]]", "the name \"..\"", "{\"name\":\"..\"}"},
      {head + "{\"name\":\"a\"},[{\"name\":\"a\"}]]]", "a second entry of the name \"a\"",
       "[{\"name\":\"a\"}]]]"},
      {head + "[{\"name\":\"d\"},{\"name\":\"x\"}]", "cut short", ""},
      {head + "{\"name\":\"a\"}]] x", "data after the end", "x"},
      {head + "{\"name\":\"a\",\"asize\":\"1\"}]]", "asize is not a number", "\"1\""},
      {head + "{\"name\":\"a\" \"asize\":1}]]", "not JSON", "\"asize\""},
  };
  TempDir t;
  for (const Case& c : cases) {
    const std::string file = t.Write("bad.json", c.text);
    const Imported r = Import(file);
    EXPECT_FALSE(r.Ok) << c.text;
    EXPECT_NE(r.Message.find(file), std::string::npos) << r.Message;
    EXPECT_NE(r.Message.find(c.why), std::string::npos) << c.text << " -> " << r.Message;
    const std::size_t offset = c.at.empty() ? c.text.size() : c.text.rfind(c.at);
    EXPECT_NE(r.Message.find("at byte " + std::to_string(offset) + ":"), std::string::npos)
        << c.text << " -> " << r.Message;
    // Nothing half-built is left.
    EXPECT_EQ(r.Drive->DiskObjectsIfAny() ? r.Drive->DiskObjectsIfAny()->Count() : 0u, 0u);
    EXPECT_FALSE(r.Drive->Imported);
  }
  const Imported binary = Import(t.Write("bin.ncdu", std::string("\xbfncduEX1\x01\x02", 10)));
  EXPECT_FALSE(binary.Ok);
  EXPECT_NE(binary.Message.find("ncdu -f"), std::string::npos) << binary.Message;
  EXPECT_FALSE(Import(t.Path() + "/missing.json").Ok);
}

TEST(SavedScan, ReadsGzipAndZstdAsPlain) {
  const std::string plain = test::Slurp(kData + "ncdu-1.18.json");
  TempDir t;
  const std::string gz = t.Path() + "/scan.json.gz";
  gzFile g = gzopen(gz.c_str(), "wb");
  // Two members, as concatenated gzip files are.
  gzwrite(g, plain.data(), static_cast<unsigned>(plain.size() / 2));
  gzclose(g);
  g = gzopen(gz.c_str(), "ab");
  gzwrite(g, plain.data() + plain.size() / 2,
          static_cast<unsigned>(plain.size() - plain.size() / 2));
  gzclose(g);
  std::string zst(ZSTD_compressBound(plain.size()), '\0');
  zst.resize(ZSTD_compress(zst.data(), zst.size(), plain.data(), plain.size(), 3));
  const std::string expected = Lines(*Import(kData + "ncdu-1.18.json").Drive);
  for (const std::string& file : {gz, t.Write("scan.json.zst", zst)}) {
    const Imported r = Import(file);
    ASSERT_TRUE(r.Ok) << r.Message;
    EXPECT_EQ(Lines(*r.Drive), expected);
  }
  // Cut short inside the compressed stream.
  const Imported cut = Import(t.Write("cut.zst", zst.substr(0, zst.size() - 6)));
  EXPECT_FALSE(cut.Ok);
  EXPECT_NE(cut.Message.find("uncompressed data"), std::string::npos) << cut.Message;
}

TEST(SavedScan, OpensAHundredThousandLevels) {
  constexpr int kDepth = 100000;
  std::string text = "[1,0,{},[{\"name\":\"/r\"}";
  text.reserve(static_cast<std::size_t>(kDepth) * 16);
  for (int i = 0; i < kDepth; ++i) text += ",[{\"name\":\"d\"}";
  text += ",{\"name\":\"f\",\"asize\":7,\"dsize\":4096}";
  text += std::string(kDepth, ']') + "]]";
  TempDir t;
  const Imported r = Import(t.Write("deep.json", text));
  ASSERT_TRUE(r.Ok) << r.Message;
  const DiskObject& root = *r.Drive->DiskObjects().Item(1);
  EXPECT_EQ(root.FolderCount, kDepth);
  EXPECT_EQ(root.UsedSpace, 7);
  EXPECT_EQ(r.Drive->DiskObjects().Count(), static_cast<std::size_t>(kDepth) + 1);
}

// ncdu and gdu read the export: ncdu's own export of it gives back the same lines, and gdu's
// total is the same but for the 4 KiB it gives every folder of a file it imports.
TEST(SavedScan, PeersReadTheExport) {
  if (::access("/usr/bin/ncdu", X_OK) != 0 || ::access("/usr/bin/gdu", X_OK) != 0)
    GTEST_SKIP() << "ncdu or gdu is not installed";
  TempDir t;
  const std::string root = t.Mkdir("tree");
  t.Write("tree/a/one", std::string(5000, 'x'));
  t.Write("tree/a/b/two", std::string(70000, 'y'));
  ASSERT_EQ(::link((root + "/a/one").c_str(), (root + "/a/b/one-again").c_str()), 0);
  const std::string mine = t.Write("mine.json", Export(root));
  const std::string again = t.Path() + "/again.json";
  ASSERT_EQ(std::system(("ncdu -f '" + mine + "' -o '" + again + "'").c_str()), 0);
  const Imported a = Import(mine), b = Import(again);
  ASSERT_TRUE(a.Ok && b.Ok) << b.Message;
  EXPECT_EQ(Lines(*a.Drive), Lines(*b.Drive));
  FILE* gdu = ::popen(("gdu -f '" + mine + "' -n -s -p -a 2>&1 | head -c 200").c_str(), "r");
  char line[256] = {};
  const std::size_t n = std::fread(line, 1, sizeof line - 1, gdu);
  ::pclose(gdu);
  line[n] = 0;
  // 75000 bytes of files once, and three folders of 4096: 87288 B, which gdu shows as 85.2 KiB.
  EXPECT_NE(std::string(line).find("85.2 KiB"), std::string::npos) << line;
}

}  // namespace
}  // namespace kestrum
