// Checks the include graph of the sources against their layers:
//
//   layer_check SRC LAYER...
//
// LAYER are folders below SRC, lowest first ("core/platform" ... "gui/app"). Every source file
// of a layer may include files of its own layer and of the layers listed before it; an
// include of a later layer points up and is reported with its file and line. Also reported:
// a source file under SRC/core that lies in no layer, a Qt header included by the core, and
// a process flag (TraceOn, Scanning) declared or defined anywhere but its home. Prints every fault
// and exits with 1 when there is any, so the build and the test suite both refuse it.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Flag {
  const char* Name;
  const char* Home;  // the only file that may declare it
};
// The two process flags and the layer files that own them: the trace switch belongs to the
// trace log, the stop flag to the scan, the lowest layer that tests it.
constexpr Flag kFlags[] = {{"TraceOn", "core/trace/trace.h"},
                           {"Scanning", "core/scan/scanning.h"}};

bool IsSource(const fs::path& p) {
  const std::string e = p.extension().string();
  return e == ".h" || e == ".cpp";
}

// The index of the layer that holds relative path rel, or -1.
int LayerOf(const std::string& rel, const std::vector<std::string>& layers) {
  for (std::size_t i = 0; i < layers.size(); ++i)
    if (rel.compare(0, layers[i].size() + 1, layers[i] + "/") == 0) return static_cast<int>(i);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::cerr << "usage: layer_check SRC LAYER...\n";
    return 2;
  }
  const fs::path src = argv[1];
  const std::vector<std::string> layers(argv + 2, argv + argc);
  const std::regex include(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  const std::regex flagDecl(R"(\bstd::atomic<bool>\s+(\w+)\s*[;{])");
  int faults = 0;
  std::size_t files = 0;
  std::vector<fs::path> paths;
  for (const auto& entry : fs::recursive_directory_iterator(src))
    if (entry.is_regular_file() && IsSource(entry.path())) paths.push_back(entry.path());
  std::sort(paths.begin(), paths.end());

  for (const fs::path& path : paths) {
    const std::string rel = fs::relative(path, src).generic_string();
    const int own = LayerOf(rel, layers);
    const bool core = rel.rfind("core/", 0) == 0;
    if (own < 0) {
      if (core) {
        std::cout << rel << ": lies in no layer of the core\n";
        ++faults;
      }
      continue;
    }
    ++files;
    std::ifstream in(path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      std::smatch m;
      if (std::regex_search(line, m, include)) {
        const std::string target = m[2];
        if (core && m[1] == "<" && !target.empty() && target[0] == 'Q') {
          std::cout << rel << ":" << number << ": the core includes the Qt header <" << target
                    << ">\n";
          ++faults;
        }
        const int theirs = m[1] == "\"" ? LayerOf(target, layers) : -1;
        if (theirs > own) {
          std::cout << rel << ":" << number << ": includes " << target << ", which is in "
                    << layers[static_cast<std::size_t>(theirs)] << ", above "
                    << layers[static_cast<std::size_t>(own)] << "\n";
          ++faults;
        }
      }
      for (auto it = std::sregex_iterator(line.begin(), line.end(), flagDecl);
           it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[1];
        for (const Flag& f : kFlags) {
          std::string definition = f.Home;
          definition.replace(definition.size() - 2, 2, ".cpp");
          if (name == f.Name && rel != f.Home && rel != definition) {
            std::cout << rel << ":" << number << ": declares the process flag " << name
                      << ", whose home is " << f.Home << "\n";
            ++faults;
          }
        }
      }
    }
  }
  if (files == 0) {
    std::cout << "no source files found in the layers under " << src << "\n";
    return 1;
  }
  if (faults > 0) {
    std::cout << faults << (faults == 1 ? " fault" : " faults") << " in the include graph\n";
    return 1;
  }
  return 0;
}
