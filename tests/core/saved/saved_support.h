#pragma once
// What the saved-scan tests share: an import that keeps its message, and an export into a
// string.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/saved/json_export.h"
#include "core/saved/json_import.h"
#include "core/scan/scanning.h"

namespace kestrum::test {

struct Imported {
  bool Ok;
  std::string Message;
  std::unique_ptr<DiskObject> Drive = std::make_unique<DiskObject>();
  std::uint64_t Bytes = 0;  // the file's bytes read, as the progress line sees them
  std::int64_t Size = 0;    // its size, -1 for a stream
};

inline Imported Import(const std::string& file, HardLinkRule links = HardLinkRule::Once) {
  Imported out;
  std::int32_t keys = 0;
  ImportError error;
  ImportOptions options;
  options.Links = links;
  ImportReadProgress read;
  options.Read = &read;
  out.Ok = ImportScan(file, *out.Drive, keys, error, options);
  out.Message = error.Message;
  out.Bytes = read.Bytes;
  out.Size = read.Size;
  return out;
}

// The export of root, through reader when one is given; the test fails when it does.
inline std::string Export(const std::string& root, DirectoryReader* reader = nullptr) {
  std::string text, error;
  ExportOptions options;
  options.Reader = reader;
  Scanning = true;
  const bool ok = ExportTree(
      root,
      [&text](std::string_view piece) {
        text.append(piece);
        return true;
      },
      error, options);
  Scanning = false;
  EXPECT_TRUE(ok) << error;
  return text;
}

}  // namespace kestrum::test
