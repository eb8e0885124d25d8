// Plain columns, the layout people make themselves: comma-, tab- or blank-separated numbers, with or
// without a header line of names ("Time (s),NS (gal),EW (gal)", "NS(cm/s/s)"), with # comment
// lines; a time column or none (the interval then comes from --dt). Every data column is a trace.
#include <charconv>
#include <cmath>
#include <string>

#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

// The fields of line: split at commas, else at tabs, else at blanks; trailing empty fields dropped.
std::vector<std::string_view> fields_of(std::string_view line) {
  char sep = line.find(',') != std::string_view::npos ? ',' : line.find('\t') != std::string_view::npos ? '\t' : 0;
  if (sep == 0) return words(line);
  std::vector<std::string_view> out;
  for (std::size_t at = 0; at <= line.size();) {
    std::size_t end = std::min(line.find(sep, at), line.size());
    out.push_back(trim(line.substr(at, end - at)));
    at = end + 1;
  }
  while (!out.empty() && out.back().empty()) out.pop_back();
  return out;
}

// Whether a line carries nothing to read: blank, or a # comment.
bool passed_over(std::string_view line) {
  std::string_view t = trim(line);
  return t.empty() || t[0] == '#';
}

// Whether every field is a number.
bool all_numbers(const std::vector<std::string_view>& fields) {
  double v = 0;
  for (auto f : fields) {
    if (!read_decimal(f, v)) return false;
  }
  return !fields.empty();
}

// What a unit measures, by its spelling.
Quantity quantity_of(std::string_view unit) {
  std::string u = lower(unit);
  for (std::string_view a : {"gal", "g", "cm/s2", "cm/s/s", "cm/s^2", "cm/s**2", "mm/s2", "mm/s/s", "mm/s^2",
                             "m/s2", "m/s/s", "m/s^2", "m/s**2"}) {
    if (u == a) return Quantity::acceleration;
  }
  for (std::string_view v : {"cm/s", "mm/s", "m/s", "kine"}) {
    if (u == v) return Quantity::velocity;
  }
  for (std::string_view d : {"cm", "mm", "m"}) {
    if (u == d) return Quantity::displacement;
  }
  if (u == "counts" || u == "count") return Quantity::counts;
  return Quantity::unknown;
}

// Whether a header name is a time column's.
bool names_time(std::string_view name) {
  std::string n = lower(name);
  return n == "t" || n == "time" || n == "sec" || n == "seconds" || n == "s";
}

// Whether a component code names a vertical component.
bool vertical_code(std::string_view code) {
  std::string c = lower(code);
  return c == "ud" || c == "up" || c == "z" || c == "v" || c == "vert" || c == "vertical" || c == "down" ||
         (c.size() == 3 && c[2] == 'z');
}

// The number of decimals a number's text writes after its point (0 for an exponent form).
int decimals_of(std::string_view text) {
  text = trim(text);
  std::size_t point = text.find('.');
  if (point == std::string_view::npos || text.find_first_of("eEdD") != std::string_view::npos) return -1;
  return static_cast<int>(text.size() - point - 1);
}

}  // namespace

bool is_columns(std::string_view bytes) {
  auto lines = split_lines(bytes.substr(0, 1 << 16));
  std::size_t seen = 0, numeric = 0;
  for (std::size_t k = 0; k < lines.size() && seen < 20; ++k) {
    if (passed_over(lines[k])) continue;
    auto fields = fields_of(lines[k]);
    if (fields.empty()) continue;
    bool numbers = all_numbers(fields);
    if (!numbers && seen > 0) return false;
    numeric += numbers;
    ++seen;
  }
  return numeric > 0;
}

