// CGS/CSMIP Volume 1 and Volume 2 (and the older upper-case dialect): per channel a text header,
// 100 integers in 16I5, a real header in 8F10.x, then data blocks, each opened by a line that gives
// its count, interval (or rate), unit and format. Film-digitised files (.RAW) hold (time, value)
// pairs at uneven steps instead: those are refused, as resampling them is processing.
#include <cmath>
#include <string>

#include "import/format_fields.h"
#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

constexpr std::size_t kIntegerLines = 7;  // 100 integers, 16 to a line
constexpr std::size_t kRawRealLines = 7;  // 50 reals, 8 to a line, in the film-digitised files

// Whether line opens a channel ("Corrected accelerogram", "UNCORRECTED ACCELEROGRAM DATA", ...).
bool opens_channel(std::string_view line) {
  line = trim(line);
  return find_nocase(line, "corrected accelerogram") == 0 || find_nocase(line, "uncorrected accelerogram") == 0;
}

// Whether line opens a data block: "12000 points of accel data equally spaced at .005 sec, ...",
// "3251 POINTS OF ACCEL DATA EQUALLY SPACED AT .020 SEC. (UNITS: CM/SEC/SEC)" or
// "13200 Accelerogram points at 200 pts/sec in units of g . Format: (8f9.6)".
bool opens_block(std::string_view line) {
  std::vector<std::string_view> w = words(line);
  long long count = 0;
  return !w.empty() && read_integer(w[0], count) &&
         ((contains_nocase(line, "points of") && contains_nocase(line, "spaced at")) ||
          (contains_nocase(line, "points at") && contains_nocase(line, "pts/sec")));
}

// Whether line ends a channel ("/&  ----------  End of Data for Channel  1  ----------").
bool ends_channel(std::string_view line) {
  return trim(line).starts_with("/&") || contains_nocase(line, "end of data");
}

// The word after the first occurrence of key in line, without a trailing comma.
std::string_view word_after(std::string_view line, std::string_view key) {
  std::size_t at = find_nocase(line, key);
  if (at == std::string_view::npos) return {};
  std::vector<std::string_view> w = words(line.substr(at + key.size()));
  if (w.empty()) return {};
  std::string_view word = w[0];
  if (word.size() > 1 && word.back() == ',') word.remove_suffix(1);
  return word;
}

// Reads the text header's channel line ("Chan  1: 360 Deg", "CHAN  2:  UP"), station
// ("Station No. 89146") and start ("Start time:  2/13/12, 21:06:45.0 UTC (GPS)",
// "TRIGGER TIME: 01/17/94, 12:31:04.1 UTC"; two-digit years, 1950-2049).
void read_text_header(const std::vector<std::string_view>& lines, std::size_t from, std::size_t to,
                      Trace& trace) {
  for (std::size_t k = from; k < to; ++k) {
    std::string_view line = trim(lines[k]);
    if (trace.channel == 0 && find_nocase(line, "chan") == 0) {
      std::size_t colon = line.find(':');
      long long channel = 0;
      if (colon != std::string_view::npos && read_integer(line.substr(4, colon - 4), channel) && channel > 0 &&
          channel < 10000) {
        trace.channel = static_cast<int>(channel);
        std::vector<std::string_view> w = words(line.substr(colon + 1));
        double azimuth = 0;
        if (w.size() >= 2 && contains_nocase(w[1], "deg") && read_decimal(w[0], azimuth) && azimuth >= 0 &&
            azimuth <= 360) {
          trace.azimuth = azimuth;
        } else if (!w.empty() && (contains_nocase(w[0], "up") || contains_nocase(w[0], "down"))) {
          trace.vertical = true;
        }
      }
    }
    if (trace.station.empty() && contains_nocase(line, "station no.")) {
      trace.station = std::string(word_after(line, "station no."));
    }
    std::size_t time_at = find_nocase(line, "start time:");
    if (time_at == std::string_view::npos) time_at = find_nocase(line, "trigger time:");
    if (!trace.start.known && time_at != std::string_view::npos) {
      std::vector<std::string_view> w = words(line.substr(line.find(':', time_at) + 1));
      if (w.size() < 2) continue;
      std::string_view date = w[0];
      if (date.ends_with(',')) date.remove_suffix(1);
      std::size_t s1 = date.find('/'), s2 = date.rfind('/');
      std::string_view clock = w[1];
      std::size_t c1 = clock.find(':'), c2 = clock.rfind(':');
      long long mo = 0, d = 0, y = 0, h = 0, mi = 0;
      int second = 0;
      std::int64_t nanos = 0;
      if (s1 == s2 || c1 == c2 || !read_integer(date.substr(0, s1), mo) ||
          !read_integer(date.substr(s1 + 1, s2 - s1 - 1), d) || !read_integer(date.substr(s2 + 1), y) ||
          !read_integer(clock.substr(0, c1), h) || !read_integer(clock.substr(c1 + 1, c2 - c1 - 1), mi) ||
          !read_seconds(clock.substr(c2 + 1), second, nanos)) {
        continue;
      }
      if (y < 100) y += y < 50 ? 2000 : 1900;
      auto i = [](long long v) { return static_cast<int>(v); };
      if (!valid_civil(i(y), i(mo), i(d), i(h), i(mi), second)) continue;
      std::string_view zone = w.size() > 2 ? w[2] : std::string_view{};
      int minutes = 0;
      if (zone == "PDT") minutes = -7 * 60;
      else if (zone == "PST") minutes = -8 * 60;
      else if (zone != "UTC" && zone != "GMT") continue;
      trace.start.known = true;
      trace.start.zone_minutes = minutes;
      trace.start.zone = minutes == 0 ? "" : std::string(zone);
      trace.start.ns = civil_ns(i(y), i(mo), i(d), i(h), i(mi), second, nanos) -
                       std::int64_t{minutes} * 60 * 1'000'000'000;
    }
  }
}

