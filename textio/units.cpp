// Units: connecting the console and files, the record buffers, open and close, free-form
// statements, the signal handlers and the ends of a run.
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdint>
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
const char* name_cut = nullptr;
void (*end_of_run)(int status) = nullptr;
void (*file_step)() = nullptr;
bool sync_before_rename = true;

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

// The length of the next piece of bytes [p, p + len) for a stream whose writes may wait: whole
// records, at most PIPE_BUF bytes, so that a pipe takes each piece whole or not at all.
std::size_t whole_records(const char* p, std::size_t len) {
  if (len <= PIPE_BUF) return len;
  for (std::size_t i = PIPE_BUF; i > 0; --i) {
    if (p[i - 1] == '\n') return i;
  }
  return PIPE_BUF;
}

// Waits until fd can take a write, with the interrupt and termination signals let through while it
// waits: their handlers then find the unit's block in a settled state.
void wait_writable(int fd) {
  sigset_t open_mask;
  sigprocmask(SIG_SETMASK, nullptr, &open_mask);
  for (int s : kHandled) sigdelset(&open_mask, s);
  pollfd p = {fd, POLLOUT, 0};
  while (::ppoll(&p, 1, nullptr, &open_mask) < 0 && errno == EINTR) {
  }
}

// Writes the unit's block from `sent` on to a stream whose writes may wait, a piece at a time;
// returns 0 or the errno.
int write_waiting(Unit& u) {
  while (u.sent < u.used) {
    const char* p = u.block + u.sent;
    const std::size_t len = whole_records(p, u.used - u.sent);
    wait_writable(u.fd);
    const ssize_t n = ::write(u.fd, p, len);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return errno;
    }
    u.sent = u.sent + static_cast<std::size_t>(n);
    u.written += static_cast<off_t>(n);
  }
  return 0;
}

