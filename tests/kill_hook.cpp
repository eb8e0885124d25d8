// Linked only into the test build wavproc_killable: the moments at which a file can meet a fault
// from outside, made to happen on request. WAVPROC_KILL_AT_STEP=n ends the run by SIGKILL, and
// WAVPROC_STOP_AT_STEP=n stops it (SIGSTOP), at the n-th write of a file's block or placing of a
// rewritten file. WAVPROC_FAIL=sync or WAVPROC_FAIL=close makes the disk refuse a temporary file at
// its sync or at its close (EIO), as a failing disk does.
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string>

#include "textio/textio_detail.h"

namespace {

long kill_at = 0;
long stop_at = 0;
std::atomic<long> steps{0};  // the file thread takes steps too
bool fail_sync = false;
bool fail_close = false;

void count_step() {
  const long step = ++steps;
  if (step == kill_at) ::kill(::getpid(), SIGKILL);
  if (step == stop_at) ::kill(::getpid(), SIGSTOP);
}

const bool installed = [] {
  if (const char* n = std::getenv("WAVPROC_KILL_AT_STEP")) kill_at = std::atol(n);
  if (const char* n = std::getenv("WAVPROC_STOP_AT_STEP")) stop_at = std::atol(n);
  if (kill_at > 0 || stop_at > 0) wavproc::detail::file_step = count_step;
  if (const char* f = std::getenv("WAVPROC_FAIL")) {
    fail_sync = std::strcmp(f, "sync") == 0;
    fail_close = std::strcmp(f, "close") == 0;
  }
  return true;
}();

// True when fd is a temporary file of the program (its name holds ".wavproc-").
bool is_temporary(int fd) {
  char link[64];
  char target[4096];
  const std::string path = "/proc/self/fd/" + std::to_string(fd);
  std::strcpy(link, path.c_str());
  const ssize_t n = ::readlink(link, target, sizeof target - 1);
  if (n <= 0) return false;
  target[n] = '\0';
  return std::strstr(target, ".wavproc-") != nullptr;
}

}  // namespace

// The program's own fdatasync and close stand in for the C library's in this build.
extern "C" int fdatasync(int fd) {
  if (fail_sync) {
    errno = EIO;
    return -1;
  }
  return static_cast<int>(::syscall(SYS_fdatasync, fd));
}

extern "C" int close(int fd) {
  const bool refuse = fail_close && is_temporary(fd);
  const int rc = static_cast<int>(::syscall(SYS_close, fd));
  if (refuse && rc == 0) {
    errno = EIO;
    return -1;
  }
  return rc;
}
