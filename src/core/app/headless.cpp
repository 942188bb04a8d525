#include "core/app/headless.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "core/tree/discovery.h"
#include "core/saved/json_export.h"
#include "core/saved/json_import.h"
#include "core/app/report_text.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/query/file_search.h"
#include "core/query/scan_compare.h"
#include "core/tree/summary.h"
#include "core/platform/errors.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

// The report of each saved scan in turn, as "--report" prints a scanned folder's.
int RunImportReport(const std::vector<std::string>& files, HardLinkRule links) {
  // Every file is read before anything is printed: a report cut short by a later damaged file
  // would pass for a whole one.
  std::vector<std::unique_ptr<DiskObject>> drives;
  bool failed = false;
  for (const std::string& file : files) {
    auto drive = std::make_unique<DiskObject>();
    drive->SetPath(file);
    std::int32_t keyCounter = 0;
    ImportError error;
    ImportOptions options;
    options.Links = links;
    options.KeepFiles = false;  // the report prints folders and the largest files only
    if (!ImportScan(file, *drive, keyCounter, error, options)) {
      std::fprintf(stderr, "kestrum: %s\n", error.Message.c_str());
      failed = true;
      continue;
    }
    drives.push_back(std::move(drive));
  }
  if (failed) return 1;
  for (const auto& drive : drives) {
    int writeError = 0;
    const bool written = FormatReport(*drive, [&writeError](std::string_view piece) {
      if (std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size()) return true;
      writeError = errno;
      return false;
    });
    if (!written || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "kestrum: cannot write the report: %s\n",
                   ErrorText(written ? errno : writeError).c_str());
      return 1;
    }
  }
  return 0;
}

// The canonical path of given when it names a folder; otherwise says so and returns "".
std::string CanonicalFolder(const std::string& given) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(given.c_str(), nullptr), &std::free);
  struct stat st {};
  if (!real || ::stat(real.get(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "kestrum: %s is not a folder\n", given.c_str());
    return {};
  }
  return real.get();
}

int RunFolderReport(const std::string& folder, unsigned threads, HardLinkRule links,
                    const ScanRules& rules) {
  FileSystemService fs;
  int writeError = 0;
  const TextSink toStdout = [&writeError](std::string_view piece) {
    if (std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size()) return true;
    writeError = errno;
    return false;
  };
  bool writeFailed = false;
  const bool ok = RunReport(
      fs, folder, toStdout,
      [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); }, threads, links,
      writeFailed, rules);
  if (!writeFailed && std::fflush(stdout) != 0) {
    writeFailed = true;
    writeError = errno;
  }
  if (writeFailed) {
    // A report cut short must not pass for a whole one: a full disk says so and fails.
    std::fprintf(stderr, "kestrum: cannot write the report: %s\n", ErrorText(writeError).c_str());
    return 1;
  }
  return ok ? 0 : 1;
}

// The drives --types and --find read: the folder's scan, or each saved scan in turn, every
// entry kept. Every file is read before anything is printed, as for the report. Returns 0, or
// the exit status of the first failure (each failure named on standard error).
int LoadKeepingFiles(const CommandLine& line, const std::string& folder, const ScanRules& rules,
                     std::vector<std::unique_ptr<DiskObject>>& drives) {
  if (line.Imports.empty()) {
    auto drive = std::make_unique<DiskObject>();
    FileSystemService fs;
    if (!ScanKeepingFiles(
            fs, folder, *drive,
            [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); }, line.Threads,
            line.Links, rules))
      return 1;
    drives.push_back(std::move(drive));
    return 0;
  }
  bool failed = false;
  std::int32_t keyCounter = 0;
  for (const std::string& file : line.Imports) {
    auto drive = std::make_unique<DiskObject>();
    drive->Class = ObjectClass::Import;
    drive->SetPath(file);
    ImportError error;
    ImportOptions options;
    options.Links = line.Links;
    options.KeepFiles = true;
    if (!ImportScan(file, *drive, keyCounter, error, options)) {
      std::fprintf(stderr, "kestrum: %s\n", error.Message.c_str());
      failed = true;
      continue;
    }
    drives.push_back(std::move(drive));
  }
  return failed ? 1 : 0;
}

