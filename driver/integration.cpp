// The integration, double integration and differentiation stage.
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

}  // namespace

void apply_integration(std::int32_t nit) {
  if (nit != 1 && nit != 2 && nit != 3) return;
  for (std::int32_t i = 2; i <= sc.nom; ++i) {
    const double omega = (i - 1) * sc.dom;
    if (nit == 1) {
      integrate(rs.fx1[i], omega);
      integrate(rs.fx2[i], omega);
      integrate(rs.fx3[i], omega);
    } else if (nit == 2) {
      const double minus_omega2 = -(omega * omega);
      integrate_twice(rs.fx1[i], minus_omega2);
      integrate_twice(rs.fx2[i], minus_omega2);
      integrate_twice(rs.fx3[i], minus_omega2);
    } else {
      differentiate(rs.fx1[i], omega);
      differentiate(rs.fx2[i], omega);
      differentiate(rs.fx3[i], omega);
    }
  }
}

void integration_stage() {
  write_list(kConsoleOut, {});
  write_list(kConsoleOut, {" Integration/Differentiation:"});
  write_list(kConsoleOut, {" NO Change         :                 (Enter=0)"});
  write_list(kConsoleOut, {" Integration       : Ex.) acc -> vel (Enter=1)"});
  write_list(kConsoleOut, {" Double Integration: Ex.) acc -> dis (Enter=2)"});
  write_list(kConsoleOut, {" Differentiation:  : Ex.) Vel -> acc (Enter=3)"});
  read_list(kConsoleIn, {Slot::of(sc.nit)});
  apply_integration(sc.nit);
}

}  // namespace wavproc
