#include "core/app/help_files.h"

#include <glib.h>
#include <sys/stat.h>

#include <cstdlib>

namespace kestrum {

std::string HelpFileIn(const std::string& exeFolder, const std::string& name) {
  const auto first = exeFolder.find_first_not_of(" \t");
  const auto last = exeFolder.find_last_not_of(" \t");
  const bool endsInSlash = first != std::string::npos && exeFolder[last] == '/';
  return endsInSlash ? exeFolder + name : exeFolder + "/" + name;
}

std::vector<std::string> HelpFileCandidates(const std::string& exeFolder,
                                            const std::string& dataDir,
                                            const std::string& installedDataDir) {
  std::vector<std::string> out{HelpFileIn(exeFolder)};
  const std::string relative =
      HelpFileIn(exeFolder, "../" + dataDir + "/kestrum/help/") + kHelpFileName;
  out.push_back(relative);
  if (!installedDataDir.empty()) out.push_back(installedDataDir + "/kestrum/help/" + kHelpFileName);
  return out;
}

std::string FindHelpFile(const std::vector<std::string>& candidates,
                         const std::function<bool(const std::string&)>& exists) {
  for (const std::string& c : candidates) {
    struct stat st {};
    if (exists ? exists(c) : (::stat(c.c_str(), &st) == 0 && S_ISREG(st.st_mode))) return c;
  }
  return candidates.empty() ? std::string() : candidates.front();
}

std::string HelpCacheFolder() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/Kestrum/help";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : g_get_home_dir()) + "/.cache/Kestrum/help";
}

}  // namespace kestrum