// Writes what the stream takes at once of text to fd, from a signal handler: whole pieces while
// the stream is ready, never waiting. Returns the bytes written.
std::size_t write_now(int fd, const char* text, std::size_t len) {
  std::size_t done = 0;
  while (done < len) {
    pollfd p = {fd, POLLOUT, 0};
    if (::poll(&p, 1, 0) <= 0 || (p.revents & POLLOUT) == 0) break;
    const ssize_t n = ::write(fd, text + done, whole_records(text + done, len - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

// True when fd is a regular file, whose writes never wait for a reader.
bool is_regular(int fd) {
  struct stat st = {};
  return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
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
  u.may_block = !is_regular(fd);
  if (reading) {
    u.in.attach(fd, flush_console_out);
    u.in.skip_mark();
  }
}

[[noreturn]] void on_interrupt(int) {
  static const char msg[] = "Interrupt\n";
  write_now(2, msg, sizeof msg - 1);
  close_all_from_signal();
  ::_exit(1);
}

[[noreturn]] void on_terminate(int) {
  static const char msg[] = "Killed\n";
  write_now(2, msg, sizeof msg - 1);
  close_all_from_signal();
  ::_exit(1);
}

[[noreturn]] void abnormal_end_from_signal(const char* msg, std::size_t len) {
  write_now(2, msg, len);
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

namespace {

// Writes the random part of a temporary file's name (12 lowercase hexadecimal digits) to out:
// from the system's random source, so that nobody can plant the name beforehand.
void write_random_part(char* out) {
  unsigned char bytes[6] = {};
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got < sizeof bytes) {
    // Without getrandom (an old kernel): the clock's nanoseconds, still unknown beforehand.
    timespec ts = {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    std::uint64_t x = static_cast<std::uint64_t>(ts.tv_nsec) * 0x9E3779B97F4A7C15u ^ static_cast<std::uint64_t>(ts.tv_sec);
    for (unsigned char& b : bytes) {
      b = static_cast<unsigned char>(x >> 56);
      x = x * 6364136223846793005u + 1442695040888963407u;
    }
  }
  static constexpr char kHex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < sizeof bytes; ++i) {
    out[2 * i] = kHex[bytes[i] >> 4];
    out[2 * i + 1] = kHex[bytes[i] & 15];
  }
}

// Creates the unit's temporary file in its folder, named after the file, the process number and
// a random part (out.csv.wavproc-4711-3f9c0a12b7e4.tmp), so that one left by a killed run shows
// what it is and none can be planted; returns its descriptor, or -1 with errno set.
int create_temp(Unit& u, mode_t mode) {
  constexpr std::size_t kKept = 200;  // of the file's name, so that the temporary name stays short
  constexpr int kTries = 8;           // a name taken again and again is someone's doing
  const std::size_t base_len = std::min(std::strlen(u.base), kKept);
  const long pid = static_cast<long>(::getpid());
  for (int attempt = 1;; ++attempt) {
    char* p = u.temp;
    std::memcpy(p, u.base, base_len);
    p += base_len;
    std::memcpy(p, ".wavproc-", 9);
    p += 9;
    p = std::to_chars(p, p + 20, pid).ptr;
    *p++ = '-';
    write_random_part(p);
    p += 12;
    std::memcpy(p, ".tmp", 5);
    const int fd = ::openat(u.dir_fd, u.temp, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0 || errno != EEXIST || attempt == kTries) return fd;
  }
}

// Starts the new content of a file at its first write. A temporary file is new and empty; a file
// rewritten in place is emptied first, so that no older tail can remain behind the new text.
void begin_rewrite(int unit) {
  Unit& u = units[unit];
  SignalGuard guard;
  if (!u.in_temp && (::lseek(u.fd, 0, SEEK_SET) < 0 || ::ftruncate(u.fd, 0) != 0)) {
    fatal(unit, Reason::truncation, errno);
  }
  u.started = true;
}

// Opens a file that is not a regular file for the direction of its first statement. It may wait
// (a FIFO waits for its other end), so the signals stay open meanwhile; returns the descriptor or
// -1 with errno set.
int open_special(const Unit& u, bool reading) {
  if (!reading && u.twin >= 0) return ::fcntl(u.twin, F_DUPFD_CLOEXEC, 3);
  char path[kNameMax];
  std::memcpy(path, u.name, u.name_len);
  path[u.name_len] = '\0';
  return ::open(path, (reading ? O_RDONLY : O_WRONLY) | O_CLOEXEC);
}

// Takes the descriptor that open_special gave as the unit's stream.
void take_special(Unit& u, int fd, bool reading) {
  SignalGuard guard;
  u.fd = fd;
  u.readable = reading;
  u.writable = !reading;
  u.seekable = !::isatty(fd);
  u.started = true;
  if (reading) {
    u.in.attach(fd, nullptr);
    u.in.skip_mark();
  }
}

}  // namespace

// Makes sure the unit can take a record: connected for writing, with its block.
void prepare_output(int unit) {
  Unit& u = units[unit];
  assert(u.connected);
  if (!u.writable) fatal(unit, Reason::cant_write);
  if (!u.started && !u.console) {
    if (u.special) {
      const int fd = open_special(u, false);
      if (fd < 0) fatal(unit, Reason::open_failed, errno);
      take_special(u, fd, false);
    } else {
      begin_rewrite(unit);
    }
  }
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
  if (u.special && u.fd < 0) {
    const int fd = open_special(u, true);
    if (fd < 0) fatal(unit, Reason::read_failed, errno);
    take_special(u, fd, true);
  } else if (!u.readable) {
    // A file that could only be opened for writing is opened again for reading at the same place;
    // written records go out first.
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
  if (u.dir_fd >= 0) ::close(u.dir_fd);
  u.dir_fd = -1;
  u.connected = false;
  u.named = false;
  u.fd = -1;
  u.at_end = false;
  u.failed = false;
  u.special = false;
  u.started = false;
  u.in_temp = false;
  u.in_place = false;
  u.twin = -1;
  u.used = 0;
  u.sent = 0;
}

// Puts a replaced file's temporary file in place of the file, or removes it when nothing was
// written, and closes the stream; returns Reason::none, or the reason with *sys_errno set. Unless
// the caller gave up the wait, the content is on the disk before the rename, so that after a power
// loss the name holds the older file or the new one. A temporary file whose sync or close failed
// holds text the system may not keep: it is removed, and the older file stays. Safe inside a
// signal handler.
Reason put_in_place(Unit& u, int* sys_errno) {
  Reason reason = Reason::none;
  if (!u.started) {
    ::close(u.fd);
    ::unlinkat(u.dir_fd, u.temp, 0);
  } else {
    if (sync_before_rename && ::fdatasync(u.fd) != 0) {
      reason = Reason::sync_failed;
      *sys_errno = errno;
    }
    if (::close(u.fd) != 0 && errno != EINTR && reason == Reason::none) {
      reason = Reason::close_failed;
      *sys_errno = errno;
    }
    if (file_step != nullptr) file_step();
    if (reason != Reason::none) {
      ::unlinkat(u.dir_fd, u.temp, 0);
    } else if (::renameat(u.dir_fd, u.temp, u.dir_fd, u.base) != 0) {
      reason = Reason::write_failed;
      *sys_errno = errno;
    }
  }
  u.fd = -1;
  u.in_temp = false;
  return reason;
}

// Cuts a file rewritten in place at what this connection wrote (nothing else may follow the new
// text); returns 0 or the errno.
int cut_at_written(const Unit& u) {
  struct stat st = {};
  if (::fstat(u.fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > u.written) {
    if (::ftruncate(u.fd, u.written) != 0) return errno;
  }
  return 0;
}

}  // namespace

int flush_unit(Unit& u) {
  if (u.used == 0 || u.failed) {
    u.used = 0;
    u.sent = 0;
    return 0;
  }
  SignalGuard guard;
  // A file that is the console's own comes after the console text shown before it.
  if (u.twin == 1) {
    if (int err = flush_unit(units[kConsoleOut])) return err;
  }
  int err = 0;
  if (u.may_block) {
    err = write_waiting(u);
  } else {
    if (file_step != nullptr && !u.console) file_step();
    err = write_all(u.fd, u.block, u.used, &u.written);
  }
  u.used = 0;
  u.sent = 0;
  if (err != 0) u.failed = true;
  return err;
}

Reason close_quietly(Unit& u, int* sys_errno) {
  if (!u.connected) return Reason::none;
  SignalGuard guard;
  // A unit whose stream was closed by a closing that failed stays connected only so that the
  // report can name its file: now it is let go. So is a special file no statement opened.
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
  if (u.in_temp) {
    // A file whose write failed is put in place too, holding what the stream took; its failure
    // is being reported already.
    int err = 0;
    const Reason placed = put_in_place(u, &err);
    if (placed != Reason::none && !u.failed) {
      *sys_errno = err;
      reason = placed;
    }
    if (reason == Reason::none) disconnect(u);
    return reason;
  }
  // A file rewritten in place whose write failed is cut too, at what the stream took.
  if (u.last_write && !u.special) {
    if (const int err = cut_at_written(u); err != 0 && !u.failed) {
      *sys_errno = err;
      reason = Reason::truncation;
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
    std::size_t sent = u.sent;
    if (used > sent && !u.failed) {
      if (u.may_block) {
        // Only what the stream takes at once: the run must end now, not wait for a reader.
        u.written += static_cast<off_t>(write_now(u.fd, u.block + sent, used - sent));
      } else {
        off_t written = 0;
        (void)write_all(u.fd, u.block + sent, used - sent, &written);
        u.written += written;
      }
    }
    u.used = 0;
    u.sent = 0;
    if (u.console) continue;
    if (u.in_temp) {
      int err = 0;
      (void)put_in_place(u, &err);
    } else {
      if (u.last_write && !u.special) (void)cut_at_written(u);
      ::close(u.fd);
    }
    u.connected = false;
  }
}

void restart_console_input(int fd) {
  Unit& console = units[kConsoleIn];
  console.in.attach(fd, nullptr);
  console.at_end = false;
}

bool only_consoles_connected() {
  for (const Unit& u : units) {
    if (u.connected && !u.console) return false;
  }
  return true;
}

}  // namespace detail

using detail::Unit;
using detail::units;

// An editor may begin a saved file, or the console's answers, with the UTF-8 byte-order mark: the
// stream's first block loses it here, before any read sees it.
bool detail::InBuffer::pass_mark() {
  static constexpr char kMark[] = "\xEF\xBB\xBF";
  mark_ = false;
  for (;;) {
    const std::size_t have = static_cast<std::size_t>(end_ - cur_);
    if (std::memcmp(cur_, kMark, std::min<std::size_t>(have, 3)) != 0) return false;
    if (have >= 3) break;
    const ssize_t got = ::read(fd_, block_ + have, kBlock - have);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    end_ += got;
  }
  cur_ += 3;
  return cur_ == end_;
}

void set_sync_before_rename(bool sync) { detail::sync_before_rename = sync; }

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

namespace {

// Splits path at its last slash: the folder part is written into folder ("." when there is none),
// the rest is returned.
const char* split_folder(const char* path, char* folder) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) {
    std::strcpy(folder, ".");
    return path;
  }
  const std::size_t len = slash == path ? 1 : static_cast<std::size_t>(slash - path);
  std::memcpy(folder, path, len);
  folder[len] = '\0';
  return slash + 1;
}

// True when owner is neither this user nor the owner of the folder dir, and that folder is sticky
// and writable by everyone (as /tmp): there the system can protect a user from following such a
// one's symbolic links and from writing into such a one's files, and wavproc holds to that rule
// itself, whatever the system is set to.
bool planted_by_another(uid_t owner, int dir) {
  struct stat folder = {};
  if (::fstat(dir, &folder) != 0) return false;
  const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
  return shared && owner != ::geteuid() && owner != folder.st_uid;
}

// Opens the folder of the file that path finally names, following symbolic links (at most 40, as
// the system does), and writes that file's name in the folder into base (kNameMax bytes); returns
// the folder's descriptor, or -1 with errno set (EACCES for a link planted by another user).
int open_final_folder(const char* path, char* base) {
#ifdef O_PATH
  constexpr int kFolder = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
  constexpr int kFolder = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif
  char folder[PATH_MAX];
  char target[PATH_MAX];
  const char* name = split_folder(path, folder);
  int dir = ::openat(AT_FDCWD, folder, kFolder);
  if (dir < 0) return -1;
  std::strcpy(base, name);
  for (int links = 0; links < 40; ++links) {
    const ssize_t n = ::readlinkat(dir, base, target, sizeof target - 1);
    if (n < 0) break;
    struct stat link = {};
    if (::fstatat(dir, base, &link, AT_SYMLINK_NOFOLLOW) == 0 && planted_by_another(link.st_uid, dir)) {
      ::close(dir);
      errno = EACCES;
      return -1;
    }
    target[n] = '\0';
    name = split_folder(target, folder);
    const int next = ::openat(dir, folder, kFolder);
    const int err = next < 0 ? errno : ENAMETOOLONG;
    ::close(dir);
    if (next < 0 || std::strlen(name) >= detail::kNameMax) {
      if (next >= 0) ::close(next);
      errno = err;
      return -1;
    }
    dir = next;
    std::strcpy(base, name);
  }
  return dir;
}

// The console stream (1 or 2) that st is the file of, or -1.
int console_twin(const struct stat& st) {
  for (int fd : {1, 2}) {
    struct stat c = {};
    if (::fstat(fd, &c) == 0 && c.st_dev == st.st_dev && c.st_ino == st.st_ino) return fd;
  }
  return -1;
}

// Connects a record that is only read: opened for reading, and nothing is created for it, not even
// for a moment. A missing record reads as empty; one that can only be written is connected without
// a stream, and its first read reports why it cannot be read. Returns 0 or the errno of the open.
int open_to_read(Unit& u, int at, const char* file, bool exists) {
  u.readable = true;
  u.writable = false;
  if (!exists) {
    u.in.attach_text({});
    return 0;
  }
  const int fd = ::openat(at, file, O_RDONLY | O_CLOEXEC | (at == AT_FDCWD ? 0 : O_NOFOLLOW));
  if (fd < 0) {
    const int err = errno;
    if (err == EACCES && ::faccessat(at, file, W_OK, AT_EACCESS) == 0) {
      u.readable = false;
      return 0;
    }
    return err;
  }
  u.fd = fd;
  return 0;
}

// Connects a file that the run writes. A missing file is its temporary file until the close. An
// existing file of this user with no other link gets a temporary file with the file's group and
// permission bits, renamed over it at the close; where a rename cannot put it in place (the folder
// cannot be written, the file has other links, another owner, or a group this user cannot give) the
// file is rewritten in place. A file that cannot be written is connected for reading, and its
// first write is refused. Returns 0 or the errno of the failure: the file is then as it was.
int open_to_write(Unit& u, int at, const char* file, const struct stat* st) {
  u.readable = u.writable = true;
  if (st == nullptr) {
    const int fd = detail::create_temp(u, 0666);
    if (fd < 0) return errno;
    u.fd = fd;
    u.in_temp = true;
    return 0;
  }
  const bool regular = S_ISREG(st->st_mode) && at != AT_FDCWD;
  if (regular && planted_by_another(st->st_uid, at)) return EACCES;
  if (!regular || ::faccessat(at, file, W_OK, AT_EACCESS) != 0) {
    // A folder, or a file this user may not write: only its first write tells.
    u.writable = false;
    const int fd = ::openat(at, file, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno;
    u.fd = fd;
    return 0;
  }
  if (st->st_nlink <= 1 && st->st_uid == ::geteuid()) {
    const int fd = detail::create_temp(u, 0600);
    if (fd >= 0) {
      if (::fchown(fd, static_cast<uid_t>(-1), st->st_gid) == 0 && ::fchmod(fd, st->st_mode & 07777) == 0) {
        u.fd = fd;
        u.in_temp = true;
        return 0;
      }
      ::close(fd);
      ::unlinkat(u.dir_fd, u.temp, 0);
    } else if (errno != EACCES && errno != EPERM && errno != EROFS) {
      // No inode or descriptor left, or names taken: no reason to give up the whole-file promise.
      return errno;
    }
  }
  int fd = ::openat(at, file, O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    u.readable = false;
    fd = ::openat(at, file, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
  }
  if (fd < 0) return errno;
  u.fd = fd;
  u.in_place = true;
  return 0;
}

}  // namespace

void open_unit(int unit, std::string_view name, Access access) {
  assert(unit >= 0 && unit < kUnits && unit != kStderr && unit != kConsoleIn && unit != kConsoleOut);
  // Only the open that takes the name from the read's own item refuses it.
  const bool cut = name.data() == detail::name_cut;
  detail::name_cut = nullptr;
  while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  if (name.empty()) fatal(unit, Reason::null_name, 0, name);
  // A name cut inside a word would name some other file, perhaps one that exists.
  if (cut) fatal(unit, Reason::name_too_long, 0, name);
  // A name with a NUL byte would open some other file than the one typed.
  if (name.find('\0') != std::string_view::npos || name.size() >= detail::kNameMax) {
    fatal(unit, Reason::open_failed, name.size() >= detail::kNameMax ? ENAMETOOLONG : EINVAL, name);
  }
  Unit& u = units[unit];
  if (u.connected) close_unit(unit);

  {
    detail::SignalGuard guard;
    char path[detail::kNameMax];
    std::memcpy(path, name.data(), name.size());
    path[name.size()] = '\0';
    std::memcpy(u.name, name.data(), name.size());
    u.name_len = name.size();
    u.console = false;
    u.last_write = false;
    u.at_end = false;
    u.failed = false;
    u.used = 0;
    u.sent = 0;
    u.written = 0;
    u.started = false;
    u.in_temp = false;
    u.in_place = false;
    u.twin = -1;
    u.fd = -1;

    // Every symbolic link on the way is checked first, whatever the name turns out to be.
    u.dir_fd = open_final_folder(path, u.base);
    if (u.dir_fd < 0 && errno == EACCES) fatal(unit, Reason::open_failed, EACCES, name);
    struct stat st = {};
    const bool exists = ::stat(path, &st) == 0;
    if (exists && S_ISREG(st.st_mode)) u.twin = console_twin(st);
    if (exists && (u.twin >= 0 || (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)))) {
      // A FIFO, a device or the console's own file: opened by its first statement, for its direction.
      if (u.dir_fd >= 0) ::close(u.dir_fd);
      u.dir_fd = -1;
      u.readable = ::faccessat(AT_FDCWD, path, R_OK, AT_EACCESS) == 0;
      u.writable = ::faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
      if (!u.readable && !u.writable) fatal(unit, Reason::open_failed, EACCES, name);
      u.special = true;
      u.may_block = true;
    } else {
      u.special = false;
      u.may_block = false;
      if (u.dir_fd < 0) fatal(unit, Reason::open_failed, errno, name);
      if (u.base[0] == '\0') {
        // A name that ends in a slash names a folder: it is opened as named, and never rewritten.
        ::close(u.dir_fd);
        u.dir_fd = -1;
      }
      const int at = u.dir_fd >= 0 ? u.dir_fd : AT_FDCWD;
      const char* file = u.dir_fd >= 0 ? u.base : path;
      struct stat final_st = {};
      const bool found = ::fstatat(at, file, &final_st, AT_SYMLINK_NOFOLLOW) == 0;
      const bool missing = !found && errno == ENOENT;
      const int err = access == Access::read ? open_to_read(u, at, file, !missing)
                                             : open_to_write(u, at, file, found ? &final_st : nullptr);
      if (err != 0) {
        if (u.dir_fd >= 0) ::close(u.dir_fd);
        u.dir_fd = -1;
        fatal(unit, Reason::open_failed, err, name);
      }
      if (u.fd >= 0) {
        u.seekable = !::isatty(u.fd);
        u.in.attach(u.fd, nullptr);
        u.in.skip_mark();
      }
    }
    u.named = true;
    u.connected = true;
  }
  // Runs that rewrite one file in place take turns; the wait lets the signals through, since the
  // unit is settled.
  if (u.in_place) {
    while (::flock(u.fd, LOCK_EX) != 0 && errno == EINTR) {
    }
  }
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
        std::size_t len = detail::write_list_integer(text, item.integer);
        std::size_t digits = len - (item.integer < 0 ? 2u : 1u);
        if (!rec.empty() && rec.size() + digits >= kWidth) {
          detail::commit_record(unit, rec);
          rec.clear();
        }
        rec.append(text, len);
        break;
      }
      case Item::Kind::real: {
        std::size_t len = detail::write_list_double(text, item.real);
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
  detail::ReadOutcome r = detail::read_free_form(u.in, u.at_end, {slots.begin(), slots.size()}, false);
  if (r.reason != Reason::none) fatal(unit, r.reason, r.sys_errno);
}

bool read_list_or_end(int unit, std::initializer_list<Slot> slots) {
  detail::begin_statement(true, "list io");
  Unit& u = units[unit];
  detail::prepare_input(unit);
  detail::ReadOutcome r = detail::read_free_form(u.in, u.at_end, {slots.begin(), slots.size()}, true);
  if (r.reason == Reason::end_branch) return false;
  if (r.reason != Reason::none) fatal(unit, r.reason, r.sys_errno);
  return true;
}

void read_line_end(int unit) {
  detail::begin_statement(true, "list io");
  Unit& u = units[unit];
  detail::prepare_input(unit);
  if (u.at_end) return;
  detail::ReadOutcome r = detail::read_free_form(u.in, u.at_end, {}, false);
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
