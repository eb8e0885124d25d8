// COSMOS strong-motion format (V0 raw counts, V1 uncorrected, V2 corrected): per channel a text
// header, an integer and a real header, comment lines, then one or more data blocks (V2 gives
// acceleration, velocity and displacement), each in the Fortran format its own line states.
// Several channels may follow each other in one file.
#include <cmath>
#include <string>

#include "import/format_fields.h"
#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

// A header block ("100 Integer-header values follow on 10 lines, Format= (10I8)"): where its
// values begin and how they are laid out.
struct HeaderBlock {
  std::size_t first = 0;
  FortranFormat format;
  std::vector<double> values;
};

// Reads the header block whose statement is lines[at]; at moves past it.
bool read_header_block(const std::vector<std::string_view>& lines, std::size_t& at, std::string_view kind,
                       const std::string& file, HeaderBlock& block, std::vector<std::string>& warnings,
                       Failure& failure) {
  long long count = 0;
  std::string_view line = at < lines.size() ? lines[at] : std::string_view{};
  std::size_t format_at = find_nocase(line, "format");
  std::vector<std::string_view> w = words(line);
  if (!contains_nocase(line, kind) || w.empty() || !read_integer(w[0], count) || count < 1 ||
      count > 10000 || format_at == std::string_view::npos ||
      !read_fortran_format(line.substr(format_at + 6), block.format)) {
    failure = {file, static_cast<long>(at + 1), "expected the " + std::string(kind) +
                                                    " line (\"100 " + std::string(kind) +
                                                    " values follow on ... lines, Format= (...)\")"};
    return false;
  }
  block.first = at + 1;
  return read_declared_block(lines, block.first, static_cast<std::size_t>(count), block.format, file,
                             block.values, warnings, failure, at);
}

// The word value (1-based) of block, or marker where the block has no such word.
double word(const HeaderBlock& block, std::size_t n, double marker) {
  return n <= block.values.size() ? block.values[n - 1] : marker;
}

// Reads the channel and azimuth of text line 9 ("Sta Chan   1: 90 Deg (Rcrdr Chan  ?) ...",
// "Sta Cha:  1: 340 deg", "Sta Chan   ?:Other", "... 2: Up").
void read_channel_line(std::string_view line, Trace& trace) {
  std::string_view part = line.substr(0, find_nocase(line, "(Rcrdr"));
  std::size_t colon = part.rfind(':');
  if (colon == std::string_view::npos) return;
  std::vector<std::string_view> before = words(part.substr(0, colon));
  long long channel = 0;
  if (!before.empty() && read_integer(before.back(), channel) && channel > 0 && channel < 10000) {
    trace.channel = static_cast<int>(channel);
  }
  std::vector<std::string_view> after = words(part.substr(colon + 1));
  double azimuth = 0;
  if (after.size() >= 2 && contains_nocase(after[1], "deg") && read_decimal(after[0], azimuth) &&
      azimuth >= 0 && azimuth <= 360) {
    trace.azimuth = azimuth;
  } else if (!after.empty() && (contains_nocase(after[0], "up") || contains_nocase(after[0], "down") ||
                                contains_nocase(after[0], "vert"))) {
    trace.vertical = true;
  }
}

// Reads "|<SCNL>BMR.BNZ.AK.--" (station, channel code, network, location) from a comment line.
void read_scnl(std::string_view line, Trace& trace) {
  std::size_t at = line.find("<SCNL>");
  if (at == std::string_view::npos) return;
  std::vector<std::string_view> w = words(line.substr(at + 6));
  if (w.empty()) return;
  std::string_view scnl = w[0];
  std::vector<std::string> parts;
  std::size_t from = 0;
  while (true) {
    std::size_t dot = scnl.find('.', from);
    parts.emplace_back(scnl.substr(from, dot == std::string_view::npos ? std::string_view::npos : dot - from));
    if (dot == std::string_view::npos) break;
    from = dot + 1;
  }
  if (parts.size() != 4 || parts[1].size() != 3) return;
  trace.station = parts[0];
  trace.component = parts[1];
  trace.network = parts[2];
  trace.location = parts[3] == "--" ? "" : parts[3];
  char orientation = parts[1][2];
  if (orientation == 'Z') trace.vertical = true;
  if (orientation == 'N' && std::isnan(trace.azimuth)) trace.azimuth = 0;
  if (orientation == 'E' && std::isnan(trace.azimuth)) trace.azimuth = 90;
}

