// K-NET and KiK-net ASCII (NIED): 17 header lines of an 18-character label and a value, then
// integer counts, eight to a line. The values are counts; the scale factor "A(gal)/B" of line 14
// turns them into gal. The record time of line 10 is Japan time and lies 15 s after the first sample
// (the logger's trigger delay).
#include <string>

#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

constexpr std::size_t kHeaderLines = 17;
constexpr int kJapanMinutes = 9 * 60;
constexpr std::int64_t kTriggerDelayNs = 15'000'000'000;

// The value of header line n (1-based): from column 19 on, trimmed.
std::string_view value_of(const std::vector<std::string_view>& lines, std::size_t n) {
  std::string_view line = lines[n - 1];
  return trim(line.size() > 18 ? line.substr(18) : std::string_view{});
}

// Reads "YYYY/MM/DD hh:mm:ss" as nanoseconds since the epoch of its own clock.
bool read_time(std::string_view text, std::int64_t& ns) {
  long long y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  if (text.size() != 19 || text[4] != '/' || text[7] != '/' || text[10] != ' ' || text[13] != ':' ||
      text[16] != ':') {
    return false;
  }
  if (!read_integer(text.substr(0, 4), y) || !read_integer(text.substr(5, 2), mo) ||
      !read_integer(text.substr(8, 2), d) || !read_integer(text.substr(11, 2), h) ||
      !read_integer(text.substr(14, 2), mi) || !read_integer(text.substr(17, 2), s)) {
    return false;
  }
  auto i = [](long long v) { return static_cast<int>(v); };
  if (!valid_civil(i(y), i(mo), i(d), i(h), i(mi), i(s))) return false;
  ns = civil_ns(i(y), i(mo), i(d), i(h), i(mi), i(s), 0);
  return true;
}

}  // namespace

bool is_knet(std::string_view bytes) {
  auto first = bytes.substr(0, 200);
  return first.starts_with("Origin Time") && first.find("\nLat.") != std::string_view::npos;
}

Outcome read_knet(std::string_view bytes, const std::string& file) {
  auto lines = split_lines(bytes);
  if (lines.size() < kHeaderLines) {
    return failed(file, static_cast<long>(lines.size()), "the header ends before its 17th line");
  }
  Trace trace;
  trace.file = file;
  trace.quantity = Quantity::acceleration;
  trace.unit = "gal";
  trace.station = std::string(value_of(lines, 6));
  if (trace.station.empty()) return failed(file, 6, "no station code");
  trace.event = std::string(value_of(lines, 1));

  std::string_view rate = value_of(lines, 11);
  if (rate.ends_with("Hz")) rate.remove_suffix(2);
  double hz = 0;
  if (!read_decimal(rate, hz) || !(hz > 0) || hz > 1e6) {
    return failed(file, 11, quoted(value_of(lines, 11)) + " is not a sampling frequency");
  }
  // The interval as the shortest decimal of 1/frequency: 0.01 for 100Hz.
  trace.dt = 1.0 / hz;

  std::int64_t record_ns = 0;
  if (!read_time(value_of(lines, 10), record_ns)) {
    return failed(file, 10, quoted(value_of(lines, 10)) + " is not a record time");
  }
  trace.start.known = true;
  trace.start.zone_minutes = kJapanMinutes;
  trace.start.zone = "JST";
  trace.start.ns = record_ns - kTriggerDelayNs - std::int64_t{kJapanMinutes} * 60 * 1'000'000'000;

  std::string_view dir = value_of(lines, 13);
  if (dir == "N-S" || dir == "E-W" || dir == "U-D") {
    trace.format = "K-NET ASCII";
    trace.component = dir == "N-S" ? "NS" : dir == "E-W" ? "EW" : "UD";
  } else if (dir.size() == 1 && dir[0] >= '1' && dir[0] <= '6') {
    // KiK-net: channels 1-3 the borehole instrument, 4-6 the surface one, each NS, EW, UD.
    trace.format = "KiK-net ASCII";
    int channel = dir[0] - '1';
    static constexpr const char* kCodes[] = {"NS", "EW", "UD"};
    trace.location = channel < 3 ? "1" : "2";
    trace.component = std::string(kCodes[channel % 3]) + trace.location;
  } else {
    return failed(file, 13, quoted(dir) + " is not a direction");
  }
  trace.vertical = trace.component.starts_with("UD");
  if (!trace.vertical) trace.azimuth = trace.component.starts_with("NS") ? 0.0 : 90.0;

  std::string_view factor = value_of(lines, 14);
  std::size_t gal = factor.find("(gal)/");
  double numerator = 0, denominator = 0;
  if (gal == std::string_view::npos || !read_decimal(factor.substr(0, gal), numerator) ||
      !read_decimal(factor.substr(gal + 6), denominator) || !(numerator > 0) || !(denominator > 0)) {
    return failed(file, 14, quoted(factor) + " is not a scale factor A(gal)/B");
  }
  trace.scale = numerator / denominator;
  trace.scale_text = std::string(factor.substr(0, gal)) + "/" + std::string(factor.substr(gal + 6));
  trace.counts = true;

  Failure failure;
  if (!read_free_block(lines, kHeaderLines, 0, file, trace.samples, trace.warnings, failure)) {
    Outcome out;
    out.failed = true;
    out.failure = failure;
    return out;
  }
  if (trace.samples.empty()) return failed(file, static_cast<long>(lines.size()), "the file holds no values");
  // Duration × frequency is the number of samples in every file seen; a file that falls short of
  // it is cut.
  double duration = 0;
  if (read_decimal(value_of(lines, 12), duration) && duration > 0) {
    double expected = duration * hz;
    if (static_cast<double>(trace.samples.size()) < expected) {
      return failed(file, static_cast<long>(lines.size()),
                    "the file ends after " + std::to_string(trace.samples.size()) + " of the " + shortest(expected) +
                        " values its duration and frequency declare");
    }
    if (static_cast<double>(trace.samples.size()) > expected) {
      trace.warnings.push_back(file + ": " + std::to_string(trace.samples.size()) + " values for the " +
                               shortest(expected) + " its duration and frequency declare; the declared " +
                               shortest(expected) + " are taken");
      trace.samples.resize(static_cast<std::size_t>(expected));
    }
  }
  Outcome out;
  out.traces.push_back(std::move(trace));
  return out;
}

}  // namespace wavproc::import
