// Streams with gaps and windows in UTC: the pieces of wavproc-import's command that settle which
// gap-free segment of each channel a record takes, and read the times a user gives.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "import/import.h"

namespace wavproc::import {

// The window a call asks for: seconds from the first sample or UTC times (nanoseconds since 1970).
struct Window {
  std::optional<double> start, duration;          // seconds
  std::optional<std::int64_t> start_utc, end_utc;  // --start and --duration given as UTC times
  bool longest_segment = false;                    // take the longest gap-free segment instead of refusing a gap
};

// The UTC time text writes ("2010-02-27T06:50:00", fractions of a second and a final Z allowed, a
// blank for the T) as nanoseconds since 1970; false when text is not such a time.
bool read_utc(std::string_view text, std::int64_t& ns);

// The time of the record's first sample: the latest of the channels' first samples, or nullopt when
// a channel does not state its start.
std::optional<std::int64_t> first_sample_ns(const std::vector<const Trace*>& traces);

// The window's first moment in UTC, with origin the record's first sample; nullopt where the
// window does not begin at a given time.
std::optional<std::int64_t> window_start_ns(const Window& window, std::optional<std::int64_t> origin);

// The window's end in UTC (exclusive); nullopt where it is open.
std::optional<std::int64_t> window_end_ns(const Window& window, std::optional<std::int64_t> origin);

// Keeps one gap-free segment of each channel in traces (a channel of several segments gives one
// trace per segment, in time order): the one the window falls in. Empty on success; otherwise the
// reason: a gap inside the window (its start and length), a window that misses a channel, or a
// window given in UTC for channels without a start time. With window.longest_segment the segment
// that has the most samples inside the window is taken instead of refusing a gap.
std::string settle_segments(std::vector<const Trace*>& traces, const Window& window);

// "from <first> to <end> <zone>": the span of n samples at dt from start, for messages.
std::string span_text(const StartTime& start, std::int64_t first_ns, std::size_t n, double dt);

}  // namespace wavproc::import
