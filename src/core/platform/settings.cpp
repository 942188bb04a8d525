#include "core/platform/settings.h"

#include <glib/gstdio.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>

namespace kestrum {

namespace {
struct GFree {
  void operator()(gchar* p) const { g_free(p); }
};
}  // namespace

IniFile::IniFile() : file_(g_key_file_new()) {}
IniFile::~IniFile() { g_key_file_free(file_); }

IniFile::LoadResult IniFile::Load(const std::string& path, std::string* errorText) {
  GError* err = nullptr;
  if (g_key_file_load_from_file(file_, path.c_str(), G_KEY_FILE_KEEP_COMMENTS, &err))
    return LoadResult::Loaded;
  const bool missing = err && err->domain == G_FILE_ERROR && err->code == G_FILE_ERROR_NOENT;
  if (errorText && err) *errorText = err->message;
  if (err) g_error_free(err);
  g_key_file_free(file_);
  file_ = g_key_file_new();
  return missing ? LoadResult::Missing : LoadResult::Unreadable;
}

std::optional<std::string> IniFile::Get(const std::string& group, const std::string& key) const {
  gchar* v = g_key_file_get_value(file_, group.c_str(), key.c_str(), nullptr);
  if (!v) return std::nullopt;
  std::string out = v;
  g_free(v);
  return out;
}

void IniFile::Set(const std::string& group, const std::string& key, const std::string& value) {
  g_key_file_set_value(file_, group.c_str(), key.c_str(), value.c_str());
}

std::optional<std::string> IniFile::GetText(const std::string& group,
                                           const std::string& key) const {
  gchar* v = g_key_file_get_string(file_, group.c_str(), key.c_str(), nullptr);
  if (!v) return std::nullopt;
  std::string out = v;
  g_free(v);
  return out;
}

void IniFile::SetText(const std::string& group, const std::string& key, const std::string& value) {
  g_key_file_set_string(file_, group.c_str(), key.c_str(), value.c_str());
}

std::vector<std::string> IniFile::Groups() const {
  std::vector<std::string> out;
  gchar** groups = g_key_file_get_groups(file_, nullptr);
  for (gchar** g = groups; g && *g; ++g) out.emplace_back(*g);
  g_strfreev(groups);
  return out;
}

bool IniFile::HasGroup(const std::string& group) const {
  return g_key_file_has_group(file_, group.c_str());
}

void IniFile::RemoveGroup(const std::string& group) {
  g_key_file_remove_group(file_, group.c_str(), nullptr);
}

bool IniFile::Save(const std::string& path, std::string* errorText) const {
  const auto slash = path.rfind('/');
  if (slash != std::string::npos && slash > 0) {
    if (g_mkdir_with_parents(path.substr(0, slash).c_str(), 0700) != 0) {
      if (errorText) *errorText = g_strerror(errno);
      return false;
    }
  }
  GError* err = nullptr;
  if (!g_key_file_save_to_file(file_, path.c_str(), &err)) {
    if (errorText && err) *errorText = err->message;
    if (err) g_error_free(err);
    return false;
  }
  return true;
}

std::string UserSettingsPath() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg && *xdg == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home && *home ? home : g_get_home_dir()) + "/.config";
  }
  return base + "/Kestrum/Kestrum.conf";
}

std::string MachineSettingsPath() {
  const char* dirs = std::getenv("XDG_CONFIG_DIRS");
  std::stringstream list(dirs && *dirs ? dirs : "/etc/xdg");
  std::string dir;
  while (std::getline(list, dir, ':')) {
    if (dir.empty() || dir[0] != '/') continue;
    const std::string p = dir + "/Kestrum/Kestrum.conf";
    if (::access(p.c_str(), F_OK) == 0) return p;
  }
  return {};
}

}  // namespace kestrum
