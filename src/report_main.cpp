// The headless program, without the window: the report of a folder or of saved scans, and
// the export of a folder (see UsageText for Program::Report).
#include <string>
#include <vector>

#include "core/app/command_line.h"
#include "core/app/headless.h"
#include "core/platform/descriptors.h"

int main(int argc, char** argv) {
  using namespace kestrum;
  const std::vector<std::string> args(argv + 1, argv + argc);
  RaiseDescriptorLimit(kScanDescriptors);
  // The headless program never asks for the window, so there is always a status.
  return RunWithoutWindow(ParseCommandLine(args, Program::Report), argc > 0 ? argv[0] : "")
      .value_or(2);
}
