// The transform length, the frequency grid reports and "amp2.csv", end to end; and the band-pass
// and integration stages on the shared spectra, value by value.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "driver/driver.h"
#include "harness.h"
#include "pieces.h"

namespace {

using wavproc::cplx;
using wavproc::rs;
using namespace pieces;

// The record of a run that follows the line beginning with prefix.
std::string line_after(const std::string& out, const std::string& prefix) {
  std::size_t at = out.find(prefix);
  return at == std::string::npos ? "" : out.substr(at, out.find('\n', at) - at);
}

TEST(TransformLength, SmallestPowerOfTwoOfAtLeastFour) {
  struct Case {
    int nt;
    const char* if1_nf;
  };
  const Case cases[] = {{2, "  IF1,NF= 2 4"},          {3, "  IF1,NF= 2 4"},           {4, "  IF1,NF= 2 4"},
                        {5, "  IF1,NF= 3 8"},          {4096, "  IF1,NF= 12 4096"},    {4097, "  IF1,NF= 13 8192"},
                        {32768, "  IF1,NF= 15 32768"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nt);
    auto r = harness::run(kAnswers, {{"in.txt", record_of(c.nt)}});
    expect_success(r);
    EXPECT_EQ(line_after(r.out, "  IF1,NF="), c.if1_nf);
    // One row per line from the first non-zero frequency up to the Nyquist line.
    const std::string& amp = r.files["amp2.csv"];
    std::size_t lines = 0;
    for (char ch : amp) lines += ch == '\n';
    int nf = 4;
    while (nf < c.nt) nf *= 2;
    EXPECT_EQ(lines, static_cast<std::size_t>(nf / 2 + 1));
  }
}

TEST(TransformLength, GridReportsOfTheLargestRecord) {
  auto r = harness::run(kAnswers, {{"in.txt", record_of(32768)}});
  expect_success(r);
  EXPECT_EQ(line_after(r.out, "  DUR,DOM"), "  DUR,DOM,NOM,EOM=  327.68  0.0191747598 16385  314.17844");
  EXPECT_EQ(line_after(r.out, "  Highest"), "  Highest Frequency (hz)=  50.0030518");
  // The last spectrum row is the Nyquist frequency 1/(2 dt).
  const std::string& amp = r.files["amp2.csv"];
  EXPECT_EQ(amp.substr(amp.size() - 36, 9), " 50.0000,");
}

TEST(SpectrumFile, RowsPastTheFieldWidthAndZeroLines) {
  // dt = 0.0001 s puts the rows at 2500 and 5000 Hz, past what F8.4 can show.
  auto r = harness::run(kAnswers, {{"in.txt", "T A B\n0 1 0\n0.0001 2 0\n0.0002 3 0\n"}});
  expect_success(r);
  EXPECT_EQ(r.files["amp2.csv"],
            " frequency(Hz),A                   ,B                   \n"
            "********,  0.2828E-03,  0.0000E+00,\n"
            "********,  0.2000E-03,  0.0000E+00,\n");
}

TEST(SpectrumFile, ShowsTheFilteredAndIntegratedSpectra) {
  const std::string& head = kAmpHeader;
  struct Case {
    const char* what;
    std::string answers;
    std::string amp;
  };
  const Case cases[] = {
      // The 50 Hz line lies above the high corner (40 Hz) and is cut.
      {"band-pass", "0\n1\n0 0 30 40\n0\n", head + " 25.0000,  0.2828E-01,  0.0000E+00,\n 50.0000,  0.0000E+00,  0.0000E+00,\n"},
      {"integration", "0\n0\n1\n", head + " 25.0000,  0.1801E-03,  0.0000E+00,\n 50.0000,  0.6366E-04,  0.0000E+00,\n"},
      {"differentiation", "0\n0\n3\n", head + " 25.0000,  0.4443E+01,  0.0000E+00,\n 50.0000,  0.6283E+01,  0.0000E+00,\n"},
      // Any filter answer but 1 asks for no corners.
      {"filter answer 2", "0\n2\n0\n", head + " 25.0000,  0.2828E-01,  0.0000E+00,\n 50.0000,  0.2000E-01,  0.0000E+00,\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = harness::run("in.txt\n" + c.answers + "0\n0\nout.csv\n\n", {{"in.txt", kRecord}});
    expect_success(r);
    EXPECT_EQ(r.files["amp2.csv"], c.amp);
    EXPECT_EQ(r.out.find("TRAPEZOIDAL") != std::string::npos, c.answers == "0\n1\n0 0 30 40\n0\n");
  }
}

// The spectra of a transform of nf lines over dur seconds in the store, every line (1, 2) up to nf,
// so each line's factor can be read off its real part.
wavproc::Spectra set_grid(std::int32_t nf, double dur) {
  for (std::int32_t i = 1; i <= nf; ++i) rs.fx1[i] = rs.fx2[i] = rs.fx3[i] = cplx(1.0, 2.0);
  return {rs.fx1, rs.fx2, rs.fx3, nf / 2 + 1, wavproc::kTwoPi / dur};
}

TEST(BandPass, GainOfTheTrapezoid) {
  struct Case {
    const char* what;
    double fl1, fl2, fh1, fh2;
    double hz;
    double gain;
  };
  const Case cases[] = {
      {"DC line", 0.1, 0.5, 10, 20, 0.0, 0.0},
      {"on the rise", 0.1, 0.5, 10, 20, 0.25, 0.375},
      {"on fl2", 0.1, 0.5, 10, 20, 0.5, 1.0},
      {"on fh1", 0.1, 0.5, 10, 20, 10.0, 1.0},
      {"on the fall", 0.1, 0.5, 10, 20, 15.0, 0.49999999999999994},
      {"on fh2", 0.1, 0.5, 10, 20, 20.0, 0.0},
      {"above fh2", 0.1, 0.5, 10, 20, 40.0, 0.0},
      {"Nyquist line", 0.1, 0.5, 10, 20, 64.0, 0.0},
      {"fl1 = fl2 = 0 keeps all but DC", 0, 0, 100, 200, 0.25, 1.0},
      // Corners out of order: a sharp low cut at fl1, a sharp high cut at fh2.
      {"fl2 < fl1, below fl1", 1.0, 0.5, 10, 20, 0.75, 0.0},
      {"fl2 < fl1, above fl1", 1.0, 0.5, 10, 20, 1.25, 1.0},
      {"fh1 > fh2, below fh2", 0.1, 0.5, 20, 10, 9.75, 1.0},
      {"fh1 > fh2, above fh2", 0.1, 0.5, 20, 10, 15.0, 0.0},
      // Overlapping ramps: the falling ramp's gain wins (0.75 rising, 5/6 falling).
      {"overlapping ramps", 0, 10, 5, 20, 7.5, 0.8333333333333333},
      {"fh2 below fl1", 10, 12, 14, 5, 11.0, 0.0},
      // A ramp of zero width: lines beyond its corner stay zero (not NaN), the others keep their gain.
      {"zero-width rise, below", 2, 2, 10, 20, 1.0, 0.0},
      {"zero-width rise, on", 2, 2, 10, 20, 2.0, 0.0},
      {"zero-width rise, above", 2, 2, 10, 20, 2.25, 1.0},
      {"zero-width fall, below", 0.1, 0.5, 15, 15, 14.75, 1.0},
      {"zero-width fall, above", 0.1, 0.5, 15, 15, 20.0, 0.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // A 4-second transform: nf = 512, lines every 0.25 Hz.
    const wavproc::Spectra s = set_grid(512, 4.0);
    wavproc::apply_bandpass(s, c.fl1, c.fl2, c.fh1, c.fh2);
    const int line = static_cast<int>(c.hz * 4.0) + 1;
    EXPECT_EQ(rs.fx1[line].real(), c.gain);
    EXPECT_EQ(rs.fx2[line].imag(), 2.0 * c.gain);
    EXPECT_EQ(rs.fx3[line].real(), c.gain);
    // Lines above nom are left for the inverse stage to rebuild.
    for (int i = s.nom + 1; i <= 512; ++i) ASSERT_EQ(rs.fx1[i], cplx(1.0, 2.0));
  }
}

TEST(Integration, OperationsOnLineThree) {
  struct Case {
    std::int32_t nit;
    cplx line3;
  };
  // dur = 4 s, so line 3 lies at omega = 2·dom = 3.1415926535 rad/s.
  const Case cases[] = {{1, cplx(0.0, -0.6366197723857773)},
                        {2, cplx(-0.20264236729625942, -0.0)},
                        {3, cplx(0.0, 6.283185307)},
                        {0, cplx(2.0, 0.0)},
                        {4, cplx(2.0, 0.0)},
                        {-1, cplx(2.0, 0.0)}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.nit);
    const wavproc::Spectra s = set_grid(512, 4.0);
    rs.fx1[3] = rs.fx2[3] = rs.fx3[3] = cplx(2.0, 0.0);
    wavproc::apply_integration(s, c.nit);
    EXPECT_EQ(rs.fx1[3], c.line3);
    EXPECT_EQ(rs.fx3[3], c.line3);
    EXPECT_EQ(std::signbit(rs.fx1[3].real()), std::signbit(c.line3.real()));
    // The zero-frequency line and the lines above nom keep their values.
    EXPECT_EQ(rs.fx1[1], cplx(1.0, 2.0));
    EXPECT_EQ(rs.fx2[s.nom + 1], cplx(1.0, 2.0));
  }
}

TEST(Integration, ConvertsExactlyLinesTwoToNom) {
  const wavproc::Spectra s = set_grid(4, 0.04);
  rs.fx1[5] = cplx(1.0, 2.0);
  wavproc::apply_integration(s, 3);
  EXPECT_EQ(rs.fx1[1], cplx(1.0, 2.0));
  EXPECT_NE(rs.fx1[2], cplx(1.0, 2.0));
  EXPECT_NE(rs.fx1[3], cplx(1.0, 2.0));
  EXPECT_EQ(rs.fx1[4], cplx(1.0, 2.0));
  EXPECT_EQ(rs.fx1[5], cplx(1.0, 2.0));
}

}  // namespace