namespace {

// The traces of plain columns; without a header, a rising first column is taken for the time
// column only when guess_time is set.
Outcome read_columns_as(std::string_view bytes, const std::string& file, bool guess_time) {
  auto lines = split_lines(bytes);
  std::vector<std::string> names;
  std::vector<std::vector<double>> cols;
  std::vector<long> row_lines;  // the line of each row, for errors
  std::vector<std::string> time_text(2);
  std::size_t width = 0;
  bool header_seen = false;
  int decimals = 0;  // of the first two times: the interval is written to these
  int finest = 0;    // of any time: a time is even when it is within half its last digit
  for (std::size_t k = 0; k < lines.size(); ++k) {
    if (passed_over(lines[k])) continue;
    auto fields = fields_of(lines[k]);
    if (fields.empty()) continue;  // nothing but separators
    if (!header_seen && cols.empty() && !all_numbers(fields)) {
      header_seen = true;
      for (auto f : fields) names.emplace_back(f);
      width = names.size();
      continue;
    }
    if (width == 0) width = fields.size();
    if (fields.size() != width) {
      return failed(file, static_cast<long>(k + 1),
                    std::to_string(fields.size()) + " values where the " + (header_seen ? "header names " : "first row has ") +
                        std::to_string(width));
    }
    if (cols.empty()) cols.resize(width);
    for (std::size_t c = 0; c < width; ++c) {
      double v = 0;
      if (!read_decimal(fields[c], v)) {
        return failed(file, static_cast<long>(k + 1), quoted(fields[c]) + " in column " + std::to_string(c + 1) + " is not a number");
      }
      cols[c].push_back(v);
    }
    row_lines.push_back(static_cast<long>(k + 1));
    if (cols[0].size() <= 2) {
      time_text[cols[0].size() - 1] = std::string(fields[0]);
      decimals = std::max(decimals, decimals_of(fields[0]));
    }
    finest = std::max(finest, decimals_of(fields[0]));
  }
  if (cols.empty() || cols[0].empty()) return failed(file, static_cast<long>(lines.size()), "the file holds no rows of numbers");

  // The time column: named so in the header, or, without a header, a first column that rises
  // throughout (a column of samples never does).
  bool has_time = false;
  if (header_seen) {
    std::string first = names[0];
    std::size_t paren = first.find('(');
    has_time = names_time(trim(std::string_view(first).substr(0, paren)));
  } else if (guess_time && width >= 2 && cols[0].size() >= 2) {
    has_time = true;
    for (std::size_t i = 1; i < cols[0].size() && has_time; ++i) has_time = cols[0][i] > cols[0][i - 1];
  }
  double dt = 0;
  if (has_time && width < 2) return failed(file, 0, "the file holds a time column only");
  if (has_time) {
    const auto& t = cols[0];
    if (t.size() < 2) return failed(file, row_lines[0], "one row gives no sampling interval");
    dt = t[1] - t[0];
    // The interval as the times write it: 0.3 - 0.2 is 0.1, not the double just below it.
    if (decimals > 0) {
      char buf[64];
      auto r = std::to_chars(buf, buf + sizeof buf, dt, std::chars_format::fixed, decimals);
      read_decimal(std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)), dt);
    }
    if (!(dt > 0)) {
      return failed(file, row_lines[1], "the time column does not rise: " + time_text[0] + " then " + time_text[1]);
    }
    double tolerance = finest > 0 ? 0.5 * std::pow(10.0, -finest) : dt * 1e-6;
    for (std::size_t i = 1; i < t.size(); ++i) {
      double expected = t[0] + static_cast<double>(i) * dt;
      if (std::fabs(t[i] - expected) > tolerance + std::fabs(expected) * 1e-12) {
        return failed(file, row_lines[i],
                      "uneven time step: from " + shortest(t[i - 1]) + " to " + shortest(t[i]) +
                          " where the interval is " + shortest(dt) + " (resampling is processing: not done here)");
      }
    }
  }
  Outcome out;
  for (std::size_t c = has_time ? 1 : 0; c < width; ++c) {
    Trace trace;
    trace.file = file;
    trace.format = "plain columns";
    trace.dt = dt;
    // The first time places the trace for the line-up, within a range whose differences in ns fit.
    if (has_time && std::fabs(cols[0][0]) < 1e9) {
      trace.start.known = true;
      trace.start.relative = true;
      trace.start.ns = std::llround(cols[0][0] * 1e9);
    }
    trace.channel = static_cast<int>(c + (has_time ? 0 : 1));
    if (header_seen) {
      std::string_view name = names[c];
      std::size_t open = name.find('(');
      std::size_t close = name.rfind(')');
      if (open != std::string_view::npos && close != std::string_view::npos && close > open) {
        trace.unit = std::string(trim(name.substr(open + 1, close - open - 1)));
        name = trim(name.substr(0, open));
      }
      trace.component = std::string(name);
    }
    if (trace.component.empty()) trace.component = "C" + std::to_string(trace.channel);
    trace.quantity = quantity_of(trace.unit);
    trace.vertical = vertical_code(trace.component);
    trace.samples = std::move(cols[c]);
    out.traces.push_back(std::move(trace));
  }
  return out;
}

}  // namespace

Outcome read_columns(std::string_view bytes, const std::string& file) { return read_columns_as(bytes, file, true); }

Outcome read_columns_untimed(std::string_view bytes, const std::string& file) {
  return read_columns_as(bytes, file, false);
}

}  // namespace wavproc::import
