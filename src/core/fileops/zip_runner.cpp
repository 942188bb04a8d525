#include "core/fileops/zip_runner.h"

namespace kestrum {

ZipRunner::~ZipRunner() {
  Cancel();
  Wait();
}

bool ZipRunner::Start(std::string target, std::vector<ZipItem> items, ZipCompression compression,
                      FileOpsSeam calls) {
  if (Started()) return false;
  target_ = std::move(target);
  items_ = std::move(items);
  compression_ = compression;
  calls_ = calls;
  worker_ = std::thread([this] {
    ZipEvents events;
    events.Cancel = &cancel_;
    events.Major = [this](const std::string& item, int percent) {
      std::lock_guard lock(mutex_);
      major_.Item = item;
      major_.Percent = percent;
    };
    events.Minor = [this](const std::string& item, int percent) {
      std::lock_guard lock(mutex_);
      minor_.Item = item;
      minor_.Percent = percent;
    };
    outcome_ = WriteZipArchive(target_, items_, events, compression_, calls_);
    finished_.store(true, std::memory_order_release);
  });
  return true;
}

void ZipRunner::Wait() {
  if (worker_.joinable()) worker_.join();
}

ZipRunner::Progress ZipRunner::Major() const {
  std::lock_guard lock(mutex_);
  return major_;
}

ZipRunner::Progress ZipRunner::Minor() const {
  std::lock_guard lock(mutex_);
  return minor_;
}

}  // namespace kestrum
