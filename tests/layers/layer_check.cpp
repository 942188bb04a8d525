// Checks the include graph of the sources, and of the core's tests, against their layers:
//
//   layer_check [--tests TESTS] SRC LAYER...
//
// LAYER are folders below SRC, lowest first ("core/platform" ... "gui/app"). Every source file
// of a layer may include files of its own layer and of the layers listed before it; an
// include of a later layer points up and is reported with its file and line.
//
// An include is judged by the file it names, found as the compiler finds it: a quoted name
// first beside the including file, then under SRC and TESTS; an angle-bracket name under SRC
// and TESTS only. So <core/x/y.h>, "../x/y.h" and "core/w/../x/y.h" all count as core/x. An
// angle-bracket name found under neither is a system header; a quoted one found nowhere is
// judged by its name under SRC.
//
// With TESTS, the core's tests are checked too: TESTS/core/X holds the tests of layer core/X,
// which may include what that layer may. TESTS/support, shared by every test, ranks with the
// lowest layer. The window's tests (TESTS/gui) and everything else under TESTS may include
// anything.
//
// Also reported: a source file under SRC/core or TESTS/core that lies in no layer, a Qt
// header included by the core or its tests, and a process flag (TraceOn, Scanning) declared
// or defined anywhere but its home. Prints every fault and exits with 1 when there is any,
// so the build and the test suite both refuse it.
#include <algorithm>
#include <cstddef>
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
  const char* Home;  // the only file under SRC that may declare it
};
// The two process flags and the layer files that own them: the trace switch belongs to the
// trace log, the stop flag to the scan, the lowest layer that tests it.
constexpr Flag kFlags[] = {{"TraceOn", "core/trace/trace.h"},
                           {"Scanning", "core/scan/scanning.h"}};

bool IsSource(const fs::path& p) {
  const std::string e = p.extension().string();
  return e == ".h" || e == ".cpp";
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.compare(0, prefix.size(), prefix) == 0;
}

// The index of the layer that holds relative path rel, or -1.
int LayerOf(const std::string& rel, const std::vector<std::string>& layers) {
  for (std::size_t i = 0; i < layers.size(); ++i)
    if (StartsWith(rel, layers[i] + "/")) return static_cast<int>(i);
  return -1;
}

// path below root, or "" when it lies outside. Both are absolute and lexically normal.
std::string Below(const fs::path& path, const fs::path& root) {
  const std::string rel = path.lexically_relative(root).generic_string();
  return rel.empty() || rel == "." || rel == ".." || StartsWith(rel, "../") ? std::string() : rel;
}

// Where a file lies and what the check asks of it.
struct Place {
  std::string Shown;   // the root's folder name and the path below it: "src/core/scan/scan.h"
  std::string Rel;     // the path below its root; "" outside both
  bool InSrc = false;  // below SRC (else below TESTS, or outside both)
  int Layer = -1;      // the layer it belongs to, -1 for none
  bool Core = false;   // the core or its tests: no Qt header, and it must lie in a layer
};

class Tree {
 public:
  Tree(fs::path src, fs::path tests, std::vector<std::string> layers)
      : src_(std::move(src)), tests_(std::move(tests)), layers_(std::move(layers)) {}

  const std::vector<std::string>& Layers() const { return layers_; }

  Place PlaceOf(const fs::path& file) const {
    Place p;
    p.Rel = Below(file, src_);
    if (!p.Rel.empty()) {
      p.Shown = src_.filename().string() + "/" + p.Rel;
      p.InSrc = true;
      p.Layer = LayerOf(p.Rel, layers_);
      p.Core = StartsWith(p.Rel, "core/");
      return p;
    }
    p.Rel = tests_.empty() ? std::string() : Below(file, tests_);
    if (p.Rel.empty()) return p;
    p.Shown = tests_.filename().string() + "/" + p.Rel;
    if (StartsWith(p.Rel, "core/")) {
      p.Layer = LayerOf(p.Rel, layers_);
      p.Core = true;
    } else if (StartsWith(p.Rel, "support/")) {
      p.Layer = 0;
      p.Core = true;
    }
    return p;
  }

