// The headless report alone, without the window: "kestrum-report --report PATH [trace]".
#include <string>
#include <vector>

#include "core/app/report.h"
#include "core/platform/descriptors.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kestrum::RaiseDescriptorLimit(kestrum::kScanDescriptors);
  if (const auto status = kestrum::MaybeRunReport(args)) return *status;
  return 2;
}
