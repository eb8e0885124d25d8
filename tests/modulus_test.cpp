// Tests of the modulus of a spectrum line against the exact reference: special values, random parts
// over the whole range of doubles, and the cases where a rounding is hardest to get right.
#include "fft/fft.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "exact_reference.h"

namespace wavproc {
namespace {

using Complex = std::complex<double>;

constexpr double inf = std::numeric_limits<double>::infinity();
constexpr double huge = std::numeric_limits<double>::max();
constexpr double tiny = std::numeric_limits<double>::denorm_min();
const double nan = std::numeric_limits<double>::quiet_NaN();

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// Succeeds when the pairs of neighbouring cases, each case in both lanes, give the bits of modulus
// alone; reports the first few others.
::testing::AssertionResult PairsAsAlone(const std::vector<Complex>& cases) {
  int wrong = 0;
  auto result = ::testing::AssertionSuccess();
  for (std::size_t i = 0; i + 1 < cases.size(); ++i) {
    double pair[2];
    modulus_pair(cases[i], cases[i + 1], pair);
    for (int lane = 0; lane < 2; ++lane) {
      const Complex z = cases[i + static_cast<std::size_t>(lane)];
      if (bits(pair[lane]) == bits(modulus(z))) continue;
      if (++wrong == 1) result = ::testing::AssertionFailure();
      if (wrong > 5) continue;
      result << std::hexfloat << "lane " << lane << " |(" << z.real() << ", " << z.imag() << ")| gave " << pair[lane]
             << "; ";
    }
  }
  if (wrong > 0) result << wrong << " lanes wrong";
  return result;
}

// Succeeds when the modulus of every case is the correctly rounded root, alone and in pairs;
// reports the first few others.
::testing::AssertionResult AllCorrectlyRounded(const std::vector<Complex>& cases) {
  int wrong = 0;
  auto result = ::testing::AssertionSuccess();
  for (const Complex& z : cases) {
    const double got = modulus(z);
    if (exact::is_rounded_modulus(z.real(), z.imag(), got)) continue;
    if (++wrong == 1) result = ::testing::AssertionFailure();
    if (wrong <= 5) result << std::hexfloat << "|(" << z.real() << ", " << z.imag() << ")| gave " << got << "; ";
  }
  if (wrong > 0) result << wrong << " of " << cases.size() << " wrong";
  return wrong > 0 ? result : PairsAsAlone(cases);
}

TEST(Modulus, SpecialValues) {
  struct Case {
    double re, im, want;
  };
  const Case cases[] = {
      {inf, nan, inf},  {nan, -inf, inf},  {-inf, 0.0, inf},       {-0.0, -0.0, 0.0},        {0.0, -2.5, 2.5},
      {-3.0, 4.0, 5.0}, {huge, huge, inf}, {huge, 0.0, huge},      {tiny, tiny, tiny},       {3 * tiny, -4 * tiny, 5 * tiny},
      {1.0, 1e-300, 1.0},                  {0x1p-1022, 0x1p-1022, 0x1.6a09e667f3bcdp-1022},
  };
  std::vector<Complex> all = {{nan, 1.0}, {-2.0, nan}};
  for (const Case& c : cases) {
    EXPECT_EQ(bits(modulus(Complex(c.re, c.im))), bits(c.want)) << c.re << ", " << c.im;
    all.emplace_back(c.re, c.im);
  }
  EXPECT_TRUE(std::isnan(modulus(Complex(nan, 1.0))));
  EXPECT_TRUE(std::isnan(modulus(Complex(-2.0, nan))));
  all.emplace_back(nan, nan);
  EXPECT_TRUE(PairsAsAlone(all));
}

// Random significands and signs; exponents anywhere from the subnormals to the largest doubles, or
// close to each other, where both parts count.
TEST(Modulus, RandomPartsAreCorrectlyRounded) {
  std::mt19937_64 gen(13);
  std::uniform_int_distribution<int> exponent(-1075, 1023);
  std::uniform_int_distribution<int> near(-30, 30);
  const auto part = [&](int e) {
    const double m = std::ldexp(static_cast<double>(gen() >> 11), -53) + 0.5;  // [0.5, 1)
    return std::ldexp(gen() % 2 ? m : -m, e);
  };
  std::vector<Complex> cases;
  for (int i = 0; i < 40000; ++i) {
    const int e = exponent(gen);
    cases.emplace_back(part(e), part(i % 2 ? exponent(gen) : e + near(gen)));
  }
  EXPECT_TRUE(AllCorrectlyRounded(cases));
}

// Roots exactly on a midpoint between two doubles (ties to even), and next to one: Pythagorean
// triples a² + b² = c² with c odd of 54 bits; roots just above the larger part, half a unit of it
// away or at the edge where the smaller part stops counting; equal parts, one part zero; subnormal
// parts whose root lies near a half of the smallest subnormal; parts near the largest double.
TEST(Modulus, HardCasesAreCorrectlyRounded) {
  std::mt19937_64 gen(1313);
  std::vector<Complex> cases;
  for (int i = 0; cases.size() < 3000; ++i) {
    const std::uint64_t n = (std::uint64_t{1} << 25) + gen() % (std::uint64_t{1} << 24);
    const std::uint64_t m = static_cast<std::uint64_t>(static_cast<double>(n) * 2.414213562373095) | ((n + 1) % 2);
    const std::uint64_t a = m * m - n * n, b = 2 * m * n, c = m * m + n * n;
    if (c < (std::uint64_t{1} << 53) || a >= (std::uint64_t{1} << 53) || b >= (std::uint64_t{1} << 53)) continue;
    const int e = static_cast<int>(gen() % 1900) - 1010;  // a·2^e, b·2^e and c·2^e stay normal
    const double x = std::ldexp(static_cast<double>(a), e), y = std::ldexp(static_cast<double>(b), e);
    cases.emplace_back(x, y);
    cases.emplace_back(-y, std::nextafter(x, 0.0));
    cases.emplace_back(std::nextafter(y, inf), x);
  }
  for (int i = 0; i < 3000; ++i) {
    const double x = std::ldexp(1.0 + static_cast<double>(gen() >> 12) * 0x1p-52, static_cast<int>(gen() % 1800) - 900);
    const double ulp = std::nextafter(x, inf) - x;
    const double y = std::sqrt(x * ulp);  // root x + ulp/2, nearly
    cases.emplace_back(x, y);
    cases.emplace_back(x, std::nextafter(y, 0.0));
    cases.emplace_back(x, std::ldexp(x, -54));
    cases.emplace_back(x, std::nextafter(std::ldexp(x, -53), inf));
    cases.emplace_back(x, x);
    cases.emplace_back(0.0, -x);
    cases.emplace_back(huge * (0.5 + static_cast<double>(gen() >> 11) * 0x1p-54), x > 1 ? huge / 2 : x);
  }
  for (int i = 0; i < 3000; ++i) {
    const std::uint64_t x = 1 + gen() % (std::uint64_t{1} << 52);
    const auto y = static_cast<std::uint64_t>(std::sqrt(static_cast<double>(x)));  // root near x + 1/2
    cases.emplace_back(static_cast<double>(x) * tiny, static_cast<double>(y) * tiny);
    cases.emplace_back(static_cast<double>(x) * tiny, static_cast<double>(y + 1) * tiny);
  }
  EXPECT_TRUE(AllCorrectlyRounded(cases));
}

}  // namespace
}  // namespace wavproc
