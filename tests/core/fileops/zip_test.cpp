#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <zip.h>

#include <csignal>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>

#include "core/fileops/zip_archive.h"
#include "core/fileops/zip_runner.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::Names;
using test::Slurp;
using test::TempDir;

// An entry read back with libzip.
struct Entry {
  std::string Data;
  zip_uint32_t Attributes = 0;
  zip_uint16_t Method = 0;
};

std::map<std::string, Entry> ReadBack(const std::string& archive) {
  std::map<std::string, Entry> out;
  int error = 0;
  zip_t* za = zip_open(archive.c_str(), ZIP_RDONLY, &error);
  if (!za) {
    ADD_FAILURE() << "cannot open " << archive << ": " << error;
    return out;
  }
  const zip_int64_t n = zip_get_num_entries(za, 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    const auto index = static_cast<zip_uint64_t>(i);
    Entry e;
    zip_stat_t st;
    zip_stat_index(za, index, 0, &st);
    e.Method = st.comp_method;
    zip_uint8_t opsys = 0;
    zip_file_get_external_attributes(za, index, 0, &opsys, &e.Attributes);
    EXPECT_EQ(opsys, ZIP_OPSYS_UNIX);
    zip_file_t* f = zip_fopen_index(za, index, 0);
    char buffer[65536];
    zip_int64_t got;
    while (f && (got = zip_fread(f, buffer, sizeof buffer)) > 0)
      e.Data.append(buffer, static_cast<std::size_t>(got));
    if (f) zip_fclose(f);
    const std::string name = zip_get_name(za, index, ZIP_FL_ENC_RAW);
    EXPECT_EQ(out.count(name), 0u) << "twice: " << name;
    out[name] = std::move(e);
  }
  zip_discard(za);
  return out;
}

// An item of a folder listing of folder.
ZipItem Item(const std::string& folder, const std::string& name, bool isFolder) {
  ZipItem it;
  it.Folder = folder + "/";
  it.Name = name;
  it.EntryName = name;
  it.Root = folder + "/";
  it.IsFolder = isFolder;
  return it;
}

// A row of the largest-files folder: the file below + name on the volume whose root is root.
ZipItem LargestItem(const std::string& root, const std::string& below, const std::string& name) {
  ZipItem it;
  it.Folder = root + below;
  it.Name = name;
  it.EntryName = below + name;
  it.Root = root;
  return it;
}

bool HaveTool(const char* name) {
  return std::system((std::string("command -v ") + name + " >/dev/null 2>&1").c_str()) == 0;
}

// Python's zipfile reads the archive and compares each entry with base + name; returns its
// output (name hex and flag per line), or "FAILED" when it found a difference.
std::string PythonCheck(const std::string& archive, const std::string& base) {
  const std::string command = std::string("python3 ") + KESTRUM_TEST_DATA + "/zip_check.py '" +
                              archive + "' '" + base + "/'";
  FILE* p = ::popen(command.c_str(), "r");
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
  return ::pclose(p) == 0 ? out : "FAILED\n" + out;
}

std::string Hex(const std::string& s) {
  static const char* digits = "0123456789abcdef";
  std::string h;
  for (unsigned char c : s) {
    h += digits[c >> 4];
    h += digits[c & 15];
  }
  return h;
}

ZipOutcome Zip(const std::string& target, const std::vector<ZipItem>& items,
               const FileOpsSeam& calls = SystemSeam()) {
  ZipEvents events;
  return WriteZipArchive(target, items, events, {}, calls);
}

TEST(ZipRequestTest, CompressedDataIsRecognised) {
  std::string random(16384, '\0');
  std::mt19937 gen(7);
  for (char& c : random) c = static_cast<char>(gen());
  std::string text;
  while (text.size() < 16384) text += "The quick brown fox jumps over the lazy dog. 12345\n";
  EXPECT_TRUE(LooksCompressed("data.bin", random));
  EXPECT_FALSE(LooksCompressed("notes.txt", text));
  EXPECT_TRUE(LooksCompressed("photo.JPG", text));
  EXPECT_TRUE(LooksCompressed("noext", std::string("\x1f\x8b\x08", 3) + text));
  EXPECT_FALSE(LooksCompressed("short", random.substr(0, 100)));
}