// --types: the table of file types of a folder's scan, or of each saved scan in turn.
int RunTypes(const CommandLine& line, const std::string& folder, const ScanRules& rules) {
  std::vector<std::unique_ptr<DiskObject>> drives;
  if (const int status = LoadKeepingFiles(line, folder, rules, drives)) return status;
  FileTypes types;
  for (const auto& drive : drives) {
    const std::string text = FormatTypesReport(CountTypes(*drive, types));
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() ||
        std::fflush(stdout) != 0) {
      std::fprintf(stderr, "kestrum: cannot write the report: %s\n", ErrorText(errno).c_str());
      return 1;
    }
  }
  return 0;
}

int RunExport(const std::string& folder, const std::string& file, unsigned threads,
              const ScanRules& rules) {
  ExportOptions options;
  options.Threads = threads;
  options.Excludes = rules.Excludes;
  options.CrossFileSystems = rules.CrossFileSystems;
  Scanning = true;
  std::string error;
  const bool ok = ExportToFile(folder, file, error, options);
  Scanning = false;
  if (!ok) {
    std::fprintf(stderr, "kestrum: export to %s failed: %s\n", file.c_str(), error.c_str());
    return 1;
  }
  return 0;
}

// Lines for standard output, gathered into pieces of a megabyte.
struct LineWriter {
  std::string Text;
  bool Written = true;
  // After each line: writes out what was gathered once it is a megabyte; false once a write
  // failed (nothing more is written then).
  bool Line() {
    if (Text.size() >= (1u << 20)) Flush();
    return Written;
  }
  void Flush() {
    if (Written) Written = std::fwrite(Text.data(), 1, Text.size(), stdout) == Text.size();
    Text.clear();
  }
  // Writes the rest: 0, or 1 with a message naming what could not be written.
  int Finish(const char* what) {
    Flush();
    if (Written && std::fflush(stdout) == 0) return 0;
    std::fprintf(stderr, "kestrum: cannot write the %s: %s\n", what, ErrorText(errno).c_str());
    return 1;
  }
};

// --find: the files of the folder (scanned, keeping its entries) or of the saved scans that
// match, largest first. The pattern is checked before anything is read.
int RunFind(const CommandLine& line, const std::string& folder, const ScanRules& rules) {
  const FindRequest& find = line.Find;
  SearchCriteria criteria;
  std::string error;
  const NameMatcher::Mode mode = find.As == FindRequest::Kind::Glob    ? NameMatcher::Mode::Wildcard
                                 : find.As == FindRequest::Kind::Regex ? NameMatcher::Mode::Regex
                                                                       : NameMatcher::Mode::Plain;
  criteria.Name = NameMatcher::Make(find.Text, mode, false, error);
  if (!criteria.Name) {
    std::fprintf(stderr, "kestrum: bad pattern for --find: %s\n", error.c_str());
    return 2;
  }
  criteria.MinSize = find.MinSize;
  criteria.MaxSize = find.MaxSize;
  criteria.ModifiedAfter = find.Newer;
  criteria.ModifiedBefore = find.Older;
  std::vector<std::unique_ptr<DiskObject>> drives;
  if (const int status = LoadKeepingFiles(line, folder, rules, drives)) return status;
  SearchScope scope;
  for (const auto& d : drives) scope.push_back(d.get());
  const SearchResult found = SearchFiles(scope, criteria);
  LineWriter writer;
  std::string& out = writer.Text;
  for (const FoundFile& f : found.Files) {
    out += std::to_string(f.Size);
    out += '\t';
    char when[32] = "-";
    std::tm tm{};
    const auto t = static_cast<std::time_t>(f.Time);
    if (f.HasTime && ::gmtime_r(&t, &tm)) std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &tm);
    out += when;
    out += '\t';
    out += EscapeReportText(f.Path);
    out += '\n';
    if (!writer.Line()) break;
  }
  return writer.Finish("list");
}

