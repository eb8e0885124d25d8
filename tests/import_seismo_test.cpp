// wavproc-import's SAC and miniSEED readers against independent readings: SAC samples against the
// raw floats read in the file's byte order by hand, miniSEED against libmseed's own reading of each
// record; and the table of bad seismological inputs with the reason each gives.
#include <gtest/gtest.h>
#include <libmseed.h>

#include <bit>
#include <cstdint>
#include <cstring>
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
