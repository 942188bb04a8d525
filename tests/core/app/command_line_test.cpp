#include "core/app/command_line.h"

#include <gtest/gtest.h>

#include <set>

#include "support/test_support.h"

namespace kestrum {
namespace {

// A parsed line in one text: its mode, then every field that is not empty, then " ! " and
// its mistakes joined by " | ".
std::string Describe(const CommandLine& c) {
  static const char* const kModes[] = {"window", "help", "version", "usage", "report", "export"};
  std::string out = kModes[static_cast<int>(c.Asks)];
  const auto list = [&out](const char* name, const std::vector<std::string>& items) {
    if (items.empty()) return;
    out += std::string(" ") + name + "=";
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  };
  if (c.Trace) out += " trace";
  list("paths", c.Paths);
  list("imports", c.Imports);
  if (!c.ExportFile.empty()) out += " export=" + c.ExportFile;
  if (c.Threads) out += " threads=" + std::to_string(c.Threads);
  if (c.Links == HardLinkRule::Each) out += " each";
  if (c.Types) out += " types";
  list("unknown", c.Unknown);
  for (std::size_t i = 0; i < c.Mistakes.size(); ++i) out += (i ? " | " : " ! ") + c.Mistakes[i];
  return out;
}

const std::set<std::string> kFolders{"/srv", "/data", "/home/u/stacktraces", "/srv/TRACE"};

std::string Parse(Program program, const std::vector<std::string>& args,
                  const std::set<std::string>& folders = kFolders) {
  return Describe(
      ParseCommandLine(args, program, [&](const std::string& a) { return folders.count(a) > 0; }));
}

constexpr Program W = Program::Window;
constexpr Program R = Program::Report;
const std::string kThreads = " ! --threads needs a number from 1 to 64";

struct Case {
  Program For;
  std::vector<std::string> Args;
  std::string Expected;
};

const Case kCases[] = {
    // The window: folders, the trace word, its own options; unknown options are only named.
    {W, {}, "window"},
    {W, {"/srv", "/data"}, "window paths=/srv,/data"},
    {W, {"/home/u/stacktraces", "/srv/TRACE"}, "window paths=/home/u/stacktraces,/srv/TRACE"},
    {W, {"trace"}, "window trace"},
    {W, {"/TRACE"}, "window trace"},
    {W, {"tracefile.txt"}, "window trace"},
    {W, {"--trace"}, "window trace"},
    {W, {"tra", "ce"}, "window paths=tra,ce"},
    {W,
     {"/missing", "-x", "--frobnicate", "/srv", "-"},
     "window paths=/missing,/srv,- unknown=-x,--frobnicate"},
    {W, {"--", "--help", "trace"}, "window paths=--help,trace"},
    {W,
     {"--import", "trace.json", "--import=/srv/TRACE", "/srv"},
     "window paths=/srv imports=trace.json,/srv/TRACE"},
    {W, {"--import"}, "window ! --import needs a file"},
    {W,
     {"--threads", "4", "/srv"},
     "window paths=/srv threads=4 ! --threads does not apply to the window"},
    {W, {"--help", "-V", "--bogus", "--threads", "x"}, "help unknown=--bogus"},
    {W, {"-?"}, "help"},
    {W, {"-V"}, "version"},
    // The window's program runs the headless modes too, with options in any order.
    {W, {"--report", "--hard-links=each", "/srv"}, "report paths=/srv each"},
    {W, {"--report", "/srv", "--hard-links=each"}, "report paths=/srv each"},
    {W, {"--report", "--import", "a.json"}, "report imports=a.json"},
    // --types is a report of its own, of a folder or of saved scans.
    {R, {"--types", "/srv"}, "report paths=/srv types"},
    {W, {"/srv", "--types", "--hard-links=each"}, "report paths=/srv each types"},
    {R, {"--types", "--import", "a.json"}, "report imports=a.json types"},
    {R, {"--types"}, "report types ! --report needs a folder or --import FILE"},
    {R, {"--types=all", "/srv"}, "report paths=/srv ! --types takes no value"},
    {R,
     {"--types", "--export", "f", "/srv"},
     "export paths=/srv export=f types ! --types does not apply to --export"},
    {W, {"/srv", "--export", "out.json"}, "export paths=/srv export=out.json"},
    {W,
     {"--report", "/srv", "--bogus"},
     "report paths=/srv unknown=--bogus ! unknown option --bogus (--help lists the options)"},
    // The headless program: a folder or saved scans alone ask for their report.
    {R, {}, "usage"},
    {R, {"-h"}, "help"},
    {R, {"--version"}, "version"},
    {R, {"/srv"}, "report paths=/srv"},
    {R,
     {"--import", "a.json", "--import", "b.json.zst", "--hard-links", "each"},
     "report imports=a.json,b.json.zst each"},
    {R, {"trace", "--threads", "8", "--report", "/srv"}, "report trace paths=/srv threads=8"},
    {R, {"--threads=8", "/srv", "--hard-links=once"}, "report paths=/srv threads=8"},
    {R, {"--export", "-", "/srv", "--threads", "2"}, "export paths=/srv export=- threads=2"},
    {R,
     {"--export", "/tmp/tracefile.json", "/srv"},
     "export paths=/srv export=/tmp/tracefile.json"},
    {R, {"--", "--report"}, "report paths=--report"},
    // Mistakes: unknown options, wrong or missing values, options that mean nothing here.
    {R,
     {"--bogus", "/srv"},
     "report paths=/srv unknown=--bogus ! unknown option --bogus (--help lists the options)"},
    {R, {"/srv", "--threads", "0"}, "report paths=/srv" + kThreads},
    {R, {"/srv", "--threads", "65"}, "report paths=/srv" + kThreads},
    {R, {"/srv", "--threads", "2x"}, "report paths=/srv" + kThreads},
    {R, {"/srv", "--threads="}, "report paths=/srv" + kThreads},
    {R, {"/srv", "--threads"}, "report paths=/srv" + kThreads},
    {R, {"--threads", "trace", "/srv"}, "report paths=/srv" + kThreads},
    {R, {"/srv", "--hard-links=maybe"}, "report paths=/srv ! --hard-links takes =once or =each"},
    {R, {"/srv", "--hard-links"}, "report paths=/srv ! --hard-links takes =once or =each"},
    {R,
     {"--report=/srv"},
     "report ! --report takes no value | --report needs a folder or --import FILE"},
    {R, {"trace"}, "report trace ! --report needs a folder or --import FILE"},
    {R, {"/srv", "/data"}, "report paths=/srv,/data ! --report takes one folder, not also /data"},
    {R,
     {"--import", "a.json", "/srv"},
     "report paths=/srv imports=a.json ! --import cannot be combined with a folder (/srv)"},
    {R, {"--import", "a.json", "--threads", "2"}, "report imports=a.json threads=2"},
    {R, {"--import"}, "report ! --import needs a file"},
    {R, {"--export"}, "export ! --export needs a file and a folder"},
    {R, {"--export", "out.json"}, "export export=out.json ! --export needs a file and a folder"},
    {R,
     {"--export", "a", "/srv", "/data"},
     "export paths=/srv,/data export=a ! --export takes one folder, not also /data"},
    {R,
     {"--export", "a", "--export", "b", "/srv"},
     "export paths=/srv export=a ! --export takes one file"},
    {R,
     {"--report", "--export", "f", "/srv", "--import", "x", "--hard-links=each"},
     "export paths=/srv imports=x export=f each ! --report does not apply to --export | "
     "--import does not apply to --export"},
    {R,
     {"--import", "a.json", "--threads", "0"},
     "report imports=a.json ! --threads needs a number from 1 to 64"},
    // In the order of the arguments, whatever their kind.
    {R,
     {"-x", "--threads", "0", "--bogus", "/srv"},
     "report paths=/srv unknown=-x,--bogus ! unknown option -x (--help lists the options) | "
     "--threads needs a number from 1 to 64 | unknown option --bogus (--help lists the options)"},
};

TEST(CommandLine, BothProgramsReadTheirArguments) {
  for (const Case& c : kCases) {
    std::string args;
    for (const std::string& a : c.Args) args += " " + a;
    EXPECT_EQ(Parse(c.For, c.Args), c.Expected)
        << (c.For == W ? "kestrum" : "kestrum-report") << args;
  }
}

// An existing folder is a folder whatever it looks like: the word or an option.
TEST(CommandLine, AFolderIsAFolderWhateverItsName) {
  EXPECT_EQ(Parse(W, {"trace", "--help"}, {"trace", "--help"}), "window paths=trace,--help");
  EXPECT_EQ(Parse(R, {"--report", "trace"}, {"trace"}), "report paths=trace");
}

TEST(CommandLine, TheFileSystemDecidesWhatIsAFolder) {
  test::TempDir dir;
  const std::string folder = dir.Mkdir("my-stacktraces");
  const std::string file = dir.Write("tracefile", "x");
  const auto c = ParseCommandLine({folder, file}, Program::Window);
  EXPECT_TRUE(c.Trace);  // from the file's name, not the folder's
  EXPECT_EQ(c.Paths, std::vector<std::string>{folder});
  EXPECT_TRUE(IsExistingFolder(folder));
  EXPECT_FALSE(IsExistingFolder(file));
  EXPECT_FALSE(IsExistingFolder(""));
  EXPECT_FALSE(IsExistingFolder(folder + std::string(1, '\0') + "x"));
}

TEST(CommandLine, WindowNoticesNameUnknownOptionsOnceThenEachMistake) {
  EXPECT_EQ(UnknownOptionsMessage({"-x"}), "Unknown option: -x (kestrum --help lists the options)");
  EXPECT_TRUE(WindowNotices(ParseCommandLine({}, Program::Window)).empty());
  const auto notices =
      WindowNotices(ParseCommandLine({"-x", "--threads=2", "--frobnicate"}, Program::Window));
  EXPECT_EQ(notices, (std::vector<std::string>{
                         "Unknown options: -x --frobnicate (kestrum --help lists the options)",
                         "--threads does not apply to the window"}));
}

TEST(CommandLine, EachProgramHasItsUsage) {
  const std::string window = UsageText(Program::Window, "kestrum");
  EXPECT_EQ(window.rfind("Usage: kestrum [OPTION]... [FOLDER]...\n", 0), 0u);
  const std::string report = UsageText(Program::Report, "kestrum-report");
  EXPECT_EQ(report.rfind("Usage: kestrum-report [OPTION]... [--report] FOLDER\n", 0), 0u);
  for (const char* option : {"--help", "--version", "--report", "--import", "--export", "--threads",
                             "--hard-links", "--types", "trace"}) {
    EXPECT_NE(window.find(option), std::string::npos) << option;
    EXPECT_NE(report.find(option), std::string::npos) << option;
  }
  const std::string v = VersionText();
  EXPECT_EQ(v.rfind("Kestrum ", 0), 0u);
  EXPECT_EQ(v.back(), '\n');
}

}  // namespace
}  // namespace kestrum
