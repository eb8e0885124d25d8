// The short cuts of the record layer against what they stand in for: plain rows read straight from
// the block give the values and the row boundaries of the full free-form read (across block ends
// too), and formats unroll into steps and are written straight into a unit's block with the same
// text as the record-by-record walk.
#include <unistd.h>

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace wavproc::detail {
namespace {

constexpr double kUnset = -7.25;  // what a slot holds before a row is read

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// The value of a decimal text by the library's own correctly rounded conversion: a leading '+'
// dropped, D read as E, and all-zero digits as +0, as the free-form read defines them.
double reference(std::string text) {
  if (!text.empty() && text[0] == '+') text.erase(0, 1);
  for (char& c : text) {
    if (c == 'D' || c == 'd') c = 'E';
  }
  double v = 0.0;
  std::from_chars(text.data(), text.data() + text.size(), v);
  return v == 0.0 ? 0.0 : v;
}

// A random plain decimal: an optional sign, 0 to 9 integer digits (leading zeros included), an
// optional point and 0 to 9 fraction digits, at least one digit; now and then 20 digits or more,
// beyond what the short cuts take.
std::string plain_decimal(std::mt19937_64& rng) {
  std::string t;
  if (rng() % 3 == 0) t += (rng() % 2) ? '-' : '+';
  const bool long_one = rng() % 20 == 0;
  const auto whole = static_cast<int>(long_one ? 12 + rng() % 10 : rng() % 10);
  const auto places = static_cast<int>(long_one ? 10 + rng() % 4 : rng() % 10);
  for (int i = 0; i < whole; ++i) t += static_cast<char>('0' + rng() % 10);
  if (places > 0 || whole == 0 || rng() % 2) t += '.';
  for (int i = 0; i < places; ++i) t += static_cast<char>('0' + rng() % 10);
  if (whole == 0 && places == 0) t += '5';
  return t;
}

// One row of a record as written, and the three values a read of it must give.
struct Row {
  std::string text;
  double want[3];
};

// Rows of every layout the row loop meets: plain ones with blanks, tabs or commas between values,
// CR LF line ends, a fourth column or a comment; and forms the short cut leaves to the full read:
// exponents, repeat counts, null values, a slash, a row spread over two lines, blank lines before.
std::vector<Row> rows(std::uint64_t seed, std::size_t count) {
  std::mt19937_64 rng(seed);
  static const char* const kSeparators[] = {" ", "  ", "\t", ",", " , ", ", "};
  std::vector<Row> out;
  for (std::size_t r = 0; r < count; ++r) {
    std::string t[3] = {plain_decimal(rng), plain_decimal(rng), plain_decimal(rng)};
    Row row{{}, {reference(t[0]), reference(t[1]), reference(t[2])}};
    switch (rng() % 12) {
      case 0:  // exponents in the three ways a record may write them
        t[1] += "E-3";
        t[2] += "D+2";
        row.want[1] = reference(t[1]);
        row.want[2] = reference(t[2]);
        break;
      case 1:  // one value for all three slots
        t[0] = "3*" + t[0];
        t[1].clear();
        t[2].clear();
        row.want[1] = row.want[2] = row.want[0];
        row.text = t[0] + "\n";
        break;
      case 2:  // a null value keeps the slot
        row.text = t[0] + ",," + t[2] + "\n";
        row.want[1] = kUnset;
        break;
      case 3:  // a slash ends the statement: the third slot keeps its value
        row.text = t[0] + " " + t[1] + " /" + t[2] + "\n";
        row.want[2] = kUnset;
        break;
      case 4:
        row.text = t[0] + "\n" + t[1] + " " + t[2] + "\n";
        break;
      case 5:
        row.text = "\n  \n" + t[0] + " " + t[1] + " " + t[2] + "\n";
        break;
      default:
        break;
    }
    if (row.text.empty()) {
      row.text = t[0];
      for (int i = 1; i < 3; ++i) {
        if (!t[i].empty()) row.text += kSeparators[rng() % 6] + t[i];
      }
      if (rng() % 4 == 0) row.text += (rng() % 2) ? " 99.5" : "  ! a comment, 1 2 3";
      row.text += (rng() % 3 == 0) ? "\r\n" : "\n";
    }
    out.push_back(row);
  }
  return out;
}

// Reads rows with three double slots, as the row loop does, and checks every value to the bit
// and that the input ends right after the last row.
void expect_rows_read(InBuffer& in, const std::vector<Row>& want) {
  bool at_end = false;
  double v[3];
  const Slot slots[] = {Slot::of(v[0]), Slot::of(v[1]), Slot::of(v[2])};
  for (std::size_t r = 0; r < want.size(); ++r) {
    v[0] = v[1] = v[2] = kUnset;
    ASSERT_EQ(read_free_form(in, at_end, slots, true).reason, Reason::none) << "row " << r << ": " << want[r].text;
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(bits(v[i]), bits(want[r].want[i])) << "row " << r << " value " << i << ": «" << want[r].text
                                                   << "» gave " << v[i] << ", want " << want[r].want[i];
    }
  }
  EXPECT_EQ(read_free_form(in, at_end, slots, true).reason, Reason::end_branch);
}

std::string joined(const std::vector<Row>& rs) {
  std::string text;
  for (const Row& r : rs) text += r.text;
  return text;
}

TEST(PlainRows, GiveTheValuesAndRowsOfTheFullRead) {
  const std::vector<Row> want = rows(1, 20000);
  InBuffer in;
  const std::string text = joined(want);
  in.attach_text(text);
  expect_rows_read(in, want);
}

// Through a file the rows cross the ends of the 64 KiB blocks, where the short cut must give way.
TEST(PlainRows, AcrossBlockEndsOfAFile) {
  for (std::uint64_t seed : {2u, 3u, 4u}) {
    const std::vector<Row> want = rows(seed, 12000);
    const std::string text = joined(want);
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file), text.size());
    ASSERT_EQ(std::fflush(file), 0);
    ASSERT_EQ(::lseek(fileno(file), 0, SEEK_SET), 0);
    InBuffer in;
    in.attach(fileno(file), nullptr);
    expect_rows_read(in, want);
    std::fclose(file);
  }
}

