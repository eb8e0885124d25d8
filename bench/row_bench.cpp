// The three costs inside a run of the largest record, each through the program's own path: reading
// the record's rows from a file descriptor (bytes and rows per second), writing the rows of the
// output waveform file and of "amp2.csv" through formatted statements to a unit (rows per second),
// the moduli of the spectrum lines written, and the six transforms of one run (the twiddles are built before timing starts, as a run builds
// them once).
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <charconv>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "fft/fft.h"
#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace {

constexpr int kRows = 32768;
constexpr int kUnit = 11;

// Samples like an accelerogram's, in gal: smoothed pseudo-random noise under a rise-plateau-decay
// envelope, rounded to five significant digits as bench/e2e/make_record.py writes them.
std::vector<double> accelerogram(std::uint64_t seed) {
  std::vector<double> x(kRows);
  double a = 0.0, b = 0.0;
  for (int i = 0; i < kRows; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    const double noise = static_cast<double>(seed >> 11) * 0x1p-53 * 2.0 - 1.0;
    a += 0.35 * (noise - a);
    b += 0.5 * (a - b);
    const double t = i / static_cast<double>(kRows);
    const double envelope = t < 0.1 ? (t / 0.1) * (t / 0.1) : t < 0.35 ? 1.0 : std::exp(-3.0 * (t - 0.35) / 0.65);
    const double v = 180.0 * envelope * 3.0 * b;
    const double scale = v == 0.0 ? 1.0 : std::pow(10.0, 4 - std::floor(std::log10(std::fabs(v))));
    x[static_cast<std::size_t>(i)] = std::round(v * scale) / scale;
  }
  return x;
}

// Appends v with five significant digits in fixed form (at most 9 places).
void append_sample(std::string& text, double v) {
  int places = 4;
  if (v != 0.0) places = static_cast<int>(std::fmin(9.0, std::fmax(0.0, 4.0 - std::floor(std::log10(std::fabs(v))))));
  char buf[40];
  text.append(buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, places).ptr);
}

// The text of a record of kRows rows: the header line, then time, component 1, component 2.
std::string record_text() {
  const std::vector<double> ns = accelerogram(20261208), ew = accelerogram(19950117);
  std::string text = "Time(s) NS(gal) EW(gal)\n";
  char buf[40];
  for (int i = 0; i < kRows; ++i) {
    text.append(buf, std::to_chars(buf, buf + sizeof buf, i * 0.01, std::chars_format::fixed, 2).ptr);
    text += ' ';
    append_sample(text, ns[static_cast<std::size_t>(i)]);
    text += ' ';
    append_sample(text, ew[static_cast<std::size_t>(i)]);
    text += '\n';
  }
  return text;
}

// Reads the header and every row of the record from a file, as the input stage does.
void BM_ReadRecordRows(benchmark::State& state) {
  const std::string text = record_text();
  std::FILE* file = std::tmpfile();
  if (file == nullptr || std::fwrite(text.data(), 1, text.size(), file) != text.size() || std::fflush(file) != 0) {
    state.SkipWithError("cannot write the record to a temporary file");
    return;
  }
  const int fd = fileno(file);
  wavproc::detail::InBuffer in;
  char head1[20], head2[20], head3[20];
  double t = 0.0, x1 = 0.0, x2 = 0.0;
  const wavproc::Slot header[] = {wavproc::Slot::of(head1), wavproc::Slot::of(head2), wavproc::Slot::of(head3)};
  const wavproc::Slot row[] = {wavproc::Slot::of(t), wavproc::Slot::of(x1), wavproc::Slot::of(x2)};
  std::int64_t rows = 0;
  for (auto _ : state) {
    ::lseek(fd, 0, SEEK_SET);
    in.attach(fd, nullptr);
    bool at_end = false;
    wavproc::detail::read_free_form(in, at_end, header, false);
    while (wavproc::detail::read_free_form(in, at_end, row, true).reason == wavproc::Reason::none) {
      benchmark::DoNotOptimize(x2);
      ++rows;
    }
  }
  if (rows != state.iterations() * kRows) state.SkipWithError("the record was not read in full");
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
  std::fclose(file);
}
BENCHMARK(BM_ReadRecordRows)->Unit(benchmark::kMillisecond);

