// The readers of the self-describing strong-motion formats (COSMOS, CSMIP, ESM, GeoNet, SMC,
// Taiwan, UNAM) against what real files say of themselves (sample counts, interval, the header's
// peak and its time), and one table of bad inputs that each must refuse, naming the line.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "import/import.h"

namespace wavproc::import {
namespace {

// The bytes of a file, whole.
std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string data(const std::string& name) { return std::string(WAVPROC_SOURCE_DIR) + "/tests/data/import/" + name; }

// The outcome of bytes through the first format of the table that recognises them, which must be
// the one named.
Outcome import_as(const std::string& format, const std::string& bytes, const std::string& file) {
  for (const FormatEntry& entry : formats()) {
    if (entry.recognise(bytes)) {
      EXPECT_EQ(entry.name, format) << file;
      return entry.read(bytes, file);
    }
  }
  ADD_FAILURE() << file << ": no format recognised";
  return {};
}

// What a file says of one of its traces: the count, interval, the peak (to the header's digits)
// and its time from the first sample, and the start (ns since 1970, UTC; 0 where not given).
struct Claim {
  const char* file;  // under tests/data/import/, or under $WAVPROC_RECORDS when it has a slash
  const char* format;
  std::size_t trace;
  const char* component;
  std::size_t samples;
  double dt;
  double peak, peak_tolerance, peak_time;
  std::int64_t start_ns;
};

void check(const Claim& c, const std::string& path) {
  SCOPED_TRACE(path);
  Outcome out = import_as(c.format, slurp(path), path);
  ASSERT_FALSE(out.failed) << out.failure.line << ": " << out.failure.reason;
  ASSERT_GT(out.traces.size(), c.trace);
  const Trace& t = out.traces[c.trace];
  EXPECT_EQ(t.component, c.component);
  EXPECT_EQ(t.samples.size(), c.samples);
  EXPECT_EQ(t.dt, c.dt);
  std::size_t at = 0;
  for (std::size_t k = 0; k < t.samples.size(); ++k) {
    if (std::fabs(t.samples[k]) > std::fabs(t.samples[at])) at = k;
  }
  EXPECT_NEAR(std::fabs(t.samples[at]), std::fabs(c.peak), c.peak_tolerance);
  EXPECT_NEAR(static_cast<double>(at) * t.dt, c.peak_time, 1e-9);
  EXPECT_EQ(t.start.known, c.start_ns != 0);
  if (c.start_ns != 0) {
    EXPECT_EQ(t.start.ns, c.start_ns);
  }
  for (const auto& w : t.warnings) ADD_FAILURE() << "warning: " << w;
}

// The files kept in the project, one per format family they stand for.
const Claim kKept[] = {
    // "Max = -161.962 cm/sec2 at 27.850 sec"; real-header word 62 gives 10 ms.
    {"Cosmos12TimeSeriesTest.v1", "cosmos", 0, "340", 7000, 0.01, -161.962, 5e-4, 27.85, 1118955184400000000},
    // Reals 29-30: maximum 104.4078 cm/s2 at 10.17 s; 200 samples/s; 1989 day 291 00:04:00.
    {"0111a.smc", "smc", 0, "360", 6001, 0.005, 104.4078, 5e-3, 10.17, 624672240000000000},
    // PGA_CM/S^2 and TIME_PGA_S; first sample 2019-07-28 16:09:05.700 UTC.
    {"HL.DLFA..HNE.D.20190728.160908.C.ACC.ASC", "esm", 0, "HNE", 13876, 0.005, 0.227973, 1e-6, 36.31,
     1564330145700000000},
    // "#AmplitudeMAX. N: 1.256~ -2.273"; start 2018-02-06 23:50:29 at UTC+8.
    {"1-EAS.dat", "cwb", 1, "N", 6000, 0.02, -2.273, 0, 86.02, 1517932229000000000},
};

TEST(ImportFormats, KeptFilesReproduceTheirHeaders) {
  for (const Claim& c : kKept) check(c, data(c.file));
}

// Every real file of these formats in the collection named by $WAVPROC_RECORDS (the folder with
// cosmos/, csmip/, ...), where it is set: each imports, or is refused for the reason it must be.
const Claim kCollection[] = {
    {"cosmos/Cosmos12TimeSeriesTest2.v1", "cosmos", 1, "090", 7000, 0.01, -161.962, 5e-4, 27.85, 1118955184400000000},
    // "Max = 1033406 counts, at 45.580 sec" (the text drops the sign); start 17:29:06.331590 UTC.
    {"cosmos/NP8040-n.1000hyfh.HNE.01.V0c", "cosmos", 0, "HNE", 42000, 0.005, 1033406, 0, 45.58, 1543598946331590000},
    {"cosmos/us1000hyfh_akbmrp_AKBMR--n.1000hyfh.BNZ.--.acc.V2c", "cosmos", 0, "BNZ", 42000, 0.005, -6.852, 5e-4,
     76.215, 1543598979137490000},
    // "Max = .079 g, at 30.590 sec"; channel 3 of the V2: "Peak velocity = 2.783 cm/sec at 30.520 sec".
    {"csmip/CE89146.V1", "csmip", 0, "360", 13200, 0.005, 0.079, 5e-4, 30.59, 1329167205000000000},
    {"csmip/CE89146.V2", "csmip", 7, "090", 12000, 0.005, 2.783, 5e-4, 30.52, 1329167205000000000},
    // "Peak -11026.2 mm/s/s at 44.87 s"; V2A: 250 padding samples before time 0, peak at 44.88 s.
    {"geonet/20161113_110259_WTMC_20.V1A", "geonet", 0, "N28W", 65536, 0.005, -11026.2, 0.5, 44.87,
     1479034939715000000},
    {"geonet/20161113_110259_WTMC_20.V2A", "geonet", 0, "N28W", 8192, 0.02, -9733.1, 0, 49.88, 1479034934715000000},
    {"esm/HI.ARS1..HNE.D.20190728.160908.C.ACC.ASC", "esm", 0, "HNE", 19128, 0.005, 0.300022, 1e-6, 20.67,
     1564330159870000000},
    {"esm/HI.ARS1..HNN.D.20190728.160908.C.ACC.ASC", "esm", 0, "HNN", 19128, 0.005, 0.359017, 1e-6, 22.655,
     1564330159870000000},
    {"esm/HI.ARS1..HNZ.D.20190728.160908.C.ACC.ASC", "esm", 0, "HNZ", 19128, 0.005, 0.202093, 1e-6, 20.025,
     1564330159870000000},
    // "ACEL. MAX. ... EN LA MUESTRA /10692/16112/16295": sample numbers from 1 in this file.
    {"unam/ACAC1709.191", "unam", 1, "N00E", 35600, 0.005, 58.7394, 0, 80.555, 1505844858000000000},
};

TEST(ImportFormats, CollectionFilesReproduceTheirHeaders) {
  const char* root = std::getenv("WAVPROC_RECORDS");
  if (root == nullptr) GTEST_SKIP() << "WAVPROC_RECORDS not set";
  for (const Claim& c : kCollection) check(c, std::string(root) + "/" + c.file);
  Outcome raw = import_as("csmip", slurp(std::string(root) + "/csmip/LA116TH.RAW"), "LA116TH.RAW");
  ASSERT_TRUE(raw.failed);
  EXPECT_NE(raw.failure.reason.find("uneven time steps"), std::string::npos) << raw.failure.reason;
  EXPECT_NE(raw.failure.reason.find("resampling"), std::string::npos) << raw.failure.reason;
}

// A film-digitised channel: (time, value) pairs after 100 integers and 50 reals.
std::string film_channel(const std::string& pairs) {
  std::string text = "UNCORRECTED ACCELEROGRAM DATA              PROCESSED: 02/08/94, CDMG\n";
  text += "NO. OF POINTS =      4  RECORD LENGTH = 0.016 SEC\n";
  std::string integers;
  for (int k = 0; k < 16; ++k) integers += "    0";
  for (int line = 0; line < 6; ++line) text += integers + "\n";
  text += "    0    0    0    0\n";
  for (int line = 0; line < 6; ++line) text += "      .000      .000      .000      .000      .000      .000      .000      .000\n";
  text += "      .000      .000\n";
  return text + pairs + "\n/&  ----------  END OF DATA FOR CHANNEL  1  ----------\n";
}

// text with the first occurrence of from replaced by to.
std::string edited(std::string text, const std::string& from, const std::string& to) {
  std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// text without its last n lines.
std::string cut_lines(std::string text, int n) {
  for (int k = 0; k < n; ++k) text.resize(text.find_last_of('\n', text.size() - 2) + 1);
  return text;
}

TEST(ImportFormats, BadInputsAreRefusedNamingTheLine) {
  const std::string cosmos = slurp(data("Cosmos12TimeSeriesTest.v1"));
  const std::string smc = slurp(data("0111a.smc"));
  const std::string esm = slurp(data("HL.DLFA..HNE.D.20190728.160908.C.ACC.ASC"));
  const std::string cwb = slurp(data("1-EAS.dat"));
  struct Case {
    const char* what;
    const char* format;
    std::string bytes;
    long line;
    const char* reason;  // a part of the reason
  };
  const Case cases[] = {
      {"COSMOS truncated before its end line", "cosmos", edited(cosmos, "    .00296    .00376", "/&  End"), 919,
       "only 6976 of the 7000"},
      {"COSMOS interval is the missing-value marker", "cosmos",
       edited(cosmos, "    10.000000    70.000000", "  -999.000000    70.000000"), 36, "word 62"},
      {"COSMOS text in a value", "cosmos", edited(cosmos, "   -.00001    .00013", "   -.00001    .0O013"), 47,
       "is not a number"},
      {"SMC truncated", "smc", cut_lines(smc, 1), 785, "ends after 6000 of the 6001"},
      {"SMC rate is the missing-value marker", "smc", edited(smc, "  0.1700000E+39  0.2000000E+03", "  0.1700000E+39  0.1700000E+39"),
       18, "not a sampling rate"},
      {"SMC text in a touching field", "smc", edited(smc, " 1.5057E+0-2.2223E+0", " 1.5057E+0-2.2x23E+0"), 36,
       "is not a number"},
      {"ESM interval left blank", "esm", edited(esm, "SAMPLING_INTERVAL_S: 0.005000", "SAMPLING_INTERVAL_S: "), 29,
       "not a sampling interval"},
      {"ESM missing value (blank) among the samples", "esm", edited(esm, "\n-0.000000\n", "\n\n"), 66,
       "missing value"},
      {"ESM truncated", "esm", cut_lines(esm, 10), 13930, "ends after 13866 of the 13876"},
      {"Taiwan truncated", "cwb", cut_lines(cwb, 1), 6021, "ends after 5999 of the 6000"},
      {"Taiwan row off its time", "cwb", edited(cwb, "     0.040     0.000", "     0.060     0.000"), 25,
       "time 0.06"},
      {"Taiwan row short of a value", "cwb", edited(cwb, "     0.040     0.000     0.000     0.000", "     0.040     0.000     0.000"),
       25, "a row of fewer than 4 values"},
      {"film-digitised pairs at uneven steps", "csmip", film_channel("   .000   .100   .005   .200   .010   .300   .016   .400"),
       17, "uneven time steps: from .010 s to .016 s"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Outcome out = import_as(c.format, c.bytes, "bad");
    ASSERT_TRUE(out.failed);
    EXPECT_EQ(out.failure.file, "bad");
    EXPECT_EQ(out.failure.line, c.line) << out.failure.reason;
    EXPECT_NE(out.failure.reason.find(c.reason), std::string::npos) << out.failure.reason;
  }
}

TEST(ImportFormats, MoreValuesThanDeclaredWarnAndTakeTheDeclared) {
  std::string cwb = slurp(data("1-EAS.dat"));
  cwb += "   120.000     0.000     0.000    -0.299\r\n";
  Outcome out = import_as("cwb", cwb, "long");
  ASSERT_FALSE(out.failed) << out.failure.reason;
  EXPECT_EQ(out.traces[0].samples.size(), 6000u);
  ASSERT_EQ(out.traces[0].warnings.size(), 1u);
  EXPECT_NE(out.traces[0].warnings[0].find("6001 rows for the 6000"), std::string::npos);

  std::string cosmos = edited(slurp(data("Cosmos12TimeSeriesTest.v1")), "/&  ---", "    .00001\n/&  ---");
  out = import_as("cosmos", cosmos, "long");
  ASSERT_FALSE(out.failed) << out.failure.reason;
  EXPECT_EQ(out.traces[0].samples.size(), 7000u);
  ASSERT_EQ(out.traces[0].warnings.size(), 1u);
  EXPECT_NE(out.traces[0].warnings[0].find("the declared 7000 are taken"), std::string::npos);
}

TEST(ImportFormats, FilmDigitisedPairsAtEvenStepsAreRead) {
  Outcome out = import_as("csmip", film_channel("   .000   .100   .005   .200   .010  -.300   .015   .400"), "even");
  ASSERT_FALSE(out.failed) << out.failure.reason;
  ASSERT_EQ(out.traces.size(), 1u);
  EXPECT_EQ(out.traces[0].dt, 0.005);
  EXPECT_EQ(out.traces[0].unit, "g");
  EXPECT_EQ(out.traces[0].samples, (std::vector<double>{0.01, 0.02, -0.03, 0.04}));
}

TEST(ImportFormats, OlderUpperCaseCsmipVolume2) {
  // The 1983 dialect: trigger time in local time, a data line without a format (8F10.3), and
  // values that touch when they fill their width.
  std::string text = "CORRECTED ACCELEROGRAM\nCOALINGA EARTHQUAKE\nTRIGGER TIME: 05/02/83, 16:42:48.2 PDT\n"
                     "STATION NO. 46175\nCHAN  1:  90 DEG\n";
  std::string integers;
  for (int k = 0; k < 16; ++k) integers += "    0";
  for (int line = 0; line < 6; ++line) text += integers + "\n";
  text += "    0    0    0    0\n";
  for (int line = 0; line < 12; ++line) text += "5.0000000-999.00000      .000      .000      .000      .000      .000      .000\n";
  text += "      .000      .000      .000      .000\n";
  text += "    3 POINTS OF ACCEL DATA EQUALLY SPACED AT  .020 SEC.  (UNITS: CM/SEC/SEC)\n";
  text += "  1234.567-1234.567     0.125\n/&  ----------  END OF DATA FOR CHANNEL  1  ----------\n";
  Outcome out = import_as("csmip", text, "old");
  ASSERT_FALSE(out.failed) << out.failure.line << ": " << out.failure.reason;
  ASSERT_EQ(out.traces.size(), 1u);
  const Trace& t = out.traces[0];
  EXPECT_EQ(t.component, "090");
  EXPECT_EQ(t.station, "46175");
  EXPECT_EQ(t.unit, "gal");
  EXPECT_EQ(t.dt, 0.02);
  EXPECT_EQ(t.samples, (std::vector<double>{1234.567, -1234.567, 0.125}));
  EXPECT_EQ(t.start.zone, "PDT");
  EXPECT_EQ(t.start.ns, 420766968200000000);  // 1983-05-02 23:42:48.2 UTC
}

TEST(ImportFormats, MexicanFileStartingAfterMidnightWithRowsBeyondItsCount) {
  // As one real file: the quake at 23:58 of one day, the first sample at 00:00:01 of the next,
  // and the last row repeated past the declared count.
  auto field = [](std::string label, const std::string& value) {
    label.resize(39, ' ');
    return label + ": " + value + "\r\n";
  };
  std::string text = "ARCHIVO ESTANDAR DE ACELERACION:\r\n" + field("VERSION DEL FORMATO", "2.0") +
                     field("CLAVE DE LA ESTACION", "CUP5") + field("ORIENTACION C1-C6 (rumbo;orientacion)", "/N00E/V/N90W") +
                     field("INTERVALO DE MUESTREO, C1-C6 (s)", "/0.01/0.01/0.01") +
                     field("FECHA DEL SISMO [GMT]", "2004/01/01") + field("HORA EPICENTRO (GMT)", "23:58:40") +
                     field("HORA DE LA PRIMERA MUESTRA (GMT)", "00:00:01") +
                     field("NUM. TOTAL DE MUESTRAS, C1-C6", "/2/2/2") + field("UNIDADES DE LOS DATOS", "Gal (cm/s/s)") +
                     field("FORMATO DATOS (FORTRAN,10 campos/dato)", "3F10.3") +
                     "DATOS DE ACELERACION:\r\n---------+---------+\r\n   CANAL-1   CANAL-2   CANAL-3\r\n"
                     "      N00E         V      N90W\r\n---------+---------+\r\n"
                     "     1.500    -2.000     0.250\r\n     1.600    -2.100     0.350\r\n     1.600    -2.100     0.350\r\n";
  Outcome out = import_as("unam", text, "cup5");
  ASSERT_FALSE(out.failed) << out.failure.line << ": " << out.failure.reason;
  ASSERT_EQ(out.traces.size(), 3u);
  EXPECT_EQ(out.traces[2].component, "N90W");
  EXPECT_EQ(out.traces[2].azimuth, 270);
  EXPECT_TRUE(out.traces[1].vertical);
  EXPECT_EQ(out.traces[2].samples, (std::vector<double>{0.25, 0.35}));
  EXPECT_EQ(out.traces[0].start.ns, 1073001601000000000);  // 2004-01-02 00:00:01 UTC
  ASSERT_EQ(out.traces[0].warnings.size(), 1u);
  EXPECT_NE(out.traces[0].warnings[0].find("3 rows for the 2 the header declares"), std::string::npos);
}

}  // namespace
}  // namespace wavproc::import