// Runs of rows taken straight from the block, each remaining row by the full read, as a run of
// statements reads them: the values and rows of the full read.
TEST(PlainRows, RunsOfShapedRows) {
  const std::vector<Row> want = rows(7, 20000);
  const std::string text = joined(want);
  InBuffer in;
  in.attach_text(text);
  bool at_end = false;
  std::vector<double> got(3 * want.size() + 3, kUnset);
  const auto slots_of = [&](std::int64_t row, Slot* slots) {
    for (int i = 0; i < 3; ++i) slots[i] = Slot::of(got[static_cast<std::size_t>(3 * row + i)]);
  };
  const RowSlots fill = [](const void* source, std::int64_t row, Slot* slots) {
    (*static_cast<decltype(slots_of)*>(source))(row, slots);
  };
  std::int64_t row = 0;
  for (;; ++row) {
    row += read_shaped_rows(in, at_end, 3, row, fill, &slots_of);
    Slot slots[3];
    slots_of(row, slots);
    if (read_free_form(in, at_end, slots, true).reason != Reason::none) break;
  }
  ASSERT_EQ(row, static_cast<std::int64_t>(want.size()));
  for (std::size_t r = 0; r < want.size(); ++r) {
    for (std::size_t i = 0; i < 3; ++i) {
      ASSERT_EQ(bits(got[3 * r + i]), bits(want[r].want[i])) << "row " << r << ": «" << want[r].text << "»";
    }
  }
}

// A last row without a line end is left to the full read, which takes it when only blanks follow.
TEST(PlainRows, LastRowWithoutLineEnd) {
  InBuffer in;
  in.attach_text("1.5 2.5 3.5\n4.5 5.5 6.5  ");
  bool at_end = false;
  double v[3];
  const Slot slots[] = {Slot::of(v[0]), Slot::of(v[1]), Slot::of(v[2])};
  ASSERT_EQ(read_free_form(in, at_end, slots, true).reason, Reason::none);
  ASSERT_EQ(read_free_form(in, at_end, slots, true).reason, Reason::none);
  EXPECT_EQ(v[2], 6.5);
  EXPECT_EQ(read_free_form(in, at_end, slots, true).reason, Reason::end_branch);
}

