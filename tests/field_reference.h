// Independent renderings of the field texts, built from printf's exactly rounded conversions and
// the field rules, for the field tests and the field fuzz target to compare the writers against.
#pragma once

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace field_reference {

// text right-aligned in w characters, or w asterisks when it does not fit.
inline std::string right_aligned(const std::string& text, int w) {
  const auto width = static_cast<std::size_t>(w);
  if (text.size() > width) return std::string(width, '*');
  return std::string(width - text.size(), ' ') + text;
}

// The Fw.d field built from printf's "%.*f", independently of the writer.
inline std::string ref_fixed(double v, int w, int d) {
  if (std::isnan(v)) return right_aligned("NaN", w);
  if (std::isinf(v)) return right_aligned(v < 0 ? "-Inf" : "Inf", w);
  std::vector<char> buf(static_cast<std::size_t>(400 + d));  // DBL_MAX has 309 integer digits
  std::snprintf(buf.data(), buf.size(), "%.*f", d, std::fabs(v));
  std::string t = buf.data();
  if (d == 0) t += '.';
  if (std::signbit(v) && t.find_first_not_of("0.") != std::string::npos) t = "-" + t;
  const auto width = static_cast<std::size_t>(w);
  if (t.size() > width) {
    const std::size_t at = t[0] == '-' ? 1 : 0;
    if (t.size() != width + 1 || t.compare(at, 2, "0.") != 0) return std::string(width, '*');
    t.erase(at, 1);
  }
  return right_aligned(t, w);
}

// The Ew.d field built from printf's "%.*e".
inline std::string ref_exp(double v, int w, int d) {
  if (std::isnan(v)) return right_aligned("NaN", w);
  if (std::isinf(v)) return right_aligned(v < 0 ? "-Inf" : "Inf", w);
  const bool minus = v < 0;
  const int need = d + 5 + (minus ? 1 : 0);
  if (w < need) return std::string(static_cast<std::size_t>(w), '*');
  char buf[128];
  std::snprintf(buf, sizeof buf, "%.*e", d - 1, std::fabs(v));
  std::string mantissa = buf;
  const std::size_t e = mantissa.find('e');
  const int k = v == 0 ? 0 : std::atoi(buf + e + 1) + 1;
  mantissa.resize(e);
  if (d > 1) mantissa.erase(1, 1);
  char exponent[16];
  std::snprintf(exponent, sizeof exponent, std::abs(k) <= 99 ? "E%+03d" : "%+04d", k);
  return right_aligned(std::string(minus ? "-" : "") + (w > need ? "0." : ".") + mantissa + exponent, w);
}

// The free-form double text built from printf's "%.9g", whose choice between the fixed and the
// exponent form is the same: fixed for decimal exponents -4 to 8.
inline std::string ref_list(double v) {
  std::string s = v < 0 ? " -" : "  ";
  if (std::isnan(v)) return s + "NaN";
  if (std::isinf(v)) return s + "Infinity";
  if (v == 0) return s + "0.";
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.9g", std::fabs(v));
  std::string t = buf;
  const std::size_t e = t.find('e');
  std::string mantissa = t.substr(0, e);
  if (mantissa.find('.') == std::string::npos) mantissa += '.';
  if (e == std::string::npos) return s + mantissa;
  const int k = std::atoi(buf + e + 1);
  char exponent[16];
  std::snprintf(exponent, sizeof exponent, "E%c%03d", k < 0 ? '-' : '+', std::abs(k));
  return s + mantissa + exponent;
}

}  // namespace field_reference
