// Fuzzes the field renderers with arbitrary doubles and with values shaped like the hard cases
// (ties, carries, the limits of the program's fields): Fw.d and Ew.d in the widths the two output
// files use (the general writers and the ones made for those shapes) and in any width the renderers
// accept, and the free-form texts of doubles and integers.
// Every text is checked against one built independently from the C library's exact conversion.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include "field_reference.h"
#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace {

struct Field {
  bool exp;
  int w;
  int d;
};

// The fields of "amp2.csv" and of the output waveform file.
constexpr Field kProgramFields[] = {{false, 8, 4}, {false, 6, 3}, {false, 12, 4}, {true, 12, 4}};

// Stops the run as a finding when a check fails.
void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Renders one field into a buffer of exactly w bytes (so a write past it is a finding) and
// compares it with the expected text.
void check_field(const Field& f, double v) {
  char* out = new char[static_cast<std::size_t>(f.w)];
  std::memset(out, 0, static_cast<std::size_t>(f.w));
  if (f.exp) {
    wavproc::detail::write_exp_field(out, v, f.w, f.d);
  } else {
    wavproc::detail::write_fixed_field(out, v, f.w, f.d);
  }
  const std::string got(out, static_cast<std::size_t>(f.w));
  check(got.find('\0') == std::string::npos);
  check(got == (f.exp ? field_reference::ref_exp(v, f.w, f.d) : field_reference::ref_fixed(v, f.w, f.d)));
  // The writer made for the field's shape, where it has one, gives the same text.
  if (const wavproc::detail::FieldWriter shaped = wavproc::detail::field_writer(f.exp ? 'E' : 'F', f.w, f.d)) {
    std::memset(out, 0, static_cast<std::size_t>(f.w));
    shaped(out, v);
    check(std::string(out, static_cast<std::size_t>(f.w)) == got);
  }
  delete[] out;
}

// A value of one of the kinds that stress the integer paths, drawn with the bits r: by shape % 6 the
// kind, by shape / 6 % 7 a nudge of -3 to 3 ulps, by shape / 42 % 2 the sign.
double shaped(std::uint64_t r, unsigned shape) {
  double v = 0;
  switch (shape % 6) {
    case 0:  // log-uniform over the magnitudes of samples and spectra
      v = std::pow(10.0, -8.0 + 17.0 * static_cast<double>(r >> 11) * 0x1p-53);
      break;
    case 1:  // decimal data: 1 to 6 significant digits, 0 to 7 places
      v = static_cast<double>(r % 1000000) / std::pow(10.0, static_cast<double>((r >> 32) % 8));
      break;
    case 2: {  // near j + (f + 1/2)·10^-p, the ties of fixed fields
      const double scale = std::pow(10.0, static_cast<double>(r % 6));
      v = static_cast<double>((r >> 8) % 100000) +
          (static_cast<double>((r >> 32) % static_cast<std::uint64_t>(scale)) + 0.5) / scale;
      break;
    }
    case 3:  // near (10^d - 1/2)·10^k and 10^k, the carries of exponent fields
      v = std::pow(10.0, static_cast<double>(r % 60) - 30.0) * (((r >> 8) & 1) != 0 ? 1.0 : 0.99995);
      break;
    case 4:  // dyadic fractions, which hold the exact ties of every decimal length
      v = std::ldexp(static_cast<double>((r >> 8) % (std::uint64_t{1} << 30)), -static_cast<int>(r % 30));
      break;
    default: {  // near the limits of F8.4, F6.3 and F12.4
      static constexpr double kLimits[] = {999.99995, 99.9995, 9999999.99995, 999999.99995, 0.00005, 0.0005};
      v = kLimits[r % 6];
      break;
    }
  }
  for (int steps = static_cast<int>(shape / 6 % 7) - 3; steps != 0; steps += steps < 0 ? 1 : -1) {
    v = std::nextafter(v, steps < 0 ? 0.0 : std::numeric_limits<double>::infinity());
  }
  return shape / 42 % 2 != 0 ? -v : v;
}

}  // namespace

// Input: eight bytes of a double's bits, then optionally a byte each for a free width and digit
// count, four bytes of an integer, and a byte of a shape: with it, the eight bytes are the bits
// that draw a value of that shape instead.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  double v = 0;
  std::memcpy(&v, data, 8);
  if (size >= 15) {
    std::uint64_t r = 0;
    std::memcpy(&r, data, 8);
    v = shaped(r, data[14]);
  }

  for (const Field& f : kProgramFields) check_field(f, v);

  if (size >= 10) {
    const int w = 1 + data[8] % 40;
    const int d = data[9] % w;
    check_field({false, w, d}, v);
    if (d >= 1) check_field({true, w, d}, v);
  }

  char text[32];
  const std::size_t len = wavproc::detail::write_list_double(text, v);
  check(len <= 24);
  check(std::string(text, len) == field_reference::ref_list(v));

  if (size < 14) return 0;
  std::int32_t n = 0;
  std::memcpy(&n, data + 10, 4);
  const std::size_t ilen = wavproc::detail::write_list_integer(text, n);
  char want[32];
  std::snprintf(want, sizeof want, " %d", n);
  check(std::string(text, ilen) == want);
  return 0;
}
