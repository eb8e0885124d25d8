// The fatal run-time error report: its four lines, the closing, and the abnormal end.
#include <unistd.h>

#include <charconv>
#include <csignal>
#include <cstdlib>
#include <cstring>

#include "textio/textio.h"
#include "textio/units.h"

namespace wavproc {

namespace {

// Appends text to out at len, never past cap.
void put(char* out, std::size_t& len, std::size_t cap, std::string_view text) {
  std::size_t n = text.size() < cap - len ? text.size() : cap - len;
  std::memcpy(out + len, text.data(), n);
  len += n;
}

void write_stderr(const char* text, std::size_t len) {
  while (len > 0) {
    ssize_t n = ::write(2, text, len);
    if (n <= 0) return;
    text += n;
    len -= static_cast<std::size_t>(n);
  }
}

}  // namespace

std::size_t reason_text(char* out, Reason reason, int sys_errno) {
  constexpr std::size_t cap = 160;
  std::size_t len = 0;
  std::string_view fixed;
  std::string_view system_prefix;
  switch (reason) {
    case Reason::none:
    case Reason::end_branch: fixed = "no error"; break;
    case Reason::list_eof: fixed = "list in: end of file"; break;
    case Reason::start_eof: fixed = "read start: end of file"; break;
    case Reason::fmt_eof: fixed = "fmt: end of file"; break;
    case Reason::null_name: fixed = "open: null file name"; break;
    case Reason::name_too_long: fixed = "open: file name longer than 30 characters"; break;
    case Reason::truncation: fixed = "endfile: truncation failed in endfile"; break;
    case Reason::invalid_number: fixed = "invalid number: incomprehensible list input"; break;
    case Reason::bad_repeat: fixed = "bad repetition count: incomprehensible list input"; break;
    case Reason::bad_exponent: fixed = "exponent field: incomprehensible list input"; break;
    case Reason::invalid_integer: fixed = "invalid integer: read unexpected character"; break;
    case Reason::integer_range: fixed = "invalid integer: value out of 32-bit range"; break;
    case Reason::out_of_memory: fixed = "malloc failure: out of free space"; break;
    case Reason::cant_write: fixed = "list output start: can't write file"; break;
    case Reason::open_failed: system_prefix = "open: "; break;
    case Reason::read_failed: system_prefix = "list in: "; break;
    case Reason::write_failed: system_prefix = "write: "; break;
    case Reason::sync_failed: system_prefix = "sync: "; break;
    case Reason::close_failed: system_prefix = "close: "; break;
  }
  if (!fixed.empty()) {
    put(out, len, cap, fixed);
    return len;
  }
  put(out, len, cap, system_prefix);
  put(out, len, cap, std::strerror(sys_errno));
  return len;
}

void fatal(int unit, Reason reason, int sys_errno, std::string_view open_name) {
  static volatile bool reporting = false;
  // A file whose placing was under way was closed before this statement: its failure comes first.
  if (!reporting) detail::settle_placing();
  detail::SignalGuard guard;
  // Room for the longest name a unit keeps, next to the fixed texts.
  char line[512 + detail::kPathMax];
  std::size_t len = reason_text(line, reason, sys_errno);
  line[len++] = '\n';
  if (reporting) {
    static const char note[] = "a second fatal error arose while the first was reported; aborting\n";
    write_stderr(line, len);
    write_stderr(note, sizeof note - 1);
    std::signal(SIGABRT, SIG_DFL);
    std::abort();
  }
  reporting = true;

  // What the console was shown comes before the report, also where both go to one terminal.
  detail::Unit& out = detail::units[kConsoleOut];
  if (out.kind != detail::Stream::none) (void)detail::flush_unit(out);

  const detail::Unit& u = detail::units[unit];
  constexpr std::size_t cap = sizeof line;
  put(line, len, cap, "apparent state: unit ");
  char number[12];
  auto [end, ec] = std::to_chars(number, number + sizeof number, unit);
  (void)ec;
  put(line, len, cap, {number, static_cast<std::size_t>(end - number)});
  if (open_name.data() != nullptr) {
    put(line, len, cap, " named ");
    put(line, len, cap, open_name);
  } else if (u.kind != detail::Stream::none && u.kind != detail::Stream::console) {
    put(line, len, cap, " named ");
    put(line, len, cap, {u.name, u.name_len});
  } else {
    put(line, len, cap, " (unnamed)");
  }
  put(line, len, cap, "\n");
  if (!detail::last_format.empty()) {
    put(line, len, cap, "last format: ");
    put(line, len, cap, detail::last_format);
    put(line, len, cap, "\n");
  }
  put(line, len, cap, detail::lately_reading ? "lately reading sequential formatted external IO\n"
                                             : "lately writing sequential formatted external IO\n");
  write_stderr(line, len);

  detail::close_all();
#ifdef WAVPROC_TEST_HOOKS
  if (detail::end_of_run != nullptr) {
    reporting = false;
    detail::end_of_run(-1);
  }
#endif
  std::signal(SIGABRT, SIG_DFL);
  std::abort();
}

}  // namespace wavproc
