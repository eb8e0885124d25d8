// wavproc-import: writes wavproc records from the files that data centres publish and from plain
// columns. Reads the command line, reads every file through the format table, groups the traces
// into records, lines their components up and writes each record whole.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/check.h"
#include "import/import.h"
#include "import/readers.h"
#include "import/record.h"
#include "import/segments.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

constexpr std::size_t kMostSamples = 32768;
constexpr std::size_t kNameMax = 20;

constexpr const char* kUsage =
    "Usage: wavproc-import [OPTION]... -o RECORD FILE [FILE]\n"
    "       wavproc-import [OPTION]... -d FOLDER FILE...\n"
    "       wavproc-import --check RECORD...\n"
    "Writes wavproc records (a header line of three names, rows of time and two components) from\n"
    "strong-motion data files and plain columns; the format is recognised from the content.\n"
    "\n"
    "  -o RECORD          write one record from the components of the FILEs\n"
    "  -d FOLDER          write one record per group of FILEs into FOLDER (files whose names differ\n"
    "                     only in the component code form one group)\n"
    "  --format NAME      read every FILE as format NAME (see --formats)\n"
    "  --formats          list the formats and end\n"
    "  --components A,B   the two components, by component code, column name, channel number or\n"
    "                     azimuth (default: the two horizontal components of acceleration)\n"
    "  --single           a record of one component; the second is zeros, named so\n"
    "  --keep-unit        keep the file's own unit (default: acceleration in gal, velocity in cm/s,\n"
    "                     displacement in cm)\n"
    "  --remove-mean      subtract the mean of counts (K-NET, KiK-net) before scaling them\n"
    "  --start SECONDS    the record begins this long after the first sample\n"
    "  --duration SECONDS the record lasts this long\n"
    "  --dt SECONDS       the sampling interval of plain columns without a time column\n"
    "  --check RECORD...  say what wavproc will make of each RECORD, and warn of likely mistakes\n"
    "  -h, --help, --version\n"
    "\n"
    "One summary line per record on standard output. Exit status 0 when every record was written,\n"
    "1 when an input was refused (the other records are still written), 2 for a wrong call.\n";

struct Call {
  std::string out_file, out_dir, format;
  std::vector<std::string> selectors;
  bool single = false, keep_unit = false, remove_mean = false, check = false;
  std::optional<double> start, duration, dt;
  std::vector<std::string> files;
  std::optional<std::int64_t> start_utc, end_utc;  // --start and --duration given as UTC times
  bool longest_segment = false;
  std::optional<double> sensitivity;  // counts per unit of sensitivity_unit
  std::string sensitivity_unit;
};

// The window the call asks for, as the segment choice takes it.
Window window_of(const Call& call) { return {call.start, call.duration, call.start_utc, call.end_utc, call.longest_segment}; }

// A wrong call: the reason on standard error, and status 2.
int wrong_call(const std::string& reason) {
  std::fprintf(stderr, "wavproc-import: %s\nTry 'wavproc-import --help'.\n", reason.c_str());
  return 2;
}

// The file's bytes, or the reason they cannot be read.
bool read_whole(const std::string& path, std::string& bytes, std::string& reason) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    reason = std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    reason = "is a folder";
    return false;
  }
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      reason = std::strerror(errno);
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    bytes.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return true;
}

