#include "core/app/start.h"

#include "core/trace/trace_log.h"

namespace kestrum {

bool CommandLineAsksForTrace(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) {
    if (!line.empty()) line += ' ';
    line += a;
  }
  return CommandLineWantsTrace(line);
}

}  // namespace kestrum
