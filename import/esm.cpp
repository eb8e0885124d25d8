// ESM / ITACA ASCII: "KEY: value" header lines (a value may be empty), then one value per line.
// A blank line among the values is the format's mark for a missing value: it is refused, never
// skipped, as skipping it would shift every later sample.
#include <string>

#include "import/format_fields.h"
#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

// Whether line is a header line: an upper-case key, then a colon.
bool is_key_line(std::string_view line) {
  std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || colon == 0) return false;
  for (char c : line.substr(0, colon)) {
    if (!((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '/' || c == '^' || c == '.')) {
      return false;
    }
  }
  return true;
}

// Reads the first sample's time: "20190728_160919.870", or day/month/year as one Turkish file
// writes it ("14/11/2010 23:09:19.300").
bool read_first_sample(std::string_view text, StartTime& start) {
  long long y = 0, mo = 0, d = 0, h = 0, mi = 0;
  std::string_view seconds;
  if (text.size() >= 15 && text[8] == '_') {
    if (!read_integer(text.substr(0, 4), y) || !read_integer(text.substr(4, 2), mo) ||
        !read_integer(text.substr(6, 2), d) || !read_integer(text.substr(9, 2), h) ||
        !read_integer(text.substr(11, 2), mi)) {
      return false;
    }
    seconds = text.substr(13);
  } else if (text.size() >= 19 && text[2] == '/' && text[5] == '/' && text[10] == ' ' && text[13] == ':') {
    if (!read_integer(text.substr(0, 2), d) || !read_integer(text.substr(3, 2), mo) ||
        !read_integer(text.substr(6, 4), y) || !read_integer(text.substr(11, 2), h) ||
        !read_integer(text.substr(14, 2), mi)) {
      return false;
    }
    seconds = text.substr(17);
  } else {
    return false;
  }
  int second = 0;
  std::int64_t nanos = 0;
  auto i = [](long long v) { return static_cast<int>(v); };
  if (!read_seconds(seconds, second, nanos) || !valid_civil(i(y), i(mo), i(d), i(h), i(mi), second)) return false;
  start.known = true;
  start.ns = civil_ns(i(y), i(mo), i(d), i(h), i(mi), second, nanos);
  return true;
}

}  // namespace

bool is_esm(std::string_view bytes) {
  std::string_view head = bytes.substr(0, 8000);
  return is_key_line(head.substr(0, head.find('\n'))) && head.find("\nNDATA:") != std::string_view::npos &&
         head.find("\nSAMPLING_INTERVAL_S:") != std::string_view::npos &&
         head.find("\nSTREAM:") != std::string_view::npos;
}

Outcome read_esm(std::string_view bytes, const std::string& file) {
  auto lines = split_lines(bytes);
  Trace trace;
  trace.file = file;
  trace.format = "ESM ASCII";
  long long ndata = -1;
  long dt_line = 0;
  std::string_view dt_text, units_text;
  std::size_t at = 0;
  for (; at < lines.size() && is_key_line(lines[at]); ++at) {
    std::string_view line = lines[at];
    std::string_view key = line.substr(0, line.find(':'));
    std::string_view value = trim(line.substr(key.size() + 1));
    long n = static_cast<long>(at + 1);
    if (key == "NETWORK") trace.network = std::string(value);
    else if (key == "STATION_CODE") trace.station = std::string(value);
    else if (key == "LOCATION") trace.location = std::string(value);
    else if (key == "EVENT_ID") trace.event = std::string(value);
    else if (key == "STREAM") trace.component = std::string(value);
    else if (key == "UNITS") units_text = value;
    else if (key == "SAMPLING_INTERVAL_S") dt_text = value, dt_line = n;
    else if (key == "NDATA") {
      if (!read_integer(value, ndata) || ndata < 1 || ndata > 100'000'000) {
        return failed(file, n, "NDATA " + quoted(value) + " is not a number of samples");
      }
    } else if (key.starts_with("DATE_TIME_FIRST_SAMPLE") && !key.ends_with("PRECISION") && !value.empty() &&
               !read_first_sample(value, trace.start)) {
      return failed(file, n, quoted(value) + " is not the time of the first sample");
    } else if (key == "DATA_TYPE") {
      if (value == "ACCELERATION") trace.quantity = Quantity::acceleration;
      if (value == "VELOCITY") trace.quantity = Quantity::velocity;
      if (value == "DISPLACEMENT") trace.quantity = Quantity::displacement;
    }
  }
  if (ndata < 0) return failed(file, static_cast<long>(at + 1), "the header gives no NDATA");
  if (dt_line == 0 || !read_decimal(dt_text, trace.dt) || !(trace.dt > 0) || trace.dt > 1e6) {
    return failed(file, dt_line, "SAMPLING_INTERVAL_S " + quoted(dt_text) + " is not a sampling interval");
  }
  UnitName unit = unit_of_text(units_text);
  if (unit.unit.empty()) return failed(file, 0, "unknown UNITS " + quoted(units_text));
  trace.unit = unit.unit;
  if (trace.quantity == Quantity::unknown) trace.quantity = unit.quantity;
  if (trace.component.empty()) return failed(file, 0, "the header gives no STREAM (component code)");
  char orientation = trace.component.back();
  if (orientation == 'Z') trace.vertical = true;
  if (orientation == 'N') trace.azimuth = 0;
  if (orientation == 'E') trace.azimuth = 90;

  std::size_t last = lines.size();
  while (last > at && trim(lines[last - 1]).empty()) --last;
  for (std::size_t k = at; k < last; ++k) {
    if (trim(lines[k]).empty()) {
      return failed(file, static_cast<long>(k + 1), "a blank line (a missing value) where a sample belongs");
    }
  }
  Failure failure;
  std::vector<std::string_view> values(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(last));
  if (!read_free_block(values, at, static_cast<std::size_t>(ndata), file, trace.samples, trace.warnings, failure)) {
    return failed(failure);
  }
  Outcome out;
  out.traces.push_back(std::move(trace));
  return out;
}

}  // namespace wavproc::import