// The file name without its folders.
std::string base_name(const std::string& path) {
  std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// What a file gave: its path, its traces or its failure.
struct Input {
  std::string path;
  Outcome outcome;
  std::string part;  // the instrument this input takes from a file of several ("IU.COLA.00.LH")
};

// The instrument a trace comes from: network, station, location, and the band and instrument
// letters of a SEED channel code (HN of HNE); the code's last letter tells the component.
std::string instrument_of(const Trace& t) {
  std::string key = t.network + "." + t.station + "." + t.location;
  const std::string& c = t.component;
  bool seed = c.size() == 3 && std::isalpha(static_cast<unsigned char>(c[0])) &&
              std::isalpha(static_cast<unsigned char>(c[1]));
  return seed ? key + "." + c.substr(0, 2) : key;
}

// Whether an outcome holds one component only (a channel with gaps comes in several traces).
bool one_component(const Outcome& o) {
  return std::all_of(o.traces.begin(), o.traces.end(), [&](const Trace& t) {
    const Trace& f = o.traces.front();
    return t.component == f.component && t.station == f.station && t.location == f.location;
  });
}

// The inputs a file gives: one, or one per instrument where it holds several (a miniSEED file of
// several stations or instruments).
void add_input(std::vector<Input>& inputs, const std::string& path, Outcome outcome) {
  std::vector<std::string> parts;
  for (const Trace& t : outcome.traces)
    if (std::find(parts.begin(), parts.end(), instrument_of(t)) == parts.end()) parts.push_back(instrument_of(t));
  if (outcome.failed || parts.size() < 2) {
    inputs.push_back({path, std::move(outcome), ""});
    return;
  }
  for (const std::string& part : parts) {
    Input in;
    in.path = path;
    in.part = part;
    for (Trace& t : outcome.traces)
      if (instrument_of(t) == part) in.outcome.traces.push_back(t);
    inputs.push_back(std::move(in));
  }
}

// Reads one file through the format table (or the forced format).
Outcome read_input(const std::string& path, const Call& call) {
  std::string bytes, reason;
  if (!read_whole(path, bytes, reason)) return failed(path, 0, "cannot be read: " + reason);
  // A UTF-8 byte-order mark, as spreadsheets write it, is no part of the first name.
  if (bytes.starts_with("\xEF\xBB\xBF")) bytes.erase(0, 3);
  const FormatEntry* entry = nullptr;
  for (const auto& f : formats()) {
    if (call.format.empty() ? f.recognise(bytes) : f.name == call.format) {
      entry = &f;
      break;
    }
  }
  if (entry == nullptr) return failed(path, 0, "not a format wavproc-import knows (see --formats)");
  Outcome out = entry->read == read_columns && call.dt ? read_columns_untimed(bytes, path) : entry->read(bytes, path);
  if (out.failed) return out;
  if (out.traces.empty()) return failed(path, 0, "the file holds no component");
  for (auto& t : out.traces) {
    if (t.dt == 0 && call.dt) t.dt = *call.dt;
    if (t.dt == 0) return failed(path, 0, "no time column: give the sampling interval with --dt");
    if (!(t.dt >= 1e-9 && t.dt <= 1e6)) return failed(path, 0, "the interval " + shortest(t.dt) + " s is not a sampling interval");
    if (t.samples.empty()) return failed(path, 0, "component " + t.component + " holds no samples");
  }
  return out;
}

// The key that files of one instrument share: the name with the component code taken out, and the
// station and location; a file of several components is a group of its own.
std::string group_key(const Input& in) {
  const Trace& t = in.outcome.traces.front();
  if (!in.part.empty()) return in.path + '\n' + in.part;
  if (!one_component(in.outcome)) return in.path;
  std::string name = in.path;
  std::size_t at = upper(name).rfind(upper(t.component));
  std::size_t slash = name.rfind('/');
  if (!t.component.empty() && at != std::string::npos && (slash == std::string::npos || at > slash)) {
    name.erase(at, t.component.size());
  }
  return name + '\n' + t.station + '\n' + t.location;
}

// The record's file name for a group: the group's file name without the component code and the
// extension, or with what the extension keeps beside the code (KiK-net's 1 and 2).
std::string record_name(const Input& in) {
  const Trace& t = in.outcome.traces.front();
  std::string name = base_name(in.path);
  std::size_t dot = name.rfind('.');
  std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
  std::string ext = dot == std::string::npos || dot == 0 ? "" : name.substr(dot + 1);
  if (one_component(in.outcome) && !t.component.empty()) {
    std::string code = upper(t.component);
    std::size_t in_ext = upper(ext).find(code);
    std::size_t in_stem = upper(stem).rfind(code);
    if (in_ext != std::string::npos) {
      ext.erase(in_ext, code.size());
      // KiK-net's channel digit stays: the borehole and surface records need their own names.
      if (!t.location.empty() && ext.find(t.location) == std::string::npos) ext += t.location;
      stem += ext.empty() ? "" : "-" + ext;
    } else if (in_stem != std::string::npos && in_stem > 0) {
      stem.erase(in_stem, code.size());
    }
  }
  while (!stem.empty() && (stem.back() == '_' || stem.back() == '-' || stem.back() == '.')) stem.pop_back();
  if (!in.part.empty()) stem += "_" + in.part;
  for (char& c : stem) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
          c == '.')) {
      c = '_';
    }
  }
  if (stem.empty()) stem = "record";
  return stem + ".txt";
}

