// A replaced file put in its place beside the stages: at its close the file thread waits for the
// disk, swaps the new file in and removes the older one, while the stages go on with the next work
// of the run. Nothing is seen earlier than before: the console text written meanwhile stays in its
// block, since every statement that would show it, and every one that depends on the file's new
// place, first settles the placing. Where it failed, the report is the one the close would have
// given: the console text and the statement bookkeeping are taken back to the moment of the
// close, and the files opened since are removed unseen.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <utility>

#include "textio/textio.h"
#include "textio/units.h"

namespace wavproc::detail {

namespace {

// The unit whose placing the file thread is doing (-1: none), its outcome, and what the run looked
// like when it was handed over.
struct Placing {
  int unit = -1;
  Reason reason = Reason::none;
  int sys_errno = 0;
  std::size_t console_used = 0;
  std::size_t stderr_used = 0;
  std::string_view last_format;
  bool lately_reading = false;
};

Placing placing;
// Set once the new file holds its name, or its placing failed: what follows, the removal of the
// older file, holds back no other file's placing.
std::atomic<bool> placed{false};

// The file thread's job: the placing of the close (a file whose write failed is placed too, and
// its failure is reported already), then the removal of the older file.
void place_job(void*) {
  Unit& u = units[placing.unit];
  int err = 0;
  bool older = false;
  const Reason r = put_in_place(u, &err, &older);
  placing.reason = u.failed ? Reason::none : r;
  placing.sys_errno = err;
  placed.store(true, std::memory_order_release);
  placed.notify_all();
  if (older) remove_older(u.dir_fd, u.temp, u.base);
}

// True when unit i, other than unit, is connected to a file.
bool other_file(int i, int unit) {
  return i != unit && was_touched(i) && units[i].kind != Stream::none && units[i].kind != Stream::console;
}

// True when no unit but the consoles and unit is connected.
bool alone(int unit) {
  for (int i = 0; i < kUnits; ++i) {
    if (other_file(i, unit)) return false;
  }
  return true;
}

// Removes what a unit connected after the handover made: its temporary file, never placed.
void remove_unseen(Unit& u) {
  if (u.kind == Stream::replacement && u.fd >= 0) {
    u.started = false;
    int err = 0;
    (void)put_in_place(u, &err);
  } else if (u.fd >= 0) {
    ::close(u.fd);
  }
  disconnect(u);
}

}  // namespace

bool place_beside(int unit) {
  Unit& u = units[unit];
  if (placing.unit >= 0 || u.kind != Stream::replacement || u.fd < 0 || u.failed || !alone(unit)) return false;
  if (int err = flush_unit(u)) fatal(unit, Reason::write_failed, err);
  SignalGuard guard;
  placing = {unit, Reason::none, 0, units[kConsoleOut].used, units[kStderr].used, last_format, lately_reading};
  placed.store(false, std::memory_order_relaxed);
  if (run_on_file_thread(place_job, nullptr)) return true;
  placing.unit = -1;
  return false;
}

bool placing_at(const Unit& other) {
  if (placing.unit < 0 || other.dir_fd < 0) return false;
  const Unit& u = units[placing.unit];
  struct stat a = {}, b = {};
  return std::strcmp(u.base, other.base) == 0 && ::fstat(u.dir_fd, &a) == 0 && ::fstat(other.dir_fd, &b) == 0 &&
         a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

void settle_placing() {
  if (placing.unit < 0) return;
  finish_file_job();
  const int unit = std::exchange(placing.unit, -1);
  if (placing.reason == Reason::none) {
    SignalGuard guard;
    disconnect(units[unit]);
    return;
  }
  {
    SignalGuard guard;
    units[kConsoleOut].used = placing.console_used;
    units[kStderr].used = placing.stderr_used;
    last_format = placing.last_format;
    lately_reading = placing.lately_reading;
    // The handover found no other file connected: every one connected now came after it.
    for (int i = 0; i < kUnits; ++i) {
      if (other_file(i, unit)) remove_unseen(units[i]);
    }
  }
  fatal(unit, placing.reason, placing.sys_errno);
}

void await_placed() {
  if (placing.unit < 0) return;
  placed.wait(false, std::memory_order_acquire);
  if (placing.reason != Reason::none) settle_placing();
}

void settle_placing_from_signal() {
  if (placing.unit >= 0) finish_file_job_from_signal();
}

}  // namespace wavproc::detail
