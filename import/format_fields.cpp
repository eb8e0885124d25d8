// Words in any letter case, Fortran format statements, declared blocks, units and compass
// directions in words, and exact seconds for the readers of the self-describing formats.
#include "import/format_fields.h"

#include <cctype>
#include <charconv>
#include <cmath>

#include "import/text_fields.h"

namespace wavproc::import {

namespace {

char lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether line ends a block or opens the next one (an end line, a data or header line), as
// opposed to a data line with something unreadable in it.
bool closes_block(std::string_view line) {
  line = trim(line);
  return line.empty() || line.starts_with("/&") || contains_nocase(line, "end") ||
         contains_nocase(line, "pts") || contains_nocase(line, "points") ||
         contains_nocase(line, "format") || contains_nocase(line, "accelerogram");
}

}  // namespace

Outcome failed(Failure failure) {
  Outcome out;
  out.failed = true;
  out.failure = std::move(failure);
  return out;
}

std::size_t find_nocase(std::string_view text, std::string_view word) {
  if (word.size() > text.size()) return std::string_view::npos;
  for (std::size_t i = 0; i + word.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < word.size() && lower(text[i + k]) == lower(word[k])) ++k;
    if (k == word.size()) return i;
  }
  return std::string_view::npos;
}

bool contains_nocase(std::string_view text, std::string_view word) {
  return find_nocase(text, word) != std::string_view::npos;
}

bool read_decimal_shifted(std::string_view text, int shift, double& value) {
  double plain = 0;
  if (!read_decimal(text, plain)) return false;
  // Rewritten as mantissa E exponent+shift, so that fast_float rounds the shifted decimal once.
  std::string mantissa;
  long long exponent = 0;
  text = trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  std::size_t i = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c == 'E' || c == 'e' || c == 'D' || c == 'd' || ((c == '+' || c == '-') && i > 0)) break;
    mantissa += c;
  }
  if (i < text.size()) {
    std::string_view rest = text.substr(i);
    if (rest.front() != '+' && rest.front() != '-') rest.remove_prefix(1);
    if (!read_integer(rest, exponent)) return false;
  }
  return read_decimal(mantissa + "E" + std::to_string(exponent + shift), value);
}

bool read_fortran_format(std::string_view text, FortranFormat& format) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    char c = lower(text[i]);
    if ((c != 'f' && c != 'e' && c != 'i' && c != 'g' && c != 'd') || !is_digit(text[i + 1])) continue;
    std::size_t start = i;
    while (start > 0 && is_digit(text[start - 1])) --start;
    if (start > 0 && std::isalpha(static_cast<unsigned char>(text[start - 1]))) continue;
    std::size_t repeat = 1;
    if (start < i) std::from_chars(text.data() + start, text.data() + i, repeat);
    std::size_t width = 0;
    std::from_chars(text.data() + i + 1, text.data() + text.size(), width);
    if (repeat < 1 || repeat > 1000 || width < 1 || width > 100) return false;
    format = {repeat, width};
    return true;
  }
  return false;
}

bool looks_numeric(std::string_view line) {
  bool digits = false;
  for (char c : line) {
    if (is_digit(c)) {
      digits = true;
    } else if (std::string_view("+-.eEdD \t\r").find(c) == std::string_view::npos) {
      return false;
    }
  }
  return digits;
}

std::string_view fixed_field(const std::vector<std::string_view>& lines, std::size_t first,
                             FortranFormat format, std::size_t index) {
  std::size_t li = first + index / format.per_line;
  if (li >= lines.size()) return {};
  return column(lines[li], (index % format.per_line) * format.width + 1, format.width);
}

