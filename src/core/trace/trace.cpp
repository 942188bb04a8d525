#include "core/trace/trace.h"

#include <cctype>
#include <cstdint>

#include "core/platform/errors.h"
#include "core/platform/volumes.h"
#include "core/trace/trace_location.h"
#include "core/trace/trace_log.h"
#include "kestrum_version.h"

namespace kestrum {

std::atomic<bool> TraceOn{false};

SystemFacts GatherSystemFacts(const SystemHooks& hooks) {
  SystemFacts f;
  GetNTVersion(f.os, hooks);
  f.computer = ComputerName();
  f.owner = GetUserName(hooks);
  f.organization = GetOrgName(hooks);
  f.systemDisk = SystemDisk();
  int err = 0;
  f.serial = VolumeSerialText(f.systemDisk, &err);
  if (f.serial.empty())
    hooks.Fatal("Call to GetVolumeInformation failed(" + f.systemDisk + "): " + ErrorText(err));
  return f;
}

std::vector<std::string> TraceHeaderLines(const SystemFacts& f, const std::string& startedAt) {
  using namespace version;
  return {
      std::string("========== ") + Product + " Trace started at " + startedAt + " ===============",
      "Version " + std::to_string(Major) + "." + std::to_string(Minor) + "." +
          std::to_string(Revision) + "    " + Comments,
      std::string(Company) + "  " + Copyright,
      "OS version: " + std::to_string(f.os.major) + "." + std::to_string(f.os.minor) + "  Build: " +
          std::to_string(f.os.build) + "  Note: " + f.os.note + "  System: " + f.computer,
      "Owner: " + f.owner + "  Organization: " + f.organization,
      "System disk: " + f.systemDisk + " (" + f.serial + ")",
      "",
  };
}

std::string EscapeTraceText(std::string_view m) {
  std::string out;
  out.reserve(m.size());
  const auto cont = [&](std::size_t i) {
    return i < m.size() && (static_cast<unsigned char>(m[i]) & 0xC0) == 0x80;
  };
  for (std::size_t i = 0; i < m.size();) {
    const auto b = static_cast<unsigned char>(m[i]);
    if (b == 10 || b == 13 || (b >= 32 && b <= 126)) {
      out += static_cast<char>(b);
      ++i;
      continue;
    }
    std::uint32_t cp = b;
    std::size_t len = 1;
    if (b >= 0xC2 && b <= 0xDF && cont(i + 1)) {
      cp = ((b & 0x1Fu) << 6) | (m[i + 1] & 0x3F);
      len = 2;
    } else if (b >= 0xE0 && b <= 0xEF && cont(i + 1) && cont(i + 2)) {
      cp = ((b & 0x0Fu) << 12) | ((m[i + 1] & 0x3Fu) << 6) | (m[i + 2] & 0x3F);
      len = (cp >= 0x800 && (cp < 0xD800 || cp > 0xDFFF)) ? 3 : 1;
    } else if (b >= 0xF0 && b <= 0xF4 && cont(i + 1) && cont(i + 2) && cont(i + 3)) {
      cp = ((b & 0x07u) << 18) | ((m[i + 1] & 0x3Fu) << 12) | ((m[i + 2] & 0x3Fu) << 6) |
           (m[i + 3] & 0x3F);
      len = (cp >= 0x10000 && cp <= 0x10FFFF) ? 4 : 1;
    }
    if (len == 1) cp = b;
    out += "<" + std::to_string(cp) + ">";
    i += len;
  }
  return out;
}

TraceLog::TraceLog(TraceEnvironment env) : env_(std::move(env)) {}

void TraceLog::SetEnvironment(TraceEnvironment env) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  env_ = std::move(env);
}

void TraceLog::Start() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  StartLocked();
}

