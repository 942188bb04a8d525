#include "core/query/name_match.h"

#include "core/platform/utf8.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>

#include <array>

namespace kestrum {

namespace {

constexpr std::array<unsigned char, 256> kLower = [] {
  std::array<unsigned char, 256> t{};
  for (unsigned i = 0; i < 256; ++i)
    t[i] = static_cast<unsigned char>(i >= 'A' && i <= 'Z' ? i + 32 : i);
  return t;
}();

// Whether Unicode folding could make a name match the text where ASCII folding would not: the
// text holds a byte outside ASCII, or k or s (KELVIN SIGN and LONG S fold onto them).
bool NeedsUnicodeFolding(std::string_view text) {
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c >= 0x80 || kLower[c] == 'k' || kLower[c] == 's') return true;
  }
  return false;
}

bool FindFolded(std::string_view name, std::string_view folded) {
  const std::size_t m = folded.size();
  if (m == 0) return true;
  if (name.size() < m) return false;
  const auto first = static_cast<unsigned char>(folded[0]);
  for (std::size_t i = 0, last = name.size() - m; i <= last; ++i) {
    if (kLower[static_cast<unsigned char>(name[i])] != first) continue;
    std::size_t k = 1;
    while (k < m && kLower[static_cast<unsigned char>(name[i + k])] ==
                        static_cast<unsigned char>(folded[k]))
      ++k;
    if (k == m) return true;
  }
  return false;
}

std::string ErrorAt(int code, std::size_t offset) {
  PCRE2_UCHAR buffer[256];
  std::string text = pcre2_get_error_message(code, buffer, sizeof buffer) > 0
                         ? reinterpret_cast<const char*>(buffer)
                         : "invalid pattern";
  return text + " at offset " + std::to_string(offset);
}

// The compiled pattern (JIT-compiled where possible), or null with error set.
std::shared_ptr<const void> Compile(const std::string& pattern, std::uint32_t options,
                                    std::string& error) {
  int code = 0;
  PCRE2_SIZE offset = 0;
  pcre2_code* compiled = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(pattern.data()),
                                       pattern.size(), options, &code, &offset, nullptr);
  if (!compiled) {
    error = ErrorAt(code, offset);
    return nullptr;
  }
  // Without JIT (not built in, or no executable memory) the interpreter matches the same.
  (void)pcre2_jit_compile(compiled, PCRE2_JIT_COMPLETE);
  return std::shared_ptr<const void>(compiled, [](const void* c) {
    pcre2_code_free(static_cast<pcre2_code*>(const_cast<void*>(c)));
  });
}

}  // namespace

NameMatcher::Scratch::Scratch() : data_(pcre2_match_data_create(1, nullptr)) {}

NameMatcher::Scratch::~Scratch() {
  pcre2_match_data_free(static_cast<pcre2_match_data*>(data_));
}

std::size_t WildcardClassEnd(std::string_view w, std::size_t at) {
  // The class runs to the first "]" after its first member (a "]" there is a member).
  std::size_t j = at + 1;
  if (j < w.size() && (w[j] == '!' || w[j] == '^')) ++j;
  if (j < w.size() && w[j] == ']') ++j;
  while (j < w.size() && w[j] != ']') ++j;
  return j < w.size() ? j : std::string_view::npos;
}

WildcardClue ClueOfWildcard(std::string_view w) {
  WildcardClue clue;
  std::string run;
  const auto endRun = [&clue, &run] {
    // Of runs as long, the later: the start of a path pattern is shared by most paths.
    if (run.size() >= clue.Text.size()) clue.Text = run;
    run.clear();
  };
  for (std::size_t i = 0; i < w.size(); ++i) {
    const char c = w[i];
    std::size_t classEnd = std::string_view::npos;
    if (c == '*' || c == '?' ||
        (c == '[' && (classEnd = WildcardClassEnd(w, i)) != std::string_view::npos)) {
      endRun();
      if (classEnd != std::string_view::npos) i = classEnd;
    } else {
      run += c;
    }
  }
  if (!run.empty()) {
    // A wildcard ending in literal text matches only subjects ending in it: the sharper clue.
    clue.Text = std::move(run);
    clue.Ending = true;
  }
  return clue;
}

