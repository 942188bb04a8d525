#include "core/model/imported_files.h"

#include <cstring>

namespace kestrum {

namespace {
constexpr std::size_t kNameBlock = 1 << 20;
}

std::uint32_t ImportedFiles::Append(const DiskObject* folder, std::uint32_t last,
                                    std::string_view name, ImportedFile file) {
  if (names_.empty() || nameUsed_ + name.size() > nameBlock_) {
    nameBlock_ = name.size() > kNameBlock ? name.size() : kNameBlock;
    names_.push_back(std::make_unique<char[]>(nameBlock_));
    nameUsed_ = 0;
  }
  char* at = names_.back().get() + nameUsed_;
  if (!name.empty()) std::memcpy(at, name.data(), name.size());
  nameUsed_ += name.size();
  file.Name = at;
  file.NameSize = static_cast<std::uint16_t>(name.size());
  file.Next = kEnd;
  const auto index = static_cast<std::uint32_t>(files_.size());
  files_.push_back(file);
  if (last == kEnd)
    first_.emplace(folder, index);
  else
    files_[last].Next = index;
  return index;
}

std::size_t ImportedFiles::Bytes() const {
  return files_.size() * sizeof(ImportedFile) + names_.size() * kNameBlock +
         first_.size() * (sizeof(void*) * 2 + sizeof(std::uint32_t) + sizeof(void*)) +
         first_.bucket_count() * sizeof(void*);
}

}  // namespace kestrum
