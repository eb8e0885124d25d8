// The Mexican accelerogram file (UNAM Instituto de Ingenieria, "ARCHIVO ESTANDAR DE ACELERACION",
// format version 2.0): "LABEL : value" lines in Spanish, per-channel values separated by "/"
// ("/V/N00E/N90E"), then a ruler, the channel headings, another ruler and one row per sample.
// The first sample's time of day has no date of its own: it is the quake's date, or the day next
// to it where that puts the first sample nearer the quake.
#include <cmath>
#include <string>

#include "import/format_fields.h"
#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

constexpr std::int64_t kDayNs = 86400LL * 1'000'000'000;

// The values of a per-channel field "/V/N00E/N90E" (the text before the first "/" is not one).
std::vector<std::string_view> per_channel(std::string_view value) {
  std::vector<std::string_view> out;
  std::size_t at = value.find('/');
  while (at != std::string_view::npos) {
    std::size_t next = value.find('/', at + 1);
    out.push_back(trim(value.substr(at + 1, next == std::string_view::npos ? std::string_view::npos : next - at - 1)));
    at = next;
  }
  return out;
}

// Reads "hh:mm:ss" (seconds may have decimals) as nanoseconds into the day.
bool read_time_of_day(std::string_view text, std::int64_t& ns) {
  text = trim(text);
  long long h = 0, mi = 0;
  int second = 0;
  std::int64_t nanos = 0;
  if (text.size() < 8 || text[2] != ':' || text[5] != ':' || !read_integer(text.substr(0, 2), h) ||
      !read_integer(text.substr(3, 2), mi) || !read_seconds(text.substr(6), second, nanos) || h < 0 || h > 23 ||
      mi < 0 || mi > 59) {
    return false;
  }
  ns = ((h * 60 + mi) * 60 + second) * 1'000'000'000 + nanos;
  return true;
}

}  // namespace

bool is_unam(std::string_view bytes) {
  std::string_view head = bytes.substr(0, 3000);
  return head.find("ARCHIVO ESTANDAR DE ACELERACION") != std::string_view::npos &&
         head.find("VERSION DEL FORMATO") != std::string_view::npos;
}

