// The modulus of a spectrum line, rounded once from its exact value: the squares are carried
// exactly as pairs of doubles, a square root comes within a unit of the exact root, the residue
// x² + y² − r² tells on which side of the midpoints next to r the root lies, and the rare root too
// close to a midpoint for the residue's error bound is settled by an exact sign test. Plain IEEE operations only (the square root is one of them), so every platform
// with IEEE-754 doubles gives the same bits, whatever its C library. A spectrum row needs two
// moduli, which SSE2 forms side by side, each lane by the same operations in the same order.
#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>
#include <limits>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
  return -1075 + static_cast<int>(std::bit_width(bits & fraction_mask));
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

// The gaps from a double r >= 2^-1000 to its neighbours: ulp(r) above, and below the same or,
// when r is a power of two, half of it.
struct Gaps {
  double above;
  double below;
};
Gaps gaps_around(double r) {
  const std::uint64_t r_bits = std::bit_cast<std::uint64_t>(r);
  const double ulp = std::bit_cast<double>((r_bits & exponent_mask) - (std::uint64_t{52} << 52));
  return {ulp, (r_bits & fraction_mask) == 0 ? 0.5 * ulp : ulp};
}

// The double nearest to sqrt(x² + y²), ties to even, with x² + y² given exactly as xx + yy, found
// from r, a few units away, by exact comparisons of x² + y² with the squares of the midpoints
// around r, (r + h)² = r² + 2·r·h + h². Kept out of line: the common path needs none of its room.
[[gnu::noinline]] double settle_root(Pair xx, Pair yy, double r) {
  const auto side = [&xx, &yy](double m, double h) {
    const Pair mm = two_square(m);
    return sign_of_exact_sum({xx.hi, xx.lo, yy.hi, yy.lo, -mm.hi, -mm.lo, -2.0 * m * h, -h * h});
  };
  for (;;) {
    const Gaps gap = gaps_around(r);
    const bool even = (std::bit_cast<std::uint64_t>(r) & 1) == 0;
    const int above = side(r, 0.5 * gap.above);
    if (above == 0) return even ? r : r + gap.above;
    if (above > 0) {
      r += gap.above;
      continue;
    }
    const int below = side(r, -0.5 * gap.below);
    if (below == 0) return even ? r : r - gap.below;
    if (below > 0) return r;
    r -= gap.below;
  }
}

// sqrt(x² + y²) rounded to the nearest double, ties to even, for 2^-400 <= y <= x < 2^401, where
// every square, product and error term below stays exact and normal.
inline double rounded_root(double x, double y) {
  // Within about a unit in the last place of the exact root. Taken first, so that the square root
  // runs while the exact squares are formed.
  const double r = std::sqrt(x * x + y * y);
  const Pair xx = two_square(x);
  const Pair yy = two_square(y);
  const Pair sum = fast_two_sum(xx.hi, yy.hi);
  const double tail = (sum.lo + xx.lo) + yy.lo;
  const Pair rr = two_square(r);
  // x² + y² − r², to within 2^-100 of x² + y²: sum.hi − rr.hi is exact, and the two roundings after
  // it are of values below 2^-49 of x² + y².
  const double residue = ((sum.hi - rr.hi) - rr.lo) + tail;
  // The root lies beyond the midpoint above r when x² + y² exceeds (r + gap/2)², that is when the
  // residue exceeds r·gap + gap²/4, and likewise below. The margin, 2^-40 of r·gap, is far above
  // the residue's error and far below the gaps; a residue of 2.5·r·gap or more would put the root
  // near a second midpoint.
  const Gaps gap = gaps_around(r);
  const double above = r * gap.above + 0.25 * (gap.above * gap.above);
  const double below = 0.25 * (gap.below * gap.below) - r * gap.below;
  const double margin = 0x1p-40 * (r * gap.below);
  const bool settled = std::fabs(residue - above) > margin && std::fabs(residue - below) > margin &&
                       residue < 2.5 * r * gap.above && residue > -2.5 * r * gap.below;
  if (!settled) return settle_root(xx, yy, r);
  // Which of the three it is, r, the next double up or the next down, falls at random from line to
  // line: selected without a branch.
  return r + (residue > above ? gap.above : 0.0) - (residue < below ? gap.below : 0.0);
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

#if defined(__SSE2__)

// |v| on both lanes: the sign bits cleared.
inline __m128d magnitudes(__m128d v) {
  return _mm_and_pd(_mm_castsi128_pd(_mm_set1_epi64x(0x7fffffffffffffff)), v);
}

// two_square on both lanes.
inline void two_square_lanes(__m128d a, __m128d& hi, __m128d& lo) {
  hi = _mm_mul_pd(a, a);
  const __m128d c = _mm_mul_pd(_mm_set1_pd(134217729.0), a);
  const __m128d a_hi = _mm_sub_pd(c, _mm_sub_pd(c, a));
  const __m128d a_lo = _mm_sub_pd(a, a_hi);
  const __m128d cross = _mm_mul_pd(_mm_set1_pd(2.0), _mm_mul_pd(a_hi, a_lo));
  lo = _mm_add_pd(_mm_add_pd(_mm_sub_pd(_mm_mul_pd(a_hi, a_hi), hi), cross), _mm_mul_pd(a_lo, a_lo));
}

// rounded_root on both lanes, for parts in its range: sets root and returns one bit per lane whose
// root the residue settled; a lane without its bit needs rounded_root's exact comparisons.
inline int rounded_roots(__m128d x, __m128d y, __m128d& root) {
  const __m128d r = _mm_sqrt_pd(_mm_add_pd(_mm_mul_pd(x, x), _mm_mul_pd(y, y)));
  __m128d xx_hi, xx_lo, yy_hi, yy_lo, rr_hi, rr_lo;
  two_square_lanes(x, xx_hi, xx_lo);
  two_square_lanes(y, yy_hi, yy_lo);
  const __m128d sum_hi = _mm_add_pd(xx_hi, yy_hi);
  const __m128d sum_lo = _mm_sub_pd(yy_hi, _mm_sub_pd(sum_hi, xx_hi));
  const __m128d tail = _mm_add_pd(_mm_add_pd(sum_lo, xx_lo), yy_lo);
  two_square_lanes(r, rr_hi, rr_lo);
  const __m128d residue = _mm_add_pd(_mm_sub_pd(_mm_sub_pd(sum_hi, rr_hi), rr_lo), tail);
  // gaps_around: r's exponent bits alone are the power of two at or below r, which 2^-52 takes
  // exactly to r's unit; below it is half that where r is that power of two.
  const __m128d power = _mm_and_pd(r, _mm_castsi128_pd(_mm_set1_epi64x(static_cast<std::int64_t>(exponent_mask))));
  const __m128d gap_above = _mm_mul_pd(power, _mm_set1_pd(0x1p-52));
  const __m128d at_power = _mm_cmpeq_pd(r, power);
  const __m128d gap_below =
      _mm_or_pd(_mm_and_pd(at_power, _mm_mul_pd(_mm_set1_pd(0.5), gap_above)), _mm_andnot_pd(at_power, gap_above));
  const __m128d quarter = _mm_set1_pd(0.25);
  const __m128d above = _mm_add_pd(_mm_mul_pd(r, gap_above), _mm_mul_pd(quarter, _mm_mul_pd(gap_above, gap_above)));
  const __m128d below = _mm_sub_pd(_mm_mul_pd(quarter, _mm_mul_pd(gap_below, gap_below)), _mm_mul_pd(r, gap_below));
  const __m128d margin = _mm_mul_pd(_mm_set1_pd(0x1p-40), _mm_mul_pd(r, gap_below));
  __m128d settled = _mm_cmpgt_pd(magnitudes(_mm_sub_pd(residue, above)), margin);
  settled = _mm_and_pd(settled, _mm_cmpgt_pd(magnitudes(_mm_sub_pd(residue, below)), margin));
  settled = _mm_and_pd(settled, _mm_cmplt_pd(residue, _mm_mul_pd(_mm_mul_pd(_mm_set1_pd(2.5), r), gap_above)));
  settled = _mm_and_pd(settled, _mm_cmpgt_pd(residue, _mm_mul_pd(_mm_mul_pd(_mm_set1_pd(-2.5), r), gap_below)));
  root = _mm_sub_pd(_mm_add_pd(r, _mm_and_pd(_mm_cmpgt_pd(residue, above), gap_above)),
                    _mm_and_pd(_mm_cmplt_pd(residue, below), gap_below));
  return _mm_movemask_pd(settled);
}

#endif

}  // namespace

