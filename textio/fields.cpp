// Fixed-point and exponent fields, and the free-form texts of numbers. Every digit comes from the
// exact binary value rounded half-even to the decimal length the text needs: a 128-bit integer path
// serves the magnitudes the waveform and spectrum files hold, std::to_chars everything else. The
// four shapes of the files (F6.3, F8.4, F12.4, E12.4) have writers of their own that give the same
// text with less work, falling back to the general ones outside the magnitudes they serve.
#include <algorithm>
#include <array>
#include <bit>
#include <cassert>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <system_error>

#include "textio/decimal.h"
#include "textio/textio_detail.h"

namespace wavproc::detail {
namespace {

__extension__ typedef unsigned __int128 Wide;

constexpr std::uint64_t kPow5[5] = {1, 5, 25, 125, 625};

constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> t{};
  for (int i = 0; i < 100; ++i) {
    t[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    t[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return t;
}();

// Room for the digits of a fixed field before it is shaped: up to 41 before the point, 39 after.
constexpr int kMaxFixedDigits = 96;

// The number of decimal digits of n (1 for 0).
int count_digits(std::uint64_t n) {
  // bit_width·1233/4096 is floor(log10 2^bit_width), which is the digit count less one or two.
  const std::uint64_t m = n | 1;
  const int guess = (static_cast<int>(std::bit_width(m)) * 1233) >> 12;
  return guess + (m >= kPow10[guess] ? 1 : 0);
}

// Writes the count lowest digits of n right to left, ending just before p, two at a time, and
// leaves in n what is above them; returns where the digits begin.
char* write_digits_backward(char* p, std::uint64_t& n, int count) {
  for (; count >= 2; count -= 2) {
    p -= 2;
    std::memcpy(p, &kDigitPairs[static_cast<std::size_t>(2 * (n % 100))], 2);
    n /= 100;
  }
  if (count > 0) {
    *--p = static_cast<char>('0' + n % 10);
    n /= 10;
  }
  return p;
}

// Writes n as exactly count digits, zero-padded on the left, into out; n < 10^count.
void write_digits(char* out, std::uint64_t n, int count) {
  char* p = out + count;
  while (p - out >= 2) {
    p -= 2;
    std::memcpy(p, &kDigitPairs[static_cast<std::size_t>(2 * (n % 100))], 2);
    n /= 100;
  }
  if (p > out) *--p = static_cast<char>('0' + n);
}

// Fills count characters of out with blanks, in a few overlapping word stores for the short runs
// that fields have in front of their digits.
void fill_blanks(char* out, std::size_t count) {
  static constexpr char kBlanks[8] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
  if (count >= 8) {
    for (std::size_t i = 0; i + 8 <= count; i += 8) std::memcpy(out + i, kBlanks, 8);
    std::memcpy(out + count - 8, kBlanks, 8);
  } else if (count >= 4) {
    std::memcpy(out, kBlanks, 4);
    std::memcpy(out + count - 4, kBlanks, 4);
  } else if (count >= 2) {
    std::memcpy(out, kBlanks, 2);
    std::memcpy(out + count - 2, kBlanks, 2);
  } else if (count == 1) {
    *out = ' ';
  }
}

// Fills w characters of out with asterisks: the value does not fit its field.
void write_stars(char* out, int w) { std::memset(out, '*', static_cast<std::size_t>(w)); }

// Writes text right-aligned in a field of w characters, or w asterisks when it is longer.
void write_aligned(char* out, int w, std::string_view text) {
  const int len = static_cast<int>(text.size());
  if (len > w) {
    write_stars(out, w);
    return;
  }
  std::memset(out, ' ', static_cast<std::size_t>(w - len));
  std::memcpy(out + (w - len), text.data(), text.size());
}

// The field text of a non-finite value: "NaN", "Inf" or "-Inf".
std::string_view non_finite_text(double v) {
  if (std::isnan(v)) return "NaN";
  return v < 0 ? "-Inf" : "Inf";
}

// A finite magnitude as m·2^e exactly, with m < 2^53.
struct Binary {
  std::uint64_t m;
  int e;
};

// Splits the finite value a >= 0 into its integer significand and binary exponent.
Binary decompose(double a) {
  const auto bits = std::bit_cast<std::uint64_t>(a);
  const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
  const int biased = static_cast<int>((bits >> 52) & 0x7ff);
  if (biased == 0) return {fraction, -1074};
  return {fraction | (std::uint64_t{1} << 52), biased - 1075};
}

using WideQuotient = Quotient<Wide>;

// num / den for 0 < den < 2^64 and num < 2^64.
WideQuotient divide_small(std::uint64_t num, std::uint64_t den) {
  const std::uint64_t floor = num / den;
  const std::uint64_t rest = num % den;
  return {floor, rounds_up_half_even(floor, rest, den - rest)};
}

// Sets n to a·10^d rounded half-even, for 0 <= a < 2^53, d <= 19 and a result below 2^64;
// false (n untouched) outside that range.
bool round_scaled(double a, int d, std::uint64_t& n) {
  if (d > 19) return false;
  const Binary b = decompose(a);
  if (b.e > 0) return false;
  const Wide num = Wide{b.m} * kPow10[d];  // below 2^117
  // From 2^118 on the divisor is more than twice num: the value is below one half and rounds to 0.
  Wide q = 0;
  if (-b.e < 118) q = round_by_pow2(num, -b.e);
  if ((q >> 64) != 0) return false;
  n = static_cast<std::uint64_t>(q);
  return true;
}

// The rounding of round_scaled for d <= 4 in 64-bit arithmetic: with a = m·2^e, a·10^d is
// (m·5^d)/2^s for s = -e - d, and m·5^d stays below 2^64. Serves zero and the magnitudes from
// 2^(-11-d) to 2^(52-d) (s from 1 to 63); false (n untouched) for the others.
bool round_scaled_short(double a, int d, std::uint64_t& n) {
  if (d > 4) return false;
  const Binary b = decompose(a);
  if (b.m == 0) {
    n = 0;
    return true;
  }
  const int s = -b.e - d;
  if (s < 1 || s > 63) return false;
  n = round_by_pow2(b.m * kPow5[d], s);
  return true;
}

// Sets n to the d significant digits of a > 0 rounded half-even (10^(d-1) <= n < 10^d) and k so
// that a is about 0.n·10^k, for d <= 17 and magnitudes from about 10^(d-20) to 2^53; false outside.
bool round_significant(double a, int d, std::uint64_t& n, int& k) {
  if (d > 17) return false;
  const Binary b = decompose(a);
  if (b.e > 0 || b.m == 0) return false;
  const int e2 = b.e + 63 - std::countl_zero(b.m);  // 2^e2 <= a < 2^(e2+1)
  // floor(e2·log10 2) to within one; the loop below settles the last step either way.
  k = ((e2 * 78913) >> 18) + 1;
  for (;;) {
    const int p = d - k;
    WideQuotient quotient{};
    if (p >= 0) {
      if (p > 19 || -b.e >= 128) return false;
      quotient = divide_by_pow2(Wide{b.m} * kPow10[p], -b.e);
    } else {
      if (-p > 19 || -b.e > 63) return false;
      const Wide den = Wide{kPow10[-p]} << -b.e;
      if (den > b.m) {
        quotient = {0, false};
      } else {
        quotient = divide_small(b.m, static_cast<std::uint64_t>(den));
      }
    }
    if (quotient.floor >= kPow10[d]) {
      ++k;
      continue;
    }
    if (quotient.floor < kPow10[d - 1]) {
      --k;
      continue;
    }
    n = static_cast<std::uint64_t>(quotient.floor) + (quotient.up ? 1 : 0);
    if (n == kPow10[d]) {  // rounded up across a power of ten: 9.99996 becomes 0.1000·10^2
      n = kPow10[d - 1];
      ++k;
    }
    return true;
  }
}

// Writes the digits of a >= 0 rounded to d places after the point, without the point, into digits
// (kMaxFixedDigits long), for the magnitudes that the integer roundings do not serve: at least
// d + 1 of them, "0" standing for an empty integer part. Returns their count, or 0 for a magnitude
// whose integer part alone is wider than any field.
int fixed_digits(double a, int d, char* digits) {
  if (a >= 1e41) return 0;
  char text[kMaxFixedDigits + 8];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, a, std::chars_format::fixed, d);
  assert(ec == std::errc());
  int count = 0;
  for (const char* p = text; p != end; ++p) {
    if (*p != '.') digits[count++] = *p;
  }
  return count;
}

// Writes the d significant digits of a > 0 rounded half-even into digits (exactly d characters)
// and returns k, the exponent that makes a about 0.D1...Dd·10^k.
int exp_digits(double a, int d, char* digits) {
  std::uint64_t n = 0;
  int k = 0;
  if (round_significant(a, d, n, k)) {
    write_digits(digits, n, d);
    return k;
  }
  char text[64];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, a, std::chars_format::scientific, d - 1);
  assert(ec == std::errc());
  // The text is "D.DDDe+XX" ("De+XX" for one digit); its exponent belongs to the form D.DDD.
  digits[0] = text[0];
  const char* p = text + 1;
  if (d > 1) {
    std::memcpy(digits + 1, text + 2, static_cast<std::size_t>(d - 1));
    p = text + 1 + d;
  }
  assert(*p == 'e');
  const bool negative = p[1] == '-';
  int magnitude = 0;
  std::from_chars(p + 2, end, magnitude);
  return (negative ? -magnitude : magnitude) + 1;
}

// The field Fw.d of n·10^-d, n being |v|·10^d already rounded: right to left, no buffer between.
void write_fixed_scaled(char* out, std::uint64_t n, bool negative, int w, int d) {
  // "0" stands for an empty integer part; a value that rounds to all zeros carries no sign.
  const int count = std::max(count_digits(n), d + 1);
  const bool minus = negative && n != 0;
  int len = (minus ? 1 : 0) + count + 1;
  bool zero_before_point = true;
  if (len > w) {
    // One character too many is absorbed by the "0" of an empty integer part, and only by that.
    if (len != w + 1 || n >= kPow10[d]) {
      write_stars(out, w);
      return;
    }
    zero_before_point = false;
    --len;
  }
  char* p = write_digits_backward(out + w, n, d);
  *--p = '.';
  if (zero_before_point) p = write_digits_backward(p, n, count - d);
  if (minus) *--p = '-';
  fill_blanks(out, static_cast<std::size_t>(p - out));
}

// The field Fw.d of any v: non-finite values, then the 128-bit rounding, then std::to_chars for
// the magnitudes beyond it. Kept out of line, so that the common path stays short.
[[gnu::noinline]] void write_fixed_general(char* out, double v, int w, int d) {
  if (!std::isfinite(v)) {
    write_aligned(out, w, non_finite_text(v));
    return;
  }
  std::uint64_t n = 0;
  if (round_scaled(std::fabs(v), d, n)) {
    write_fixed_scaled(out, n, std::signbit(v), w, d);
    return;
  }
  char digits[kMaxFixedDigits];
  const int count = fixed_digits(std::fabs(v), d, digits);
  if (count == 0) {
    write_stars(out, w);
    return;
  }
  // A value that rounds to all zeros, negative zero among them, carries no sign.
  const bool minus = std::signbit(v) &&
                     std::any_of(digits, digits + count, [](char c) { return c != '0'; });
  int first = 0;
  int len = (minus ? 1 : 0) + count + 1;
  if (len > w) {
    // One character too many is absorbed by the "0" of an empty integer part, and only by that;
    // the digits start with "0" only then.
    if (len != w + 1 || digits[0] != '0') {
      write_stars(out, w);
      return;
    }
    first = 1;
    --len;
  }
  char* p = out;
  std::memset(p, ' ', static_cast<std::size_t>(w - len));
  p += w - len;
  if (minus) *p++ = '-';
  const int whole = count - d - first;
  std::memcpy(p, digits + first, static_cast<std::size_t>(whole));
  p += whole;
  *p++ = '.';
  std::memcpy(p, digits + count - d, static_cast<std::size_t>(d));
}

// Eight decimal digits of x < 10^8 in one word, one digit value (0..9) a byte, the leading digit
// in the lowest byte: two halves of four digits, each split into pairs, each pair into digits, by
// multiplications that stand for the divisions by 100 and by 10 (exact for the values they meet).
std::uint64_t eight_digits(std::uint32_t x) {
  std::uint64_t v = (x / 10000) | (std::uint64_t{x % 10000} << 32);
  const std::uint64_t hundreds = ((v * 10486) >> 20) & 0x0000007F0000007FULL;
  v = hundreds | ((v - hundreds * 100) << 16);
  const std::uint64_t tens = ((v * 103) >> 10) & 0x000F000F000F000FULL;
  return tens | ((v - tens * 10) << 8);
}

constexpr std::uint64_t kZeroChars = 0x3030303030303030ULL;
constexpr std::uint64_t kBlankChars = 0x2020202020202020ULL;

// A word whose lowest count bytes (0 to 7) are blanks, the rest zero.
constexpr std::uint64_t blank_chars(int count) { return count == 0 ? 0 : kBlankChars >> (8 * (8 - count)); }

// Writes the integer part n of a fixed field and its sign, right-aligned in `whole` characters
// (2 to 8); false (nothing written) when they do not fit. Little-endian machines only: the text
// is built in a word whose lowest byte is the first character.
template <int whole>
bool write_whole_part(char* out, std::uint64_t n, bool minus) {
  static_assert(whole >= 2 && whole <= 8);
  if (n >= kPow10[minus ? whole - 1 : whole]) return false;
  const std::uint64_t digits = eight_digits(static_cast<std::uint32_t>(n));
  // Leading zero digits of the eight, one digit kept: "0" stands for an empty integer part.
  const int lead = std::min(std::countr_zero(digits) / 8, 7);
  const int blanks = lead - (8 - whole);
  std::uint64_t text = (digits | kZeroChars) >> (8 * (8 - whole));
  const std::uint64_t blank_mask = (std::uint64_t{1} << (8 * blanks)) - 1;
  text = (text & ~blank_mask) | (kBlankChars & blank_mask);
  if (minus) {
    const int at = 8 * (blanks - 1);
    text = (text & ~(std::uint64_t{0xFF} << at)) | (std::uint64_t{'-'} << at);
  }
  std::memcpy(out, &text, whole);
  return true;
}

// The field Fw.d of v for one of the program's shapes. The magnitudes below 2^(52-d) are rounded
// in 64-bit integers as round_scaled_short does, those too small for it round to 0, and the text
// is laid down without a loop; the rest (too wide, non-finite) take the general path.
template <int w, int d>
void write_fixed_shaped(char* out, double v) {
  constexpr int whole = w - d - 1;
  constexpr int shown = std::min(whole, 8 - d);  // integer digits that share a word with the decimals
  const Binary b = decompose(std::fabs(v));
  const int s = -b.e - d;
  if (s < 1) {
    write_fixed_general(out, v, w, d);
    return;
  }
  // |v|·10^d is m·5^d/2^s, and m·5^d < 2^63: from s = 64 on it is below one half.
  std::uint64_t n = 0;
  if (s < 64) n = round_by_pow2(b.m * kPow5[d], s);
  const bool minus = std::signbit(v) && n != 0;
  if constexpr (std::endian::native != std::endian::little) {
    write_fixed_scaled(out, n, minus, w, d);
  } else if (n < kPow10[shown + d]) {
    // One word of eight digits holds the whole text: zeros, `shown` integer digits, d decimals.
    const std::uint64_t digits = eight_digits(static_cast<std::uint32_t>(n));
    const std::uint64_t chars = digits | kZeroChars;
    // Leading zeros of the integer digits, one digit kept: "0" stands for an empty integer part.
    const int lead = std::min(std::countr_zero(digits) / 8, 7 - d) - (8 - d - shown);
    const int sign_at = whole - shown + lead - 1;  // the character before the first digit
    if (minus && sign_at < 0) {
      write_stars(out, w);
      return;
    }
    std::uint64_t integer = (chars >> (8 * (8 - d - shown))) & ((std::uint64_t{1} << (8 * shown)) - 1);
    const std::uint64_t blank_mask = (std::uint64_t{1} << (8 * lead)) - 1;
    integer = (integer & ~blank_mask) | (kBlankChars & blank_mask);
    std::uint64_t head = blank_chars(whole - shown) | (integer << (8 * (whole - shown))) |
                         (std::uint64_t{'.'} << (8 * whole));
    if (minus) head = (head & ~(std::uint64_t{0xFF} << (8 * sign_at))) | (std::uint64_t{'-'} << (8 * sign_at));
    const std::uint64_t decimals = chars >> (8 * (8 - d));
    if constexpr (w <= 8) {
      head |= decimals << (8 * (whole + 1));
      std::memcpy(out, &head, w);
    } else {
      std::memcpy(out, &head, whole + 1);
      std::memcpy(out + whole + 1, &decimals, d);
    }
  } else if constexpr (shown == whole) {
    write_stars(out, w);
  } else {
    const std::uint64_t integer = n / kPow10[d];
    const auto fraction = static_cast<std::uint32_t>(n - integer * kPow10[d]);
    if (!write_whole_part<whole>(out, integer, minus)) {
      write_stars(out, w);
      return;
    }
    out[whole] = '.';
    char* f = out + whole + 1;
    if constexpr (d == 4) {
      std::memcpy(f, &kDigitPairs[2 * (fraction / 100)], 2);
      std::memcpy(f + 2, &kDigitPairs[2 * (fraction % 100)], 2);
    } else {
      static_assert(d == 3);
      f[0] = static_cast<char>('0' + fraction / 100);
      std::memcpy(f + 1, &kDigitPairs[2 * (fraction % 100)], 2);
    }
  }
}

// Sets n to the four significant digits of a rounded half-even (1000 <= n <= 9999) and k so that
// a is about 0.n·10^k, for a normal double a > 0 with |4 - k| <= 22: a·10^(4-k) is a product or
// quotient of two exact doubles, within 2^-39 of the true value, so its rounding is the exact one
// unless it lies within 2^-30 of a half or of the ends of [1000, 10000). False there, and outside
// that range, for the exact path to decide.
bool four_significant(double a, std::uint32_t& n, int& k) {
  const int biased = static_cast<int>(std::bit_cast<std::uint64_t>(a) >> 52);
  if (biased == 0) return false;
  k = (((biased - 1023) * 78913) >> 18) + 1;  // a >= 10^(k-1), or just below
  double x = 0.0;
  for (int tries = 0;; ++tries) {
    const int p = 4 - k;
    if (p < -22 || p > 22 || tries == 3) return false;
    x = p >= 0 ? a * kExactPow10[p] : a / kExactPow10[-p];
    if (x >= 10000.0) {
      ++k;
    } else if (x < 1000.0) {
      --k;
    } else {
      break;
    }
  }
  constexpr double kMargin = 0x1p-30;
  const double floor = std::floor(x);
  const double rest = x - floor;  // exact: x < 2^14
  if (x < 1000.0 + kMargin || x >= 10000.0 - kMargin || std::fabs(rest - 0.5) <= kMargin) return false;
  n = static_cast<std::uint32_t>(floor) + (rest > 0.5 ? 1 : 0);
  if (n == 10000) {  // 9999.5 or more rounds across the power of ten
    n = 1000;
    ++k;
  }
  return true;
}

// The field E12.4 of v: two blanks, or a blank and a minus, then "0.", four digits, the exponent.
void write_exp_12_4(char* out, double v) {
  // Zero of either sign: the lines a band-pass filter has cleared.
  if (v == 0.0) {
    std::memcpy(out, "  0.0000E+00", 12);
    return;
  }
  const double a = std::fabs(v);
  std::uint32_t n = 0;
  int k = 0;
  if (!(a > 0.0 && four_significant(a, n, k)) || k < -99 || k > 99) {
    write_exp_field(out, v, 12, 4);
    return;
  }
  std::memcpy(out, v < 0 ? " -0." : "  0.", 4);
  std::memcpy(out + 4, &kDigitPairs[2 * (n / 100)], 2);
  std::memcpy(out + 6, &kDigitPairs[2 * (n % 100)], 2);
  out[8] = 'E';
  out[9] = k < 0 ? '-' : '+';
  std::memcpy(out + 10, &kDigitPairs[static_cast<std::size_t>(2 * (k < 0 ? -k : k))], 2);
}

}  // namespace

// The field Fw.d of v, exactly w characters.
void write_fixed_field(char* out, double v, int w, int d) {
  assert(w >= 1 && w <= 40 && d >= 0 && d < w);
  // Zero of either sign, a whole column of the output file (component 3): "0.", d zeros, no sign.
  if (v == 0.0 && w >= d + 2) {
    char* p = out + (w - d - 2);
    fill_blanks(out, static_cast<std::size_t>(p - out));
    *p++ = '0';
    *p++ = '.';
    for (int i = 0; i < d; ++i) p[i] = '0';
    return;
  }
  // The 64-bit rounding serves the magnitudes of samples, times and frequencies (and refuses
  // non-finite values); everything else takes the general path.
  std::uint64_t n = 0;
  if (round_scaled_short(std::fabs(v), d, n)) {
    write_fixed_scaled(out, n, std::signbit(v), w, d);
    return;
  }
  write_fixed_general(out, v, w, d);
}

// The field Ew.d of v, exactly w characters.
void write_exp_field(char* out, double v, int w, int d) {
  assert(w >= 1 && w <= 40 && d >= 1 && d < w);
  if (!std::isfinite(v)) {
    write_aligned(out, w, non_finite_text(v));
    return;
  }
  const bool minus = v < 0;  // negative zero is written as zero, without sign
  const int need = d + 5 + (minus ? 1 : 0);
  if (w < need) {
    write_stars(out, w);
    return;
  }
  // A field wider than it needs shows a "0" before the point; the rest of the room is blanks.
  const bool zero = w > need;
  const int blanks = w - need - (zero ? 1 : 0);
  char* p = out;
  fill_blanks(p, static_cast<std::size_t>(blanks));
  p += blanks;
  if (minus) *p++ = '-';
  if (zero) *p++ = '0';
  *p++ = '.';
  int k = 0;
  if (v == 0) {
    std::memset(p, '0', static_cast<std::size_t>(d));
  } else {
    k = exp_digits(std::fabs(v), d, p);
  }
  assert(k >= -999 && k <= 999);
  p += d;
  const int magnitude = k < 0 ? -k : k;
  const char sign = k < 0 ? '-' : '+';
  // Exponents of three digits take the place of the "E".
  if (magnitude <= 99) {
    p[0] = 'E';
    p[1] = sign;
    std::memcpy(p + 2, &kDigitPairs[static_cast<std::size_t>(2 * magnitude)], 2);
  } else {
    p[0] = sign;
    write_digits(p + 1, static_cast<std::uint64_t>(magnitude), 3);
  }
}

// The writer made for the shape kind w.d, or null.
FieldWriter field_writer(char kind, int w, int d) {
  if (kind == 'F' && w == 6 && d == 3) return write_fixed_shaped<6, 3>;
  if (kind == 'F' && w == 8 && d == 4) return write_fixed_shaped<8, 4>;
  if (kind == 'F' && w == 12 && d == 4) return write_fixed_shaped<12, 4>;
  if (kind == 'E' && w == 12 && d == 4) return write_exp_12_4;
  return nullptr;
}

// The free-form text of a double item; returns its length.
std::size_t write_list_double(char* out, double v) {
  char* p = out;
  *p++ = ' ';
  *p++ = v < 0 ? '-' : ' ';
  if (std::isnan(v) || std::isinf(v)) {
    const std::string_view word = std::isnan(v) ? "NaN" : "Infinity";
    std::memcpy(p, word.data(), word.size());
    return static_cast<std::size_t>(p - out) + word.size();
  }
  if (v == 0) {
    *p++ = '0';
    *p++ = '.';
    return static_cast<std::size_t>(p - out);
  }
  // Nine significant digits as "D.DDDDDDDDe+XX": the exponent is that of the rounded value.
  char text[32];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, std::fabs(v), std::chars_format::scientific, 8);
  assert(ec == std::errc());
  char digits[9];
  digits[0] = text[0];
  std::memcpy(digits + 1, text + 2, 8);
  int significant = 9;
  while (significant > 1 && digits[significant - 1] == '0') --significant;
  assert(text[10] == 'e');
  int magnitude = 0;
  std::from_chars(text + 12, end, magnitude);
  const int k = text[11] == '-' ? -magnitude : magnitude;

