// wavproc-import end to end: each format against what its files say of themselves, bad input,
// grouping and line-up, plain columns, the record check, and a K-NET station carried through wavproc
// to its pictures; and the Fortran field reading that the readers share.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "harness.h"
#include "import/text_fields.h"
#include "pieces.h"

namespace {

using Files = std::map<std::string, std::string>;

harness::Result import(const std::vector<std::string>& args, const Files& files) {
  harness::Options o;
  o.program = harness::kImportProgram;
  o.args = args;
  return harness::run("", files, o);
}

std::string data(const std::string& name) { return harness::read_source_file("tests/data/import/" + name); }

// A K-NET file of the given record time, frequency and counts (scale 3920(gal)/6182761); dir is
// N-S, E-W, U-D or a KiK-net channel 1-6.
std::string knet(const std::string& dir, const std::string& time, int hz, const std::vector<int>& counts) {
  const std::vector<std::pair<std::string, std::string>> header = {
      {"Origin Time", "2018/01/24 19:51:00"}, {"Lat.", "41.0"}, {"Long.", "142.5"}, {"Depth. (km)", "30"},
      {"Mag.", "6.2"}, {"Station Code", "TST001"}, {"Station Lat.", "41.5"}, {"Station Long.", "140.9"},
      {"Station Height(m)", "39"}, {"Record Time", time}, {"Sampling Freq(Hz)", std::to_string(hz) + "Hz"},
      {"Duration Time(s)", std::to_string(counts.size() / static_cast<std::size_t>(hz))},
      {"Dir.", dir}, {"Scale Factor", "3920(gal)/6182761"}, {"Max. Acc. (gal)", "0.1"},
      {"Last Correction", time}, {"Memo.", ""}};
  std::string text;
  for (const auto& [label, value] : header) text += label + std::string(18 - label.size(), ' ') + value + "\n";
  for (std::size_t i = 0; i < counts.size(); ++i) {
    std::string v = std::to_string(counts[i]);
    text += std::string(8 - v.size(), ' ') + v + ((i % 8 == 7 || i + 1 == counts.size()) ? " \n" : " ");
  }
  return text;
}

const std::string kT0 = "2018/01/24 19:51:43";

// The largest magnitude of a record's column (2 or 3), rounded to three decimals as the file
// headers give it.
std::string peak(const std::string& record, int column) {
  double most = 0;
  std::size_t at = record.find('\n') + 1;
  while (at < record.size()) {
    std::size_t end = record.find('\n', at);
    std::string row = record.substr(at, end - at);
    const char* p = row.c_str();
    char* next = nullptr;
    double v = 0;
    for (int c = 1; c <= column; ++c, p = next) v = std::strtod(p, &next);
    most = std::max(most, std::fabs(v));
    at = end + 1;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.3f", most);
  return text;
}

// The value that follows label on a line of a file's header.
std::string header_value(const std::string& file, const std::string& label) {
  std::size_t at = file.find(label) + 18;
  return file.substr(at, file.find('\n', at) - at);
}

std::size_t rows(const std::string& record) { return static_cast<std::size_t>(std::count(record.begin(), record.end(), '\n')) - 1; }

TEST(ImportFields, FortranFieldsAreReadByColumnInEveryFormFortranWrites) {
  using wavproc::import::read_decimal;
  const std::vector<std::pair<std::string, double>> good = {
      {"-.8075668E-03", -.8075668E-03}, {"1.5057E+0", 1.5057}, {"1.5D-3", 1.5e-3}, {"2.5-3", 2.5e-3},
      {"  +7 ", 7}, {"-2378640", -2378640}, {"1e5", 1e5}};
  for (const auto& [text, value] : good) {
    double v = 0;
    EXPECT_TRUE(read_decimal(text, v)) << text;
    EXPECT_EQ(v, value) << text;
  }
  for (std::string bad : {"", "1.2.3", "E5", "1E", "--1", "1-", "x", "1 2", "1e999"}) {
    double v = 0;
    EXPECT_FALSE(read_decimal(bad, v)) << bad;
  }
  // Touching fields, a short last line, and a value past the declared count.
  std::vector<std::string_view> lines = {" 1.5057E+0-2.2223E+0", "-2378640-2378649", "3.0"};
  std::vector<double> samples;
  std::vector<std::string> warnings;
  wavproc::import::Failure failure;
  ASSERT_TRUE(wavproc::import::read_fixed_block(lines, 0, 2, 2, 10, "f", samples, warnings, failure));
  EXPECT_EQ(samples, (std::vector<double>{1.5057, -2.2223}));
  EXPECT_EQ(warnings, (std::vector<std::string>{"f: line 2: 3 more value(s) than the 2 declared; the declared 2 are taken"}));
  ASSERT_TRUE(wavproc::import::read_fixed_block(lines, 1, 2, 2, 8, "f", samples, warnings, failure));
  EXPECT_EQ(samples, (std::vector<double>{-2378640, -2378649}));
  EXPECT_FALSE(wavproc::import::read_fixed_block(lines, 1, 5, 2, 8, "f", samples, warnings, failure));
  EXPECT_EQ(failure.line, 3);
  EXPECT_EQ(failure.reason, "the file ends after 3 of the 5 values it declares");
}

TEST(ImportFormats, KnetStationGivesTheRecordItsHeadersDescribe) {
  const Files files = {{"in/AOM0011801241951.NS", data("AOM0011801241951.NS")},
                       {"in/AOM0011801241951.EW", data("AOM0011801241951.EW")},
                       {"in/AOM0011801241951.UD", data("AOM0011801241951.UD")},
                       {"out/.keep", ""}};
  // The group of three files gives its two horizontal components; the mean of the counts is said and kept.
  const auto r = import({"-d", "out", "in/AOM0011801241951.UD", "in/AOM0011801241951.EW", "in/AOM0011801241951.NS"}, files);
  EXPECT_EQ(r.out,
            "out/AOM0011801241951.txt: in/AOM0011801241951.NS in/AOM0011801241951.EW (K-NET ASCII), station AOM001, "
            "components NS(gal) EW(gal), start 2018-01-24T19:51:28 JST, dt 0.01 s, 10200 samples, counts x "
            "3920/6182761 -> gal, mean NS 13190.2 counts (8.36286 gal), EW -12075.1 counts (-7.65588 gal) (kept)\n");
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  const std::string& record = r.files.at("out/AOM0011801241951.txt");
  EXPECT_EQ(record.substr(0, record.find("\n0.02 ") + 1),
            "time NS(gal) EW(gal)\n0 8.360200240636829 -7.66214317519309\n0.01 8.362736324434989 -7.66214317519309\n");
  EXPECT_EQ(rows(record), 10200u);

  // With the mean removed, the peaks are the files' own "Max. Acc.".
  const auto m = import({"--remove-mean", "-o", "r.txt", "in/AOM0011801241951.NS", "in/AOM0011801241951.EW"}, files);
  EXPECT_EQ(m.status, 0) << m.err;
  EXPECT_EQ(peak(m.files.at("r.txt"), 2), header_value(files.at("in/AOM0011801241951.NS"), "Max. Acc. (gal)"));
  EXPECT_EQ(peak(m.files.at("r.txt"), 3), header_value(files.at("in/AOM0011801241951.EW"), "Max. Acc. (gal)"));
}

TEST(ImportFormats, PeerFilesGiveTheirSamplesInGalOrTheirOwnUnit) {
  const auto r = import({"--single", "-o", "r.txt", "RSN763_LOMAP_GIL067.AT2"},
                        {{"RSN763_LOMAP_GIL067.AT2", data("RSN763_LOMAP_GIL067.AT2")}});
  EXPECT_EQ(r.out,
            "r.txt: RSN763_LOMAP_GIL067.AT2 (PEER AT2), station Gilroy - Gavilan Coll., components 067(gal) zeros, "
            "start not stated, dt 0.005 s, 7999 samples, g x 980.665 -> gal\n");
  const std::string& record = r.files.at("r.txt");
  EXPECT_EQ(rows(record), 7999u);
  EXPECT_EQ(record.substr(0, record.find("\n0.005 ") + 1), "time 067(gal) zeros\n0 -0.7919524959219999 0\n");
  EXPECT_EQ(record.substr(record.rfind('\n', record.size() - 2) + 1), "39.99 0.3297108506475 0\n");

  // The older positional line 4, CR LF, velocity in cm/s kept as it is, a name quoted for its slash.
  const std::string vt2 =
      "PEER NGA STRONG MOTION DATABASE RECORD\r\nX, 1/1/2000, Here, UP\r\nVELOCITY TIME SERIES IN UNITS OF CM/SEC\r\n"
      "   6    0.0100    NPTS, DT\r\n  1.0000000E-01  2.0000000E-01 -3.0000000E-01  4.0000000E-01  5.0000000E-01\r\n"
      "  6.0000000E-01\r\n";
  const auto v = import({"--single", "--components", "UP", "-o", "v.txt", "v.VT2"}, {{"v.VT2", vt2}});
  EXPECT_EQ(v.out, "v.txt: v.VT2 (PEER VT2), station Here, components UP(cm/s) zeros, start not stated, dt 0.01 s, "
                   "6 samples, cm/s\n");
  EXPECT_EQ(v.files.at("v.txt"), "time 'UP(cm/s)' zeros\n0 0.1 0\n0.01 0.2 0\n0.02 -0.3 0\n0.03 0.4 0\n0.04 0.5 0\n0.05 0.6 0\n");
}

TEST(ImportBadInput, RefusedNamingFileAndLineWithNothingWritten) {
  const std::string at2 =
      "PEER NGA STRONG MOTION DATABASE RECORD\nX, 1/1/2000, Here, 90\nACCELERATION TIME SERIES IN UNITS OF G\n"
      "NPTS=   3, DT=   .0100 SEC,\n";
  struct Case {
    std::string name, file, expected;
  };
  const std::vector<Case> cases = {
      {"truncated", at2 + "  1.0000000E-01  2.0000000E-01\n", "f: line 5: the file ends after 2 of the 3 values it declares"},
      {"text for a number", at2 + "  1.0000000E-01  2.00x0000E-01  3.0000000E-01\n",
       "f: line 5: \"2.00x0000E-01\" in columns 16-30 is not a number"},
      {"missing interval", "PEER NGA STRONG MOTION DATABASE RECORD\nX, 1/1/2000, Here, 90\nACCELERATION IN G\n"
                           "NPTS=   3, DT=   -999.0 SEC,\n  1.0E-01  2.0E-01  3.0E-01\n",
       "f: line 4: DT -999 is not a sampling interval"},
      {"unknown format", "hello\n", "f: not a format wavproc-import knows (see --formats)"},
      {"K-NET scale factor",
       [] {
         std::string k = knet("N-S", kT0, 100, {1, 2});
         return k.replace(k.find("3920(gal)"), 17, "3920/6182761");
       }(),
       "f: line 14: \"3920/6182761\" is not a scale factor A(gal)/B"},
      {"K-NET count", knet("N-S", kT0, 100, {1, 2}) + "       x\n", "f: line 19: \"x\" is not a number"},
      {"uneven time", "t NS EW\n0 1 2\n0.01 1 2\n0.03 1 2\n",
       "f: line 4: uneven time step: from 0.01 to 0.03 where the interval is 0.01 (resampling is processing: not done here)"},
      {"no interval", "NS EW\n1 2\n3 4\n", "f: no time column: give the sampling interval with --dt"},
  };
  for (const auto& c : cases) {
    const auto r = import({"--single", "-o", "r.txt", "f"}, {{"f", c.file}});
    EXPECT_EQ(r.err, "wavproc-import: " + c.expected + "\n") << c.name;
    EXPECT_EQ(r.status, 1) << c.name;
    EXPECT_EQ(r.files.size(), 1u) << c.name;
  }
  // A record never replaces the file it is made from.
  const auto over = import({"--single", "-o", "f", "f"}, {{"f", "t NS\n0 1\n1 2\n"}});
  EXPECT_EQ(over.err, "wavproc-import: f: is the input file f: not replaced\n");
  EXPECT_EQ(over.files.at("f"), "t NS\n0 1\n1 2\n");
  EXPECT_EQ(over.status, 1);
  // More values than declared: a warning, and the declared count is taken.
  const auto extra = import({"--single", "-o", "r.txt", "f"}, {{"f", at2 + "  1.0000000E-01  2.0000000E-01  3.0000000E-01  4.0000000E-01\n"}});
  EXPECT_EQ(extra.err, "wavproc-import: warning: f: line 5: 1 more value(s) than the 3 declared; the declared 3 are taken\n");
  EXPECT_EQ(extra.status, 0);
  EXPECT_EQ(rows(extra.files.at("r.txt")), 3u);
}

TEST(ImportGrouping, ComponentsAreGroupedLinedUpAndChecked) {
  // EW starts 1 s (two samples) after NS and ends as late: the common span is said on standard error.
  const Files pair = {{"X.NS", knet("N-S", kT0, 2, {1, 2, 3, 4, 5, 6})},
                      {"X.EW", knet("E-W", "2018/01/24 19:51:44", 2, {7, 8, 9, 10, 11, 12})}};
  const auto r = import({"-o", "r.txt", "X.EW", "X.NS"}, pair);
  EXPECT_EQ(r.err,
            "wavproc-import: r.txt: cut from X.NS NS 2 at the start and 0 at the end to the common span\n"
            "wavproc-import: r.txt: cut from X.EW EW 0 at the start and 2 at the end to the common span\n");
  const double g = 3920.0 / 6182761.0;
  auto v = [g](int count) { return wavproc::import::shortest(count * g); };
  EXPECT_EQ(r.files.at("r.txt"), "time NS(gal) EW(gal)\n0 " + v(3) + " " + v(7) + "\n0.5 " + v(4) + " " + v(8) + "\n1 " +
                                     v(5) + " " + v(9) + "\n1.5 " + v(6) + " " + v(10) + "\n");
  EXPECT_NE(r.out.find("start 2018-01-24T19:51:29 JST, dt 0.5 s, 4 samples"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("cut NS 2 at the start and 0 at the end, EW 0 at the start and 2 at the end"), std::string::npos);

  // Intervals that differ are refused naming both.
  const auto dt = import({"-o", "r.txt", "X.NS", "Y.EW"}, {{"X.NS", pair.at("X.NS")}, {"Y.EW", knet("E-W", kT0, 4, {1, 2})}});
  EXPECT_EQ(dt.err, "wavproc-import: X.NS: the sampling intervals differ: X.NS NS 0.5 s, Y.EW EW 0.25 s\n");
  EXPECT_EQ(dt.status, 1);

  // KiK-net's borehole and surface instruments make two records; one name for two groups is refused
  // before anything is written.
  const Files kik = {{"a/K.NS1", knet("1", kT0, 2, {1, 2})}, {"a/K.EW1", knet("2", kT0, 2, {1, 2})},
                     {"a/K.NS2", knet("4", kT0, 2, {1, 2})}, {"a/K.EW2", knet("5", kT0, 2, {1, 2})},
                     {"out/.keep", ""}};
  const auto two = import({"-d", "out", "a/K.NS1", "a/K.EW1", "a/K.NS2", "a/K.EW2"}, kik);
  EXPECT_EQ(two.status, 0) << two.err;
  EXPECT_EQ(two.files.count("out/K-1.txt") + two.files.count("out/K-2.txt"), 2u);
  Files clash = kik;
  clash["b/K.NS1"] = kik.at("a/K.NS1");
  clash["b/K.EW1"] = kik.at("a/K.EW1");
  const auto refused = import({"-d", "out", "a/K.NS1", "a/K.EW1", "b/K.NS1", "b/K.EW1"}, clash);
  EXPECT_EQ(refused.err, "wavproc-import: a/K.NS1 and b/K.NS1 would both be written to out/K-1.txt: nothing written; "
                         "import them apart with -o\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.files.size(), clash.size());

  // A record longer than wavproc takes is refused, naming the window options; a window fits.
  std::string longer = "t NS EW\n";
  for (int i = 0; i < 32769; ++i) longer += std::to_string(i) + " 1 2\n";
  const auto too_long = import({"-o", "r.txt", "f"}, {{"f", longer}});
  EXPECT_EQ(too_long.err, "wavproc-import: f: the record has 32769 samples and wavproc takes at most 32768: choose a "
                          "window with --start and --duration (seconds from the first sample)\n");
  EXPECT_EQ(too_long.files.size(), 1u);
  const auto window = import({"--start", "10", "--duration", "20000", "-o", "r.txt", "f"}, {{"f", longer}});
  EXPECT_EQ(rows(window.files.at("r.txt")), 20000u);
  EXPECT_EQ(window.files.at("r.txt").substr(0, 20), "time NS EW\n0 1 2\n1 1");
}

TEST(ImportColumns, PlainColumnsBecomeSoundRecords) {
  struct Case {
    std::string name, file;
    std::vector<std::string> args;
    std::string record;
  };
  const std::vector<Case> cases = {
      {"CSV with units and a comment", "# station A\nTime (s),NS (gal),EW (gal)\r\n0.00,1.5,-2\r\n0.01,2.5,3\r\n", {},
       "time NS(gal) EW(gal)\n0 1.5 -2\n0.01 2.5 3\n"},
      {"byte-order mark, tabs, cm/s/s, the interval as its decimals give it", "\xEF\xBB\xBFtime\tNS(cm/s/s)\tEW(cm/s/s)\n0.2\t1\t2\n0.3\t3\t4\n", {},
       "time NS(gal) EW(gal)\n0 1 2\n0.1 3 4\n"},
      {"no time column, four components chosen by number", "1 2 3 4\n5 6 7 8\n", {"--dt", "0.02", "--components", "4,2"},
       "time C4 C2\n0 4 2\n0.02 8 6\n"},
      {"one component", "NS(m/s2)\n1\n2\n", {"--dt", "0.5", "--single"}, "time NS(gal) zeros\n0 100 0\n0.5 200 0\n"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"-o", "r.txt", "f"});
    const auto r = import(args, {{"f", c.file}});
    EXPECT_EQ(r.err, "") << c.name;
    EXPECT_EQ(r.files.count("r.txt") ? r.files.at("r.txt") : "", c.record) << c.name;
  }
}

TEST(ImportCheck, SaysWhatWavprocMakesOfARecordAndWarns) {
  struct Case {
    std::string file, out;
    int status;
  };
  const std::vector<Case> cases = {
      {"time NS(gal) 'EW(cm/s)'\n0 1 2\n0.01 3 4\n", "f: names \"time\" \"NS(gal)\" \"EW(cm/s)\", 2 rows, dt 0.01 s\n", 0},
      {"Time NS(cm/s/s) EW\n0 1 2\n0.01 1 2 3\n",
       "f: names \"Time\" \"NS(cm\", 2 rows, dt 0.01 s\n"
       "f: warning: the header is cut at the slash after \"NS(cm\": wavproc ends the names there (quote a name that holds a slash)\n"
       "f: warning: line 3 holds 4 numbers: wavproc reads three at a time across lines, so the rows shift\n"
       "f: warning: 1 number(s) left over after the last whole row\n",
       1},
      {"0 1 2\n1 3 4\n3 5 6\n",
       "f: names \"0\" \"1\" \"2\", 2 rows, dt 2 s\n"
       "f: warning: the name \"0\" is a number: the file probably has no header line, and wavproc takes its first row as the names\n"
       "f: warning: the name \"1\" is a number: the file probably has no header line, and wavproc takes its first row as the names\n"
       "f: warning: the name \"2\" is a number: the file probably has no header line, and wavproc takes its first row as the names\n"
       "f: warning: the interval 2 s does not look like one: is the first column the time?\n",
       1},
      {"t N S E\n0 1 2\n0.1 1 2\n0.3 1 2\n",
       "f: names \"t\" \"N\" \"S\", 3 rows, dt 0.1 s\n"
       "f: warning: the header line holds 4 items: names cut at a blank or comma? wavproc takes the first three\n"
       "f: warning: uneven time step at line 4: 0.1 to 0.3 where the interval is 0.1 s\n",
       1},
  };
  for (const auto& c : cases) {
    const auto r = import({"--check", "f"}, {{"f", c.file}});
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.status, c.status) << c.file;
  }
}

TEST(ImportUsage, WrongCallsEndWithStatusTwo) {
  const auto version = import({"--version"}, {});
  const std::string manual = harness::read_source_file("doc/wavproc-import.1");
  EXPECT_NE(manual.substr(0, manual.find('\n')).find("\"wavproc " + version.out.substr(15, version.out.size() - 16) + "\""),
            std::string::npos)
      << version.out;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{}, {"-o", "r.txt"}, {"-o", "r", "-d", "d", "f"}, {"-o", "r", "a", "b", "c"},
                                             {"--start", "x", "-o", "r", "f"}, {"--format", "nosuch", "-o", "r", "f"},
                                             {"-d", "nofolder", "f"}, {"--bogus"}}) {
    const auto r = import(args, {{"f", "1 2\n"}});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.files.size(), 1u);
  }
}

