// File types from names alone: the key of a name, the category of well-known types, the
// classifier's special cases and the category palette.
#include "core/query/file_types.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/palette_check.h"

namespace kestrum {
namespace {

TEST(FileTypes, KeyOfAName) {
  const struct {
    std::string Name, Key;
  } cases[] = {
      {"photo.JPG", "jpg"},
      {"a.b.c.Txt", "txt"},
      {"x.tar.gz", "tar.gz"},
      {"X.TAR.XZ", "tar.xz"},
      {"backup.star.gz", "gz"},  // "star" is no "tar"
      {".tar.gz", "gz"},         // no name before the compound
      {"libz.so.1.3.1", "so"},
      {"libc.so.6", "so"},
      {"notes.2024.1", "1"},
      {"x.tar.", ""},
      {"data.0123456789", "0123456789"},  // ten characters
      {"cache.0123456789a", ""},          // eleven: a hash, not an ending
      {"f.tmp-1", ""},                    // not letters and digits only
      {"f.\xc3\xa9t\xc3\xa9", ""},        // not ASCII
      {"bad\xff\xfe.iso", "iso"},         // a name that is not UTF-8 keeps its ending
      {".bashrc", ""},
      {"Makefile", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    std::array<char, 16> buffer;
    EXPECT_EQ(NameEnding(c.Name, buffer), c.Key) << c.Name;
  }
}

TEST(FileTypes, CategoryOfWellKnownNames) {
  const struct {
    std::string Name;
    bool Executable;
    FileCategory Category;
    std::string Key;
  } cases[] = {
      {"a.jpg", false, FileCategory::Images, "jpg"},
      {"film.MKV", false, FileCategory::Video, "mkv"},
      {"song.flac", false, FileCategory::Audio, "flac"},
      {"paper.pdf", false, FileCategory::Documents, "pdf"},
      {"letter.docx", false, FileCategory::Documents, "docx"},
      {"book.epub", false, FileCategory::Documents, "epub"},
      {"debian.iso", false, FileCategory::DiskImages, "iso"},
      {"vm.qcow2", false, FileCategory::DiskImages, "qcow2"},
      {"src.tar.gz", false, FileCategory::Archives, "tar.gz"},
      {"pkg.deb", false, FileCategory::Archives, "deb"},
      {"Makefile", false, FileCategory::SourceText, "Makefile"},
      {"main.cpp", false, FileCategory::SourceText, "cpp"},
      {"data.json", false, FileCategory::SourceText, "json"},
      {"libz.so", false, FileCategory::Programs, "so"},
      {"libz.so.1.3", false, FileCategory::Programs, "so"},
      {"tool", true, FileCategory::Programs, ""},
      {"run.zzqq", true, FileCategory::Programs, ""},
      {"tool", false, FileCategory::Other, ""},
      {"thing.zzqq", false, FileCategory::Other, "zzqq"},
      {"notes~", false, FileCategory::Other, ""},  // a suffix pattern is no whole name
      {"\xff\xfe", false, FileCategory::Other, ""},
  };
  FileTypes types;
  for (const auto& c : cases) {
    const FileType t = types.Classify(c.Name, c.Executable);
    EXPECT_EQ(CategoryName(t.Category), CategoryName(c.Category)) << c.Name;
    EXPECT_EQ(types.Key(t.Index), c.Key) << c.Name;
  }
  // One entry per distinct key, however often and in whatever case it is met.
  const std::size_t known = types.Count();
  EXPECT_EQ(types.Classify("B.JPG", false).Index, types.Classify("a.jpg", false).Index);
  EXPECT_EQ(types.Count(), known);
}

TEST(FileTypes, CachesAreBounded) {
  FileTypes types;
  for (std::size_t i = 0; i < FileTypes::kMostEndings + 10; ++i)
    types.Classify("log." + std::to_string(i), false);
  EXPECT_EQ(types.Count(), FileTypes::kMostEndings + 2);
  EXPECT_EQ(types.Classify("a.jpg", false).Index, FileTypes::kNone);
  for (std::size_t i = 0; i < FileTypes::kMostWholeNames + 100; ++i)
    types.Classify("name" + std::to_string(i), false);
  // Past the bound a name is not asked: even a known one has no type.
  EXPECT_EQ(types.Classify("Makefile", false).Category, FileCategory::Other);
  EXPECT_LE(types.Count(), FileTypes::kMostEndings + 8);
}

TEST(FileTypes, CategoryPaletteStaysApartForColourVisionDeficiencies) {
  const auto& palette = CategoryPalette();
  const std::vector<std::uint32_t> colours(palette.begin(), palette.end());
  EXPECT_EQ(test::PaletteClashes(colours, 15), std::vector<std::string>{});
}

}  // namespace
}  // namespace kestrum
