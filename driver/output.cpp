// The inverse transform, the time window cutting, and the decimated output waveform file.
#include <algorithm>
#include <cmath>
#include <limits>

#include "driver/driver.h"
#include "fft/fft.h"
#include "textio/textio.h"

namespace wavproc {

namespace {

const Format kAskOutput{"(/,1X,'Enter output file name of waveform (csv format file)')"};
const Format kWaveRow{"(F6.3,4(',',F12.4))"};

// Sets lines nf/2+2..nf to the conjugates of lines nf/2..2: the spectrum of a real record.
void mirror(cplx* fx, std::int32_t nf) {
  for (std::int32_t i = 2; i <= nf / 2; ++i) fx[nf + 2 - i] = std::conj(fx[i]);
}

// A quotient of seconds by dt as a sample count: truncated toward zero, saturated to 32 bits
// (NaN counts as 0), so a wild answer cannot make the conversion undefined.
std::int32_t samples(double q) {
  if (std::isnan(q)) return 0;
  if (q >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
  if (q <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
  return static_cast<std::int32_t>(q);
}

// A component back in time: fx mirrored and transformed backward, its real parts divided by dur
// into xr (entries 1..nf), and entries 1..nt copied into x.
void transform_back(cplx* fx, double* xr, double* x) {
  mirror(fx, sc.nf);
  wvfast(sc.nf, &fx[1], mom, +1);
  for (std::int32_t i = 1; i <= sc.nf; ++i) xr[i] = fx[i].real() / sc.dur;
  std::copy(&xr[1], &xr[sc.nt + 1], &x[1]);
}

}  // namespace

void inverse_stage() {
  // The components are independent: the second one goes back on the second thread, which ends it
  // while the questions that follow are asked (await_component_2).
  run_beside([](void*) { transform_back(rs.fx2, rs.xr2, rs.x2); }, nullptr);
  transform_back(rs.fx1, rs.xr1, rs.x1);
  // Zeros transformed back and divided by a finite dur are zeros.
  if (!sc.zero3) transform_back(rs.fx3, rs.xr3, rs.x3);
}

void cutting_stage() {
  prompt({});
  prompt({"Cutting data? (No=0,Yes=1)"});
  answer({Slot::of(sc.icut)});
  if (sc.icut != 1) return;
  prompt({"Enter Starting Time (sec)"});
  answer({Slot::of(sc.stime)});
  sc.nstime = samples(sc.stime / sc.dt);
  report({"Number of Cutting Data =", sc.nstime});
  prompt({"Enter Duration (sec)"});
  answer({Slot::of(sc.cutdur)});
  // The window never leaves the store: at most mom samples, and sources outside it count as zeros.
  sc.ndur = static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{samples(sc.cutdur / sc.dt)} + 1, mom));
  report({"Number of data =", sc.ndur});
  await_component_2();
  for (std::int32_t i = 1; i <= sc.ndur; ++i) {
    const std::int64_t s = std::int64_t{i} + sc.nstime;
    if (s <= 0 || s > mom) {
      rs.x1[i] = rs.x2[i] = 0.0;
      if (!sc.zero3) rs.x3[i] = 0.0;
    } else {
      rs.x1[i] = rs.xr1[s];
      rs.x2[i] = rs.xr2[s];
      if (!sc.zero3) rs.x3[i] = rs.xr3[s];
    }
  }
  sc.nt = sc.ndur;
  report({"New nt =", sc.nt});
}

void output_stage() {
  prompt({});
  prompt({"Skip Data (no=0; yes=skip number)?"});
  answer({Slot::of(sc.iskip)});
  // A negative answer writes every sample: the step is never zero or negative.
  sc.iskip = std::max(sc.iskip, 0);
  if (sc.iskip < std::numeric_limits<std::int32_t>::max()) sc.iskip = sc.iskip + 1;
  open_answered_file(kAskOutput, sc.outfile, choices != nullptr ? choices->output : std::string_view(), Access::write);
  write_list(kFileUnit, {"time(s),", std::string_view(sc.head2, 20), ",", std::string_view(sc.head3, 20)});
  // Samples 1, 1 + iskip, 1 + 2·iskip, ... up to nt. Component 3's field, zero on every row when
  // its arrays are all zeros, is written once.
  const std::int64_t rows = sc.nt >= 1 ? (std::int64_t{sc.nt} - 1) / sc.iskip + 1 : 0;
  await_component_2();
  write_formatted_rows(kFileUnit, kWaveRow, rows, 4, [](std::int64_t row, double* items) {
    const std::int64_t i = 1 + row * sc.iskip;
    items[0] = static_cast<double>(i - 1) * sc.dt;
    items[1] = rs.x1[i];
    items[2] = rs.x2[i];
    items[3] = sc.zero3 ? 0.0 : rs.x3[i];
  }, sc.zero3 ? 1u << 3 : 0u);
  close_unit(kFileUnit);
}

}  // namespace wavproc
