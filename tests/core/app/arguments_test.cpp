#include "core/app/arguments.h"

#include <gtest/gtest.h>

#include <set>

#include "support/test_support.h"

namespace kestrum {
namespace {

CommandLine Parse(const std::vector<std::string>& args, const std::set<std::string>& folders) {
  return ParseCommandLine(args, [&](const std::string& a) { return folders.count(a) > 0; });
}

TEST(CommandLine, FoldersArePathsAndTakeNoPartInTheTraceTest) {
  // A folder whose name holds the word does not start the log; it is scanned.
  auto c = Parse({"/home/u/stacktraces", "/srv/TRACE"}, {"/home/u/stacktraces", "/srv/TRACE"});
  EXPECT_FALSE(c.Trace);
  EXPECT_EQ(c.Paths, (std::vector<std::string>{"/home/u/stacktraces", "/srv/TRACE"}));

  // Every other argument is searched for the word in any case, anywhere.
  for (const std::string word : {"trace", "/TRACE", "Trace", "tracefile.txt", "--trace"}) {
    c = Parse({word}, {});
    EXPECT_TRUE(c.Trace) << word;
    EXPECT_TRUE(c.Paths.empty()) << word;
    EXPECT_TRUE(c.Unknown.empty()) << word;
  }
  // A folder named "trace" in the current folder is a folder, as the rule says.
  c = Parse({"trace"}, {"trace"});
  EXPECT_FALSE(c.Trace);
  EXPECT_EQ(c.Paths, std::vector<std::string>{"trace"});
  // The word split over two arguments is not the word.
  EXPECT_FALSE(Parse({"tra", "ce"}, {}).Trace);
  EXPECT_FALSE(Parse({}, {}).Trace);
}

TEST(CommandLine, OptionsUnknownOptionsAndOtherArguments) {
  auto c = Parse({"--help", "-V", "/missing", "-x", "--frobnicate", "/a"}, {"/a"});
  EXPECT_TRUE(c.Help);
  EXPECT_TRUE(c.Version);
  // Neither folder nor option: kept as a path, so that resolving it gives its message.
  EXPECT_EQ(c.Paths, (std::vector<std::string>{"/missing", "/a"}));
  EXPECT_EQ(c.Unknown, (std::vector<std::string>{"-x", "--frobnicate"}));
  EXPECT_EQ(UnknownOptionsMessage(c.Unknown),
            "Unknown options: -x --frobnicate (kestrum --help lists the options)");
  EXPECT_EQ(UnknownOptionsMessage({}), "");
  EXPECT_TRUE(Parse({"-h"}, {}).Help);
  // A single "-" is a path (it names no folder, so it gets its message later).
  EXPECT_EQ(Parse({"-"}, {}).Paths, std::vector<std::string>{"-"});

  // After "--" everything is a path: no options, no trace word.
  c = Parse({"--", "--help", "trace"}, {});
  EXPECT_FALSE(c.Help);
  EXPECT_FALSE(c.Trace);
  EXPECT_EQ(c.Paths, (std::vector<std::string>{"--help", "trace"}));
  // Saved scans: the text after --import is a file, never the trace word.
  c = Parse({"--import", "trace.json", "--import", "/srv/TRACE", "--import"}, {});
  EXPECT_EQ(c.Imports, (std::vector<std::string>{"trace.json", "/srv/TRACE"}));
  EXPECT_FALSE(c.Trace);
  EXPECT_TRUE(c.Paths.empty());
  EXPECT_EQ(c.Unknown, std::vector<std::string>{"--import"});  // without its file
  // A folder that looks like an option is a folder.
  c = Parse({"--help"}, {"--help"});
  EXPECT_FALSE(c.Help);
  EXPECT_EQ(c.Paths, std::vector<std::string>{"--help"});
}

TEST(CommandLine, TheFileSystemDecidesWhatIsAFolder) {
  test::TempDir dir;
  const std::string folder = dir.Mkdir("my-stacktraces");
  const std::string file = dir.Write("tracefile", "x");
  const auto c = ParseCommandLine({folder, file});
  EXPECT_TRUE(c.Trace);  // from the file's name, not the folder's
  EXPECT_EQ(c.Paths, std::vector<std::string>{folder});
  EXPECT_TRUE(IsExistingFolder(folder));
  EXPECT_FALSE(IsExistingFolder(file));
  EXPECT_FALSE(IsExistingFolder(""));
  EXPECT_FALSE(IsExistingFolder(folder + std::string(1, '\0') + "x"));
}

TEST(CommandLine, UsageAndVersionTexts) {
  const std::string usage = UsageText("kestrum");
  EXPECT_EQ(usage.rfind("Usage: kestrum [OPTION]... [FOLDER]...\n", 0), 0u);
  for (const char* option : {"--help", "--version", "--report", "--threads", "trace"})
    EXPECT_NE(usage.find(option), std::string::npos) << option;
  const std::string v = VersionText();
  EXPECT_EQ(v.rfind("Kestrum ", 0), 0u);
  EXPECT_EQ(v.back(), '\n');
}

}  // namespace
}  // namespace kestrum
