#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sstream>
#include <thread>

#include "core/tree/file_store.h"
#include "core/saved/json_export.h"
#include "core/saved/json_import.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "core/saved/saved_support.h"
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

using test::Export;
using test::Import;
using test::Imported;

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
      {"[1,2,{},[{\"name\":\"\\u0000\"}]]", "name holds a NUL", "{\"name\""},
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
    EXPECT_FALSE(r.Drive->Drive().Files);
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
  // Zero padding after the last gzip member, and a skippable frame before the zstd one, as
  // tape blocks and pzstd leave them.
  const std::string padded = t.Write("padded.gz", test::Slurp(gz) + std::string(512, '\0'));
  const std::string skippable =
      t.Write("skip.zst", std::string("\x50\x2A\x4D\x18\x04\x00\x00\x00" "abcd", 12) + zst);
  for (const std::string& file : {gz, t.Write("scan.json.zst", zst), padded, skippable}) {
    const Imported r = Import(file);
    ASSERT_TRUE(r.Ok) << r.Message;
    EXPECT_EQ(Lines(*r.Drive), expected);
    // Progress counts the file's own bytes, not what they expand to.
    const auto size = static_cast<std::int64_t>(test::Slurp(file).size());
    EXPECT_EQ(r.Size, size) << file;
    EXPECT_EQ(static_cast<std::int64_t>(r.Bytes), size) << file;
  }
  EXPECT_FALSE(Import(t.Write("junk.gz", test::Slurp(padded) + "x")).Ok);
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

