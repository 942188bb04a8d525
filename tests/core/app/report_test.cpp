#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <set>
#include <sstream>

#include "core/app/headless.h"
#include "core/app/report_text.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

std::vector<std::vector<std::string>> Records(const std::string& out) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream in(out);
  std::string line;
  while (std::getline(in, line)) {
    std::vector<std::string> f;
    std::size_t pos = 0;
    for (;;) {
      const std::size_t tab = line.find('\t', pos);
      f.push_back(line.substr(pos, tab - pos));
      if (tab == std::string::npos) break;
      pos = tab + 1;
    }
    rows.push_back(f);
  }
  return rows;
}

TEST(ReportFormat, Escaping) {
  EXPECT_EQ(EscapeReportText("a\\b\tc\nd\re"), "a\\\\b\\tc\\nd\\re");
  EXPECT_EQ(EscapeReportText(std::string("\x01\x1f\x7f x", 5)), "\\x01\\x1F\\x7F x");
  EXPECT_EQ(EscapeReportText("\xff\xc3\xa9\"'"), "\xff\xc3\xa9\"'");
  EXPECT_EQ(ReportNumber(0), "0");
  EXPECT_EQ(ReportNumber(1e15 + 3), "1000000000000003");
  EXPECT_EQ(ReportNumber(4096), "4096");
  EXPECT_EQ(ReportNumber(-0.0), "-0");
  EXPECT_EQ(ReportNumber(-12.7), "-12");
  EXPECT_EQ(ReportNumber(3e20), "300000000000000000000");
  EXPECT_EQ(ReportNumber(9007199254740993.0), "9007199254740992");
}

// The report of a tree is the same text on one thread and on several, but for the free
// space, which other programs change between two runs.
TEST(Report, SameOnOneAndSeveralThreads) {
  TempDir t;
  for (int i = 0; i < 40; ++i)
    t.Write("d" + std::to_string(i % 7) + "/e" + std::to_string(i % 3) + "/f" + std::to_string(i),
            std::string(static_cast<std::size_t>(i % 5) * 1000, 'x'));
  FileSystemService fs;
  auto withoutFree = [](std::string out) {
    auto rows = Records(out);
    rows[0][3].clear();
    return rows;
  };
  std::string one, many;
  ASSERT_TRUE(RunReport(fs, t.Path(), one, {}, 1));
  ASSERT_TRUE(RunReport(fs, t.Path(), many, {}, 4));
  EXPECT_EQ(withoutFree(one), withoutFree(many));
  EXPECT_GT(withoutFree(one).size(), 40u);
}

// A report of a scan with rules names them on a line before the drive's; what they leave out
// is not counted.
TEST(Report, RulesLineBeforeTheDrive) {
  TempDir t;
  t.Write("a", std::string(100, 'a'));
  t.Write("b.iso", std::string(50, 'b'));
  t.Write("node_modules/c", std::string(7, 'c'));
  ScanRules rules;
  std::string error;
  ExcludeRule iso, modules;
  iso.Pattern = "*.iso";
  modules.Pattern = "node_modules";
  rules.Excludes = ExcludeRules::Make({iso, modules}, error);
  rules.CrossFileSystems = true;
  FileSystemService fs;
  std::string out;
  ASSERT_TRUE(RunReport(fs, t.Path(), out, {}, 2, HardLinkRule::Once, rules));
  const auto rows = Records(out);
  ASSERT_GE(rows.size(), 3u);
  EXPECT_EQ(rows[0], (std::vector<std::string>{"rules", "wildcard,name:*.iso",
                                               "wildcard,name:node_modules",
                                               "cross-file-systems"}));
  EXPECT_EQ(rows[1][0], "drive");
  EXPECT_EQ(rows[1][4], "100");
  EXPECT_EQ(rows[2][0], "folder");
  EXPECT_EQ(rows[3][0], "largest");  // the root has no subfolder left
}

