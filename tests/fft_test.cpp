// Tests of the radix-2 transform: every twiddle against an exact reference, bit-identity with the
// algorithm written out line by line for every kernel, the small cases worked by hand, a direct
// DFT with the exact π, the forward-backward round trip, and the calls it refuses.
#include "fft/fft.h"
#include "fft/wvfast_detail.h"

#include <gtest/gtest.h>

#include "exact_reference.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

namespace wavproc {
namespace {

using Complex = std::complex<double>;
using detail::FftKernel;

constexpr double pai = 3.141592654;
constexpr int table_kmax = 16384;
constexpr double inf = std::numeric_limits<double>::infinity();
const double nan = std::numeric_limits<double>::quiet_NaN();

// The twiddle angle of position k (from 1) in the pass of half-span kmax: the integer product
// (k − 1)·ind converted to double, times pai, divided by kmax.
double angle(int k, int kmax, int ind) {
  return static_cast<double>((k - 1) * ind) * pai / static_cast<double>(kmax);
}

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

// exp(I·φ) = cos φ + I·sin φ with each part the double nearest to the exact value, from the slow
// exact reference, remembered by |φ| (the cosine is even, the sine odd, and rounding to nearest is
// symmetric), since the plain rendering asks for every angle many times.
Complex exact_twiddle(double phi) {
  static std::unordered_map<std::uint64_t, exact::CosSin> known;
  const auto [it, inserted] = known.try_emplace(bits(std::fabs(phi)), exact::CosSin{0.0, 0.0});
  if (inserted) {
    const std::optional<exact::CosSin> cs = exact::cos_sin(std::fabs(phi));
    if (cs) {
      it->second = *cs;
    } else {
      ADD_FAILURE() << "160 bits do not settle the rounding of cos or sin at " << phi;
    }
  }
  return Complex(it->second.cos, phi < 0.0 ? -it->second.sin : it->second.sin);
}

// The transform rendered line by line from its algorithm, the reference for every kernel:
// a[0] is element 1, and every index below counts from 1.
void plain_wvfast(int n, Complex* a, int ind) {
  const auto at = [a](int index) -> Complex& { return a[index - 1]; };
  int j = 1;
  for (int i = 1; i <= n; ++i) {
    if (i < j) {
      const Complex temp = at(j);
      at(j) = at(i);
      at(i) = temp;
    }
    int m = n / 2;
    while (true) {
      if (j <= m) break;
      j = j - m;
      m = m / 2;
      if (m <= 1) break;
    }
    j = j + m;
  }
  int kmax = 1;
  while (kmax < n) {
    const int istep = 2 * kmax;
    for (int k = 1; k <= kmax; ++k) {
      const Complex theta(0.0, angle(k, kmax, ind));
      for (int i = k; i <= n; i += istep) {
        j = i + kmax;
        const Complex w = exact_twiddle(theta.imag());
        const Complex temp(at(j).real() * w.real() - at(j).imag() * w.imag(),
                           at(j).imag() * w.real() + at(j).real() * w.imag());
        const Complex old = at(i);
        at(j) = Complex(old.real() - temp.real(), old.imag() - temp.imag());
        at(i) = Complex(old.real() + temp.real(), old.imag() + temp.imag());
      }
    }
    kmax = istep;
  }
}

// Succeeds when got and want hold the same bits, element by element; with any_nan, a NaN also
// matches any other NaN, because which operand's NaN an operation passes on is left to the
// hardware and the compiler's operand order, not to the algorithm.
::testing::AssertionResult SameBits(const std::vector<Complex>& got, const std::vector<Complex>& want,
                                    bool any_nan = false) {
  if (got.size() != want.size()) return ::testing::AssertionFailure() << "lengths differ";
  for (std::size_t i = 0; i < got.size(); ++i) {
    const double g[2] = {got[i].real(), got[i].imag()};
    const double w[2] = {want[i].real(), want[i].imag()};
    for (int part = 0; part < 2; ++part) {
      if (bits(g[part]) == bits(w[part])) continue;
      if (any_nan && std::isnan(g[part]) && std::isnan(w[part])) continue;
      return ::testing::AssertionFailure()
             << "element " << i + 1 << (part == 0 ? " real" : " imag") << ": got " << g[part] << " (0x"
             << std::hex << bits(g[part]) << "), want " << w[part] << " (0x" << bits(w[part]) << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

std::vector<FftKernel> available_kernels() {
  std::vector<FftKernel> kernels;
  for (FftKernel k : {FftKernel::portable, FftKernel::sse2, FftKernel::avx}) {
    if (detail::fft_kernel_available(k)) kernels.push_back(k);
  }
  return kernels;
}

std::string kernel_name(FftKernel kernel) {
  switch (kernel) {
    case FftKernel::portable: return "portable";
    case FftKernel::sse2: return "sse2";
    case FftKernel::avx: return "avx";
  }
  return "?";
}

// Transforms a copy of x with `kernel` in an array that has four more elements after element n,
// checks that those are left bit for bit as they were, and returns elements 1..n.
std::vector<Complex> transformed(FftKernel kernel, const std::vector<Complex>& x, int ind) {
  const Complex sentinel(std::bit_cast<double>(0x7ff4'dead'beef'0001ULL), -0.0);
  std::vector<Complex> a = x;
  a.resize(x.size() + 4, sentinel);
  const int n = static_cast<int>(x.size());
  detail::wvfast_with(kernel, n, a.data(), static_cast<int>(a.size()), ind);
  for (std::size_t i = x.size(); i < a.size(); ++i) {
    EXPECT_EQ(bits(a[i].real()), bits(sentinel.real())) << "element " << i + 1 << " after n was touched";
    EXPECT_EQ(bits(a[i].imag()), bits(sentinel.imag())) << "element " << i + 1 << " after n was touched";
  }
  a.resize(x.size());
  return a;
}

std::vector<Complex> plain_transformed(const std::vector<Complex>& x, int ind) {
  std::vector<Complex> a = x;
  plain_wvfast(static_cast<int>(a.size()), a.data(), ind);
  return a;
}

std::vector<Complex> random_values(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 gen(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<Complex> x(n);
  for (Complex& v : x) v = Complex(u(gen), u(gen));
  return x;
}

struct NamedInput {
  std::string name;
  std::vector<Complex> values;
};

// Inputs that reach every butterfly differently: random, random over 60 binary orders of magnitude
// (a reordered sum shows at once), a constant, and impulses at the first, second, middle, last element.
std::vector<NamedInput> inputs_of_length(std::size_t n) {
  std::vector<NamedInput> inputs;
  inputs.push_back({"random", random_values(n, 1000 + n)});
  std::vector<Complex> scaled = random_values(n, 2000 + n);
  std::mt19937_64 gen(3000 + n);
  std::uniform_int_distribution<int> exponent(-30, 30);
  for (Complex& v : scaled) v = Complex(std::ldexp(v.real(), exponent(gen)), std::ldexp(v.imag(), exponent(gen)));
  inputs.push_back({"scaled", scaled});
  inputs.push_back({"constant", std::vector<Complex>(n, Complex(0.75, -1.25))});
  for (std::size_t p : {std::size_t{1}, std::size_t{2}, n / 2 + 1, n}) {
    if (p > n) continue;
    std::vector<Complex> impulse(n);
    impulse[p - 1] = Complex(1.0, 0.0);
    inputs.push_back({"impulse at " + std::to_string(p), impulse});
  }
  return inputs;
}

// Every twiddle the passes use, every pass up to the longest transform and both directions: each
// part is the double nearest to the exact cosine or sine of its angle.
TEST(WvfastTwiddles, EveryTwiddleIsTheNearestDoubleToTheExactCosineAndSine) {
  int mismatches = 0;
  for (int ind : {-1, 1}) {
    for (int kmax = 1; kmax <= table_kmax; kmax *= 2) {
      for (int k = 1; k <= kmax; ++k) {
        const Complex got = detail::tabulated_twiddle(k - 1, kmax, ind);
        const Complex want = exact_twiddle(angle(k, kmax, ind));
        if (bits(got.real()) == bits(want.real()) && bits(got.imag()) == bits(want.imag())) continue;
        if (++mismatches <= 5) {
          ADD_FAILURE() << "kmax = " << kmax << ", k = " << k << ", ind = " << ind << ": got " << got << ", want "
                        << want;
        }
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// A smaller pass's angles are the largest pass's taken at a stride, to the bit: the transform uses
// 16384 distinct angles in all, and one level of the table would do for every pass.
TEST(WvfastTwiddles, SmallerPassAnglesAreLargestPassAnglesAtAStride) {
  int mismatches = 0;
  for (int ind : {-1, 1}) {
    for (int kmax = 1; kmax < table_kmax; kmax *= 2) {
      const int stride = table_kmax / kmax;
      for (int k = 1; k <= kmax; ++k) {
        if (bits(angle(k, kmax, ind)) != bits(angle((k - 1) * stride + 1, table_kmax, ind))) ++mismatches;
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// Every kernel, every length 1..32768, both directions: the same bits as the plain algorithm.
TEST(WvfastBits, EveryKernelMatchesThePlainAlgorithm) {
  const std::vector<FftKernel> kernels = available_kernels();
  for (std::size_t n = 1; n <= 32768; n *= 2) {
    for (const NamedInput& input : inputs_of_length(n)) {
      for (int ind : {-1, 1}) {
        const std::vector<Complex> want = plain_transformed(input.values, ind);
        for (FftKernel kernel : kernels) {
          EXPECT_TRUE(SameBits(transformed(kernel, input.values, ind), want))
              << kernel_name(kernel) << ", n = " << n << ", " << input.name << ", ind = " << ind;
        }
      }
    }
  }
}

// Signed zeros, infinities, NaNs, subnormals and overflowing values: a twiddle of (1, 0) must still
// be multiplied out, since re·1 − im·0 is not re when re is −0 and im < 0, or when im is infinite.
TEST(WvfastBits, SpecialValuesMatchThePlainAlgorithm) {
  const double tiny = std::numeric_limits<double>::denorm_min();
  const double huge = std::numeric_limits<double>::max();
  const double specials[] = {0.0, -0.0, 1.0, -1.0, inf, -inf, nan, tiny, -tiny, huge, -huge, 0.5};
  std::mt19937_64 gen(42);
  std::uniform_int_distribution<std::size_t> pick(0, std::size(specials) - 1);
  const std::vector<FftKernel> kernels = available_kernels();
  for (std::size_t n = 2; n <= 256; n *= 2) {
    std::vector<std::vector<Complex>> inputs;
    inputs.emplace_back(n, Complex(-0.0, -0.0));
    inputs.emplace_back(n, Complex(-0.0, -1.0));
    inputs.emplace_back(n, Complex(0.0, -0.0));
    std::vector<Complex> one_inf(n, Complex(-0.0, 0.0));
    one_inf[n - 1] = Complex(1.0, inf);
    inputs.push_back(one_inf);
    for (int draw = 0; draw < 20; ++draw) {
      std::vector<Complex> mixed = random_values(n, static_cast<std::uint64_t>(draw) * 977 + n);
      for (Complex& v : mixed) {
        if (pick(gen) % 3 == 0) v = Complex(specials[pick(gen)], specials[pick(gen)]);
      }
      inputs.push_back(mixed);
    }
    for (std::size_t c = 0; c < inputs.size(); ++c) {
      for (int ind : {-1, 1}) {
        const std::vector<Complex> want = plain_transformed(inputs[c], ind);
        for (FftKernel kernel : kernels) {
          EXPECT_TRUE(SameBits(transformed(kernel, inputs[c], ind), want, true))
              << kernel_name(kernel) << ", n = " << n << ", input " << c << ", ind = " << ind;
        }
      }
    }
  }
}

// Results worked by hand. Length 4 exposes pai: its quarter-turn twiddle has cos(pai/2) ≈ −2.051e−10
// where the exact π would give 0.
TEST(WvfastSmallCases, HandWorkedResults) {
  const double c = exact_twiddle(pai / 2).real();
  EXPECT_NEAR(c, -2.051e-10, 1e-13);
  const Complex I(0.0, 1.0);
  struct Case {
    int ind;
    std::vector<Complex> input, want;
  };
  const Case cases[] = {
      {-1, {}, {}},
      {+1, {Complex(3.5, -1.0)}, {Complex(3.5, -1.0)}},
      {-1, {1.0, 2.0}, {3.0, -1.0}},
      {+1, {1.0, 2.0}, {3.0, -1.0}},
      {-1, {1.0, 0.0, 0.0, 0.0}, {1.0, 1.0, 1.0, 1.0}},
      {+1, {1.0, 0.0, 0.0, 0.0}, {1.0, 1.0, 1.0, 1.0}},
      {-1, {0.0, 1.0, 0.0, 0.0}, {1.0, c - I, -1.0, -c + I}},
      {+1, {0.0, 1.0, 0.0, 0.0}, {1.0, c + I, -1.0, -c - I}},
      {-1, std::vector<Complex>(8, 2.0), {16.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
      {+1, std::vector<Complex>(8, 2.0), {16.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}},
  };
  for (const Case& t : cases) {
    for (FftKernel kernel : available_kernels()) {
      EXPECT_EQ(transformed(kernel, t.input, t.ind), t.want)
          << kernel_name(kernel) << ", n = " << t.input.size() << ", ind = " << t.ind;
    }
  }
}

TEST(WvfastPermutation, LengthEightOrder) {
  std::vector<Complex> a = {1.0, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.0};
  detail::permute_bit_reversed(8, a.data());
  EXPECT_EQ(a, (std::vector<Complex>{1.0, 5.0, 3.0, 7.0, 2.0, 6.0, 4.0, 8.0}));
}

// Position r ends up holding the element from the position with r's log2 n bits reversed.
TEST(WvfastPermutation, IsTheBitReversalForEveryLength) {
  for (int n = 1, bit_count = 0; n <= 32768; n *= 2, ++bit_count) {
    std::vector<Complex> a(static_cast<std::size_t>(n));
    for (int r = 0; r < n; ++r) a[static_cast<std::size_t>(r)] = static_cast<double>(r);
    detail::permute_bit_reversed(n, a.data());
    int wrong = 0;
    for (int r = 0; r < n; ++r) {
      int reversed = 0;
      for (int b = 0; b < bit_count; ++b) reversed |= ((r >> b) & 1) << (bit_count - 1 - b);
      if (a[static_cast<std::size_t>(r)].real() != static_cast<double>(reversed)) ++wrong;
    }
    EXPECT_EQ(wrong, 0) << "n = " << n;
  }
}

double max_magnitude(const std::vector<Complex>& x) {
  double m = 0.0;
  for (const Complex& v : x) m = std::max(m, std::abs(v));
  return m;
}

// Forward then backward gives n times the input: every twiddle has modulus one and the backward
// twiddles are the forward ones conjugated, so only rounding is left, a few units of 1e−16 for each
// of the 2·log2 n passes relative to the largest value.
TEST(WvfastAccuracy, ForwardThenBackwardReturnsNTimesTheInput) {
  for (std::size_t n : {std::size_t{4096}, std::size_t{32768}}) {
    const std::vector<Complex> x = random_values(n, 5 + n);
    std::vector<Complex> a = x;
    wvfast(static_cast<int>(n), a.data(), static_cast<int>(n), -1);
    wvfast(static_cast<int>(n), a.data(), static_cast<int>(n), +1);
    double worst = 0.0;
    for (std::size_t i = 0; i < n; ++i) worst = std::max(worst, std::abs(a[i] - static_cast<double>(n) * x[i]));
    EXPECT_LT(worst / (static_cast<double>(n) * max_magnitude(x)), 2e-15) << "n = " << n;
  }
}

// Against the DFT summed directly in long double with the exact π. pai is 4.1e−10 below π, so every
// twiddle angle is off by up to 4.1e−10 rad, and an output that crosses log2 n of them moves by up to
// about log2 n · 4.1e−10 (5e−9 at 4096) of the largest output; 1e−7 leaves room, and a real fault
// (wrong sign, wrong twiddle, a lost butterfly) gives errors of order one.
TEST(WvfastAccuracy, AgreesWithADirectDft) {
  const long double pi = 3.141592653589793238462643383279502884L;
  for (std::size_t n : {std::size_t{8}, std::size_t{64}, std::size_t{512}, std::size_t{2048}}) {
    const std::vector<Complex> x = random_values(n, 9 + n);
    for (int ind : {-1, 1}) {
      std::vector<std::complex<long double>> roots(n);
      for (std::size_t m = 0; m < n; ++m) {
        const long double phi = static_cast<long double>(ind) * 2 * pi * static_cast<long double>(m) /
                                static_cast<long double>(n);
        roots[m] = std::complex<long double>(std::cos(phi), std::sin(phi));
      }
      const std::vector<Complex> got = transformed(detail::fft_kernel_chosen(), x, ind);
      double worst = 0.0;
      for (std::size_t q = 0; q < n; ++q) {
        std::complex<long double> sum = 0;
        for (std::size_t p = 0; p < n; ++p) {
          sum += std::complex<long double>(x[p].real(), x[p].imag()) * roots[(p * q) % n];
        }
        const std::complex<long double> diff = std::complex<long double>(got[q].real(), got[q].imag()) - sum;
        worst = std::max(worst, static_cast<double>(std::abs(diff)));
      }
      EXPECT_LT(worst / max_magnitude(got), 1e-7) << "n = " << n << ", ind = " << ind;
    }
  }
}

TEST(WvfastDeathTest, RefusesCallsOutsideTheContract) {
  std::vector<Complex> a(8);
  EXPECT_DEATH(wvfast(6, a.data(), 8, -1), "wvfast: the length is not a power of two");
  EXPECT_DEATH(wvfast(8, a.data(), 4, -1), "wvfast: the length exceeds the capacity of the array");
  EXPECT_DEATH(wvfast(4, a.data(), 8, 0), "wvfast: the direction is neither -1 nor \\+1");
  EXPECT_DEATH(wvfast(-2, a.data(), 8, 1), "wvfast: the length is negative");
  std::vector<Complex> longer(65536);
  EXPECT_DEATH(wvfast(65536, longer.data(), 65536, 1), "wvfast: the length exceeds 32768");
}

}  // namespace
}  // namespace wavproc
