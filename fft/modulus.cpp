// The modulus of a spectrum line, rounded once from its exact value: the squares are carried
// exactly as pairs of doubles, a square root and one correction step come within 2^-98 of the
// exact root, and the rare root too close to a rounding midpoint for that bound is settled by an
// exact sign test. Plain IEEE operations only (the square root is one of them), so every platform
// with IEEE-754 doubles gives the same bits, whatever its C library.
#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <utility>

#include "fft/error_free.h"
#include "fft/fft.h"

namespace wavproc {
namespace {

using detail::fast_two_sum;
using detail::Pair;
using detail::power_of_two;
using detail::two_square;

constexpr std::uint64_t exponent_mask = 0x7ff0000000000000;
constexpr std::uint64_t fraction_mask = 0x000fffffffffffff;

// floor(log2 x) for a finite x > 0, subnormals included.
int binary_exponent(double x) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(x);
  const int biased = static_cast<int>(bits >> 52);
  if (biased != 0) return biased - 1023;
  return -1075 + std::bit_width(bits & fraction_mask);
}

// The sign (+1, 0, -1) of the exact sum of finite terms whose partial sums cannot overflow. The
// terms are gathered into a sum of doubles that do not overlap, in increasing magnitude, by exact
// two-sums; the largest nonzero one carries the sign of the whole.
int sign_of_exact_sum(std::initializer_list<double> terms) {
  double parts[16];
  std::size_t count = 0;
  for (double term : terms) {
    double carry = term;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const Pair s = detail::two_sum(carry, parts[i]);
      if (s.lo != 0.0) parts[kept++] = s.lo;
      carry = s.hi;
    }
    parts[kept++] = carry;
    count = kept;
  }
  for (std::size_t i = count; i-- > 0;) {
    if (parts[i] != 0.0) return parts[i] > 0.0 ? 1 : -1;
  }
  return 0;
}

// sqrt(x² + y²) rounded to the nearest double, ties to even, for 2^-400 <= y <= x < 2^401, where
// every square, product and error term below stays exact and normal.
double rounded_root(double x, double y) {
  const Pair xx = two_square(x);
  const Pair yy = two_square(y);
  const Pair sum = fast_two_sum(xx.hi, yy.hi);
  const double tail = (sum.lo + xx.lo) + yy.lo;
  const double r = std::sqrt(sum.hi);
  const Pair rr = two_square(r);
  // x² + y² − r², a few units of 2^-52 of x² + y², to within 2^-101 of x² + y²: sum.hi − rr.hi is
  // exact, the two roundings after it are of values that small.
  const double residue = ((sum.hi - rr.hi) - rr.lo) + tail;
  // r + residue/(2r) is the exact root to within 2^-100 of it, which is about 2^-48 of a unit in
  // the last place.
  const double correction = residue / (2.0 * r);
  const double z = r + correction;
  const double offset = (r - z) + correction;  // where r + correction lies from z
  const std::uint64_t z_bits = std::bit_cast<std::uint64_t>(z);
  const double ulp = std::bit_cast<double>((z_bits & exponent_mask) - (std::uint64_t{52} << 52));
  const double half_gap_above = 0.5 * ulp;
  const double half_gap_below = (z_bits & fraction_mask) == 0 ? 0.25 * ulp : 0.5 * ulp;
  const double margin = 0x1p-40 * ulp;
  if (offset >= 0.0 ? half_gap_above - offset > margin : half_gap_below + offset > margin) return z;

  // The root lies too close to the midpoint between z and a neighbour for the bound: compare
  // x² + y² with the square of that midpoint exactly, z² + 2·z·h + h².
  const double h = offset >= 0.0 ? half_gap_above : -half_gap_below;
  const Pair zz = two_square(z);
  const int side = sign_of_exact_sum({xx.hi, xx.lo, yy.hi, yy.lo, -zz.hi, -zz.lo, -2.0 * z * h, -h * h});
  const double neighbour = z + 2.0 * h;
  if (side == 0) return (z_bits & 1) == 0 ? z : neighbour;
  const bool beyond = offset >= 0.0 ? side > 0 : side < 0;
  return beyond ? neighbour : z;
}

// x · 2^e for e from -2045 to 2045, in two exact steps as long as the first stays normal.
double scaled(double x, int e) {
  const int first = e / 2;
  return x * power_of_two(first) * power_of_two(e - first);
}

// sqrt(x² + y²) rounded to the nearest double for subnormal x >= y > 0: the root is rounded to a
// whole multiple of 2^-1074. With X = x·2^1074 and Y = y·2^1074, whole numbers below 2^52, the
// root rounded to 53 bits is rounded to a whole number; only a 53-bit rounding that landed on a
// half needs the exact comparison of X² + Y² with (t + 1/2)², that is with t² + t.
double subnormal_root(double x, double y) {
  const double big_x = scaled(x, 1074);
  const double big_y = scaled(y, 1074);
  const double m = rounded_root(big_x, big_y);
  const double t = static_cast<double>(static_cast<std::int64_t>(m));
  const double fraction = m - t;
  bool up = fraction > 0.5;
  if (fraction == 0.5) {
    const Pair xx = two_square(big_x);
    const Pair yy = two_square(big_y);
    const Pair tt = two_square(t);
    up = sign_of_exact_sum({xx.hi, xx.lo, yy.hi, yy.lo, -tt.hi, -tt.lo, -t}) > 0;
  }
  return scaled(up ? t + 1.0 : t, -1074);
}

}  // namespace

double modulus(std::complex<double> z) {
  double x = std::fabs(z.real());
  double y = std::fabs(z.imag());
  if (std::isinf(x) || std::isinf(y)) return std::numeric_limits<double>::infinity();
  if (std::isnan(x) || std::isnan(y)) return x + y;
  if (x < y) std::swap(x, y);
  if (y == 0.0) return x;
  const int ex = binary_exponent(x);
  const int ey = binary_exponent(y);
  // y < 2^-54·x: the root exceeds x by less than x·2^-109, under half a unit of x.
  if (ex - ey > 54) return x;
  if (ex <= 400 && ey >= -400) return rounded_root(x, y);
  if (ex < -1022) return subnormal_root(x, y);
  // Brought to x in [1, 2) and back by powers of two, exactly; only a root beyond the largest
  // double comes back as infinity, its correct rounding.
  return scaled(rounded_root(scaled(x, -ex), scaled(y, -ex)), ex);
}

}  // namespace wavproc