// The factor from a unit to the record's unit, and that unit; the unit itself with factor 1 where it
// is already the record's or is kept.
struct Conversion {
  std::string unit;
  double multiply = 1.0, divide = 1.0;
};

// The conversion of values in unit to the record's unit (none with keep).
Conversion conversion_of(const std::string& unit, bool keep) {
  std::string u = upper(unit);
  if (keep || u.empty()) return {unit, 1, 1};
  if (u == "G") return {"gal", 980.665, 1};
  if (u == "GAL" || u == "CM/S2" || u == "CM/S/S" || u == "CM/S^2" || u == "CM/S**2" || u == "CM/SEC2" ||
      u == "CM/SEC/SEC") {
    return {"gal", 1, 1};
  }
  if (u == "MM/S2" || u == "MM/S/S" || u == "MM/S^2" || u == "MM/S**2") return {"gal", 1, 10};
  if (u == "M/S2" || u == "M/S/S" || u == "M/S^2" || u == "M/S**2") return {"gal", 100, 1};
  if (u == "NM/S2") return {"gal", 1, 1e7};  // SAC's idep units
  if (u == "CM/S" || u == "CM/SEC") return {"cm/s", 1, 1};
  if (u == "MM/S" || u == "MM/SEC") return {"cm/s", 1, 10};
  if (u == "M/S" || u == "M/SEC") return {"cm/s", 100, 1};
  if (u == "NM/S") return {"cm/s", 1, 1e7};
  if (u == "CM") return {"cm", 1, 1};
  if (u == "MM") return {"cm", 1, 10};
  if (u == "M") return {"cm", 100, 1};
  if (u == "NM") return {"cm", 1, 1e7};
  return {unit, 1, 1};
}

// The record's name of a component: code and unit, at most 20 characters, no blanks or commas.
std::string component_name(const std::string& code, const std::string& unit) {
  std::string c = code;
  for (char& ch : c) {
    if (ch == ' ' || ch == ',' || ch == '\t' || ch == '\'' || ch == '"') ch = '_';
  }
  if (unit.empty()) return c.substr(0, kNameMax);
  std::string u = "(" + unit + ")";
  for (char& ch : u) {
    if (ch == ' ' || ch == ',' || ch == '\'' || ch == '"') ch = '_';
  }
  if (u.size() >= kNameMax) u = "";
  return c.substr(0, kNameMax - u.size()) + u;
}

// Whether trace t answers to selector s: its component code or column name, its channel number, or
// its azimuth in degrees.
bool answers_to(const Trace& t, const std::string& s) {
  if (upper(t.component) == upper(s)) return true;
  long long n = 0;
  if (read_integer(s, n)) {
    if (t.channel != 0 && t.channel == n) return true;
    if (!std::isnan(t.azimuth) && std::fabs(t.azimuth - static_cast<double>(n)) < 1e-9) return true;
  }
  return false;
}

// The record one group gives, or the failure that refuses it.
struct Made {
  std::string text;
  std::string summary;
  std::vector<std::string> notes;  // what was cut, said on standard error
  Failure failure;
  bool failed = false;
};

// A record refused for reason, naming file and line.
Made refuse(const std::string& file, long line, std::string reason) {
  Made m;
  m.failed = true;
  m.failure = {file, line, std::move(reason)};
  return m;
}

// A value to six significant digits, for the summary's means.
std::string brief(double value) {
  char buf[32];
  auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 6);
  return std::string(buf, r.ptr);
}

// The list of a group's components for an error message: "NS EW UD".
std::string listed(const std::vector<const Trace*>& traces) {
  std::string out;
  for (const Trace* t : traces) out += (out.empty() ? "" : " ") + t->component;
  return out;
}

