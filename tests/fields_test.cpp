// Fixed-point and exponent fields and the free-form number texts: exact strings for the tables and
// boundaries, and agreement with a printf-based rendering at every power of two. Random values of
// every kind are compared with the same rendering by fuzz/fields_fuzz.cpp.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <string>

#include <gtest/gtest.h>

#include "field_reference.h"
#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace wavproc::detail {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kMin = std::numeric_limits<double>::denorm_min();

// The field of v by the general writer; fails the test when it touches anything past w
// characters, or when the writer made for the field's shape, where there is one, gives another text.
std::string field(void (*general)(char*, double, int, int), char kind, double v, int w, int d) {
  char buf[64];
  std::memset(buf, '#', sizeof buf);
  general(buf, v, w, d);
  EXPECT_EQ(buf[w], '#') << kind << w << "." << d << " of " << v << " wrote past its field";
  const std::string text(buf, static_cast<std::size_t>(w));
  if (const FieldWriter shaped = field_writer(kind, w, d)) {
    std::memset(buf, '#', sizeof buf);
    shaped(buf, v);
    EXPECT_EQ(std::string(buf, static_cast<std::size_t>(w + 1)), text + '#')
        << "the writer of " << kind << w << "." << d << " of " << std::hexfloat << v;
  }
  return text;
}

std::string fixed(double v, int w, int d) { return field(write_fixed_field, 'F', v, w, d); }
std::string expo(double v, int w, int d) { return field(write_exp_field, 'E', v, w, d); }

std::string list_double(double v) {
  char buf[32];
  const std::size_t n = write_list_double(buf, v);
  EXPECT_LE(n, 24u);
  return std::string(buf, n);
}

std::string list_integer(std::int32_t v) {
  char buf[32];
  return std::string(buf, write_list_integer(buf, v));
}

using field_reference::ref_exp;
using field_reference::ref_fixed;
using field_reference::ref_list;

struct FieldCase {
  int w;
  int d;
  double v;
  const char* text;
};

// Checks the Fw.d (kind 'F') or Ew.d (kind 'E') field of every case against its text.
void expect_fields(char kind, std::span<const FieldCase> cases) {
  for (const FieldCase& c : cases) {
    const std::string got = kind == 'F' ? fixed(c.v, c.w, c.d) : expo(c.v, c.w, c.d);
    EXPECT_EQ(got, c.text) << kind << c.w << "." << c.d << " of " << c.v;
  }
}

TEST(FixedField, Table) {
  const FieldCase cases[] = {
      {8, 4, 0.048828125, "  0.0488"},
      {8, 4, 25.0, " 25.0000"},
      {8, 4, 999.9999, "999.9999"},
      {8, 4, 999.99995, "********"},
      {8, 4, 1000.0, "********"},
      {6, 3, 0.0, " 0.000"},
      {6, 3, 0.01, " 0.010"},
      {6, 3, 100.0, "******"},
      {12, 4, -12.3456789, "    -12.3457"},
      {12, 4, -0.00004, "      0.0000"},
      {12, 4, 1234567.8, "1234567.8000"},
      {12, 4, -1234567.8, "************"},
  };
  expect_fields('F', cases);
}

TEST(FixedField, Rounding) {
  const FieldCase cases[] = {
      {8, 4, 0.00005, "  0.0001"},    // the double lies just above the half
      {8, 4, 0.00015, "  0.0001"},    // and this one just below
      {8, 4, 0.03125, "  0.0312"},    // exact tie: to the even digit
      {8, 4, 0.09375, "  0.0938"},    // exact tie: to the even digit
      {6, 0, 0.5, "    0."},          // exact ties with no places after the point
      {6, 0, 1.5, "    2."},
      {6, 0, 2.5, "    2."},
      {8, 4, 9.99995, " 10.0000"},    // carry into a new integer digit
      {8, 4, 99.99995, " 99.9999"},   // the double is below the half
      {8, 4, 99.999951, "100.0000"},
      {6, 3, 99.9995, "99.999"},      // the double is below 99.9995
      {6, 3, 99.99951, "******"},     // rounds to 100.000
      {12, 4, 0.1, "      0.1000"},
      {12, 4, 1e-300, "      0.0000"},
      {12, 4, kMin, "      0.0000"},
      {40, 39, 0.1, ".100000000000000005551115123125782702118"},
      {40, 20, 1.0 / 3.0, "                  0.33333333333333331483"},
  };
  expect_fields('F', cases);
}

