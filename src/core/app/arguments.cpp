#include "core/app/arguments.h"

#include <sys/stat.h>

#include "core/trace/trace_log.h"
#include "kestrum_version.h"

namespace kestrum {

bool IsExistingFolder(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

CommandLine ParseCommandLine(const std::vector<std::string>& args,
                             const std::function<bool(const std::string&)>& isFolder) {
  const auto folder = [&](const std::string& a) {
    return isFolder ? isFolder(a) : IsExistingFolder(a);
  };
  CommandLine out;
  bool onlyPaths = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (!onlyPaths && a == "--import") {
      if (i + 1 < args.size())
        out.Imports.push_back(args[++i]);
      else
        out.Unknown.push_back(a);
    } else if (onlyPaths || folder(a)) {
      out.Paths.push_back(a);
    } else if (a == "--") {
      onlyPaths = true;
    } else if (a == "-h" || a == "--help" || a == "-?") {
      out.Help = true;
    } else if (a == "-V" || a == "--version") {
      out.Version = true;
    } else if (CommandLineWantsTrace(a)) {
      out.Trace = true;
    } else if (a.size() > 1 && a[0] == '-') {
      out.Unknown.push_back(a);
    } else {
      out.Paths.push_back(a);
    }
  }
  return out;
}

std::string UsageText(const std::string& programName) {
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
         "                    unless it names a folder\n"
         "  --import FILE     add a saved scan (ncdu's or gdu's JSON export, or Kestrum's,\n"
         "                    plain, gzip or zstd) under \"My Computer\"; repeatable\n"
         "  --export FILE FOLDER\n"
         "                    scan FOLDER without a window into FILE (\"-\": standard\n"
         "                    output) in the JSON export format ncdu and gdu read\n"
         "  --report FOLDER   scan FOLDER without a window and print the result\n"
         "  --report --import FILE\n"
         "                    print the same report of a saved scan\n"
         "  --threads N       with --report: read folders on N threads (1 to 64)\n"
         "  --hard-links=each with --report: count every name of a file with several\n"
         "                    (hard links); by default each such file counts once\n"
         "  -h, --help        show this help and exit\n"
         "  -V, --version     show the version and exit\n"
         "  --                every argument after it is a FOLDER\n"
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

}  // namespace kestrum
