#include "core/app/command_line.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string_view>
#include <utility>

#include "core/trace/trace_log.h"
#include "kestrum_version.h"

namespace kestrum {

std::optional<std::vector<ExcludeRule>> CommandLineExcludes(const CommandLine& line,
                                                            std::string& error) {
  std::vector<ExcludeRule> rules;
  const auto add = [&rules](std::string pattern) {
    ExcludeRule r;
    r.Pattern = std::move(pattern);
    rules.push_back(std::move(r));
  };
  for (const std::string& p : line.Excludes) add(p);
  for (const std::string& file : line.ExcludeFiles) {
    std::FILE* f = std::fopen(file.c_str(), "rb");
    if (!f) {
      error = "cannot read " + file + ": " + std::strerror(errno);
      return std::nullopt;
    }
    std::string text;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) {
      error = "cannot read " + file;
      return std::nullopt;
    }
    std::size_t at = 0;
    while (at < text.size()) {
      std::size_t end = text.find('\n', at);
      if (end == std::string::npos) end = text.size();
      std::string pattern = text.substr(at, end - at);
      if (!pattern.empty() && pattern.back() == '\r') pattern.pop_back();
      if (!pattern.empty()) add(std::move(pattern));
      at = end + 1;
    }
  }
  if (line.ExcludeCaches) {
    ExcludeRule r;
    r.What = ExcludeRule::Kind::Caches;
    rules.push_back(r);
  }
  return rules;
}