// A row read in one pass over its bytes gives the values and the next line of the value-by-value
// read, for the rows of every layout above and for random strings of the bytes rows are made of;
// rows of the common shape take the one-pass read.
TEST(ShapedRows, SameValuesAndLineAsThePlainRead) {
  std::vector<std::string> texts;
  for (const Row& r : rows(5, 4000)) texts.push_back(r.text);
  std::mt19937_64 rng(6);
  static constexpr char kBytes[] = "0123456789012345678901234567890123456789..--  \t\r\n,+e";
  for (int i = 0; i < 20000; ++i) {
    std::string t;
    const auto length = rng() % 40;
    for (std::size_t k = 0; k < length; ++k) t += kBytes[rng() % (sizeof kBytes - 1)];
    texts.push_back(t + "\n");
  }
  int shaped = 0;
  for (std::string text : texts) {
    text.append(48, 'x');  // the bytes after the row that the one-pass read may look at
    const char* const e = text.data() + text.size();
    for (const int n : {1, 3}) {
      double got[3], want[3];
      const char* stop = read_shaped_row(text.data(), e, n, got);
      if (stop == nullptr) continue;
      ++shaped;
      ASSERT_EQ(read_plain_values(text.data(), e, n, want), stop) << "«" << text << "»";
      for (int i = 0; i < n; ++i) ASSERT_EQ(bits(got[i]), bits(want[i])) << "«" << text << "» value " << i;
    }
  }
#if defined(__SSE2__)
  EXPECT_GT(shaped, 3000);
#endif
}

// The longest line a statement of each format writes, line end included.
TEST(Format, LongestStatement) {
  const struct {
    const char* format;
    std::size_t longest;
  } cases[] = {
      {"(F8.4,6(',',E12.4))", 1 + 8 + 6 * 13},
      {"(F6.3,4(',',F12.4))", 1 + 6 + 4 * 13},
      {"(1X,/,'Enter input file of waveform data')", 1 + 1 + 1 + 33},
      {"(/,1X,'Enter output file name of waveform (csv format file)')", 1 + 1 + 1 + 52},
      {"('a','b',F5.1)", 1 + 1 + 1 + 5},
      {"(2(2(F3.1,'x')))", 1 + 4 * 4},  // nested groups
      {"(F8.4,100(',',F12.4))", 1 + 8 + 100 * 13},
  };
  for (const auto& c : cases) EXPECT_EQ(Format(c.format).longest(), c.longest) << c.format;
}

