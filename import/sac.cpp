// The SAC reader: one trace from a SAC file, binary in either byte order or the alphanumeric
// text form. The header's 70 floats, 40 integers and 192 bytes of text are gathered the same way
// from both forms, then one function turns them into a trace.
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "import/import.h"
#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

constexpr std::size_t kHeaderBytes = 632;
constexpr std::size_t kTextBytes = 192;
constexpr std::size_t kVersion7Footer = 22 * 8;  // the doubles a version 7 file appends to its data
constexpr int kUnset = -12345;

// Indices (0-based) of the header words this reader uses.
enum FloatWord { kDelta = 0, kScale = 3, kB = 5 };
enum IntWord { kNzyear = 0, kNzjday, kNzhour, kNzmin, kNzsec, kNzmsec, kNvhdr, kNpts = 9, kIftype = 15, kIdep, kLeven = 35 };
// Byte offsets of the text slots in the text block.
enum TextSlot { kKstnm = 0, kKevnm = 8, kKhole = 24, kKcmpnm = 160, kKnetwk = 168 };

// A SAC header as both forms give it.
struct Header {
  std::array<float, 70> floats{};
  std::array<std::int32_t, 40> ints{};
  std::array<char, kTextBytes> text{};
};

// The 32-bit word at offset of bytes, read in the given byte order.
std::uint32_t word_at(std::string_view bytes, std::size_t offset, bool big_endian) {
  std::uint32_t w = 0;
  for (std::size_t k = 0; k < 4; ++k) {
    auto b = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[offset + (big_endian ? k : 3 - k)]));
    w = (w << 8) | b;
  }
  return w;
}

std::int32_t int_at(std::string_view bytes, std::size_t offset, bool big_endian) {
  return std::bit_cast<std::int32_t>(word_at(bytes, offset, big_endian));
}

float float_at(std::string_view bytes, std::size_t offset, bool big_endian) {
  return std::bit_cast<float>(word_at(bytes, offset, big_endian));
}

// Whether the binary header reads as SAC in the given order: a header version SAC writes (6 or
// 7) and a sample count that is not negative.
bool binary_order_fits(std::string_view bytes, bool big_endian) {
  if (bytes.size() < kHeaderBytes) return false;
  std::int32_t version = int_at(bytes, 4 * (70 + kNvhdr), big_endian);
  std::int32_t npts = int_at(bytes, 4 * (70 + kNpts), big_endian);
  return (version == 6 || version == 7) && npts >= 0;
}

// The header lines of the text form: 14 lines of 5 floats, 8 of 5 integers, 8 of text.
constexpr std::size_t kFloatLines = 14, kIntLines = 8, kTextLines = 8;
constexpr std::size_t kHeaderLines = kFloatLines + kIntLines + kTextLines;

// Fills header from the text form's first 30 lines; the numbers are read as words, since
// writers trim the columns, and the text lines by column (24 characters each). False when a line
// does not hold its five numbers.
bool read_text_header(const std::vector<std::string_view>& lines, Header& header, long& bad_line) {
  if (lines.size() < kHeaderLines) {
    bad_line = static_cast<long>(lines.size());
    return false;
  }
  for (std::size_t k = 0; k < kFloatLines + kIntLines; ++k) {
    std::vector<std::string_view> ws = words(lines[k]);
    if (ws.size() != 5) {
      bad_line = static_cast<long>(k + 1);
      return false;
    }
    for (std::size_t j = 0; j < 5; ++j) {
      if (k < kFloatLines) {
        double v = 0;
        if (!read_decimal(ws[j], v)) {
          bad_line = static_cast<long>(k + 1);
          return false;
        }
        header.floats[5 * k + j] = static_cast<float>(v);
      } else {
        long long v = 0;
        if (!read_integer(ws[j], v) || v < INT32_MIN || v > INT32_MAX) {
          bad_line = static_cast<long>(k + 1);
          return false;
        }
        header.ints[5 * (k - kFloatLines) + j] = static_cast<std::int32_t>(v);
      }
    }
  }
  header.text.fill(' ');
  for (std::size_t k = 0; k < kTextLines; ++k) {
    std::string_view line = lines[kFloatLines + kIntLines + k];
    std::memcpy(header.text.data() + 24 * k, line.data(), std::min<std::size_t>(line.size(), 24));
  }
  return true;
}

