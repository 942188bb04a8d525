#include "core/platform/content_types.h"

#include <gio/gio.h>

namespace kestrum {

GuessedType GuessTypeOfName(std::string_view name) {
  GuessedType out;
  out.Mime = "application/octet-stream";
  if (name.empty() || name.find('\0') != std::string_view::npos) return out;
  const std::string terminated(name);
  gboolean uncertain = FALSE;
  gchar* type = g_content_type_guess(terminated.c_str(), nullptr, 0, &uncertain);
  if (!type) return out;
  out.Unknown = g_content_type_is_unknown(type) != FALSE;
  out.Certain = uncertain == FALSE && !out.Unknown;
  if (gchar* mime = g_content_type_get_mime_type(type)) {
    out.Mime = mime;
    g_free(mime);
  }
  g_free(type);
  return out;
}

}  // namespace kestrum
