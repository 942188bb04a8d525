// Feeds arbitrary bytes to the saved-scan reader as a file: it must refuse what it cannot read
// with a message, never crash, leak or overrun, and stay within its memory bounds (libFuzzer's
// -rss_limit_mb). Built with clang by scripts/test (-DKESTRUM_FUZZ=ON) and run over the corpus
// in tests/fuzz/corpus (exports written by ncdu, gdu and this program) for a few seconds.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/saved/json_import.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const int fd = ::memfd_create("saved-scan", MFD_CLOEXEC);
  if (fd < 0) return 0;
  for (std::size_t done = 0; done < size;) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n <= 0) {
      ::close(fd);
      return 0;
    }
    done += static_cast<std::size_t>(n);
  }
  for (const auto links : {kestrum::HardLinkRule::Once, kestrum::HardLinkRule::Each}) {
    kestrum::DiskObject drive;
    std::int32_t keys = 0;
    kestrum::ImportError error;
    kestrum::ImportOptions options;
    options.Links = links;
    const bool ok =
        kestrum::ImportScan("/proc/self/fd/" + std::to_string(fd), drive, keys, error, options);
    // A refusal always says why; an accepted file always has its root folder.
    if (ok == !error.Message.empty()) __builtin_trap();
    if (ok && (!drive.DiskObjectsIfAny() || drive.DiskObjects().Count() == 0)) __builtin_trap();
    if (!ok) continue;
    // What the drive kept of every folder reads back, pieces and jumps included, and its
    // counted files are what the folder's own totals were made of.
    for (const auto& folder : drive.DiskObjects()) {
      std::int32_t files = 0;
      drive.Drive().Files->ForEach(folder->FilesAt, [&files](const kestrum::StoredEntry& e) {
        if (e.What == kestrum::StoredEntry::Kind::File) ++files;
      });
      if (files != folder->fFileCount) __builtin_trap();
    }
  }
  ::close(fd);
  return 0;
}
