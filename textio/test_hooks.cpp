// The hooks by which the test and fuzz programs step into a run: compiled only into the libraries
// built for them (WAVPROC_TEST_HOOKS), never into the shipped program.
#include "textio/textio_detail.h"
#include "textio/units.h"

namespace wavproc::detail {

void (*end_of_run)(int status) = nullptr;
void (*file_step)() = nullptr;

bool only_consoles_connected() {
  for (int unit = 0; unit < kUnits; ++unit) {
    const Unit& u = units[unit];
    if (was_touched(unit) && u.kind != Stream::none && u.kind != Stream::console) return false;
  }
  return true;
}

}  // namespace wavproc::detail