bool IsExistingFolder(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

namespace {

// What a line can ask for once its mode is settled; an option names those it means
// something in.
enum Use : unsigned {
  kWindow = 1u << 0,
  kReportFolder = 1u << 1,
  kReportImports = 1u << 2,
  kExport = 1u << 3,
  kFind = 1u << 4,
  kCompare = 1u << 5,
  kAnywhere = kWindow | kReportFolder | kReportImports | kExport | kFind | kCompare,
};

std::string UseName(unsigned use) {
  switch (use) {
    case kWindow:
      return "the window";
    case kReportFolder:
      return "--report";
    case kReportImports:
      return "--import";
    case kFind:
      return "--find";
    case kCompare:
      return "--compare";
    default:
      return "--export";
  }
}

// What the options have said while the line is read, before its mode is settled.
struct Reading {
  CommandLine& Line;
  bool Help = false;
  bool Version = false;
  bool Report = false;
  bool Export = false;
  bool Import = false;  // given, even without its file: the report is then of saved scans
  bool Find = false;
  bool Compare = false;
};

using Outcome = std::string;  // what is wrong with an option's value, or ""

// How each option is taken into the reading; value is null for an option that takes none,
// or whose value is missing.
Outcome TakeHelp(Reading& r, const std::string*) {
  r.Help = true;
  return {};
}

Outcome TakeVersion(Reading& r, const std::string*) {
  r.Version = true;
  return {};
}

Outcome TakeReport(Reading& r, const std::string*) {
  r.Report = true;
  return {};
}

// A report of its own kind: it asks for the report, of a folder or of saved scans.
Outcome TakeTypes(Reading& r, const std::string*) {
  r.Report = true;
  r.Line.Types = true;
  return {};
}

// Noted even without its file, so that the line stays headless and names what is missing.
Outcome TakeExport(Reading& r, const std::string* file) {
  const bool again = r.Export;
  r.Export = true;
  if (again) return "--export takes one file";
  if (!file || file->empty()) return "--export needs a file and a folder";
  r.Line.ExportFile = *file;
  return {};
}

Outcome TakeImport(Reading& r, const std::string* file) {
  r.Import = true;
  if (!file || file->empty()) return "--import needs a file";
  r.Line.Imports.push_back(*file);
  return {};
}

Outcome TakeThreads(Reading& r, const std::string* n) {
  unsigned value = 0;
  const char* end = n ? n->data() + n->size() : nullptr;
  if (!n || std::from_chars(n->data(), end, value).ptr != end || value < 1 || value > 64)
    return "--threads needs a number from 1 to 64";
  r.Line.Threads = value;
  return {};
}

Outcome TakeHardLinks(Reading& r, const std::string* rule) {
  if (!rule || (*rule != "once" && *rule != "each")) return "--hard-links takes =once or =each";
  r.Line.Links = *rule == "each" ? HardLinkRule::Each : HardLinkRule::Once;
  return {};
}

Outcome TakeExclude(Reading& r, const std::string* pattern) {
  if (!pattern || pattern->empty()) return "--exclude needs a pattern";
  r.Line.Excludes.push_back(*pattern);
  return {};
}

Outcome TakeExcludeFrom(Reading& r, const std::string* file) {
  if (!file || file->empty()) return "--exclude-from needs a file";
  r.Line.ExcludeFiles.push_back(*file);
  return {};
}

Outcome TakeExcludeCaches(Reading& r, const std::string*) {
  r.Line.ExcludeCaches = true;
  return {};
}

Outcome TakeCross(Reading& r, const std::string*) {
  r.Line.CrossFileSystems = true;
  return {};
}

// --find and the options that narrow what it finds.
Outcome TakeFind(Reading& r, const std::string* text) {
  const bool again = r.Find;
  r.Find = true;
  if (again) return "--find takes one text";
  if (!text || text->empty()) return "--find needs a text";
  r.Line.Find.Text = *text;
  return {};
}

// --compare OLD: what changed since the saved scan OLD.
Outcome TakeCompare(Reading& r, const std::string* file) {
  const bool again = r.Compare;
  r.Compare = true;
  if (again) return "--compare takes one earlier scan";
  if (!file || file->empty()) return "--compare needs a saved scan and a folder or --import FILE";
  r.Line.CompareWith = *file;
  return {};
}

Outcome TakeGlob(Reading& r, const std::string*) {
  r.Line.Find.As = FindRequest::Kind::Glob;
  return {};
}

Outcome TakeRegex(Reading& r, const std::string*) {
  r.Line.Find.As = FindRequest::Kind::Regex;
  return {};
}

Outcome TakeSize(std::optional<std::uint64_t>& into, const char* option, const std::string* n) {
  into = n ? ParseByteCount(*n) : std::nullopt;
  if (!into) return std::string(option) + " needs a size in bytes, or with k, M, G or T";
  return {};
}

Outcome TakeMinSize(Reading& r, const std::string* n) {
  return TakeSize(r.Line.Find.MinSize, "--min-size", n);
}

Outcome TakeMaxSize(Reading& r, const std::string* n) {
  return TakeSize(r.Line.Find.MaxSize, "--max-size", n);
}

Outcome TakeTime(std::optional<std::int64_t>& into, const char* option, const std::string* t) {
  into = t ? ParseTimeText(*t) : std::nullopt;
  if (!into)
    return std::string(option) + " needs a date YYYY-MM-DD or a time YYYY-MM-DDTHH:MM:SS";
  return {};
}

Outcome TakeNewer(Reading& r, const std::string* t) {
  return TakeTime(r.Line.Find.Newer, "--newer", t);
}

Outcome TakeOlder(Reading& r, const std::string* t) {
  return TakeTime(r.Line.Find.Older, "--older", t);
}

// One option of either program: its names (the first is the one messages use), whether it
// takes a value, where it means something, how it is taken, and whether it only tunes how a
// mode runs: such an option given to a headless mode it means nothing in is ignored (its value
// still checked), as it always was, since scripts pass it to every run.
struct Option {
  std::string_view Names[3];
  bool TakesValue;
  unsigned MeansSomethingIn;
  Outcome (*Take)(Reading& r, const std::string* value);
  bool Tunes = false;
};

// Every option of both programs: a new option is one entry here and its lines in the usage.
const Option kOptions[] = {
    {{"--help", "-h", "-?"}, false, kAnywhere, TakeHelp},
    {{"--version", "-V"}, false, kAnywhere, TakeVersion},
    {{"--report"}, false, kReportFolder | kReportImports, TakeReport},
    {{"--types"}, false, kReportFolder | kReportImports, TakeTypes},
    {{"--export"}, true, kExport, TakeExport},
    {{"--import"}, true, kWindow | kReportImports | kFind | kCompare, TakeImport},
    {{"--threads"}, true, kReportFolder | kExport | kFind | kCompare, TakeThreads, true},
    {{"--hard-links"}, true, kReportFolder | kReportImports | kCompare, TakeHardLinks, true},
    {{"--compare"}, true, kCompare, TakeCompare},
    {{"--exclude"}, true, kReportFolder | kExport | kFind, TakeExclude, true},
    {{"--exclude-from"}, true, kReportFolder | kExport | kFind, TakeExcludeFrom, true},
    {{"--exclude-caches"}, false, kReportFolder | kExport | kFind, TakeExcludeCaches,
     true},
    {{"--cross-file-systems"}, false, kReportFolder | kExport | kFind, TakeCross, true},
    {{"--find"}, true, kFind, TakeFind},
    {{"--glob"}, false, kFind, TakeGlob},
    {{"--regex"}, false, kFind, TakeRegex},
    {{"--min-size"}, true, kFind, TakeMinSize},
    {{"--max-size"}, true, kFind, TakeMaxSize},
    {{"--newer"}, true, kFind, TakeNewer},
    {{"--older"}, true, kFind, TakeOlder},
};

// The option an argument names, and where its attached value starts ("--threads=4"), or npos.
struct Match {
  const Option* Found = nullptr;
  std::size_t ValueAt = std::string::npos;
};

Match FindOption(const std::string& arg) {
  for (const Option& o : kOptions)
    for (const std::string_view name : o.Names) {
      if (name.empty()) continue;
      if (arg == name) return {&o};
      if (name.starts_with("--") && arg.size() > name.size() && arg.starts_with(name) &&
          arg[name.size()] == '=')
        return {&o, name.size() + 1};
    }
  return {};
}

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& args, Program program,
                             const std::function<bool(const std::string&)>& isFolder) {
  const auto folder = [&](const std::string& a) {
    return isFolder ? isFolder(a) : IsExistingFolder(a);
  };
  CommandLine line;
  line.For = program;
  Reading r{line};
  // Each option as given (its argument's place, the option, what was wrong with its value)
  // and each unknown option, so that mistakes come out in the order of the arguments.
  struct Given {
    std::size_t At;
    const Option* Opt;
    Outcome Wrong;
  };
  std::vector<Given> given;
  std::vector<std::size_t> unknownAt;
  bool onlyPaths = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (onlyPaths || folder(a)) {
      line.Paths.push_back(a);
    } else if (a == "--") {
      onlyPaths = true;
    } else if (const Match m = FindOption(a); m.Found) {
      const Option& o = *m.Found;
      const std::size_t at = i;
      std::string attached;
      const std::string* value = nullptr;
      if (m.ValueAt != std::string::npos) {
        if (!o.TakesValue) {
          given.push_back({at, &o, std::string(o.Names[0]) + " takes no value"});
          continue;
        }
        attached = a.substr(m.ValueAt);
        value = &attached;
      } else if (o.TakesValue && i + 1 < args.size()) {
        value = &args[++i];  // the next argument is the value, whatever it looks like
      }
      given.push_back({at, &o, o.Take(r, value)});
    } else if (CommandLineWantsTrace(a)) {
      line.Trace = true;
    } else if (a.size() > 1 && a[0] == '-') {
      unknownAt.push_back(i);
      line.Unknown.push_back(a);
    } else {
      line.Paths.push_back(a);
    }
  }

  if (r.Help)
    line.Asks = Mode::Help;
  else if (r.Version)
    line.Asks = Mode::Version;
  else if (r.Export)
    line.Asks = Mode::Export;
  else if (r.Find)
    line.Asks = Mode::Find;
  else if (r.Compare)
    line.Asks = Mode::Compare;
  else if (r.Report || program == Program::Report)
    line.Asks = args.empty() ? Mode::Usage : Mode::Report;
  else
    line.Asks = Mode::Window;
  if (line.Asks == Mode::Help || line.Asks == Mode::Version || line.Asks == Mode::Usage)
    return line;

  const unsigned use = line.Asks == Mode::Window   ? kWindow
                       : line.Asks == Mode::Export ? kExport
                       : line.Asks == Mode::Find   ? kFind
                       : line.Asks == Mode::Compare ? kCompare
                       : r.Import                  ? kReportImports
                                                   : kReportFolder;
  std::vector<std::pair<std::size_t, std::string>> mistakes;
  for (const Given& g : given) {
    if (!g.Wrong.empty())
      mistakes.emplace_back(g.At, g.Wrong);
    else if (!(g.Opt->MeansSomethingIn & use) && (!g.Opt->Tunes || use == kWindow))
      mistakes.emplace_back(g.At,
                            std::string(g.Opt->Names[0]) + " does not apply to " + UseName(use));
  }
  if (use != kWindow)
    for (std::size_t k = 0; k < unknownAt.size(); ++k)
      mistakes.emplace_back(unknownAt[k],
                            "unknown option " + line.Unknown[k] + " (--help lists the options)");
  std::stable_sort(mistakes.begin(), mistakes.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  for (auto& m : mistakes) line.Mistakes.push_back(std::move(m.second));

  // What the mode itself needs.
  const std::size_t paths = line.Paths.size();
  switch (use) {
    case kReportFolder:
      if (paths == 0)
        line.Mistakes.push_back(std::string(line.Types ? "--types" : "--report") +
                                " needs a folder or --import FILE");
      if (paths > 1)
        line.Mistakes.push_back(std::string(line.Types ? "--types" : "--report") +
                                " takes one folder, not also " + line.Paths[1]);
      break;
    case kReportImports:
      if (paths > 0)
        line.Mistakes.push_back("--import cannot be combined with a folder (" + line.Paths[0] +
                                ")");
      break;
    case kFind:
      if (paths == 0 && !r.Import)
        line.Mistakes.push_back("--find needs a folder or --import FILE");
      if (paths > 0 && r.Import)
        line.Mistakes.push_back("--import cannot be combined with a folder (" + line.Paths[0] +
                                ")");
      if (paths > 1)
        line.Mistakes.push_back("--find takes one folder, not also " + line.Paths[1]);
      break;
    case kCompare:
      if (paths == 0 && !r.Import && !line.CompareWith.empty())
        line.Mistakes.push_back("--compare needs a folder or --import FILE to compare with " +
                                line.CompareWith);
      if (paths > 0 && r.Import)
        line.Mistakes.push_back("--import cannot be combined with a folder (" + line.Paths[0] +
                                ")");
      if (paths > 1)
        line.Mistakes.push_back("--compare takes one folder, not also " + line.Paths[1]);
      if (line.Imports.size() > 1)
        line.Mistakes.push_back("--compare takes one --import FILE, not also " +
                                line.Imports[1]);
      break;
    case kExport:
      // Without its file, --export has said what it needs already.
      if (paths == 0 && !line.ExportFile.empty())
        line.Mistakes.push_back("--export needs a file and a folder");
      if (paths > 1)
        line.Mistakes.push_back("--export takes one folder, not also " + line.Paths[1]);
      break;
    default:
      break;
  }
  return line;
}

std::string UsageText(Program program, const std::string& programName) {
  if (program == Program::Report)
    return "Usage: " + programName + " [OPTION]... [--report] FOLDER\n  or:  " + programName +
           " [OPTION]... [--report] --import FILE...\n  or:  " + programName +
           " [OPTION]... --types FOLDER|--import FILE...\n  or:  " + programName +
           " [OPTION]... --export FILE FOLDER\n  or:  " + programName +
           " [OPTION]... --find TEXT FOLDER|--import FILE...\n  or:  " + programName +
           " [OPTION]... --compare OLD FOLDER|--import NEW\n"
           "Scans a folder without a window and prints Kestrum's report of it, prints the\n"
           "same report of a saved scan, saves a folder's scan in a file, lists the files\n"
           "of either whose names match, or what changed since an earlier saved scan.\n"
           "\n"
           "  --report FOLDER   scan FOLDER and print its report; FOLDER alone does the same\n"
           "  --import FILE     print the report of a saved scan (ncdu's or gdu's JSON\n"
           "                    export, or Kestrum's, plain, gzip or zstd); repeatable\n"
           "  --types           print the files' types instead: per category, then per\n"
           "                    ending, their files, bytes, allocated bytes and share\n"
           "  --export FILE FOLDER\n"
           "                    scan FOLDER into FILE (\"-\": standard output) in the JSON\n"
           "                    export format ncdu and gdu read\n"
           "  --find TEXT       list the files of FOLDER, or of the saved scans given with\n"
           "                    --import, whose name holds TEXT in any case: one line each,\n"
           "                    size in bytes, modification time (UTC, \"-\" when none) and\n"
           "                    path, TAB-separated, largest first\n"
           "  --glob            with --find: TEXT is a wildcard (*, ?, [...]) matching the\n"
           "                    whole name\n"
           "  --regex           with --find: TEXT is a regular expression (PCRE2) found\n"
           "                    anywhere in the name\n"
           "  --min-size N, --max-size N\n"
           "                    with --find: only files of at least, at most N bytes (a\n"
           "                    suffix k, M, G or T multiplies by 1024, 1024^2, ...)\n"
           "  --newer DATE, --older DATE\n"
           "                    with --find: only files modified at or after, before DATE:\n"
           "                    YYYY-MM-DD (local midnight) or YYYY-MM-DDTHH:MM:SS (local,\n"
           "                    or UTC with Z, or with an offset such as +02:00)\n"
           "  --compare OLD     list what changed from the saved scan OLD to FOLDER (scanned\n"
           "                    now) or to the saved scan NEW given with --import: one line\n"
           "                    for each folder and file that changed, largest change\n"
           "                    first: the change in bytes with its sign, the old size, the\n"
           "                    new size, \"new\", \"removed\" or \"changed\", and the path\n"
           "                    (a folder's ends in \"/\"), TAB-separated\n"
           "  --threads N       with FOLDER, --export, --find or --compare: read folders\n"
           "                    on N threads (1 to 64)\n"
           "  --hard-links=once|each\n"
           "                    with FOLDER, --import or --compare: count a file with\n"
           "                    several names (hard links) once, the default, or at every\n"
           "                    name\n"
           "  --exclude PATTERN leave out of the scan every file and folder whose name\n"
           "                    matches the wildcard PATTERN (*, ?, [...]); repeatable\n"
           "  --exclude-from FILE\n"
           "                    the same for each line of FILE\n"
           "  --exclude-caches  leave out folders holding a CACHEDIR.TAG with the standard\n"
           "                    signature\n"
           "  --cross-file-systems\n"
           "                    go into file systems mounted below FOLDER (never into bind\n"
           "                    mounts or the kernel's pseudo file systems)\n"
           "  trace             write a diagnostic log, kestrum.tra, beside the program\n"
           "                    (or in $XDG_STATE_HOME/Kestrum/ when that folder is not\n"
           "                    writable); any argument holding the word in any case counts,\n"
           "                    unless it names a folder or is an option's value\n"
           "  -h, --help        show this help and exit\n"
           "  -V, --version     show the version and exit\n"
           "  --                every argument after it is a FOLDER\n"
           "\n"
           "Options and FOLDER come in any order; an option's value may also follow \"=\"\n"
           "(--threads=4). Exit status: 0 done (--find: whether or not a file matched;\n"
           "--compare: whether or not anything changed); 1 a scan, import or write failed;\n"
           "2 a mistake in the arguments (a bad pattern too), a FOLDER that is not a\n"
           "folder, or a file --compare cannot read or compare.\n";
  return "Usage: " + programName +
         " [OPTION]... [FOLDER]...\n"
         "Shows where the space on this computer's volumes has gone.\n"
         "\n"
         "Each FOLDER is added under \"My Computer\" as an entry of its own, after the\n"
         "volumes, and scanned; the first one is then listed. A volume's mount point\n"
         "scans that volume.\n"
         "\n"
         "  trace             write a diagnostic log, kestrum.tra, beside the program\n"
         "                    (or in $XDG_STATE_HOME/Kestrum/ when that folder is not\n"
         "                    writable); any argument holding the word in any case counts,\n"
         "                    unless it names a folder or is an option's value\n"
         "  --import FILE     add a saved scan (ncdu's or gdu's JSON export, or Kestrum's,\n"
         "                    plain, gzip or zstd) under \"My Computer\"; repeatable\n"
         "  --export FILE FOLDER\n"
         "                    scan FOLDER without a window into FILE (\"-\": standard\n"
         "                    output) in the JSON export format ncdu and gdu read\n"
         "  --report FOLDER   scan FOLDER without a window and print the result\n"
         "  --report --import FILE\n"
         "                    print the same report of a saved scan\n"
         "  --find TEXT FOLDER\n"
         "                    list FOLDER's files whose name holds TEXT, without a window\n"
         "                    (kestrum-report --help tells its options)\n"
         "  --types FOLDER|--import FILE\n"
         "                    print the table of file types and categories instead\n"
         "  --compare OLD FOLDER|--import NEW\n"
         "                    print what changed since the saved scan OLD, without a\n"
         "                    window (kestrum-report --help tells its lines)\n"
         "  --threads N       with --report FOLDER or --export: read folders on N threads\n"
         "                    (1 to 64)\n"
         "  --hard-links=each with --report: count every name of a file with several\n"
         "                    (hard links); by default each such file counts once\n"
         "  --exclude PATTERN, --exclude-from FILE, --exclude-caches\n"
         "                    with --report FOLDER, --export or --find: leave out what the\n"
         "                    wildcard on names, each line of FILE, or a CACHEDIR.TAG names\n"
         "  --cross-file-systems\n"
         "                    with --report FOLDER, --export or --find: go into file\n"
         "                    systems mounted below FOLDER\n"
         "  -h, --help        show this help and exit\n"
         "  -V, --version     show the version and exit\n"
         "  --                every argument after it is a FOLDER\n"
         "\n"
         "Options and FOLDERs come in any order; an option's value may also follow \"=\"\n"
         "(--threads=4).\n"
         "\n"
         "Help on every window and command: \"Help\", \"Contents\" in the program, or\n"
         "man kestrum.\n";
}

std::string VersionText() {
  using namespace version;
  return std::string(Product) + " " + std::to_string(Major) + "." + std::to_string(Minor) + "." +
         std::to_string(Revision) + "\n" + Copyright + "\n";
}

std::string UnknownOptionsMessage(const std::vector<std::string>& unknown) {
  if (unknown.empty()) return {};
  std::string text = unknown.size() == 1 ? "Unknown option: " : "Unknown options: ";
  for (std::size_t i = 0; i < unknown.size(); ++i) text += (i ? " " : "") + unknown[i];
  return text + " (kestrum --help lists the options)";
}

std::vector<std::string> WindowNotices(const CommandLine& line) {
  std::vector<std::string> notices;
  if (std::string unknown = UnknownOptionsMessage(line.Unknown); !unknown.empty())
    notices.push_back(std::move(unknown));
  notices.insert(notices.end(), line.Mistakes.begin(), line.Mistakes.end());
  return notices;
}

}  // namespace kestrum