  if (k >= -4 && k <= 8) {
    if (k >= 0) {
      for (int i = 0; i <= k; ++i) *p++ = i < significant ? digits[i] : '0';
      *p++ = '.';
      for (int i = k + 1; i < significant; ++i) *p++ = digits[i];
    } else {
      *p++ = '0';
      *p++ = '.';
      for (int i = 1; i < -k; ++i) *p++ = '0';
      std::memcpy(p, digits, static_cast<std::size_t>(significant));
      p += significant;
    }
    return static_cast<std::size_t>(p - out);
  }
  *p++ = digits[0];
  *p++ = '.';
  std::memcpy(p, digits + 1, static_cast<std::size_t>(significant - 1));
  p += significant - 1;
  *p++ = 'E';
  *p++ = k < 0 ? '-' : '+';
  write_digits(p, static_cast<std::uint64_t>(k < 0 ? -k : k), 3);
  return static_cast<std::size_t>(p + 3 - out);
}

// The free-form text of an integer item; returns its length.
std::size_t write_list_integer(char* out, std::int32_t v) {
  char* p = out;
  *p++ = ' ';
  if (v < 0) *p++ = '-';
  // The magnitude in 64 bits: the most negative value has no positive 32-bit counterpart.
  const std::uint64_t magnitude = v < 0 ? static_cast<std::uint64_t>(-static_cast<std::int64_t>(v))
                                        : static_cast<std::uint64_t>(v);
  const int count = count_digits(magnitude);
  write_digits(p, magnitude, count);
  return static_cast<std::size_t>(p + count - out);
}

}  // namespace wavproc::detail
