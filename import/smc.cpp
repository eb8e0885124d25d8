// USGS SMC: 11 text lines (line 1 the data type, line 6 station and component), 48 integers in
// 8I10, 50 reals in 5E15.7, comment lines starting "|", then the values in 8E10.4 (fields touch:
// "1.5057E+0-2.2223E+0"). Unknown header values are -32768 (integers) and 1.7E+38 (reals).
#include <cmath>
#include <string>

#include "import/format_fields.h"
#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

constexpr std::size_t kTextLines = 11;
constexpr std::size_t kIntegerLines = 6;
constexpr std::size_t kRealLines = 10;
constexpr FortranFormat kIntegers{8, 10};
constexpr FortranFormat kReals{5, 15};
constexpr FortranFormat kData{8, 10};
constexpr long long kUnknownInteger = -32768;
constexpr double kUnknownReal = 1e38;  // 1.7E+38 as written; any value this large is the marker

// The data type of line 1 ("2 CORRECTED ACCELEROGRAM"): 1-4 for the time series, else 0.
int data_type(std::string_view line) {
  if (line.size() < 3 || line[0] < '0' || line[0] > '9' || line[1] != ' ') return 0;
  int type = line[0] - '0';
  return type >= 1 && type <= 4 ? type : 0;
}

}  // namespace

bool is_smc(std::string_view bytes) {
  auto lines = split_lines(bytes.substr(0, 3000));
  if (lines.size() <= kTextLines + kIntegerLines) return false;
  std::string_view first = lines[0];
  return first.size() > 2 && first[0] >= '0' && first[0] <= '9' && first[1] == ' ' &&
         (contains_nocase(first, "accelerogram") || contains_nocase(first, "velocity") ||
          contains_nocase(first, "displacement")) &&
         looks_numeric(lines[kTextLines]) && looks_numeric(lines[kTextLines + kIntegerLines]);
}

Outcome read_smc(std::string_view bytes, const std::string& file) {
  auto lines = split_lines(bytes);
  const std::size_t ints = kTextLines, reals = ints + kIntegerLines, comments = reals + kRealLines;
  if (lines.size() < comments) return failed(file, static_cast<long>(lines.size()), "the file ends inside its headers");
  int type = data_type(lines[0]);
  if (type == 0) return failed(file, 1, "not a time series (data types 1-4: acceleration, velocity, displacement)");
  long long integer[49] = {};
  for (std::size_t n = 1; n <= 48; ++n) {
    std::string_view text = fixed_field(lines, ints, kIntegers, n - 1);
    if (!read_integer(text, integer[n])) {
      return failed(file, static_cast<long>(ints + (n - 1) / 8 + 1),
                    quoted(trim(text)) + " where header integer " + std::to_string(n) + " belongs");
    }
  }
  Trace trace;
  trace.file = file;
  trace.format = "USGS SMC";
  trace.quantity = type <= 2 ? Quantity::acceleration : type == 3 ? Quantity::velocity : Quantity::displacement;
  trace.unit = type <= 2 ? "gal" : type == 3 ? "cm/s" : "cm";
  std::vector<std::string_view> station = words(lines[2]);
  if (!station.empty()) trace.station = std::string(station[0]);
  std::string_view line6 = lines[5];
  if (std::size_t at = find_nocase(line6, "component="); at != std::string_view::npos) {
    std::vector<std::string_view> w = words(line6.substr(at + 10));
    double azimuth = 0;
    if (!w.empty() && read_decimal(w[0], azimuth) && azimuth >= 0 && azimuth <= 360) {
      trace.azimuth = azimuth;
      trace.component = azimuth_code(azimuth);
    } else if (!w.empty() && (contains_nocase(w[0], "up") || contains_nocase(w[0], "down"))) {
      trace.vertical = true;
      trace.component = "UP";
    } else if (!w.empty()) {
      trace.component = std::string(w[0]);
    }
  }
  if (trace.component.empty()) return failed(file, 6, "no component (\"component=\") on the station line");

  // The rate in samples per second is real 2.
  std::string_view rate_text = fixed_field(lines, reals, kReals, 1);
  double rate = 0;
  if (!read_decimal(rate_text, rate) || !(rate > 0) || rate >= kUnknownReal) {
    return failed(file, static_cast<long>(reals + 1), "real 2 " + quoted(trim(rate_text)) + " is not a sampling rate");
  }
  trace.dt = 1.0 / rate;
  // The start: integers 2-7 (year, day of year, hour, minute, second, millisecond).
  long long year = integer[2], day = integer[3], ms = integer[7] == kUnknownInteger ? 0 : integer[7];
  auto i = [](long long v) { return static_cast<int>(v); };
  if (day >= 1 && day <= 366 && ms >= 0 && ms < 1000 &&
      valid_civil(i(year), 1, 1, i(integer[4]), i(integer[5]), i(integer[6]))) {
    trace.start.known = true;
    trace.start.ns = civil_ns(i(year), 1, 1, i(integer[4]), i(integer[5]), i(integer[6]), ms * 1'000'000) +
                     (day - 1) * 86400 * 1'000'000'000LL;
  }

  long long count = integer[17], notes = integer[16];
  if (count == kUnknownInteger || count < 1 || count > 100'000'000) {
    return failed(file, static_cast<long>(ints + 3), "integer 17 (the number of samples) is " + std::to_string(count));
  }
  if (notes == kUnknownInteger) notes = 0;
  std::size_t first = comments;
  while (first < lines.size() && trim(lines[first]).starts_with("|")) ++first;
  if (notes < 0 || first != comments + static_cast<std::size_t>(notes)) {
    trace.warnings.push_back(file + ": " + std::to_string(first - comments) + " comment lines where integer 16 declares " +
                             std::to_string(notes));
  }
  Failure failure;
  std::size_t next = 0;
  if (!read_declared_block(lines, first, static_cast<std::size_t>(count), kData, file, trace.samples, trace.warnings,
                           failure, next)) {
    return failed(failure);
  }
  for (std::size_t k = 0; k < trace.samples.size(); ++k) {
    if (std::fabs(trace.samples[k]) >= kUnknownReal) {
      return failed(file, static_cast<long>(first + k / kData.per_line + 1),
                    "the missing-value marker 1.7E+38 where a sample belongs");
    }
  }
  Outcome out;
  out.traces.push_back(std::move(trace));
  return out;
}

}  // namespace wavproc::import