  // The file the include of name in from means (see the top of this file); "" for a system
  // header.
  fs::path Resolve(const fs::path& from, bool quoted, const std::string& name) const {
    std::vector<fs::path> dirs;
    if (quoted) dirs.push_back(from.parent_path());
    dirs.push_back(src_);
    if (!tests_.empty()) dirs.push_back(tests_);
    for (const fs::path& dir : dirs) {
      const fs::path candidate = (dir / name).lexically_normal();
      std::error_code ec;
      if (fs::is_regular_file(candidate, ec)) return candidate;
    }
    return quoted ? (src_ / name).lexically_normal() : fs::path();
  }

  // Every source file below the roots, SRC's first, each in name order.
  std::vector<fs::path> Files() const {
    std::vector<fs::path> out;
    for (const fs::path& root : {src_, tests_}) {
      if (root.empty()) continue;
      const std::size_t first = out.size();
      for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file() && IsSource(entry.path()))
          out.push_back(entry.path().lexically_normal());
      std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
    }
    return out;
  }

 private:
  fs::path src_, tests_;
  std::vector<std::string> layers_;
};

fs::path Absolute(const char* dir) { return fs::absolute(dir).lexically_normal(); }

}  // namespace

int main(int argc, char** argv) {
  int arg = 1;
  fs::path testsRoot;
  if (argc > 2 && std::string(argv[1]) == "--tests") {
    testsRoot = Absolute(argv[2]);
    arg = 3;
  }
  if (argc - arg < 2) {
    std::cerr << "usage: layer_check [--tests TESTS] SRC LAYER...\n";
    return 2;
  }
  const Tree tree(Absolute(argv[arg]), testsRoot, {argv + arg + 1, argv + argc});
  const std::vector<std::string>& layers = tree.Layers();
  const std::regex include(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  const std::regex flagDecl(R"(\bstd::atomic<bool>\s+(\w+)\s*[;{])");
  int faults = 0;
  std::size_t sources = 0, tests = 0;

  for (const fs::path& path : tree.Files()) {
    const Place here = tree.PlaceOf(path);
    if (here.Layer < 0) {
      if (here.Core) {
        std::cout << here.Shown << ": lies in no layer of the core\n";
        ++faults;
      }
      continue;
    }
    ++(here.InSrc ? sources : tests);
    std::ifstream in(path);
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
      const std::string at = here.Shown + ":" + std::to_string(number) + ": ";
      std::smatch m;
      if (std::regex_search(line, m, include)) {
        const bool quoted = m[1] == "\"";
        const std::string name = m[2];
        const std::string written = quoted ? "\"" + name + "\"" : "<" + name + ">";
        const fs::path target = tree.Resolve(path, quoted, name);
        if (target.empty() && here.Core && !name.empty() && name[0] == 'Q') {
          std::cout << at << "the core includes the Qt header " << written << "\n";
          ++faults;
        }
        const int theirs = target.empty() ? -1 : tree.PlaceOf(target).Layer;
        if (theirs > here.Layer) {
          std::cout << at << "includes " << written << ", which is in "
                    << layers[static_cast<std::size_t>(theirs)] << ", above "
                    << layers[static_cast<std::size_t>(here.Layer)] << "\n";
          ++faults;
        }
      }
      for (auto it = std::sregex_iterator(line.begin(), line.end(), flagDecl);
           it != std::sregex_iterator(); ++it) {
        const std::string name = (*it)[1];
        for (const Flag& f : kFlags) {
          std::string definition = f.Home;
          definition.replace(definition.size() - 2, 2, ".cpp");
          const bool home = here.InSrc && (here.Rel == f.Home || here.Rel == definition);
          if (name == f.Name && !home) {
            std::cout << at << "declares the process flag " << name << ", whose home is " << f.Home
                      << "\n";
            ++faults;
          }
        }
      }
    }
  }
  // An empty count means a wrong folder on the command line, which must not pass as clean.
  if (sources == 0 || (!testsRoot.empty() && tests == 0)) {
    std::cout << "no source files found in the layers under " << argv[arg]
              << (testsRoot.empty() ? "" : " and " + testsRoot.string()) << "\n";
    return 1;
  }
  if (faults > 0) {
    std::cout << faults << (faults == 1 ? " fault" : " faults") << " in the include graph\n";
    return 1;
  }
  return 0;
}
