// The decimal helpers that the field writers and the free-form reader share: the powers of ten,
// as integers and as exact doubles, and the half-even rounding of an integer quotient. Internal to
// textio/.
#pragma once

#include <cstdint>

namespace wavproc::detail {

// 10^0 to 10^19, every power of ten below 2^64.
constexpr std::uint64_t kPow10[20] = {
    1ULL,           10ULL,           100ULL,           1000ULL,           10000ULL,
    100000ULL,      1000000ULL,      10000000ULL,      100000000ULL,      1000000000ULL,
    10000000000ULL, 100000000000ULL, 1000000000000ULL, 10000000000000ULL, 100000000000000ULL,
    1000000000000000ULL,    10000000000000000ULL,    100000000000000000ULL,
    1000000000000000000ULL, 10000000000000000000ULL};

// 10^0 to 10^22, every power of ten that a double holds exactly.
constexpr double kExactPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// A quotient truncated toward zero, and whether rounding half-even takes it one up.
template <class Uint>
struct Quotient {
  Uint floor;
  bool up;
};

// Whether a quotient truncated to floor rounds up half-even, given the rest of the division and
// what the rest lacks to reach the divisor: up past the half, and at the half when floor is odd.
template <class Uint>
constexpr bool rounds_up_half_even(Uint floor, Uint rest, Uint lack) {
  return rest > lack || (rest == lack && (floor & 1) != 0);
}

// num / 2^s for an unsigned integer type and 0 <= s < its width.
template <class Uint>
constexpr Quotient<Uint> divide_by_pow2(Uint num, int s) {
  if (s == 0) return {num, false};
  const Uint floor = num >> s;
  const Uint rest = num - (floor << s);
  return {floor, rounds_up_half_even(floor, rest, static_cast<Uint>((Uint{1} << s) - rest))};
}

// num / 2^s rounded half-even, for 0 <= s < the width of the type.
template <class Uint>
constexpr Uint round_by_pow2(Uint num, int s) {
  const Quotient<Uint> q = divide_by_pow2(num, s);
  return q.floor + static_cast<Uint>(q.up);
}

}  // namespace wavproc::detail
