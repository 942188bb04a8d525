#pragma once
#include <glib.h>

#include <optional>
#include <string>
#include <vector>

namespace kestrum {

// An INI settings file read and written through GLib's GKeyFile. Load reports whether the
// file was missing, read, or present but unreadable (a garbled file counts as unreadable);
// a missing or unreadable file leaves the store empty.
class IniFile {
 public:
  enum class LoadResult { Loaded, Missing, Unreadable };

  IniFile();
  ~IniFile();
  IniFile(const IniFile&) = delete;
  IniFile& operator=(const IniFile&) = delete;

  LoadResult Load(const std::string& path, std::string* errorText = nullptr);
  std::optional<std::string> Get(const std::string& group, const std::string& key) const;
  void Set(const std::string& group, const std::string& key, const std::string& value);
  // A text value with the file's escapes undone (\n, \t, \\, \s): any text, newlines
  // included, survives a write and a read. Get gives nullopt for a value that is not UTF-8.
  std::optional<std::string> GetText(const std::string& group, const std::string& key) const;
  void SetText(const std::string& group, const std::string& key, const std::string& value);
  // The groups in the order of the file.
  std::vector<std::string> Groups() const;
  bool HasGroup(const std::string& group) const;
  void RemoveGroup(const std::string& group);
  // Writes the whole file, creating its folder; false with errorText on failure. The file
  // is replaced atomically, so a failed write keeps the earlier settings.
  bool Save(const std::string& path, std::string* errorText = nullptr) const;

 private:
  GKeyFile* file_;
};

// $XDG_CONFIG_HOME/Kestrum/Kestrum.conf (default ~/.config/Kestrum/Kestrum.conf).
std::string UserSettingsPath();
// Kestrum/Kestrum.conf in the first folder of $XDG_CONFIG_DIRS (default /etc/xdg) that has
// it; empty when none has.
std::string MachineSettingsPath();

}  // namespace kestrum
