// The shared reading pieces of import/: lines, columns, Fortran decimals, integers, civil times.
#include "import/text_fields.h"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <system_error>

namespace wavproc::import {

std::vector<std::string_view> split_lines(std::string_view bytes) {
  std::vector<std::string_view> lines;
  std::size_t at = 0;
  while (at < bytes.size()) {
    std::size_t end = bytes.find('\n', at);
    std::size_t next = end == std::string_view::npos ? bytes.size() : end + 1;
    if (end == std::string_view::npos) end = bytes.size();
    std::size_t stop = end;
    if (stop > at && bytes[stop - 1] == '\r') --stop;
    lines.push_back(bytes.substr(at, stop - at));
    at = next;
  }
  return lines;
}

std::string_view column(std::string_view line, std::size_t first, std::size_t width) {
  if (first == 0 || first > line.size()) return {};
  return line.substr(first - 1, width);
}

std::string_view trim(std::string_view text) {
  constexpr std::string_view kBlank = " \t\r\n";
  std::size_t from = text.find_first_not_of(kBlank);
  if (from == std::string_view::npos) return {};
  std::size_t to = text.find_last_not_of(kBlank);
  return text.substr(from, to - from + 1);
}

bool read_decimal(std::string_view text, double& value) {
  text = trim(text);
  if (text.empty() || text.size() > 64) return false;
  // Rewritten into the form fast_float takes: no leading +, E for D, and the E put back in
  // front of an exponent's sign where Fortran left the letter out.
  std::array<char, 80> buf{};
  std::size_t n = 0;
  std::size_t i = 0;
  if (text[0] == '+') i = 1;
  bool digit_seen = false;
  bool exponent = false;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == 'D' || c == 'd' || c == 'E' || c == 'e') {
      if (!digit_seen || exponent) return false;
      exponent = true;
      buf[n++] = 'E';
      if (i + 1 < text.size() && (text[i + 1] == '+' || text[i + 1] == '-')) {
        if (text[++i] == '-') buf[n++] = '-';
      }
      continue;
    }
    if ((c == '+' || c == '-') && n > 0) {
      if (!digit_seen || exponent) return false;
      exponent = true;
      buf[n++] = 'E';
      if (c == '-') buf[n++] = '-';
      continue;
    }
    if (c >= '0' && c <= '9') digit_seen = true;
    else if (c != '.' && !(c == '-' && n == 0)) return false;
    buf[n++] = c;
  }
  if (!digit_seen || (n > 0 && buf[n - 1] == 'E') || (n > 1 && buf[n - 1] == '-' && buf[n - 2] == 'E')) return false;
  double v = 0;
  auto result = fast_float::from_chars(buf.data(), buf.data() + n, v);
  if (result.ec != std::errc() || result.ptr != buf.data() + n || !std::isfinite(v)) return false;
  value = v;
  return true;
}

bool read_integer(std::string_view text, long long& value) {
  text = trim(text);
  if (!text.empty() && text[0] == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  long long v = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), v);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
  value = v;
  return true;
}

std::vector<std::string_view> words(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == '\r')) ++at;
    if (at == line.size()) break;
    std::size_t end = at;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
    out.push_back(line.substr(at, end - at));
    at = end;
  }
  return out;
}

namespace {

// The warning for values past the declared count, naming the file and both counts.
std::string extra_warning(const std::string& file, std::size_t declared, std::size_t extra, long line) {
  return file + ": line " + std::to_string(line) + ": " + std::to_string(extra) +
         " more value(s) than the " + std::to_string(declared) + " declared; the declared " +
         std::to_string(declared) + " are taken";
}

// Whether line holds only blanks.
bool blank(std::string_view line) { return trim(line).empty(); }

// Counts the non-blank fields of width characters in text, for the extra-values warning.
std::size_t count_fields(std::string_view text, std::size_t width) {
  std::size_t n = 0;
  for (std::size_t at = 0; at < text.size(); at += width) n += !blank(text.substr(at, width));
  return n;
}

}  // namespace

