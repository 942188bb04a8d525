#include "core/app/sys_info_tool.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "core/platform/settings.h"

namespace kestrum {

namespace {

bool IsProgramFile(const std::string& path) {
  if (path.empty() || path.find('\0') != std::string::npos) return false;
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

struct DesktopTool {
  const char* desktop;  // as XDG_CURRENT_DESKTOP names it
  std::vector<std::string> command;
};

// Each desktop's own window for the facts of the machine, in the order they are tried when
// the current desktop has none.
const std::vector<DesktopTool>& DesktopTools() {
  static const std::vector<DesktopTool> kTools = {
      {"KDE", {"kinfocenter"}},
      {"GNOME", {"gnome-control-center", "info-overview"}},
      {"X-Cinnamon", {"cinnamon-settings", "info"}},
      {"XFCE", {"xfce4-about"}},
      {"MATE", {"mate-system-monitor"}},
      {"", {"hardinfo"}},
  };
  return kTools;
}

std::string FindOnPath(const std::string& name, const SysInfoSources& s) {
  std::stringstream dirs(s.searchPath);
  std::string dir;
  while (std::getline(dirs, dir, ':')) {
    if (dir.empty() || dir[0] != '/') continue;  // a relative entry would depend on the cwd
    const std::string candidate = dir + (dir.back() == '/' ? "" : "/") + name;
    if (s.isProgram ? s.isProgram(candidate) : IsProgramFile(candidate)) return candidate;
  }
  return {};
}

bool HasDesktop(const std::string& list, const std::string& name) {
  std::stringstream in(list);
  std::string item;
  while (std::getline(in, item, ':'))
    if (!name.empty() && item == name) return true;
  return false;
}

}  // namespace

std::string DecodeSettingValue(const std::string& raw) {
  std::string out;
  out.reserve(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] != '\\' || i + 1 == raw.size()) {
      out += raw[i];
      continue;
    }
    const char c = raw[i + 1];
    const char* decoded = c == 's'    ? " "
                          : c == 'n'  ? "\n"
                          : c == 't'  ? "\t"
                          : c == 'r'  ? "\r"
                          : c == '\\' ? "\\"
                                      : nullptr;
    if (c == '0') {
      out += '\0';
      ++i;
    } else if (decoded) {
      out += decoded;
      ++i;
    } else {
      out += raw[i];
    }
  }
  return out;
}

bool GetKeyValue(const std::string& keyRoot, const std::string& keyName,
                 const std::string& subKeyRef, std::string& keyVal) {
  keyVal.clear();
  const std::string path = keyRoot.empty() ? MachineSettingsPath() : keyRoot;
  if (path.empty()) return false;
  IniFile file;
  if (file.Load(path) != IniFile::LoadResult::Loaded) return false;
  const auto raw = file.Get(keyName, subKeyRef);
  if (!raw) return false;
  keyVal = DecodeSettingValue(*raw);
  if (!keyVal.empty() && keyVal.back() == '\0') keyVal.pop_back();
  return true;
}

SysInfoSources SystemSysInfoSources() {
  SysInfoSources s;
  const char* path = std::getenv("PATH");
  s.searchPath = path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
  const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
  s.desktop = desktop ? desktop : "";
  return s;
}

std::optional<std::vector<std::string>> SysInfoCommand(const SysInfoSources& s) {
  const auto exists = [&](const std::string& p) {
    return s.isProgram ? s.isProgram(p) : IsProgramFile(p);
  };
  std::string value;
  if (GetKeyValue(s.settingsFile, kSysInfoKey, kSysInfoPathValue, value) && exists(value))
    return std::vector<std::string>{value};
  if (GetKeyValue(s.settingsFile, kSysInfoLocationKey, kSysInfoLocationValue, value)) {
    // The folder text is used as it is, a trailing "/" or not, as the registry's was.
    const std::string program = value + kSysInfoProgramName;
    if (exists(program)) return std::vector<std::string>{program};
  }
  std::vector<const DesktopTool*> order;
  for (const DesktopTool& t : DesktopTools())
    if (HasDesktop(s.desktop, t.desktop)) order.push_back(&t);
  for (const DesktopTool& t : DesktopTools())
    if (!HasDesktop(s.desktop, t.desktop)) order.push_back(&t);
  for (const DesktopTool* t : order) {
    const std::string found = FindOnPath(t->command.front(), s);
    if (found.empty()) continue;
    std::vector<std::string> cmd = t->command;
    cmd.front() = found;
    return cmd;
  }
  return std::nullopt;
}

}  // namespace kestrum
