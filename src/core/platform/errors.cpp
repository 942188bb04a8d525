#include "core/platform/errors.h"

#include <cerrno>
#include <cstring>

namespace kestrum {

int LastApiError() { return errno; }

std::string SystemText(int code) {
  char buf[256];
  // The GNU strerror_r may return a static string instead of filling buf.
  const char* text = strerror_r(code, buf, sizeof buf);
  return text ? std::string(text) : "Unknown error " + std::to_string(code);
}

std::string ErrorText(int code) { return "(" + std::to_string(code) + ") " + SystemText(code); }

}  // namespace kestrum