// A tree with odd names, an empty folder, links, a FIFO, modes and times.
class ZipTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base = dir.Path() + "/data";
    dir.Write("data/a.txt", "alpha\n");
    dir.Write("data/Old/sub/file.txt", std::string(100000, 'x'));
    dir.Write("data/Old/quote \"q\"\nnl.txt", "odd");
    dir.Write("data/Old/caf\xc3\xa9.txt", "utf8");
    dir.Write("data/Old/bad\xff\xfe.txt", "not utf8");
    dir.Mkdir("data/Old/empty");
    ::chmod((base + "/Old/empty").c_str(), 0700);
    ::chmod((base + "/a.txt").c_str(), 0600);
    ::symlink("sub/file.txt", (base + "/Old/link").c_str());
    ::symlink("/nonexistent/target", (base + "/Old/dangling").c_str());
    ::symlink("..", (base + "/Old/loop").c_str());
    ::mkfifo((base + "/Old/fifo").c_str(), 0644);
    const timeval times[2] = {{1500000000, 0}, {1500000000, 0}};
    ::utimes((base + "/Old/sub/file.txt").c_str(), times);
  }

  TempDir dir;
  std::string base;
};

TEST_F(ZipTreeTest, WritesTheTreeAsItIsOnDisk) {
  const std::string target = dir.Path() + "/out.zip";
  const ZipOutcome out = Zip(target, {Item(base, "a.txt", false), Item(base, "Old", true)});
  ASSERT_EQ(out.Code, kZipLeftOut) << out.Message;
  ASSERT_EQ(out.LeftOut.size(), 1u);  // the FIFO, never opened
  EXPECT_EQ(out.LeftOut[0].Path, base + "/Old/fifo");
  EXPECT_NE(out.LeftOut[0].Reason.find("FIFO"), std::string::npos);

  const auto entries = ReadBack(target);
  std::set<std::string> names;
  for (const auto& [name, e] : entries) names.insert(name);
  const std::set<std::string> expected = {"a.txt",
                                          "Old/",
                                          "Old/sub/",
                                          "Old/sub/file.txt",
                                          "Old/quote \"q\"\nnl.txt",
                                          "Old/caf\xc3\xa9.txt",
                                          "Old/bad\xff\xfe.txt",
                                          "Old/empty/",
                                          "Old/link",
                                          "Old/dangling",
                                          "Old/loop"};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(entries.at("Old/sub/file.txt").Data, std::string(100000, 'x'));
  EXPECT_EQ(entries.at("Old/sub/file.txt").Method, ZIP_CM_DEFLATE);
  EXPECT_EQ(entries.at("Old/link").Data, "sub/file.txt");
  EXPECT_EQ(entries.at("Old/link").Attributes >> 16 & S_IFMT, S_IFLNK);
  EXPECT_EQ(entries.at("Old/loop").Data, "..");
  EXPECT_EQ(entries.at("Old/empty/").Attributes >> 16, S_IFDIR | 0700u);
  EXPECT_EQ(entries.at("a.txt").Attributes >> 16, S_IFREG | 0600u);

  // An independent reader agrees on every name, content, link, mode and time; the UTF-8
  // flag sits only on the valid UTF-8 name that is not plain ASCII.
  const std::string py = PythonCheck(target, base);
  EXPECT_EQ(py.find("FAILED"), std::string::npos) << py;
  EXPECT_NE(py.find(Hex("Old/caf\xc3\xa9.txt") + " utf8"), std::string::npos) << py;
  EXPECT_NE(py.find(Hex("Old/bad\xff\xfe.txt") + " raw"), std::string::npos) << py;
  EXPECT_NE(py.find(Hex("a.txt") + " raw"), std::string::npos) << py;
  if (HaveTool("unzip")) {
    EXPECT_EQ(std::system(("unzip -tqq '" + target + "' >/dev/null").c_str()), 0);
  }
}

