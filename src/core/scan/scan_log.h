#pragma once
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>

#include "core/scan/reader_control.h"

namespace kestrum {

// The scan's own account of its reader count, for whoever wants to see why a scan ran the
// readers it ran: with KESTRUM_SCAN_LOG=FILE in the environment, each parallel scan appends
// to FILE a header line and then one line per period of the controller, tab-separated:
//
//   seconds  readers  entries_per_second  running  queued  asleep  memory_bound  decision  reason
//
// seconds since the scan started; the readers of the period and the directory entries they
// handled per second; the shares of their busy time on a processor, queued for one and asleep
// (waiting for the device), each 0 to 1; the most readers memory allows; the decision
// ("kept", "trial", "grew to N", "shrank to N"; "fixed" when the count was fixed) and its
// reason in words. The one-thread walk has no periods and writes nothing.
//
// The log never changes the scan: a file that cannot be opened or written is no log, and a
// scan without the variable opens nothing and formats nothing.
class ScanLog {
 public:
  // The header line, without its newline.
  static constexpr const char* kHeader =
      "seconds\treaders\tentries_per_second\trunning\tqueued\tasleep\tmemory_bound\tdecision\t"
      "reason";

  // The log KESTRUM_SCAN_LOG names, opened for appending with the header written; null when
  // the variable is unset or empty, or the file cannot be opened.
  static std::unique_ptr<ScanLog> FromEnvironment();

  ~ScanLog();
  ScanLog(const ScanLog&) = delete;
  ScanLog& operator=(const ScanLog&) = delete;

  // One period: seconds since the scan started, the readers that ran, what they did, the
  // memory bound, and the decision with its reason.
  void Period(double seconds, unsigned readers, const ReaderSample& s, unsigned memoryBound,
              std::string_view decision, std::string_view reason);

 private:
  explicit ScanLog(std::FILE* file) : file_(file) {}
  std::FILE* file_;
};

}  // namespace kestrum
