#include "core/app/command_line.h"

#include <gtest/gtest.h>

#include <set>

#include "support/test_support.h"

namespace kestrum {
namespace {

// A parsed line in one text: its mode, then every field that is not empty, then " ! " and
// its mistakes joined by " | ".
std::string Describe(const CommandLine& c) {
  static const char* const kModes[] = {"window", "help", "version", "usage", "report", "export", "find", "compare"};
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
  const FindRequest& f = c.Find;
  if (!f.Text.empty()) out += " find=" + f.Text;
  if (f.As != FindRequest::Kind::Plain) out += f.As == FindRequest::Kind::Glob ? " glob" : " regex";
  if (f.MinSize) out += " min=" + std::to_string(*f.MinSize);
  if (f.MaxSize) out += " max=" + std::to_string(*f.MaxSize);
  if (f.Newer) out += " newer=" + std::to_string(*f.Newer);
  if (f.Older) out += " older=" + std::to_string(*f.Older);
  if (c.Types) out += " types";
  if (!c.CompareWith.empty()) out += " compare=" + c.CompareWith;
  list("exclude", c.Excludes);
  list("exclude-from", c.ExcludeFiles);
  if (c.ExcludeCaches) out += " caches";
  if (c.CrossFileSystems) out += " cross";
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
    {R, {"--types"}, "report types ! --types needs a folder or --import FILE"},
    {R,
     {"--types", "/srv", "/data"},
     "report paths=/srv,/data types ! --types takes one folder, not also /data"},
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
    {R, {"--import", "a.json", "--threads", "0"}, "report imports=a.json ! --threads needs a number from 1 to 64"},
    // --find: a folder or saved scans, and the options that narrow it.
    {R, {"--find", "log", "/srv"}, "find paths=/srv find=log"},
    {W, {"/srv", "--find=a b", "--glob"}, "find paths=/srv find=a b glob"},
    {R,
     {"--find", "[", "--regex", "--import", "a.json", "--import", "b.json", "--threads", "2"},
     "find imports=a.json,b.json threads=2 find=[ regex"},
    {R,
     {"--find", "x", "/srv", "--newer", "2024-05-01Z"},
     "find paths=/srv find=x ! --newer needs a date YYYY-MM-DD or a time YYYY-MM-DDTHH:MM:SS"},
    {R,
     {"--find", "x", "/srv", "--min-size", "2k", "--max-size=1G", "--older",
      "2024-05-01T12:30:00+02:00"},
     "find paths=/srv find=x min=2048 max=1073741824 older=1714559400"},
    {R, {"--find", "x"}, "find find=x ! --find needs a folder or --import FILE"},
    {R, {"--find"}, "find ! --find needs a text | --find needs a folder or --import FILE"},
    {R, {"--find", "x", "--find", "y", "/srv"}, "find paths=/srv find=x ! --find takes one text"},
    {R,
     {"--find", "x", "/srv", "/data"},
     "find paths=/srv,/data find=x ! --find takes one folder, not also /data"},
    {R,
     {"--find", "x", "/srv", "--import", "a.json"},
     "find paths=/srv imports=a.json find=x ! --import cannot be combined with a folder (/srv)"},
    {R,
     {"--find", "x", "/srv", "--min-size", "-1", "--hard-links=each"},
     "find paths=/srv each find=x ! --min-size needs a size in bytes, or with k, M, G or T"},
    {R,
     {"/srv", "--glob", "--max-size", "1"},
     "report paths=/srv glob max=1 ! --glob does not apply to --report | --max-size does not apply to "
     "--report"},
    {R,
     {"--export", "f", "/srv", "--find", "x"},
     "export paths=/srv export=f find=x ! --find does not apply to --export"},
    {R,
     {"--import", "a.json", "--threads", "0"},
     "report imports=a.json ! --threads needs a number from 1 to 64"},
    // --compare: the earlier scan, then a folder or one saved scan.
    {R, {"--compare", "old.json.zst", "/srv"}, "compare paths=/srv compare=old.json.zst"},
    {R,
     {"--compare=a", "--import", "b", "--hard-links=each"},
     "compare imports=b each compare=a"},
    {R, {"--compare", "a"}, "compare compare=a ! --compare needs a folder or --import FILE to compare with a"},
    {R,
     {"--compare", "a", "--import", "b", "--import", "c"},
     "compare imports=b,c compare=a ! --compare takes one --import FILE, not also c"},
    {R,
     {"--compare", "a", "/srv", "--compare", "b", "--glob"},
     "compare paths=/srv glob compare=a ! --compare takes one earlier scan | --glob does not apply "
     "to "
     "--compare"},
    {R,
     {"--compare", "a", "/srv", "/data"},
     "compare paths=/srv,/data compare=a ! --compare takes one folder, not also /data"},
    // What a scan leaves out, for this run: repeatable, in order; nothing in a saved scan's
    // report, and a mistake without its value.
    {R,
     {"--exclude", "*.o", "/srv", "--exclude=node_modules", "--exclude-from", "trace.txt",
      "--exclude-caches", "--cross-file-systems"},
     "report paths=/srv exclude=*.o,node_modules exclude-from=trace.txt caches cross"},
    {R, {"--import", "a.json", "--exclude", "x"}, "report imports=a.json exclude=x"},
    {R, {"/srv", "--exclude"}, "report paths=/srv ! --exclude needs a pattern"},
    {W,
     {"--exclude", "x", "/srv"},
     "window paths=/srv exclude=x ! --exclude does not apply to the window"},
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

TEST(CommandLine, SizesAndTimesAsFindTakesThem) {
  const struct {
    const char* Text;
    std::optional<std::uint64_t> Bytes;
  } sizes[] = {{"0", 0},          {"1234", 1234},      {"3k", 3072},
               {"3K", 3072},      {"2m", 2097152},     {"1G", 1073741824},
               {"1t", 1099511627776}, {"16777215T", 18446742974197923840u},
               {"16777216T", {}}, {"18446744073709551615", UINT64_MAX},
               {"18446744073709551616", {}}, {"", {}}, {"k", {}}, {"1kb", {}}, {"1.5k", {}},
               {"-1", {}},        {" 1", {}},          {"1 ", {}}};
  for (const auto& s : sizes) EXPECT_EQ(ParseByteCount(s.Text), s.Bytes) << s.Text;
  const struct {
    const char* Text;
    std::optional<std::int64_t> Seconds;
  } times[] = {{"1970-01-01T00:00:00Z", 0},
               {"2024-05-01T12:30:00Z", 1714566600},
               {"2024-05-01T12:30:00+02:00", 1714559400},
               {"2024-05-01T12:30:00-0130", 1714572000},
               {"2024-05-01T12:30+02", 1714559400},
               {"2000-02-29T23:59:59z", 951868799},
               {"1969-12-31T23:59:59Z", -1},
               {"2023-02-29", {}},
               {"2024-13-01", {}},
               {"2024-04-31", {}},
               {"2024-05-01T24:00:00Z", {}},
               {"2024-05-01T12:60Z", {}},
               {"2024-05-01Z", {}},
               {"2024-05-01T12:30:00+", {}},
               {"2024-05-01T12:30:00+02:", {}},
               {"2024-05-01T12:30:00+0200x", {}},
               {"2024-5-1", {}},
               {"yesterday", {}},
               {"", {}}};
  for (const auto& t : times) EXPECT_EQ(ParseTimeText(t.Text), t.Seconds) << t.Text;
  // A date alone is local midnight: a day later is 86400 seconds later away from a change of
  // the clocks, and the time of day follows in local time.
  const auto day = ParseTimeText("2024-01-10"), next = ParseTimeText("2024-01-11");
  ASSERT_TRUE(day && next);
  EXPECT_EQ(*next - *day, 86400);
  EXPECT_EQ(ParseTimeText("2024-01-10T01:02:03"), *day + 3723);
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
  for (const char* option : {"--find", "--glob", "--regex", "--min-size", "--max-size", "--newer",
                             "--older", "--exclude", "--exclude-from", "--exclude-caches",
                             "--cross-file-systems"})
    EXPECT_NE(report.find(option), std::string::npos) << option;
  const std::string v = VersionText();
  EXPECT_EQ(v.rfind("Kestrum ", 0), 0u);
  EXPECT_EQ(v.back(), '\n');
}

// The rules of a line: each --exclude, the lines of each --exclude-from file that are not
// empty, then the cache rule; a file that cannot be read is named.
TEST(CommandLine, ExcludeRulesOfTheLine) {
  test::TempDir t;
  const std::string file = t.Write("rules", "a*\r\n\n[b]c d\n#x");
  CommandLine line;
  line.Excludes = {"one", "*.two"};
  line.ExcludeFiles = {file};
  line.ExcludeCaches = true;
  std::string error;
  const auto rules = CommandLineExcludes(line, error);
  ASSERT_TRUE(rules) << error;
  std::string lines;
  for (const ExcludeRule& r : *rules) lines += r.Line() + ";";
  EXPECT_EQ(lines, "wildcard,name:one;wildcard,name:*.two;wildcard,name:a*;wildcard,name:[b]c d;"
                   "wildcard,name:#x;caches;");
  line.ExcludeFiles.push_back(t.Path() + "/missing");
  EXPECT_FALSE(CommandLineExcludes(line, error));
  EXPECT_NE(error.find("missing"), std::string::npos) << error;
}

}  // namespace
}  // namespace kestrum