// Writes the output waveform file's rows of the record to /dev/null through unit 11.
void BM_WriteWaveformRows(benchmark::State& state) {
  const wavproc::Format row("(F6.3,4(',',F12.4))");
  const std::vector<double> x1 = accelerogram(1), x2 = accelerogram(2);
  wavproc::open_unit(kUnit, "/dev/null");
  for (auto _ : state) {
    wavproc::write_formatted_rows(kUnit, row, kRows, 4, [&](std::int64_t r, double* items) {
      const auto i = static_cast<std::size_t>(r);
      items[0] = static_cast<double>(i) * 0.01;
      items[1] = x1[i];
      items[2] = x2[i];
      items[3] = 0.0;
    });
  }
  wavproc::close_unit(kUnit);
  state.SetItemsProcessed(state.iterations() * kRows);
}
BENCHMARK(BM_WriteWaveformRows)->Unit(benchmark::kMillisecond);

// Writes the rows of "amp2.csv" for the record's spectrum (nf/2 lines) to /dev/null: the
// frequency, then amplitudes spread log-uniformly over 1e-4 to 1e2 gal·s.
void BM_WriteSpectrumRows(benchmark::State& state) {
  const wavproc::Format row("(F8.4,6(',',E12.4))");
  constexpr std::size_t kLines = kRows / 2;
  std::vector<double> amp1(kLines), amp2(kLines);
  std::uint64_t seed = 7;
  for (std::size_t i = 0; i < kLines; ++i) {
    seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    amp1[i] = std::pow(10.0, static_cast<double>(seed >> 11) * 0x1p-53 * 6.0 - 4.0);
    amp2[i] = amp1[i] * 0.75;
  }
  const double dom = 6.283185307 / (kRows * 0.01);
  wavproc::open_unit(kUnit, "/dev/null");
  for (auto _ : state) {
    wavproc::write_formatted_rows(kUnit, row, kLines, 3, [&](std::int64_t r, double* items) {
      const auto i = static_cast<std::size_t>(r);
      items[0] = (static_cast<double>(i + 1) * dom) / 6.283185307;
      items[1] = amp1[i];
      items[2] = amp2[i];
    });
  }
  wavproc::close_unit(kUnit);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(kLines));
}
BENCHMARK(BM_WriteSpectrumRows)->Unit(benchmark::kMillisecond);

// The moduli of one run's spectrum (nf/2 lines of the two written components), by the program's
// correctly rounded modulus, two lines at once as a spectrum row takes them (Arg 0), and, for
// comparison, by the C library's hypot (Arg 1), which std::abs of a complex is.
void BM_SpectrumModuli(benchmark::State& state) {
  const bool library = state.range(0) == 1;
  std::vector<std::complex<double>> fx[2];
  for (std::uint64_t c = 0; c < 2; ++c) {
    const std::vector<double> x = accelerogram(3 + c);
    fx[c].assign(x.begin(), x.end());
    wavproc::wvfast(kRows, fx[c].data(), kRows, -1);
  }
  std::vector<double> amp(kRows);
  for (auto _ : state) {
    for (std::size_t i = 1; i <= kRows / 2; ++i) {
      if (library) {
        amp[2 * i - 2] = std::abs(fx[0][i]);
        amp[2 * i - 1] = std::abs(fx[1][i]);
      } else {
        wavproc::modulus_pair(fx[0][i], fx[1][i], &amp[2 * i - 2]);
      }
    }
    benchmark::DoNotOptimize(amp.data());
  }
  state.SetItemsProcessed(state.iterations() * kRows / 2);
}
BENCHMARK(BM_SpectrumModuli)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The transforms of one run at length n: three forward on the loaded components, three backward.
void BM_SixTransforms(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  const std::vector<double> ns = accelerogram(3), ew = accelerogram(4);
  std::vector<std::complex<double>> loaded[3];
  for (auto& a : loaded) a.assign(static_cast<std::size_t>(n), {0.0, 0.0});
  for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
    loaded[0][i] = {ns[i], 0.0};
    loaded[1][i] = {ew[i], 0.0};
  }
  std::vector<std::complex<double>> fx[3] = {loaded[0], loaded[1], loaded[2]};
  wavproc::wvfast(n, fx[0].data(), n, -1);
  wavproc::wvfast(n, fx[0].data(), n, +1);
  for (auto _ : state) {
    state.PauseTiming();
    for (int c = 0; c < 3; ++c) fx[c] = loaded[c];
    state.ResumeTiming();
    for (auto& a : fx) wavproc::wvfast(n, a.data(), n, -1);
    for (auto& a : fx) wavproc::wvfast(n, a.data(), n, +1);
    benchmark::DoNotOptimize(fx[2].data());
  }
}
BENCHMARK(BM_SixTransforms)->Arg(4096)->Arg(32768)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
