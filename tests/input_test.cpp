// The input file stage and the polarity reversal, end to end: what the header and rows of odd
// but valid files become, which last rows count, and the records the stage refuses.
#include <gtest/gtest.h>

#include <sched.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "harness.h"
#include "pieces.h"

namespace {

using namespace pieces;

const std::string kNoes = "0\n0\n0\n0\n0\nout.csv\n\n";

// The "NT and DT=" record of a run (the fourth line of standard output).
std::string nt_dt(const std::string& out) {
  std::size_t at = out.find(" NT and DT=");
  return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
}

// The output file of a run without filter, integration or cut: the rows come back as read.
std::string out_file(const std::string& head2, const std::string& head3, const std::string& rows) {
  return " time(s)," + head2 + std::string(20 - head2.size(), ' ') + "," + head3 + std::string(20 - head3.size(), ' ') +
         "\n" + rows;
}

TEST(InputStage, HeaderQuirks) {
  struct Case {
    const char* what;
    std::string record;
    std::string nt_dt;
    std::string out;
  };
  const std::string rows = "0 1 2\n0.01 3 4\n0.02 5 6\n";
  const std::string three =
      " 0.000,      1.0000,      2.0000,      0.0000,\n"
      " 0.010,      3.0000,      4.0000,      0.0000,\n"
      " 0.020,      5.0000,      6.0000,      0.0000,\n";
  const Case cases[] = {
      {"plain", "Time NS EW\n" + rows, " NT and DT= 3  0.01", out_file("NS", "EW", three)},
      // Two items: the first number of the first row becomes the third item, the rest of that row is lost.
      {"two items", "Time NS\n" + rows, " NT and DT= 2  0.01",
       out_file("NS", "0", " 0.000,      3.0000,      4.0000,      0.0000,\n 0.010,      5.0000,      6.0000,      0.0000,\n")},
      // No header: the first row's numbers become the three items.
      {"no header", rows + "0.03 7 8\n", " NT and DT= 3  0.01",
       out_file("1", "2",
                " 0.000,      3.0000,      4.0000,      0.0000,\n 0.010,      5.0000,      6.0000,      0.0000,\n"
                " 0.020,      7.0000,      8.0000,      0.0000,\n")},
      {"item over 20 characters", "Time ABCDEFGHIJKLMNOPQRSTUVWXYZ EW\n" + rows, " NT and DT= 3  0.01",
       out_file("ABCDEFGHIJKLMNOPQRST", "EW", three)},
      // A slash ends the item and the whole header read; the unread item stays blank.
      {"slash in an item", "t(s) m/s2 x\n" + rows, " NT and DT= 3  0.01", out_file("m", "", three)},
      {"quoted items", "'Time s' \"N S\" 'E, W'\n" + rows, " NT and DT= 3  0.01", out_file("N S", "E, W", three)},
      {"commas, empty lines, CR LF", "Time,NS,EW\r\n\r\n" + std::string("0,1,2\r\n0.01,3,4\r\n0.02,5,6\r\n"),
       " NT and DT= 3  0.01", out_file("NS", "EW", three)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = harness::run("in.txt\n" + kNoes, {{"in.txt", c.record}});
    EXPECT_EQ(nt_dt(r.out), c.nt_dt);
    expect_success(r);
    EXPECT_EQ(r.files["out.csv"], c.out);
    EXPECT_EQ(r.files["in.txt"], c.record);
  }
}

TEST(InputStage, RowQuirks) {
  struct Case {
    const char* what;
    std::string rows;
    std::string nt_dt;
    std::string out_rows;
  };
  const std::string r1 = " 0.000,      1.0000,      2.0000,      0.0000,\n";
  const std::string r2 = " 0.010,      3.0000,      4.0000,      0.0000,\n";
  const std::string r3 = " 0.020,      5.0000,      6.0000,      0.0000,\n";
  const Case cases[] = {
      {"commas and blanks alike", "0,1,2\n0.01 , 3 ,4\n0.02\t5, 6\n", " NT and DT= 3  0.01", r1 + r2 + r3},
      // An empty field keeps the store's 0.0; a comma before a line end is only a separator.
      {"empty fields", "0,,2\n0.01,3,,\n0.02,5,6\n", " NT and DT= 3  0.01",
       " 0.000,      0.0000,      2.0000,      0.0000,\n 0.010,      3.0000,      0.0000,      0.0000,\n" + r3},
      {"row over two lines", "0\n1 2\n0.01 3\n4\n0.02 5 6\n", " NT and DT= 3  0.01", r1 + r2 + r3},
      {"four or more numbers", "0 1 2 99 98\n0.01 3 4 97\n0.02 5 6 -1 -2 -3\n", " NT and DT= 3  0.01", r1 + r2 + r3},
      {"other number forms", "0 1.D0 .2E1\n1.0-2 3. 4\n+2.0e-2 5 6.\n", " NT and DT= 3  0.01", r1 + r2 + r3},
      // The last row without a line end counts when nothing but blanks follows its third number...
      {"last row without line end", "0 1 2\n0.01 3 4\n0.02 5 6", " NT and DT= 3  0.01", r1 + r2 + r3},
      {"last row, blanks, no line end", "0 1 2\n0.01 3 4\n0.02 5 6  \t", " NT and DT= 3  0.01", r1 + r2 + r3},
      // ...and does not count when it is short or other text follows.
      {"short last row", "0 1 2\n0.01 3 4\n0.02 5", " NT and DT= 2  0.01", r1 + r2},
      {"fourth value, no line end", "0 1 2\n0.01 3 4\n0.02 5 6 7", " NT and DT= 2  0.01", r1 + r2},
      {"trailing comma, no line end", "0 1 2\n0.01 3 4\n0.02 5 6,", " NT and DT= 2  0.01", r1 + r2},
      {"fourth value with line end", "0 1 2\n0.01 3 4\n0.02 5 6 7\n", " NT and DT= 3  0.01", r1 + r2 + r3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = harness::run("in.txt\n" + kNoes, {{"in.txt", "Time NS EW\n" + c.rows}});
    expect_success(r);
    EXPECT_EQ(nt_dt(r.out), c.nt_dt);
    EXPECT_EQ(r.files["out.csv"], out_file("NS", "EW", c.out_rows));
  }
}

// A long record's rows are read on two threads, the second one from the first line start past the
// middle of the rows' bytes: every run gives what the one-thread read gives (one allowed core, no
// second thread), with rows of other shapes, line ends and failures near that line or after it.
TEST(InputStage, LongRecordsReadAlikeOnTwoThreadsAndOne) {
  // Line i of n rows of "t a b"; edit may rewrite a line (its number i, its distance from the
  // middle of the rows' bytes in lines, d: lines from -3 to 3 straddle the meeting line).
  using Edit = std::function<std::string(int i, int d, const std::string& line)>;
  const auto record = [](int n, const Edit& edit, const char* end = "\n") {
    std::vector<std::string> lines;
    std::size_t bytes = 0;
    for (int i = 0; i < n; ++i) {
      char line[64];
      std::snprintf(line, sizeof line, "%d.%02d %.4f %.3f", i / 100, i % 100, (i % 977) * 0.0137 - 6.5,
                    (i % 331) * -0.021 + 3.0);
      lines.emplace_back(line);
      bytes += lines.back().size() + std::char_traits<char>::length(end);
    }
    std::string text = "Time NS EW\n";
    std::size_t at = 0;
    int middle = 0;
    while (at < bytes / 2) at += lines[static_cast<std::size_t>(middle++)].size() + std::char_traits<char>::length(end);
    for (int i = 0; i < n; ++i) text += edit(i, i - middle, lines[static_cast<std::size_t>(i)]) + end;
    return text;
  };
  const Edit plain = [](int, int, const std::string& line) { return line; };
  const auto near = [](int d) { return d >= -3 && d <= 3; };
  struct Case {
    const char* what;
    std::string record;
  };
  const Case cases[] = {
      {"plain rows", record(16000, plain)},
      {"rows over two lines at the middle",
       record(16000, [&](int, int d, const std::string& l) { return near(d) ? l.substr(0, l.rfind(' ')) + "\n" + l.substr(l.rfind(' ') + 1) : l; })},
      {"blank lines at the middle", record(16000, [&](int, int d, const std::string& l) { return near(d) ? "\n" + l : l; })},
      {"another number form in the second half",
       record(16000, [](int i, int, const std::string& l) { return i == 12000 ? "1.2E+02 3.5D0 -4.25" : l; })},
      {"more values than slots in the second half",
       record(16000, [](int i, int, const std::string& l) { return i > 11000 && i < 11010 ? l + " 9 9" : l; })},
      {"CR LF line ends", record(16000, plain, "\r\n")},
      {"no line end after the last row", [&] {
         std::string r = record(16000, plain);
         r.pop_back();
         return r;
       }()},
      {"a row of letters in the second half",
       record(16000, [](int i, int, const std::string& l) { return i == 13000 ? "x y z" : l; })},
      {"more rows than the store", record(40000, plain)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    harness::Options one;
    one.in_child = [] {
      cpu_set_t only;
      CPU_ZERO(&only);
      CPU_SET(static_cast<unsigned>(::sched_getcpu()), &only);
      ::sched_setaffinity(0, sizeof only, &only);
    };
    const auto two_threads = harness::run("in.txt\n" + kNoes, {{"in.txt", c.record}});
    const auto one_thread = harness::run("in.txt\n" + kNoes, {{"in.txt", c.record}}, one);
    EXPECT_EQ(two_threads.status, one_thread.status);
    EXPECT_EQ(two_threads.out, one_thread.out);
    EXPECT_EQ(two_threads.err, one_thread.err);
    EXPECT_TRUE(two_threads.files == one_thread.files);
  }
}

TEST(InputStage, PolarityReversal) {
  const std::string record = "Time NS EW\n0 1 2\n0.01 3 4\n0.02 5 6\n";
  auto r = harness::run("in.txt\n1\n1\n0\n1\n0\n0\n0\n0\nout.csv\n\n", {{"in.txt", record}});
  expect_success(r);
  // Component 1 and component 3 (all zeros) change sign; component 2 is left.
  EXPECT_EQ(r.files["out.csv"], out_file("NS", "EW",
                                         " 0.000,     -1.0000,      2.0000,      0.0000,\n"
                                         " 0.010,     -3.0000,      4.0000,      0.0000,\n"
                                         " 0.020,     -5.0000,      6.0000,      0.0000,\n"));
}

TEST(InputStage, RecordsTheTransformCannotTake) {
  struct Case {
    const char* what;
    std::string record;
    std::string nt_dt;
    std::string refusal;
  };
  const Case cases[] = {
      // The header only: both times are the store's zeros.
      {"header only", "Time NS EW\n", " NT and DT= 0  0.", "  NT<2 !!!!!\n"},
      {"one row", "Time NS EW\n5 1 2\n", " NT and DT= 1 -5.", "  NT<2 !!!!!\n"},
      {"equal times", "Time NS EW\n1 1 2\n1 3 4\n", " NT and DT= 2  0.", "  DT out of range !!!!!\n"},
      {"falling times", "Time NS EW\n1 1 2\n0.5 3 4\n", " NT and DT= 2 -0.5", "  DT out of range !!!!!\n"},
      {"infinite time", "Time NS EW\n0 1 2\n1e999 3 4\n", " NT and DT= 2  Infinity", "  DT out of range !!!!!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = harness::run("in.txt\n1\n0\n0\n0\n", {{"in.txt", c.record}});
    EXPECT_EQ(r.out, kAskInput + "\n" + c.nt_dt + "\n" + kPolarityAsk + kPolarityComponents + c.refusal);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.files.size(), 1u);
    EXPECT_EQ(r.files["in.txt"], c.record);
  }
}

}  // namespace
