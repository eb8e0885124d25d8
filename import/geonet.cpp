// GeoNet V1A and V2A (GNS Science): per component 16 text lines, 40 integers and 60 reals in
// 10-wide fields, then the data in 10F8.x lines: acceleration (V1A, at the digitiser's rate), or
// acceleration, velocity and displacement (V2A, each from a fresh line, with padding samples
// before and after). Units mm/s2, mm/s and mm.
#include <cmath>
#include <string>

#include "import/format_fields.h"
#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

constexpr std::size_t kTextLines = 16;
constexpr std::size_t kIntegerLines = 4;
constexpr std::size_t kRealLines = 6;
constexpr FortranFormat kHeader{10, 8};
constexpr FortranFormat kData{10, 8};

// Whether line opens a component ("Uncorrected accelerogram ...", "Corrected accelerogram ...").
bool opens_component(std::string_view line) {
  line = trim(line);
  return find_nocase(line, "corrected accelerogram") == 0 || find_nocase(line, "uncorrected accelerogram") == 0;
}

// Whether the component that lines[head] opens has the layout of these files: its component line
// 13th and its integers from the 17th.
bool component_layout(const std::vector<std::string_view>& lines, std::size_t head) {
  return head + kTextLines < lines.size() && opens_component(lines[head]) &&
         find_nocase(trim(lines[head + 12]), "component") == 0 && looks_numeric(lines[head + kTextLines]);
}

}  // namespace

bool is_geonet(std::string_view bytes) {
  auto lines = split_lines(bytes.substr(0, 3000));
  return component_layout(lines, 0);
}

Outcome read_geonet(std::string_view bytes, const std::string& file) {
  auto lines = split_lines(bytes);
  Outcome out;
  std::size_t at = 0;
  while (true) {
    while (at < lines.size() && trim(lines[at]).empty()) ++at;
    if (at == lines.size()) break;
    const std::size_t head = at;
    if (!component_layout(lines, head) || head + kTextLines + kIntegerLines + kRealLines > lines.size()) {
      return failed(file, static_cast<long>(head + 1), "expected a component's 16 text lines and its headers");
    }
    const std::size_t ints = head + kTextLines, reals = ints + kIntegerLines;
    long long integer[41] = {};
    for (std::size_t n = 1; n <= 40; ++n) {
      std::string_view text = fixed_field(lines, ints, kHeader, n - 1);
      if (!read_integer(text, integer[n])) {
        return failed(file, static_cast<long>(ints + (n - 1) / 10 + 1),
                      quoted(trim(text)) + " where header integer " + std::to_string(n) + " belongs");
      }
    }
    const bool corrected = find_nocase(trim(lines[head]), "corrected") == 0;
    Trace trace;
    trace.file = file;
    trace.format = corrected ? "GeoNet V2A" : "GeoNet V1A";
    std::vector<std::string_view> site = words(lines[head + 1]);
    if (site.size() >= 2) trace.station = std::string(site[1]);
    std::vector<std::string_view> component = words(lines[head + 12]);
    if (component.size() >= 2) {
      trace.component = std::string(component[1]);
      double azimuth = 0;
      if (compass_azimuth(component[1], azimuth)) trace.azimuth = azimuth;
      else if (contains_nocase(component[1], "up") || contains_nocase(component[1], "down")) trace.vertical = true;
    }
    if (trace.component.empty()) return failed(file, static_cast<long>(head + 13), "no component code");

    // The output interval is real 26 (real 25 is the digitiser's).
    std::string_view dt_text = fixed_field(lines, reals, kHeader, 25);
    if (!read_decimal(dt_text, trace.dt) || !(trace.dt > 0) || trace.dt > 1e6) {
      return failed(file, static_cast<long>(reals + 3), "real 26 " + quoted(trim(dt_text)) + " is not a sampling interval");
    }
    // The buffer start: integers 9, 10, 19, 20, 39 (year, month, day, hour, minute) and 40
    // (seconds x 1000); V2A data begin integer 32 padding samples before it.
    auto i = [](long long v) { return static_cast<int>(v); };
    long long ms = integer[40];
    if (ms >= 0 && ms < 61000 &&
        valid_civil(i(integer[9]), i(integer[10]), i(integer[19]), i(integer[20]), i(integer[39]), i(ms / 1000))) {
      trace.start.known = true;
      trace.start.ns = civil_ns(i(integer[9]), i(integer[10]), i(integer[19]), i(integer[20]), i(integer[39]),
                                i(ms / 1000), (ms % 1000) * 1'000'000);
      // Padding of at most 10^7 samples of at most 100 s each stays within the nanosecond clock.
      if (corrected && integer[32] > 0 && integer[32] <= 10'000'000 && trace.dt <= 100) {
        trace.start.ns -= integer[32] * std::llround(trace.dt * 1e9);
      }
    }

    struct Series {
      long long count;
      Quantity quantity;
      const char* unit;
    };
    const Series series[] = {{integer[34], Quantity::acceleration, "mm/s2"},
                             {corrected ? integer[35] : 0, Quantity::velocity, "mm/s"},
                             {corrected ? integer[36] : 0, Quantity::displacement, "mm"}};
    at = reals + kRealLines;
    for (std::size_t k = 0; k < 3; ++k) {
      if (series[k].count <= 0) continue;
      if (series[k].count > 100'000'000) {
        return failed(file, static_cast<long>(ints + 4), "a sample count of " + std::to_string(series[k].count));
      }
      Trace one = trace;
      one.quantity = series[k].quantity;
      one.unit = series[k].unit;
      bool last = k == 2 || (k == 0 && !corrected);
      Failure failure;
      if (!read_declared_block(lines, at, static_cast<std::size_t>(series[k].count), kData, file, one.samples,
                               one.warnings, failure, at, !last)) {
        return failed(failure);
      }
      out.traces.push_back(std::move(one));
    }
  }
  if (out.traces.empty()) return failed(file, 1, "the file holds no component");
  return out;
}

}  // namespace wavproc::import
