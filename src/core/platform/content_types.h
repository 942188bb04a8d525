#pragma once
#include <string>
#include <string_view>

namespace kestrum {

// What the shared MIME database says of a file name alone (nothing is read from the file).
struct GuessedType {
  std::string Mime;      // the MIME type; "application/octet-stream" when nothing matched
  bool Certain = false;  // the name matched one type without doubt
  bool Unknown = true;   // nothing matched: Mime is the generic type
};

// Asks GIO which type a file called name has, from the name's patterns only. name is passed
// as bytes (GIO takes file names in the file system's encoding); a name holding a NUL has no
// type. Safe to call from any thread; costs a glob match in the database, so callers cache.
GuessedType GuessTypeOfName(std::string_view name);

}  // namespace kestrum
