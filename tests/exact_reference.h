// Slow exact references for the tests of the transform's twiddles and of the modulus: whole numbers
// of any size, the cosine and sine of a double to 160 bits by their Taylor series in fixed point,
// the nearest double to such a value, and an exact test of whether a double is the correctly
// rounded modulus of a complex number. They share nothing with the program's own arithmetic.
#pragma once

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

namespace exact {

// A whole number >= 0 of any size, in 32-bit limbs, least significant first, no leading zero limb.
class Natural {
 public:
  Natural() = default;
  explicit Natural(std::uint64_t v) {
    for (; v != 0; v >>= 32) limbs_.push_back(static_cast<std::uint32_t>(v));
  }

  bool is_zero() const { return limbs_.empty(); }
  int bit_length() const {
    if (limbs_.empty()) return 0;
    return static_cast<int>(32 * (limbs_.size() - 1) + std::bit_width(limbs_.back()));
  }
  // The value of bits [from, from + 64) as a whole number.
  std::uint64_t bits_from(int from) const {
    std::uint64_t v = 0;
    for (int b = 63; b >= 0; --b) v = (v << 1) | (bit(from + b) ? 1u : 0u);
    return v;
  }
  bool bit(int i) const {
    const auto limb = static_cast<std::size_t>(i / 32);
    return i >= 0 && limb < limbs_.size() && ((limbs_[limb] >> (i % 32)) & 1u) != 0;
  }

  friend Natural operator<<(const Natural& a, int shift) {
    Natural r;
    if (a.is_zero()) return r;
    const auto whole = static_cast<std::size_t>(shift / 32);
    const int part = shift % 32;
    r.limbs_.assign(whole, 0);
    std::uint32_t carry = 0;
    for (std::uint32_t limb : a.limbs_) {
      r.limbs_.push_back(static_cast<std::uint32_t>((std::uint64_t{limb} << part) | carry));
      carry = part == 0 ? 0 : static_cast<std::uint32_t>(limb >> (32 - part));
    }
    r.limbs_.push_back(carry);
    r.trim();
    return r;
  }
  friend Natural operator>>(const Natural& a, int shift) {
    Natural r;
    const auto whole = static_cast<std::size_t>(shift / 32);
    const int part = shift % 32;
    for (std::size_t i = whole; i < a.limbs_.size(); ++i) {
      std::uint64_t v = a.limbs_[i] >> part;
      if (part != 0 && i + 1 < a.limbs_.size()) v |= std::uint64_t{a.limbs_[i + 1]} << (32 - part);
      r.limbs_.push_back(static_cast<std::uint32_t>(v));
    }
    r.trim();
    return r;
  }
  friend Natural operator+(const Natural& a, const Natural& b) {
    Natural r;
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < std::max(a.limbs_.size(), b.limbs_.size()); ++i) {
      carry += std::uint64_t{a.limb(i)} + b.limb(i);
      r.limbs_.push_back(static_cast<std::uint32_t>(carry));
      carry >>= 32;
    }
    r.limbs_.push_back(static_cast<std::uint32_t>(carry));
    r.trim();
    return r;
  }
  // a − b for a >= b.
  friend Natural operator-(const Natural& a, const Natural& b) {
    Natural r;
    std::int64_t borrow = 0;
    for (std::size_t i = 0; i < a.limbs_.size(); ++i) {
      std::int64_t v = std::int64_t{a.limb(i)} - b.limb(i) - borrow;
      borrow = v < 0 ? 1 : 0;
      r.limbs_.push_back(static_cast<std::uint32_t>(v + (borrow << 32)));
    }
    r.trim();
    return r;
  }
  friend Natural operator*(const Natural& a, const Natural& b) {
    Natural r;
    r.limbs_.assign(a.limbs_.size() + b.limbs_.size(), 0);
    for (std::size_t i = 0; i < a.limbs_.size(); ++i) {
      std::uint64_t carry = 0;
      for (std::size_t j = 0; j < b.limbs_.size(); ++j) {
        carry += std::uint64_t{a.limbs_[i]} * b.limbs_[j] + r.limbs_[i + j];
        r.limbs_[i + j] = static_cast<std::uint32_t>(carry);
        carry >>= 32;
      }
      r.limbs_[i + b.limbs_.size()] = static_cast<std::uint32_t>(carry);
    }
    r.trim();
    return r;
  }
  // a / d rounded down, for 0 < d < 2^32.
  friend Natural operator/(const Natural& a, std::uint32_t d) {
    Natural r = a;
    std::uint64_t rest = 0;
    for (std::size_t i = r.limbs_.size(); i-- > 0;) {
      rest = (rest << 32) | r.limbs_[i];
      r.limbs_[i] = static_cast<std::uint32_t>(rest / d);
      rest %= d;
    }
    r.trim();
    return r;
  }
  friend int compare(const Natural& a, const Natural& b) {
    if (a.limbs_.size() != b.limbs_.size()) return a.limbs_.size() < b.limbs_.size() ? -1 : 1;
    for (std::size_t i = a.limbs_.size(); i-- > 0;) {
      if (a.limbs_[i] != b.limbs_[i]) return a.limbs_[i] < b.limbs_[i] ? -1 : 1;
    }
    return 0;
  }

