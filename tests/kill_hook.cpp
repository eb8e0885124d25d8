// Linked only into the test build wavproc_killable: WAVPROC_KILL_AT_STEP=n ends the run by SIGKILL
// at the n-th write of a file's block or placing of a rewritten file, the moments at which a kill
// from outside (a closed terminal, a power loss) can meet a file half written.
#include <csignal>
#include <cstdlib>

#include "textio/textio_detail.h"

namespace {

long kill_at = 0;
long steps = 0;

void count_step() {
  if (++steps == kill_at) std::raise(SIGKILL);
}

const bool installed = [] {
  if (const char* n = std::getenv("WAVPROC_KILL_AT_STEP")) {
    kill_at = std::atol(n);
    wavproc::detail::file_step = count_step;
  }
  return true;
}();

}  // namespace