// The record of one group: its components chosen, checked, lined up, windowed and converted, its
// text and its summary; or why it is refused.
Made make_record(const std::vector<const Input*>& group, const Call& call, const std::string& record_path) {
  std::vector<const Trace*> all;
  for (const Input* in : group) {
    for (const auto& t : in->outcome.traces) all.push_back(&t);
  }
  const std::string& first_file = group.front()->path;
  const std::vector<const Trace*> segments = all;  // every gap-free segment, before one is chosen per channel
  if (std::string gap = settle_segments(all, window_of(call)); !gap.empty()) return refuse(first_file, 0, gap);
  std::vector<const Trace*> chosen;
  if (!call.selectors.empty()) {
    for (const auto& s : call.selectors) {
      const Trace* hit = nullptr;
      for (const Trace* t : all) {
        if (answers_to(*t, s) && std::find(chosen.begin(), chosen.end(), t) == chosen.end()) {
          hit = t;
          break;
        }
      }
      if (hit == nullptr) return refuse(first_file, 0, "no component " + s + " (there are: " + listed(all) + ")");
      chosen.push_back(hit);
    }
  } else {
    std::vector<const Trace*> horizontal;
    for (const Trace* t : all) {
      if (!t->vertical && t->quantity == Quantity::acceleration) horizontal.push_back(t);
    }
    if (horizontal.empty()) {
      for (const Trace* t : all) {
        if (!t->vertical) horizontal.push_back(t);
      }
    }
    if (horizontal.size() > 2 && !call.single) {
      return refuse(first_file, 0,
                    std::to_string(horizontal.size()) + " horizontal components (" + listed(horizontal) +
                        "): choose two with --components");
    }
    if (horizontal.size() == 2 && !std::isnan(horizontal[0]->azimuth) && !std::isnan(horizontal[1]->azimuth) &&
        horizontal[1]->azimuth < horizontal[0]->azimuth) {
      std::swap(horizontal[0], horizontal[1]);
    }
    chosen = horizontal;
    if (call.single && chosen.size() > 1) chosen.erase(chosen.begin() + 1, chosen.end());
  }
  if (chosen.empty()) {
    return refuse(first_file, 0, "no horizontal component (there are: " + listed(all) + "): choose with --components");
  }
  if (chosen.size() == 1 && !call.single) {
    return refuse(first_file, 0,
                  "one component only (" + chosen[0]->component + "): --single makes a record of it with zeros beside it");
  }
  if (chosen.size() > 2) return refuse(first_file, 0, "more than two components chosen");
  if (chosen.size() == 2 && call.single) return refuse(first_file, 0, "--single takes one component");
  if (chosen.size() == 2 && chosen[0]->dt != chosen[1]->dt) {
    return refuse(first_file, 0,
                  "the sampling intervals differ: " + chosen[0]->file + " " + chosen[0]->component + " " +
                      shortest(chosen[0]->dt) + " s, " + chosen[1]->file + " " + chosen[1]->component + " " +
                      shortest(chosen[1]->dt) + " s");
  }
  const double dt = chosen[0]->dt;

  // Line-up: the components' first samples at the latest start, their ends at the earliest end.
  Made made;
  std::vector<std::size_t> from(chosen.size(), 0), to(chosen.size());
  for (std::size_t i = 0; i < chosen.size(); ++i) to[i] = chosen[i]->samples.size();
  bool timed = std::all_of(chosen.begin(), chosen.end(), [&](const Trace* t) {
    return t->start.known && t->start.relative == chosen[0]->start.relative;
  });
  std::int64_t latest = 0;
  if (timed) {
    for (const Trace* t : chosen) latest = std::max(latest, t->start.ns);
    for (std::size_t i = 0; i < chosen.size(); ++i) {
      double late = static_cast<double>(latest - chosen[i]->start.ns) * 1e-9;
      double steps = std::round(late / dt);
      if (std::fabs(steps * dt - late) > dt * 1e-3) {
        return refuse(chosen[i]->file, 0,
                      "the components start " + shortest(late) + " s apart, not a whole number of intervals");
      }
      // A start past the trace's end leaves no common span.
      from[i] = steps >= static_cast<double>(to[i]) ? to[i] : static_cast<std::size_t>(steps);
    }
  }
  std::size_t length = SIZE_MAX;
  for (std::size_t i = 0; i < chosen.size(); ++i) length = std::min(length, to[i] > from[i] ? to[i] - from[i] : 0);
  if (length == 0) return refuse(first_file, 0, "the components have no time in common");
  std::string cut;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    std::size_t tail = to[i] - from[i] - length;
    to[i] = from[i] + length;
    if (from[i] == 0 && tail == 0) continue;
    std::string what = chosen[i]->component + " " + std::to_string(from[i]) + " at the start and " +
                       std::to_string(tail) + " at the end";
    made.notes.push_back(record_path + ": cut from " + chosen[i]->file + " " + what + " to the common span");
    cut += (cut.empty() ? "" : ", ") + what;
  }

  // The window chosen by --start and --duration, in seconds from the first sample.
  std::size_t skip = 0, count = length;
  // The window counts from the first sample of the chosen channels, their gaps included.
  std::vector<const Trace*> streams;
  for (const Trace* s : segments) {
    for (const Trace* c : chosen)
      if (s->component == c->component && s->station == c->station && s->location == c->location) streams.push_back(s);
  }
  std::optional<std::int64_t> window_from = window_start_ns(window_of(call), first_sample_ns(streams));
  std::optional<std::int64_t> window_to = window_end_ns(window_of(call), first_sample_ns(streams));
  // Times of day exist only where the files state a date; plain columns' times are relative.
  bool dated = timed && !chosen[0]->start.relative;
  if ((call.start_utc || call.end_utc) && !dated) {
    return refuse(first_file, 0, "a window in UTC needs components that state their start time");
  }
  double first_step = 0;  // the window's first sample, counted from the record's first
  if (dated && (call.start || call.start_utc)) {
    // A window in UTC, or one after a gap, is counted from its time; without gaps this is the
    // same as counting from the first sample.
    double late = static_cast<double>(*window_from - latest) * 1e-9;
    first_step = late <= 0 ? 0 : std::ceil(late / dt - 1e-9);
    if (first_step >= static_cast<double>(length) && call.start_utc) {
      return refuse(first_file, 0,
                    "the window begins after the record's end: the record spans " +
                        span_text(chosen[0]->start, latest, length, dt));
    }
  } else if (call.start) {
    first_step = std::ceil(*call.start / dt - 1e-9);
  }
  if (first_step >= static_cast<double>(length)) {
    return refuse(first_file, 0,
                  "--start " + shortest(*call.start) + " s is past the end (" + shortest(static_cast<double>(length) * dt) +
                      " s)");
  }
  skip = static_cast<std::size_t>(std::max(first_step, 0.0));
  count = length - skip;
  if (call.duration) {
    double most = std::floor(*call.duration / dt + 1e-9);
    if (most < static_cast<double>(count)) count = static_cast<std::size_t>(most);
  }
  if (dated && window_to) {
    double at = static_cast<double>(latest) + static_cast<double>(skip) * dt * 1e9;
    double most = std::ceil((static_cast<double>(*window_to) - at) * 1e-9 / dt - 1e-9);
    if (most < static_cast<double>(count)) count = most <= 0 ? 0 : static_cast<std::size_t>(most);
  }
  if (count < 2) return refuse(first_file, 0, "the window holds fewer than two samples");
  if (count > kMostSamples) {
    return refuse(first_file, 0,
                    "the record has " + std::to_string(count) + " samples and wavproc takes at most 32768: choose a window with --start and --duration (seconds from the first sample)" +
                      (dated ? "; it spans " + span_text(chosen[0]->start, latest + std::llround(static_cast<double>(skip) * dt * 1e9), count, dt) +
                                   ", and the window may be given in UTC"
                             : ""));
  }

  // Values in the record's unit: counts scaled in double arithmetic, the mean of counts said and
  // taken off only on request.
  std::vector<std::vector<double>> values;
  std::vector<std::string> names;
  std::string units, means;
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    const Trace& t = *chosen[i];
    // A sensitivity turns counts into its unit; its division comes before the unit's conversion.
    bool sensed = call.sensitivity && t.unit == "counts";
    double per = sensed ? *call.sensitivity : 1.0;
    Conversion conv = conversion_of(sensed ? call.sensitivity_unit : t.unit, call.keep_unit);
    double mean = 0;
    if (t.counts) {
      double sum = 0;
      for (std::size_t k = from[i]; k < to[i]; ++k) sum += t.samples[k];
      mean = sum / static_cast<double>(to[i] - from[i]);
      means += (means.empty() ? "" : ", ") + t.component + " " + brief(mean) + " counts";
      if (conv.unit != "counts") means += " (" + brief(mean * t.scale / per * conv.multiply / conv.divide) + " " + conv.unit + ")";
    }
    double offset = call.remove_mean ? mean : 0.0;
    std::vector<double> v;
    v.reserve(count);
    for (std::size_t k = from[i] + skip; k < from[i] + skip + count; ++k) {
      double x = t.counts ? (t.samples[k] - offset) * t.scale / per : t.samples[k];
      v.push_back(x * conv.multiply / conv.divide);
    }
    values.push_back(std::move(v));
    names.push_back(component_name(t.component, conv.unit));
    std::string how = t.counts ? "counts" + (t.scale == 1 && t.scale_text.empty()
                                                 ? std::string()
                                                 : " x " + (t.scale_text.empty() ? shortest(t.scale) : t.scale_text))
                               : t.unit.empty() ? "unit not stated" : t.unit;
    if (sensed) how += " / " + shortest(per) + " (sensitivity, counts per " + call.sensitivity_unit + ")";
    if (conv.multiply != 1) how += " x " + shortest(conv.multiply);
    if (conv.divide != 1) how += " / " + shortest(conv.divide);
    if (conv.unit != t.unit || (t.counts && conv.unit != "counts")) how += " -> " + conv.unit;
    if (units.find(how) == std::string::npos) units += (units.empty() ? "" : "; ") + how;
  }
  if (call.single) {
    values.emplace_back(count, 0.0);
    names.emplace_back("zeros");
  }
  made.text = record_text(dt, names[0], names[1], values[0], values[1]);

  // The summary line.
  const Trace& lead = *chosen[0];
  std::string files;
  for (const Trace* t : chosen) {
    if (files.find(t->file) == std::string::npos) files += (files.empty() ? "" : " ") + t->file;
  }
  std::string s = record_path + ": " + files + " (" + lead.format + ")";
  if (!lead.station.empty()) s += ", station " + lead.station;
  s += ", components " + names[0] + " " + names[1];
  if (timed && lead.start.relative) {
    std::int64_t first = latest + static_cast<std::int64_t>(std::llround(static_cast<double>(skip) * dt * 1e9));
    s += ", start at " + shortest(static_cast<double>(first) * 1e-9) + " s of the time column";
  } else if (timed) {
    std::int64_t first = latest + static_cast<std::int64_t>(std::llround(static_cast<double>(skip) * dt * 1e9));
    s += ", start " + civil_text(first + std::int64_t{lead.start.zone_minutes} * 60'000'000'000) + " " +
         (lead.start.zone.empty() ? "UTC" : lead.start.zone);
  } else {
    s += ", start not stated";
  }
  s += ", dt " + shortest(dt) + " s, " + std::to_string(count) + " samples, " + units;
  if (!means.empty()) s += call.remove_mean ? ", mean removed: " + means : ", mean " + means + " (kept)";
  if (!cut.empty()) s += ", cut " + cut;
  if (call.start || call.duration) {
    s += ", window from " + shortest(static_cast<double>(skip) * dt) + " s for " +
         shortest(static_cast<double>(count) * dt) + " s";
  }
  made.summary = s;
  return made;
}

