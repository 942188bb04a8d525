#include "core/query/file_types.h"

#include "core/platform/utf8.h"

#include <algorithm>
#include <tuple>

#include "core/platform/content_types.h"
#include "core/tree/disk_model.h"
#include "core/tree/file_store.h"
#include "core/tree/subfolders.h"

namespace kestrum {

namespace {

constexpr std::size_t kLongestEnding = 10;

bool IsEnding(std::string_view s) {
  if (s.empty() || s.size() > kLongestEnding) return false;
  return std::all_of(s.begin(), s.end(), [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
  });
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool StartsWith(std::string_view s, std::string_view p) { return s.substr(0, p.size()) == p; }
bool EndsWith(std::string_view s, std::string_view p) {
  return s.size() >= p.size() && s.substr(s.size() - p.size()) == p;
}
bool Has(std::string_view s, std::string_view p) { return s.find(p) != std::string_view::npos; }
bool OneOf(std::string_view s, std::initializer_list<std::string_view> list) {
  return std::find(list.begin(), list.end(), s) != list.end();
}

}  // namespace

std::string_view CategoryName(FileCategory category) {
  static constexpr std::string_view kNames[kFileCategories] = {
      "Images",      "Video",           "Audio",    "Documents", "Archives",
      "Disk images", "Source and text", "Programs", "Other"};
  return kNames[static_cast<std::size_t>(category)];
}

const std::array<std::uint32_t, kFileCategories>& CategoryPalette() {
  // The treemap's hues (kept apart through the simulated deficiencies, of middle lightness),
  // one more red for programs, and the grey of the treemap's own files for the rest.
  static constexpr std::array<std::uint32_t, kFileCategories> kPalette = {
      0xE69F00,  // Images
      0xD55E00,  // Video
      0xCC79A7,  // Audio
      0x0072B2,  // Documents
      0xF0E442,  // Archives
      0x009E73,  // Disk images
      0x56B4E9,  // Source and text
      0xFF1166,  // Programs
      0xC8C8C8,  // Other
  };
  return kPalette;
}

FileCategory CategoryOfMime(std::string_view mime) {
  const std::string_view app = StartsWith(mime, "application/") ? mime.substr(12) : "";
  // Documents first: some are zip or XML containers, and one is an image/ type.
  if (OneOf(app, {"pdf", "postscript", "rtf", "msword", "epub+zip", "x-mobipocket-ebook",
                  "vnd.amazon.ebook", "x-fictionbook+xml", "x-dvi", "x-abiword", "vnd.visio",
                  "x-mspublisher", "oxps", "vnd.ms-xpsdocument"}) ||
      StartsWith(app, "vnd.oasis.opendocument.") ||
      StartsWith(app, "vnd.openxmlformats-officedocument.") || StartsWith(app, "vnd.ms-excel") ||
      StartsWith(app, "vnd.ms-powerpoint") || StartsWith(app, "vnd.ms-word") ||
      StartsWith(app, "x-iwork-") || mime == "image/vnd.djvu")
    return FileCategory::Documents;
  if (StartsWith(mime, "image/")) return FileCategory::Images;
  if (StartsWith(mime, "video/")) return FileCategory::Video;
  if (StartsWith(mime, "audio/")) return FileCategory::Audio;
  if (Has(app, "disk") || Has(app, "cd-image") || app == "x-apple-diskimage" || app == "ovf" ||
      app == "x-virtualbox-vbox-extpack")
    return FileCategory::DiskImages;
  if (OneOf(app,
            {"x-executable", "x-pie-executable", "x-sharedlib", "x-object", "x-ms-dos-executable",
             "x-msdownload", "vnd.microsoft.portable-executable", "x-java", "x-python-bytecode",
             "vnd.appimage", "wasm", "x-mach-binary", "x-sharedlib-object"}))
    return FileCategory::Programs;
  if (Has(app, "compressed") || Has(app, "archive") || Has(app, "zip") || Has(app, "package") ||
      OneOf(app,
            {"x-tar",      "x-xz",  "zstd",         "x-zstd",   "x-bzip",      "x-bzip2",
             "x-bzip3",    "x-lz4", "x-lzma",       "x-lzip",   "x-lzop",      "x-cpio",
             "x-compress", "x-rpm", "x-source-rpm", "vnd.rar",  "x-rar",       "x-ace",
             "x-arj",      "x-lha", "x-msi",        "vnd.snap", "vnd.flatpak", "vnd.flatpak.ref",
             "x-xar",      "x-ar",  "x-stuffit"}))
    return FileCategory::Archives;
  if (StartsWith(mime, "text/") || EndsWith(app, "+xml") || EndsWith(app, "+json") ||
      Has(app, "script") || Has(app, "json") || Has(app, "xml") || Has(app, "yaml") ||
      OneOf(app, {"toml", "sql", "x-sql", "x-desktop", "x-m4", "x-perl", "x-python", "x-ruby",
                  "x-php", "x-troff-man", "x-tex", "x-subrip", "x-gettext-translation",
                  "x-ipynb+json", "x-awk", "x-csh", "x-tcl", "x-lua"}))
    return FileCategory::SourceText;
  return FileCategory::Other;
}

std::string_view NameEnding(std::string_view name, std::array<char, 16>& buffer) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  const std::string_view last = name.substr(dot + 1);
  if (!IsEnding(last)) return {};
  std::size_t from = dot + 1;
  // A versioned shared library ("libz.so.1.3"): its numbers are no type, the "so" before
  // them is.
  const auto digits = [](std::string_view t) {
    return !t.empty() &&
           std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (digits(last)) {
    std::size_t end = dot;  // the dot before the numbers seen so far
    for (;;) {
      const std::size_t before = name.rfind('.', end - 1);
      if (before == std::string_view::npos || before == 0) break;
      const std::string_view part = name.substr(before + 1, end - before - 1);
      if (part == "so") return "so";
      if (!digits(part)) break;
      end = before;
    }
  }
  // A compound ending: "tar" before the last one, itself after a name ("x.tar.gz").
  if (dot > 4 && name[dot - 4] == '.') {
    const std::string_view before = name.substr(dot - 3, 3);
    if (Lower(before[0]) == 't' && Lower(before[1]) == 'a' && Lower(before[2]) == 'r')
      from = dot - 3;
  }
  std::size_t n = 0;
  for (std::size_t i = from; i < name.size(); ++i) buffer[n++] = Lower(name[i]);
  return {buffer.data(), n};
}

FileTypes::FileTypes() {
  Add("", "application/octet-stream", FileCategory::Other);
  Add("", "application/x-executable", FileCategory::Programs);
}

std::uint32_t FileTypes::Add(std::string key, std::string mime, FileCategory category) {
  types_.push_back({std::move(key), std::move(mime), category});
  return static_cast<std::uint32_t>(types_.size() - 1);
}

std::uint32_t FileTypes::OfEnding(std::string_view ending) {
  if (const auto it = endings_.find(ending); it != endings_.end()) return it->second;
  if (endings_.size() >= kMostEndings) return kNone;
  const GuessedType guess = GuessTypeOfName("x." + std::string(ending));
  // An ending the database does not know is still a key of its own, in Other.
  const std::uint32_t index = Add(std::string(ending), guess.Mime,
                                  guess.Unknown ? FileCategory::Other : CategoryOfMime(guess.Mime));
  endings_.emplace(std::string(ending), index);
  return index;
}

std::uint32_t FileTypes::OfWholeName(std::string_view name) {
  if (const auto it = wholeNames_.find(name); it != wholeNames_.end()) return it->second;
  // The database's whole names are short, plain words; a name GIO might misread (not UTF-8)
  // or one beyond the bound is not asked.
  if (wholeNames_.size() >= kMostWholeNames || name.size() > 64 || !IsValidUtf8(name)) return kNone;
  const GuessedType guess = GuessTypeOfName(name);
  std::uint32_t index = kNone;
  // Only a name the database lists whole: a suffix pattern without a dot ("*~") would also
  // match the name with something before it, and would make every such name a key.
  if (guess.Certain && GuessTypeOfName("whole-name-probe-" + std::string(name)).Mime != guess.Mime)
    index = Add(std::string(name), guess.Mime, CategoryOfMime(guess.Mime));
  wholeNames_.emplace(std::string(name), index);
  return index;
}

FileType FileTypes::Classify(std::string_view name, bool executable) {
  if (name.empty()) return {kNone, FileCategory::Other};
  std::array<char, 16> buffer;
  const std::string_view ending = NameEnding(name, buffer);
  std::uint32_t index = kNone;
  if (!ending.empty())
    index = OfEnding(ending);
  else if (name.find('.') == std::string_view::npos || name.front() == '.')
    index = OfWholeName(name);
  if (executable && types_[index].Category == FileCategory::Other &&
      (index == kNone || types_[index].Mime == "application/octet-stream"))
    index = kProgram;
  return {index, types_[index].Category};
}

TypeCounter::TypeCounter(const DiskObject& folder) {
  drive_ = IsDriveClass(folder.Class) ? &folder : DriveOf(&folder);
  if (!drive_) return;
  const FolderList* folders = drive_->DiskObjectsIfAny();
  if (!folders || !drive_->Drive().Files || folders->Empty()) {
    drive_ = nullptr;
    return;
  }
  next_ = 1;
  end_ = folders->Count() + 1;
  if (&folder != drive_) {
    next_ = folders->PositionOf(&folder);
    end_ = next_ == 0 ? 0 : SubtreeEnd(*folders, next_);
  }
}

bool TypeCounter::Step(FileTypes& types, std::size_t folders) {
  if (Done()) return true;
  const FolderList& list = *drive_->DiskObjectsIfAny();
  const FileStore& store = *drive_->Drive().Files;
  for (std::size_t n = 0; n < folders && next_ < end_; ++n, ++next_) {
    const DiskObject* f = list.Item(next_);
    store.ForEach(f->FilesAt, [&](const StoredEntry& e) {
      if (e.What != StoredEntry::Kind::File || e.CountedElsewhere) return;
      const FileType t = types.Classify(e.Name, e.Executable);
      if (t.Index >= sums_.size()) sums_.resize(types.Count());
      Sum& s = sums_[t.Index];
      ++s.Files;
      s.Bytes += e.Size;
      s.Allocated += e.Allocated;
      if (s.LargestIn == nullptr || e.Size > s.LargestSize) {
        s.LargestSize = e.Size;
        s.LargestIn = f;
        s.LargestAt = e.Position;
      }
    });
  }
  return Done();
}

TypeCounts TypeCounter::Result(const FileTypes& types) const {
  TypeCounts out;
  out.Stopped = !Done();
  if (!drive_) return out;
  const FileStore& store = *drive_->Drive().Files;
  std::array<CategoryTotals, kFileCategories> categories;
  for (std::size_t c = 0; c < kFileCategories; ++c)
    categories[c].Category = static_cast<FileCategory>(c);
  for (std::uint32_t i = 0; i < sums_.size(); ++i) {
    const Sum& s = sums_[i];
    if (s.Files == 0) continue;
    TypeTotals t{types.Key(i), types.Mime(i), s.Files, s.Bytes, s.Allocated, {}, s.LargestSize};
    std::string path = s.LargestIn->Path();
    if (path.empty() || path.back() != '/') path += '/';
    t.LargestPath = path + std::string(store.NameAt(s.LargestAt));
    CategoryTotals& c = categories[static_cast<std::size_t>(types.Category(i))];
    c.Files += t.Files;
    c.Bytes += t.Bytes;
    c.Allocated += t.Allocated;
    if (c.LargestPath.empty() || t.LargestSize > c.LargestSize) {
      c.LargestSize = t.LargestSize;
      c.LargestPath = t.LargestPath;
    }
    c.Keys.push_back(std::move(t));
  }
  for (CategoryTotals& c : categories) {
    if (c.Files == 0) continue;
    std::sort(c.Keys.begin(), c.Keys.end(), [](const TypeTotals& a, const TypeTotals& b) {
      return std::tie(b.Bytes, a.Key) < std::tie(a.Bytes, b.Key);
    });
    out.Files += c.Files;
    out.Bytes += c.Bytes;
    out.Allocated += c.Allocated;
    out.Categories.push_back(std::move(c));
  }
  std::stable_sort(
      out.Categories.begin(), out.Categories.end(),
      [](const CategoryTotals& a, const CategoryTotals& b) { return a.Bytes > b.Bytes; });
  return out;
}

TypeCounts CountTypes(const DiskObject& folder, FileTypes& types, const std::atomic<bool>* stop) {
  TypeCounter counter(folder);
  while (!(stop && stop->load(std::memory_order_relaxed)) && !counter.Step(types, 64)) {
  }
  return counter.Result(types);
}

}  // namespace kestrum
