// The inverse transform, the cut window, the decimation and the output waveform file, end to end.
#include <sched.h>

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>

#include "harness.h"
#include "pieces.h"

namespace {

using namespace pieces;

const std::string& kHeader = kOutHeader;

std::string row(const char* time, const char* x1) {
  return std::string(time) + "," + x1 + ",      0.0000,      0.0000,\n";
}

// The console records of the cut dialogue after "Cutting data? (No=0,Yes=1)".
std::string cut_dialogue(const std::string& nstime, const std::string& ndur) {
  return " Cutting data? (No=0,Yes=1)\n Enter Starting Time (sec)\n Number of Cutting Data = " + nstime +
         "\n Enter Duration (sec)\n Number of data = " + ndur + "\n New nt = " + ndur + "\n";
}

TEST(Cutting, Windows) {
  struct Case {
    const char* what;
    std::string record;
    std::string cut;  // answers from the start time on
    std::string console;
    std::string rows;
  };
  const std::string five = "Time NS EW\n0 1 0\n0.1 2 0\n0.2 3 0\n0.3 4 0\n0.4 5 0\n";
  const Case cases[] = {
      // The last sample comes from the padded tail of the transform.
      {"inside and past the record", kRecord, "0.01\n0.02\n", cut_dialogue("1", "3"),
       row(" 0.000", "      2.0000") + row(" 0.010", "      3.0000") + row(" 0.020", "      0.0000")},
      {"before the record", kRecord, "-0.02\n0.04\n", cut_dialogue("-2", "5"),
       row(" 0.000", "      0.0000") + row(" 0.010", "      0.0000") + row(" 0.020", "      1.0000") +
           row(" 0.030", "      2.0000") + row(" 0.040", "      3.0000")},
      // 0.3/0.1 is 2.9999999999999996 and 0.7/0.1 is 6.999999999999999: both are truncated.
      {"truncated quotients", five, "0.3\n0.7\n", cut_dialogue("2", "7"),
       row(" 0.000", "      3.0000") + row(" 0.100", "      4.0000") + row(" 0.200", "      5.0000") +
           row(" 0.300", "      0.0000") + row(" 0.400", "      0.0000") + row(" 0.500", "      0.0000") +
           row(" 0.600", "      0.0000")},
      // A window of no samples leaves the header alone.
      {"empty window", kRecord, "0\n-0.01\n", cut_dialogue("0", "0"), ""},
      {"negative window", kRecord, "0\n-1\n", cut_dialogue("0", "-99"), ""},
      // Windows far outside the store saturate and read zeros, never memory past the store.
      {"start beyond 32 bits", kRecord, "1e300\n0.02\n", cut_dialogue("2147483647", "3"),
       row(" 0.000", "      0.0000") + row(" 0.010", "      0.0000") + row(" 0.020", "      0.0000")},
      {"start at minus infinity", kRecord, "-1e999\n0.01\n", cut_dialogue("-2147483648", "2"),
       row(" 0.000", "      0.0000") + row(" 0.010", "      0.0000")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = harness::run("in.txt\n0\n0\n0\n1\n" + c.cut + "0\nout.csv\n\n", {{"in.txt", c.record}});
    expect_success(r);
    EXPECT_NE(r.out.find("\n" + c.console + "\n Skip Data"), std::string::npos) << r.out;
    EXPECT_EQ(r.files["out.csv"], kHeader + c.rows);
  }
}

TEST(Cutting, LongWindowIsClippedToTheStore) {
  auto r = harness::run("in.txt\n0\n0\n0\n1\n0\n1e9\n0\nout.csv\n\n", {{"in.txt", kRecord}});
  expect_success(r);
  EXPECT_NE(r.out.find(cut_dialogue("0", "33000")), std::string::npos);
  const std::string& out = r.files["out.csv"];
  EXPECT_EQ(out.size(), kHeader.size() + 33000u * 47u);
  // Times of 100 s or more do not fit F6.3.
  EXPECT_EQ(out.substr(kHeader.size() + 9999u * 47u, 7), "99.990,");
  EXPECT_EQ(out.substr(kHeader.size() + 10000u * 47u, 7), "******,");
}

TEST(Cutting, AnswersOtherThanOneMakeNoCut) {
  for (const char* answer : {"0", "2", "-1"}) {
    SCOPED_TRACE(answer);
    auto r = harness::run("in.txt\n0\n0\n0\n" + std::string(answer) + "\n0\nout.csv\n\n", {{"in.txt", kRecord}});
    expect_success(r);
    EXPECT_EQ(r.out.find("New nt"), std::string::npos);
    EXPECT_EQ(r.files["out.csv"], kOut);
  }
}

TEST(Decimation, Steps) {
  const std::string five = "Time NS EW\n0 1 0\n0.01 2 0\n0.02 3 0\n0.03 4 0\n0.04 5 0\n";
  const std::string all = row(" 0.000", "      1.0000") + row(" 0.010", "      2.0000") + row(" 0.020", "      3.0000") +
                          row(" 0.030", "      4.0000") + row(" 0.040", "      5.0000");
  struct Case {
    const char* skip;
    std::string rows;
  };
  const Case cases[] = {
      {"0", all},
      {"1", row(" 0.000", "      1.0000") + row(" 0.020", "      3.0000") + row(" 0.040", "      5.0000")},
      {"3", row(" 0.000", "      1.0000") + row(" 0.040", "      5.0000")},
      {"4", row(" 0.000", "      1.0000")},
      {"2147483647", row(" 0.000", "      1.0000")},
      // Negative answers write every sample: the step is never zero or negative.
      {"-1", all},
      {"-7", all},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.skip);
    auto r = harness::run("in.txt\n0\n0\n0\n0\n" + std::string(c.skip) + "\nout.csv\n\n", {{"in.txt", five}});
    expect_success(r);
    EXPECT_EQ(r.files["out.csv"], kHeader + c.rows);
  }
}

TEST(OutputFile, FieldLimits) {
  // Times from 100 s on and samples past F12.4; each component keeps one magnitude, so the round
  // trip's error (parts in 10^9 of the largest) stays out of the fields.
  auto big = harness::run(kAnswers,
                          {{"in.txt", "T NS EW\n0 1e8 -1234567.8\n50 -1e7 -2e6\n100 2e7 -3e6\n"}});
  expect_success(big);
  EXPECT_EQ(big.files["out.csv"],
            kHeader + " 0.000,************,************,      0.0000,\n"
                      "50.000,************,************,      0.0000,\n"
                      "******,************,************,      0.0000,\n");
  // Negatives that round to zero at four decimals are written without a minus.
  auto tiny = harness::run(kAnswers,
                           {{"in.txt", "T NS EW\n0 -0.00004 1000.25\n0.01 -0.00004 1000.25\n"}});
  EXPECT_EQ(tiny.files["out.csv"],
            kHeader + " 0.000,      0.0000,   1000.2500,      0.0000,\n 0.010,      0.0000,   1000.2500,      0.0000,\n");
}

// Component 3 is never worked on while it is zeros; it must still come out as the full work
// would make it: zeros, or NaN where an operation divides zero by zero or multiplies it by infinity.
TEST(OutputFile, ComponentThreeAsTheFullWorkGivesIt) {
  const std::string nan_row = ",         NaN,         NaN,         NaN,\n";
  struct Case {
    const char* what;
    std::string record;
    std::string answers;  // from the polarity answer to the skip answer
    std::string rows;
  };
  const Case cases[] = {
      {"every stage on ordinary data", kRecord, "1\n1\n1\n1\n1\n0 0 10 40\n1\n1\n0\n0.03\n0\n",
       " 0.000,      0.0032,      0.0000,      0.0000,\n 0.010,      0.0032,      0.0000,      0.0000,\n"},
      // dom² is below the smallest double: -ω² is -0, and 0/-0 is NaN on every line.
      {"double integration over a zero -omega squared", "T A B\n0 1 2\n1e170 3 4\n", "0\n0\n2\n0\n0\n",
       " 0.000" + nan_row + "******" + nan_row},
      // The last line's ω is infinite, and 0·∞ is NaN; samples cut from past nf stay zeros.
      {"differentiation at an infinite omega", "T A B\n0 1 2\n1.57e-308 3 4\n", "0\n0\n3\n1\n0\n1e-307\n0\n",
       " 0.000" + nan_row + " 0.000" + nan_row + " 0.000" + nan_row + " 0.000" + nan_row +
           " 0.000,      0.0000,      0.0000,      0.0000,\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = harness::run("in.txt\n" + c.answers + "out.csv\n\n", {{"in.txt", c.record}});
    expect_success(r);
    const std::string& out = r.files["out.csv"];
    EXPECT_EQ(out.substr(out.find('\n') + 1, c.rows.size()), c.rows);
  }
}

// Reads the numbers of the data rows of a record or output file (columns 2 and 3).
std::vector<double> column(const std::string& text, int col, bool comma) {
  std::istringstream in(text);
  std::string line;
  std::getline(in, line);
  std::vector<double> v;
  while (std::getline(in, line)) {
    if (comma) {
      for (char& ch : line) ch = ch == ',' ? ' ' : ch;
    }
    std::istringstream fields(line);
    double x = 0.0;
    for (int i = 0; i <= col; ++i) fields >> x;
    v.push_back(x);
  }
  return v;
}

TEST(OutputFile, AnUnchangedSpectrumGivesBackTheRecord) {
  const std::string record = harness::read_source_file("examples/record.txt");
  auto r = harness::run("record.txt\n0\n0\n0\n0\n0\nout.csv\n\n", {{"record.txt", record}});
  ASSERT_EQ(r.status, 0);
  for (int col : {1, 2}) {
    std::vector<double> in = column(record, col, false), out = column(r.files["out.csv"], col, true);
    ASSERT_EQ(in.size(), out.size());
    double largest = 0.0, worst = 0.0;
    for (std::size_t i = 0; i < in.size(); ++i) {
      largest = std::max(largest, std::fabs(in[i]));
      worst = std::max(worst, std::fabs(in[i] - out[i]));
    }
    // The output shows four decimals of samples that carry three: they must agree exactly.
    EXPECT_EQ(worst, 0.0) << "column " << col << " of " << largest;
  }
}

// The example run gives the committed bytes: console text and both files (examples/expected/),
// the same on every platform with IEEE-754 doubles, and on one core (no second thread) or more.
TEST(OutputFile, TheExampleGivesTheCommittedBytes) {
  const std::string record = harness::read_source_file("examples/record.txt");
  const std::map<std::string, std::string> want = {
      {"record.txt", record},
      {"amp2.csv", harness::read_source_file("examples/expected/amp2.csv")},
      {"velocity.csv", harness::read_source_file("examples/expected/velocity.csv")}};
  for (const bool one_core : {false, true}) {
    SCOPED_TRACE(one_core ? "one core" : "every core");
    harness::Options o;
    if (one_core) {
      o.in_child = [] {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(static_cast<unsigned>(::sched_getcpu()), &one);
        ::sched_setaffinity(0, sizeof one, &one);
      };
    }
    auto r = harness::run(harness::read_source_file("examples/answers.txt"), {{"record.txt", record}}, o);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, harness::read_source_file("examples/expected/console.txt"));
    EXPECT_TRUE(r.files == want) << "the files of the example run differ from examples/expected/";
  }
}

}  // namespace