TEST_F(ZipTreeTest, UpdatesAnExistingArchive) {
  const std::string target = dir.Path() + "/out.zip";
  ASSERT_EQ(Zip(target, {Item(base, "a.txt", false), Item(base, "Old", true)}).Code, kZipLeftOut);
  dir.Write("other/keep.txt", "kept");
  ASSERT_EQ(Zip(target, {Item(dir.Path() + "/other", "keep.txt", false)}).Code, kZipDone);
  dir.Write("data/a.txt", "alpha, second edition\n");
  dir.Write("data/new.txt", "new");
  const ZipOutcome out = Zip(target, {Item(base, "a.txt", false), Item(base, "new.txt", false)});
  ASSERT_EQ(out.Code, kZipDone) << out.Message;
  const auto entries = ReadBack(target);
  EXPECT_EQ(entries.at("a.txt").Data, "alpha, second edition\n");
  EXPECT_EQ(entries.at("keep.txt").Data, "kept");
  EXPECT_EQ(entries.at("new.txt").Data, "new");
  EXPECT_EQ(entries.at("Old/sub/file.txt").Data, std::string(100000, 'x'));
  EXPECT_EQ(entries.size(), 13u);

  // The same folder again replaces its entries by name instead of adding them twice.
  ASSERT_EQ(Zip(target, {Item(base, "Old", true)}).Code, kZipLeftOut);
  EXPECT_EQ(ReadBack(target).size(), 13u);
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"data", "other", "out.zip"}));
}

TEST_F(ZipTreeTest, NeverAddsTheArchiveToItself) {
  ::unlink((base + "/Old/fifo").c_str());
  const std::string target = base + "/Old/self.zip";
  ASSERT_EQ(Zip(target, {Item(base, "Old", true)}).Code, kZipDone);
  EXPECT_EQ(ReadBack(target).count("Old/self.zip"), 0u);
  // Again, now that it exists.
  ASSERT_EQ(Zip(target, {Item(base, "Old", true)}).Code, kZipDone);
  EXPECT_EQ(ReadBack(target).count("Old/self.zip"), 0u);
}

int DenyLocked(int dirFd, const char* name, int flags) {
  if (std::string(name).rfind("locked", 0) == 0) {
    errno = EACCES;
    return -1;
  }
  return ::openat(dirFd, name, flags);
}

TEST_F(ZipTreeTest, UnreadableFilesAndFoldersAreListedAndTheRestWritten) {
  ::unlink((base + "/Old/fifo").c_str());
  dir.Write("data/Old/locked.txt", "secret");
  dir.Write("data/Old/lockeddir/inside.txt", "hidden");
  FileOpsSeam calls = SystemSeam();
  calls.OpenAt = DenyLocked;
  const std::string target = dir.Path() + "/out.zip";
  const ZipOutcome out = Zip(target, {Item(base, "Old", true)}, calls);
  ASSERT_EQ(out.Code, kZipLeftOut);
  ASSERT_EQ(out.LeftOut.size(), 2u);
  EXPECT_EQ(out.LeftOut[0].Path, base + "/Old/locked.txt");
  EXPECT_EQ(out.LeftOut[0].Reason, "(13) Permission denied");
  EXPECT_EQ(out.LeftOut[1].Path, base + "/Old/lockeddir/");
  EXPECT_NE(out.Message.find(base + "/Old/locked.txt: (13) Permission denied"), std::string::npos);
  const auto entries = ReadBack(target);
  EXPECT_EQ(entries.count("Old/locked.txt"), 0u);
  EXPECT_EQ(entries.count("Old/lockeddir/"), 1u);
  EXPECT_EQ(entries.at("Old/sub/file.txt").Data, std::string(100000, 'x'));
}

