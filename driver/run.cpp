// The run sequence: start-up, every stage in its fixed order, the final wait and the plain stop.
#include <sys/mman.h>

#include "driver/driver.h"
#include "textio/textio.h"

namespace wavproc {

// Constant-initialised, so it lies in zero pages that the system maps only where a stage touches
// them: nothing is cleared at start-up.
constinit RecordStore rs{};
Scalars sc;

namespace {

// Asks the system to map the record store in large pages as it is touched. A long record works on
// about 2.4 MB of it: in 4 KiB pages that is some 600 page faults, which cost more than the run's
// arithmetic, against two faults in large pages. A system that has none, or declines, maps small
// pages as before; nothing else changes.
void advise_store() {
#ifdef MADV_HUGEPAGE
  ::madvise(&rs, sizeof rs, MADV_HUGEPAGE);
#endif
}

}  // namespace

void run_stages() {
  input_stage();
  polarity_stage();
  transform_length_stage();
  forward_stage();
  bandpass_stage();
  integration_stage();
  spectrum_stage();
  inverse_stage();
  cutting_stage();
  output_stage();
  // The output file is complete and closed; the console waits for one more line before the end.
  read_line_end(kConsoleIn);
}

void run() {
  advise_store();
  start_up();
  run_stages();
  plain_stop();
}

}  // namespace wavproc
