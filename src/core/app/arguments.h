#pragma once
#include <functional>
#include <string>
#include <vector>

namespace kestrum {

// What the window's command line asks for. "--report" and its "--threads" are the headless
// report's and are handled before this is read.
struct CommandLine {
  bool Help = false;     // -h, --help
  bool Version = false;  // -V, --version
  bool Trace = false;    // some argument that is not a folder holds "trace", in any case
  // Every argument to scan, in order: folders, and arguments that are neither an option nor
  // a trace word (they get their message when they are resolved).
  std::vector<std::string> Paths;
  // The saved scans given with --import, in order.
  std::vector<std::string> Imports;
  // Arguments that look like options ("-x", "--x") but are none of the known ones.
  std::vector<std::string> Unknown;
};

// Reads the arguments (without the program name). An argument that names an existing folder
// is a PATH and takes no part in the trace test, so "~/stacktraces" does not start the log;
// every other argument is searched for "trace" in any case, so "trace", "/TRACE" and
// "tracefile" do. After "--" every argument is a PATH. The text after "--import" is a saved
// scan's file and never turns tracing on. isFolder tells whether a text names an
// existing folder (links followed); empty means the file system is asked.
CommandLine ParseCommandLine(const std::vector<std::string>& args,
                             const std::function<bool(const std::string&)>& isFolder = {});

// True when path names an existing folder, following links. A text holding a NUL names none.
bool IsExistingFolder(const std::string& path);

// The text of --help and of --version, each ending in a newline.
std::string UsageText(const std::string& programName);
std::string VersionText();

// One message for the options that are not known, or "" when there are none.
std::string UnknownOptionsMessage(const std::vector<std::string>& unknown);

}  // namespace kestrum
