// wavproc-import's SAC and miniSEED readers against independent readings: SAC samples against the
// raw floats read in the file's byte order by hand, miniSEED against libmseed's own reading of each
// record; and the table of bad seismological inputs with the reason each gives.
#include <gtest/gtest.h>
#include <libmseed.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "harness.h"
#include "import/readers.h"
#include "import/text_fields.h"

namespace {

using wavproc::import::Outcome;
using wavproc::import::Quantity;

const std::string kData = "tests/data/import/";
const std::string kSac = "2016.301.00.36.00.0000.CC.TIMB..EHZ.R.SAC";

// The 32-bit word at offset of bytes, in the given byte order.
std::uint32_t word(const std::string& bytes, std::size_t offset, bool big_endian) {
  std::uint32_t w = 0;
  for (std::size_t k = 0; k < 4; ++k)
    w = (w << 8) | static_cast<unsigned char>(bytes[offset + (big_endian ? k : 3 - k)]);
  return w;
}

// bytes with the byte order of every numeric word (header numbers and samples) reversed.
std::string swapped(std::string bytes) {
  for (std::size_t at = 0; at + 4 <= bytes.size(); at += 4) {
    if (at >= 440 && at < 632) continue;  // the text block has no byte order
    std::swap(bytes[at], bytes[at + 3]);
    std::swap(bytes[at + 1], bytes[at + 2]);
  }
  return bytes;
}

// bytes with the header word number index (0-based) set to value, little-endian.
std::string with_word(std::string bytes, std::size_t index, std::uint32_t value) {
  for (std::size_t k = 0; k < 4; ++k) bytes[4 * index + k] = static_cast<char>(value >> (8 * k));
  return bytes;
}

TEST(SacReader, BothByteOrdersGiveTheRawFloats) {
  const std::string little = harness::read_source_file(kData + kSac);
  const std::string big = swapped(little);
  for (const auto& [bytes, big_endian] : {std::pair{little, false}, std::pair{big, true}}) {
    Outcome got = wavproc::import::read_sac(bytes, "f.sac");
    ASSERT_FALSE(got.failed) << got.failure.reason;
    ASSERT_EQ(got.traces.size(), 1u);
    const auto& t = got.traces[0];
    ASSERT_EQ(t.samples.size(), 1225u);
    for (std::size_t k = 0; k < t.samples.size(); ++k)
      ASSERT_EQ(t.samples[k], std::bit_cast<float>(word(bytes, 632 + 4 * k, big_endian))) << k;
    EXPECT_EQ(t.dt, 0.02);  // the header's float is 0.0199999995529651
    EXPECT_EQ(t.network + "." + t.station + "." + t.component, "CC.TIMB.EHZ");
    EXPECT_EQ(wavproc::import::civil_text(t.start.ns), "2016-10-27T00:36:00");
    EXPECT_EQ(t.unit, "counts");
    EXPECT_EQ(t.format, big_endian ? "SAC binary (big-endian)" : "SAC binary (little-endian)");
  }
}

// Writers leave a zero scale, zero extremes and leftovers after a NUL in text slots.
TEST(SacReader, DistrustsWhatWritersGetWrong) {
  std::string bytes = harness::read_source_file(kData + kSac);
  bytes = with_word(bytes, 3, 0);                   // scale 0
  bytes = with_word(bytes, 1, 0);                   // depmin 0
  bytes = with_word(bytes, 6, 0);                   // e 0
  bytes.replace(440 + 160, 8, std::string("HNE\0" "45  ", 8));
  bytes = with_word(bytes, 70 + 16, 8);             // idep: acceleration in nm/s2
  Outcome got = wavproc::import::read_sac(bytes, "f.sac");
  ASSERT_FALSE(got.failed) << got.failure.reason;
  EXPECT_EQ(got.traces[0].component, "HNE");
  EXPECT_EQ(got.traces[0].quantity, Quantity::acceleration);
  EXPECT_EQ(got.traces[0].unit, "nm/s2");
  EXPECT_EQ(got.traces[0].scale, 1.0);
  EXPECT_TRUE(got.traces[0].warnings.empty());
}

// The text form: 14 lines of five floats (the first column trimmed), 8 of five integers, 8 of text.
std::string sac_text(int npts, const std::string& data) {
  std::string text = "0.01 -12345.00 -12345.00 1.000000 -12345.00\n";
  text += "      0.5000000      -12345.00       -12345.00       -12345.00       -12345.00\n";  // b
  for (int k = 2; k < 14; ++k) text += "  -12345.00       -12345.00       -12345.00       -12345.00       -12345.00\n";
  text += "      2020        60        23        59        58\n";
  text += "       250         6    -12345    -12345" + std::string(10 - std::to_string(npts).size(), ' ') +
          std::to_string(npts) + "\n";
  text += "    -12345    -12345    -12345    -12345    -12345\n";
  text += "         1         7    -12345    -12345    -12345\n";  // iftype: time series; idep: velocity
  for (int k = 4; k < 7; ++k) text += "    -12345    -12345    -12345    -12345    -12345\n";
  text += "         1    -12345    -12345    -12345    -12345\n";
  text += "ABC     -12345          \n";
  for (int k = 1; k < 6; ++k) text += "-12345  -12345  -12345  \n";
  text += "-12345  -12345  BHN\n";  // a line may end before its last slot does
  text += "XY      -12345  -12345  \n";
  return text + data;
}

TEST(SacReader, TextFormByContent) {
  Outcome got = wavproc::import::read_sac(sac_text(6, "  1.000000      -2.500000E-03   3.0\n   4.0   5.0\n 6.0\n"),
                                          "f.txt");
  ASSERT_FALSE(got.failed) << got.failure.reason;
  const auto& t = got.traces[0];
  EXPECT_EQ(t.samples, (std::vector<double>{1, -2.5e-3, 3, 4, 5, 6}));
  EXPECT_EQ(t.dt, 0.01);
  EXPECT_EQ(t.quantity, Quantity::velocity);
  EXPECT_EQ(t.network + "." + t.station + "." + t.component, "XY.ABC.BHN");
  // 2020, day 60 is 29 February; b adds half a second.
  EXPECT_EQ(wavproc::import::civil_text(t.start.ns), "2020-02-29T23:59:58.75");
}

// Every record libmseed reads from the file, at its place in the trace of its channel.
void expect_records_in(const std::string& name, const std::vector<wavproc::import::Trace>& traces) {
  std::string path = std::string(WAVPROC_SOURCE_DIR) + "/" + kData + name;
  MSRecord* msr = nullptr;
  std::size_t total = 0;
  int status = 0;
  std::size_t checked = 0;
  while ((status = ms_readmsr(&msr, path.c_str(), 0, nullptr, nullptr, 1, 1, 0)) == MS_NOERROR) {
    if (msr->numsamples == 0 || msr->sampletype == 'a') continue;
    std::int64_t ns = msr->starttime * 1000;
    const wavproc::import::Trace* in = nullptr;
    for (const auto& t : traces)
      if (t.component == msr->channel && t.station == msr->station && t.start.ns <= ns &&
          ns < t.start.ns + static_cast<std::int64_t>(static_cast<double>(t.samples.size()) * t.dt * 1e9))
        in = &t;
    ASSERT_NE(in, nullptr) << name << " record at " << ns;
    EXPECT_EQ(in->dt, 1 / msr->samprate);
    auto at = static_cast<std::size_t>(std::llround(static_cast<double>(ns - in->start.ns) / (in->dt * 1e9)));
    ASSERT_LE(at + static_cast<std::size_t>(msr->numsamples), in->samples.size()) << name;
    for (std::int64_t k = 0; k < msr->numsamples; ++k) {
      double want = msr->sampletype == 'i'   ? static_cast<std::int32_t*>(msr->datasamples)[k]
                    : msr->sampletype == 'f' ? static_cast<float*>(msr->datasamples)[k]
                                             : static_cast<double*>(msr->datasamples)[k];
      ASSERT_EQ(in->samples[at + static_cast<std::size_t>(k)], want) << name << " sample " << k;
    }
    total += static_cast<std::size_t>(msr->numsamples);
    ++checked;
  }
  ms_readmsr(&msr, nullptr, 0, nullptr, nullptr, 0, 0, 0);
  EXPECT_GT(checked, 0u) << name;
  std::size_t ours = 0;
  for (const auto& t : traces) ours += t.samples.size();
  EXPECT_EQ(ours, total) << name;  // nothing added: these files repeat no samples
}

TEST(MseedReader, EveryEncodingAndLayoutAsLibmseedReadsIt) {
  // Each file: what it holds; the count of gap-free traces; the first trace's start.
  struct Case {
    const char* name;
    std::size_t traces;
    const char* start;
  } cases[] = {
      {"reference-testdata-int16.mseed2", 1, "2012-05-12T00:00:00"},
      {"reference-testdata-int32.mseed2", 1, "2012-05-12T00:00:00"},
      {"reference-testdata-float32.mseed2", 1, "2012-05-12T00:00:00"},
      {"reference-testdata-float64.mseed2", 1, "2012-05-12T00:00:00"},
      {"reference-testdata-steim1.mseed2", 1, "2012-05-12T00:00:00"},
      {"reference-testdata-steim2.mseed2", 1, "2012-05-12T00:00:00"},
      {"reference-testdata-steim1-LE.mseed2", 1, "2012-05-12T00:00:00"},  // little-endian data
      {"reference-testdata-steim2-LE.mseed2", 1, "2012-05-12T00:00:00"},
      {"testdata-encoding-CDSN.mseed2", 1, "1986-12-26T01:11:45.43"},
      {"testdata-encoding-DWWSSN.mseed2", 1, "1980-12-25T00:00:00.32"},
      {"testdata-encoding-SRO.mseed2", 1, "1974-12-26T00:00:00.5"},
      {"testdata-encoding-GEOSCOPE-16bit-3exp-encoded.mseed2", 1, "1986-12-26T02:12:05.8648"},  // 0.1 Hz
      {"testdata-no-blockette1000-steim1.mseed2", 1, "1995-09-22T00:00:18.2384"},
      {"testdata-oneseries-mixedlengths-mixedorder.mseed2", 1, "2010-02-27T06:50:00.069539"},
      {"testdata-unapplied-timecorrection.mseed2", 1, "2003-05-29T02:13:23.0434"},  // header + 1 s
  };
  for (const Case& c : cases) {
    std::string bytes = harness::read_source_file(kData + c.name);
    ASSERT_TRUE(wavproc::import::is_mseed(bytes)) << c.name;
    Outcome got = wavproc::import::read_mseed(bytes, c.name);
    ASSERT_FALSE(got.failed) << c.name << ": " << got.failure.reason;
    ASSERT_EQ(got.traces.size(), c.traces) << c.name;
    EXPECT_EQ(wavproc::import::civil_text(got.traces[0].start.ns), c.start) << c.name;
    EXPECT_EQ(got.traces[0].unit, "counts");
    expect_records_in(c.name, got.traces);
  }
}

// The int32 test vector's five 512-byte records, cut and joined in the test.
std::string int32_records(std::initializer_list<int> which) {
  std::string all = harness::read_source_file(kData + "reference-testdata-int32.mseed2");
  std::string out;
  for (int k : which) out += all.substr(static_cast<std::size_t>(k) * 512, 512);
  return out;
}

TEST(MseedReader, OverlapsWithTheSameSamplesMergeGapsSplit) {
  Outcome whole = wavproc::import::read_mseed(int32_records({0, 1, 2, 3, 4}), "f");
  Outcome repeated = wavproc::import::read_mseed(int32_records({0, 1, 2, 1, 2, 3, 4, 3}), "f");
  ASSERT_FALSE(repeated.failed) << repeated.failure.reason;
  ASSERT_EQ(repeated.traces.size(), 1u);
  EXPECT_EQ(repeated.traces[0].samples, whole.traces[0].samples);
  Outcome gapped = wavproc::import::read_mseed(int32_records({0, 1, 3, 4}), "f");
  ASSERT_EQ(gapped.traces.size(), 2u);
  EXPECT_EQ(gapped.traces[0].samples.size(), 228u);
  EXPECT_EQ(wavproc::import::civil_text(gapped.traces[1].start.ns), "2012-05-12T00:00:08.55");
}

TEST(SeismoReaders, BadInputsAreRefusedWithTheirReason) {
  const std::string sac = harness::read_source_file(kData + kSac);
  std::string clash = int32_records({0, 1, 2});
  std::size_t data = static_cast<unsigned char>(clash[512 + 44]) * 256u + static_cast<unsigned char>(clash[512 + 45]);
  clash[512 + data + 3] ^= 1;  // the second record's first sample, now unlike the overlap's
  clash += int32_records({1});
  std::string overfull = int32_records({0});
  overfull[30] = 1;  // 500 samples declared (big-endian count), where the record holds 114
  overfull[31] = static_cast<char>(0xf4);
  struct Case {
    const char* what;
    std::string bytes;
    wavproc::import::Reader read;
    const char* reason;
  } cases[] = {
      {"truncated", sac.substr(0, sac.size() - 6), wavproc::import::read_sac, "truncated data block: npts 1225"},
      {"npts vs size", sac + std::string(4, '\0'), wavproc::import::read_sac, "npts 1225 disagrees with the file's size (5536"},
      {"wrong kind", std::string(700, 'x'), wavproc::import::read_sac, "not a SAC file"},
      {"unset dt", with_word(sac, 0, std::bit_cast<std::uint32_t>(-12345.0f)), wavproc::import::read_sac,
       "the sampling interval delta is unset"},
      {"spectral", with_word(sac, 70 + 15, 2), wavproc::import::read_sac, "not a time series (iftype 2"},
      {"text truncated", sac_text(7, "1 2 3 4 5\n6\n"), wavproc::import::read_sac, "truncated data block: the file ends"},
      {"detection", harness::read_source_file(kData + "testdata-detection.record.mseed2"), wavproc::import::read_mseed,
       "no samples: its 1 records carry none"},
      {"log text", harness::read_source_file(kData + "reference-testdata-text.mseed2"), wavproc::import::read_mseed,
       "no samples"},
      {"miniSEED 3", std::string("MS\3") + std::string(60, '\0'), wavproc::import::read_mseed, "miniSEED 3, which"},
      {"junk after", int32_records({0}) + std::string(512, 'x'), wavproc::import::read_mseed,
       "no miniSEED 2 record at byte 512"},
      {"count past the end", overfull, wavproc::import::read_mseed,  // libmseed would read past the record
       "the record at byte 0 declares more samples than it holds"},
      {"cut short", int32_records({0}).substr(0, 256), wavproc::import::read_mseed,  // libmseed would read past it
       "the record at byte 0 is cut short: it declares 512 bytes, 256 are left"},
      {"overlap differs", clash, wavproc::import::read_mseed,
       "XX.TEST..BHZ: records overlap with different samples at 2012-05-12T00:00:02.85"},
  };
  for (const Case& c : cases) {
    Outcome got = c.read(c.bytes, "f");
    ASSERT_TRUE(got.failed) << c.what;
    EXPECT_EQ(got.failure.reason.rfind(c.reason, 0), 0u) << c.what << ": " << got.failure.reason;
  }
}

}  // namespace

