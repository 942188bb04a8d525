#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/query/search_values.h"
#include "core/scan/exclude_rules.h"
#include "core/tree/hard_links.h"

namespace kestrum {

// The two programs that read a command line: the window ("kestrum") and the headless one
// ("kestrum-report"), which has no window to start and reports when asked for nothing.
enum class Program : std::uint8_t { Window, Report };

// What a command line asks for.
enum class Mode : std::uint8_t {
  Window,   // start the window (the window's program only)
  Help,     // print the program's usage on standard output, exit 0
  Version,  // print the version, exit 0
  Usage,    // no arguments to the headless program: its usage on standard error, exit 2
  Report,   // print the report of Paths[0], or of each saved scan in Imports
  Export,   // scan Paths[0] into ExportFile
  Find,     // print the files of Paths[0], or of each saved scan in Imports, that Find asks for
  Compare,  // print what changed from the saved scan CompareWith to Paths[0] or Imports[0]
};

// What --find asks of a file (see UsageText): the text and how it is read, sizes in bytes,
// times in seconds since 1970.
struct FindRequest {
  enum class Kind : std::uint8_t { Plain, Glob, Regex };
  std::string Text;
  Kind As = Kind::Plain;
  std::optional<std::uint64_t> MinSize, MaxSize;
  std::optional<std::int64_t> Newer, Older;
};

// A command line read once, for either program. Options and folders come in any order.
struct CommandLine {
  Program For = Program::Window;
  Mode Asks = Mode::Window;
  bool Trace = false;  // some argument holds "trace" in any case (see ParseCommandLine)
  // Every argument to scan, in order: folders, and arguments that are neither an option nor
  // a trace word (they get their message when they are resolved).
  std::vector<std::string> Paths;
  std::vector<std::string> Imports;         // the saved scans given with --import, in order
  std::string ExportFile;                   // --export's FILE ("-": standard output)
  unsigned Threads = 0;                     // --threads; 0: the scan's own choice
  HardLinkRule Links = HardLinkRule::Once;  // --hard-links
  FindRequest Find;                         // --find and the options that narrow it
  std::string CompareWith;                  // --compare's OLD: the earlier saved scan
  // --types: the report is the table of file types and categories (of a folder or of each
  // saved scan) instead of the folders.
  bool Types = false;
  // What the scans of this run leave out, whatever the settings say: --exclude's wildcards on
  // names and the files of --exclude-from (one wildcard a line), in order; --exclude-caches.
  std::vector<std::string> Excludes;
  std::vector<std::string> ExcludeFiles;
  bool ExcludeCaches = false;
  bool CrossFileSystems = false;  // --cross-file-systems
  // What is wrong with the line for what it asks, one line each without the program's
  // prefix, in the order of the arguments. A headless mode names the first and exits 2; the
  // window shows them (see WindowNotices) and starts. Help and version ignore them.
  std::vector<std::string> Mistakes;
  // Arguments that look like options ("-x", "--x") but are none of the known ones. They are
  // among Mistakes in the headless modes; the window names them all in one message.
  std::vector<std::string> Unknown;
};

// Reads the arguments (without the program name) for program. An argument that names an
// existing folder is a PATH and takes no part in the trace test, so "~/stacktraces" does not
// start the log; every other argument is searched for "trace" in any case, so "trace",
// "/TRACE" and "tracefile" do, except an option's value (the FILE of --export and --import,
// the N of --threads). After "--" every argument is a PATH. An option's value follows it as
// the next argument or after "=" ("--threads 4", "--threads=4"). isFolder tells whether a
// text names an existing folder (links followed); empty means the file system is asked.
CommandLine ParseCommandLine(const std::vector<std::string>& args, Program program,
                             const std::function<bool(const std::string&)>& isFolder = {});


// The exclude rules the line gives: each --exclude, then each line of each --exclude-from
// file that is not empty (a trailing CR dropped), as wildcards on names, then the cache rule.
// nullopt with error naming the file that cannot be read.
std::optional<std::vector<ExcludeRule>> CommandLineExcludes(const CommandLine& line,
                                                            std::string& error);
// True when path names an existing folder, following links. A text holding a NUL names none.
bool IsExistingFolder(const std::string& path);

// The text of --help for program, called programName in it, and of --version; each ends in
// a newline.
std::string UsageText(Program program, const std::string& programName);
std::string VersionText();

// One message for the options that are not known, or "" when there are none.
std::string UnknownOptionsMessage(const std::vector<std::string>& unknown);

// What the window tells about its command line as it starts: the unknown options in one
// message, then each mistake. Empty when there is nothing to tell.
std::vector<std::string> WindowNotices(const CommandLine& line);

}  // namespace kestrum
