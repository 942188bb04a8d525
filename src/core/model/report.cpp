#include "core/model/report.h"

#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "core/model/discovery.h"
#include "core/model/report_format.h"
#include "core/model/scan.h"
#include "core/model/summary.h"
#include "core/platform/errors.h"
#include "core/trace/trace.h"

namespace kestrum {

namespace {

bool IsTraceWord(const std::string& a) {
  if (a.size() != 5) return false;
  std::string l;
  for (char c : a) l += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return l == "trace";
}

}  // namespace

std::optional<int> MaybeRunReport(const std::vector<std::string>& args) {
  std::size_t at = args.size();
  for (std::size_t i = 0; i < args.size(); ++i)
    if (args[i] == "--report") at = i;
  if (at == args.size()) return std::nullopt;
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
  HardLinkRule links = HardLinkRule::Once;
  for (const auto& a : args) {
    if (a.rfind("--hard-links", 0) != 0) continue;
    if (a == "--hard-links=each" || a == "--hard-links=once") {
      links = a == "--hard-links=each" ? HardLinkRule::Each : HardLinkRule::Once;
    } else {
      std::fputs("kestrum: --hard-links takes =once or =each\n", stderr);
      return 2;
    }
  }
  for (const auto& a : args)
    if (IsTraceWord(a) && !TraceOn) {
      TraceOn = true;
      StartTrace();
    }
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
  const ReportSink toStdout = [&writeError](std::string_view piece) {
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
