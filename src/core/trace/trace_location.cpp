#include "core/trace/trace_location.h"

#include <glib.h>
#include <glib/gstdio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace kestrum {

std::string TraceStateFolder() {
  const char* xdg = std::getenv("XDG_STATE_HOME");
  if (xdg && *xdg == '/') return std::string(xdg) + "/Kestrum";
  const char* home = std::getenv("HOME");
  return std::string(home && *home ? home : g_get_home_dir()) + "/.local/state/Kestrum";
}

std::string TraceExePathIn(const std::string& stateFolder, const std::string& exePath) {
  const auto slash = exePath.rfind('/');
  return stateFolder + "/" + (slash == std::string::npos ? exePath : exePath.substr(slash + 1));
}

std::string RunningExePath() {
  std::string buf(4096, '\0');
  const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
  if (n <= 0) return {};
  buf.resize(static_cast<std::size_t>(n));
  return buf;
}

int MakeFolders(const std::string& folder) {
  errno = 0;
  return g_mkdir_with_parents(folder.c_str(), 0700) == 0 ? 0 : (errno ? errno : EIO);
}

}  // namespace kestrum
