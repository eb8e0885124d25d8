// The radix-2 transform: the bit-reversal permutation, then log2 n butterfly passes. Every kernel
// forms each butterfly exactly as the plain algorithm does (the correctly rounded twiddle of its
// angle, the complex product written out, no fused multiply-add), so all of them give the same bits; they
// differ only in how many butterflies one instruction carries and in how many passes one sweep over
// the array makes.
//
// The SSE2 and AVX pass loops are written out twice on purpose. One loop template over a small
// vector-traits type cannot carry both in this file: the AVX code must sit in functions compiled for
// AVX ([[gnu::target("avx")]]), a template cannot take that attribute from its parameter, and both
// GCC and clang refuse to inline the AVX intrinsics (always_inline) into a template instance compiled
// without AVX. Putting the attribute on the template would VEX-encode the SSE2 instance too, which
// then no longer runs on a processor without AVX. The remaining way, the AVX instance in a
// translation unit of its own built with -mavx, would let inline functions that both units share be
// compiled twice for different processors under one name, and the linker keeps either; that risk
// outweighs the forty lines the template would save.
#include "fft/fft.h"
#include "fft/wvfast_detail.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <utility>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#define WAVPROC_FFT_X86 1
#endif

namespace wavproc {
namespace {

using Complex = std::complex<double>;
using detail::FftKernel;

// The largest half-span, that of the longest transform (32768).
constexpr std::size_t table_kmax = 16384;

// The forward twiddles (ind = -1) of every pass up to half-span table_kmax, as (re, im) pairs: the
// pass of half-span kmax reads complex entries [kmax, 2·kmax); entry 0 is unused. Entry kmax + k is
// exp(I·φ) with φ = double(-k)·pai/kmax, each part the double nearest to the exact cosine and sine
// of φ, written at build time by fft/make_twiddles.cpp. The backward pass reads the same entries
// conjugated: its angle is the forward one negated (the product with pai and the division commute
// with the sign), the cosine is even, the sine odd, and rounding to nearest is symmetric.
alignas(64) constexpr double table[4 * table_kmax] = {
#include "twiddle_table.inc"
};

// The imaginary part of a tabulated twiddle for the direction: as tabulated forward, 0 − im
// backward. The forward table's imaginary parts are +0 or nonzero, and 0 − (+0) is +0, the
// backward twiddle of angle 0, where a plain negation would give −0.
template <bool Backward>
inline double twiddle_imag(double im) {
  return Backward ? 0.0 - im : im;
}

// One butterfly on the elements at ai and aj (real part first) with twiddle (wr, wi):
// temp = aj·w, then aj = ai − temp and ai = ai + temp.
inline void butterfly(double* ai, double* aj, double wr, double wi) {
  const double tr = aj[0] * wr - aj[1] * wi;
  const double ti = aj[1] * wr + aj[0] * wi;
  aj[0] = ai[0] - tr;
  aj[1] = ai[1] - ti;
  ai[0] = ai[0] + tr;
  ai[1] = ai[1] + ti;
}

// Runs the pass of half-span kmax over d[0..2n) with the tabulated twiddles tw, block by block.
template <bool Backward>
void run_pass_portable(std::size_t n, double* d, const double* tw, std::size_t kmax) {
  const double* w = tw + 2 * kmax;
  for (std::size_t b = 0; b < n; b += 2 * kmax) {
    double* lo = d + 2 * b;
    double* hi = lo + 2 * kmax;
    for (std::size_t k = 0; k < kmax; ++k) {
      butterfly(lo + 2 * k, hi + 2 * k, w[2 * k], twiddle_imag<Backward>(w[2 * k + 1]));
    }
  }
}

// Runs every butterfly pass over d[0..2n), n >= 2, one pass per sweep, one butterfly at a time.
template <bool Backward>
void run_passes_portable(std::size_t n, double* d, const double* tw) {
  for (std::size_t kmax = 1; kmax < n; kmax *= 2) run_pass_portable<Backward>(n, d, tw, kmax);
}

#ifdef WAVPROC_FFT_X86

// One butterfly on the elements held in x and y with twiddle w, all three as (re, im).
inline void butterfly_sse2(__m128d& x, __m128d& y, __m128d w) {
  // (−0, +0) flips the sign of the low lane only; re·c + im·(−s) is re·c − im·s to the bit, because
  // rounding to nearest is symmetric and a − b is defined as a + (−b).
  const __m128d flip_low = _mm_set_pd(0.0, -0.0);
  const __m128d wr = _mm_unpacklo_pd(w, w);
  const __m128d wi = _mm_xor_pd(_mm_unpackhi_pd(w, w), flip_low);
  const __m128d swapped = _mm_shuffle_pd(y, y, 1);
  const __m128d temp = _mm_add_pd(_mm_mul_pd(y, wr), _mm_mul_pd(swapped, wi));
  y = _mm_sub_pd(x, temp);
  x = _mm_add_pd(x, temp);
}

// Loads the tabulated twiddle at w for the direction: (re, 0 − im) backward.
template <bool Backward>
inline __m128d load_twiddle_sse2(const double* w) {
  const __m128d t = _mm_loadu_pd(w);
  if (!Backward) return t;
  // move_sd keeps the real part of t and takes the imaginary part of 0 − t.
  return _mm_move_sd(_mm_sub_pd(_mm_setzero_pd(), t), t);
}

// Runs the pass of half-span kmax over d[0..2n) with the tabulated twiddles tw.
template <bool Backward>
void run_pass_sse2(std::size_t n, double* d, const double* tw, std::size_t kmax) {
  const double* w = tw + 2 * kmax;
  for (std::size_t b = 0; b < n; b += 2 * kmax) {
    double* lo = d + 2 * b;
    double* hi = lo + 2 * kmax;
    for (std::size_t k = 0; k < kmax; ++k) {
      __m128d x = _mm_loadu_pd(lo + 2 * k);
      __m128d y = _mm_loadu_pd(hi + 2 * k);
      butterfly_sse2(x, y, load_twiddle_sse2<Backward>(w + 2 * k));
      _mm_storeu_pd(lo + 2 * k, x);
      _mm_storeu_pd(hi + 2 * k, y);
    }
  }
}

// Runs the passes of half-spans kmax and 2·kmax (4·kmax <= n) in one sweep: each quarter-block
// quadruple gets its two first-pass butterflies, then its two second-pass ones, which read nothing else.
template <bool Backward>
void run_pass_pair_sse2(std::size_t n, double* d, const double* tw, std::size_t kmax) {
  const double* w1 = tw + 2 * kmax;
  const double* w2 = tw + 4 * kmax;
  const std::size_t q = 2 * kmax;
  for (std::size_t b = 0; b < n; b += 4 * kmax) {
    double* p = d + 2 * b;
    for (std::size_t k = 0; k < kmax; ++k) {
      double* e = p + 2 * k;
      __m128d x0 = _mm_loadu_pd(e);
      __m128d x1 = _mm_loadu_pd(e + q);
      __m128d x2 = _mm_loadu_pd(e + 2 * q);
      __m128d x3 = _mm_loadu_pd(e + 3 * q);
      const __m128d wa = load_twiddle_sse2<Backward>(w1 + 2 * k);
      butterfly_sse2(x0, x1, wa);
      butterfly_sse2(x2, x3, wa);
      butterfly_sse2(x0, x2, load_twiddle_sse2<Backward>(w2 + 2 * k));
      butterfly_sse2(x1, x3, load_twiddle_sse2<Backward>(w2 + q + 2 * k));
      _mm_storeu_pd(e, x0);
      _mm_storeu_pd(e + q, x1);
      _mm_storeu_pd(e + 2 * q, x2);
      _mm_storeu_pd(e + 3 * q, x3);
    }
  }
}

// Runs every butterfly pass over d[0..2n), n >= 2, two passes per sweep while two are left.
template <bool Backward>
void run_passes_sse2(std::size_t n, double* d, const double* tw) {
  std::size_t kmax = 1;
  while (kmax < n) {
    if (kmax <= n / 4) {
      run_pass_pair_sse2<Backward>(n, d, tw, kmax);
      kmax *= 4;
    } else {
      run_pass_sse2<Backward>(n, d, tw, kmax);
      kmax *= 2;
    }
  }
}

// Two butterflies: lanes 0 and 1 of x, y and w. x and y hold (re, im, re, im), w the two twiddles.
[[gnu::target("avx")]] inline void butterfly_avx(__m256d& x, __m256d& y, __m256d w) {
  const __m256d wr = _mm256_movedup_pd(w);
  const __m256d wi = _mm256_permute_pd(w, 0xF);
  const __m256d swapped = _mm256_permute_pd(y, 0x5);
  // addsub subtracts in the real lanes and adds in the imaginary ones: re·c − im·s, im·c + re·s.
  const __m256d temp = _mm256_addsub_pd(_mm256_mul_pd(y, wr), _mm256_mul_pd(swapped, wi));
  y = _mm256_sub_pd(x, temp);
  x = _mm256_add_pd(x, temp);
}

// Loads the two tabulated twiddles at w for the direction: (re, 0 − im) backward.
template <bool Backward>
[[gnu::target("avx")]] inline __m256d load_twiddles_avx(const double* w) {
  const __m256d t = _mm256_loadu_pd(w);
  if (!Backward) return t;
  return _mm256_blend_pd(t, _mm256_sub_pd(_mm256_setzero_pd(), t), 0xA);
}

// Runs the passes of half-spans 1 and 2 (n >= 4) in one sweep, four elements at a time.
template <bool Backward>
[[gnu::target("avx")]] void run_first_passes_avx(std::size_t n, double* d, const double* tw) {
  const __m256d w1 = load_twiddles_avx<Backward>(tw + 2);
  const __m256d w1_both = _mm256_permute2f128_pd(w1, w1, 0x00);
  const __m256d w2 = load_twiddles_avx<Backward>(tw + 4);
  for (std::size_t b = 0; b < n; b += 4) {
    double* e = d + 2 * b;
    const __m256d x = _mm256_loadu_pd(e);
    const __m256d y = _mm256_loadu_pd(e + 4);
    __m256d even = _mm256_permute2f128_pd(x, y, 0x20);
    __m256d odd = _mm256_permute2f128_pd(x, y, 0x31);
    butterfly_avx(even, odd, w1_both);
    __m256d lo = _mm256_permute2f128_pd(even, odd, 0x20);
    __m256d hi = _mm256_permute2f128_pd(even, odd, 0x31);
    butterfly_avx(lo, hi, w2);
    _mm256_storeu_pd(e, lo);
    _mm256_storeu_pd(e + 4, hi);
  }
}

// Runs the pass of half-span kmax (kmax >= 2) over d[0..2n) with the tabulated twiddles tw.
template <bool Backward>
[[gnu::target("avx")]] void run_pass_avx(std::size_t n, double* d, const double* tw, std::size_t kmax) {
  const double* w = tw + 2 * kmax;
  for (std::size_t b = 0; b < n; b += 2 * kmax) {
    double* lo = d + 2 * b;
    double* hi = lo + 2 * kmax;
    for (std::size_t k = 0; k < kmax; k += 2) {
      __m256d x = _mm256_loadu_pd(lo + 2 * k);
      __m256d y = _mm256_loadu_pd(hi + 2 * k);
      butterfly_avx(x, y, load_twiddles_avx<Backward>(w + 2 * k));
      _mm256_storeu_pd(lo + 2 * k, x);
      _mm256_storeu_pd(hi + 2 * k, y);
    }
  }
}

// Runs the passes of half-spans kmax and 2·kmax (kmax >= 2, 4·kmax <= n) in one sweep.
template <bool Backward>
[[gnu::target("avx")]] void run_pass_pair_avx(std::size_t n, double* d, const double* tw, std::size_t kmax) {
  const double* w1 = tw + 2 * kmax;
  const double* w2 = tw + 4 * kmax;
  const std::size_t q = 2 * kmax;
  for (std::size_t b = 0; b < n; b += 4 * kmax) {
    double* p = d + 2 * b;
    for (std::size_t k = 0; k < kmax; k += 2) {
      double* e = p + 2 * k;
      __m256d x0 = _mm256_loadu_pd(e);
      __m256d x1 = _mm256_loadu_pd(e + q);
      __m256d x2 = _mm256_loadu_pd(e + 2 * q);
      __m256d x3 = _mm256_loadu_pd(e + 3 * q);
      const __m256d wa = load_twiddles_avx<Backward>(w1 + 2 * k);
      butterfly_avx(x0, x1, wa);
      butterfly_avx(x2, x3, wa);
      butterfly_avx(x0, x2, load_twiddles_avx<Backward>(w2 + 2 * k));
      butterfly_avx(x1, x3, load_twiddles_avx<Backward>(w2 + q + 2 * k));
      _mm256_storeu_pd(e, x0);
      _mm256_storeu_pd(e + q, x1);
      _mm256_storeu_pd(e + 2 * q, x2);
      _mm256_storeu_pd(e + 3 * q, x3);
    }
  }
}

// Runs every butterfly pass over d[0..2n), n >= 2, two passes per sweep while two are left.
template <bool Backward>
[[gnu::target("avx")]] void run_passes_avx(std::size_t n, double* d, const double* tw) {
  if (n < 4) {
    run_pass_portable<Backward>(n, d, tw, 1);
    return;
  }
  run_first_passes_avx<Backward>(n, d, tw);
  std::size_t kmax = 4;
  while (kmax < n) {
    if (kmax <= n / 4) {
      run_pass_pair_avx<Backward>(n, d, tw, kmax);
      kmax *= 4;
    } else {
      run_pass_avx<Backward>(n, d, tw, kmax);
      kmax *= 2;
    }
  }
}

#endif

// Elements on a side of a tile of the permutation: 8 elements are two 64-byte cache lines.
constexpr std::size_t tile_edge = 8;
constexpr unsigned tile_bits = 3;

// Returns the low `bits` bits of x in reverse order (bits <= 32).
std::uint32_t reverse_bits(std::uint32_t x, unsigned bits) {
  if (bits == 0) return 0;
  x = ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
  x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
  x = ((x >> 4) & 0x0F0F0F0Fu) | ((x & 0x0F0F0F0Fu) << 4);
  x = ((x >> 8) & 0x00FF00FFu) | ((x & 0x00FF00FFu) << 8);
  x = (x >> 16) | (x << 16);
  return x >> (32 - bits);
}

// The bit-reversal permutation of a[0..n), n a power of two >= 64, done tile by tile.
// Position (h, m, l), with h the top 3 bits, l the bottom 3 and m those between, goes to
// (rev l, rev m, rev h): the 8 × 8 tile of middle part m lands, transposed and with both edges
// reversed, on the tile of middle part rev m. Moving whole tiles through a buffer keeps each access
// on whole cache lines; swapping element by element strides over the array by powers of two,
// where the cache's associativity makes most accesses misses.
void permute_by_tiles(std::size_t n, Complex* a) {
  constexpr std::array<std::size_t, tile_edge> reversed_edge = {0, 4, 2, 6, 1, 5, 3, 7};
  const unsigned log2n = static_cast<unsigned>(std::countr_zero(n));
  const unsigned middle_bits = log2n - 2 * tile_bits;
  const std::size_t row_stride = n >> tile_bits;
  const std::uint32_t middle_count = std::uint32_t{1} << middle_bits;
  std::array<Complex, tile_edge * tile_edge> first;
  std::array<Complex, tile_edge * tile_edge> second;
  const auto gather = [&](std::uint32_t m, std::array<Complex, tile_edge * tile_edge>& tile) {
    const Complex* base = a + (std::size_t{m} << tile_bits);
    for (std::size_t h = 0; h < tile_edge; ++h) {
      for (std::size_t l = 0; l < tile_edge; ++l) tile[h * tile_edge + l] = base[h * row_stride + l];
    }
  };
  const auto scatter = [&](const std::array<Complex, tile_edge * tile_edge>& tile, std::uint32_t m) {
    Complex* base = a + (std::size_t{m} << tile_bits);
    for (std::size_t r = 0; r < tile_edge; ++r) {
      for (std::size_t c = 0; c < tile_edge; ++c) {
        base[r * row_stride + c] = tile[reversed_edge[c] * tile_edge + reversed_edge[r]];
      }
    }
  };
  for (std::uint32_t m = 0; m < middle_count; ++m) {
    const std::uint32_t mr = reverse_bits(m, middle_bits);
    if (mr < m) continue;  // this pair of tiles was exchanged when m was the smaller one
    gather(m, first);
    if (mr == m) {
      scatter(first, m);
      continue;
    }
    gather(mr, second);
    scatter(first, mr);
    scatter(second, m);
  }
}

// Writes "wvfast: <what>" and the call's arguments to standard error, then aborts.
[[noreturn]] void reject_call(const char* what, int n, int mom, int ind) {
  char text[200];
  char* end = text + sizeof text;
  char* p = text;
  const auto put_text = [&](const char* s) {
    while (*s != '\0' && p < end) *p++ = *s++;
  };
  const auto put_int = [&](const char* name, int value) {
    put_text(name);
    p = std::to_chars(p, end, value).ptr;
  };
  put_text("wvfast: ");
  put_text(what);
  put_int(" (n = ", n);
  put_int(", mom = ", mom);
  put_int(", ind = ", ind);
  put_text(")\n");
  std::fwrite(text, 1, static_cast<std::size_t>(p - text), stderr);
  std::fflush(stderr);
  std::abort();
}

// Aborts unless the call meets the contract: ind is ±1, 0 <= n <= mom, n <= 32768, n is 0 or a power of two,
// and a is an array when there is something to transform.
void check_call(int n, const Complex* a, int mom, int ind) {
  if (ind != -1 && ind != 1) reject_call("the direction is neither -1 nor +1", n, mom, ind);
  if (n < 0) reject_call("the length is negative", n, mom, ind);
  if (n > mom) reject_call("the length exceeds the capacity of the array", n, mom, ind);
  if (n > static_cast<int>(2 * table_kmax)) reject_call("the length exceeds 32768", n, mom, ind);
  if ((n & (n - 1)) != 0) reject_call("the length is not a power of two", n, mom, ind);
  if (n > 1 && a == nullptr) reject_call("the array is missing", n, mom, ind);
}

// Runs the butterfly passes over a[0..n), n >= 2 a power of two, with the given kernel.
void run_passes(FftKernel kernel, std::size_t n, Complex* a, int ind) {
  // std::complex<double> is laid out as two doubles, real part first, and may be read as such.
  double* d = reinterpret_cast<double*>(a);
  const double* tw = table;
  const bool backward = ind > 0;
  switch (kernel) {
#ifdef WAVPROC_FFT_X86
    case FftKernel::avx:
      backward ? run_passes_avx<true>(n, d, tw) : run_passes_avx<false>(n, d, tw);
      return;
    case FftKernel::sse2:
      backward ? run_passes_sse2<true>(n, d, tw) : run_passes_sse2<false>(n, d, tw);
      return;
#endif
    default:
      backward ? run_passes_portable<true>(n, d, tw) : run_passes_portable<false>(n, d, tw);
      return;
  }
}

}  // namespace

namespace detail {

bool fft_kernel_available(FftKernel kernel) {
  switch (kernel) {
    case FftKernel::portable:
      return true;
#ifdef WAVPROC_FFT_X86
    case FftKernel::sse2:
      return true;
    case FftKernel::avx:
      // Initialising first makes the answer right even when asked from a static constructor.
      __builtin_cpu_init();
      return __builtin_cpu_supports("avx") != 0;
#endif
    default:
      return false;
  }
}

FftKernel fft_kernel_chosen() {
  static const FftKernel chosen = [] {
    for (FftKernel kernel : {FftKernel::avx, FftKernel::sse2}) {
      if (fft_kernel_available(kernel)) return kernel;
    }
    return FftKernel::portable;
  }();
  return chosen;
}

void permute_bit_reversed(int n, Complex* a) {
  if (n >= static_cast<int>(tile_edge * tile_edge)) {
    permute_by_tiles(static_cast<std::size_t>(n), a);
    return;
  }
  // j runs through the bit-reversed counterparts of i = 1..n, both counted from 1; each pair is
  // exchanged once, when i < j.
  int j = 1;
  for (int i = 1; i <= n; ++i) {
    if (i < j) std::swap(a[i - 1], a[j - 1]);
    int m = n / 2;
    while (j > m) {
      j -= m;
      m /= 2;
      if (m <= 1) break;
    }
    j += m;
  }
}

Complex tabulated_twiddle(int k, int kmax, int ind) {
  assert(kmax >= 1 && static_cast<std::size_t>(kmax) <= table_kmax && k >= 0 && k < kmax);
  const std::size_t entry = static_cast<std::size_t>(kmax + k);
  const double im = table[2 * entry + 1];
  return Complex(table[2 * entry], ind > 0 ? twiddle_imag<true>(im) : twiddle_imag<false>(im));
}

void wvfast_with(FftKernel kernel, int n, Complex* a, int mom, int ind) {
  assert(fft_kernel_available(kernel));
  check_call(n, a, mom, ind);
  if (n <= 1) return;
  permute_bit_reversed(n, a);
  run_passes(kernel, static_cast<std::size_t>(n), a, ind);
}

}  // namespace detail

void wvfast(int n, Complex* a, int mom, int ind) {
  detail::wvfast_with(detail::fft_kernel_chosen(), n, a, mom, ind);
}

}  // namespace wavproc
