#pragma once
#include <QString>
#include <string>

namespace kestrum::gui {

// Display text of a byte-string name: UTF-8 where it is valid; each byte that is not part
// of valid UTF-8 shown as the replacement character. Only for display, never for paths.
inline QString DisplayText(const std::string& bytes) {
  return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// Display text of a name in one line: as DisplayText, with each control character (newline,
// tab, escape, ...) shown as its visible symbol from the Control Pictures block, so that a
// name holding one reads plainly and keeps its row one line high.
inline QString VisibleText(const std::string& bytes) {
  QString s = DisplayText(bytes);
  for (QChar& c : s) {
    const char16_t u = c.unicode();
    if (u < 0x20)
      c = QChar(static_cast<char16_t>(0x2400 + u));
    else if (u == 0x7f)
      c = QChar(static_cast<char16_t>(0x2421));
  }
  return s;
}

}  // namespace kestrum::gui