// gzip of prefix followed by unit repeated count times, made as it goes: a few kilobytes that
// would inflate to many megabytes.
std::string GzipBomb(const std::string& prefix, const std::string& unit, std::size_t count) {
  z_stream z{};
  deflateInit2(&z, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
  std::string out, in = prefix;
  std::string block;
  while (block.size() < (1u << 20)) block += unit;
  const std::size_t perBlock = block.size() / unit.size();
  char buf[1 << 16];
  for (std::size_t done = 0;;) {
    const bool last = done >= count;
    if (!last) {
      const std::size_t n = std::min(perBlock, count - done);
      in.append(block, 0, n * unit.size());
      done += n;
    }
    z.next_in = reinterpret_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    int rc = Z_OK;
    do {
      z.next_out = reinterpret_cast<Bytef*>(buf);
      z.avail_out = sizeof buf;
      rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      out.append(buf, sizeof buf - z.avail_out);
    } while (z.avail_out == 0 || (last && rc != Z_STREAM_END));
    in.clear();
    if (last) break;
  }
  deflateEnd(&z);
  return out;
}

// Files whose few compressed bytes would hold one huge name, string or key, or nest without
// end: each is refused near its start, at the byte where the bound is crossed, so the reader
// never holds what the file asks for.
TEST(SavedScan, CraftedFilesCannotBlowUpMemory) {
  const std::string head = "[1,2,{},[{\"name\":\"/r\"},";
  struct Case {
    std::string prefix, unit;
    std::size_t count;
    std::string why;
  };
  const Case cases[] = {
      {head + "{\"name\":\"", "a", 32u << 20, "a name longer than 4096 bytes"},
      {"[1,2,{\"x\":\"", "a", 32u << 20, "a string longer than 65536 bytes"},
      {head + "{\"", "k", 32u << 20, "a key longer than 256 bytes"},
      {head, "[{\"name\":\"d\"},", 4u << 20, "folders nested deeper than 150000 levels"},
      {"[1,2,", "[", 32u << 20, "nested deeper than 1000 levels"},
      {"[1,2,{},[{\"name\":\"/", "r", 80u << 20, "a name longer than 67108864 bytes"},
  };
  TempDir t;
  for (const Case& c : cases) {
    const std::string bomb = GzipBomb(c.prefix, c.unit, c.count);
    ASSERT_LT(bomb.size(), 1u << 20);
    const Imported r = Import(t.Write("bomb.json.gz", bomb));
    EXPECT_FALSE(r.Ok);
    EXPECT_NE(r.Message.find(c.why), std::string::npos) << r.Message;
    const std::size_t at = r.Message.find("at byte ");
    ASSERT_NE(at, std::string::npos) << r.Message;
    EXPECT_LT(std::stoull(r.Message.substr(at + 8)), 70u << 20) << r.Message;
  }
}

// A FIFO and standard input are read as streams; a FIFO nobody writes to is waited for only
// until a stop, in the window (Stoppable).
TEST(SavedScan, ReadsPipes) {
  const std::string text = test::Slurp(kData + "ncdu-1.18.json");
  const std::string expected = Lines(*Import(kData + "ncdu-1.18.json").Drive);
  TempDir t;
  const std::string fifo = t.Path() + "/fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the reader waits
    const int fd = ::open(fifo.c_str(), O_WRONLY);
    ::write(fd, text.data(), text.size());
    ::close(fd);
  });
  const Imported viaFifo = Import(fifo);
  writer.join();
  ASSERT_TRUE(viaFifo.Ok) << viaFifo.Message;
  EXPECT_EQ(Lines(*viaFifo.Drive), expected);
  EXPECT_EQ(viaFifo.Size, -1);  // a stream: no size to read toward
  EXPECT_EQ(viaFifo.Bytes, text.size());

  int p[2];
  ASSERT_EQ(::pipe(p), 0);
  const int savedIn = ::dup(STDIN_FILENO);
  ::dup2(p[0], STDIN_FILENO);
  ::close(p[0]);
  std::thread feeder([&] {
    ::write(p[1], text.data(), text.size());
    ::close(p[1]);
  });
  const Imported viaStdin = Import("-");
  feeder.join();
  ::dup2(savedIn, STDIN_FILENO);
  ::close(savedIn);
  ASSERT_TRUE(viaStdin.Ok) << viaStdin.Message;
  EXPECT_EQ(Lines(*viaStdin.Drive), expected);
  EXPECT_EQ(viaStdin.Size, -1);

  // Nobody writes: a stop ends the wait.
  Scanning = true;
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    Scanning = false;
  });
  std::int32_t keys = 0;
  ImportError error;
  ImportOptions options;
  options.Stoppable = true;
  DiskObject drive;
  EXPECT_FALSE(ImportScan(fifo, drive, keys, error, options));
  stopper.join();
  EXPECT_NE(error.Message.find("stopped"), std::string::npos) << error.Message;
  // A regular file stops between two pieces as well, and leaves nothing read.
  error = {};
  EXPECT_FALSE(ImportScan(kData + "ncdu-1.18.json", drive, keys, error, options));
  EXPECT_NE(error.Message.find("stopped"), std::string::npos) << error.Message;
  EXPECT_EQ(drive.DiskObjectsIfAny() ? drive.DiskObjectsIfAny()->Count() : 0u, 0u);
  EXPECT_EQ(drive.Drive().Files, nullptr);
}

