// Error-free transformations of doubles: a sum or a product as its rounded value plus the exact
// rounding error, built from plain IEEE operations only (no fused multiply-add), so they give the
// same bits on every platform with IEEE-754 doubles. Shared by the twiddle table's generator and
// the complex modulus; not part of the fft/ contract.
#pragma once

#include <bit>
#include <cstdint>

namespace wavproc::detail {

// A value held as hi + lo with hi the value rounded to the nearest double and |lo| <= ulp(hi)/2.
struct Pair {
  double hi;
  double lo;
};

// a + b exactly, for any finite a and b whose sum does not overflow.
constexpr Pair two_sum(double a, double b) {
  const double s = a + b;
  const double bv = s - a;
  return {s, (a - (s - bv)) + (b - bv)};
}

// a + b exactly, for |a| >= |b| (or a == 0).
constexpr Pair fast_two_sum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// a split into a high half of 26 bits and a low half, a == hi + lo exactly (|a| < 2^995).
constexpr Pair split(double a) {
  const double c = 134217729.0 * a;  // 2^27 + 1
  const double hi = c - (c - a);
  return {hi, a - hi};
}

// a · b exactly, as long as neither the product nor its error term leaves the normal range.
constexpr Pair two_product(double a, double b) {
  const double p = a * b;
  const Pair as = split(a);
  const Pair bs = split(b);
  return {p, ((as.hi * bs.hi - p) + as.hi * bs.lo + as.lo * bs.hi) + as.lo * bs.lo};
}

// a · a exactly, under the same conditions as two_product.
constexpr Pair two_square(double a) {
  const double p = a * a;
  const Pair as = split(a);
  return {p, ((as.hi * as.hi - p) + 2.0 * (as.hi * as.lo)) + as.lo * as.lo};
}

// 2^e for e from -1022 to 1023.
constexpr double power_of_two(int e) {
  return std::bit_cast<double>(static_cast<std::uint64_t>(e + 1023) << 52);
}

}  // namespace wavproc::detail