// A minus only before a value that does not round to zero; zero of either sign has its own exit.
TEST(FixedField, Sign) {
  const FieldCase cases[] = {
      {12, 4, 0.0, "      0.0000"},
      {12, 4, -0.0, "      0.0000"},
      {2, 0, -0.0, "0."},
      {1, 0, 0.0, "."},
      {5, 4, -0.0, ".0000"},             // no room for the "0"
      {12, 4, -0.00004, "      0.0000"},  // rounds to zero: no sign
      {12, 4, -0.00005, "     -0.0001"},  // just above the half: rounds away from zero
      {12, 4, -1e-300, "      0.0000"},
      {8, 4, -0.5, " -0.5000"},
      {7, 4, -0.5, "-0.5000"},
      {6, 4, -0.5, "-.5000"},  // one too long: the "0" goes, the sign stays
      {5, 4, -0.5, "*****"},
      {6, 3, -9.999, "-9.999"},
      {6, 0, -0.4, "    0."},
  };
  expect_fields('F', cases);
}

TEST(FixedField, Overflow) {
  const FieldCase cases[] = {
      {5, 4, 0.5, ".5000"},        // exactly one too long, integer part "0": dropped
      {5, 4, 1.5, "*****"},        // one too long but the integer digit is not "0"
      {5, 4, 0.99995, "*****"},    // rounds to 1.0000: no "0" left to drop
      {5, 4, 0.99994, ".9999"},
      {1, 0, 0.3, "."},
      {1, 0, 3.0, "*"},
      {12, 4, 9999999.9999, "9999999.9999"},
      {12, 4, 9999999.99995, "9999999.9999"},  // the double is below the half
      {12, 4, 9999999.99996, "************"},
      {12, 4, -999999.9999, "-999999.9999"},
      {12, 4, -999999.99996, "************"},
      {12, 4, 1e15, "************"},
      {12, 4, 1e300, "************"},
      {12, 4, DBL_MAX, "************"},
      {40, 0, 1e38, " 99999999999999997748809823456034029568."},
      {40, 0, 1e39, "999999999999999939709166371603178586112."},
      {40, 0, 1e40, "****************************************"},
  };
  expect_fields('F', cases);
}

// Non-finite values keep the field width, like every other value.
TEST(FixedField, NonFinite) {
  const FieldCase cases[] = {
      {8, 4, kNaN, "     NaN"}, {8, 4, kInf, "     Inf"}, {8, 4, -kInf, "    -Inf"},
      {3, 1, kNaN, "NaN"},       {3, 1, -kInf, "***"},     {4, 1, -kInf, "-Inf"},
  };
  expect_fields('F', cases);
}

TEST(ExpField, Table) {
  const FieldCase cases[] = {
      {12, 4, 123.456, "  0.1235E+03"},
      {12, 4, 0.028284271, "  0.2828E-01"},
      {12, 4, 1.0, "  0.1000E+01"},
      {12, 4, 9.99996, "  0.1000E+02"},
      {12, 4, 0.0, "  0.0000E+00"},
      {12, 4, 1.5e-120, "  0.1500-119"},
      {12, 4, -123.456, " -0.1235E+03"},
      {12, 4, -0.0, "  0.0000E+00"},
  };
  expect_fields('E', cases);
}

TEST(ExpField, Carry) {
  const FieldCase cases[] = {
      {12, 4, 9.99996, "  0.1000E+02"},
      {12, 4, 9.99949, "  0.9999E+01"},
      {12, 4, 0.99995, "  0.1000E+01"},   // the double is just above the half
      {12, 4, 99999.5, "  0.1000E+06"},   // carry where the digits come from a division
      {12, 4, 99994.99, "  0.9999E+05"},
      {12, 4, 9.9995e98, "  0.1000+100"}, // carry into a three-digit exponent
      {12, 4, 9.9995e-100, "  0.9999E-99"},  // the double is below the half
      {12, 4, 9.99951e-100, "  0.1000E-98"},
      {12, 4, 1.0625, "  0.1062E+01"},    // exact tie: to the even digit
      {12, 4, 1.1875, "  0.1188E+01"},    // exact tie: to the even digit
      {12, 4, 12345.0, "  0.1234E+05"},   // exact tie above 10^d
      {12, 4, 12355.0, "  0.1236E+05"},
      {12, 4, 9.0, "  0.9000E+01"},
      {12, 4, 10.0, "  0.1000E+02"},
      {12, 4, 100.0, "  0.1000E+03"},
  };
  expect_fields('E', cases);
}

TEST(ExpField, ThreeDigitExponent) {
  const FieldCase cases[] = {
      {12, 4, 9.999e98, "  0.9999E+99"},
      {12, 4, 1e99, "  0.1000+100"},
      {12, 4, 1e-100, "  0.1000E-99"},
      {12, 4, 9.999e-101, "  0.9999-100"},
      {12, 4, -1.5e-120, " -0.1500-119"},
      {12, 4, DBL_MAX, "  0.1798+309"},
      {12, 4, -DBL_MAX, " -0.1798+309"},
      {12, 4, DBL_MIN, "  0.2225-307"},
      {12, 4, kMin, "  0.4941-323"},
      {12, 4, 3 * kMin, "  0.1482-322"},
      {12, 4, 1e-320, "  0.1000-319"},  // a subnormal keeps few bits: 1e-320 is 0.99998887e-320
  };
  expect_fields('E', cases);
}