// What stands at an export's name: a regular file (or none, or what a link names) is replaced
// by a complete file and a link stays a link; a device, FIFO or socket is written into and
// stays what it was; a folder or a block device is refused and left alone.
TEST(SavedScan, ExportTargets) {
  TempDir t;
  const std::string root = t.Mkdir("tree");
  t.Write("tree/f", "12345");
  const bool root_ = ::geteuid() == 0;
  const std::string dir = t.Mkdir("targets");
  const auto at = [&](const std::string& n) { return dir + "/" + n; };
  t.Write("targets/old", "earlier");
  t.Write("targets/linked", "earlier");
  ASSERT_EQ(::symlink("linked", at("link").c_str()), 0);
  ASSERT_EQ(::symlink("dangling-target", at("dangling").c_str()), 0);
  ASSERT_EQ(::mkfifo(at("fifo").c_str(), 0600), 0);
  t.Mkdir("targets/folder");
  if (root_) {
    ASSERT_EQ(::mknod(at("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    ASSERT_EQ(::mknod(at("block").c_str(), S_IFBLK | 0600, makedev(7, 200)), 0);
  }
  // A socket that takes what is written to it.
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strcpy(address.sun_path, at("socket").c_str());
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  std::string viaSocket, viaFifo;
  std::thread socketReader([&] {
    const int c = ::accept(listener, nullptr, nullptr);
    char buf[4096];
    for (ssize_t n; (n = ::read(c, buf, sizeof buf)) > 0;) viaSocket.append(buf, n);
    ::close(c);
  });
  std::thread fifoReader([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the export waits for it
    const int fd = ::open(at("fifo").c_str(), O_RDONLY);
    char buf[4096];
    for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) viaFifo.append(buf, n);
    ::close(fd);
  });
  struct Case {
    std::string name;
    bool ok;
    mode_t typeAfter;  // what stands at the name after, not following links
    std::string written;  // the file that holds the export after ("" none)
  };
  std::vector<Case> cases = {
      {"new", true, S_IFREG, "new"},
      {"old", true, S_IFREG, "old"},
      {"link", true, S_IFLNK, "linked"},
      {"dangling", true, S_IFLNK, "dangling-target"},
      {"fifo", true, S_IFIFO, ""},
      {"socket", true, S_IFSOCK, ""},
      {"folder", false, S_IFDIR, ""},
  };
  if (root_) {
    cases.push_back({"null", true, S_IFCHR, ""});
    cases.push_back({"block", false, S_IFBLK, ""});
  }
  for (const Case& c : cases) {
    std::string error;
    Scanning = true;
    EXPECT_EQ(ExportToFile(root, at(c.name), error), c.ok) << c.name << ": " << error;
    Scanning = false;
    struct stat st {};
    ASSERT_EQ(::lstat(at(c.name).c_str(), &st), 0) << c.name;
    EXPECT_EQ(st.st_mode & S_IFMT, c.typeAfter) << c.name;
    if (!c.written.empty()) {
      EXPECT_EQ(test::Slurp(at(c.written)).compare(0, 6, "[1,2,{"), 0) << c.name;
    }
  }
  socketReader.join();
  fifoReader.join();
  ::close(listener);
  for (const std::string* got : {&viaSocket, &viaFifo}) {
    EXPECT_EQ(got->compare(0, 6, "[1,2,{"), 0);
    EXPECT_EQ(got->substr(got->size() - 2), "]\n");
  }
}

}  // namespace
}  // namespace kestrum