// The film-digitised channel whose (time, value) pairs begin at lines[first]: refused at its first
// uneven step; a channel of even steps is read as it stands.
Outcome read_pairs(const std::vector<std::string_view>& lines, std::size_t first, std::size_t points,
                   const std::string& file, Trace trace) {
  const FortranFormat pairs{10, 7};
  std::vector<double> values;
  Failure failure;
  std::size_t next = 0;
  if (!read_declared_block(lines, first, 2 * points, pairs, file, values, trace.warnings, failure, next)) {
    return failed(failure);
  }
  if (points < 2) return failed(file, static_cast<long>(first + 1), "fewer than two (time, value) pairs");
  const long long step = std::llround((values[2] - values[0]) * 1000);
  for (std::size_t k = 1; k + 1 < points; ++k) {
    long long next_step = std::llround((values[2 * k + 2] - values[2 * k]) * 1000);
    if (next_step != step) {
      std::string reason = "film-digitised (time, value) pairs with uneven time steps: from ";
      reason += trim(fixed_field(lines, first, pairs, 2 * k));
      reason += " s to ";
      reason += trim(fixed_field(lines, first, pairs, 2 * k + 2));
      reason += " s after steps of ";
      reason += shortest(static_cast<double>(step) / 1000);
      reason += " s; resampling them to an even interval is processing, which wavproc-import does not do";
      return failed(file, static_cast<long>(first + (2 * k + 2) / pairs.per_line + 1), std::move(reason));
    }
  }
  if (step <= 0 || !read_decimal_shifted(std::to_string(step), -3, trace.dt)) {
    return failed(file, static_cast<long>(first + 1), "the times of the (time, value) pairs do not increase");
  }
  // Values in g/10, each read from its text a tenth as large, so that it is rounded once.
  for (std::size_t k = 0; k < points; ++k) {
    double value = 0;
    read_decimal_shifted(fixed_field(lines, first, pairs, 2 * k + 1), -1, value);
    trace.samples.push_back(value);
  }
  trace.unit = std::string(1, 'g');
  trace.quantity = Quantity::acceleration;
  Outcome out;
  out.traces.push_back(std::move(trace));
  return out;
}

}  // namespace

bool is_csmip(std::string_view bytes) {
  return opens_channel(bytes.substr(0, bytes.find('\n'))) && !is_geonet(bytes);
}