TEST(Report, RecordsOfAScannedFolder) {
  TempDir t;
  t.Write("a", std::string(100, 'a'));
  t.Write("sub/new\nline", std::string(3, 'b'));
  t.Write("sub/empty", "");
  std::string out;
  FileSystemService fs;
  ASSERT_TRUE(RunReport(fs, t.Path(), out, {}));
  const auto rows = Records(out);
  ASSERT_EQ(rows.size(), 1u + 2u + 2u + 1u);
  const auto& drive = rows[0];
  ASSERT_EQ(drive.size(), 8u);
  EXPECT_EQ(drive[0], "drive");
  EXPECT_EQ(drive[1], t.Path());
  EXPECT_GT(std::stod(drive[2]), 0);
  const double unit = std::stod(drive[6]);
  EXPECT_GE(unit, 1);
  EXPECT_EQ(drive[4], "103");
  EXPECT_FALSE(drive[7].empty());  // the file system of the volume holding it
  const auto& root = rows[1];
  ASSERT_EQ(root.size(), 11u);
  EXPECT_EQ(root[0], "folder");
  EXPECT_EQ(root[1], t.Path() + "/");
  EXPECT_EQ(root[2], "1");
  EXPECT_EQ(root[3], "103");
  EXPECT_EQ(root[5], "3");  // FileCount
  EXPECT_EQ(root[6], "1");  // FolderCount
  EXPECT_EQ(root[9], "1");  // fFileCount
  EXPECT_EQ(rows[2][1], t.Path() + "/sub/");
  EXPECT_EQ(rows[2][2], "2");
  EXPECT_EQ(rows[3][0], "largest");
  std::set<std::string> names{rows[3][4], rows[4][4]};
  EXPECT_TRUE(names.count(t.Path() + "/sub/new\\nline"));
  EXPECT_EQ(rows[5][0], "folder100");
  EXPECT_EQ(rows[5][1], t.Path() + "/100 Largest Files");
  EXPECT_EQ(rows[5][2], "2");
  EXPECT_EQ(rows[5][3], "103");
}

// The types table: categories then their keys, shares of the counted bytes, the key of files
// without one named, paths escaped as in the report.
TEST(ReportFormat, TypesTable) {
  TypeCounts counts;
  counts.Files = 3;
  counts.Bytes = 1000;
  CategoryTotals images{FileCategory::Images, 2, 750, 8192, "/p/a\tb.jpg", 700, {}};
  images.Keys.push_back({"jpg", "image/jpeg", 2, 750, 8192, "/p/a\tb.jpg", 700});
  CategoryTotals other{FileCategory::Other, 1, 250, 4096, "/p/x", 250, {}};
  other.Keys.push_back({"", "application/octet-stream", 1, 250, 4096, "/p/x", 250});
  counts.Categories = {images, other};
  EXPECT_EQ(FormatTypesReport(counts),
            "category\tkey\tfiles\tbytes\tallocated\tshare%\tlargest\tlargest path\n"
            "Images\t-\t2\t750\t8192\t75.0\t700\t/p/a\\tb.jpg\n"
            "Images\tjpg\t2\t750\t8192\t75.0\t700\t/p/a\\tb.jpg\n"
            "Other\t-\t1\t250\t4096\t25.0\t250\t/p/x\n"
            "Other\t(none)\t1\t250\t4096\t25.0\t250\t/p/x\n");
}

// What a program prints and returns for a command line without a window; Status -1 when the
// line asks for the window.
struct Outcome {
  int Status;
  std::string Out, Err;
};

Outcome RunHeadless(Program program, const std::vector<std::string>& args) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const auto status =
      RunWithoutWindow(ParseCommandLine(args, program),
                       program == Program::Report ? "/usr/bin/kestrum-report" : "/usr/bin/kestrum");
  Outcome out{status.value_or(-1), "", ""};
  out.Out = testing::internal::GetCapturedStdout();
  out.Err = testing::internal::GetCapturedStderr();
  return out;
}

