#include "core/scan/scan_log.h"

#include <algorithm>
#include <cstdlib>

#include "core/platform/numbers.h"

namespace kestrum {

std::unique_ptr<ScanLog> ScanLog::FromEnvironment() {
  const char* path = std::getenv("KESTRUM_SCAN_LOG");
  if (!path || !*path) return nullptr;
  // "e": the descriptor is not handed to programs the window starts.
  std::FILE* file = std::fopen(path, "ae");
  if (!file) return nullptr;
  std::unique_ptr<ScanLog> log(new ScanLog(file));
  std::fprintf(file, "%s\n", kHeader);
  std::fflush(file);
  return log;
}

ScanLog::~ScanLog() { std::fclose(file_); }

void ScanLog::Period(double seconds, unsigned readers, const ReaderSample& s, unsigned memoryBound,
                     std::string_view decision, std::string_view reason) {
  const double busy = s.Busy > 0 ? s.Busy : 1;
  auto share = [busy](double x) { return FixedText(std::clamp(x / busy, 0.0, 1.0), 2); };
  // Numbers with a point whatever the user's locale, so that any program reads them.
  std::string line = FixedText(seconds, 3) + '\t' + std::to_string(readers) + '\t' +
                     FixedText(s.Seconds > 0 ? s.Entries / s.Seconds : 0.0, 0) + '\t' +
                     share(s.OnCpu) + '\t' + share(s.Queued) + '\t' +
                     share(s.Busy - s.OnCpu - s.Queued) + '\t' + std::to_string(memoryBound) + '\t';
  line.append(decision).append(1, '\t').append(reason).append(1, '\n');
  std::fwrite(line.data(), 1, line.size(), file_);
  // Each line whole in the file as it is made, so that a scan stopped, or a program ended,
  // leaves every period it had; errors are the log's alone and go unreported.
  std::fflush(file_);
}

}  // namespace kestrum