// The text of the slot at offset, width characters: cut at a NUL (writers leave leftovers after
// it), trimmed, and empty where it holds the unset marker.
std::string slot_text(const Header& header, std::size_t offset, std::size_t width) {
  std::string_view slot(header.text.data() + offset, width);
  slot = slot.substr(0, slot.find('\0'));
  slot = trim(slot);
  if (slot == "-12345") return {};
  return std::string(slot);
}

bool unset(float value) { return value == static_cast<float>(kUnset); }

// The decimal a 32-bit header value stands for: the shortest one that reads back as the float
// (0.02, not 0.0199999995529651).
double float_decimal(float value) {
  char buf[32];
  auto end = std::to_chars(buf, buf + sizeof buf, value).ptr;
  double out = 0;
  read_decimal(std::string_view(buf, static_cast<std::size_t>(end - buf)), out);
  return out;
}

// The quantity and unit the dependent-variable code idep names; counts where it names none.
void set_quantity(std::int32_t idep, Trace& trace) {
  switch (idep) {
    case 6: trace.quantity = Quantity::displacement; trace.unit = "nm"; return;
    case 7: trace.quantity = Quantity::velocity; trace.unit = "nm/s"; return;
    case 8: trace.quantity = Quantity::acceleration; trace.unit = "nm/s2"; return;
    case 50: trace.quantity = Quantity::unknown; trace.unit = "volts"; return;
    default: trace.quantity = Quantity::counts; trace.unit = "counts"; trace.counts = true; return;
  }
}

// The start of the trace: the reference time (year, day of year, hour, minute, second,
// millisecond) plus b; unknown when any part is unset. A reference time that does not exist is
// said in a warning.
void set_start(const Header& h, Trace& trace) {
  for (int k = kNzyear; k <= kNzmsec; ++k)
    if (h.ints[static_cast<std::size_t>(k)] == kUnset) return;
  int year = h.ints[kNzyear], jday = h.ints[kNzjday], msec = h.ints[kNzmsec];
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  if (!valid_civil(year, 1, 1, h.ints[kNzhour], h.ints[kNzmin], h.ints[kNzsec]) || jday < 1 ||
      jday > (leap ? 366 : 365) || msec < 0 || msec > 999) {
    trace.warnings.push_back(trace.file + ": the reference time (nzyear " + std::to_string(year) + ", nzjday " +
                             std::to_string(jday) + ") is not a time; the start is left unknown");
    return;
  }
  double b = unset(h.floats[kB]) ? 0.0 : float_decimal(h.floats[kB]);
  if (!(std::fabs(b) < 1e9)) {
    trace.warnings.push_back(trace.file + ": the begin time b " + shortest(b) + " s is not plausible; the start is left unknown");
    return;
  }
  trace.start.known = true;
  trace.start.ns = civil_ns(year, 1, 1, h.ints[kNzhour], h.ints[kNzmin], h.ints[kNzsec], 0) +
                   std::int64_t{jday - 1} * 86400 * 1000000000 + std::int64_t{msec} * 1000000 +
                   std::llround(b * 1e9);
}

// The trace a header describes, without samples; failed where the header rules one out.
Outcome trace_of(const Header& h, const std::string& file, std::string format) {
  if (h.ints[kIftype] != 1)
    return failed(file, 0, "not a time series (iftype " + std::to_string(h.ints[kIftype]) + ", a time series is 1)");
  if (h.ints[kLeven] != 1) return failed(file, 0, "uneven sampling (leven is not true): resampling is processing");
  if (h.ints[kNpts] == kUnset || h.ints[kNpts] <= 0) return failed(file, 0, "no samples (npts " + std::to_string(h.ints[kNpts]) + ")");
  float delta = h.floats[kDelta];
  if (unset(delta) || !(delta > 0) || !std::isfinite(delta))
    return failed(file, 0, "the sampling interval delta is unset or not positive (" + shortest(delta) + ")");
  Outcome out;
  Trace& trace = out.traces.emplace_back();
  trace.file = file;
  trace.format = std::move(format);
  trace.station = slot_text(h, kKstnm, 8);
  trace.event = slot_text(h, kKevnm, 16);
  trace.location = slot_text(h, kKhole, 8);
  trace.component = slot_text(h, kKcmpnm, 8);
  trace.network = slot_text(h, kKnetwk, 8);
  set_quantity(h.ints[kIdep], trace);
  trace.dt = float_decimal(delta);
  set_start(h, trace);
  // scale is often 0 or a sensitivity that was never applied, so it is said but not applied.
  float scale = h.floats[kScale];
  if (!unset(scale) && scale != 0 && scale != 1)
    trace.warnings.push_back(file + ": the header's scale " + shortest(scale) +
                             " is not applied (often a sensitivity; --sensitivity applies one)");
  return out;
}

