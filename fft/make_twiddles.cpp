// Build-time generator of the transform's twiddle table: for every pass up to half-span 16384 and
// every position k, the forward twiddle cos φ + I·sin φ with φ = double(-k)·pai/kmax, each part the
// double nearest to the exact cosine or sine of that double angle. The values are evaluated in
// double-double arithmetic (about 104 bits) from plain IEEE operations, so the table is the same on
// every machine and owes nothing to the C library's cos and sin; the tests check every entry against
// an exact reference. Writes the table as C++ initialiser lines of hexadecimal literals, one
// complex entry a line, in the order the transform reads it: entry kmax + k for half-span kmax.
#include <bit>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "fft/error_free.h"

namespace {

using wavproc::detail::fast_two_sum;
using wavproc::detail::Pair;
using wavproc::detail::two_product;
using wavproc::detail::two_sum;

constexpr double pai = 3.141592654;
constexpr int largest_kmax = 16384;

// π to about 107 bits, for the reduction of the angle.
constexpr Pair pi{0x1.921fb54442d18p+1, 0x1.1a62633145c07p-53};

// a + b, with an error of a few units of 2^-106 of the larger.
Pair add(Pair a, Pair b) {
  const Pair s = two_sum(a.hi, b.hi);
  const Pair t = two_sum(a.lo, b.lo);
  Pair r = fast_two_sum(s.hi, s.lo + t.hi);
  return fast_two_sum(r.hi, r.lo + t.lo);
}

Pair negated(Pair a) { return {-a.hi, -a.lo}; }

// a · b, with an error of a few units of 2^-106 of the product.
Pair multiply(Pair a, Pair b) {
  const Pair p = two_product(a.hi, b.hi);
  return fast_two_sum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

// a / n for a positive integer n below 2^26.
Pair divide(Pair a, int n) {
  const double d = static_cast<double>(n);
  const double q1 = a.hi / d;
  const Pair back = two_product(q1, d);
  const double rest = ((a.hi - back.hi) - back.lo) + a.lo;
  return fast_two_sum(q1, rest / d);
}

// cos r and sin r for |r| <= 0.8 by their Taylor series, summed until the terms fall below 2^-110
// of the sum.
void cos_sin_taylor(Pair r, Pair& c, Pair& s) {
  const Pair r2 = multiply(r, r);
  c = {1.0, 0.0};
  Pair term{1.0, 0.0};
  for (int i = 1; std::fabs(term.hi) > 0x1p-110; ++i) {
    term = divide(divide(multiply(term, r2), 2 * i - 1), 2 * i);
    c = add(c, i % 2 ? negated(term) : term);
  }
  s = r;
  term = r;
  for (int i = 1; std::fabs(term.hi) > 0x1p-110 * std::fabs(s.hi); ++i) {
    term = divide(divide(multiply(term, r2), 2 * i), 2 * i + 1);
    s = add(s, i % 2 ? negated(term) : term);
  }
}

// cos x and sin x for 0 <= x <= π: reduced around 0, π/2 or π so that the series converges fast
// and a result near zero keeps its relative accuracy.
void cos_sin(double x, Pair& c, Pair& s) {
  if (x <= 0.79) {
    cos_sin_taylor({x, 0.0}, c, s);
    return;
  }
  Pair rc, rs;
  if (x <= 2.36) {
    const Pair half_pi{pi.hi / 2, pi.lo / 2};
    cos_sin_taylor(add({x, 0.0}, negated(half_pi)), rc, rs);  // x = π/2 + r
    c = negated(rs);
    s = rc;
    return;
  }
  cos_sin_taylor(add(pi, {-x, 0.0}), rc, rs);  // x = π − r
  c = negated(rc);
  s = rs;
}

// The C++ hexadecimal literal of a finite double, exact: "-0x1.921fb54524550p+1", "0x0p+0".
void put_hex(std::FILE* out, double v) {
  const std::uint64_t bits = std::bit_cast<std::uint64_t>(v);
  const char* sign = (bits >> 63) != 0 ? "-" : "";
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  if (biased == 0 && fraction == 0) {
    std::fprintf(out, "%s0x0p+0", sign);
    return;
  }
  // The table holds no subnormal: its smallest nonzero part is about 2e-10.
  std::fprintf(out, "%s0x1.%013" PRIx64 "p%+d", sign, fraction, biased - 1023);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_twiddles OUTPUT\n");
    return 2;
  }
  std::FILE* out = std::fopen(argv[1], "w");
  if (out == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(out, "// Written by fft/make_twiddles.cpp: the forward twiddles, entry kmax + k of half-span kmax.\n");
  std::fprintf(out, "0x0p+0, 0x0p+0,\n");  // entry 0 is never read
  for (int kmax = 1; kmax <= largest_kmax; kmax *= 2) {
    for (int k = 0; k < kmax; ++k) {
      const double phi = static_cast<double>(k * -1) * pai / static_cast<double>(kmax);
      Pair c, s;
      cos_sin(-phi, c, s);
      // sin φ = −sin(−φ); at φ = +0 the sine is +0, which the negation would turn into −0.
      const double sine = phi == 0.0 ? 0.0 : -s.hi;
      put_hex(out, c.hi);
      std::fputs(", ", out);
      put_hex(out, sine);
      std::fputs(",\n", out);
    }
  }
  if (std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
