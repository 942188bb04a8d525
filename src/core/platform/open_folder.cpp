#include "core/platform/open_folder.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace kestrum {

namespace {

constexpr int kDirFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;

std::string_view TrimSlashes(std::string_view p) {
  while (p.size() > 1 && p.back() == '/') p.remove_suffix(1);
  return p;
}

OpenedFolder Fail(int error, std::string_view at) {
  OpenedFolder r;
  r.Error = error;
  r.FailedAt = std::string(at);
  return r;
}

}  // namespace

OpenedFolder OpenFolderBelow(std::string_view root, std::string_view path) {
  const std::string_view base = TrimSlashes(root);
  const std::string_view full = TrimSlashes(path);
  if (base.empty() || full.empty()) return Fail(EINVAL, path);
  // path must be base itself or continue it with "/" (base "/" is its own separator).
  if (full.substr(0, base.size()) != base) return Fail(EINVAL, path);
  std::string_view rest = full.substr(base.size());
  if (!rest.empty() && base != "/") {
    if (rest.front() != '/') return Fail(EINVAL, path);
  }

  OpenedFolder out;
  out.Fd.Reset(::open(std::string(base).c_str(), kDirFlags));
  if (!out.Fd) return Fail(errno, base);
  struct stat rootStat {};
  if (::fstat(out.Fd.Get(), &rootStat) != 0) return Fail(errno, base);

  std::size_t consumed = full.size() - rest.size();
  while (!rest.empty()) {
    while (!rest.empty() && rest.front() == '/') {
      rest.remove_prefix(1);
      ++consumed;
    }
    if (rest.empty()) break;
    const std::size_t slash = rest.find('/');
    const std::string_view name = rest.substr(0, slash);
    const std::size_t end = consumed + name.size();
    if (name == "." || name == "..") return Fail(EINVAL, full.substr(0, end));
    UniqueFd next(::openat(out.Fd.Get(), std::string(name).c_str(), kDirFlags | O_NOFOLLOW));
    if (!next) return Fail(errno, full.substr(0, end));
    struct stat st {};
    if (::fstat(next.Get(), &st) != 0) return Fail(errno, full.substr(0, end));
    if (st.st_dev != rootStat.st_dev) return Fail(EXDEV, full.substr(0, end));
    out.Fd = std::move(next);
    rest.remove_prefix(name.size());
    consumed = end;
  }
  return out;
}

SplitPath SplitLastName(std::string_view path) {
  const std::string_view p = TrimSlashes(path);
  const std::size_t slash = p.rfind('/');
  if (slash == std::string_view::npos) return {"", std::string(p)};
  if (p == "/") return {"/", ""};
  return {std::string(p.substr(0, slash + 1)), std::string(p.substr(slash + 1))};
}

}  // namespace kestrum
