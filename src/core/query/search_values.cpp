#include "core/query/search_values.h"

#include <charconv>
#include <cstdint>
#include <ctime>

namespace kestrum {

std::optional<std::uint64_t> ParseByteCount(std::string_view text) {
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [at, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || at == text.data()) return std::nullopt;
  if (at == end) return value;
  if (at + 1 != end) return std::nullopt;
  unsigned shift = 0;
  switch (*at) {
    case 'k': case 'K': shift = 10; break;
    case 'm': case 'M': shift = 20; break;
    case 'g': case 'G': shift = 30; break;
    case 't': case 'T': shift = 40; break;
    default: return std::nullopt;
  }
  if (value > (UINT64_MAX >> shift)) return std::nullopt;
  return value << shift;
}

namespace {

// Reads exactly count digits at text[at] into value.
bool Digits(std::string_view text, std::size_t at, std::size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

std::optional<std::int64_t> ParseTimeText(std::string_view t) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!Digits(t, 0, 4, year) || t.size() < 10 || t[4] != '-' || !Digits(t, 5, 2, month) ||
      t[7] != '-' || !Digits(t, 8, 2, day))
    return std::nullopt;
  static constexpr int kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1] ||
      (month == 2 && day == 29 && !leap))
    return std::nullopt;
  std::size_t at = 10;
  if (at < t.size()) {
    if (t[at] != 'T' && t[at] != 't' && t[at] != ' ') return std::nullopt;
    if (!Digits(t, at + 1, 2, hour) || at + 3 >= t.size() || t[at + 3] != ':' ||
        !Digits(t, at + 4, 2, minute))
      return std::nullopt;
    at += 6;
    if (at < t.size() && t[at] == ':') {
      if (!Digits(t, at + 1, 2, second)) return std::nullopt;
      at += 3;
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  }
  const std::int64_t civil =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
      hour * 3600 + minute * 60 + second;
  if (at == t.size()) {
    // Local time: the zone's offset at that moment, as mktime resolves it.
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    const std::time_t local = std::mktime(&tm);
    if (local == static_cast<std::time_t>(-1) && civil != -1) return std::nullopt;
    return static_cast<std::int64_t>(local);
  }
  if ((t[at] == 'Z' || t[at] == 'z') && at + 1 == t.size()) return civil;
  if (t[at] != '+' && t[at] != '-') return std::nullopt;
  const int sign = t[at] == '+' ? -1 : 1;
  int oh = 0, om = 0;
  if (!Digits(t, at + 1, 2, oh)) return std::nullopt;
  std::size_t rest = at + 3;
  if (rest < t.size() && t[rest] == ':') ++rest;
  if (rest < t.size()) {
    if (!Digits(t, rest, 2, om) || rest + 2 != t.size()) return std::nullopt;
  } else if (t[rest - 1] == ':') {
    return std::nullopt;
  }
  if (oh > 23 || om > 59) return std::nullopt;
  return civil + sign * (oh * 3600 + om * 60);
}

}  // namespace kestrum