// The cases that must leave an earlier archive exactly as it was and no other file.
class ZipFailureTest : public ZipTreeTest {
 protected:
  void SetUp() override {
    ZipTreeTest::SetUp();
    ::unlink((base + "/Old/fifo").c_str());
    target = dir.Path() + "/out.zip";
    ASSERT_EQ(Zip(target, {Item(base, "a.txt", false)}).Code, kZipDone);
    before = Slurp(target);
  }
  void ExpectUntouched() {
    EXPECT_EQ(Slurp(target), before);
    EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"data", "out.zip"}));
  }
  std::string target, before;
};

TEST_F(ZipFailureTest, CancelBeforeAndWhileWriting) {
  std::atomic<bool> cancel{true};
  ZipEvents events;
  events.Cancel = &cancel;
  EXPECT_EQ(WriteZipArchive(target, {Item(base, "Old", true)}, events).Code, kZipCancelled);
  ExpectUntouched();

  // Cancelled from inside the writing, once the first file's data is being read.
  cancel = false;
  int calls = 0;
  events.Minor = [&](const std::string&, int) {
    if (++calls == 1) cancel = true;
  };
  const ZipOutcome out = WriteZipArchive(target, {Item(base, "Old", true)}, events);
  EXPECT_EQ(out.Code, kZipCancelled) << out.Message;
  EXPECT_GE(calls, 1);
  ExpectUntouched();

  // A new archive is not created at all.
  cancel = true;
  EXPECT_EQ(WriteZipArchive(dir.Path() + "/new.zip", {Item(base, "Old", true)}, events).Code,
            kZipCancelled);
  ExpectUntouched();
}

// An update is written by libzip only when the archive is closed: a file that is gone by then
// fails the whole run, and the earlier archive stays as it was.
TEST_F(ZipFailureTest, AFileVanishingBeforeItIsWrittenFailsTheWholeRun) {
  ZipEvents events;
  events.Minor = [&](const std::string&, int) { ::unlink((base + "/Old/sub/file.txt").c_str()); };
  const ZipOutcome out = WriteZipArchive(target, {Item(base, "Old", true)}, events);
  EXPECT_EQ(out.Code, kZipWriteFailed);
  EXPECT_NE(out.Message.find("No such file or directory"), std::string::npos) << out.Message;
  EXPECT_NE(out.Message.find(base + "/Old/sub/file.txt"), std::string::npos) << out.Message;
  ExpectUntouched();
}

TEST_F(ZipFailureTest, AFullDiskFailsWithTheSystemsText) {
  // A file size limit makes writes fail as a full disk would.
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit low = old;
  low.rlim_cur = before.size();
  ::setrlimit(RLIMIT_FSIZE, &low);
  const ZipOutcome out = Zip(target, {Item(base, "Old", true)});
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(out.Code, kZipWriteFailed);
  EXPECT_NE(out.Message.find("File too large"), std::string::npos) << out.Message;
  ExpectUntouched();
}

TEST_F(ZipFailureTest, TargetsThatCannotBeWritten) {
  dir.Write("notzip.zip", "this is text, not an archive");
  ZipOutcome out = Zip(dir.Path() + "/notzip.zip", {Item(base, "Old", true)});
  EXPECT_EQ(out.Code, kZipOpenFailed);
  EXPECT_NE(out.Message.find("Not a zip archive"), std::string::npos) << out.Message;
  EXPECT_EQ(Slurp(dir.Path() + "/notzip.zip"), "this is text, not an archive");
  ::unlink((dir.Path() + "/notzip.zip").c_str());

  out = Zip(dir.Path() + "/missing/x.zip", {Item(base, "Old", true)});
  EXPECT_EQ(out.Code, kZipOpenFailed);
  EXPECT_NE(out.Message.find("No such file or directory"), std::string::npos) << out.Message;

  // Nothing to write: no archive is made, and the message says so.
  ::mkfifo((base + "/only.fifo").c_str(), 0644);
  out = Zip(dir.Path() + "/none.zip", {Item(base, "only.fifo", false)});
  EXPECT_EQ(out.Code, kZipLeftOut);
  EXPECT_EQ(out.Message.rfind("Nothing was zipped", 0), 0u) << out.Message;
  ::unlink((base + "/only.fifo").c_str());

  out = Zip("relative.zip", {Item(base, "Old", true)});
  EXPECT_EQ(out.Code, kZipTargetRefused);
  ExpectUntouched();
}

