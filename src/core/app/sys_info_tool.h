#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrum {

// The machine-wide settings file stands for the registry's local-machine root. The two
// places that may name the system-information program are:
//   group [SystemInfo], key Path:             the program's full path;
//   group [SystemInfoLocation], key Folder:   its folder, to which "/sysinfo" is appended.
inline constexpr const char* kSysInfoKey = "SystemInfo";
inline constexpr const char* kSysInfoPathValue = "Path";
inline constexpr const char* kSysInfoLocationKey = "SystemInfoLocation";
inline constexpr const char* kSysInfoLocationValue = "Folder";
inline constexpr const char* kSysInfoProgramName = "/sysinfo";

// A settings value as the file holds it, made into its text: the key file's escapes "\s",
// "\n", "\t", "\r" and "\\" are decoded, and "\0" gives a NUL character, the only way a
// text file can hold one. Any other backslash stays as it is.
std::string DecodeSettingValue(const std::string& raw);

// Reads value subKeyRef of group keyName in the settings file keyRoot (empty: the
// machine-wide file, MachineSettingsPath()). True with keyVal = the value's text, its last
// character dropped when that is a NUL; false with keyVal = "" when the file, the group or the
// value is missing, or the file cannot be read or is garbled. Shows nothing and never ends
// the program.
bool GetKeyValue(const std::string& keyRoot, const std::string& keyName,
                 const std::string& subKeyRef, std::string& keyVal);

// Where StartSysInfo looks.
struct SysInfoSources {
  std::string settingsFile;  // empty: the machine-wide file
  std::string searchPath;    // folders to search for desktop programs, ":"-separated ($PATH)
  std::string desktop;       // $XDG_CURRENT_DESKTOP, e.g. "GNOME" or "ubuntu:GNOME"
  // True when path names a program that can be started; empty: a regular file with execute
  // permission.
  std::function<bool(const std::string&)> isProgram;
};

// The sources of this process: its environment and the machine-wide file.
SysInfoSources SystemSysInfoSources();

// The command (program and arguments) that shows the system information: the program named
// by [SystemInfo] Path when it exists; else [SystemInfoLocation] Folder + "/sysinfo" when that
// exists; else the desktop's own system-information program (the current desktop's first,
// then the others), found on the search path. Nothing when none is found.
std::optional<std::vector<std::string>> SysInfoCommand(const SysInfoSources& sources);

// The message shown when no program is found or it cannot be started.
inline constexpr const char* kSysInfoUnavailable = "System Information Is Unavailable At This Time";

}  // namespace kestrum
