// Generates a reproducible folder tree for the scanner benchmarks.
//   gen_tree ROOT [--folders N] [--files N] [--small-max BYTES] [--seed S] [--flat 1]
//                 [--links PERCENT]
// Folders form a random recursive tree (each new folder under a uniformly chosen earlier
// one), or with --flat 1 all sit in ROOT; files are spread over the folders at random, or
// evenly when flat. With --links, that share of the names are hard links to an earlier file
// (mostly in another folder) instead of files of their own. Sizes: 5% empty, 0.2% large (1 MiB to
// 2 GiB, made sparse with ftruncate so they take no blocks), the rest written for real with
// a log-uniform size from 1 byte to --small-max. The same arguments give the same tree.
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
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string a = argv[i];
    const long v = std::atol(argv[i + 1]);
    if (a == "--folders") folders = v;
    else if (a == "--files") files = v;
    else if (a == "--small-max") smallMax = v;
    else if (a == "--seed") seed = static_cast<unsigned>(v);
    else if (a == "--flat") flat = v;
    else if (a == "--links") links = v;
  }
  std::mt19937_64 rng(seed);
  std::vector<std::string> paths{root};
  ::mkdir(root.c_str(), 0755);
  for (long i = 1; i < folders; ++i) {
    const std::size_t parent =
        flat ? 0 : std::uniform_int_distribution<std::size_t>(0, paths.size() - 1)(rng);
    std::string p = paths[parent] + "/d" + std::to_string(i);
    if (::mkdir(p.c_str(), 0755) != 0) { std::perror(p.c_str()); return 1; }
    paths.push_back(std::move(p));
  }
  std::vector<char> data(static_cast<std::size_t>(smallMax > 0 ? smallMax : 1), 'k');
  std::uniform_real_distribution<double> u(0, 1);
  std::vector<std::string> made;
  for (long i = 0; i < files; ++i) {
    const std::size_t f =
        flat ? 1 + static_cast<std::size_t>(i) % (paths.size() > 1 ? paths.size() - 1 : 1) % paths.size()
             : std::uniform_int_distribution<std::size_t>(0, paths.size() - 1)(rng);
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