// A new archive is written front to back into a file without a name: a run that does not
// complete leaves no file at all, and a file that fails while its data is read is taken back
// out of the archive and listed.
class ZipNewArchiveTest : public ZipTreeTest {
 protected:
  void SetUp() override {
    ZipTreeTest::SetUp();
    ::unlink((base + "/Old/fifo").c_str());
    std::mt19937 gen(11);
    random.resize(2 << 20);
    for (char& c : random) c = static_cast<char>(gen());
    dir.Write("data/Old/bad.bin", random);
    dir.Write("data/Old/z-after.bin", random.substr(0, 300000));
    target = dir.Path() + "/new.zip";
  }
  void ExpectNoArchive() { EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"data"})); }
  std::string random, target;
};

TEST_F(ZipNewArchiveTest, RunsThatDoNotCompleteLeaveNoFile) {
  std::atomic<bool> cancel{false};
  ZipEvents events;
  events.Cancel = &cancel;
  events.Minor = [&](const std::string& item, int) {
    if (item == "Old/bad.bin") cancel = true;
  };
  ZipOutcome out = WriteZipArchive(target, {Item(base, "Old", true)}, events);
  EXPECT_EQ(out.Code, kZipCancelled) << out.Message;
  ExpectNoArchive();

  std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ::getrlimit(RLIMIT_FSIZE, &old);
  rlimit low = old;
  low.rlim_cur = 1 << 20;
  ::setrlimit(RLIMIT_FSIZE, &low);
  out = Zip(target, {Item(base, "Old", true)});
  ::setrlimit(RLIMIT_FSIZE, &old);
  EXPECT_EQ(out.Code, kZipWriteFailed);
  EXPECT_NE(out.Message.find("File too large"), std::string::npos) << out.Message;
  ExpectNoArchive();

  // A file that appeared under the target's name meanwhile is someone else's: it stays.
  events.Cancel = nullptr;
  events.Minor = [&](const std::string&, int) {
    if (Names(dir.Path()).count("new.zip") == 0) dir.Write("new.zip", "theirs");
  };
  out = WriteZipArchive(target, {Item(base, "Old", true)}, events);
  EXPECT_EQ(out.Code, kZipWriteFailed);
  EXPECT_NE(out.Message.find("File exists"), std::string::npos) << out.Message;
  EXPECT_EQ(Slurp(target), "theirs");
  EXPECT_EQ(Names(dir.Path()), (std::set<std::string>{"data", "new.zip"}));
}

// Fails reading the 2 MiB file once half of it is read, after part of it went to disk.
ssize_t FailHalfWay(int fd, void* buffer, size_t size) {
  struct stat st {};
  if (::fstat(fd, &st) == 0 && st.st_size == (2 << 20) && ::lseek(fd, 0, SEEK_CUR) >= (1 << 20)) {
    errno = EIO;
    return -1;
  }
  return ::read(fd, buffer, size);
}

TEST_F(ZipNewArchiveTest, AFileFailingWhileReadIsTakenBackAndTheRestKept) {
  FileOpsSeam calls = SystemSeam();
  calls.Read = FailHalfWay;
  const ZipOutcome out = Zip(target, {Item(base, "Old", true), Item(base, "a.txt", false)}, calls);
  ASSERT_EQ(out.Code, kZipLeftOut) << out.Message;
  ASSERT_EQ(out.LeftOut.size(), 1u);
  EXPECT_EQ(out.LeftOut[0].Path, base + "/Old/bad.bin");
  EXPECT_EQ(out.LeftOut[0].Reason, "(5) Input/output error");
  const auto entries = ReadBack(target);
  EXPECT_EQ(entries.count("Old/bad.bin"), 0u);
  EXPECT_EQ(entries.at("Old/z-after.bin").Data, random.substr(0, 300000));
  EXPECT_EQ(entries.at("a.txt").Data, "alpha\n");
  EXPECT_EQ(entries.size(), 12u);
  const std::string py = PythonCheck(target, base);
  EXPECT_EQ(py.find("FAILED"), std::string::npos) << py;
  if (HaveTool("unzip")) {
    EXPECT_EQ(std::system(("unzip -tqq '" + target + "' >/dev/null").c_str()), 0);
  }
}

