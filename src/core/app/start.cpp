#include "core/app/start.h"

#include <algorithm>
#include <cctype>

namespace kestrum {

bool CommandLineAsksForTrace(const std::vector<std::string>& args) {
  std::string line;
  for (const std::string& a : args) {
    if (!line.empty()) line += ' ';
    line += a;
  }
  std::transform(line.begin(), line.end(), line.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return line.find("trace") != std::string::npos;
}

}  // namespace kestrum
