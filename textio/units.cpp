// Units: connecting the console and files, the record buffers, open and close, free-form
// statements, the signal handlers and the ends of a run.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "textio/textio.h"
#include "textio/units.h"

namespace wavproc {
namespace detail {

Unit units[kUnits];
std::string_view last_format;
bool lately_reading = false;
void (*end_of_run)(int status) = nullptr;

namespace {

constexpr int kHandled[] = {SIGFPE, SIGABRT, SIGINT, SIGTERM};

// Writes all of text to fd, retrying after interruptions, and adds what the stream took to
// *written; returns 0 or the errno.
int write_all(int fd, const char* text, std::size_t len, off_t* written) {
  while (len > 0) {
    ssize_t n = ::write(fd, text, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    text += n;
    len -= static_cast<std::size_t>(n);
    *written += static_cast<off_t>(n);
  }
  return 0;
}

void flush_console_out() {
  Unit& u = units[kConsoleOut];
  if (u.used > 0 && !u.failed) {
    if (int err = flush_unit(u)) fatal(kConsoleOut, Reason::write_failed, err);
  }
}

void connect_console(int unit, int fd, bool reading) {
  Unit& u = units[unit];
  u.connected = true;
  u.console = true;
  u.fd = fd;
  u.readable = reading;
  u.writable = !reading;
  u.last_write = !reading;
  u.seekable = !::isatty(fd);
  if (reading) u.in.attach(fd, flush_console_out);
}

[[noreturn]] void on_interrupt(int) {
  static const char msg[] = "Interrupt\n";
  (void)!::write(2, msg, sizeof msg - 1);
  close_all_from_signal();
  ::_exit(1);
}

[[noreturn]] void on_terminate(int) {
  static const char msg[] = "Killed\n";
  (void)!::write(2, msg, sizeof msg - 1);
  close_all_from_signal();
  ::_exit(1);
}

[[noreturn]] void abnormal_end_from_signal(const char* msg, std::size_t len) {
  (void)!::write(2, msg, len);
  close_all_from_signal();
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

[[noreturn]] void on_arithmetic_fault(int) {
  static const char msg[] = "Floating Exception\n";
  abnormal_end_from_signal(msg, sizeof msg - 1);
}

[[noreturn]] void on_abort(int) {
  static const char msg[] = "IOT Trap\n";
  abnormal_end_from_signal(msg, sizeof msg - 1);
}

void install(int sig, void (*handler)(int)) {
  struct sigaction sa = {};
  sa.sa_handler = handler;
  sigemptyset(&sa.sa_mask);
  for (int s : kHandled) sigaddset(&sa.sa_mask, s);
  sigaction(sig, &sa, nullptr);
}

void close_at_exit() { close_all(); }

}  // namespace

// The record being assembled; records are short, so it rarely grows past its first reserve.
std::string& record() {
  static std::string r = [] {
    std::string s;
    s.reserve(512);
    return s;
  }();
  return r;
}

// Makes sure the unit can take a record: connected for writing, with its block.
void prepare_output(int unit) {
  Unit& u = units[unit];
  assert(u.connected);
  if (!u.writable) fatal(unit, Reason::cant_write);
  if (u.block == nullptr) {
    u.block = new (std::nothrow) char[kOutBlock];
    if (u.block == nullptr) fatal(unit, Reason::out_of_memory);
  }
}

// Appends one record and its line end to the unit's block, writing the block out when full.
void commit_record(int unit, std::string_view rec) {
  Unit& u = units[unit];
  u.last_write = true;
  if (u.failed) return;
  std::size_t len = rec.size() + 1;
  if (u.used + len > kOutBlock) {
    if (int err = flush_unit(u)) fatal(unit, Reason::write_failed, err);
  }
  if (len > kOutBlock) {
    SignalGuard guard;
    int err = write_all(u.fd, rec.data(), rec.size(), &u.written);
    if (err == 0) err = write_all(u.fd, "\n", 1, &u.written);
    if (err != 0) {
      u.failed = true;
      fatal(unit, Reason::write_failed, err);
    }
    return;
  }
  std::memcpy(u.block + u.used, rec.data(), rec.size());
  u.block[u.used + rec.size()] = '\n';
  u.used = u.used + len;
}

// Makes sure the unit can be read, and records that its last operation is a read.
void prepare_input(int unit) {
  Unit& u = units[unit];
  assert(u.connected);
  if (!u.readable) {
    // A file that could only be opened for writing (one the open created) is opened again for
    // reading at the same place; written records go out first.
    if (int err = flush_unit(u)) fatal(unit, Reason::write_failed, err);
    SignalGuard guard;
    char path[kNameMax];
    std::memcpy(path, u.name, u.name_len);
    path[u.name_len] = '\0';
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) fatal(unit, Reason::read_failed, errno);
    if (::lseek(fd, u.written, SEEK_SET) < 0) {
      const int err = errno;
      ::close(fd);
      fatal(unit, Reason::read_failed, err);
    }
    ::close(u.fd);
    u.fd = fd;
    u.readable = true;
    u.writable = false;
    u.in.attach(fd, nullptr);
  }
  u.last_write = false;
}

void begin_statement(bool reading, std::string_view format) {
  lately_reading = reading;
  last_format = format;
}

void end_formatted() { last_format = {}; }

SignalGuard::SignalGuard() {
  sigset_t block;
  sigemptyset(&block);
  for (int s : kHandled) sigaddset(&block, s);
  sigprocmask(SIG_BLOCK, &block, &old_);
}

SignalGuard::~SignalGuard() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

namespace {

// Forgets the unit's stream and state; it is free for another open.
void disconnect(Unit& u) {
  u.in.detach();
  u.connected = false;
  u.named = false;
  u.fd = -1;
  u.at_end = false;
  u.failed = false;
  u.used = 0;
}

}  // namespace

int flush_unit(Unit& u) {
  if (u.used == 0 || u.failed) {
    u.used = 0;
    return 0;
  }
  SignalGuard guard;
  int err = write_all(u.fd, u.block, u.used, &u.written);
  u.used = 0;
  if (err != 0) u.failed = true;
  return err;
}

Reason close_quietly(Unit& u, int* sys_errno) {
  if (!u.connected) return Reason::none;
  SignalGuard guard;
  // A unit whose stream was closed by a closing that failed stays connected only so that the
  // report can name its file: now it is let go.
  if (u.fd < 0) {
    disconnect(u);
    return Reason::none;
  }
  if (int err = flush_unit(u)) {
    *sys_errno = err;
    return Reason::write_failed;
  }
  if (u.console) return Reason::none;
  Reason reason = Reason::none;
  // A file whose write failed is cut too, at what the stream took: a rewritten file must not
  // show its older content behind the new text. Its failure is being reported already.
  if (u.last_write) {
    struct stat st = {};
    if (::fstat(u.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > u.written) {
      if (::ftruncate(u.fd, u.written) != 0 && !u.failed) {
        *sys_errno = errno;
        reason = Reason::truncation;
      }
    }
  }
  // Some file systems report a failed write only when the file is closed.
  const int rc = ::close(u.fd);
  const int close_errno = errno;
  u.fd = -1;
  if (reason == Reason::none && rc != 0 && close_errno != EINTR && u.last_write && !u.failed) {
    *sys_errno = close_errno;
    reason = Reason::write_failed;
  }
  if (reason == Reason::none) disconnect(u);
  return reason;
}

void close_all() {
  for (int unit = 0; unit < kUnits; ++unit) {
    int err = 0;
    Reason r = close_quietly(units[unit], &err);
    if (r != Reason::none) fatal(unit, r, err);
  }
}

void close_all_from_signal() {
  for (Unit& u : units) {
    if (!u.connected || u.fd < 0) continue;
    std::size_t used = u.used;
    if (used > 0 && !u.failed) {
      const char* p = u.block;
      std::size_t left = used;
      while (left > 0) {
        ssize_t n = ::write(u.fd, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        p += n;
        left -= static_cast<std::size_t>(n);
        u.written += static_cast<off_t>(n);
      }
    }
    u.used = 0;
    if (u.console) continue;
    if (u.last_write) {
      struct stat st = {};
      if (::fstat(u.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > u.written) {
        (void)!::ftruncate(u.fd, u.written);
      }
    }
    ::close(u.fd);
    u.connected = false;
  }
}

}  // namespace detail

using detail::Unit;
using detail::units;

void start_up() {
  // A console stream closed by the caller would hand its number to the first file opened, and the
  // console text or the fatal report would then be written into that file: hold it on /dev/null.
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
    int null_fd = ::open("/dev/null", O_RDWR);
    if (null_fd >= 0 && null_fd != fd) {
      ::dup2(null_fd, fd);
      ::close(null_fd);
    }
  }
  // A refused write to a file past the size limit must come back as an error the report can
  // name, not end the run silently half-written.
  std::signal(SIGXFSZ, SIG_IGN);
  // Likewise a console whose reader has gone: the failed write is reported and every file is
  // closed holding what was written, instead of the run vanishing mid-file.
  std::signal(SIGPIPE, SIG_IGN);
  detail::install(SIGFPE, detail::on_arithmetic_fault);
  detail::install(SIGABRT, detail::on_abort);
  struct sigaction old = {};
  sigaction(SIGINT, nullptr, &old);
  if (old.sa_handler != SIG_IGN) detail::install(SIGINT, detail::on_interrupt);
  detail::install(SIGTERM, detail::on_terminate);

  detail::connect_console(kStderr, 2, false);
  detail::connect_console(kConsoleIn, 0, true);
  detail::connect_console(kConsoleOut, 1, false);
  std::atexit(detail::close_at_exit);
}

void open_unit(int unit, std::string_view name, Status) {
  assert(unit >= 0 && unit < kUnits && unit != kStderr && unit != kConsoleIn && unit != kConsoleOut);
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  if (name.empty()) fatal(unit, Reason::null_name, 0, name);
  // A name with a NUL byte would open some other file than the one typed.
  if (name.find('\0') != std::string_view::npos || name.size() >= detail::kNameMax) {
    fatal(unit, Reason::open_failed, name.size() >= detail::kNameMax ? ENAMETOOLONG : EINVAL, name);
  }
  Unit& u = units[unit];
  if (u.connected) close_unit(unit);

  detail::SignalGuard guard;
  char path[detail::kNameMax];
  std::memcpy(path, name.data(), name.size());
  path[name.size()] = '\0';
  bool readable = true, writable = true;
  int fd = ::open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    writable = false;
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
  }
  if (fd < 0) {
    readable = false;
    writable = true;
    // Without O_TRUNC: an existing file that may only be written keeps its content until this
    // connection's close cuts it to what was written, so an input file is never emptied.
    fd = ::open(path, O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  }
  if (fd < 0) fatal(unit, Reason::open_failed, errno, name);

  std::memcpy(u.name, name.data(), name.size());
  u.name_len = name.size();
  u.named = true;
  u.connected = true;
  u.console = false;
  u.fd = fd;
  u.readable = readable;
  u.writable = writable;
  u.last_write = false;
  u.at_end = false;
  u.failed = false;
  u.seekable = !::isatty(fd);
  u.used = 0;
  u.written = 0;
  u.in.attach(fd, nullptr);
}

void close_unit(int unit) {
  int err = 0;
  Reason r = detail::close_quietly(units[unit], &err);
  if (r != Reason::none) fatal(unit, r, err);
}

void write_list(int unit, std::initializer_list<Item> items) {
  detail::begin_statement(false, "list io");
  detail::prepare_output(unit);
  std::string& rec = detail::record();
  rec.clear();
  // Free-form records wrap before the 80th column; each number brings its own leading blank.
  constexpr std::size_t kWidth = 80;
  char text[32];
  for (const Item& item : items) {
    switch (item.kind) {
      case Item::Kind::text:
        if (!rec.empty() && rec.size() + item.text.size() >= kWidth) {
          detail::commit_record(unit, rec);
          rec.clear();
        }
        if (rec.empty()) rec.push_back(' ');
        rec.append(item.text);
        break;
      case Item::Kind::integer: {
        std::size_t len = write_list_integer(text, item.integer);
        std::size_t digits = len - 1 - (item.integer < 0 ? 1 : 0);
        if (!rec.empty() && rec.size() + digits >= kWidth) {
          detail::commit_record(unit, rec);
          rec.clear();
        }
        rec.append(text, len);
        break;
      }
      case Item::Kind::real: {
        std::size_t len = write_list_double(text, item.real);
        if (!rec.empty() && rec.size() + len >= kWidth) {
          detail::commit_record(unit, rec);
          rec.clear();
        }
        rec.append(text, len);
        break;
      }
    }
  }
  detail::commit_record(unit, rec);
}

void read_list(int unit, std::initializer_list<Slot> slots) {
  detail::begin_statement(true, "list io");
  Unit& u = units[unit];
  detail::prepare_input(unit);
  ReadOutcome r = read_list(u.in, u.at_end, {slots.begin(), slots.size()}, false);
  if (r.reason != Reason::none) fatal(unit, r.reason, r.sys_errno);
}

bool read_list_or_end(int unit, std::initializer_list<Slot> slots) {
  detail::begin_statement(true, "list io");
  Unit& u = units[unit];
  detail::prepare_input(unit);
  ReadOutcome r = read_list(u.in, u.at_end, {slots.begin(), slots.size()}, true);
  if (r.reason == Reason::end_branch) return false;
  if (r.reason != Reason::none) fatal(unit, r.reason, r.sys_errno);
  return true;
}

void read_line_end(int unit) {
  detail::begin_statement(true, "list io");
  Unit& u = units[unit];
  detail::prepare_input(unit);
  if (u.at_end) return;
  ReadOutcome r = read_list(u.in, u.at_end, {}, false);
  if (r.reason != Reason::none) fatal(unit, r.reason, r.sys_errno);
}

void plain_stop() {
  detail::close_all();
  if (detail::end_of_run != nullptr) detail::end_of_run(0);
  std::exit(0);
}

void refusal_stop() {
  detail::close_all();
  if (detail::end_of_run != nullptr) detail::end_of_run(1);
  std::exit(1);
}

}  // namespace wavproc
