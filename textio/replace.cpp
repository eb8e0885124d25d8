// The whole-file replacement: a file that a run writes gets its new text in a temporary file in its
// folder, which is put on the disk and put in the file's place at the close (swapped with it, the
// older file then removed), so that the file's name always holds a whole file; only where a rename
// cannot work is the file rewritten in place.
//
// The life of a written file, one unit's connection:
//
//   open ──(missing, or ours with one link, the folder writable)──> temporary file made (O_EXCL)
//     │                                                                │ first write: started
//     │                                                                v
//     │                      close: sync, close ──ok──> swapped with the file   (whole new file)
//     │                                        └─failed──> temporary removed  (older file stays)
//     │                      close or a handled signal before any write: temporary removed
//     │                      a kill: older file stays, the temporary file may remain
//     │
//     ├─(folder not writable, other links, another owner, a group we cannot give)─> in place:
//     │      exclusive lock ── first write: emptied ── close: cut at what was written, unlocked
//     │
//     └─(any other failure to make the temporary file)──> the open's fatal report, file unchanged
//
// Rules: the temporary name is unpredictable and made only if free; a symbolic link or a file of
// another user in a sticky folder writable by everyone is never followed or written; nothing
// whose sync or close failed is put in place. put_in_place and cut_at_written are safe inside a
// signal handler.
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstring>

#include "textio/textio.h"
#include "textio/units.h"

namespace wavproc {
namespace detail {

bool sync_before_rename = true;

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

}  // namespace

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
  if (u.kind == Stream::in_place && (::lseek(u.fd, 0, SEEK_SET) < 0 || ::ftruncate(u.fd, 0) != 0)) {
    fatal(unit, Reason::truncation, errno);
  }
  u.started = true;
}

namespace {

// Puts the file temp in place of the file base, both in the folder dir, as one step: false with
// errno set when it cannot. The two names are swapped, and the older file, now under temp, is left
// there for remove_older (*older set); a plain rename over base instead makes ext4 start writing the
// new file to the disk there and then (its guard for programs that do not sync), which costs a long
// record's run more than a millisecond when the file is not synced. Where there is no older file,
// or no swap (another file system), or base is a folder, it is the plain rename. Safe inside a
// signal handler.
bool swap_in(int dir, const char* temp, const char* base, bool* older) {
#ifdef RENAME_EXCHANGE
  if (::renameat2(dir, temp, dir, base, RENAME_EXCHANGE) == 0) {
    struct stat st = {};
    if (::fstatat(dir, temp, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode)) {
      *older = true;
      return true;
    }
    // A folder came to stand at the name after the open: swapped back, the rename refuses it.
    ::renameat2(dir, temp, dir, base, RENAME_EXCHANGE);
  }
#endif
  return ::renameat(dir, temp, dir, base) == 0;
}

}  // namespace

// Removes the older file that a swap left under temp; where the system refuses, the new file is
// swapped back and renamed over it instead, so that base holds the new file either way.
void remove_older(int dir, const char* temp, const char* base) {
  at_file_step();
  if (::unlinkat(dir, temp, 0) == 0) return;
#ifdef RENAME_EXCHANGE
  ::renameat2(dir, temp, dir, base, RENAME_EXCHANGE);
#endif
  ::renameat(dir, temp, dir, base);
}

// Puts a replaced file's temporary file in place of the file, or removes it when nothing was
// written, and closes the stream; returns Reason::none, or the reason with *sys_errno set. Unless
// the caller gave up the wait, the content is on the disk before the rename, so that after a power
// loss the name holds the older file or the new one. A temporary file whose sync or close failed
// holds text the system may not keep: it is removed, and the older file stays. With older, a
// swapped-out older file is left under the temporary name for the caller's remove_older (*older
// set). Safe inside a signal handler.
Reason put_in_place(Unit& u, int* sys_errno, bool* older) {
  Reason reason = Reason::none;
  bool swapped = false;
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
    at_file_step();
    if (reason != Reason::none) {
      ::unlinkat(u.dir_fd, u.temp, 0);
    } else if (!swap_in(u.dir_fd, u.temp, u.base, &swapped)) {
      reason = Reason::write_failed;
      *sys_errno = errno;
    }
  }
  u.fd = -1;
  if (older != nullptr) {
    *older = swapped;
  } else if (swapped) {
    remove_older(u.dir_fd, u.temp, u.base);
  }
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
  // A path's last part longer than the system takes names no file that can be opened.
  if (std::strlen(name) >= kNameMax) {
    errno = ENAMETOOLONG;
    return -1;
  }
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
    if (next < 0 || std::strlen(name) >= kNameMax) {
      if (next >= 0) ::close(next);
      errno = err;
      return -1;
    }
    dir = next;
    std::strcpy(base, name);
  }
  return dir;
}

// Connects a file that the run writes. A missing file is its temporary file until the close. An
// existing file of this user with no other link gets a temporary file with the file's group and
// permission bits, put in its place at the close; where a rename cannot put it in place (the folder
// cannot be written, the file has other links, another owner, or a group this user cannot give) the
// file is rewritten in place. A file that cannot be written is connected for reading, and its
// first write is refused. Returns 0 or the errno of the failure: the file is then as it was.
int open_to_write(Unit& u, int at, const char* file, const struct stat* st) {
  u.readable = u.writable = true;
  if (st == nullptr) {
    const int fd = create_temp(u, 0666);
    if (fd < 0) return errno;
    u.fd = fd;
    u.kind = Stream::replacement;
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
    u.kind = Stream::record;
    return 0;
  }
  if (st->st_nlink <= 1 && st->st_uid == ::geteuid()) {
    const int fd = create_temp(u, 0600);
    if (fd >= 0) {
      if (::fchown(fd, static_cast<uid_t>(-1), st->st_gid) == 0 && ::fchmod(fd, st->st_mode & 07777) == 0) {
        u.fd = fd;
        u.kind = Stream::replacement;
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
  u.kind = Stream::in_place;
  return 0;
}

}  // namespace detail

void set_sync_before_rename(bool sync) { detail::sync_before_rename = sync; }

}  // namespace wavproc