// The start of the channel from integer words 40, 42-45 (year, month, day, hour, minute) and real
// word 30 (seconds, read from its text to keep every decimal), unknown where one is missing.
StartTime read_start(const HeaderBlock& ints, const std::vector<std::string_view>& lines,
                     const HeaderBlock& reals, double int_marker) {
  StartTime start;
  double y = word(ints, 40, int_marker), mo = word(ints, 42, int_marker), d = word(ints, 43, int_marker),
         h = word(ints, 44, int_marker), mi = word(ints, 45, int_marker);
  int second = 0;
  std::int64_t nanos = 0;
  if (!read_seconds(fixed_field(lines, reals.first, reals.format, 29), second, nanos)) return start;
  for (double v : {y, mo, d, h, mi}) {
    if (!(std::fabs(v) < 1e6)) return start;
  }
  auto i = [](double v) { return static_cast<int>(v); };
  if (y == int_marker || !valid_civil(i(y), i(mo), i(d), i(h), i(mi), second)) return start;
  start.known = true;
  start.ns = civil_ns(i(y), i(mo), i(d), i(h), i(mi), second, nanos);
  return start;
}

// The missing-value markers of text line 13 ("...unspecified:   -999, -999.00"); -999 by default.
void read_markers(std::string_view line, double& int_marker, double& real_marker) {
  std::size_t colon = line.rfind(':');
  if (colon == std::string_view::npos) return;
  std::string text(line.substr(colon + 1));
  for (char& c : text) {
    if (c == ',') c = ' ';
  }
  std::vector<std::string_view> w = words(text);
  if (w.size() >= 2) {
    read_decimal(w[0], int_marker);
    read_decimal(w[1], real_marker);
  }
}

// The format's name in the summary, from the data type that opens the first line.
std::string format_name(std::string_view first) {
  if (contains_nocase(first.substr(0, 12), "raw")) return "COSMOS V0";
  if (contains_nocase(first.substr(0, 12), "uncorrected")) return "COSMOS V1";
  if (contains_nocase(first.substr(0, 12), "corrected")) return "COSMOS V2";
  return "COSMOS";
}

}  // namespace

bool is_cosmos(std::string_view bytes) {
  std::string_view first = bytes.substr(0, bytes.find('\n'));
  return contains_nocase(first, "(Format v") && contains_nocase(first, "text lines");
}