// Each mode's status and where its text goes. A mistake is one line on standard error and
// nothing on standard output.
TEST(Report, WhatEachCommandLinePrintsAndReturns) {
  TempDir t;
  const std::string file = t.Write("plain", "x");
  t.Write("tree/a", "abc");
  const std::string tree = t.Path() + "/tree";
  const std::string saved = t.Path() + "/scan.json";
  const std::string missing = t.Path() + "/nothing";
  constexpr Program W = Program::Window;
  constexpr Program R = Program::Report;
  const std::string kTypesHeader =
      "category\tkey\tfiles\tbytes\tallocated\tshare%\tlargest\tlargest path\n";
  struct Case {
    Program For;
    std::vector<std::string> Args;
    int Status;
    std::string Out;  // how standard output starts
    std::string Err;  // how standard error starts; ending in a newline, all of it
  } cases[] = {
      {W, {}, -1, "", ""},
      {W, {tree, "--import", saved}, -1, "", ""},
      {W, {"--help"}, 0, "Usage: kestrum [OPTION]... [FOLDER]...\n", ""},
      {R, {"-h"}, 0, "Usage: kestrum-report [OPTION]... [--report] FOLDER\n", ""},
      {R, {"-V"}, 0, "Kestrum ", ""},
      {R, {}, 2, "", "Usage: kestrum-report "},
      {R,
       {"--report", tree, "--bogus"},
       2,
       "",
       "kestrum: unknown option --bogus (--help lists the options)\n"},
      {W,
       {"--report", tree, "--threads", "0"},
       2,
       "",
       "kestrum: --threads needs a number from 1 to 64\n"},
      {R, {"--report"}, 2, "", "kestrum: --report needs a folder or --import FILE\n"},
      {R, {"--report", missing}, 2, "", "kestrum: " + missing + " is not a folder\n"},
      {R, {file}, 2, "", "kestrum: " + file + " is not a folder\n"},
      {W, {"--export", saved, file}, 2, "", "kestrum: " + file + " is not a folder\n"},
      {R, {"--import", missing}, 1, "", "kestrum: "},
      // The export on two threads, then its report alone.
      {R, {"--threads=2", "--export", saved, tree}, 0, "", ""},
      {R, {"--import", saved}, 0, "drive\t" + saved + "\t", ""},
      // The types table of a folder and of a saved scan: its one file has no ending.
      {R, {"--types", tree}, 0, kTypesHeader + "Other\t-\t1\t3\t", ""},
      {W, {"--types", "--import", saved}, 0, kTypesHeader + "Other\t-\t1\t3\t", ""},
      // All or nothing: a damaged later file leaves standard output empty.
      {R, {"--import", saved, "--import", file}, 1, "", "kestrum: Cannot open the saved scan"},
      // --find: a line a match; none is no line and no failure; a bad pattern is a mistake.
      {R, {"--find", "A", tree}, 0, "3\t", ""},
      {R, {"--find", "?", "--glob", "--import", saved}, 0, "3\t", ""},
      {R, {"--find", "zzz", tree}, 0, "", ""},
      {R, {"--find", "a", tree, "--min-size", "4"}, 0, "", ""},
      {R, {"--find", "a", tree, "--newer", "2999-01-01"}, 0, "", ""},
      {R,
       {"--find", "(", "--regex", tree},
       2,
       "",
       "kestrum: bad pattern for --find: missing closing parenthesis at offset 1\n"},
      {R, {"--find", "a", "--min-size", "1x", tree}, 2, "",
       "kestrum: --min-size needs a size in bytes, or with k, M, G or T\n"},
  };
  for (const Case& c : cases) {
    std::string line;
    for (const std::string& a : c.Args) line += " " + a;
    const Outcome o = RunHeadless(c.For, c.Args);
    EXPECT_EQ(o.Status, c.Status) << line;
    // Nothing expected is nothing at all.
    EXPECT_EQ(c.Out.empty() ? o.Out : o.Out.substr(0, c.Out.size()), c.Out) << line;
    const bool whole = c.Err.empty() || c.Err.back() == '\n';
    EXPECT_EQ(whole ? o.Err : o.Err.substr(0, c.Err.size()), c.Err) << line;
  }
}

