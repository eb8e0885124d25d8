// The Taiwan strong-motion text (CWB, now CWA): "#key: value" lines, then rows of time and three
// components in the format "#Data:" gives, in the order "#DataSequence:" gives. Times are local
// (the key names the zone: "StartTime(GMT+08)").
#include <cmath>
#include <string>

#include "import/format_fields.h"
#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

// Reads "2018/02/06-23:50:29.000" as nanoseconds of its own clock.
bool read_clock(std::string_view text, std::int64_t& ns) {
  long long y = 0, mo = 0, d = 0, h = 0, mi = 0;
  int second = 0;
  std::int64_t nanos = 0;
  if (text.size() < 19 || text[4] != '/' || text[7] != '/' || text[10] != '-' || text[13] != ':' || text[16] != ':' ||
      !read_integer(text.substr(0, 4), y) || !read_integer(text.substr(5, 2), mo) ||
      !read_integer(text.substr(8, 2), d) || !read_integer(text.substr(11, 2), h) ||
      !read_integer(text.substr(14, 2), mi) || !read_seconds(text.substr(17), second, nanos)) {
    return false;
  }
  auto i = [](long long v) { return static_cast<int>(v); };
  if (!valid_civil(i(y), i(mo), i(d), i(h), i(mi), second)) return false;
  ns = civil_ns(i(y), i(mo), i(d), i(h), i(mi), second, nanos);
  return true;
}

// The zone of a key such as "StartTime(GMT+08)" in minutes east of UTC; false if it names none.
bool zone_of_key(std::string_view key, int& minutes) {
  std::size_t at = key.find("(GMT");
  if (at == std::string_view::npos) at = key.find("(UTC");
  if (at == std::string_view::npos) return false;
  std::string_view offset = key.substr(at + 4);
  offset = offset.substr(0, offset.find(')'));
  if (offset.empty()) {
    minutes = 0;
    return true;
  }
  long long hours = 0;
  if (!read_integer(offset, hours) || hours < -14 || hours > 14) return false;
  minutes = static_cast<int>(hours) * 60;
  return true;
}

}  // namespace

bool is_cwb(std::string_view bytes) {
  std::string_view head = bytes.substr(0, 4000);
  return head.starts_with("#") && head.find("\n#StationCode:") != std::string_view::npos &&
         head.find("\n#DataSequence:") != std::string_view::npos;
}