Outcome read_cosmos(std::string_view bytes, const std::string& file) {
  auto lines = split_lines(bytes);
  Outcome out;
  std::size_t at = 0;
  Failure failure;
  while (true) {
    while (at < lines.size() && trim(lines[at]).empty()) ++at;
    if (at == lines.size()) break;
    const std::size_t head = at;
    std::string_view first = lines[head];
    std::size_t with = find_nocase(first, "with");
    long long text_lines = 0;
    if (!contains_nocase(first, "(Format v") || with == std::string_view::npos ||
        words(first.substr(with + 4)).empty() || !read_integer(words(first.substr(with + 4))[0], text_lines) ||
        text_lines < 13 || text_lines > 1000) {
      return failed(file, static_cast<long>(head + 1),
                    "expected a channel's first line (\"... (Format v01.20 with 13 text lines)\")");
    }
    if (head + static_cast<std::size_t>(text_lines) >= lines.size()) {
      return failed(file, static_cast<long>(lines.size()), "the file ends inside a channel's text header");
    }
    Trace trace;
    trace.file = file;
    trace.format = format_name(first);
    std::string_view station_line = lines[head + 4];
    if (std::size_t code = find_nocase(station_line, "Code:"); code != std::string_view::npos) {
      std::vector<std::string_view> w = words(station_line.substr(code + 5));
      if (!w.empty()) {
        std::string_view id = w[0];
        // "NP-8040"; a missing network is written "--" ("---J2236").
        std::size_t dash = id.rfind('-');
        trace.station = std::string(id.substr(dash == std::string_view::npos ? 0 : dash + 1));
        std::string_view network = dash == std::string_view::npos ? "" : id.substr(0, dash);
        if (network.find_first_not_of('-') != std::string_view::npos) trace.network = std::string(network);
      }
    }
    read_channel_line(lines[head + 8], trace);
    double int_marker = -999, real_marker = -999;
    read_markers(lines[head + 12], int_marker, real_marker);
    at = head + static_cast<std::size_t>(text_lines);

    HeaderBlock ints, reals;
    if (!read_header_block(lines, at, "Integer-header", file, ints, trace.warnings, failure) ||
        !read_header_block(lines, at, "Real-header", file, reals, trace.warnings, failure)) {
      return failed(failure);
    }
    std::vector<std::string_view> w = at < lines.size() ? words(lines[at]) : std::vector<std::string_view>{};
    long long comments = 0;
    if (w.empty() || !read_integer(w[0], comments) || comments < 0 || !contains_nocase(lines[at], "comment")) {
      return failed(file, static_cast<long>(at + 1), "expected the comment line (\"N Comment line(s) follow\")");
    }
    for (long long k = 1; k <= comments && at + static_cast<std::size_t>(k) < lines.size(); ++k) {
      read_scnl(lines[at + static_cast<std::size_t>(k)], trace);
    }
    at += static_cast<std::size_t>(comments) + 1;
    if (trace.component.empty()) {
      trace.component = trace.vertical               ? "UP"
                        : !std::isnan(trace.azimuth) ? azimuth_code(trace.azimuth)
                                                     : "CH" + std::to_string(trace.channel);
    }
    trace.start = read_start(ints, lines, reals, int_marker);

    // The interval is real word 62 in milliseconds (word 34 is the raw record's, which may differ).
    std::string_view dt_text = fixed_field(lines, reals.first, reals.format, 61);
    double dt_ms = 0;
    if (!read_decimal(dt_text, dt_ms) || dt_ms == real_marker || !(dt_ms > 0) ||
        !read_decimal_shifted(dt_text, -3, trace.dt) || !(trace.dt > 0)) {
      return failed(file, static_cast<long>(reals.first + 61 / reals.format.per_line + 1),
                    "real-header word 62 (the sampling interval in ms) is " + quoted(trim(dt_text)) +
                        ", not an interval");
    }

    // The data blocks: "7000  acceleration pts, approx 70 secs, units=cm/sec2(04),Format=(8F10.5)".
    while (true) {
      std::string_view line = at < lines.size() ? lines[at] : std::string_view{};
      std::vector<std::string_view> lw = words(line);
      std::size_t pts = find_nocase(line, "pts");
      std::size_t units = find_nocase(line, "units=");
      std::size_t fmt = find_nocase(line, "format");
      long long count = 0;
      FortranFormat format;
      if (lw.empty() || !read_integer(lw[0], count) || count < 0 || pts == std::string_view::npos ||
          units == std::string_view::npos || fmt == std::string_view::npos ||
          !read_fortran_format(line.substr(fmt + 6), format)) {
        return failed(file, static_cast<long>(at + 1),
                      "expected a data line (\"N acceleration pts, ... units=..., Format=(...)\")");
      }
      std::string_view kind = line.substr(0, pts);
      std::string_view unit_text = line.substr(units + 6);
      unit_text = unit_text.substr(0, unit_text.find_first_of("(,"));
      UnitName unit = unit_of_text(unit_text);
      if (unit.unit.empty()) {
        return failed(file, static_cast<long>(at + 1), "unknown unit " + quoted(trim(unit_text)));
      }
      Trace series = trace;
      series.unit = unit.unit;
      series.quantity = unit.quantity;
      series.counts = unit.quantity == Quantity::counts;
      if (contains_nocase(kind, "veloc")) series.quantity = Quantity::velocity;
      if (contains_nocase(kind, "displ")) series.quantity = Quantity::displacement;
      if (!read_declared_block(lines, at + 1, static_cast<std::size_t>(count), format, file, series.samples,
                               series.warnings, failure, at)) {
        return failed(failure);
      }
      out.traces.push_back(std::move(series));
      line = at < lines.size() ? lines[at] : std::string_view{};
      if (contains_nocase(line, "pts") && contains_nocase(line, "format")) continue;
      if (at == lines.size()) break;
      if (trim(line).starts_with("/&") || contains_nocase(line, "end")) {
        ++at;
        break;
      }
      return failed(file, static_cast<long>(at + 1), "expected the channel's end line or its next data line");
    }
  }
  if (out.traces.empty()) return failed(file, 1, "the file holds no channel");
  return out;
}

}  // namespace wavproc::import