Outcome read_unam(std::string_view bytes, const std::string& file) {
  auto lines = split_lines(bytes);
  Trace trace;
  trace.file = file;
  trace.format = "UNAM ASA 2.0";
  std::vector<std::string_view> orientation, interval, counts;
  long interval_line = 0, counts_line = 0;
  std::string_view unit_text, data_format, quake_date, quake_time, first_time;
  std::size_t at = 0;
  for (; at < lines.size() && !lines[at].starts_with("DATOS DE ACELERACION"); ++at) {
    std::string_view line = lines[at];
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    std::string_view label = trim(line.substr(0, colon));
    std::string_view value = trim(line.substr(colon + 1));
    long n = static_cast<long>(at + 1);
    if (label == "CLAVE DE LA ESTACION") trace.station = std::string(value);
    else if (label.starts_with("ORIENTACION C1-C6")) orientation = per_channel(value);
    else if (label.starts_with("INTERVALO DE MUESTREO, C1-C6")) interval = per_channel(value), interval_line = n;
    else if (label.starts_with("NUM. TOTAL DE MUESTRAS, C1-C6")) counts = per_channel(value), counts_line = n;
    else if (label.starts_with("UNIDADES DE LOS DATOS")) unit_text = words(value).empty() ? "" : words(value)[0];
    else if (label.starts_with("FORMATO DATOS")) data_format = value;
    else if (label.starts_with("FECHA DEL SISMO")) quake_date = value;
    else if (label.starts_with("HORA EPICENTRO")) quake_time = value;
    else if (label.starts_with("HORA DE LA PRIMERA MUESTRA")) first_time = value;
  }
  const std::size_t channels = orientation.size();
  if (channels == 0 || channels > 6) return failed(file, 0, "no channel orientations (\"ORIENTACION C1-C6\")");
  if (interval.size() != channels || counts.size() != channels) {
    return failed(file, interval.size() != channels ? interval_line : counts_line,
                  "the intervals and sample counts do not give one value per channel");
  }
  UnitName unit = unit_of_text(unit_text);
  if (unit.unit.empty()) return failed(file, 0, "unknown unit " + quoted(unit_text));
  trace.unit = unit.unit;
  trace.quantity = unit.quantity;
  FortranFormat format;
  if (!read_fortran_format(data_format, format) || format.per_line != channels) {
    return failed(file, 0, "the data format " + quoted(data_format) + " does not give one field per channel");
  }
  // The start: the quake's date with the first sample's time of day, moved a day where that
  // brings it nearer the quake (a record that starts just after midnight).
  long long y = 0, mo = 0, d = 0;
  std::int64_t first_ns = 0, quake_ns = 0;
  auto i = [](long long v) { return static_cast<int>(v); };
  if (quake_date.size() == 10 && read_integer(quake_date.substr(0, 4), y) && read_integer(quake_date.substr(5, 2), mo) &&
      read_integer(quake_date.substr(8, 2), d) && valid_civil(i(y), i(mo), i(d), 0, 0, 0) &&
      read_time_of_day(first_time, first_ns)) {
    std::int64_t day = civil_ns(i(y), i(mo), i(d), 0, 0, 0, 0);
    std::int64_t start = day + first_ns;
    if (read_time_of_day(quake_time, quake_ns)) {
      if (first_ns - quake_ns > kDayNs / 2) start -= kDayNs;
      if (quake_ns - first_ns > kDayNs / 2) start += kDayNs;
    }
    trace.start.known = true;
    trace.start.ns = start;
  }

  // The rows begin after the second ruler that follows "DATOS DE ACELERACION".
  std::size_t rulers = 0;
  while (at < lines.size() && rulers < 2) {
    if (lines[at].starts_with("---------+")) ++rulers;
    ++at;
  }
  if (rulers < 2) return failed(file, static_cast<long>(lines.size()), "the file ends before its rows of samples");
  std::size_t declared = 0;
  std::vector<std::size_t> count_of(channels);
  for (std::size_t c = 0; c < channels; ++c) {
    long long n = 0;
    if (!read_integer(counts[c], n) || n < 1 || n > 100'000'000) {
      return failed(file, counts_line, quoted(counts[c]) + " is not a number of samples");
    }
    count_of[c] = static_cast<std::size_t>(n);
    declared = std::max(declared, count_of[c]);
  }
  std::size_t last = lines.size();
  while (last > at && trim(lines[last - 1]).empty()) --last;
  std::size_t rows = last - at;
  std::vector<double> values;
  Failure failure;
  std::vector<std::string_view> block(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(last));
  if (rows < declared) {
    return failed(file, static_cast<long>(last),
                  "the file ends after " + std::to_string(rows) + " of the " + std::to_string(declared) +
                      " rows the header declares");
  }
  if (!rows_complete(lines, at, last, format, file, failure) ||
      !read_fixed_block(block, at, rows * channels, format.per_line, format.width, file, values, trace.warnings,
                        failure)) {
    return failed(failure);
  }
  if (rows > declared) {
    trace.warnings.push_back(file + ": line " + std::to_string(at + declared + 1) + ": " + std::to_string(rows) +
                             " rows for the " + std::to_string(declared) + " the header declares; the declared " +
                             std::to_string(declared) + " are taken");
  }
  Outcome out;
  for (std::size_t c = 0; c < channels; ++c) {
    Trace one = trace;
    if (c > 0) one.warnings.clear();
    one.channel = static_cast<int>(c + 1);
    one.component = std::string(orientation[c]);
    double azimuth = 0;
    if (compass_azimuth(orientation[c], azimuth)) one.azimuth = azimuth;
    else if (orientation[c] == "V" || orientation[c] == "Z") one.vertical = true;
    if (!read_decimal(interval[c], one.dt) || !(one.dt > 0) || one.dt > 1e6) {
      return failed(file, interval_line, quoted(interval[c]) + " is not a sampling interval");
    }
    one.samples.reserve(count_of[c]);
    for (std::size_t r = 0; r < count_of[c]; ++r) one.samples.push_back(values[r * channels + c]);
    out.traces.push_back(std::move(one));
  }
  return out;
}

}  // namespace wavproc::import
