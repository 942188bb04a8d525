#pragma once
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/trace/disk_file.h"
#include "core/trace/system_info.h"

namespace kestrum {

// The facts of the trace header, gathered once per start.
struct SystemFacts {
  OsVersion os;
  std::string computer;
  std::string owner;
  std::string organization;
  std::string systemDisk;
  std::string serial;
};

// Gathers the header facts from this machine, reporting failures through hooks (a volume
// serial that cannot be read is fatal).
SystemFacts GatherSystemFacts(const SystemHooks& hooks);

// The seven header lines of a log started at startedAt (general date text).
std::vector<std::string> TraceHeaderLines(const SystemFacts& facts, const std::string& startedAt);

// message made safe for the log: CR, LF and 32..126 stay, every other UTF-8 code point
// becomes "<" + code point + ">", and a byte that is not part of valid UTF-8 "<" + byte + ">".
std::string EscapeTraceText(std::string_view message);

// What a trace log needs from its surroundings. Empty members mean the running program's.
struct TraceEnvironment {
  SystemHooks hooks;
  std::string exePath;                                   // empty: /proc/self/exe
  DiskFile::Clock clock;                                 // empty: the system clock
  DiskFile::ThreadIdSource threadId;                     // empty: the calling thread's id
  std::function<SystemFacts(const SystemHooks&)> facts;  // empty: GatherSystemFacts
  // Where the log goes when the executable's folder takes none; empty: TraceStateFolder().
  std::string stateFolder;
};

// One trace log: the line file, its settings and the lock that keeps lines whole. All
// members may be called from any thread.
class TraceLog {
 public:
  explicit TraceLog(TraceEnvironment env = {});
  void SetEnvironment(TraceEnvironment env);

  // Creates a fresh line file (closing any earlier one), reads the three settings, registers
  // the header and opens "<exe>.tra" beside the executable, truncated. When that folder takes
  // no new file (an installed program), the log is "<exe>.tra" in the state folder instead,
  // with one more header line naming it. When neither opens, one message names the first
  // failure and the log stays closed for the rest of the run.
  void Start();
  // Writes one escaped, prefixed line; starts the log first when it was never started.
  // A failing write closes the log and shows one message naming the error; later calls
  // write nothing. Never throws.
  void Write(std::string_view message);
  bool IsOpen();
  // The settings the last Start read; 0 when absent or without a number.
  int AutoExtensionSetting();

 private:
  void StartLocked();
  // Recursive because starting gathers facts and shows messages that may trace; such a
  // nested line finds the new log not yet open and is dropped instead of deadlocking.
  std::recursive_mutex mutex_;
  TraceEnvironment env_;
  std::unique_ptr<DiskFile> file_;
  int autoExtension_ = 0;
  std::optional<int> overFlow_, overFlowSize_;
};

// The program's own log, used by Trace and StartTrace; a function-local static created on
// first use and destroyed (closing its file) as the process ends.
TraceLog& ProcessTraceLog();

// True when the command line holds "trace" anywhere, in any letter case.
bool CommandLineWantsTrace(std::string_view commandLine);

// Installs the message sink and fatal handler of the program's log; call before StartTrace.
void ConfigureTrace(SystemHooks hooks);

}  // namespace kestrum