namespace kestrum {
namespace {

// Refuses to open one folder, as a folder without permission to read does.
class Locked : public DirectoryReader {
 public:
  int OpenAt(int dirFd, const char* name) override {
    if (std::strcmp(name, "locked") == 0) {
      errno = EACCES;
      return -1;
    }
    return DirectoryReader::OpenAt(dirFd, name);
  }
};

std::string WithoutTimestamp(std::string text) {
  const std::size_t at = text.find("\"timestamp\":");
  if (at != std::string::npos) text.erase(at, text.find('}', at) - at);
  return text;
}

std::string ToText(const DiskObject& drive) {
  std::string text, error;
  EXPECT_TRUE(ExportScan(
      drive,
      [&text](std::string_view piece) {
        text.append(piece);
        return true;
      },
      error))
      << error;
  return text;
}

// What a scan kept, and what an import of an export kept, export as the disk exports: every
// kind of entry, links, an unreadable folder and names that need escapes; compressed by the
// name asked for; and entries deleted since are left out.
TEST(SavedScan, ExportFromMemoryEqualsTheExportOfTheDisk) {
  TempDir t;
  const std::string root = t.Path() + "/tree";
  t.Mkdir("tree/a/b");
  t.Mkdir("tree/locked");
  t.Mkdir("tree/empty");
  t.Write("tree/one", std::string(5000, 'x'));
  t.Write("tree/a/quote\"d\nname", "abc");
  t.Write("tree/a/b/big", std::string(70000, 'y'));
  ASSERT_EQ(::chmod((root + "/a/b/big").c_str(), 0755), 0);
  ASSERT_EQ(::link((root + "/one").c_str(), (root + "/a/one-again").c_str()), 0);
  ASSERT_EQ(::symlink("one", (root + "/a/link").c_str()), 0);
  ASSERT_EQ(::mkfifo((root + "/a/fifo").c_str(), 0644), 0);
  Locked reader;
  const std::string disk = WithoutTimestamp(Export(root, &reader));
  ASSERT_NE(disk.find("read_error"), std::string::npos);
  for (unsigned threads : {1u, 3u}) {
    DiskObject drive;
    drive.Class = ObjectClass::Drive;
    drive.DriveForChange().RootFolder = root + "/";
    drive.DriveForChange().AllocationUnit = 4096;
    ScanOptions o;
    o.Reader = &reader;
    o.Threads = threads;
    std::int32_t keys = 0;
    Scanning = true;
    ASSERT_TRUE(ScanDrive(drive, keys, o));
    Scanning = false;
    EXPECT_EQ(WithoutTimestamp(ToText(drive)), disk) << threads;
  }
  const std::string file = t.Write("scan.json", Export(root, &reader));
  const Imported back = Import(file);
  ASSERT_TRUE(back.Ok) << back.Message;
  EXPECT_EQ(WithoutTimestamp(ToText(*back.Drive)), disk);
  const std::string expected = Lines(*back.Drive);
  for (const char* name : {"/again.json.gz", "/again.json.zst", "/again.json"}) {
    std::string error;
    ASSERT_TRUE(ExportScanToFile(*back.Drive, t.Path() + name, error)) << error;
    const std::string written = test::Slurp(t.Path() + name);
    const bool gz = std::strstr(name, ".gz"), zst = std::strstr(name, ".zst");
    EXPECT_EQ(written.compare(0, 2, "\x1f\x8b") == 0, gz) << name;
    EXPECT_EQ(written.compare(0, 4, "\x28\xB5\x2F\xFD") == 0, zst) << name;
    const Imported again = Import(t.Path() + name);
    ASSERT_TRUE(again.Ok) << again.Message;
    EXPECT_EQ(Lines(*again.Drive), expected) << name;
  }
  // A deleted file goes from what the export says.
  const DiskObject* a = back.Drive->DiskObjects().Find(root + "/a/");
  ASSERT_TRUE(a);
  back.Drive->Drive().Files->ForEach(a->FilesAt, [&](const StoredEntry& e) {
    if (e.Name == "link") back.Drive->Drive().Files->SetGone(e.Position);
  });
  const std::string after = ToText(*back.Drive);
  EXPECT_EQ(after.find("\"link\""), std::string::npos);
  EXPECT_NE(after.find("\"fifo\""), std::string::npos);
  // What a saved scan says was left out keeps its reason, as far as the format tells them.
  // A folder written as an array of its information alone is an entry left out too, not a
  // folder: neither counted nor a level deeper.
  const Imported left = Import(t.Write(
      "left.json", "[1,2,{},[{\"name\":\"/r\"},{\"name\":\"p\",\"excluded\":\"pattern\"},"
                   "{\"name\":\"m\",\"excluded\":\"otherfs\"},"
                   "[{\"name\":\"mnt\",\"excluded\":\"othfs\"}],"
                   "[{\"name\":\"proc\",\"excluded\":\"kernfs\"},{\"name\":\"x\",\"asize\":9}],"
                   "[{\"name\":\"c\",\"excluded\":\"pattern\"}]]]"));
  ASSERT_TRUE(left.Ok) << left.Message;
  EXPECT_EQ(left.Drive->DiskObjects().Count(), 1u);
  EXPECT_EQ(left.Drive->DiskObjects().Item(1)->FolderCount, 0);
  EXPECT_EQ(left.Drive->DiskObjects().Item(1)->FileCount, 0);
  const std::string leftText = ToText(*left.Drive);
  for (const char* line : {"{\"name\":\"p\",\"excluded\":\"pattern\"}",
                           "{\"name\":\"m\",\"excluded\":\"othfs\"}",
                           "{\"name\":\"mnt\",\"excluded\":\"othfs\"}",
                           "{\"name\":\"proc\",\"excluded\":\"kernfs\"}",
                           "{\"name\":\"c\",\"excluded\":\"pattern\"}"})
    EXPECT_NE(leftText.find(line), std::string::npos) << line;
  // Nothing kept, nothing to export.
  DiskObject none;
  std::string error;
  EXPECT_FALSE(ExportScan(none, [](std::string_view) { return true; }, error));
}

}  // namespace
}  // namespace kestrum