TEST(ImportCarryThrough, KnetStationThroughWavprocToItsPictures) {
  const auto imported = import({"-o", "record.txt", "AOM0011801241951.NS", "AOM0011801241951.EW"},
                               {{"AOM0011801241951.NS", data("AOM0011801241951.NS")},
                                {"AOM0011801241951.EW", data("AOM0011801241951.EW")}});
  ASSERT_EQ(imported.status, 0) << imported.err;
  const auto processed =
      harness::run(harness::read_source_file("examples/answers.txt"), {{"record.txt", imported.files.at("record.txt")}});
  ASSERT_EQ(processed.status, 0) << processed.err;
  EXPECT_NE(processed.out.find(" NT and DT= 10200  0.01\n"), std::string::npos);
  harness::Options plot;
  plot.program = WAVPROC_SOURCE_DIR "/plot/wavproc-plot";
  plot.args = {"velocity.csv", "amp2.csv", "record.txt"};
  Files files = processed.files;
  files["record.txt"] = imported.files.at("record.txt");
  const auto pictures = harness::run("", files, plot);
  EXPECT_EQ(pictures.out, "velocity.png\namp2.png\nrecord.png\n") << pictures.err;
  EXPECT_EQ(pictures.files.at("record.png").substr(1, 3), "PNG");
  EXPECT_EQ(pictures.files.at("velocity.png").substr(1, 3), "PNG");
  EXPECT_EQ(pictures.files.at("amp2.png").substr(1, 3), "PNG");
}

}  // namespace