Outcome read_csmip(std::string_view bytes, const std::string& file) {
  auto lines = split_lines(bytes);
  Outcome out;
  std::size_t at = 0;
  while (true) {
    while (at < lines.size() && trim(lines[at]).empty()) ++at;
    if (at == lines.size()) break;
    const std::size_t head = at;
    if (!opens_channel(lines[head])) {
      return failed(file, static_cast<long>(head + 1), "expected a channel's first line (\"Corrected accelerogram\" "
                                                       "or \"Uncorrected Accelerogram Data\")");
    }
    std::size_t numbers = head + 1;
    while (numbers < lines.size() && !looks_numeric(lines[numbers])) ++numbers;
    Trace trace;
    trace.file = file;
    trace.format = contains_nocase(lines[head].substr(0, 12), "uncorrected") ? "CSMIP V1" : "CSMIP V2";
    read_text_header(lines, head, numbers, trace);
    trace.component = trace.vertical ? "UP" : !std::isnan(trace.azimuth) ? azimuth_code(trace.azimuth)
                                                                          : "CH" + std::to_string(trace.channel);
    at = numbers;
    while (at < lines.size() && looks_numeric(lines[at])) ++at;
    if (at >= lines.size() || !opens_block(lines[at])) {
      // No data block: a film-digitised channel, whose (time, value) pairs follow the headers.
      long long points = 0;
      for (std::size_t k = head; k < numbers && points == 0; ++k) {
        if (contains_nocase(lines[k], "no. of points")) {
          std::string_view count = word_after(lines[k], "=");
          read_integer(count, points);
        }
      }
      if (points <= 0 || points > 100'000'000 || numbers + kIntegerLines + kRawRealLines >= at) {
        return failed(file, static_cast<long>(at < lines.size() ? at + 1 : lines.size()),
                      "expected a data block (\"N points of accel data equally spaced at ...\")");
      }
      trace.format = "CSMIP film-digitised";
      Outcome pairs = read_pairs(lines, numbers + kIntegerLines + kRawRealLines, static_cast<std::size_t>(points),
                                 file, std::move(trace));
      if (pairs.failed) return pairs;
      out.traces.push_back(std::move(pairs.traces.front()));
    } else {
      while (at < lines.size() && opens_block(lines[at])) {
        std::string_view line = lines[at];
        long long count = 0;
        read_integer(words(line)[0], count);
        Trace series = trace;
        FortranFormat format{8, 10};
        std::string_view unit_text;
        if (contains_nocase(line, "points at")) {
          double rate = 0;
          if (!read_decimal(word_after(line, "points at"), rate) || !(rate > 0) || rate > 1e6) {
            return failed(file, static_cast<long>(at + 1), "no sampling rate in the data line");
          }
          series.dt = 1.0 / rate;
          std::string_view rest = line.substr(find_nocase(line, "points at"));
          std::size_t units = find_nocase(rest, "units of");
          std::size_t fmt = find_nocase(rest, "format");
          if (units != std::string_view::npos) unit_text = rest.substr(units + 8, fmt == std::string_view::npos ? std::string_view::npos : fmt - units - 8);
          if (fmt != std::string_view::npos) read_fortran_format(rest.substr(fmt), format);
        } else {
          std::string_view dt_text = word_after(line, "spaced at");
          double dt = 0;
          if (!read_decimal(dt_text, dt) || !(dt > 0)) {
            return failed(file, static_cast<long>(at + 1), quoted(dt_text) + " is not a sampling interval");
          }
          series.dt = dt;
          if (contains_nocase(line, "veloc")) series.quantity = Quantity::velocity;
          if (contains_nocase(line, "displ")) series.quantity = Quantity::displacement;
          std::size_t units = find_nocase(line, "(units:");
          if (units != std::string_view::npos) {
            unit_text = line.substr(units + 7);
            unit_text = unit_text.substr(0, unit_text.find(')'));
          } else if (std::size_t in = find_nocase(line, ", in "); in != std::string_view::npos) {
            unit_text = line.substr(in + 5);
            std::size_t paren = unit_text.find('(');
            if (paren != std::string_view::npos) read_fortran_format(unit_text.substr(paren), format);
            unit_text = unit_text.substr(0, paren);
          }
        }
        UnitName unit = unit_of_text(unit_text);
        if (unit.unit.empty()) return failed(file, static_cast<long>(at + 1), "unknown unit " + quoted(trim(unit_text)));
        series.unit = unit.unit;
        if (series.quantity == Quantity::unknown) series.quantity = unit.quantity;
        Failure failure;
        if (!read_declared_block(lines, at + 1, static_cast<std::size_t>(count), format, file, series.samples,
                                 series.warnings, failure, at)) {
          return failed(failure);
        }
        out.traces.push_back(std::move(series));
      }
    }
    if (at < lines.size() && ends_channel(lines[at])) {
      ++at;
    } else if (at < lines.size()) {
      return failed(file, static_cast<long>(at + 1), "expected the channel's end line or its next data block");
    }
  }
  if (out.traces.empty()) return failed(file, 1, "the file holds no channel");
  return out;
}

}  // namespace wavproc::import
