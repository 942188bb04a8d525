// Generates a reproducible folder tree for the scanner benchmarks.
//   gen_tree ROOT [--folders N] [--files N] [--small-max BYTES] [--seed S] [--flat 1]
//                 [--links PERCENT] [--shape random|deep|wide]
// Folders form a random recursive tree (each new folder under a uniformly chosen earlier
// one), or with --flat 1 all sit in ROOT; files are spread over the folders at random, or
// evenly when flat. Two more shapes:
//  - deep: deep and narrow, with a random fan-out. Each new folder mostly goes below the one
//    made last (down to 300 levels, the most a path of PATH_MAX holds here with room to
//    spare), else below one of the last 64 made; files at random.
//  - wide: shallow and wide. Folders sit in ROOT or one level below; 8 of them hold half of
//    the files between them, the rest are spread at random.
// With --links, that share of the names are hard links to an earlier file (mostly in another
// folder) instead of files of their own. Sizes: 5% empty, 0.2% large (1 MiB to 2 GiB, made
// sparse with ftruncate so they take no blocks), the rest written for real with a log-uniform
// size from 1 byte to --small-max. The same arguments give the same tree.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s ROOT [--folders N] [--files N] [--small-max B] [--seed S]\n", argv[0]);
    return 2;
  }
  const std::string root = argv[1];
  long folders = 50000, files = 1000000, smallMax = 8192;
  unsigned seed = 20261208;
  long flat = 0, links = 0;
  std::string shape = "random";
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    if (a == "--shape") {
      shape = argv[i + 1];
      continue;
    }
    const long v = std::atol(argv[i + 1]);
    if (a == "--folders") folders = v;
    else if (a == "--files") files = v;
    else if (a == "--small-max") smallMax = v;
    else if (a == "--seed") seed = static_cast<unsigned>(v);
    else if (a == "--flat") flat = v;
    else if (a == "--links") links = v;
  }
  std::mt19937_64 rng(seed);
  if (shape != "random" && shape != "deep" && shape != "wide") {
    std::fprintf(stderr, "unknown shape %s\n", shape.c_str());
    return 2;
  }
  std::vector<std::string> paths{root};
  std::vector<int> depth{0};
  ::mkdir(root.c_str(), 0755);
  auto pick = [&rng](std::size_t lo, std::size_t hi) {
    return std::uniform_int_distribution<std::size_t>(lo, hi)(rng);
  };
  for (long i = 1; i < folders; ++i) {
    std::size_t parent = flat ? 0 : pick(0, paths.size() - 1);
    if (shape == "deep") {
      const std::size_t last = paths.size() - 1;
      parent = pick(0, 9) < 7 ? last : last - pick(0, std::min<std::size_t>(last, 63));
      if (depth[parent] >= 300) parent = pick(0, last);
      while (depth[parent] >= 300) parent = paths.size() > 1 ? pick(0, last) : 0;
    } else if (shape == "wide") {
      // The first 100 folders sit in ROOT, the others below one of them.
      parent = i <= 100 ? 0 : pick(1, 100);
    }
    std::string p = paths[parent] + "/d" + std::to_string(i);
    if (::mkdir(p.c_str(), 0755) != 0) { std::perror(p.c_str()); return 1; }
    paths.push_back(std::move(p));
    depth.push_back(depth[parent] + 1);
  }
  std::vector<char> data(static_cast<std::size_t>(smallMax > 0 ? smallMax : 1), 'k');
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<std::string> made;
  for (long i = 0; i < files; ++i) {
    std::size_t f =
        flat ? 1 + static_cast<std::size_t>(i) % (paths.size() > 1 ? paths.size() - 1 : 1) % paths.size()
             : std::uniform_int_distribution<std::size_t>(0, paths.size() - 1)(rng);
    // Wide: half of the files go to 8 huge folders, spread over the tree's order.
    if (shape == "wide" && paths.size() > 8 && i % 2 == 0)
      f = 1 + (static_cast<std::size_t>(i / 2) % 8) * ((paths.size() - 1) / 8);
    const std::string p = paths[f] + "/f" + std::to_string(i) + (i % 7 == 0 ? ".dat" : ".txt");
    if (links > 0 && !made.empty() && u(rng) * 100 < static_cast<double>(links)) {
      const std::string& target =
          made[std::uniform_int_distribution<std::size_t>(0, made.size() - 1)(rng)];
      if (::link(target.c_str(), p.c_str()) != 0) { std::perror(p.c_str()); return 1; }
      continue;
    }
    if (links > 0) made.push_back(p);
    const int fd = ::open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) { std::perror(p.c_str()); return 1; }
    const double r = u(rng);
    if (r < 0.05) {
      // empty
    } else if (r < 0.052) {
      const double size = std::exp(std::log(1048576.0) + u(rng) * (std::log(2147483648.0) - std::log(1048576.0)));
      if (::ftruncate(fd, static_cast<off_t>(size)) != 0) { std::perror("ftruncate"); return 1; }
    } else {
      const auto size = static_cast<std::size_t>(std::exp(u(rng) * std::log(static_cast<double>(smallMax))));
      if (::write(fd, data.data(), size) != static_cast<ssize_t>(size)) { std::perror("write"); return 1; }
    }
    ::close(fd);
  }
  std::printf("%ld folders, %ld files under %s\n", folders, files, root.c_str());
  return 0;
}