Outcome read_binary(std::string_view bytes, const std::string& file) {
  bool big = binary_order_fits(bytes, true);
  if (!big && !binary_order_fits(bytes, false))
    return failed(file, 0, "not a SAC file: no header version 6 or 7 (nvhdr) in either byte order");
  Header h;
  for (std::size_t k = 0; k < 70; ++k) h.floats[k] = float_at(bytes, 4 * k, big);
  for (std::size_t k = 0; k < 40; ++k) h.ints[k] = int_at(bytes, 4 * (70 + k), big);
  std::memcpy(h.text.data(), bytes.data() + 440, kTextBytes);
  Outcome out = trace_of(h, file, big ? "SAC binary (big-endian)" : "SAC binary (little-endian)");
  if (out.failed) return out;
  auto npts = static_cast<std::size_t>(h.ints[kNpts]);
  std::size_t data = bytes.size() - kHeaderBytes;
  std::size_t footer = h.ints[kNvhdr] == 7 ? kVersion7Footer : 0;
  if (data < 4 * npts)
    return failed(file, 0, "truncated data block: npts " + std::to_string(npts) + " needs " + std::to_string(4 * npts) +
                               " bytes of samples, the file has " + std::to_string(data));
  if (data != 4 * npts + footer)
    return failed(file, 0, "npts " + std::to_string(npts) + " disagrees with the file's size (" +
                               std::to_string(bytes.size()) + " bytes, where " + std::to_string(npts) +
                               " samples make " + std::to_string(kHeaderBytes + 4 * npts + footer) + ")");
  std::vector<double>& samples = out.traces[0].samples;
  samples.resize(npts);
  for (std::size_t k = 0; k < npts; ++k) {
    samples[k] = float_at(bytes, kHeaderBytes + 4 * k, big);
    if (!std::isfinite(samples[k]))
      return failed(file, 0, "sample " + std::to_string(k + 1) + " is not a number (NaN or infinite)");
  }
  return out;
}

Outcome read_text(std::string_view bytes, const std::string& file) {
  std::vector<std::string_view> lines = split_lines(bytes);
  Header h;
  long bad_line = 0;
  if (!read_text_header(lines, h, bad_line))
    return failed(file, bad_line, "not a SAC text header: a header line of five numbers expected");
  if (h.ints[kNvhdr] != 6 && h.ints[kNvhdr] != 7)
    return failed(file, 16, "not a SAC file: header version nvhdr " + std::to_string(h.ints[kNvhdr]) + ", not 6 or 7");
  Outcome out = trace_of(h, file, "SAC text");
  if (out.failed) return out;
  Trace& trace = out.traces[0];
  Failure failure;
  if (!read_free_block(lines, kHeaderLines, static_cast<std::size_t>(h.ints[kNpts]), file, trace.samples,
                       trace.warnings, failure)) {
    failure.reason = "truncated data block: " + failure.reason;
    Outcome bad;
    bad.failed = true;
    bad.failure = std::move(failure);
    return bad;
  }
  return out;
}

// Whether bytes start like the text form: 22 lines of five numbers, where the header version
// (the second number of line 16) is 6 or 7 and the even-sampling flag is a logical (0 or 1).
bool text_form(std::string_view bytes) {
  std::vector<std::string_view> lines = split_lines(bytes.substr(0, 30 * 90));
  Header h;
  long bad_line = 0;
  return read_text_header(lines, h, bad_line) && (h.ints[kNvhdr] == 6 || h.ints[kNvhdr] == 7) &&
         (h.ints[kLeven] == 0 || h.ints[kLeven] == 1);
}

}  // namespace

bool is_sac(std::string_view bytes) {
  return binary_order_fits(bytes, true) || binary_order_fits(bytes, false) || text_form(bytes);
}

Outcome read_sac(std::string_view bytes, const std::string& file) {
  if (text_form(bytes)) return read_text(bytes, file);
  return read_binary(bytes, file);
}

}  // namespace wavproc::import