// Says a failure on standard error.
void say(const Failure& f) {
  if (f.line > 0) {
    std::fprintf(stderr, "wavproc-import: %s: line %ld: %s\n", f.file.c_str(), f.line, f.reason.c_str());
  } else {
    std::fprintf(stderr, "wavproc-import: %s: %s\n", f.file.c_str(), f.reason.c_str());
  }
}

// The input file that path names (the same file, by any name), or null: a record never replaces
// the data it is made from.
const std::string* input_named(const std::string& path, const std::vector<Input>& inputs) {
  struct stat target {};
  if (::stat(path.c_str(), &target) != 0) return nullptr;
  for (const auto& in : inputs) {
    struct stat source {};
    if (::stat(in.path.c_str(), &source) == 0 && source.st_dev == target.st_dev && source.st_ino == target.st_ino) {
      return &in.path;
    }
  }
  return nullptr;
}

// Reads every file, groups them, and writes each group's record; the exit status.
int run(const Call& call) {
  std::vector<Input> inputs;
  int status = 0;
  for (const auto& path : call.files) {
    add_input(inputs, path, read_input(path, call));
    const Outcome& o = inputs.back().outcome;
    if (o.failed) {
      say(o.failure);
      status = 1;
    } else {
      for (const auto& t : o.traces) {
        for (const auto& w : t.warnings) std::fprintf(stderr, "wavproc-import: warning: %s\n", w.c_str());
      }
    }
  }
  // Groups, in the order of their first file; a failed file refuses its whole group.
  std::vector<std::string> keys;
  std::map<std::string, std::vector<const Input*>> groups;
  std::map<std::string, bool> refused;
  for (const auto& in : inputs) {
    std::string key = call.out_file.empty() ? (in.outcome.failed ? in.path : group_key(in)) : std::string();
    if (!groups.count(key)) keys.push_back(key);
    groups[key].push_back(&in);
    if (in.outcome.failed) refused[key] = true;
  }
  std::map<std::string, std::string> paths;
  if (!call.out_file.empty()) {
    paths[""] = call.out_file;
  } else {
    std::map<std::string, std::string> owner;
    for (const auto& key : keys) {
      if (refused[key]) continue;
      std::string path = call.out_dir + "/" + record_name(*groups[key].front());
      if (owner.count(path)) {
        std::fprintf(stderr,
                     "wavproc-import: %s and %s would both be written to %s: nothing written; import them apart "
                     "with -o\n",
                     groups[owner[path]].front()->path.c_str(), groups[key].front()->path.c_str(), path.c_str());
        return 1;
      }
      owner[path] = key;
      paths[key] = path;
    }
  }
  for (const auto& key : keys) {
    if (refused[key]) {
      if (groups[key].size() > 1) {
        std::fprintf(stderr, "wavproc-import: %s: not written, as a file of it was refused\n",
                     paths.count(key) ? paths[key].c_str() : groups[key].front()->path.c_str());
      }
      continue;
    }
    Made made = make_record(groups[key], call, paths[key]);
    if (made.failed) {
      say(made.failure);
      status = 1;
      continue;
    }
    if (const std::string* source = input_named(paths[key], inputs)) {
      std::fprintf(stderr, "wavproc-import: %s: is the input file %s: not replaced\n", paths[key].c_str(),
                   source->c_str());
      status = 1;
      continue;
    }
    for (const auto& n : made.notes) std::fprintf(stderr, "wavproc-import: %s\n", n.c_str());
    std::string error = replace_file(paths[key], made.text);
    if (!error.empty()) {
      std::fprintf(stderr, "wavproc-import: %s\n", error.c_str());
      status = 1;
      continue;
    }
    std::printf("%s\n", made.summary.c_str());
  }
  return status;
}

