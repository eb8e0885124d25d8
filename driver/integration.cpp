// The integration, double integration and differentiation stage.
#include <algorithm>

#include "driver/driver.h"
#include "textio/textio.h"

namespace wavproc {

namespace {

// Divides a line by (0, omega): one integration in time.
void integrate(cplx& line, double omega) {
  const double re = line.real(), im = line.imag();
  line = cplx(im / omega, -re / omega);
}

// Divides a line by (-omega², 0): two integrations in time.
void integrate_twice(cplx& line, double minus_omega2) {
  const double re = line.real(), im = line.imag();
  line = cplx(re / minus_omega2, im / minus_omega2);
}

// Multiplies a line by (0, omega): one differentiation in time.
void differentiate(cplx& line, double omega) {
  const double re = line.real(), im = line.imag();
  line = cplx(re * 0.0 - im * omega, im * 0.0 + re * omega);
}

// Integrates (nit 1), double-integrates (2) or differentiates (3) a line of angular frequency omega.
void operate(std::int32_t nit, cplx& line, double omega) {
  if (nit == 1) {
    integrate(line, omega);
  } else if (nit == 2) {
    integrate_twice(line, -(omega * omega));
  } else {
    differentiate(line, omega);
  }
}

// True when nit names one of the three operations.
bool is_operation(std::int32_t nit) { return nit == 1 || nit == 2 || nit == 3; }

// True when the operation nit turns a line of zeros into zeros on every line 2..nom of a grid of
// step dom. It gives NaN where it divides by a -ω² below the smallest double, or multiplies by an
// infinite ω; ω grows with the line, so the first and the last line decide.
bool keeps_zeros(std::int32_t nit, std::int32_t nom, double dom) {
  for (const std::int32_t i : {2, nom}) {
    cplx line(0.0, 0.0);
    operate(nit, line, (i - 1) * dom);
    if (line != cplx(0.0, 0.0)) return false;
  }
  return true;
}

}  // namespace

void apply_integration(const Spectra& s, std::int32_t nit) {
  if (!is_operation(nit)) return;
  for (std::int32_t i = 2; i <= s.nom; ++i) {
    const double omega = (i - 1) * s.dom;
    operate(nit, s.fx1[i], omega);
    operate(nit, s.fx2[i], omega);
    if (s.fx3 != nullptr) operate(nit, s.fx3[i], omega);
  }
}

void integration_stage() {
  prompt({});
  prompt({" Integration/Differentiation:"});
  prompt({" NO Change         :                 (Enter=0)"});
  prompt({" Integration       : Ex.) acc -> vel (Enter=1)"});
  prompt({" Double Integration: Ex.) acc -> dis (Enter=2)"});
  prompt({" Differentiation:  : Ex.) Vel -> acc (Enter=3)"});
  answer({Slot::of(sc.nit)});
  // Component 3 stays zeros unless the operation makes NaN of a zero line: then it is worked on
  // from here on, from the zeros it holds.
  if (sc.zero3 && is_operation(sc.nit) && !keeps_zeros(sc.nit, sc.nom, sc.dom)) {
    std::fill(&rs.fx3[1], &rs.fx3[sc.nf + 1], cplx(0.0, 0.0));
    sc.zero3 = false;
  }
  if (is_operation(sc.nit)) apply_integration(stored_spectra(), sc.nit);
}

}  // namespace wavproc