void TraceLog::StartLocked() {
  // A fresh file object completing its names against exePath, with the log's properties,
  // settings and header; extraHeader goes just before the header's closing blank line.
  const auto prepare = [this](const std::string& exePath, const std::string& extraHeader,
                              const std::vector<std::string>& header) {
    file_ = std::make_unique<DiskFile>(exePath);
    DiskFile& f = *file_;
    if (env_.clock) f.SetClock(env_.clock);
    if (env_.threadId) f.SetThreadIdSource(env_.threadId);
    f.SetDontTrace(true);
    f.SetRaiseErrors(true);
    f.SetPrefixDate(true);
    f.SetPrefixThreadID(true);
    f.SetPrefixSeparator(": ");
    if (overFlow_) f.SetFileOverFlow(*overFlow_);
    if (overFlowSize_) f.SetOverFlowSize(*overFlowSize_);
    // The first open always truncates the plain log; the setting only chooses how
    // continuation files are named (1 date stamp, 2 sequence number).
    if (autoExtension_ == 1 || autoExtension_ == 2) f.SetContinueExtension(autoExtension_);
    for (std::size_t i = 0; i < header.size(); ++i) {
      if (i + 1 == header.size() && !extraHeader.empty()) f.AddHeaderLine(extraHeader);
      f.AddHeaderLine(header[i]);
    }
    try {
      f.OpenFile(".tra", DiskFile::kEither, DiskFile::kForWriting, 0, 0);
    } catch (const DiskFileError&) {
      // Recorded in LastErrorNumber/LastErrorText, read by the caller.
    }
    return f.LastErrorNumber() == 0;
  };

  // A closed file first: a line traced while the settings and facts are gathered finds the
  // log not yet open and is dropped, instead of starting the log again.
  file_ = std::make_unique<DiskFile>(env_.exePath);
  // A setting whose number does not fit in 32 bits leaves the property as it was (0).
  int v = 0;
  overFlow_.reset();
  overFlowSize_.reset();
  if (LeadingInt32(RegRead("Globals", "TraceOverFlow", "false", env_.hooks), v)) overFlow_ = v;
  if (LeadingInt32(RegRead("Globals", "TraceOverFlowSize", "2000000", env_.hooks), v))
    overFlowSize_ = v;
  autoExtension_ = 0;
  if (LeadingInt32(RegRead("Globals", "TraceAutoExtension", "0", env_.hooks), v))
    autoExtension_ = v;

  const SystemFacts facts = env_.facts ? env_.facts(env_.hooks) : GatherSystemFacts(env_.hooks);
  const std::time_t now = env_.clock ? env_.clock() : std::time(nullptr);
  const std::vector<std::string> header = TraceHeaderLines(facts, GeneralDate(now));

  if (prepare(env_.exePath, "", header)) return;
  // An installed program's folder takes no new files: the log goes to the user's state
  // folder instead, and its header says where.
  const std::string exe = env_.exePath.empty() ? RunningExePath() : env_.exePath;
  const std::string folder = env_.stateFolder.empty() ? TraceStateFolder() : env_.stateFolder;
  const int besideError = file_->LastErrorNumber();
  const std::string besideText = file_->LastErrorText();
  if (MakeFolders(folder) == 0) {
    const std::string movedExe = TraceExePathIn(folder, exe);
    const std::string where = DiskFile(movedExe).AutoPath(".tra");
    if (prepare(movedExe, "Trace file: " + where + " (the program's folder is not writable)",
                header))
      return;
  }
  // Neither place took the log: report the first failure, the one beside the executable.
  env_.hooks.Message("Error opening trace file:\r\n(" + std::to_string(besideError) + ")" +
                     besideText);
}

void TraceLog::Write(std::string_view message) {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  if (!file_) StartLocked();
  if (!file_->IsOpen()) return;
  try {
    file_->WriteLine(EscapeTraceText(message));
  } catch (const DiskFileError& e) {
    // The program goes on untraced: one message, and the log stays closed from here on.
    file_->CloseFile();
    env_.hooks.Message("Error writing trace file, tracing stopped:\r\n(" +
                       std::to_string(e.Number()) + ")" + e.Description());
  } catch (const std::exception& e) {
    file_->CloseFile();
    env_.hooks.Message(std::string("Error writing trace file, tracing stopped:\r\n") + e.what());
  }
}

bool TraceLog::IsOpen() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return file_ && file_->IsOpen();
}

int TraceLog::AutoExtensionSetting() {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return autoExtension_;
}

TraceLog& ProcessTraceLog() {
  static TraceLog log;
  return log;
}

bool CommandLineWantsTrace(std::string_view commandLine) {
  static constexpr std::string_view kWord = "trace";
  if (commandLine.size() < kWord.size()) return false;
  for (std::size_t i = 0; i + kWord.size() <= commandLine.size(); ++i) {
    std::size_t k = 0;
    while (k < kWord.size() &&
           std::tolower(static_cast<unsigned char>(commandLine[i + k])) == kWord[k])
      ++k;
    if (k == kWord.size()) return true;
  }
  return false;
}

void ConfigureTrace(SystemHooks hooks) {
  TraceEnvironment env;
  env.hooks = std::move(hooks);
  ProcessTraceLog().SetEnvironment(std::move(env));
}

void Trace(std::string_view message) { ProcessTraceLog().Write(message); }

void StartTrace() { ProcessTraceLog().Start(); }

}  // namespace kestrum
