// Which gap-free segment of each channel a record takes, and the UTC times of windows.
#include "import/segments.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

#include "import/text_fields.h"

namespace wavproc::import {

namespace {

// The channel a trace belongs to; the segments of one channel share it.
std::string stream_of(const Trace& t) { return t.network + "." + t.station + "." + t.location + "." + t.component; }

// Seconds as nanoseconds; beyond 126 years either way (no record spans that) the value is held
// there, so that sums with times of 1900 to 2100 stay inside 64 bits.
std::int64_t seconds_ns(double seconds) { return std::llround(std::clamp(seconds, -4e9, 4e9) * 1e9); }

// The time just after the last sample of t (its end, exclusive).
std::int64_t end_ns(const Trace& t) {
  return t.start.ns + seconds_ns(static_cast<double>(t.samples.size()) * t.dt);
}

// The samples of t whose times lie in [from, to).
std::size_t samples_within(const Trace& t, std::int64_t from, std::int64_t to) {
  std::int64_t a = std::max(from, t.start.ns), b = std::min(to, end_ns(t));
  if (b <= a) return 0;
  return static_cast<std::size_t>(std::ceil(static_cast<double>(b - a) * 1e-9 / t.dt - 1e-9));
}

// Reads digits digits of text at at as a number; false when they are not all digits.
bool digits_at(std::string_view text, std::size_t at, std::size_t digits, int& value) {
  if (at + digits > text.size()) return false;
  value = 0;
  for (std::size_t k = at; k < at + digits; ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    value = value * 10 + (text[k] - '0');
  }
  return true;
}

}  // namespace

bool read_utc(std::string_view text, std::int64_t& ns) {
  if (!text.empty() && (text.back() == 'Z' || text.back() == 'z')) text.remove_suffix(1);
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!digits_at(text, 0, 4, year) || text.size() < 10 || text[4] != '-' || !digits_at(text, 5, 2, month) ||
      text[7] != '-' || !digits_at(text, 8, 2, day))
    return false;
  std::int64_t nanos = 0;
  if (text.size() > 10) {
    if ((text[10] != 'T' && text[10] != ' ') || !digits_at(text, 11, 2, hour) || text.size() < 16 ||
        text[13] != ':' || !digits_at(text, 14, 2, minute))
      return false;
    if (text.size() > 16) {
      if (text[16] != ':' || !digits_at(text, 17, 2, second)) return false;
      std::string_view fraction = text.substr(19);
      if (!fraction.empty()) {
        if (fraction[0] != '.' || fraction.size() < 2 || fraction.size() > 10) return false;
        int digit = 0;
        std::int64_t unit = 100000000;
        for (std::size_t k = 1; k < fraction.size(); ++k, unit /= 10) {
          if (!digits_at(fraction, k, 1, digit)) return false;
          nanos += digit * unit;
        }
      }
    }
  }
  if (!valid_civil(year, month, day, hour, minute, second)) return false;
  ns = civil_ns(year, month, day, hour, minute, second, nanos);
  return true;
}

std::optional<std::int64_t> first_sample_ns(const std::vector<const Trace*>& traces) {
  std::map<std::string, std::int64_t> first;
  for (const Trace* t : traces) {
    if (!t->start.known) return std::nullopt;
    auto [at, added] = first.try_emplace(stream_of(*t), t->start.ns);
    if (!added) at->second = std::min(at->second, t->start.ns);
  }
  std::optional<std::int64_t> latest;
  for (const auto& [name, ns] : first) latest = latest ? std::max(*latest, ns) : ns;
  return latest;
}

std::optional<std::int64_t> window_start_ns(const Window& window, std::optional<std::int64_t> origin) {
  if (window.start_utc) return window.start_utc;
  if (!origin) return std::nullopt;
  return *origin + seconds_ns(window.start.value_or(0.0));
}

std::optional<std::int64_t> window_end_ns(const Window& window, std::optional<std::int64_t> origin) {
  if (window.end_utc) return window.end_utc;
  std::optional<std::int64_t> from = window_start_ns(window, origin);
  if (!window.duration || !from) return std::nullopt;
  return *from + seconds_ns(*window.duration);
}

std::string settle_segments(std::vector<const Trace*>& traces, const Window& window) {
  std::optional<std::int64_t> origin = first_sample_ns(traces);
  bool dated = origin && std::none_of(traces.begin(), traces.end(), [](const Trace* t) { return t->start.relative; });
  if (!dated && (window.start_utc || window.end_utc))
    return "a window in UTC needs components that state their start time";
  std::vector<std::string> order;
  std::map<std::string, std::vector<const Trace*>> segments;
  for (const Trace* t : traces) {
    auto& list = segments[stream_of(*t)];
    if (list.empty()) order.push_back(stream_of(*t));
    list.push_back(t);
  }
  if (std::all_of(order.begin(), order.end(), [&](const std::string& s) { return segments[s].size() == 1; })) return {};
  // Only miniSEED gives a channel in several segments, always with start times.
  std::int64_t from = window_start_ns(window, origin).value_or(*origin);
  std::int64_t to = window_end_ns(window, origin).value_or(std::numeric_limits<std::int64_t>::max());
  std::vector<const Trace*> kept;
  for (const std::string& name : order) {
    std::vector<const Trace*> inside;
    for (const Trace* t : segments[name])
      if (samples_within(*t, from, to) > 0) inside.push_back(t);
    if (inside.empty()) {
      const Trace& first = *segments[name].front();
      const Trace& last = *segments[name].back();
      std::int64_t end = end_ns(last) - seconds_ns(last.dt);
      return "the window holds no sample of " + name + ", which has samples from " + span_text(first.start, first.start.ns, 0, 0) +
             " to " + span_text(last.start, end, 0, 0);
    }
    if (inside.size() > 1 && !window.longest_segment) {
      std::int64_t gap = end_ns(*inside[0]);
      return name + " has a gap inside the window at " + span_text(inside[0]->start, gap, 0, 0) + " for " +
             shortest(static_cast<double>(inside[1]->start.ns - gap) * 1e-9) +
             " s: choose a window without it (--start, --duration) or take the longest segment without a gap "
             "(--longest-segment)";
    }
    kept.push_back(*std::max_element(inside.begin(), inside.end(), [&](const Trace* a, const Trace* b) {
      return samples_within(*a, from, to) < samples_within(*b, from, to);
    }));
  }
  traces = kept;
  return {};
}

std::string span_text(const StartTime& start, std::int64_t first_ns, std::size_t n, double dt) {
  auto at = [&](std::int64_t ns) { return civil_text(ns + std::int64_t{start.zone_minutes} * 60'000'000'000); };
  std::string zone = start.zone.empty() ? "UTC" : start.zone;
  if (n == 0) return at(first_ns) + " " + zone;
  return "from " + at(first_ns) + " to " + at(first_ns + seconds_ns(static_cast<double>(n - 1) * dt)) + " " + zone;
}

}  // namespace wavproc::import
