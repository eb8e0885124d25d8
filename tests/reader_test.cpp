// The free-form reader and the "(Aw)" line read: values, status, where the next read starts, the
// end-of-input rules of the row loop, long and odd input, and reading through descriptors.
#include <fcntl.h>
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace wavproc::detail {
namespace {

using namespace std::string_view_literals;

constexpr std::int32_t kKeep = -77;  // what an integer slot holds before the read
constexpr double kKeepD = -7.5;      // what a double slot holds before the read
constexpr double kInf = std::numeric_limits<double>::infinity();

// How one statement ended: its reason, the unit's end flag after it and the input left unread.
struct Outcome {
  Reason reason;
  bool at_end;
  std::string rest;
};

// Runs one free-form statement over text.
Outcome run_list(std::string_view text, std::span<const Slot> slots, bool branch, bool at_end = false) {
  InBuffer in;
  in.attach_text(text);
  Reason r = read_free_form(in, at_end, slots, branch).reason;
  return {r, at_end, std::string(in.data(), in.available())};
}

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

std::string padded(std::string_view s, std::size_t len) {
  std::string out(s.substr(0, len));
  out.resize(len, ' ');
  return out;
}

// ---------------------------------------------------------------------------------------------

struct IntCase {
  std::string_view text;
  Reason reason;
  std::int32_t value;
  std::string_view rest;
};

TEST(ReadInteger, ValuesAndStops) {
  const IntCase cases[] = {
      {"  1  \nnext"sv,          Reason::none,            1,          "next"},
      {"+1\n"sv,                 Reason::none,            1,          ""},
      {"1,2\nnext"sv,            Reason::none,            1,          "next"},
      {"1 2\nnext"sv,            Reason::none,            1,          "next"},
      {"1y\nnext"sv,             Reason::none,            1,          "next"},
      {"12+3\n"sv,               Reason::none,            12000,      ""},
      {"15-1\n"sv,               Reason::none,            1,          ""},   // 1.5, truncated
      {"-15-1\n"sv,              Reason::none,            -1,         ""},
      {"-0\n"sv,                 Reason::none,            0,          ""},
      {"\n\n  \n7\nnext"sv,      Reason::none,            7,          "next"},  // empty lines passed over
      {"0000000000000000000000000000000000000000000042\n"sv, Reason::none, 42, ""},
      {"2147483647\n"sv,         Reason::none,            2147483647, ""},
      {"-2147483648\n"sv,        Reason::none,            INT32_MIN,  ""},
      {"21474836475-1\n"sv,      Reason::none,            2147483647, ""},  // 2147483647.5
      {"2147483648\n"sv,         Reason::integer_range,   kKeep,      "\n"},
      {"-2147483649\n"sv,        Reason::integer_range,   kKeep,      "\n"},
      {"1+99\n"sv,               Reason::integer_range,   kKeep,      "\n"},
      {"1.0\n"sv,                Reason::invalid_integer, kKeep,      ".0\n"},
      {"1e0\n"sv,                Reason::invalid_integer, kKeep,      "e0\n"},
      {"1D0\n"sv,                Reason::invalid_integer, kKeep,      "D0\n"},
      {".\n"sv,                  Reason::invalid_integer, kKeep,      ".\n"},
      {"-.5\n"sv,                Reason::invalid_integer, kKeep,      ".5\n"},
      {"y\n"sv,                  Reason::invalid_number,  kKeep,      "y\n"},
      {"+\n"sv,                  Reason::invalid_number,  kKeep,      "\n"},
      {"-\n"sv,                  Reason::invalid_number,  kKeep,      "\n"},
      {"\0\n"sv,                 Reason::invalid_number,  kKeep,      "\0\n"sv},
      {"\xff\n"sv,               Reason::invalid_number,  kKeep,      "\xff\n"},
      {"1+\n"sv,                 Reason::bad_exponent,    kKeep,      "\n"},
      {"1-x\n"sv,                Reason::bad_exponent,    kKeep,      "x\n"},
      {"1+100000000\n"sv,        Reason::bad_exponent,    kKeep,      "\n"},
      {"0*5\n"sv,                Reason::bad_repeat,      kKeep,      "5\n"},
      {"*5\n"sv,                 Reason::bad_repeat,      kKeep,      "*5\n"},
      {"-2*5\n"sv,               Reason::bad_repeat,      kKeep,      "5\n"},
      {"+2*5\n"sv,               Reason::bad_repeat,      kKeep,      "5\n"},
      {"+*5\n"sv,                Reason::bad_repeat,      kKeep,      "*5\n"},
      // A count of 41 significant digits is refused, one of 40 (leading zeros aside) is not.
      {"00012345678901234567890123456789012345678901*5\n"sv, Reason::bad_repeat, kKeep, "5\n"},
      {"0001234567890123456789012345678901234567890*5\n"sv,  Reason::none,       5,     ""},
  };
  for (const IntCase& c : cases) {
    std::int32_t v = kKeep;
    const Slot slots[] = {Slot::of(v)};
    Outcome o = run_list(c.text, slots, false);
    EXPECT_EQ(o.reason, c.reason) << c.text;
    EXPECT_EQ(v, c.value) << c.text;
    EXPECT_EQ(o.rest, c.rest) << c.text;
  }
}

// ---------------------------------------------------------------------------------------------

struct DoubleCase {
  std::string_view text;
  Reason reason;
  double value;
};

TEST(ReadDouble, Syntax) {
  const DoubleCase cases[] = {
      {"1.5D2",       Reason::none,           150.0},
      {"1.5d2",       Reason::none,           150.0},
      {"1.5E+2",      Reason::none,           150.0},
      {"1.5e-3",      Reason::none,           0.0015},
      {"1.5-3",       Reason::none,           0.0015},
      {"1.5+3",       Reason::none,           1500.0},
      {".5",          Reason::none,           0.5},
      {"5.",          Reason::none,           5.0},
      {"5",           Reason::none,           5.0},
      {"+.5",         Reason::none,           0.5},
      {"-12.345",     Reason::none,           -12.345},
      {"0.0100",      Reason::none,           0.01},
      {"1.5e3.5",     Reason::none,           1500.0},  // the number ends at the second point
      {"1e000000005", Reason::none,           1e5},
      {"1.5e",        Reason::bad_exponent,   kKeepD},
      {"1.5e+",       Reason::bad_exponent,   kKeepD},
      {"1.5-",        Reason::bad_exponent,   kKeepD},
      {"1.5ex",       Reason::bad_exponent,   kKeepD},
      {"1e99999999",  Reason::none,           kInf},
      {"1e100000000", Reason::bad_exponent,   kKeepD},
      {".",           Reason::invalid_number, kKeepD},
      {"-.",          Reason::invalid_number, kKeepD},
      {".e5",         Reason::invalid_number, kKeepD},
      {"e5",          Reason::invalid_number, kKeepD},
      {"+",           Reason::invalid_number, kKeepD},
      {"*",           Reason::bad_repeat,     kKeepD},
  };
  for (const DoubleCase& c : cases) {
    double v = kKeepD;
    const Slot slots[] = {Slot::of(v)};
    Outcome o = run_list(std::string(c.text) + " \n", slots, false);
    EXPECT_EQ(o.reason, c.reason) << c.text;
    EXPECT_EQ(bits(v), bits(c.value)) << c.text << " gave " << v;
  }
}

TEST(ReadDouble, ZerosRangeAndDigitLimit) {
  const std::string zeros300(300, '0');
  const DoubleCase cases[] = {
      {"-0",            Reason::none, 0.0},  // all-zero digits give +0 whatever the sign
      {"-0.000e-5",     Reason::none, 0.0},
      {"-1e-400",       Reason::none, -0.0},  // underflow keeps the sign
      {"1e-400",        Reason::none, 0.0},
      {"2e-324",        Reason::none, 0.0},
      {"4e-320",        Reason::none, 4e-320},
      {"1e309",         Reason::none, kInf},
      {"-1e309",        Reason::none, -kInf},
      {"1.7976931348623157e308", Reason::none, 1.7976931348623157e308},
      {"0.000001",      Reason::none, 1e-6},
      {"00000000000000000000000000000000000000000000000001.5", Reason::none, 1.5},
      // 2^53 + 1 is halfway between two doubles; the 41st digit would round it up, but digits
      // after the point beyond the 40th are ignored, so it ties to even.
      {"9007199254740993.0000000000000000000000001", Reason::none, 9007199254740992.0},
      {"9007199254740993.000000000000000000000001",  Reason::none, 9007199254740994.0},
  };
  for (const DoubleCase& c : cases) {
    double v = kKeepD;
    const Slot slots[] = {Slot::of(v)};
    Outcome o = run_list(std::string(c.text) + "\n", slots, false);
    EXPECT_EQ(o.reason, c.reason) << c.text;
    EXPECT_EQ(bits(v), bits(c.value)) << c.text << " gave " << v;
  }
  // Integer digits beyond the 40th still count for the magnitude, as zeros.
  const struct {
    std::string text;
    double value;
  } long_cases[] = {
      {"1" + zeros300,                            1e300},
      {"1" + zeros300 + zeros300,                 kInf},
      {"1234567890123456789012345678901234567890999", 1234567890123456789012345678901234567890e3},
      {"0." + zeros300 + "1",                     1e-301},
      {"0." + zeros300 + zeros300 + "1",          0.0},
      {"-" + zeros300 + "." + zeros300,           0.0},
  };
  for (const auto& c : long_cases) {
    double v = kKeepD;
    const Slot slots[] = {Slot::of(v)};
    Outcome o = run_list(c.text + "\n", slots, false);
    EXPECT_EQ(o.reason, Reason::none) << c.text.size();
    EXPECT_EQ(bits(v), bits(c.value)) << c.text.size() << " gave " << v;
  }
}

// ---------------------------------------------------------------------------------------------

struct PairCase {
  std::string_view text;
  Reason reason;
  std::int32_t a, b, c;
};

TEST(ReadList, SeparatorsNullsSlashAndRepeats) {
  const PairCase cases[] = {
      {"1 2 3\n",          Reason::none,       1,     2,     3},
      {"1,2,3\n",          Reason::none,       1,     2,     3},
      {"1 , 2 ,\t3\n",     Reason::none,       1,     2,     3},
      {"1\n\n2\n3\n",      Reason::none,       1,     2,     3},
      {"1\r2\r3\n",        Reason::none,       1,     2,     3},      // a lone CR is a blank
      {",5,6\n",           Reason::none,       kKeep, 5,     6},
      {"1,,3\n",           Reason::none,       1,     kKeep, 3},
      {",,,\n",            Reason::none,       kKeep, kKeep, kKeep},
      {"1\n,3\n",          Reason::none,       1,     kKeep, 3},      // a line end is already the separator
      {"/\n",              Reason::none,       kKeep, kKeep, kKeep},
      {"1/2 3\n",          Reason::none,       1,     kKeep, kKeep},
      {"1,/\n",            Reason::none,       1,     kKeep, kKeep},
      {"2*7 8\n",          Reason::none,       7,     7,     8},
      {"3*7\n",            Reason::none,       7,     7,     7},
      {"5*7\n",            Reason::none,       7,     7,     7},      // the copies left over are dropped
      {"2*,5\n",           Reason::none,       kKeep, kKeep, 5},
      {"2* 5\n",           Reason::none,       kKeep, kKeep, 5},
      {"2*/\n",            Reason::none,       kKeep, kKeep, kKeep},
      {"1 2*-4\n",         Reason::none,       1,     -4,    -4},
      {"1 2*3*4\n",        Reason::none,       1,     3,     3},      // a count after a count is left over
      {"1 2 2*3*4\n",      Reason::none,       1,     2,     3},
      {"3*3*4\n",          Reason::none,       3,     3,     3},
      {"1 0*4\n",          Reason::bad_repeat, 1,     kKeep, kKeep},
      {"1 2*3.5\n",        Reason::invalid_integer, 1, kKeep, kKeep},
      {"1 2 y\n",          Reason::invalid_number,  1, 2,     kKeep},
      {"1 2",              Reason::list_eof,   1,     2,     kKeep},
      {"1 2\n\n",          Reason::list_eof,   1,     2,     kKeep},
      {"",                 Reason::list_eof,   kKeep, kKeep, kKeep},
      {"2*",               Reason::list_eof,   kKeep, kKeep, kKeep},
  };
  for (const PairCase& c : cases) {
    std::int32_t a = kKeep, b = kKeep, d = kKeep;
    const Slot slots[] = {Slot::of(a), Slot::of(b), Slot::of(d)};
    Outcome o = run_list(c.text, slots, false);
    EXPECT_EQ(o.reason, c.reason) << c.text;
    EXPECT_EQ(a, c.a) << c.text;
    EXPECT_EQ(b, c.b) << c.text;
    EXPECT_EQ(d, c.c) << c.text;
  }
}

TEST(ReadList, RepeatedValueAcrossKinds) {
  // The value is read in the syntax of the slot where the count stands; a copy goes on into
  // integer and double slots alike, and a copy that meets a text slot is a null value there.
  double x = kKeepD;
  std::int32_t n = kKeep;
  char t[4] = {'o', 'l', 'd', '!'};
  const Slot slots[] = {Slot::of(x), Slot::of(n), Slot::of(t)};
  Outcome o = run_list("3*2.75\n", slots, false);
  EXPECT_EQ(o.reason, Reason::none);
  EXPECT_EQ(x, 2.75);
  EXPECT_EQ(n, 2);
  EXPECT_EQ(std::string_view(t, 4), "old!");
}

// ---------------------------------------------------------------------------------------------

struct TextCase {
  std::string_view text;
  Reason reason;
  std::string_view a, b, c;  // "~" for a slot that keeps its old content
  std::string_view rest;
};

TEST(ReadText, ItemsOfTwentyCharacters) {
  const TextCase cases[] = {
      {"Time NS EW\n0.0 1 2\n"sv,       Reason::none, "Time", "NS",    "EW",  "0.0 1 2\n"},
      {"'N S' EW UD\n"sv,               Reason::none, "N S",  "EW",    "UD",  ""},
      {"t(s) m/s2 x\nrow\n"sv,          Reason::none, "t(s)", "m",     "~",   "row\n"},
      {"Time,NS,EW,extra\nrow"sv,       Reason::none, "Time", "NS",    "EW",  "row"},
      {"Time\r\nNS\tEW\r\nrow"sv,       Reason::none, "Time", "NS",    "EW",  "row"},
      {",NS,EW\n"sv,                    Reason::none, "~",    "NS",    "EW",  ""},
      {"'it''s' \"a'b\" 'x\"y'\n"sv,    Reason::none, "it's", "a'b",   "x\"y", ""},
      {"'' \"\" ''''\n"sv,              Reason::none, "",     "",      "'",   ""},
      {"'ab\ncd' 'ab\r\ncd' 'a\rb'\n"sv, Reason::none, "abcd", "abcd", "a\rb", ""},
      {"'ab\\\ncd' 'ab\\\r\ncd' 'a\\b'\n"sv, Reason::none, "ab\ncd", "ab\ncd", "a\\b", ""},
      {"'a\\\\\nb' x y\n"sv,            Reason::none, "a\\\nb", "x",    "y",   ""},
      {"'ab'cd ef\n"sv,                 Reason::none, "ab",   "cd",    "ef",  ""},
      {"0*x *y 00*z\n"sv,               Reason::none, "0*x",  "*y",    "00*z", ""},
      {"2*ab cd\n"sv,                   Reason::none, "ab",   "ab",    "cd",  ""},
      {"3*'a b'\n"sv,                   Reason::none, "a b",  "a b",   "a b", ""},
      {"2* x\n"sv,                      Reason::none, "~",    "~",     "x",   ""},
      {"a*b 1.5 -2\n"sv,                Reason::none, "a*b",  "1.5",   "-2",  ""},
      {"\0\xff\x80 b c\n"sv,            Reason::none, "\0\xff\x80"sv, "b", "c", ""},
      {"abcdefghijklmnopqrstuvwxyz 'ABCDEFGHIJKLMNOPQRSTUVWXYZ' c\n"sv, Reason::none,
       "abcdefghijklmnopqrst", "ABCDEFGHIJKLMNOPQRST", "c", ""},
      // A closing quote that never comes is the end of input; the slot keeps its content.
      {"a b 'never closed\n"sv,         Reason::list_eof, "a", "b",    "~",   ""},
      {"a b"sv,                         Reason::list_eof, "a", "b",    "~",   ""},
  };
  for (const TextCase& c : cases) {
    char a[20], b[20], d[20];
    std::memset(a, '~', 20);
    std::memset(b, '~', 20);
    std::memset(d, '~', 20);
    const Slot slots[] = {Slot::of(a), Slot::of(b), Slot::of(d)};
    Outcome o = run_list(c.text, slots, false);
    EXPECT_EQ(o.reason, c.reason) << c.text;
    auto expect = [&](std::string_view want) {
      return want == "~" ? std::string(20, '~') : padded(want, 20);
    };
    EXPECT_EQ(std::string(a, 20), expect(c.a)) << c.text;
    EXPECT_EQ(std::string(b, 20), expect(c.b)) << c.text;
    EXPECT_EQ(std::string(d, 20), expect(c.c)) << c.text;
    EXPECT_EQ(o.rest, c.rest) << c.text;
  }
}

TEST(ReadText, SlotsOfDifferentLengthsAndLongValues) {
  char shorter[3];
  char longer[300];
  const Slot slots[] = {Slot::of(shorter), Slot::of(longer)};
  // A repeated value is kept at the longest slot's length, not cut to the first slot's.
  std::string value(280, 'v');
  Outcome o = run_list("2*" + value + "\n", slots, false);
  EXPECT_EQ(o.reason, Reason::none);
  EXPECT_EQ(std::string(shorter, 3), "vvv");
  EXPECT_EQ(std::string(longer, 300), padded(value, 300));

  // A megabyte of unquoted text keeps its first characters and is consumed whole.
  std::string huge(1 << 20, 'h');
  o = run_list(huge + " tail\nnext", slots, false);
  EXPECT_EQ(o.reason, Reason::none);
  EXPECT_EQ(std::string(longer, 300), "tail" + std::string(296, ' '));
  EXPECT_EQ(o.rest, "next");
}

// ---------------------------------------------------------------------------------------------

struct EndCase {
  std::string_view text;
  bool branch;
  bool at_end_before;
  Reason reason;
  bool at_end;
  int filled;  // slots that received 1, 2, 3
};

TEST(ReadList, EndOfInputOfARow) {
  const EndCase cases[] = {
      {"1 2 3\n",       true,  false, Reason::none,       false, 3},
      {"1 2 3",         true,  false, Reason::none,       true,  3},  // the file ends right after the row
      {"1 2 3 \t",      true,  false, Reason::none,       true,  3},
      {"1 2 3\r",       true,  false, Reason::none,       true,  3},
      {"1 2 3\r\n",     true,  false, Reason::none,       false, 3},
      {"1 2 3 4",       true,  false, Reason::end_branch, true,  3},  // other text, no line end: not counted
      {"1 2 3 4",       false, false, Reason::none,       true,  3},
      {"1 2 3,",        true,  false, Reason::end_branch, true,  3},  // a trailing comma is other text
      {"1 2 3,",        false, false, Reason::none,       true,  3},
      {"1 2 3,\n",      true,  false, Reason::none,       false, 3},
      {"1 2 3 4\n",     true,  false, Reason::none,       false, 3},
      {"1 2/",          true,  false, Reason::none,       true,  2},
      {"1 2/ x",        true,  false, Reason::end_branch, true,  2},
      {"1 2",           true,  false, Reason::end_branch, true,  2},
      {"1 2",           false, false, Reason::list_eof,   true,  2},
      {"1 2\n",         true,  false, Reason::end_branch, true,  2},
      {"",              true,  false, Reason::end_branch, true,  0},
      {"\n \n\t",       false, false, Reason::list_eof,   true,  0},
      {"1 2 3\n",       true,  true,  Reason::end_branch, true,  0},  // the unit met its end before
      {"1 2 3\n",       false, true,  Reason::start_eof,  true,  0},
  };
  for (const EndCase& c : cases) {
    double v[3] = {kKeepD, kKeepD, kKeepD};
    const Slot slots[] = {Slot::of(v[0]), Slot::of(v[1]), Slot::of(v[2])};
    Outcome o = run_list(c.text, slots, c.branch, c.at_end_before);
    EXPECT_EQ(o.reason, c.reason) << c.text << " branch " << c.branch;
    EXPECT_EQ(o.at_end, c.at_end) << c.text << " branch " << c.branch;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(v[i], i < c.filled ? i + 1.0 : kKeepD) << c.text << " slot " << i;
  }
}

// Reads a whole input file as the row loop does: the header, then rows until the branch is taken.
int count_rows(std::string_view file) {
  InBuffer in;
  in.attach_text(file);
  bool at_end = false;
  char h1[20], h2[20], h3[20];
  const Slot header[] = {Slot::of(h1), Slot::of(h2), Slot::of(h3)};
  EXPECT_EQ(read_free_form(in, at_end, header, false).reason, Reason::none);
  double t = 0, x1 = 0, x2 = 0;
  const Slot row[] = {Slot::of(t), Slot::of(x1), Slot::of(x2)};
  int rows = 0;
  while (read_free_form(in, at_end, row, true).reason == Reason::none) ++rows;
  EXPECT_TRUE(at_end);
  return rows;
}

TEST(ReadList, RowsOfAFile) {
  const struct {
    std::string_view file;
    int rows;
  } cases[] = {
      {"Time NS EW\n0.00 1 2\n0.01 3 4\n",         2},
      {"Time NS EW\n0.00 1 2\n0.01 3 4",           2},
      {"Time NS EW\n0.00 1 2\n0.01 3 4  ",         2},
      {"Time NS EW\n0.00 1 2\n0.01 3 4,",          1},
      {"Time NS EW\n0.00 1 2\n0.01 3 4 5",         1},
      {"Time NS EW\n0.00 1 2\n0.01 3",             1},
      {"Time NS EW\n0.00 1 2\n0.01 3\n",           1},
      {"Time NS EW\n0.00 1 2\n\n\n0.01 3 4\n\n",   2},
      {"Time NS EW\r\n0.00 1 2\r\n0.01 3 4\r\n",   2},
      {"Time NS EW\n0.00,1,2,\n0.01,3,4,\n",       2},
      {"Time NS EW\n",                             0},
  };
  for (const auto& c : cases) EXPECT_EQ(count_rows(c.file), c.rows) << c.file;
}

TEST(ReadList, WithoutSlotsTakesOneLine) {
  const struct {
    std::string_view text;
    bool at_end_before;
    bool at_end;
    std::string_view rest;
  } cases[] = {
      {"anything, 1 2\nnext", false, false, "next"},
      {"\nnext",              false, false, "next"},
      {"no line end",         false, true,  ""},
      {"",                    false, true,  ""},
      {"next",                true,  true,  "next"},  // the final wait ends at once after the end
  };
  for (const auto& c : cases) {
    Outcome o = run_list(c.text, {}, false, c.at_end_before);
    EXPECT_EQ(o.reason, Reason::none) << c.text;
    EXPECT_EQ(o.at_end, c.at_end) << c.text;
    EXPECT_EQ(o.rest, c.rest) << c.text;
  }
}

TEST(ReadList, SuccessiveReadsStartOnTheNextLine) {
  InBuffer in;
  in.attach_text("\n2.5 junk, 7\n\n  8 9\n");
  bool at_end = false;
  double x = 0;
  std::int32_t a = 0, b = 0;
  const Slot one[] = {Slot::of(x)};
  const Slot two[] = {Slot::of(a), Slot::of(b)};
  EXPECT_EQ(read_free_form(in, at_end, one, false).reason, Reason::none);
  EXPECT_EQ(x, 2.5);
  EXPECT_EQ(read_free_form(in, at_end, two, false).reason, Reason::none);
  EXPECT_EQ(a, 8);
  EXPECT_EQ(b, 9);
  EXPECT_FALSE(at_end);
  EXPECT_EQ(read_free_form(in, at_end, one, false).reason, Reason::list_eof);
  EXPECT_TRUE(at_end);
  EXPECT_EQ(read_free_form(in, at_end, one, false).reason, Reason::start_eof);
}

TEST(ReadList, LongLinesAndTokens) {
  const std::string junk(1 << 20, 'j');
  const std::string digits(1 << 20, '7');
  double x = kKeepD, y = kKeepD;
  const Slot slots[] = {Slot::of(x), Slot::of(y)};

  Outcome o = run_list("1 2 " + junk + "\n3", slots, true);
  EXPECT_EQ(o.reason, Reason::none);
  EXPECT_EQ(o.rest, "3");

  o = run_list("1 2 " + junk, slots, true);
  EXPECT_EQ(o.reason, Reason::end_branch);

  o = run_list("0." + digits + " 1" + digits + "\n", slots, false);
  EXPECT_EQ(o.reason, Reason::none);
  EXPECT_EQ(x, 0.7777777777777777777777);
  EXPECT_EQ(y, kInf);

  std::int32_t n = kKeep;
  const Slot count[] = {Slot::of(n)};
  o = run_list(digits + "*5\n", count, false);
  EXPECT_EQ(o.reason, Reason::bad_repeat);
  EXPECT_EQ(n, kKeep);
}

// ---------------------------------------------------------------------------------------------

struct LineCase {
  std::string text;
  bool at_end_before;
  Reason reason;
  std::string_view item;  // "~" when the item keeps its old content
  bool at_end;
  std::string_view rest;
};

TEST(ReadTextLine, ThirtyCharacters) {
  const std::string_view thirty = "abcdefghijklmnopqrstuvwxyz0123";
  const std::string s30(thirty);
  const std::string s35 = s30 + "45678";
  const LineCase cases[] = {
      {"\nnext",                         false, Reason::none,      "",            false, "next"},
      {"  data.txt\nnext",               false, Reason::none,      "  data.txt",  false, "next"},
      {"\tdata.txt  \r\nnext",           false, Reason::none,      "\tdata.txt  ", false, "next"},
      {"a\rb\n",                         false, Reason::none,      "a\rb",        false, ""},  // a lone CR is a character
      {s35 + "\nnext",                   false, Reason::none,      thirty,        false, "next"},
      {s30 + "\r\nnext",                 false, Reason::none,      thirty,        false, "next"},
      {s30,                              false, Reason::none,      thirty,        true,  ""},
      {s35,                              false, Reason::none,      thirty,        true,  ""},
      {"short",                          false, Reason::fmt_eof,   "~",           true,  ""},
      {"short\r",                        false, Reason::fmt_eof,   "~",           true,  ""},
      {"",                               false, Reason::fmt_eof,   "~",           true,  ""},
      {"data.txt\n",                     true,  Reason::start_eof, "~",           true,  "data.txt\n"},
  };
  for (const LineCase& c : cases) {
    InBuffer in;
    in.attach_text(c.text);
    bool at_end = c.at_end_before;
    char item[30];
    std::memset(item, '~', sizeof item);
    Reason r = read_text_line(in, at_end, item, 30).reason;
    EXPECT_EQ(r, c.reason) << c.text;
    EXPECT_EQ(std::string(item, 30), c.item == "~" ? std::string(30, '~') : padded(c.item, 30)) << c.text;
    EXPECT_EQ(at_end, c.at_end) << c.text;
    EXPECT_EQ(std::string(in.data(), in.available()), c.rest) << c.text;
  }
}

// ---------------------------------------------------------------------------------------------

// A temporary file holding text, open for reading; removed when done.
class TempFile {
 public:
  explicit TempFile(const std::string& text) {
    char name[] = "/tmp/reader_testXXXXXX";
    fd_ = mkstemp(name);
    EXPECT_GE(fd_, 0);
    unlink(name);
    EXPECT_EQ(write(fd_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    lseek(fd_, 0, SEEK_SET);
  }
  ~TempFile() { close(fd_); }
  int fd() const { return fd_; }

 private:
  int fd_ = -1;
};

// Values that straddle the end of a read block, cut at every byte: the read from the descriptor
// must give exactly what the read from the whole text gives.
TEST(ReadDescriptor, ValuesAcrossBlockEnds) {
  const std::string_view values[] = {
      "-12.345e-2 2 3\n", "2*3.5 4\n", "1.5-3 8 9\r\n", "'it''s' b c\n", "'a\\\r\nb' x y\n",
      "7 8 9 extra\r\n",
  };
  constexpr std::size_t kBlock = 1 << 16;
  for (std::string_view v : values) {
    for (std::size_t cut = 0; cut <= v.size(); ++cut) {
      std::string text(kBlock - cut, ' ');
      text += v;
      text += "after\n";
      bool numeric = v[0] != '\'';
      double d1[3] = {0, 0, 0}, d2[3] = {0, 0, 0};
      char t1[3][8] = {}, t2[3][8] = {};
      auto slots = [&](double* d, char (*t)[8]) {
        return numeric ? std::vector<Slot>{Slot::of(d[0]), Slot::of(d[1]), Slot::of(d[2])}
                       : std::vector<Slot>{Slot::of(t[0]), Slot::of(t[1]), Slot::of(t[2])};
      };
      Outcome whole = run_list(text, slots(d1, t1), true);

      TempFile file(text);
      InBuffer in;
      in.attach(file.fd(), nullptr);
      bool at_end = false;
      Reason r = read_free_form(in, at_end, slots(d2, t2), true).reason;
      char next[8];
      EXPECT_EQ(read_text_line(in, at_end, next, 5).reason, Reason::none);
      EXPECT_EQ(r, whole.reason) << v << " cut " << cut;
      EXPECT_EQ(std::memcmp(d1, d2, sizeof d1), 0) << v << " cut " << cut;
      EXPECT_EQ(std::memcmp(t1, t2, sizeof t1), 0) << v << " cut " << cut;
      EXPECT_EQ(std::string(next, 5), "after") << v << " cut " << cut;
    }
  }
}

int g_waits = 0;
int g_feed = -1;  // the write end of the pipe, fed on the first wait

// Before a read may wait: counts the call, and the first time writes the answer and ends the input.
void feed_on_wait() {
  if (++g_waits == 1) {
    EXPECT_EQ(write(g_feed, "42\n", 3), 3);
    close(g_feed);
    g_feed = -1;
  }
}

TEST(ReadDescriptor, CallsBeforeWaitBeforeReadingAPipe) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  g_waits = 0;
  g_feed = fds[1];
  InBuffer in;
  in.attach(fds[0], feed_on_wait);
  bool at_end = false;
  std::int32_t n = 0;
  const Slot slots[] = {Slot::of(n)};
  // The pipe holds nothing until the hook has run, so a read before it would block for ever.
  EXPECT_EQ(read_free_form(in, at_end, slots, false).reason, Reason::none);
  EXPECT_EQ(n, 42);
  EXPECT_EQ(g_waits, 1);
  EXPECT_EQ(read_free_form(in, at_end, {}, false).reason, Reason::none);
  EXPECT_TRUE(at_end);
  int waits = g_waits;
  // After the end nothing is read again, so nothing waits.
  EXPECT_EQ(in.peek(), InBuffer::kEnd);
  EXPECT_EQ(g_waits, waits);
  close(fds[0]);
}

TEST(ReadDescriptor, ReadErrorCarriesErrno) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  InBuffer in;
  in.attach(fds[1], nullptr);  // the write end cannot be read
  bool at_end = false;
  double x = kKeepD;
  const Slot slots[] = {Slot::of(x)};
  ReadOutcome r = read_free_form(in, at_end, slots, true);
  EXPECT_EQ(r.reason, Reason::read_failed);
  EXPECT_EQ(r.sys_errno, EBADF);
  EXPECT_FALSE(at_end);
  EXPECT_EQ(x, kKeepD);
  char item[30];
  EXPECT_EQ(read_text_line(in, at_end, item, 30).reason, Reason::read_failed);
  EXPECT_EQ(read_free_form(in, at_end, {}, false).reason, Reason::read_failed);
  close(fds[0]);
  close(fds[1]);
}

}  // namespace
}  // namespace wavproc::detail
