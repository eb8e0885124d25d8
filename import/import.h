// wavproc-import's contract: each reader turns one file's bytes into traces (samples, interval,
// start, station, component, unit) or says why it cannot; the grouping pairs traces into records
// and the record writer lays a record down as wavproc reads it. Nothing here processes the data.
#pragma once

#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace wavproc::import {

// What a trace's samples measure.
enum class Quantity { acceleration, velocity, displacement, counts, unknown };

// The first sample's time, where the file states one. Times of different files compare through
// ns; zone and zone_minutes keep the file's own statement for the summary (K-NET gives Japan
// time, the Taiwan files UTC+8).
struct StartTime {
  bool known = false;
  std::int64_t ns = 0;   // nanoseconds since 1970-01-01T00:00:00 UTC
  int zone_minutes = 0;  // the offset from UTC of the zone the file gives the time in
  std::string zone;      // that zone as the summary names it ("JST", "UTC+8"); empty for UTC
  // ns counts from the zero of the file's own time axis (a time column), not from the epoch: such
  // starts line up only with each other.
  bool relative = false;
};

// One component of one instrument, as one file gives it.
struct Trace {
  std::string file;    // the path the trace was read from
  std::string format;  // the format's name as the summary prints it ("K-NET ASCII", "PEER AT2")
  std::string network, station, location, event;
  std::string component;  // the code the file gives ("NS", "EW2", "HNE", "090", "UP")
  double azimuth = std::nan("");  // degrees clockwise from north, where the file gives one
  bool vertical = false;
  Quantity quantity = Quantity::unknown;
  // The samples' unit as the record names it ("gal", "g", "mm/s2", "cm/s", "cm", "counts"), and
  // the factor the file states for turning its numbers into that unit (K-NET's scale factor; 1
  // where the numbers are already in the unit).
  std::string unit;
  double scale = 1.0;
  std::string scale_text;  // the factor as the file writes it ("3920/6182761"), where it gives one
  bool counts = false;     // the numbers are a digitiser's counts (scale turns them into unit)
  int channel = 0;         // the file's channel number, where it numbers its channels
  // The sampling interval in seconds: the shortest decimal that reads back as the source's value.
  double dt = 0.0;
  StartTime start;
  std::vector<double> samples;  // the file's numbers, before scale
  std::vector<std::string> warnings;  // said on standard error, naming the file
};

// Why a file cannot be read: the file, the line where it went wrong (0 where no line applies)
// and the reason in words.
struct Failure {
  std::string file;
  long line = 0;
  std::string reason;
};

// What a reader made of one file: its traces, or the failure (traces then empty).
struct Outcome {
  std::vector<Trace> traces;
  bool failed = false;
  Failure failure;
};

// A reader: the traces of the file named file whose whole content is bytes.
using Reader = Outcome (*)(std::string_view bytes, const std::string& file);

// One format the importer knows: its name (as --format takes it), how its content is recognised
// (from the bytes alone, never from the file name), and its reader.
struct FormatEntry {
  std::string_view name;
  bool (*recognise)(std::string_view bytes);
  Reader read;
};

// Every format, in the order in which recognition tries them.
std::span<const FormatEntry> formats();

}  // namespace wavproc::import
