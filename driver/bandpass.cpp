// The trapezoidal band-pass filter stage.
#include <cmath>

#include "driver/driver.h"
#include "textio/textio.h"

namespace wavproc {

namespace {

// Multiplies a line by (aa, 0) as a complex product, zeroed lines included.
void multiply(cplx& line, double aa) {
  const double re = line.real(), im = line.imag();
  line = cplx(aa * re - 0.0 * im, aa * im + 0.0 * re);
}

}  // namespace

void apply_bandpass(const Spectra& s, double fl1, double fl2, double fh1, double fh2) {
  const double oml1 = fl1 * kTwoPi, oml2 = fl2 * kTwoPi;
  const double omh1 = fh1 * kTwoPi, omh2 = fh2 * kTwoPi;
  // Zeros times a finite gain are zeros: component 3 is left alone while it is known to be zeros.
  const bool third = s.fx3 != nullptr;
  for (std::int32_t i = 1; i <= s.nom; ++i) {
    const double omega = (i - 1) * s.dom;
    if (omega <= oml1 || omega >= omh2) {
      s.fx1[i] = s.fx2[i] = cplx(0.0, 0.0);
      if (third) s.fx3[i] = cplx(0.0, 0.0);
    }
    double aa = 1.0;
    if (omega < oml2) aa = (omega - oml1) / (oml2 - oml1);
    if (omega > omh1) aa = (omh2 - omega) / (omh2 - omh1);
    // A ramp of zero width divides by zero, but only for lines already set to zero beyond its
    // corner: keep them zero instead of letting 0·inf turn them into NaN.
    if (!std::isfinite(aa)) aa = 0.0;
    multiply(s.fx1[i], aa);
    multiply(s.fx2[i], aa);
    if (third) multiply(s.fx3[i], aa);
  }
}

void bandpass_stage() {
  prompt({});
  prompt({" Band Pass Filter? (YES=1)?? :"});
  answer({Slot::of(sc.nbd)});
  if (sc.nbd != 1) return;
  prompt({});
  prompt({"  TRAPEZOIDAL BAND PATH FILTER"});
  prompt({"  ENTER fL1<fL2<fH1<fH2 (Hz)"});
  answer({Slot::of(sc.fl1), Slot::of(sc.fl2), Slot::of(sc.fh1), Slot::of(sc.fh2)});
  apply_bandpass(stored_spectra(), sc.fl1, sc.fl2, sc.fh1, sc.fh2);
}

}  // namespace wavproc
