// Linked only into the test build wavproc_killable: WAVPROC_KILL_AT_STEP=n ends the run by SIGKILL
// at the n-th write of a file's block or placing of a rewritten file, the moments at which a kill
// from outside (a closed terminal, a power loss) can meet a file half written;
// WAVPROC_STOP_AT_STEP=n stops the run (SIGSTOP) there instead, for a test to send a signal then.
#include <csignal>
#include <cstdlib>

#include "textio/textio_detail.h"

namespace {

long kill_at = 0;
long stop_at = 0;
long steps = 0;

void count_step() {
  ++steps;
  if (steps == kill_at) std::raise(SIGKILL);
  if (steps == stop_at) std::raise(SIGSTOP);
}

long step_from(const char* variable) {
  const char* n = std::getenv(variable);
  return n != nullptr ? std::atol(n) : 0;
}

const bool installed = [] {
  kill_at = step_from("WAVPROC_KILL_AT_STEP");
  stop_at = step_from("WAVPROC_STOP_AT_STEP");
  if (kill_at > 0 || stop_at > 0) wavproc::detail::file_step = count_step;
  return true;
}();

}  // namespace
