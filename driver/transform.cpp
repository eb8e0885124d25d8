// The transform-length stage, the forward transform and scaling, and the amplitude spectrum file.
#include <algorithm>
#include <cmath>

#include "driver/driver.h"
#include "fft/fft.h"
#include "textio/textio.h"

namespace wavproc {

namespace {

const Format kSpectrumRow{"(F8.4,6(',',E12.4))"};

// Loads samples 1..nt of a component as real parts and pads the rest up to nf with zeros.
void load(cplx* fx, const double* xr, std::int32_t nt, std::int32_t nf) {
  for (std::int32_t i = 1; i <= nt; ++i) fx[i] = cplx(xr[i], 0.0);
  for (std::int32_t i = nt + 1; i <= nf; ++i) fx[i] = cplx(0.0, 0.0);
}

// Multiplies lines 1..nf by (dt, 0) as a complex product, so the spectrum carries seconds.
void scale(cplx* fx, std::int32_t nf, double dt) {
  for (std::int32_t i = 1; i <= nf; ++i) {
    const double re = fx[i].real(), im = fx[i].imag();
    fx[i] = cplx(re * dt - im * 0.0, im * dt + re * 0.0);
  }
}

// The spectrum of a component: loaded from xr, padded, transformed forward and scaled by dt.
void transform_forward(cplx* fx, const double* xr) {
  load(fx, xr, sc.nt, sc.nf);
  wvfast(sc.nf, &fx[1], mom, -1);
  scale(fx, sc.nf, sc.dt);
}

}  // namespace

void transform_length_stage() {
  sc.nf = 2;
  bool fits = false;
  for (std::int32_t i = 2; i <= kLongestPower; ++i) {
    sc.nf = 2 * sc.nf;
    if (sc.nf >= sc.nt) {
      sc.if1 = i;
      fits = true;
      break;
    }
  }
  // A refused record writes no file and must not look like a success to a calling script.
  if (!fits) {
    write_list(kConsoleOut, {" NT>2**15 !!!!!"});
    refusal_stop();
  }
  if (sc.nt < 2) {
    write_list(kConsoleOut, {" NT<2 !!!!!"});
    refusal_stop();
  }
  // The frequency grid needs a finite positive step, and so does every later division by dt.
  const double dur = sc.nf * sc.dt;
  if (!(sc.dt > 0.0) || !std::isfinite(dur) || !std::isfinite(kTwoPi / dur)) {
    write_list(kConsoleOut, {" DT out of range !!!!!"});
    refusal_stop();
  }
  prompt({});
  report({" IF1,NF=", sc.if1, sc.nf});
}

Spectra stored_spectra() {
  await_component_2();
  return {rs.fx1, rs.fx2, sc.zero3 ? nullptr : rs.fx3, sc.nom, sc.dom};
}

void await_component_2() { finish_beside(); }

void forward_stage() {
  sc.dur = sc.nf * sc.dt;
  // The components are independent: the second one is transformed on the second thread, which
  // starts on it some 0.1 ms after this one starts on the first; the questions that follow are
  // asked meanwhile, and the stages after them wait for it (await_component_2).
  run_beside([](void*) { transform_forward(rs.fx2, rs.xr2); }, nullptr);
  transform_forward(rs.fx1, rs.xr1);
  // The transform of zeros, scaled by a finite dt, is zeros.
  if (!sc.zero3) transform_forward(rs.fx3, rs.xr3);
  sc.dom = kTwoPi / sc.dur;
  sc.nom = sc.nf / 2 + 1;
  sc.eom = sc.nom * sc.dom;
  prompt({});
  report({" DUR,DOM,NOM,EOM=", sc.dur, sc.dom, sc.nom, sc.eom});
  report({" Highest Frequency (hz)=", sc.eom / kTwoPi});
}

void spectrum_stage() {
  prompt({});
  prompt({"Fourier Spectrum data are stored in \"amp2.csv\""});
  open_unit(kSpectrumUnit, choices != nullptr ? std::string_view(choices->spectrum) : "amp2.csv");
  write_list(kSpectrumUnit, {"frequency(Hz),", std::string_view(sc.head2, 20), ",", std::string_view(sc.head3, 20)});
  await_component_2();
  // Lines 2 to nom.
  const std::int64_t rows = std::max(std::int64_t{sc.nom} - 1, std::int64_t{0});
  write_formatted_rows(kSpectrumUnit, kSpectrumRow, rows, 3, [](std::int64_t row, double* items) {
    const auto i = static_cast<std::int32_t>(row + 2);
    items[0] = ((i - 1) * sc.dom) / kTwoPi;
    modulus_pair(rs.fx1[i], rs.fx2[i], &items[1]);
  });
  // Its wait for the disk runs beside the inverse transforms and the waveform file's rows.
  close_unit_beside(kSpectrumUnit);
}

}  // namespace wavproc