// Reads a number of seconds for option name; false when text is not one.
bool seconds(const std::string& name, std::string_view text, std::optional<double>& out, std::string& error) {
  double v = 0;
  if (!read_decimal(text, v) || v < 0) {
    error = name + " takes a number of seconds, not " + quoted(text);
    return false;
  }
  out = v;
  return true;
}

}  // namespace

}  // namespace wavproc::import

int main(int argc, char** argv) {
  using namespace wavproc::import;
  Call call;
  bool formats_asked = false;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool inline_value = false;
    if (arg.starts_with("--") && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      inline_value = true;
    }
    auto take = [&](std::string& into) {
      if (inline_value) {
        into = value;
        return true;
      }
      if (i + 1 >= argc) return false;
      into = argv[++i];
      return true;
    };
    std::string error;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::fputs("wavproc-import " WAVPROC_VERSION "\n", stdout);
      return 0;
    }
    if (arg == "--formats") {
      formats_asked = true;
    } else if (arg == "-o" || arg == "-d" || arg == "--format" || arg == "--components" || arg == "--channels" ||
               arg == "--start" || arg == "--duration" || arg == "--dt" || arg == "--sensitivity") {
      std::string v;
      if (!take(v)) return wrong_call(arg + " needs a value");
      if (arg == "-o") call.out_file = v;
      if (arg == "-d") call.out_dir = v;
      if (arg == "--format") call.format = v;
      if (arg == "--components" || arg == "--channels") {
        call.selectors.clear();
        for (std::size_t at = 0; at <= v.size();) {
          std::size_t comma = std::min(v.find(',', at), v.size());
          if (comma > at) call.selectors.push_back(v.substr(at, comma - at));
          at = comma + 1;
        }
      }
      std::int64_t utc = 0;
      bool is_time = (arg == "--start" || arg == "--duration") && read_utc(v, utc);
      if (arg == "--start" && is_time) call.start_utc = utc;
      if (arg == "--duration" && is_time) call.end_utc = utc;
      if (arg == "--start" && !is_time && !seconds(arg, v, call.start, error)) return wrong_call(error);
      if (arg == "--duration" && !is_time && !seconds(arg, v, call.duration, error)) return wrong_call(error);
      if (arg == "--sensitivity") {
        std::size_t colon = v.find(':');
        double n = 0;
        if (colon == std::string::npos || !read_decimal(v.substr(0, colon), n) || !(n > 0) || colon + 1 == v.size()) {
          return wrong_call("--sensitivity takes counts per unit and the unit, as 419430:cm/s2, not " + quoted(v));
        }
        call.sensitivity = n;
        call.sensitivity_unit = v.substr(colon + 1);
      }
      if (arg == "--dt" && (!seconds(arg, v, call.dt, error) || !(*call.dt > 0))) {
        return wrong_call(error.empty() ? "--dt takes a sampling interval above 0" : error);
      }
    } else if (arg == "--longest-segment") {
      call.longest_segment = true;
    } else if (arg == "--single") {
      call.single = true;
    } else if (arg == "--keep-unit") {
      call.keep_unit = true;
    } else if (arg == "--remove-mean") {
      call.remove_mean = true;
    } else if (arg == "--check") {
      call.check = true;
    } else if (arg == "--") {
      for (++i; i < argc; ++i) call.files.emplace_back(argv[i]);
    } else if (arg.size() > 1 && arg[0] == '-') {
      return wrong_call("unknown option " + arg);
    } else {
      call.files.push_back(arg);
    }
  }
  if (formats_asked) {
    for (const auto& f : formats()) std::printf("%.*s\n", static_cast<int>(f.name.size()), f.name.data());
    return 0;
  }
  if (!call.format.empty()) {
    bool known = false;
    for (const auto& f : formats()) known = known || f.name == call.format;
    if (!known) return wrong_call("unknown format " + call.format + " (see --formats)");
  }
  if (call.check) {
    if (call.files.empty()) return wrong_call("--check needs a record");
    if (!call.out_file.empty() || !call.out_dir.empty()) return wrong_call("--check writes nothing: no -o or -d");
    return check_records(call.files);
  }
  if (call.out_file.empty() == call.out_dir.empty()) return wrong_call("give either -o RECORD or -d FOLDER");
  if (call.files.empty()) return wrong_call("no file to import");
  if (!call.out_file.empty() && call.files.size() > 2) {
    return wrong_call("-o takes one or two files; -d FOLDER writes one record per group");
  }
  if (call.selectors.size() > (call.single ? 1u : 2u)) return wrong_call("--components takes two components (one with --single)");
  while (call.out_dir.size() > 1 && call.out_dir.back() == '/') call.out_dir.pop_back();
  if (!call.out_dir.empty()) {
    struct stat st {};
    if (::stat(call.out_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return wrong_call(call.out_dir + " is not a folder");
    }
  }
  return run(call);
}
