// Fuzzes the field renderers with arbitrary doubles: Fw.d and Ew.d in the widths the two output
// files use and in any width the renderers accept, and the free-form texts of doubles and integers.
// Every text is checked against one built independently from the C library's exact conversion.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "textio/textio.h"

namespace {

struct Field {
  bool exp;
  int w;
  int d;
};

// The fields of "amp2.csv" and of the output waveform file.
constexpr Field kProgramFields[] = {{false, 8, 4}, {false, 6, 3}, {false, 12, 4}, {true, 12, 4}};

// Stops the run as a finding when a check fails.
void check(bool ok) {
  if (!ok) __builtin_trap();
}

// The text of a field of w characters: right-aligned, or w asterisks when it does not fit.
std::string aligned(const std::string& text, int w) {
  const auto width = static_cast<std::size_t>(w);
  if (text.size() > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

// The field text of a non-finite value.
std::string non_finite(double v) {
  if (std::isnan(v)) return "NaN";
  return v < 0 ? "-Inf" : "Inf";
}

// Fw.d as the field rules give it, with the digits from printf's exactly rounded "%.*f".
std::string expected_fixed(double v, int w, int d) {
  if (!std::isfinite(v)) return aligned(non_finite(v), w);
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", d, std::fabs(v));
  std::string text = buf;
  if (d == 0) text += '.';
  const bool minus = std::signbit(v) && text.find_first_of("123456789") != std::string::npos;
  if (minus) text.insert(0, 1, '-');
  const auto width = static_cast<std::size_t>(w);
  if (text.size() == width + 1) {
    const std::size_t zero = minus ? 1 : 0;
    if (text[zero] == '0' && text[zero + 1] == '.') text.erase(zero, 1);
  }
  return aligned(text, w);
}

// Ew.d as the field rules give it, with the digits from printf's exactly rounded "%.*e".
std::string expected_exp(double v, int w, int d) {
  if (!std::isfinite(v)) return aligned(non_finite(v), w);
  const bool minus = v < 0;
  const int need = d + 5 + (minus ? 1 : 0);
  if (w < need) return std::string(static_cast<std::size_t>(w), '*');
  std::string digits(static_cast<std::size_t>(d), '0');
  int k = 0;
  if (v != 0) {
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*e", d - 1, std::fabs(v));
    const char* e = std::strchr(buf, 'e');
    digits.assign(1, buf[0]);
    if (d > 1) digits.append(buf + 2, static_cast<std::size_t>(e - buf - 2));
    k = std::atoi(e + 1) + 1;
  }
  const int magnitude = k < 0 ? -k : k;
  char exponent[8];
  if (magnitude <= 99) {
    std::snprintf(exponent, sizeof exponent, "E%c%02d", k < 0 ? '-' : '+', magnitude);
  } else {
    std::snprintf(exponent, sizeof exponent, "%c%03d", k < 0 ? '-' : '+', magnitude);
  }
  std::string text = minus ? "-" : "";
  if (w > need) text += '0';
  text += '.' + digits + exponent;
  return aligned(text, w);
}

// The free-form text of a double: nine significant digits, fixed point for exponents -4..8.
std::string expected_list_double(double v) {
  std::string text = v < 0 ? " -" : "  ";
  if (std::isnan(v)) return text + "NaN";
  if (std::isinf(v)) return text + "Infinity";
  if (v == 0) return text + "0.";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.8e", std::fabs(v));
  std::string digits = std::string(1, buf[0]) + std::string(buf + 2, 8);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int k = std::atoi(std::strchr(buf, 'e') + 1);
  if (k >= -4 && k <= 8) {
    if (k < 0) return text + "0." + std::string(static_cast<std::size_t>(-k - 1), '0') + digits;
    const auto whole = static_cast<std::size_t>(k + 1);
    if (digits.size() < whole) digits.append(whole - digits.size(), '0');
    return text + digits.substr(0, whole) + "." + digits.substr(whole);
  }
  char exponent[8];
  std::snprintf(exponent, sizeof exponent, "E%c%03d", k < 0 ? '-' : '+', k < 0 ? -k : k);
  return text + digits.substr(0, 1) + "." + digits.substr(1) + exponent;
}

// Renders one field into a buffer of exactly w bytes (so a write past it is a finding) and
// compares it with the expected text.
void check_field(const Field& f, double v) {
  char* out = new char[static_cast<std::size_t>(f.w)];
  std::memset(out, 0, static_cast<std::size_t>(f.w));
  if (f.exp) {
    wavproc::write_exp_field(out, v, f.w, f.d);
  } else {
    wavproc::write_fixed_field(out, v, f.w, f.d);
  }
  const std::string got(out, static_cast<std::size_t>(f.w));
  delete[] out;
  check(got.find('\0') == std::string::npos);
  check(got == (f.exp ? expected_exp(v, f.w, f.d) : expected_fixed(v, f.w, f.d)));
}

}  // namespace

// Input: eight bytes of a double's bits, then optionally a byte each for a free width and digit
// count, and four bytes of an integer.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  double v = 0;
  std::memcpy(&v, data, 8);

  for (const Field& f : kProgramFields) check_field(f, v);

  if (size >= 10) {
    const int w = 1 + data[8] % 40;
    const int d = data[9] % w;
    check_field({false, w, d}, v);
    if (d >= 1) check_field({true, w, d}, v);
  }

  char text[32];
  const std::size_t len = wavproc::write_list_double(text, v);
  check(len <= 24);
  check(std::string(text, len) == expected_list_double(v));

  if (size < 14) return 0;
  std::int32_t n = 0;
  std::memcpy(&n, data + 10, 4);
  const std::size_t ilen = wavproc::write_list_integer(text, n);
  char want[32];
  std::snprintf(want, sizeof want, " %d", n);
  check(std::string(text, ilen) == want);
  return 0;
}