// Writes statements to a file on a unit and returns the file's text.
class UnitFile : public ::testing::Test {
 protected:
  static constexpr int kUnit = 20;
  void SetUp() override {
    char pattern[] = "/tmp/wavproc_fast_XXXXXX";
    const int fd = ::mkstemp(pattern);
    ASSERT_GE(fd, 0);
    ::close(fd);
    path_ = pattern;
    open_unit(kUnit, path_);
  }
  void TearDown() override { ::unlink(path_.c_str()); }
  std::string text() {
    close_unit(kUnit);
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  std::string path_;
};

// The same text whichever way a statement is written: unrolled steps, the op walk in the block
// (moves and record ends), the record buffer (a format longer than the block path takes).
TEST_F(UnitFile, EveryWriteGivesTheWalkedText) {
  write_formatted(kUnit, Format("(F6.3,4(',',F12.4))"), {0.01, -2.5, 1e-9, -0.0});
  write_formatted(kUnit, Format("(F8.4,6(',',E12.4))"), {25.0, 0.02828, 0.0});
  write_formatted(kUnit, Format("(F8.4,6(',',E12.4))"), {1000.0});
  write_formatted(kUnit, Format("(F6.3,4(',',F12.4))"), {});
  write_formatted(kUnit, Format("(2X,F5.1,3X,/,1X,'end',4X)"), {1.25});
  write_formatted(kUnit, Format("(F8.4,100(',',F12.4))"), {1.0, 2.0, 3.0});
  EXPECT_EQ(text(),
            " 0.010,     -2.5000,      0.0000,      0.0000,\n"
            " 25.0000,  0.2828E-01,  0.0000E+00,\n"
            "********,\n"
            "\n"
            "    1.2\n"
            " end\n"
            "  1.0000,      2.0000,      3.0000,\n");
}

// Statements that fill the block: each goes out whole, in order, whatever block it starts in.
TEST_F(UnitFile, RowsAcrossManyBlocks) {
  const Format row("(F6.3,4(',',F12.4))");
  std::string want;
  char field[16];
  for (int i = 0; i < 5000; ++i) {
    const double t = i * 0.01, x = (i % 7 - 3) * 123.456789;
    write_formatted(kUnit, row, {t, x, -x, 0.0});
    write_fixed_field(field, t, 6, 3);
    want.append(field, 6);
    for (const double v : {x, -x, 0.0}) {
      write_fixed_field(field, v, 12, 4);
      want += ',';
      want.append(field, 12);
    }
    want += ",\n";
  }
  EXPECT_EQ(text(), want);
}

// The text of a file written through unit 20 by write(unit).
template <class Write>
std::string written_text(const Write& write) {
  constexpr int kUnit = 20;
  char pattern[] = "/tmp/wavproc_rows_XXXXXX";
  const int fd = ::mkstemp(pattern);
  if (fd < 0) return "mkstemp failed";
  ::close(fd);
  open_unit(kUnit, pattern);
  write(kUnit);
  close_unit(kUnit);
  std::ifstream in(pattern, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  ::unlink(pattern);
  return s.str();
}

// A run of statements laid down in the block gives the bytes of one write_formatted each, over
// many blocks, whether the blocks are laid on one thread or on two: the program's two rows, with
// values that take the general writers (stars, NaN, three-digit exponents), a format whose fields
// have no writers of their own, one that is walked op by op, and runs with fewer items than fields;
// and rows that start behind a header line, in a block already begun.
TEST(FormattedRows, SameBytesAsOneStatementEach) {
  const char* const formats[] = {"(F6.3,4(',',F12.4))", "(F8.4,6(',',E12.4))", "(F5.1,2(',',F9.2))",
                                 "(F8.4,100(',',F12.4))"};
  constexpr double kSpecials[] = {std::numeric_limits<double>::quiet_NaN(), -1e15, 1e-300, 1e300, -0.0, 99999.99995,
                                  -4.5e-5};
  // With same, item 2 is -0.0 on every row and is written once.
  std::uint32_t same = 0;
  const auto fill = [&](std::int64_t row, double* items) {
    for (int k = 0; k < 4; ++k) {
      items[k] = row % 11 == 0 ? kSpecials[(row / 11 + k) % 7] : static_cast<double>(row % 13 - 6) * 12.3456789 * (k + 1);
    }
    if (same != 0) items[2] = -0.0;
  };
  constexpr std::int64_t kRows = 9000;  // several blocks, more than the second thread runs ahead
  for (const char* text : formats) {
    const Format fmt(text);
    struct Variant {
      int n;
      std::uint32_t same;
      bool header;
    };
    for (const auto& [n, same_item, header] : {Variant{4, 0u, false}, Variant{3, 0u, false},
                                                Variant{4, 1u << 2, false}, Variant{4, 0u, true}}) {
      same = same_item;
      const auto write_header = [&](int unit) {
        if (header) write_list(unit, {"time(s),", "NS", ",", "EW"});
      };
      const std::string want = written_text([&](int unit) {
        write_header(unit);
        double v[4];
        for (std::int64_t r = 0; r < kRows; ++r) {
          fill(r, v);
          if (n == 4) {
            write_formatted(unit, fmt, {v[0], v[1], v[2], v[3]});
          } else {
            write_formatted(unit, fmt, {v[0], v[1], v[2]});
          }
        }
      });
      for (const bool two : {true, false}) {
        use_second_thread(two);
        const std::string got = written_text([&](int unit) {
          write_header(unit);
          write_formatted_rows(unit, fmt, kRows, n, fill, same);
        });
        EXPECT_EQ(got, want) << text << " with " << n << " items, " << (two ? "two threads" : "one thread")
                             << (same != 0 ? ", item 2 written once" : "") << (header ? ", behind a header" : "");
      }
      use_second_thread(true);
    }
  }
}

struct ZeroCase {
  double v;
  int w, d;
  const char* text;
};

TEST(FixedField, ZeroOfEitherSign) {
  const ZeroCase cases[] = {
      {0.0, 12, 4, "      0.0000"}, {-0.0, 12, 4, "      0.0000"}, {0.0, 6, 3, " 0.000"},
      {-0.0, 2, 0, "0."},           {0.0, 1, 0, "."},              {-0.0, 5, 4, ".0000"},  // no room for the "0"
      {-1e-300, 12, 4, "      0.0000"},                                                    // rounds to zero
  };
  for (const ZeroCase& c : cases) {
    char out[48];
    write_fixed_field(out, c.v, c.w, c.d);
    EXPECT_EQ(std::string(out, static_cast<std::size_t>(c.w)), c.text) << c.v << " F" << c.w << "." << c.d;
  }
}

}  // namespace
}  // namespace wavproc::detail