TEST(ExpField, Width) {
  const FieldCase cases[] = {
      {9, 4, 1.0, ".1000E+01"},        // exactly d + 5: no "0" before the point
      {10, 4, 1.0, "0.1000E+01"},
      {8, 4, 1.0, "********"},
      {10, 4, -1.0, "-.1000E+01"},     // a minus needs one more position
      {9, 4, -1.0, "*********"},
      {11, 4, -1.0, "-0.1000E+01"},
      {9, 4, -0.0, ".0000E+00"},       // negative zero has no sign and needs none
      {6, 1, 5.0, ".5E+01"},
      {7, 1, 5.0, "0.5E+01"},
      {15, 8, 1.0 / 3.0, " 0.33333333E+00"},
      {40, 35, 0.1, ".10000000000000000555111512312578270E+00"},
      {40, 20, 1e300, "              0.10000000000000000525+301"},
  };
  expect_fields('E', cases);
}

TEST(ExpField, NonFinite) {
  const FieldCase cases[] = {
      {12, 4, kNaN, "         NaN"},
      {12, 4, kInf, "         Inf"},
      {12, 4, -kInf, "        -Inf"},
      {3, 1, -kInf, "***"},
  };
  expect_fields('E', cases);
}

struct ListCase {
  double v;
  const char* text;
};

TEST(ListDouble, Forms) {
  const ListCase cases[] = {
      {0.01, "  0.01"},
      {2000.0, "  2000."},
      {-3.5, " -3.5"},
      {1.0 / 3.0, "  0.333333333"},
      {0.30679615757712825, "  0.306796158"},
      {0.3067961575683594, "  0.306796158"},
      {20.48, "  20.48"},
      {157.38642883256836, "  157.386429"},
      {0.0001, "  0.0001"},
      {0.00001, "  1.E-005"},
      {0.000099999999999, "  0.0001"},          // rounds up into the fixed form
      {999999999.6, "  1.E+009"},               // rounds up out of it
      {999999999.4, "  999999999."},
      {123456789.0, "  123456789."},
      {1234567890.0, "  1.23456789E+009"},
      {0.0, "  0."},
      {-0.0, "  0."},
      {1.0, "  1."},
      {-1e-5, " -1.E-005"},
      {1.5e-120, "  1.5E-120"},
      {DBL_MAX, "  1.79769313E+308"},
      {kMin, "  4.94065646E-324"},
      {-0.00012345678912, " -0.000123456789"},  // the longest fixed form
  };
  for (const auto& c : cases) EXPECT_EQ(list_double(c.v), c.text) << c.v;
}

TEST(ListDouble, NonFinite) {
  const ListCase cases[] = {{kInf, "  Infinity"}, {-kInf, " -Infinity"}, {kNaN, "  NaN"}, {-kNaN, "  NaN"}};
  for (const auto& c : cases) EXPECT_EQ(list_double(c.v), c.text) << c.v;
}

TEST(ListInteger, Forms) {
  const struct {
    std::int32_t v;
    const char* text;
  } cases[] = {
      {0, " 0"},     {2000, " 2000"}, {-5, " -5"}, {9, " 9"}, {10, " 10"}, {-99, " -99"}, {100, " 100"},
      {INT32_MAX, " 2147483647"},     {INT32_MIN, " -2147483648"},
  };
  for (const auto& c : cases) EXPECT_EQ(list_integer(c.v), c.text) << c.v;
}

// Every binade from the smallest subnormal to the largest double, at both of its ends, in the
// fields and the free-form text.
TEST(ExpField, MatchesPrintfAtEveryPowerOfTwo) {
  for (int e = -1074; e <= 1023; ++e) {
    const double p = std::ldexp(1.0, e);
    for (const double v : {p, std::nextafter(p, 0.0), std::nextafter(p, kInf)}) {
      if (!std::isfinite(v)) continue;
      for (const int d : {1, 4, 9, 17}) ASSERT_EQ(expo(v, 30, d), ref_exp(v, 30, d)) << std::hexfloat << v;
      ASSERT_EQ(fixed(v, 12, 4), ref_fixed(v, 12, 4)) << std::hexfloat << v;
      ASSERT_EQ(list_double(v), ref_list(v)) << std::hexfloat << v;
    }
  }
}

}  // namespace
}  // namespace wavproc::detail