namespace {

// miniSEED 2 records with the station (5 characters) and channel (3) of their headers replaced.
std::string renamed(std::string records, const std::string& station, const std::string& channel) {
  for (std::size_t at = 0; at + 512 <= records.size(); at += 512) {
    records.replace(at + 8, 5, (station + "     ").substr(0, 5));
    records.replace(at + 15, 3, channel);
  }
  return records;
}

// A run of wavproc-import in a fresh folder holding files.
harness::Result import(const std::map<std::string, std::string>& files, std::vector<std::string> args) {
  harness::Options options;
  options.program = WAVPROC_IMPORT_BINARY;
  options.args = std::move(args);
  return harness::run("", files, options);
}

// One file of two stations: BH1 and BH2 of TEST, in reverse order, become one record; the lone
// BHE of OTHER is refused, and TEST's record is still written.
TEST(MseedImport, OneRecordPerStationAndInstrument) {
  auto records = [](const char* name) { return harness::read_source_file(kData + name); };
  std::string bh1 = renamed(records("reference-testdata-steim1.mseed2"), "TEST", "BH1");
  std::string bh2 = renamed(records("reference-testdata-steim2.mseed2"), "TEST", "BH2");
  std::string reversed;
  for (std::size_t at = bh2.size(); at > 0; at -= 512) reversed += bh2.substr(at - 512, 512);
  std::string other = renamed(records("reference-testdata-int16.mseed2"), "OTHER", "BHE");
  harness::Result r = import({{"day.mseed", bh1 + other + reversed}}, {"-d", ".", "day.mseed"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.out,
            "./day_XX.TEST..BH.txt: day.mseed (miniSEED 2), station TEST, components BH1(counts) BH2(counts), start "
            "2012-05-12T00:00:00 UTC, dt 0.025 s, 499 samples, counts, mean BH1 -3.00543e+06 counts, BH2 -3.00543e+06 counts "
            "(kept), cut BH1 0 at the start and 1 at the end\n");
  EXPECT_EQ(r.err,
            "wavproc-import: ./day_XX.TEST..BH.txt: cut from day.mseed BH1 0 at the start and 1 at the end to the "
            "common span\n"
            "wavproc-import: day.mseed: one component only (BHE): --single makes a record of it with zeros beside it\n");
  const std::string& text = r.files["day_XX.TEST..BH.txt"];
  EXPECT_EQ(text.substr(0, text.find('\n', text.find('\n') + 1) + 1), "time BH1(counts) BH2(counts)\n0 0 0\n");
}

// What the command makes of gaps, windows in UTC, long records and sensitivities.
TEST(SeismoImport, WindowsGapsAndLongRecords) {
  std::string gapped = int32_records({0, 1, 3, 4});  // 00:00:05.7 to 00:00:08.55 missing
  std::string sac = harness::read_source_file(kData + kSac);
  std::string day = with_word(sac, 70 + 9, 40000) + std::string(4 * (40000 - 1225), '\0');  // 40000 samples
  const std::vector<std::string> one = {"-o", "r.txt", "--single", "--channels"};
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    const char* said;  // the start of standard output (status 0) or standard error
  } cases[] = {
      {"gap in the record", {"BHZ", "g.mseed"}, 1,
       "wavproc-import: g.mseed: XX.TEST..BHZ has a gap inside the window at 2012-05-12T00:00:05.7 UTC for 2.85 s: "},
      {"longest segment", {"BHZ", "--longest-segment", "g.mseed"}, 0,
       "r.txt: g.mseed (miniSEED 2), station TEST, components BHZ(counts) zeros, start 2012-05-12T00:00:00 UTC, dt "
       "0.025 s, 228 samples"},
      {"UTC window after the gap", {"BHZ", "--start", "2012-05-12T00:00:09Z", "--duration", "2", "g.mseed"}, 0,
       "r.txt: g.mseed (miniSEED 2), station TEST, components BHZ(counts) zeros, start 2012-05-12T00:00:09 UTC, dt "
       "0.025 s, 80 samples"},
      {"UTC end before the gap", {"BHZ", "--duration", "2012-05-12T00:00:05.7", "g.mseed"}, 0,
       "r.txt: g.mseed (miniSEED 2), station TEST, components BHZ(counts) zeros, start 2012-05-12T00:00:00 UTC, dt "
       "0.025 s, 228 samples"},
      {"window in the gap", {"BHZ", "--start", "6", "--duration", "1", "g.mseed"}, 1,
       "wavproc-import: g.mseed: the window holds no sample of XX.TEST..BHZ, which has samples from "
       "2012-05-12T00:00:00 UTC to 2012-05-12T00:00:12.475 UTC\n"},
      {"long record", {"EHZ", "d.sac"}, 1,
       "wavproc-import: d.sac: the record has 40000 samples and wavproc takes at most 32768: choose a window with "
       "--start and --duration (seconds from the first sample); it spans from 2016-10-27T00:36:00 to "
       "2016-10-27T00:49:19.98 UTC, and the window may be given in UTC\n"},
      {"sensitivity", {"EHZ", "--sensitivity", "2e-9:m/s", "--duration", "600", "d.sac"}, 0,
       "r.txt: d.sac (SAC binary (little-endian)), station TIMB, components EHZ(cm/s) zeros, start "
       "2016-10-27T00:36:00 UTC, dt 0.02 s, 30000 samples, counts / 2e-09 (sensitivity, counts per m/s) x 100 -> "
       "cm/s"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = one;
    args.insert(args.end(), c.args.begin(), c.args.end());
    harness::Result r = import({{"g.mseed", gapped}, {"d.sac", day}}, args);
    EXPECT_EQ(r.status, c.status) << c.what << ": " << r.err;
    EXPECT_EQ((c.status == 0 ? r.out : r.err).rfind(c.said, 0), 0u) << c.what << ": " << r.out << r.err;
    EXPECT_EQ(r.files.count("r.txt"), c.status == 0 ? 1u : 0u) << c.what;
  }
}

// A real SAC record through the whole chain: imported, processed by wavproc with the example's
// answers (band-pass, integration to velocity), and drawn by wavproc-plot next to the record.
TEST(SeismoImport, RealRecordToThePictures) {
  harness::Result imported = import({{"timb.sac", harness::read_source_file(kData + kSac)}},
                                    {"-o", "timb.txt", "--single", "--channels", "EHZ", "timb.sac"});
  ASSERT_EQ(imported.status, 0) << imported.err;
  const std::string record = imported.files["timb.txt"];
  EXPECT_EQ(record.substr(0, record.find('\n')), "time EHZ(counts) zeros");
  EXPECT_NE(record.find("\n0.02 "), std::string::npos);  // wavproc's dt: time 2 minus time 1
  harness::Result processed =
      harness::run("timb.txt\n0\n1\n0.1 0.2 20 25\n1\n0\n1\nvelocity.csv\n", {{"timb.txt", record}});
  ASSERT_EQ(processed.status, 0) << processed.err;
  EXPECT_NE(processed.out.find("NT and DT= 1225  0.02"), std::string::npos) << processed.out;
  harness::Options plot;
  plot.program = std::string(WAVPROC_SOURCE_DIR) + "/plot/wavproc-plot";
  plot.args = {"velocity.csv", "amp2.csv", "timb.txt"};
  harness::Result drawn = harness::run("", processed.files, plot);
  EXPECT_EQ(drawn.status, 0) << drawn.err;
  for (const char* picture : {"velocity.png", "amp2.png", "timb.png"})
    EXPECT_EQ(drawn.files.count(picture), 1u) << picture << ": " << drawn.err;
}

}  // namespace
