// The miniSEED 2 reader: libmseed decodes each record (every encoding it knows, either byte
// order, time corrections applied); this file sorts the records of each channel by time and joins
// them into gap-free segments, one trace per segment.
#include <libmseed.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "import/import.h"
#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

namespace {

// The record times accepted, in libmseed's microseconds since 1970 (1900-01-01 to 2100-01-01),
// and the slowest sampling rate (one sample a day).
constexpr std::int64_t kEarliestUs = -2208988800000000;
constexpr std::int64_t kLatestUs = 4102444800000000;
constexpr double kSlowestRate = 1.0 / 86400;

// One decoded record with samples.
struct Piece {
  std::int64_t start_ns = 0;
  double rate = 0;
  std::vector<double> samples;
};

// A channel's identity: network, station, location, channel.
using StreamId = std::tuple<std::string, std::string, std::string, std::string>;

// libmseed's own messages are dropped: every failure reaches the user as this reader's reason.
void quiet(char*) {}

// Frees the record libmseed fills, whatever way the reading ends.
struct RecordHolder {
  MSRecord* msr = nullptr;
  ~RecordHolder() { msr_free(&msr); }
};

bool power_of_two(std::size_t n) { return n >= 128 && (n & (n - 1)) == 0; }

// Whether a record's data fit between its data offset and its end: for the encodings of fixed
// width, the declared count times the width. Steim frames are bounded by the decoder itself.
bool holds_its_samples(const MSRecord& msr) {
  std::size_t width = 0;
  switch (msr.encoding) {
    case DE_ASCII: width = 1; break;
    case DE_INT16: case DE_GEOSCOPE163: case DE_GEOSCOPE164: case DE_CDSN: case DE_SRO: case DE_DWWSSN: width = 2; break;
    case DE_GEOSCOPE24: width = 3; break;
    case DE_INT32: case DE_FLOAT32: width = 4; break;
    case DE_FLOAT64: width = 8; break;
    default: break;
  }
  std::size_t offset = msr.fsdh->data_offset;
  auto length = static_cast<std::size_t>(msr.reclen);
  if (offset > length) return msr.samplecnt == 0;
  return msr.samplecnt <= 0 || static_cast<std::size_t>(msr.samplecnt) * width <= length - offset;
}

// The samples of a decoded record as doubles; false for text (log) records.
bool samples_of(const MSRecord& msr, std::vector<double>& out) {
  auto n = static_cast<std::size_t>(msr.numsamples);
  out.resize(n);
  switch (msr.sampletype) {
    case 'i': {
      auto* v = static_cast<const std::int32_t*>(msr.datasamples);
      for (std::size_t k = 0; k < n; ++k) out[k] = v[k];
      return true;
    }
    case 'f': {
      auto* v = static_cast<const float*>(msr.datasamples);
      for (std::size_t k = 0; k < n; ++k) out[k] = v[k];
      return true;
    }
    case 'd': {
      auto* v = static_cast<const double*>(msr.datasamples);
      std::copy(v, v + n, out.begin());
      return true;
    }
    default: return false;
  }
}

std::string stream_name(const StreamId& id) {
  return std::get<0>(id) + "." + std::get<1>(id) + "." + std::get<2>(id) + "." + std::get<3>(id);
}

// Joins a channel's pieces (sorted by start) into gap-free segments: a piece that starts within
// half a sample of where the segment ends continues it; one that starts earlier overlaps it and
// must repeat its samples there; one that starts later opens a new segment after a gap. False
// with reason for overlapping pieces whose samples differ, or a change of sampling rate.
bool join(const StreamId& id, std::vector<Piece>& pieces, std::vector<Piece>& segments, std::string& reason) {
  for (Piece& p : pieces) {
    if (segments.empty()) {
      segments.push_back(std::move(p));
      continue;
    }
    Piece& seg = segments.back();
    if (p.rate != seg.rate) {
      reason = stream_name(id) + ": the sampling rate changes from " + shortest(seg.rate) + " to " + shortest(p.rate) +
               " Hz at " + civil_text(p.start_ns);
      return false;
    }
    double dt = 1.0 / seg.rate;
    double half_ns = dt * 0.5e9;
    double gap = static_cast<double>(p.start_ns - seg.start_ns) - static_cast<double>(seg.samples.size()) * dt * 1e9;
    if (gap > half_ns) {
      segments.push_back(std::move(p));
      continue;
    }
    std::size_t first_new = 0;
    if (gap < -half_ns) {
      auto at = std::min(seg.samples.size(),
                         static_cast<std::size_t>(std::llround(static_cast<double>(p.start_ns - seg.start_ns) / (dt * 1e9))));
      std::size_t shared = std::min(seg.samples.size() - at, p.samples.size());
      if (!std::equal(p.samples.begin(), p.samples.begin() + static_cast<std::ptrdiff_t>(shared),
                      seg.samples.begin() + static_cast<std::ptrdiff_t>(at))) {
        reason = stream_name(id) + ": records overlap with different samples at " + civil_text(p.start_ns);
        return false;
      }
      first_new = shared;
    }
    seg.samples.insert(seg.samples.end(), p.samples.begin() + static_cast<std::ptrdiff_t>(first_new), p.samples.end());
  }
  return true;
}

// The trace of one segment of a channel.
Trace trace_of(const StreamId& id, Piece& seg, const std::string& file) {
  Trace t;
  t.file = file;
  t.format = "miniSEED 2";
  std::tie(t.network, t.station, t.location, t.component) = id;
  const std::string& channel = t.component;
  char orientation = channel.size() == 3 ? channel[2] : ' ';
  t.vertical = orientation == 'Z';
  if (orientation == 'N') t.azimuth = 0;
  if (orientation == 'E') t.azimuth = 90;
  t.quantity = Quantity::counts;
  t.unit = "counts";
  t.counts = true;
  t.dt = 1.0 / seg.rate;
  t.start.known = true;
  t.start.ns = seg.start_ns;
  t.samples = std::move(seg.samples);
  return t;
}

}  // namespace

