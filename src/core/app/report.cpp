#include "core/app/report.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/tree/discovery.h"
#include "core/saved/json_export.h"
#include "core/saved/json_import.h"
#include "core/app/report_text.h"
#include "core/scan/scan.h"
#include "core/scan/scanning.h"
#include "core/tree/summary.h"
#include "core/platform/errors.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

// The report of each saved scan in turn, as "--report" prints a scanned folder's.
int RunImportReport(const std::vector<std::string>& files, HardLinkRule links) {
  int status = 0;
  for (const std::string& file : files) {
    DiskObject drive;
    drive.SetPath(file);
    std::int32_t keyCounter = 0;
    ImportError error;
    ImportOptions options;
    options.Links = links;
    if (!ImportScan(file, drive, keyCounter, error, options)) {
      std::fprintf(stderr, "kestrum: %s\n", error.Message.c_str());
      status = 1;
      continue;
    }
    int writeError = 0;
    const bool written = FormatReport(drive, [&writeError](std::string_view piece) {
      if (std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size()) return true;
      writeError = errno;
      return false;
    });
    if (!written || std::fflush(stdout) != 0) {
      std::fprintf(stderr, "kestrum: cannot write the report: %s\n",
                   ErrorText(written ? errno : writeError).c_str());
      return 1;
    }
  }
  return status;
}

bool IsTraceWord(const std::string& a) {
  if (a.size() != 5) return false;
  std::string l;
  for (char c : a) l += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return l == "trace";
}

}  // namespace

namespace {

// True when args[i] is the value of an option that takes a file or folder: such a text never
// counts as the trace word.
bool IsOptionValue(const std::vector<std::string>& args, std::size_t i) {
  if (i >= 1 && (args[i - 1] == "--export" || args[i - 1] == "--import")) return true;
  return i >= 2 && args[i - 2] == "--export";
}

void TraceIfAsked(const std::vector<std::string>& args) {
  for (std::size_t i = 0; i < args.size(); ++i)
    if (IsTraceWord(args[i]) && !IsOptionValue(args, i) && !TraceOn) {
      TraceOn = true;
      StartTrace();
    }
}

int RunExport(const std::vector<std::string>& args, std::size_t at) {
  if (at + 2 >= args.size()) {
    std::fputs("kestrum: --export needs a file and a folder\n", stderr);
    return 2;
  }
  TraceIfAsked(args);
  const std::string& file = args[at + 1];
  const std::string& given = args[at + 2];
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(given.c_str(), nullptr), &std::free);
  struct stat st {};
  if (!real || ::stat(real.get(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "kestrum: %s is not a folder\n", given.c_str());
    return 2;
  }
  Scanning = true;
  std::string error;
  const bool ok = ExportToFile(real.get(), file, error);
  Scanning = false;
  if (!ok) {
    std::fprintf(stderr, "kestrum: export to %s failed: %s\n", file.c_str(), error.c_str());
    return 1;
  }
  return 0;
}

}  // namespace

std::optional<int> MaybeRunReport(const std::vector<std::string>& args) {
  std::size_t at = args.size();
  for (std::size_t i = 0; i < args.size(); ++i)
    if (args[i] == "--report" && !IsOptionValue(args, i)) at = i;
  for (std::size_t i = 0; i < args.size(); ++i)
    if (args[i] == "--export" && !IsOptionValue(args, i) && at == args.size())
      return RunExport(args, i);
  if (at == args.size()) return std::nullopt;
  HardLinkRule links = HardLinkRule::Once;
  std::vector<std::string> imports;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--import" && !IsOptionValue(args, i)) {
      if (i + 1 >= args.size()) {
        std::fputs("kestrum: --import needs a file\n", stderr);
        return 2;
      }
      imports.push_back(args[i + 1]);
    }
  }
  unsigned threads = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] != "--threads") continue;
    char* end = nullptr;
    const char* v = i + 1 < args.size() ? args[i + 1].c_str() : "";
    const unsigned long n = std::strtoul(v, &end, 10);
    if (end == v || *end != 0 || n == 0 || n > 64) {
      std::fputs("kestrum: --threads needs a number from 1 to 64\n", stderr);
      return 2;
    }
    threads = static_cast<unsigned>(n);
  }
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a.rfind("--hard-links", 0) != 0 || IsOptionValue(args, i)) continue;
    if (a == "--hard-links=each" || a == "--hard-links=once") {
      links = a == "--hard-links=each" ? HardLinkRule::Each : HardLinkRule::Once;
    } else {
      std::fputs("kestrum: --hard-links takes =once or =each\n", stderr);
      return 2;
    }
  }
  TraceIfAsked(args);
  if (!imports.empty()) return RunImportReport(imports, links);
  if (at + 1 >= args.size()) {
    std::fputs("kestrum: --report needs a folder\n", stderr);
    return 2;
  }
  const std::string& given = args[at + 1];
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(given.c_str(), nullptr), &std::free);
  struct stat st {};
  if (!real || ::stat(real.get(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    std::fprintf(stderr, "kestrum: %s is not a folder\n", given.c_str());
    return 2;
  }
  FileSystemService fs;
  int writeError = 0;
  const TextSink toStdout = [&writeError](std::string_view piece) {
    if (std::fwrite(piece.data(), 1, piece.size(), stdout) == piece.size()) return true;
    writeError = errno;
    return false;
  };
  bool writeFailed = false;
  const bool ok = RunReport(
      fs, real.get(), toStdout,
      [](const std::string& m) { std::fprintf(stderr, "%s\n", m.c_str()); }, threads, links,
      writeFailed);
  if (!writeFailed && std::fflush(stdout) != 0) {
    writeFailed = true;
    writeError = errno;
  }
  if (writeFailed) {
    // A report cut short must not pass for a whole one: a full disk says so and fails.
    std::fprintf(stderr, "kestrum: cannot write the report: %s\n", ErrorText(writeError).c_str());
    return 1;
  }
  return ok ? 0 : 1;
}

}  // namespace kestrum
