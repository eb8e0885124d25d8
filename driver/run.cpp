// The run sequence: start-up, every stage in its fixed order, the final wait and the plain stop; and
// where the stages' answers come from: the console, or the command line's choices.
#include <sys/mman.h>

#include <algorithm>

#include "driver/driver.h"
#include "textio/textio.h"

namespace wavproc {

// Constant-initialised, so it lies in zero pages that the system maps only where a stage touches
// them: nothing is cleared at start-up.
constinit RecordStore rs{};
Scalars sc;
const Choices* choices = nullptr;

namespace {

// Asks the system to map the record store in large pages as it is touched. A long record works on
// about 2.4 MB of it: in 4 KiB pages that is some 600 page faults, which cost more than the run's
// arithmetic, against two faults in large pages. A system that has none, or declines, maps small
// pages as before; nothing else changes. The record layer's blocks are lent room in the store for
// the same reason: from the heap, each would cost sixteen faults as it fills.
void advise_store() {
#ifdef MADV_HUGEPAGE
  ::madvise(&rs, sizeof rs, MADV_HUGEPAGE);
#endif
  lend_block_room(rs.blocks);
}

// What a process does once before its first run: the store, the console units and signals, and the
// second thread, which takes a while to start running: started now, it is ready by the first stage
// that splits its work.
void start_process() {
  advise_store();
  start_up();
  (void)second_thread_free();
}

// Sets the answer scalars as the dialogue's equivalent answers would: --flip 1 is a yes to the
// polarity question, yes for FILE 1, no for FILE 2 and FILE 3; --skip N is the skip answer N.
void take_answers(const Choices& c) {
  sc.myes = c.flip1 || c.flip2 ? 1 : 0;
  sc.my1 = c.flip1 ? 1 : 0;
  sc.my2 = c.flip2 ? 1 : 0;
  sc.my3 = 0;
  sc.nbd = c.bandpass ? 1 : 0;
  sc.fl1 = c.fl1;
  sc.fl2 = c.fl2;
  sc.fh1 = c.fh1;
  sc.fh2 = c.fh2;
  sc.nit = c.nit;
  sc.icut = c.cut ? 1 : 0;
  sc.stime = c.stime;
  sc.cutdur = c.cutdur;
  sc.iskip = c.skip;
}

// Clears what a run that ended with status 0 left in the store and the scalars. Such a run wrote
// no array past index max(nf, ndur) + 1: its rows, with the statement that met the end of the
// record, reach nt + 1, and nt <= nf for a record it transformed. Component 3 was written only
// where zero3 was cleared.
void clear_run_state() {
  const auto n = static_cast<std::size_t>(std::min(std::max(sc.nf, sc.ndur) + 1, mom)) + 1;
  for (double* a : {rs.time, rs.xr1, rs.xr2, rs.x1, rs.x2}) std::fill(a, a + n, 0.0);
  for (cplx* a : {rs.fx1, rs.fx2}) std::fill(a, a + n, cplx());
  if (!sc.zero3) {
    for (double* a : {rs.xr3, rs.x3}) std::fill(a, a + n, 0.0);
    std::fill(rs.fx3, rs.fx3 + n, cplx());
  }
  sc = Scalars{};
}

}  // namespace

void prompt(std::initializer_list<Item> items) {
  if (choices == nullptr) write_list(kConsoleOut, items);
}

void report(std::initializer_list<Item> items) {
  if (choices == nullptr || !choices->quiet) write_list(kConsoleOut, items);
}

void answer(std::initializer_list<Slot> slots) {
  if (choices == nullptr) read_list(kConsoleIn, slots);
}

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
  // The output file is complete and closed; the dialogue waits for one more line before the end.
  if (choices == nullptr) read_line_end(kConsoleIn);
}

void run(const Choices* given) {
  choices = given;
  if (given != nullptr) take_answers(*given);
  start_process();
  run_stages();
  plain_stop();
}

void run_in_turn() {
  static const bool started = [] {
    start_process();
    return true;
  }();
  (void)started;
  choices = nullptr;
  start_next_run();
  run_stages();
  close_every_unit();
  clear_run_state();
}

}  // namespace wavproc