TEST_F(ZipNewArchiveTest, ExactTimesModesAndLinksSurviveExtraction) {
  if (!HaveTool("unzip")) GTEST_SKIP() << "unzip is not installed";
  ASSERT_EQ(Zip(target, {Item(base, "Old", true), Item(base, "a.txt", false)}).Code, kZipDone);
  const std::string out = dir.Mkdir("x");
  ASSERT_EQ(std::system(("unzip -qq '" + target + "' -d '" + out + "'").c_str()), 0);
  struct stat st {};
  ASSERT_EQ(::lstat((out + "/Old/sub/file.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mtime, 1500000000);
  ASSERT_EQ(::lstat((out + "/a.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  ASSERT_EQ(::lstat((out + "/Old/loop").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(Slurp(out + "/Old/sub/file.txt"), std::string(100000, 'x'));
}

TEST(ZipArchiveTest, EntriesOfOneNameAreWrittenOnce) {
  // Largest files of two volumes at the same path below their roots.
  TempDir dir;
  dir.Write("v1/x/big.bin", "one");
  dir.Write("v2/x/big.bin", "two");
  const std::string target = dir.Path() + "/l.zip";
  const ZipOutcome out = Zip(target, {LargestItem(dir.Path() + "/v1/", "x/", "big.bin"),
                                      LargestItem(dir.Path() + "/v2/", "x/", "big.bin")});
  ASSERT_EQ(out.Code, kZipLeftOut) << out.Message;
  ASSERT_EQ(out.LeftOut.size(), 1u);
  EXPECT_NE(out.LeftOut[0].Reason.find("clashes"), std::string::npos);
  const auto entries = ReadBack(target);
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries.at("x/big.bin").Data, "one");
}

TEST(ZipArchiveTest, LargestFilesAreNamedBelowTheirVolumesRoot) {
  TempDir dir;
  dir.Write("v/x/big.bin", "one");
  dir.Write("v/y/big.bin", "two");
  const std::vector<ZipItem> items = {LargestItem(dir.Path() + "/v/", "x/", "big.bin"),
                                      LargestItem(dir.Path() + "/v/", "y/", "big.bin")};
  const std::string target = dir.Path() + "/l.zip";
  ASSERT_EQ(Zip(target, items).Code, kZipDone);
  const auto entries = ReadBack(target);
  EXPECT_EQ(entries.at("x/big.bin").Data, "one");
  EXPECT_EQ(entries.at("y/big.bin").Data, "two");
}

TEST(ZipArchiveTest, DeepTreesAndIncompressibleData) {
  TempDir dir;
  std::string rel = "deep";
  for (int i = 0; i < 150; ++i) {
    rel += "/d";
    if (i % 10 == 0) dir.Write(rel + "/f.txt", "level " + std::to_string(i));
  }
  dir.Mkdir(rel);
  std::string random(200000, '\0');
  std::mt19937 gen(3);
  for (char& c : random) c = static_cast<char>(gen());
  dir.Write("deep/random.bin", random);
  dir.Write("deep/d/sibling.txt", "after the deep branch");
  const std::string target = dir.Path() + "/deep.zip";
  ZipRunner runner;
  ASSERT_TRUE(runner.Start(target, {Item(dir.Path(), "deep", true)}));
  runner.Wait();
  ASSERT_TRUE(runner.Finished());
  EXPECT_EQ(runner.Outcome().Code, kZipDone) << runner.Outcome().Message;
  EXPECT_EQ(runner.Outcome().Entries, 150u + 1 + 15 + 2);
  const auto entries = ReadBack(target);
  EXPECT_EQ(entries.size(), 150u + 1 + 15 + 2);
  EXPECT_EQ(entries.at("deep/random.bin").Method, ZIP_CM_STORE);
  EXPECT_EQ(entries.at("deep/random.bin").Data, random);
  EXPECT_EQ(entries.at("deep/d/sibling.txt").Data, "after the deep branch");
  EXPECT_EQ(entries.at(rel.substr(0, 4 + 2 * 141) + "/f.txt").Data, "level 140");
  EXPECT_EQ(runner.Major().Percent, 100);
  const std::string py = PythonCheck(target, dir.Path());
  EXPECT_EQ(py.find("FAILED"), std::string::npos) << py;
}

TEST(ZipArchiveTest, MountPointsBelowAreNotEntered) {
  TempDir dir;
  dir.Write("top/here.txt", "here");
  const std::string mountPoint = dir.Mkdir("top/mounted");
  if (::mount("none", mountPoint.c_str(), "tmpfs", 0, "size=1m") != 0)
    GTEST_SKIP() << "no right to mount a file system here";
  struct Unmount {
    std::string path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
  } unmount{mountPoint};
  dir.Write("top/mounted/elsewhere.txt", "on another file system");
  const std::string target = dir.Path() + "/m.zip";
  const ZipOutcome out = Zip(target, {Item(dir.Path(), "top", true)});
  ASSERT_EQ(out.Code, kZipLeftOut);
  ASSERT_EQ(out.LeftOut.size(), 1u);
  EXPECT_EQ(out.LeftOut[0].Path, mountPoint);
  EXPECT_EQ(out.LeftOut[0].Reason, "on another file system: not entered");
  const auto entries = ReadBack(target);
  EXPECT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries.count("top/here.txt"), 1u);
}

// A sparse file over 4 GiB: slow (it is read and compressed in full), so only on request.
TEST(ZipArchiveTest, FilesOver4GiBUseZip64) {
  if (!std::getenv("KESTRUM_BIG_TESTS")) GTEST_SKIP() << "set KESTRUM_BIG_TESTS=1 to run";
  TempDir dir;
  dir.Mkdir("big");
  const std::string path = dir.Path() + "/big/huge.bin";
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0);
  const off_t size = (4LL << 30) + 12345;
  ASSERT_EQ(::pwrite(fd, "end", 3, size - 3), 3);
  ::close(fd);
  dir.Write("big/zz.txt", "an entry past 4 GiB");
  const std::string target = dir.Path() + "/big.zip";
  ASSERT_EQ(Zip(target, {Item(dir.Path(), "big", true)}).Code, kZipDone);
  const std::string py = PythonCheck(target, dir.Path());
  EXPECT_EQ(py.find("FAILED"), std::string::npos) << py;
  int error = 0;
  zip_t* za = zip_open(target.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &error);
  ASSERT_NE(za, nullptr);
  zip_stat_t st;
  ASSERT_EQ(zip_stat(za, "big/huge.bin", ZIP_FL_ENC_RAW, &st), 0);
  EXPECT_EQ(st.size, static_cast<zip_uint64_t>(size));
  zip_discard(za);
  if (HaveTool("unzip")) {
    EXPECT_EQ(std::system(("unzip -tqq '" + target + "' >/dev/null").c_str()), 0);
  }
}

TEST(ZipArchiveTest, MoreThan65535EntriesUseZip64) {
  TempDir dir;
  dir.Mkdir("many");
  for (int i = 0; i < 66000; ++i) {
    const std::string path = dir.Path() + "/many/" + std::to_string(i);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ::close(fd);
  }
  const std::string target = dir.Path() + "/many.zip";
  ASSERT_EQ(Zip(target, {Item(dir.Path(), "many", true)}).Code, kZipDone);
  EXPECT_EQ(ReadBack(target).size(), 66001u);
  if (HaveTool("unzip")) {
    EXPECT_EQ(std::system(("unzip -tqq '" + target + "' >/dev/null").c_str()), 0);
  }
}

}  // namespace
}  // namespace kestrum
