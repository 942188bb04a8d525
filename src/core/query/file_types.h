#pragma once
#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrum {

struct DiskObject;

// The groups a file's type falls in, as the types table shows them.
enum class FileCategory : std::uint8_t {
  Images,
  Video,
  Audio,
  Documents,
  Archives,
  DiskImages,
  SourceText,
  Programs,
  Other,
};
inline constexpr std::size_t kFileCategories = 9;

// "Images", "Video", "Audio", "Documents", "Archives", "Disk images", "Source and text",
// "Programs", "Other".
std::string_view CategoryName(FileCategory category);
// The category's colour as 0xRRGGBB: one palette that colour-vision deficiencies do not merge
// and that reads on light and dark backgrounds, in the order of FileCategory.
const std::array<std::uint32_t, kFileCategories>& CategoryPalette();

// The category of a MIME type, by its family (image/, video/, audio/, text/) and by the
// known types of documents, archives and packages, disk images and programs.
FileCategory CategoryOfMime(std::string_view mime);

// The type key of a file name: its last ending, ASCII-lowercased, without the dot ("photo.JPG"
// -> "jpg"); the last two when the one before the last is "tar" ("x.tar.GZ" -> "tar.gz"),
// the compound endings the MIME database knows; "so" for a versioned shared library
// ("libz.so.1.3"). An ending of more than 10 characters, or one
// holding anything but ASCII letters and digits, is none, as is the name of a dotfile
// (".bashrc") or one ending in a dot: "" then. Bytes outside ASCII are taken as they are,
// so a name that is not UTF-8 has a key like any other (or none).
std::string_view NameEnding(std::string_view name, std::array<char, 16>& buffer);

// A file's type as the classifier gave it: an index into FileTypes::Keys() and its category.
struct FileType {
  std::uint32_t Index = 0;
  FileCategory Category = FileCategory::Other;
};

// Gives a file's type and category from its name and executable bit alone, asking the MIME
// database once per distinct key and keeping the answer. A name without an ending is looked
// up whole against the database's whole-name patterns (Makefile, README, CMakeLists.txt...)
// only while fewer than kMostWholeNames distinct whole names were asked (then it has no type):
// millions of distinct names do not grow the cache; only a certain, specific answer counts,
// and the whole name becomes the key. An executable file whose type is unknown is a program.
//
// Not thread-safe: the cache grows as names are met. Use one classifier per thread.
class FileTypes {
 public:
  static constexpr std::size_t kMostWholeNames = 4096;
  // Distinct endings kept; an ending first met beyond them has no type (numbered endings,
  // "log.1" to "log.99999", would otherwise each be asked and kept).
  static constexpr std::size_t kMostEndings = 1u << 16;
  // Index 0: no type known (key "", Other); index 1: an executable of no known type (key "",
  // Programs).
  static constexpr std::uint32_t kNone = 0, kProgram = 1;

  FileTypes();
  FileType Classify(std::string_view name, bool executable);
  // The key of each index ("" for the first two), its MIME type and category.
  const std::string& Key(std::uint32_t index) const { return types_[index].Key; }
  const std::string& Mime(std::uint32_t index) const { return types_[index].Mime; }
  FileCategory Category(std::uint32_t index) const { return types_[index].Category; }
  std::size_t Count() const { return types_.size(); }

 private:
  struct Type {
    std::string Key;
    std::string Mime;
    FileCategory Category = FileCategory::Other;
  };
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  using Cache = std::unordered_map<std::string, std::uint32_t, Hash, std::equal_to<>>;
  std::uint32_t Add(std::string key, std::string mime, FileCategory category);
  std::uint32_t OfEnding(std::string_view ending);
  std::uint32_t OfWholeName(std::string_view name);

  std::vector<Type> types_;
  Cache endings_;
  Cache wholeNames_;  // bounded by kMostWholeNames; kNone for names of no specific type
};

// What CountTypes found for one key of a category.
struct TypeTotals {
  std::string Key;  // the ending, the whole name, or "" for none
  std::string Mime;
  std::uint64_t Files = 0;
  std::uint64_t Bytes = 0;  // the files' sizes
  std::uint64_t Allocated = 0;
  std::string LargestPath;  // the largest file's full path ("" when Files is 0)
  std::uint64_t LargestSize = 0;
};

struct CategoryTotals {
  FileCategory Category = FileCategory::Other;
  std::uint64_t Files = 0;
  std::uint64_t Bytes = 0;
  std::uint64_t Allocated = 0;
  std::string LargestPath;
  std::uint64_t LargestSize = 0;
  std::vector<TypeTotals> Keys;  // by Bytes, largest first
};

struct TypeCounts {
  std::vector<CategoryTotals> Categories;  // those with files, by Bytes, largest first
  std::uint64_t Files = 0;
  std::uint64_t Bytes = 0;
  std::uint64_t Allocated = 0;
  bool Stopped = false;  // stop was found set: the counts are of part of the subtree
};

// Counts what CountTypes counts a few folders at a time, so that a caller on the window thread
// can share it out over short steps. The model must not change between the start and the
// last step: a caller whose model may change starts again.
class TypeCounter {
 public:
  explicit TypeCounter(const DiskObject& folder);
  // Counts up to folders more folders; true once every folder of the subtree is counted.
  bool Step(FileTypes& types, std::size_t folders);
  bool Done() const { return next_ >= end_; }
  // The counts so far (Stopped while not Done), with types the classifier the steps used.
  TypeCounts Result(const FileTypes& types) const;

 private:
  struct Sum {
    std::uint64_t Files = 0, Bytes = 0, Allocated = 0, LargestSize = 0;
    const DiskObject* LargestIn = nullptr;
    std::uint64_t LargestAt = 0;
  };
  const DiskObject* drive_ = nullptr;
  std::size_t next_ = 0, end_ = 0;  // the folders still to count, by position
  std::vector<Sum> sums_;           // per type index
};

// Counts the files kept for the subtree of folder (a folder of a drive's last scan, or a
// drive itself: its whole scan) by category and key: the entries that are files, neither gone
// nor counted at another name (so a file with several names counts once, as the folders'
// totals do, and Bytes equals the subtree's UsedSpace). Nothing when the drive kept no files.
// Looks at stop, when given, between folders. Equal bytes sort by category, then key.
TypeCounts CountTypes(const DiskObject& folder, FileTypes& types,
                      const std::atomic<bool>* stop = nullptr);

}  // namespace kestrum
