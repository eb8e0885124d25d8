// The signal handlers and the signal-time writes: an interrupt or termination request ends the
// run with exit status 1, an arithmetic fault or an abort signal with the abnormal end, each after
// its message and the closing of every unit. Rules: a handler touches the unit table only through
// the closing's signal form, and only async-signal-safe calls run inside it; the rest of the
// program blocks these signals (SignalGuard) while it changes a unit, so a handler always finds
// the units settled.
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "textio/textio.h"
#include "textio/units.h"

namespace wavproc::detail {

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

namespace {

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

}  // namespace

// Installs the four handlers; an interrupt ignored at the start stays ignored.
void install_signal_handlers() {
  install(SIGFPE, on_arithmetic_fault);
  install(SIGABRT, on_abort);
  struct sigaction old = {};
  sigaction(SIGINT, nullptr, &old);
  if (old.sa_handler != SIG_IGN) install(SIGINT, on_interrupt);
  install(SIGTERM, on_terminate);
}

SignalGuard::SignalGuard() {
  sigset_t block;
  sigemptyset(&block);
  for (int s : kHandled) sigaddset(&block, s);
  sigprocmask(SIG_BLOCK, &block, &old_);
}

SignalGuard::~SignalGuard() { sigprocmask(SIG_SETMASK, &old_, nullptr); }

}  // namespace wavproc::detail