bool read_fixed_block(const std::vector<std::string_view>& lines, std::size_t first, std::size_t count,
                      std::size_t per_line, std::size_t width, const std::string& file,
                      std::vector<double>& samples, std::vector<std::string>& warnings, Failure& failure) {
  samples.clear();
  // A count beyond what the lines can hold is found out by reading, not by reserving for it.
  samples.reserve(std::min(count, (lines.size() - std::min(first, lines.size())) * per_line));
  std::size_t k = first;
  while (samples.size() < count) {
    if (k >= lines.size()) {
      failure = {file, static_cast<long>(lines.size()),
                 "the file ends after " + std::to_string(samples.size()) + " of the " +
                     std::to_string(count) + " values it declares"};
      return false;
    }
    std::string_view line = lines[k];
    for (std::size_t f = 0; f < per_line && samples.size() < count; ++f) {
      std::string_view text = column(line, f * width + 1, width);
      if (blank(text)) {
        if (f == 0 || blank(line.substr(std::min(line.size(), f * width)))) break;
      }
      double v = 0;
      if (!read_decimal(text, v)) {
        failure = {file, static_cast<long>(k + 1),
                   quoted(trim(text)) + " in columns " + std::to_string(f * width + 1) + "-" +
                       std::to_string(f * width + width) + " is not a number"};
        return false;
      }
      samples.push_back(v);
    }
    ++k;
  }
  std::size_t used = ((count - 1) % per_line + 1) * width;
  std::size_t extra = 0;
  long extra_line = 0;
  if (k - 1 < lines.size() && lines[k - 1].size() > used) {
    extra = count_fields(lines[k - 1].substr(used), width);
    if (extra > 0) extra_line = static_cast<long>(k);
  }
  for (std::size_t rest = k; rest < lines.size() && extra_line == 0; ++rest) {
    if (!blank(lines[rest])) extra_line = static_cast<long>(rest + 1);
  }
  for (std::size_t rest = k; rest < lines.size(); ++rest) extra += count_fields(lines[rest], width);
  if (extra > 0) warnings.push_back(extra_warning(file, count, extra, extra_line));
  return true;
}

bool read_free_block(const std::vector<std::string_view>& lines, std::size_t first, std::size_t count,
                     const std::string& file, std::vector<double>& samples,
                     std::vector<std::string>& warnings, Failure& failure) {
  samples.clear();
  std::size_t extra = 0;
  long extra_line = 0;
  for (std::size_t k = first; k < lines.size(); ++k) {
    for (std::string_view w : words(lines[k])) {
      if (count > 0 && samples.size() == count) {
        if (extra++ == 0) extra_line = static_cast<long>(k + 1);
        continue;
      }
      double v = 0;
      if (!read_decimal(w, v)) {
        failure = {file, static_cast<long>(k + 1), quoted(w) + " is not a number"};
        return false;
      }
      samples.push_back(v);
    }
  }
  if (count > 0 && samples.size() < count) {
    failure = {file, static_cast<long>(lines.size()),
               "the file ends after " + std::to_string(samples.size()) + " of the " + std::to_string(count) +
                   " values it declares"};
    return false;
  }
  if (extra > 0) warnings.push_back(extra_warning(file, count, extra, extra_line));
  return true;
}

namespace {

// Days from 1970-01-01 to a civil date (proleptic Gregorian calendar).
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? static_cast<unsigned>(-3) : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

}  // namespace

bool valid_civil(int year, int month, int day, int hour, int minute, int second) {
  if (year < 1800 || year > 2200 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int last = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  return day <= last && hour >= 0 && hour <= 23 && minute >= 0 && minute <= 59 && second >= 0 && second <= 60;
}

std::int64_t civil_ns(int year, int month, int day, int hour, int minute, int second, std::int64_t nanos) {
  std::int64_t days = days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  std::int64_t seconds = days * 86400 + hour * 3600 + minute * 60 + second;
  return seconds * 1000000000 + nanos;
}

std::string civil_text(std::int64_t ns) {
  std::int64_t secs = ns >= 0 ? ns / 1000000000 : -((-ns + 999999999) / 1000000000);
  std::int64_t frac = ns - secs * 1000000000;
  std::int64_t days = secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
  std::int64_t rest = secs - days * 86400;
  // Civil date from days since 1970-01-01.
  std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  if (m <= 2) ++y;
  char buf[64];
  auto two = [](char* at, std::int64_t v) {
    at[0] = static_cast<char>('0' + v / 10);
    at[1] = static_cast<char>('0' + v % 10);
  };
  auto end = std::to_chars(buf, buf + 8, y).ptr;
  std::string text(buf, end);
  char tail[16];
  tail[0] = '-';
  two(tail + 1, m);
  tail[3] = '-';
  two(tail + 4, d);
  tail[6] = 'T';
  two(tail + 7, rest / 3600);
  tail[9] = ':';
  two(tail + 10, rest / 60 % 60);
  tail[12] = ':';
  two(tail + 13, rest % 60);
  text.append(tail, 15);
  if (frac != 0) {
    char digits[10];
    for (int i = 8; i >= 0; --i) {
      digits[i] = static_cast<char>('0' + frac % 10);
      frac /= 10;
    }
    std::size_t len = 9;
    while (len > 1 && digits[len - 1] == '0') --len;
    text += '.';
    text.append(digits, len);
  }
  return text;
}

std::string shortest(double value) {
  char buf[64];
  auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return out;
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string quoted(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  out.append(text);
  out += '"';
  return out;
}

Outcome failed(const std::string& file, long line, std::string reason) {
  Outcome out;
  out.failed = true;
  out.failure = {file, line, std::move(reason)};
  return out;
}

}  // namespace wavproc::import
