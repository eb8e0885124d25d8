// The run sequence: start-up, every stage in its fixed order, the final wait and the plain stop.
#include "driver/driver.h"
#include "textio/textio.h"

namespace wavproc {

// Constant-initialised, so it lies in zero pages that the system maps only where a stage touches
// them: nothing is cleared at start-up, and a short record never touches the tails of the arrays.
constinit RecordStore rs{};
Scalars sc;

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
  start_up();
  run_stages();
  plain_stop();
}

}  // namespace wavproc