bool read_declared_block(const std::vector<std::string_view>& lines, std::size_t first,
                         std::size_t count, FortranFormat format, const std::string& file,
                         std::vector<double>& samples, std::vector<std::string>& warnings,
                         Failure& failure, std::size_t& next, bool followed) {
  // The block's lines: as many as count needs, up to a line that closes the block early. A data
  // line with something unreadable stays in, so that the reading names the field.
  std::size_t needed = count == 0 ? 0 : (count - 1) / format.per_line + 1;
  std::size_t end = first;
  while (end < lines.size() && end < first + needed &&
         (looks_numeric(lines[end]) || !closes_block(lines[end]))) {
    ++end;
  }
  std::vector<std::string_view> block(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(end));
  if (!read_fixed_block(block, first, count, format.per_line, format.width, file, samples, warnings,
                        failure)) {
    if (failure.reason.starts_with("the file ends") && end < lines.size()) {
      failure.line = static_cast<long>(end + 1);
      failure.reason = "only " + std::to_string(samples.size()) + " of the " + std::to_string(count) +
                       " values the header declares come before this line";
    }
    return false;
  }
  std::size_t extra = 0;
  while (!followed && end + extra < lines.size() && looks_numeric(lines[end + extra])) ++extra;
  if (extra > 0) {
    warnings.push_back(file + ": line " + std::to_string(end + 1) + ": " + std::to_string(extra) +
                       " more line(s) of values than the " + std::to_string(count) +
                       " declared; the declared " + std::to_string(count) + " are taken");
  }
  next = end + extra;
  return true;
}

bool rows_complete(const std::vector<std::string_view>& lines, std::size_t first, std::size_t last,
                   FortranFormat format, const std::string& file, Failure& failure) {
  const std::size_t last_field = (format.per_line - 1) * format.width;
  for (std::size_t k = first; k < last; ++k) {
    std::string_view row = lines[k];
    while (!row.empty() && (row.back() == ' ' || row.back() == '\t')) row.remove_suffix(1);
    if (row.size() <= last_field) {
      failure = {file, static_cast<long>(k + 1), "a row of fewer than " + std::to_string(format.per_line) + " values"};
      return false;
    }
  }
  return true;
}

UnitName unit_of_text(std::string_view text) {
  // Lower case without blanks and carets, then "sec" as "s" and "/s/s" as "/s2".
  std::string t;
  for (char c : trim(text)) {
    if (c != ' ' && c != '^') t += lower(c);
  }
  auto collapse = [](const std::string& from, std::string_view what, std::string_view by) {
    std::string to;
    for (std::size_t i = 0; i < from.size();) {
      if (from.compare(i, what.size(), what) == 0) {
        to += by;
        i += what.size();
      } else {
        to += from[i++];
      }
    }
    return to;
  };
  t = collapse(collapse(t, "sec", "s"), "/s/s", "/s2");
  while (!t.empty() && (t.back() == '.' || t.back() == ',')) t.pop_back();
  if (t == "gal" || t == "cm/s2") return {"gal", Quantity::acceleration};
  if (t == "mm/s2") return {"mm/s2", Quantity::acceleration};
  if (t == "g") return {"g", Quantity::acceleration};
  if (t == "cm/s") return {"cm/s", Quantity::velocity};
  if (t == "mm/s") return {"mm/s", Quantity::velocity};
  if (t == "cm") return {"cm", Quantity::displacement};
  if (t == "mm") return {"mm", Quantity::displacement};
  if (t == "counts" || t == "count") return {"counts", Quantity::counts};
  return {};
}

bool compass_azimuth(std::string_view text, double& azimuth) {
  text = trim(text);
  if (text.size() < 3) return false;
  char from = lower(text.front());
  char to = lower(text.back());
  double angle = 0;
  if ((from != 'n' && from != 's') || (to != 'e' && to != 'w') ||
      !read_decimal(text.substr(1, text.size() - 2), angle) || angle < 0 || angle > 90) {
    return false;
  }
  if (from == 'n') {
    azimuth = to == 'e' ? angle : 360 - angle;
  } else {
    azimuth = to == 'e' ? 180 - angle : 180 + angle;
  }
  if (azimuth >= 360) azimuth -= 360;
  return true;
}

std::string azimuth_code(double azimuth) {
  std::string code = std::to_string(std::lround(azimuth));
  while (code.size() < 3) code.insert(0, 1, '0');
  return code;
}

bool read_seconds(std::string_view text, int& second, std::int64_t& nanos) {
  text = trim(text);
  std::size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? "" : text.substr(point + 1);
  if ((whole.empty() && fraction.empty()) || whole.size() > 2 || fraction.size() > 9) return false;
  int s = 0;
  for (char c : whole) {
    if (!is_digit(c)) return false;
    s = s * 10 + (c - '0');
  }
  std::int64_t ns = 0;
  for (std::size_t i = 0; i < 9; ++i) {
    char c = i < fraction.size() ? fraction[i] : '0';
    if (!is_digit(c)) return false;
    ns = ns * 10 + (c - '0');
  }
  if (s > 60) return false;
  second = s;
  nanos = ns;
  return true;
}

}  // namespace wavproc::import