Outcome read_cwb(std::string_view bytes, const std::string& file) {
  auto lines = split_lines(bytes);
  Trace trace;
  trace.file = file;
  trace.format = "Taiwan CWB text";
  double length = 0, rate = 0;
  long length_line = 0, rate_line = 0, sequence_line = 0;
  std::string_view unit_text, sequence, data_format;
  std::size_t at = 0;
  for (; at < lines.size() && (lines[at].starts_with("#") || trim(lines[at]).empty()); ++at) {
    std::string_view line = lines[at];
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view key = line.substr(1, colon - 1);
    std::string_view value = trim(line.substr(colon + 1));
    long n = static_cast<long>(at + 1);
    if (key == "StationCode") trace.station = std::string(value);
    else if (key == "RecordLength(sec)") length_line = n, read_decimal(value, length);
    else if (key == "SampleRate(Hz)") rate_line = n, read_decimal(value, rate);
    else if (key == "AmplitudeUnit") unit_text = value.substr(0, value.find_first_of(" ."));
    else if (key == "DataSequence") sequence = value, sequence_line = n;
    else if (key == "Data") data_format = value;
    else if (key.starts_with("StartTime")) {
      std::int64_t local = 0;
      int minutes = 0;
      if (!zone_of_key(key, minutes) || !read_clock(value, local)) {
        return failed(file, n, quoted(trim(line.substr(1))) + " is not a start time with its zone");
      }
      trace.start.known = true;
      trace.start.zone_minutes = minutes;
      if (minutes != 0) trace.start.zone = "UTC" + std::string(minutes > 0 ? "+" : "-") + std::to_string(std::abs(minutes) / 60);
      trace.start.ns = local - std::int64_t{minutes} * 60 * 1'000'000'000;
    }
  }
  if (!(rate > 0) || rate > 1e6) return failed(file, rate_line, "no sampling rate (\"#SampleRate(Hz):\")");
  trace.dt = 1.0 / rate;
  UnitName unit = unit_of_text(unit_text);
  if (unit.unit.empty()) return failed(file, 0, "unknown unit " + quoted(unit_text));
  trace.unit = unit.unit;
  trace.quantity = unit.quantity;
  // "Time U(+); N(+); E(+)": the columns after time, each named by its direction.
  std::vector<std::string> names;
  std::string text(sequence);
  for (char& c : text) {
    if (c == ';') c = ' ';
  }
  for (std::string_view w : words(text)) {
    std::string name(w.substr(0, w.find('(')));
    if (name != "Time") names.push_back(name);
  }
  if (names.empty() || !sequence.starts_with("Time")) {
    return failed(file, sequence_line, "no column order (\"#DataSequence: Time U(+); N(+); E(+)\")");
  }
  FortranFormat format;
  if (!read_fortran_format(data_format, format) || format.per_line != names.size() + 1) {
    return failed(file, 0, "the data format " + quoted(data_format) + " does not fit the columns of #DataSequence");
  }
  // The rows: time, then one value per column.
  if (length_line != 0 && !(length > 0 && length * rate <= 1e8)) {
    return failed(file, length_line, "the record length is not a positive number of seconds");
  }
  const double declared = length * rate;
  std::size_t rows = 0;
  while (at + rows < lines.size() && !trim(lines[at + rows]).empty()) ++rows;
  std::vector<double> values;
  std::vector<std::string> warnings;
  Failure failure;
  std::vector<std::string_view> block(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(at + rows));
  if (!rows_complete(lines, at, at + rows, format, file, failure) ||
      !read_fixed_block(block, at, rows * format.per_line, format.per_line, format.width, file, values, warnings,
                        failure)) {
    return failed(failure);
  }
  if (length_line != 0 && static_cast<double>(rows) < declared) {
    return failed(file, static_cast<long>(at + rows),
                  "the file ends after " + std::to_string(rows) + " of the " + shortest(declared) +
                      " rows its record length and rate declare");
  }
  if (length_line != 0 && static_cast<double>(rows) > declared) {
    trace.warnings.push_back(file + ": " + std::to_string(rows) + " rows for the " + shortest(declared) +
                             " its record length and rate declare; the declared " + shortest(declared) + " are taken");
    rows = static_cast<std::size_t>(declared);
  }
  // The time column must step by dt: a row off its time would shift every later sample.
  for (std::size_t r = 0; r < rows; ++r) {
    double t = values[r * format.per_line];
    if (std::abs(t - static_cast<double>(r) * trace.dt) > 0.5 * trace.dt) {
      return failed(file, static_cast<long>(at + r + 1),
                    "time " + shortest(t) + " where the rate puts " + shortest(static_cast<double>(r) * trace.dt));
    }
  }
  Outcome out;
  for (std::size_t c = 0; c < names.size(); ++c) {
    Trace one = trace;
    one.component = names[c];
    one.channel = static_cast<int>(c + 1);
    if (names[c] == "U" || names[c] == "Z" || names[c] == "V") one.vertical = true;
    if (names[c] == "N") one.azimuth = 0;
    if (names[c] == "E") one.azimuth = 90;
    one.samples.reserve(rows);
    for (std::size_t r = 0; r < rows; ++r) one.samples.push_back(values[r * format.per_line + c + 1]);
    out.traces.push_back(std::move(one));
  }
  out.traces.front().warnings.insert(out.traces.front().warnings.end(), warnings.begin(), warnings.end());
  return out;
}

}  // namespace wavproc::import