void modulus_pair(std::complex<double> a, std::complex<double> b, double* out) {
#if defined(__SSE2__)
  const __m128d re = _mm_set_pd(b.real(), a.real());
  const __m128d im = _mm_set_pd(b.imag(), a.imag());
  const __m128d re_abs = magnitudes(re);
  const __m128d im_abs = magnitudes(im);
  const __m128d x = _mm_max_pd(re_abs, im_abs);
  const __m128d y = _mm_min_pd(re_abs, im_abs);
  // modulus's common case on both lanes: no NaN (which max and min would drop), parts of ordinary
  // size; any other lane, and one the residue leaves open, is done by modulus itself.
  const __m128d ordinary = _mm_and_pd(_mm_cmpord_pd(re, im), _mm_and_pd(_mm_cmplt_pd(x, _mm_set1_pd(0x1p401)),
                                                                          _mm_cmpge_pd(y, _mm_set1_pd(0x1p-400))));
  __m128d root;
  const int done = rounded_roots(x, y, root) & _mm_movemask_pd(ordinary);
  _mm_storeu_pd(out, root);
  if ((done & 1) == 0) out[0] = modulus(a);
  if ((done & 2) == 0) out[1] = modulus(b);
#else
  out[0] = modulus(a);
  out[1] = modulus(b);
#endif
}

double modulus(std::complex<double> z) {
  double x = std::fabs(z.real());
  double y = std::fabs(z.imag());
  if (x < y) std::swap(x, y);
  // Parts of ordinary size, those of every spectrum line but zeros: no scaling needed. A NaN or an
  // infinity fails the test and is settled below.
  if (x < 0x1p401 && y >= 0x1p-400) return rounded_root(x, y);
  if (std::isinf(x) || std::isinf(y)) return std::numeric_limits<double>::infinity();
  if (std::isnan(x) || std::isnan(y)) return x + y;
  if (y == 0.0) return x;
  const int ex = binary_exponent(x);
  const int ey = binary_exponent(y);
  // y < 2^-54·x: the root exceeds x by less than x·2^-109, under half a unit of x.
  if (ex - ey > 54) return x;
  if (ex < -1022) return subnormal_root(x, y);
  // Brought to x in [1, 2) and back by powers of two, exactly; only a root beyond the largest
  // double comes back as infinity, its correct rounding.
  return scaled(rounded_root(scaled(x, -ex), scaled(y, -ex)), ex);
}

}  // namespace wavproc
