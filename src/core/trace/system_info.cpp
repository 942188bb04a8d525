#include "core/trace/system_info.h"

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <vector>

#include "core/platform/errors.h"
#include "core/platform/settings.h"
#include "core/trace/disk_file.h"
#include "core/trace/trace.h"

namespace kestrum {

void SystemHooks::Message(const std::string& text) const {
  if (message)
    message(text);
  else
    std::cerr << text << '\n';
}

void SystemHooks::Fatal(const std::string& text) const {
  if (fatal) {
    fatal(text);
    return;
  }
  std::cerr << text << '\n';
  std::_Exit(1);
}

std::string SystemHooks::MachineSettings() const {
  return machineSettings.empty() ? MachineSettingsPath() : machineSettings;
}

void ParseKernelRelease(const std::string& release, int& major, int& minor, int& build) {
  int parts[3] = {0, 0, 0};
  std::size_t i = 0;
  for (int k = 0; k < 3 && i < release.size(); ++k) {
    long v = 0;
    bool any = false;
    while (i < release.size() && release[i] >= '0' && release[i] <= '9' && v < 100000000) {
      v = v * 10 + (release[i++] - '0');
      any = true;
    }
    if (!any) break;
    parts[k] = static_cast<int>(v);
    if (i < release.size() && release[i] == '.')
      ++i;
    else
      break;
  }
  major = parts[0];
  minor = parts[1];
  build = parts[2];
}

bool GetNTVersion(OsVersion& os, const SystemHooks& hooks) {
  struct utsname u {};
  if (::uname(&u) != 0) {
    hooks.Message("GetNTVersion failed: " + ErrorText(LastApiError()));
    return false;
  }
  ParseKernelRelease(u.release, os.major, os.minor, os.build);
  os.note = u.version;
  os.platform = 2;
  return true;
}

std::string ComputerName() {
  char buf[256] = {};
  if (::gethostname(buf, sizeof buf - 1) != 0) return "Unknown";
  return buf;
}

std::string GetUserName(const SystemHooks& hooks) {
  std::string result = "None";
  const uid_t uid = ::getuid();
  const std::string key = "password database entry of uid " + std::to_string(uid);
  struct passwd pw {};
  struct passwd* found = nullptr;
  std::vector<char> buf(16384);
  const int rc = ::getpwuid_r(uid, &pw, buf.data(), buf.size(), &found);
  if (rc != 0 && rc != ENOENT && rc != ESRCH) {
    hooks.Message("Globals.GetUserName: RegOpenKey call failed: " + ErrorText(rc) + " " + key);
    return result;
  }
  if (!found) {
    hooks.Message("Globals.GetUserName: RegOpenKey failed: " + key + " not found");
    return result;
  }
  const std::string gecos = pw.pw_gecos ? pw.pw_gecos : "";
  result = gecos.substr(0, gecos.find(','));
  return result;
}

std::string GetOrgName(const SystemHooks& hooks) {
  // The organization's place always exists here: it is the environment, then the machine-wide
  // settings, then nothing. Only a settings file that is there but cannot be read fails.
  std::string result;
  if (const char* env = std::getenv("ORGANIZATION")) {
    result = env;
  } else if (const std::string path = hooks.MachineSettings(); !path.empty()) {
    IniFile ini;
    std::string err;
    if (ini.Load(path, &err) == IniFile::LoadResult::Unreadable) {
      hooks.Message("Globals.GetOrgName: RegOpenKey call failed: " + err + " " + path +
                    " [Globals]");
      return "None";
    }
    if (auto v = ini.Get("Globals", "Organization")) result = *v;
  }
  if (Tracing()) Trace("Globals.GetOrgName=" + result);
  return result;
}

std::string SystemDisk() { return "/"; }

std::string RegRead(const std::string& section, const std::string& name,
                    const std::string& defaultValue, const SystemHooks& hooks) {
  const std::string path = hooks.MachineSettings();
  if (path.empty()) return defaultValue;
  IniFile ini;
  std::string err;
  switch (ini.Load(path, &err)) {
    case IniFile::LoadResult::Missing:
      return defaultValue;
    case IniFile::LoadResult::Unreadable:
      hooks.Fatal("RegOpenKey call failed: " + err + " " + path + " [" + section + "]");
      return defaultValue;
    case IniFile::LoadResult::Loaded:
      break;
  }
  auto v = ini.Get(section, name);
  if (!v) return defaultValue;
  std::string value = *v;
  while (!value.empty() && value.back() == '\0') value.pop_back();
  return value;
}

bool LeadingInt32(const std::string& text, int& out) {
  const double v = std::nearbyint(LeadingNumber(text));
  if (!(v >= -2147483648.0 && v <= 2147483647.0)) return false;
  out = static_cast<int>(v);
  return true;
}

}  // namespace kestrum
