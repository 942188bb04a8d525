// kestrum-report --compare: a saved scan against the folder now or against a later saved scan.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "core/app/command_line.h"
#include "core/app/headless.h"
#include "core/saved/json_export.h"
#include "core/scan/scanning.h"
#include "support/test_support.h"

namespace kestrum {
namespace {

using test::TempDir;

struct Outcome {
  std::optional<int> Status;
  std::string Out, Err;
};

Outcome Report(const std::vector<std::string>& args) {
  Outcome r;
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  r.Status = RunWithoutWindow(ParseCommandLine(args, Program::Report), "kestrum-report");
  r.Err = testing::internal::GetCapturedStderr();
  r.Out = testing::internal::GetCapturedStdout();
  return r;
}

std::string Export(const std::string& root, const std::string& file) {
  std::string error;
  Scanning = true;
  EXPECT_TRUE(ExportToFile(root, file, error)) << error;
  Scanning = false;
  return file;
}

// The tree is changed from outside in every way a user meets: a file grown, one added (with a
// name the report escapes), a file and a folder removed, a folder renamed, a hard link taken
// away and two added. Every change is a line, and nothing else is: the root's first name of
// the linked file holds its bytes (it is met before any subfolder), so the names added and
// removed elsewhere change no folder's total.
TEST(CompareReport, LinesLargestFirstWithEscapedPaths) {
  TempDir t;
  const std::string root = t.Mkdir("tree");
  const std::string r = root + "/";
  t.Write("tree/keep", std::string(10, 'k'));
  t.Write("tree/grows", std::string(100, 'g'));
  t.Write("tree/old/went", std::string(30, 'w'));
  t.Write("tree/big", std::string(2000, 'b'));
  t.Write("tree/dir/x", std::string(50, 'x'));
  t.Mkdir("tree/sub");
  ASSERT_EQ(::link((r + "big").c_str(), (r + "sub/l0").c_str()), 0);
  const std::string old = Export(root, t.Path() + "/old.json.zst");

  const Outcome same = Report({"--compare", old, root});
  EXPECT_EQ(same.Status, 0) << same.Err;
  EXPECT_EQ(same.Out, "");

  t.Write("tree/grows", std::string(1100, 'g'));
  ::unlink((root + "/old/went").c_str());
  ::rmdir((root + "/old").c_str());
  t.Write("tree/new\tline\n", std::string(7, 'n'));
  ASSERT_EQ(std::rename((r + "dir").c_str(), (r + "moved").c_str()), 0);
  ASSERT_EQ(::unlink((r + "sub/l0").c_str()), 0);
  ASSERT_EQ(::link((r + "big").c_str(), (r + "sub/l1").c_str()), 0);
  ASSERT_EQ(::link((r + "big").c_str(), (r + "moved/l2").c_str()), 0);
  const std::string expected = "+2000\t0\t2000\tnew\t" + r + "moved/l2\n" +
                               "-2000\t2000\t0\tremoved\t" + r + "sub/l0\n" +
                               "+2000\t0\t2000\tnew\t" + r + "sub/l1\n" +
                               "+1000\t100\t1100\tchanged\t" + r + "grows\n" +
                               "+977\t2190\t3167\tchanged\t" + r + "\n" +
                               "-50\t50\t0\tremoved\t" + r + "dir/\n" +
                               "-50\t50\t0\tremoved\t" + r + "dir/x\n" +
                               "+50\t0\t50\tnew\t" + r + "moved/\n" +
                               "+50\t0\t50\tnew\t" + r + "moved/x\n" +
                               "-30\t30\t0\tremoved\t" + r + "old/\n" +
                               "-30\t30\t0\tremoved\t" + r + "old/went\n" +
                               "+7\t0\t7\tnew\t" + r + "new\\tline\\n\n";
  const Outcome now = Report({"--compare", old, root});
  EXPECT_EQ(now.Status, 0) << now.Err;
  EXPECT_EQ(now.Out, expected);
  // Two saved scans say the same as a saved scan and the folder.
  const std::string later = Export(root, t.Path() + "/new.json");
  const Outcome saved = Report({"--compare", old, "--import", later});
  EXPECT_EQ(saved.Status, 0) << saved.Err;
  EXPECT_EQ(saved.Out, expected);
}

TEST(CompareReport, AFileThatCannotBeReadExitsTwo) {
  TempDir t;
  const std::string root = t.Mkdir("tree");
  const std::string good = Export(root, t.Path() + "/good.json");
  const std::string bad = t.Write("bad.json", "[1,2,{\"progname\":\"x\"},[{\"name\":");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--compare", bad, root},
        std::vector<std::string>{"--compare", good, "--import", bad},
        std::vector<std::string>{"--compare", t.Path() + "/missing.json", root}}) {
    const Outcome r = Report(args);
    EXPECT_EQ(r.Status, 2) << args[1];
    EXPECT_EQ(r.Out, "");
    EXPECT_EQ(r.Err.rfind("kestrum: ", 0), 0u) << r.Err;
  }
}

}  // namespace
}  // namespace kestrum