 private:
  std::uint32_t limb(std::size_t i) const { return i < limbs_.size() ? limbs_[i] : 0; }
  void trim() {
    while (!limbs_.empty() && limbs_.back() == 0) limbs_.pop_back();
  }
  std::vector<std::uint32_t> limbs_;
};

// A finite double as m·2^e with m a whole number (0 for zero).
struct Binary {
  std::uint64_t m;
  int e;
};
inline Binary binary(double x) {
  const auto bits = std::bit_cast<std::uint64_t>(std::fabs(x));
  const int biased = static_cast<int>(bits >> 52);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0) return {fraction, -1074};
  return {fraction | (std::uint64_t{1} << 52), biased - 1075};
}

// The double nearest to a value known as v·2^-scale to within `error` units of 2^-scale, v >= 2^54:
// nothing when a midpoint between two doubles lies that close, as then more bits would be needed.
inline std::optional<double> nearest_double(const Natural& v, int scale, std::uint64_t error) {
  const int shift = v.bit_length() - 53;
  const Natural top = v >> shift;
  const Natural rest = v - (top << shift);
  const Natural half = Natural(1) << (shift - 1);
  const Natural margin(error);
  const bool above = compare(rest, half) > 0;
  const Natural distance = above ? rest - half : half - rest;
  if (compare(distance, margin) <= 0) return std::nullopt;
  const double significand = static_cast<double>(top.bits_from(0) + (above ? 1 : 0));
  return std::ldexp(significand, shift - scale);
}

// cos x and sin x, each the nearest double to the exact value, for a double 0 <= x <= 4; nothing
// when 160 bits do not decide a rounding. The series x^k/k! is summed in fixed point with 160
// fraction bits; every term is cut off once when multiplied and once when divided, so each carries
// an error below 2·(1 + 4 + 4²/2! + ...) < 2^8 units of the last place, and the sums below 2^15.
struct CosSin {
  double cos, sin;
};
inline std::optional<CosSin> cos_sin(double x) {
  constexpr int scale = 160;
  constexpr std::uint64_t error = 1 << 15;
  const Binary bx = binary(x);
  const Natural fx = Natural(bx.m) << (scale + bx.e);
  Natural sums[4];  // +cos, −cos, +sin, −sin, by k mod 4 = 0, 2, 1, 3
  constexpr int slot[4] = {0, 2, 1, 3};
  Natural term = Natural(1) << scale;
  for (std::uint32_t k = 0; !term.is_zero(); ++k) {
    if (k > 0) term = ((term * fx) >> scale) / k;
    sums[slot[k % 4]] = sums[slot[k % 4]] + term;
  }
  const auto signed_nearest = [&](const Natural& plus, const Natural& minus) -> std::optional<double> {
    const int c = compare(plus, minus);
    if (c == 0) return 0.0;
    const auto v = nearest_double(c > 0 ? plus - minus : minus - plus, scale, error);
    if (!v) return std::nullopt;
    return c > 0 ? *v : -*v;
  };
  const auto c = signed_nearest(sums[0], sums[1]);
  const auto s = signed_nearest(sums[2], sums[3]);
  if (!c || !s) return std::nullopt;
  return CosSin{*c, *s};
}

// Whether z is sqrt(re² + im²) rounded to the nearest double, ties to even, for finite re and im:
// z lies between the midpoints to its neighbours, inclusive only when its significand is even; +∞
// when the root reaches the midpoint above the largest double. All compared as whole numbers, the
// squares scaled by a common power of two.
inline bool is_rounded_modulus(double re, double im, double z) {
  const Binary x = binary(re), y = binary(im);
  if (std::isnan(z) || std::signbit(z)) return false;
  const bool infinite = std::isinf(z);
  // +∞ is right when the root reaches the midpoint between the largest double and 2^1024.
  const Binary bz = infinite ? Binary{(std::uint64_t{1} << 53) - 1, 971} : binary(z);
  const int low = std::min({2 * x.e, 2 * y.e, 2 * bz.e - 4});
  const auto scaled_square = [low](std::uint64_t m, int e) {
    const Natural n(m);
    return (n * n) << (e - low);
  };
  const Natural sum = scaled_square(x.m, 2 * x.e) + scaled_square(y.m, 2 * y.e);
  if (bz.m == 0) return sum.is_zero();
  const bool even = bz.m % 2 == 0;
  const Natural above = scaled_square(2 * bz.m + 1, 2 * bz.e - 2);
  const int to_above = compare(sum, above);
  if (infinite) return to_above >= 0;
  if (to_above > 0 || (to_above == 0 && !even)) return false;
  const bool narrow_below = bz.m == std::uint64_t{1} << 52 && bz.e > -1074;  // a power of two
  const Natural below = narrow_below ? scaled_square(4 * bz.m - 1, 2 * bz.e - 4)
                                     : scaled_square(2 * bz.m - 1, 2 * bz.e - 2);
  const int to_below = compare(sum, below);
  return to_below > 0 || (to_below == 0 && even);
}

}  // namespace exact