std::string WildcardToRegex(std::string_view w) {
  std::string out;
  out.reserve(w.size() * 2);
  const auto literal = [&out](char c) {
    const auto u = static_cast<unsigned char>(c);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                       (c >= '0' && c <= '9') || u >= 0x80;
    if (c == '\0') {
      out += "\\x{0}";
      return;
    }
    if (!plain) out += '\\';
    out += c;
  };
  for (std::size_t i = 0; i < w.size(); ++i) {
    const char c = w[i];
    if (c == '*') {
      // A run of stars is one star: ".*.*" would only give the matcher more ways to fail.
      if (i == 0 || w[i - 1] != '*') out += ".*";
    } else if (c == '?') {
      out += '.';
    } else if (c == '[') {
      const std::size_t j = WildcardClassEnd(w, i);
      if (j == std::string_view::npos) {
        literal(c);
        continue;
      }
      const bool negate = w[i + 1] == '!' || w[i + 1] == '^';
      const std::size_t first = i + (negate ? 2 : 1);
      out += negate ? "[^" : "[";
      for (std::size_t k = first; k < j; ++k) {
        const char m = w[k];
        // A range's "-" keeps its meaning; every other special character stands for itself.
        if (m == '-' && k != first && k + 1 != j)
          out += '-';
        else if (m == '\\' || m == '[' || m == ']' || m == '^' || m == '-')
          (out += '\\') += m;
        else if (m == '\0')
          out += "\\x{0}";
        else
          out += m;
      }
      out += ']';
      i = j;
    } else {
      literal(c);
    }
  }
  return out;
}

std::optional<NameMatcher> NameMatcher::Make(std::string_view text, Mode mode, bool caseSensitive,
                                             std::string& error) {
  NameMatcher m;
  m.text_ = std::string(text);
  m.mode_ = mode;
  m.caseSensitive_ = caseSensitive;
  error.clear();
  if (mode == Mode::Plain && (caseSensitive || !IsValidUtf8(text) || !NeedsUnicodeFolding(text))) {
    if (!caseSensitive)
      for (const char c : text) m.folded_ += static_cast<char>(kLower[static_cast<unsigned char>(c)]);
    return m;
  }
  const std::string pattern = mode == Mode::Wildcard ? WildcardToRegex(text) : std::string(text);
  std::uint32_t options = 0;
  if (!caseSensitive) options |= PCRE2_CASELESS;
  if (mode == Mode::Plain) options |= PCRE2_LITERAL;
  if (mode == Mode::Wildcard) options |= PCRE2_ANCHORED | PCRE2_ENDANCHORED | PCRE2_DOTALL;
  const bool utf = IsValidUtf8(text);
  m.code_ = Compile(pattern, options | (utf ? PCRE2_UTF | PCRE2_MATCH_INVALID_UTF : 0), error);
  if (!m.code_) return std::nullopt;
  // A wildcard stands for the whole name, which the UTF-8 pattern cannot match where the name
  // holds bytes that are not UTF-8 ("?" and "*" take no such byte): those names are matched by
  // a byte pattern, one "?" a byte.
  if (mode == Mode::Wildcard && utf) {
    m.bytes_ = Compile(pattern, options, error);
    if (!m.bytes_) return std::nullopt;
  }
  return m;
}

std::optional<bool> NameMatcher::TryMatch(std::string_view name, Scratch& scratch) const {
  if (!code_) {
    if (caseSensitive_) return name.find(text_) != std::string_view::npos;
    return FindFolded(name, folded_);
  }
  if (!scratch.data_) return std::nullopt;
  const void* code = bytes_ && !IsAscii(name) && !IsValidUtf8(name) ? bytes_.get() : code_.get();
  const int rc = pcre2_match(static_cast<const pcre2_code*>(code),
                             reinterpret_cast<PCRE2_SPTR>(name.data()), name.size(), 0, 0,
                             static_cast<pcre2_match_data*>(scratch.data_), nullptr);
  if (rc >= 0) return true;
  if (rc == PCRE2_ERROR_NOMATCH || rc == PCRE2_ERROR_PARTIAL) return false;
  return std::nullopt;
}

bool NameMatcher::Matches(std::string_view name, Scratch& scratch) const {
  return TryMatch(name, scratch).value_or(false);
}

bool NameMatcher::Matches(std::string_view name) const {
  Scratch scratch;
  return Matches(name, scratch);
}

}  // namespace kestrum
