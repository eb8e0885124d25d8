// PEER NGA time histories (AT2 acceleration in g, VT2 velocity in cm/s, DT2 displacement in cm):
// four header lines, then NPTS values, five to a line in 15-character fields.
#include <algorithm>
#include <string>

#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

// The text after key in line up to the next comma or blank run, trimmed ("NPTS=  5093," -> "5093").
std::string_view after_key(std::string_view line, std::string_view upper_line, std::string_view key) {
  std::size_t at = upper_line.find(key);
  if (at == std::string_view::npos) return {};
  std::string_view rest = trim(line.substr(at + key.size()));
  std::size_t end = rest.find_first_of(", \t");
  return rest.substr(0, end);
}

// Reads NPTS and DT from line 4 in either layout: "NPTS=  5093, DT=   .0100 SEC," or
// "4096    0.0100    NPTS, DT".
bool read_count_and_interval(std::string_view line, long long& npts, double& dt) {
  std::string up = upper(line);
  if (up.find("NPTS=") != std::string::npos) {
    return read_integer(after_key(line, up, "NPTS="), npts) && read_decimal(after_key(line, up, "DT="), dt);
  }
  auto w = words(line);
  return w.size() >= 2 && read_integer(w[0], npts) && read_decimal(w[1], dt);
}

}  // namespace

bool is_peer(std::string_view bytes) {
  return bytes.starts_with("PEER NGA STRONG MOTION DATABASE RECORD") ||
         bytes.starts_with("PACIFIC ENGINEERING AND ANALYSIS STRONG-MOTION DATA");
}

Outcome read_peer(std::string_view bytes, const std::string& file) {
  auto lines = split_lines(bytes);
  if (lines.size() < 4) return failed(file, static_cast<long>(lines.size()), "the header ends before its fourth line");
  Trace trace;
  trace.file = file;
  std::string kind = upper(lines[2]);
  if (kind.find("ACCELERATION") != std::string::npos) {
    trace.quantity = Quantity::acceleration;
    trace.unit = kind.find("CM/S") != std::string::npos ? "gal" : "g";
    trace.format = "PEER AT2";
  } else if (kind.find("VELOCITY") != std::string::npos) {
    trace.quantity = Quantity::velocity;
    trace.unit = "cm/s";
    trace.format = "PEER VT2";
  } else if (kind.find("DISPLACEMENT") != std::string::npos) {
    trace.quantity = Quantity::displacement;
    trace.unit = "cm";
    trace.format = "PEER DT2";
  } else {
    return failed(file, 3, "line 3 names no acceleration, velocity or displacement");
  }
  long long npts = 0;
  if (!read_count_and_interval(lines[3], npts, trace.dt)) {
    return failed(file, 4, "line 4 gives no NPTS and DT");
  }
  if (npts <= 0 || npts > 100000000) return failed(file, 4, "NPTS " + std::to_string(npts) + " is not a sample count");
  if (!(trace.dt > 0) || trace.dt > 10) return failed(file, 4, "DT " + shortest(trace.dt) + " is not a sampling interval");

  // Line 2: event, date, station, component; the component is the last field.
  std::vector<std::string_view> fields;
  std::string_view about = lines[1];
  for (std::size_t at = 0; at <= about.size();) {
    std::size_t comma = std::min(about.find(',', at), about.size());
    fields.push_back(trim(about.substr(at, comma - at)));
    at = comma + 1;
  }
  if (fields.size() >= 4) {
    trace.event = std::string(fields[0]);
    trace.station = std::string(fields[fields.size() - 2]);
  }
  std::string code = upper(fields.back());
  long long azimuth = 0;
  if (read_integer(code, azimuth) && azimuth >= 0 && azimuth <= 360) {
    trace.azimuth = static_cast<double>(azimuth % 360);
    std::string digits = std::to_string(azimuth % 360);
    trace.component = std::string(3 - std::min<std::size_t>(3, digits.size()), '0') + digits;
  } else {
    trace.vertical = code == "UP" || code == "DOWN" || code == "DWN" || code == "V" || code == "VER" || code == "VRT";
    trace.component = code.empty() ? "X" : code;
  }
  Failure failure;
  if (!read_fixed_block(lines, 4, static_cast<std::size_t>(npts), 5, 15, file, trace.samples, trace.warnings,
                        failure)) {
    Outcome out;
    out.failed = true;
    out.failure = failure;
    return out;
  }
  Outcome out;
  out.traces.push_back(std::move(trace));
  return out;
}

}  // namespace wavproc::import
