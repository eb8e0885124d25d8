// The rows of a long record read on two threads. From the first line start past the middle of what
// is left of the file, the second thread reads the rows of the common shape into room lent by the
// caller, while the unit's thread reads the rows before that line. Where the unit's thread ends a
// row exactly there, it takes the second thread's rows as its own and goes on after them; anything
// else (a row across that line, a read that ends or fails first) and it reads on from there itself,
// as it would have without the second thread. Each row is read by the same function from the same
// bytes either way, so the values, the count and every report are those of the one-thread read.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace wavproc::detail {

namespace {

// What is left of a file below this is read on one thread: the second thread's start and the
// taking over of its rows cost more than the time it saves on a few thousand rows.
constexpr std::int64_t kLeast = 256 << 10;
// The second thread's window on the file, at the front of the room.
constexpr std::size_t kWindow = 1 << 16;
// Bytes that read_shaped_row needs from a row's start; with this many or more before the window's
// end, a row it refuses has another shape.
constexpr std::size_t kShapeBytes = 40;

// Reads up to len bytes of fd at offset at into buf, again where a signal cut the read short;
// returns the bytes read, 0 at the end of the file, or -1 where the system refused.
ssize_t read_at(int fd, char* buf, std::size_t len, std::int64_t at) {
  ssize_t got = 0;
  do {
    got = ::pread(fd, buf, len, static_cast<off_t>(at));
  } while (got < 0 && errno == EINTR);
  return got;
}

// The second thread's part: rows of the common shape from job.from on, into job.values, until a
// row of another shape, the end of the file, a refused read, the room's end or a stop.
void read_rows_job(void* arg) {
  auto& job = *static_cast<RowsBeside::Job*>(arg);
  std::int64_t at = job.from;  // the file offset of window[0]
  std::size_t have = 0;
  std::size_t p = 0;
  bool more = true;
  while (job.rows < job.capacity && !job.stop.load(std::memory_order_relaxed)) {
    double* values = job.values + job.rows * job.n;
    const char* stop =
        have - p >= kShapeBytes ? read_shaped_row(job.window + p, job.window + have, job.n, values) : nullptr;
    if (stop != nullptr) {
      p = static_cast<std::size_t>(stop - job.window);
      ++job.rows;
      continue;
    }
    if (!more || have - p >= kShapeBytes) break;
    std::memmove(job.window, job.window + p, have - p);
    at += static_cast<std::int64_t>(p);
    have -= p;
    p = 0;
    const ssize_t got = read_at(job.fd, job.window + have, kWindow - have, at + static_cast<std::int64_t>(have));
    if (got <= 0) {
      more = false;
    } else {
      have += static_cast<std::size_t>(got);
      job.window_used = std::max(job.window_used, have);
    }
  }
  job.end = at + static_cast<std::int64_t>(p);
}

}  // namespace

void RowsBeside::start(const InBuffer& in, int fd, int n, std::span<double> room) {
  if (n < 1 || n > kMaxRowSlots || room.size_bytes() < kWindow + sizeof(double) * static_cast<std::size_t>(n)) return;
  struct stat st = {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  const off_t position = ::lseek(fd, 0, SEEK_CUR);
  if (position < 0) return;
  delta_ = static_cast<std::int64_t>(position) - (in.offset() + static_cast<std::int64_t>(in.available()));
  const std::int64_t here = in.offset() + delta_;
  if (st.st_size - here < kLeast || !second_thread_free()) return;
  // The second thread's rows start at the first line start past the middle.
  const std::int64_t middle = here + (st.st_size - here) / 2;
  char look[256];
  const ssize_t got = read_at(fd, look, sizeof look, middle);
  if (got <= 0) return;
  const void* line_end = std::memchr(look, '\n', static_cast<std::size_t>(got));
  if (line_end == nullptr) return;
  job_.fd = fd;
  job_.n = n;
  job_.from = middle + (static_cast<const char*>(line_end) - look) + 1;
  job_.window = reinterpret_cast<char*>(room.data());
  job_.window_used = 0;
  job_.values = room.data() + kWindow / sizeof(double);
  job_.capacity = static_cast<std::int64_t>((room.size() - kWindow / sizeof(double)) / static_cast<std::size_t>(n));
  job_.stop.store(false, std::memory_order_relaxed);
  job_.rows = 0;
  job_.end = job_.from;
  meet_ = job_.from - delta_;
  active_ = true;
  run_beside(read_rows_job, &job_);
}

std::size_t RowsBeside::before_meeting(const InBuffer& in) const {
  if (!active_ || in.offset() > meet_) return SIZE_MAX;
  return static_cast<std::size_t>(meet_ - in.offset());
}

bool RowsBeside::at_meeting(const InBuffer& in) const { return active_ && in.offset() == meet_; }

bool RowsBeside::passed(const InBuffer& in) const { return active_ && in.offset() > meet_; }

std::int64_t RowsBeside::take(InBuffer& in, std::int64_t row, RowSlots slots_of, const void* source) {
  finish_beside();
  active_ = false;
  Slot slots[kMaxRowSlots];
  std::int64_t taken = 0;
  for (; taken < job_.rows; ++taken) {
    slots_of(source, row + taken, slots);
    if (!std::all_of(slots, slots + job_.n, [](const Slot& s) { return s.kind == Slot::Kind::real; })) break;
    const double* values = job_.values + taken * job_.n;
    for (int i = 0; i < job_.n; ++i) *static_cast<double*>(slots[i].target) = values[i];
  }
  // Where a slot takes no real, or the file cannot be read on after the rows, they are read here
  // from the meeting line on, into the same slots again.
  if (taken < job_.rows || !in.restart_at(job_.end - delta_, delta_)) taken = 0;
  clear();
  return taken;
}

void RowsBeside::give_up() {
  if (!active_) return;
  job_.stop.store(true, std::memory_order_relaxed);
  finish_beside();
  active_ = false;
  clear();
}

void RowsBeside::clear() {
  std::memset(job_.window, 0, job_.window_used);
  std::fill(job_.values, job_.values + job_.rows * job_.n, 0.0);
}

}  // namespace wavproc::detail
