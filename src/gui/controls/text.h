#pragma once
#include <QString>
#include <string>

namespace kestrum::gui {

// Display text of a byte-string name: UTF-8 where it is valid; each byte that is not part
// of valid UTF-8 shown as the replacement character. Only for display, never for paths.
inline QString DisplayText(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace kestrum::gui
