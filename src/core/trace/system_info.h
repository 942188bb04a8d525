#pragma once
#include <functional>
#include <string>

namespace kestrum {

// Shows a message to the user. The program supplies a message box; tests a recorder.
using TraceMessageSink = std::function<void(const std::string& text)>;
// Shows a critical message and ends the program. If it returns (a test recorder), the
// function that called it returns its fallback value.
using FatalHandler = std::function<void(const std::string& text)>;

// Where the system facts report their failures. Empty members fall back to standard error,
// and for the fatal handler to standard error followed by the immediate end of the process.
struct SystemHooks {
  TraceMessageSink message;
  FatalHandler fatal;
  // The machine-wide settings file; empty means MachineSettingsPath().
  std::string machineSettings;

  void Message(const std::string& text) const;
  void Fatal(const std::string& text) const;
  std::string MachineSettings() const;
};

// The operating-system version facts of the trace header.
struct OsVersion {
  int major = 0;
  int minor = 0;
  int build = 0;
  std::string note;
  int platform = 0;
};

// Reads the kernel version (uname): major.minor of the release, build = its third number,
// note = the kernel's version string, platform 2. On failure shows
// "GetNTVersion failed: " + error text and returns false, leaving os unchanged.
bool GetNTVersion(OsVersion& os, const SystemHooks& hooks);
// Major, minor and patch of a kernel release text such as "6.1.0-18-amd64".
void ParseKernelRelease(const std::string& release, int& major, int& minor, int& build);

// The host name, whole; "Unknown" when it cannot be read. Never shows anything.
std::string ComputerName();

// The user's full name from the password database (the comment field up to its first
// comma; an empty field gives ""). "None", after a message, when there is no entry.
std::string GetUserName(const SystemHooks& hooks);

// $ORGANIZATION when set, else "Organization" of the machine-wide [Globals], else "" (no
// message: a missing file or key is an empty organization). "None", after a message, only
// when the settings file exists but cannot be read.
std::string GetOrgName(const SystemHooks& hooks);

// The root folder of the system's volume: "/".
std::string SystemDisk();

// The value of name in the machine-wide settings group section, trailing NULs dropped, or
// defaultValue when the file, the group or the key is missing (silently). A settings file
// that exists but cannot be read is fatal.
std::string RegRead(const std::string& section, const std::string& name,
                    const std::string& defaultValue, const SystemHooks& hooks);

// The leading number of text rounded to a 32-bit integer, halves to even; 0 for a text
// without a number; false when the number does not fit in 32 bits.
bool LeadingInt32(const std::string& text, int& out);

}  // namespace kestrum