// --compare: what changed from the saved scan OLD to the folder (scanned now, entries kept) or
// to the saved scan given with --import, one line each, largest change first. A file that
// cannot be read, or two scans that cannot be compared, exit 2 before anything is printed.
int RunCompare(const CommandLine& line, const std::string& folder) {
  auto older = std::make_unique<DiskObject>();
  older->SetPath(line.CompareWith);
  std::int32_t keyCounter = 0;
  ImportError error;
  ImportOptions options;
  options.Links = line.Links;
  options.KeepFiles = true;
  if (!ImportScan(line.CompareWith, *older, keyCounter, error, options)) {
    std::fprintf(stderr, "kestrum: %s\n", error.Message.c_str());
    return 2;
  }
  std::vector<std::unique_ptr<DiskObject>> newer;
  if (const int status = LoadKeepingFiles(line, folder, ScanRules{}, newer))
    return line.Imports.empty() ? status : 2;
  const ScanComparison comparison = CompareScans(*older, *newer.front());
  if (!comparison.Ok) {
    std::fprintf(stderr, "kestrum: cannot compare with %s: %s\n", line.CompareWith.c_str(),
                 comparison.Refused.c_str());
    return 2;
  }
  LineWriter writer;
  std::string& out = writer.Text;
  for (const ChangeLine& l : ChangesLargestFirst(comparison)) {
    const std::int64_t change = l.Change.Change();
    if (change > 0) out += '+';
    out += std::to_string(change);
    out += '\t';
    out += std::to_string(l.Change.Old);
    out += '\t';
    out += std::to_string(l.Change.New);
    out += '\t';
    out += ChangeKindName(l.Change.Kind);
    out += '\t';
    out += EscapeReportText(l.Path);
    out += '\n';
    if (!writer.Line()) break;
  }
  return writer.Finish("changes");
}

}  // namespace

std::optional<int> RunWithoutWindow(const CommandLine& line, const std::string& invokedAs) {
  std::string name = invokedAs.substr(invokedAs.rfind('/') + 1);
  if (name.empty()) name = line.For == Program::Report ? "kestrum-report" : "kestrum";
  switch (line.Asks) {
    case Mode::Window:
      return std::nullopt;
    case Mode::Help:
      std::fputs(UsageText(line.For, name).c_str(), stdout);
      return 0;
    case Mode::Version:
      std::fputs(VersionText().c_str(), stdout);
      return 0;
    case Mode::Usage:
      std::fputs(UsageText(line.For, name).c_str(), stderr);
      return 2;
    case Mode::Report:
    case Mode::Export:
    case Mode::Find:
    case Mode::Compare:
      break;
  }
  if (!line.Mistakes.empty()) {
    std::fprintf(stderr, "kestrum: %s\n", line.Mistakes.front().c_str());
    return 2;
  }
  if (line.Trace && !TraceOn) {
    TraceOn = true;
    StartTrace();
  }
  if (line.Asks == Mode::Report && line.Types && !line.Imports.empty())
    return RunTypes(line, "", {});
  if (line.Asks == Mode::Report && !line.Imports.empty())
    return RunImportReport(line.Imports, line.Links);
  if (line.Asks == Mode::Find && !line.Imports.empty()) return RunFind(line, "", {});
  if (line.Asks == Mode::Compare && !line.Imports.empty()) return RunCompare(line, "");
  // The rules of this run: the command line's alone, so that a script's report does not
  // change with the window's settings (the report names them when there are any).
  ScanRules rules;
  rules.CrossFileSystems = line.CrossFileSystems;
  {
    std::string error;
    const std::optional<std::vector<ExcludeRule>> given = CommandLineExcludes(line, error);
    if (given && !given->empty()) rules.Excludes = ExcludeRules::Make(*given, error);
    if (!given || (given && !given->empty() && !rules.Excludes)) {
      std::fprintf(stderr, "kestrum: bad exclude rule: %s\n", error.c_str());
      return 2;
    }
  }
  // Without mistakes, the report of a folder and the export have exactly one path.
  const std::string folder = CanonicalFolder(line.Paths.front());
  if (folder.empty()) return 2;
  if (line.Asks == Mode::Find) return RunFind(line, folder, rules);
  if (line.Asks == Mode::Compare) return RunCompare(line, folder);
  if (line.Types) return RunTypes(line, folder, rules);
  return line.Asks == Mode::Export ? RunExport(folder, line.ExportFile, line.Threads, rules)
                                   : RunFolderReport(folder, line.Threads, line.Links, rules);
}

}  // namespace kestrum
