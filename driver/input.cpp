// The input file stage and the polarity reversal.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <span>

#include "driver/driver.h"
#include "textio/textio.h"

namespace wavproc {

namespace {

const Format kAskInput{"(1X,/,'Enter input file of waveform data')"};
const Format kName{"(A30)"};

// Changes the sign of samples 1..nt of a component, never past the store.
void reverse(double* x, std::int32_t nt) {
  const std::int32_t n = std::min(nt, mom);
  for (std::int32_t i = 1; i <= n; ++i) x[i] = -x[i];
}

}  // namespace

void open_answered_file(const Format& ask, char (&name)[30], std::string_view given, Access access) {
  if (choices != nullptr) {
    open_unit(kFileUnit, given, access);
    return;
  }
  write_formatted(kConsoleOut, ask, {});
  // A name cut inside a word would name some other file, perhaps one that exists.
  if (read_formatted_text(kConsoleIn, kName, name, 30)) fatal(kFileUnit, Reason::name_too_long, 0, {name, 30});
  open_unit(kFileUnit, {name, 30}, access);
}

void input_stage() {
  open_answered_file(kAskInput, sc.infile, choices != nullptr ? choices->record : std::string_view(), Access::read);

  // Header items that the read leaves unfilled (a slash, a null value) are written later as
  // column names: blanks keep those columns clean.
  std::memset(sc.head1, ' ', sizeof sc.head1);
  std::memset(sc.head2, ' ', sizeof sc.head2);
  std::memset(sc.head3, ' ', sizeof sc.head3);
  read_list(kFileUnit, {Slot::of(sc.head1), Slot::of(sc.head2), Slot::of(sc.head3)});

  // Rows past the store are read and counted but not kept: the count is reported, and the
  // transform-length stage then refuses the record as too long. A long record's rows are read on
  // two threads, the second one's kept meanwhile in the first spectrum array, which is all zero
  // until the forward stage and which the read leaves all zero.
  double spare_time = 0.0, spare1 = 0.0, spare2 = 0.0;
  const std::span<double> room(reinterpret_cast<double*>(rs.fx1), 2 * std::size(rs.fx1));
  const std::int64_t rows = read_list_rows(kFileUnit, 3, [&](std::int64_t row, Slot* slots) {
    const std::int64_t i = row + 1;
    if (i <= mom) {
      slots[0] = Slot::of(rs.time[i]);
      slots[1] = Slot::of(rs.xr1[i]);
      slots[2] = Slot::of(rs.xr2[i]);
    } else {
      slots[0] = Slot::of(spare_time);
      slots[1] = Slot::of(spare1);
      slots[2] = Slot::of(spare2);
    }
  }, room);
  close_unit(kFileUnit);
  // Records carry two components; xr3 stays as the store began, all zeros, and is not touched.
  sc.zero3 = true;

  sc.nt = static_cast<std::int32_t>(std::min<std::int64_t>(rows, std::numeric_limits<std::int32_t>::max()));
  sc.dt = rs.time[2] - rs.time[1];
  prompt({});
  report({"NT and DT=", sc.nt, sc.dt});
}

void polarity_stage() {
  prompt({});
  prompt({" Change +/-? (YES=1)?? :"});
  answer({Slot::of(sc.myes)});
  if (sc.myes != 1) return;

  prompt({});
  prompt({" Change from + to - of FILE 1 ? (YES=1)?? :"});
  answer({Slot::of(sc.my1)});
  if (sc.my1 == 1) reverse(rs.xr1, sc.nt);
  prompt({" Change from + to - of FILE 2 ? (YES=1)?? :"});
  answer({Slot::of(sc.my2)});
  if (sc.my2 == 1) reverse(rs.xr2, sc.nt);
  prompt({" Change from + to - of FILE 3 ? (YES=1)?? :"});
  answer({Slot::of(sc.my3)});
  // Negated zeros are zeros.
  if (sc.my3 == 1 && !sc.zero3) reverse(rs.xr3, sc.nt);
}

}  // namespace wavproc
