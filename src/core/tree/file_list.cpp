#include "core/tree/file_list.h"

#include <charconv>
#include <memory>

#include "core/tree/disk_model.h"

namespace kestrum {

ListedFile* FileListing::Find(const std::string& key) {
  if (key.size() < 2 || key[0] != 'R') return nullptr;
  std::size_t index = 0;
  const char* end = key.data() + key.size();
  const auto [at, error] = std::from_chars(key.data() + 1, end, index);
  if (error != std::errc() || at != end || index >= Files.size() || Files[index].Gone)
    return nullptr;
  return &Files[index];
}

const ListedFile* FileListing::Find(const std::string& key) const {
  return const_cast<FileListing*>(this)->Find(key);
}

void ForgetListedFiles(DiskObject& results, const std::vector<std::string>& keys) {
  if (keys.empty() || !results.Drive().Listed) return;
  auto copy = std::make_shared<FileListing>(*results.Drive().Listed);
  for (const std::string& key : keys)
    if (ListedFile* f = copy->Find(key)) f->Gone = true;
  results.DriveForChange().Listed = std::move(copy);
}

}  // namespace kestrum