Outcome read_mseed(std::string_view bytes, const std::string& file) {
  if (is_mseed3(bytes))
    return failed(file, 0, "miniSEED 3, which this importer does not read (libmseed 2 reads miniSEED 2 only)");
  ms_loginit(quiet, nullptr, quiet, nullptr);
  std::vector<char> buffer(bytes.begin(), bytes.end());
  std::map<StreamId, std::vector<Piece>> streams;
  std::vector<StreamId> order;  // the channels in the order the file first gives them
  std::size_t passed_over = 0;
  RecordHolder holder;
  std::size_t offset = 0;
  int last_length = 0;
  while (offset < buffer.size()) {
    auto left = static_cast<int>(std::min<std::size_t>(buffer.size() - offset, INT32_MAX));
    // The header first: libmseed copies uncompressed samples without checking that the record
    // holds as many as its header declares, so that is checked before they are decoded.
    int length = 0;
    int status = msr_parse(buffer.data() + offset, left, &holder.msr, 0, 0, 0);
    if (status > 0) {
      // A last record without blockette 1000 has no next header to measure it by: it takes the
      // length of the record before it, or what is left where that is a record length.
      length = last_length > 0 && last_length <= left ? last_length : power_of_two(static_cast<std::size_t>(left)) ? left : 0;
      status = length > 0 ? msr_parse(buffer.data() + offset, left, &holder.msr, length, 0, 0) : MS_WRONGLENGTH;
    }
    // libmseed may take a record length from blockette 1000 that runs past the file's end.
    if (status == MS_NOERROR && holder.msr->reclen > left)
      return failed(file, 0, "the record at byte " + std::to_string(offset) + " is cut short: it declares " +
                                 std::to_string(holder.msr->reclen) + " bytes, " + std::to_string(left) + " are left");
    if (status == MS_NOERROR && !holds_its_samples(*holder.msr))
      return failed(file, 0, "the record at byte " + std::to_string(offset) + " declares more samples than it holds");
    if (status == MS_NOERROR) status = msr_parse(buffer.data() + offset, left, &holder.msr, length, 1, 0);
    if (status != MS_NOERROR)
      return failed(file, 0, "no miniSEED 2 record at byte " + std::to_string(offset) + ": " + ms_errorstr(status));
    const MSRecord& msr = *holder.msr;
    last_length = msr.reclen;
    offset += static_cast<std::size_t>(msr.reclen);
    Piece piece;
    if (msr.numsamples <= 0 || !(msr.samprate > 0) || !samples_of(msr, piece.samples)) {
      ++passed_over;
      continue;
    }
    // Times are kept in nanoseconds; the bounds keep every sum of them inside 64 bits.
    std::string at_byte = "the record at byte " + std::to_string(offset - static_cast<std::size_t>(msr.reclen));
    if (msr.samprate < kSlowestRate)
      return failed(file, 0, at_byte + " has no usable sampling rate (" + shortest(msr.samprate) + " Hz)");
    if (msr.starttime < kEarliestUs || msr.starttime > kLatestUs)
      return failed(file, 0, at_byte + " starts outside the years 1900 to 2100");
    if (!std::all_of(piece.samples.begin(), piece.samples.end(), [](double v) { return std::isfinite(v); }))
      return failed(file, 0, at_byte + " holds a sample that is not a number (NaN or infinite)");
    piece.start_ns = msr.starttime * (1000000000 / HPTMODULUS);
    piece.rate = msr.samprate;
    StreamId id{msr.network, msr.station, msr.location, msr.channel};
    auto [at, added] = streams.try_emplace(id);
    if (added) order.push_back(id);
    at->second.push_back(std::move(piece));
  }
  if (streams.empty())
    return failed(file, 0, "no samples: its " + std::to_string(passed_over) +
                               " records carry none (detections or log text)");
  Outcome out;
  for (const StreamId& id : order) {
    std::vector<Piece>& pieces = streams[id];
    std::stable_sort(pieces.begin(), pieces.end(),
                     [](const Piece& a, const Piece& b) { return a.start_ns < b.start_ns; });
    std::vector<Piece> segments;
    std::string reason;
    if (!join(id, pieces, segments, reason)) return failed(file, 0, reason);
    for (Piece& seg : segments) out.traces.push_back(trace_of(id, seg, file));
  }
  if (passed_over > 0)
    out.traces.front().warnings.push_back(file + ": " + std::to_string(passed_over) +
                                          " records without samples (detections or log text) passed over");
  return out;
}

}  // namespace wavproc::import