// A --find line: size, time in UTC, the path escaped as the report escapes names.
TEST(Report, FindPrintsSizeTimeAndEscapedPath) {
  TempDir t;
  const std::string name = t.Write("tree/t\tab.log", "hello");
  const timespec times[2] = {{1714566600, 0}, {1714566600, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, name.c_str(), times, 0), 0);
  t.Write("tree/sub/TAB.LOG", "longer text");
  const Outcome o = RunHeadless(Program::Report, {"--find", "AB.log", t.Path() + "/tree"});
  EXPECT_EQ(o.Status, 0);
  EXPECT_EQ(o.Err, "");
  const std::string second = "5\t2024-05-01T12:30:00Z\t" + t.Path() + "/tree/t\\tab.log\n";
  ASSERT_GT(o.Out.size(), second.size());
  EXPECT_EQ(o.Out.substr(0, 3), "11\t");
  EXPECT_EQ(o.Out.substr(o.Out.size() - second.size()), second);
}

// A relative, non-canonical FOLDER is reported under its canonical path.
TEST(Report, AFolderIsReportedUnderItsCanonicalPath) {
  TempDir t;
  t.Mkdir("x/y");
  const Outcome o = RunHeadless(Program::Report, {t.Path() + "/x/../x//y/."});
  EXPECT_EQ(o.Status, 0);
  EXPECT_EQ(o.Out.find("folder\t" + t.Path() + "/x/y/\t1\t"), o.Out.find('\n') + 1);
}

// A long report goes out in pieces that join to the whole text; a write that fails ends it.
TEST(Report, WrittenInPiecesAndStoppedByAFailedWrite) {
  DiskObject drive;
  drive.Class = ObjectClass::Drive;
  drive.SetPath("/m");
  auto root = std::make_unique<DiskObject>();
  root->SetPath("/m/");
  root->Parent = &drive;
  DiskObject* parent = drive.DiskObjects().Add(std::move(root));
  for (int i = 0; i < 40000; ++i) {
    auto f = std::make_unique<DiskObject>();
    f->Name = "folder-with-a-longer-name-" + std::to_string(i);
    f->Parent = parent;
    f->Level = 2;
    drive.DiskObjects().Add(std::move(f));
  }
  std::string whole;
  FormatReport(drive, whole);
  ASSERT_GT(whole.size(), 2u << 20);
  std::string joined;
  int pieces = 0;
  EXPECT_TRUE(FormatReport(drive, [&](std::string_view p) {
    ++pieces;
    joined += p;
    return true;
  }));
  EXPECT_EQ(joined, whole);
  EXPECT_GE(pieces, 2);
  pieces = 0;
  EXPECT_FALSE(FormatReport(drive, [&](std::string_view) { return ++pieces < 2; }));
  EXPECT_EQ(pieces, 2);
}

// Standard output on a full disk: the report fails with a message instead of exiting 0.
TEST(Report, FullDiskIsAFailure) {
  TempDir t;
  t.Write("a/b", "x");
  std::fflush(stdout);
  const int saved = ::dup(1);
  const int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  ::dup2(full, 1);
  ::close(full);
  testing::internal::CaptureStderr();
  const auto status =
      RunWithoutWindow(ParseCommandLine({"--report", t.Path()}, Program::Report), "kestrum-report");
  const std::string err = testing::internal::GetCapturedStderr();
  std::fflush(stdout);
  std::clearerr(stdout);
  ::dup2(saved, 1);
  ::close(saved);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("kestrum: cannot write the report: (28) No space left on device"),
            std::string::npos)
      << err;
}

}  // namespace
}  // namespace kestrum
