// Throughput of the fixed-point and exponent fields on values like those of the program's files:
// accelerogram samples for F12.4 and spectrum amplitudes for E12.4.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace {

constexpr std::size_t kValues = 4096;

// Samples of a few hundred in magnitude with 4 to 5 significant digits, of either sign.
std::vector<double> accelerogram_values() {
  std::mt19937_64 rng(1);
  std::vector<double> values(kValues);
  for (auto& v : values) {
    const auto digits = static_cast<double>(rng() % 100000);
    v = digits / ((rng() & 1) ? 100.0 : 1000.0) * ((rng() & 1) ? -1.0 : 1.0);
  }
  return values;
}

// Amplitudes spread log-uniformly over 1e-6 to 1e2, full precision.
std::vector<double> spectrum_values() {
  std::mt19937_64 rng(2);
  std::uniform_real_distribution<double> exponent(-6.0, 2.0);
  std::vector<double> values(kValues);
  for (auto& v : values) v = std::pow(10.0, exponent(rng));
  return values;
}

// Frequencies of a spectrum line grid: (k - 1)·dom/6.283185307 for a 20.48 s record.
std::vector<double> frequency_values() {
  std::vector<double> values(kValues);
  for (std::size_t k = 0; k < kValues; ++k) values[k] = static_cast<double>(k) / 20.48;
  return values;
}

template <void (*Write)(char*, double, int, int)>
void run_fields(benchmark::State& state, const std::vector<double>& values, int w, int d) {
  char out[64];
  for (auto _ : state) {
    for (const double v : values) {
      Write(out, v, w, d);
      benchmark::DoNotOptimize(out);
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

void BM_FixedF12_4_Accelerogram(benchmark::State& state) {
  run_fields<wavproc::detail::write_fixed_field>(state, accelerogram_values(), 12, 4);
}
void BM_FixedF12_4_Spectrum(benchmark::State& state) {
  run_fields<wavproc::detail::write_fixed_field>(state, spectrum_values(), 12, 4);
}
void BM_FixedF8_4_Frequency(benchmark::State& state) {
  run_fields<wavproc::detail::write_fixed_field>(state, frequency_values(), 8, 4);
}
void BM_ExpE12_4_Spectrum(benchmark::State& state) {
  run_fields<wavproc::detail::write_exp_field>(state, spectrum_values(), 12, 4);
}
void BM_ExpE12_4_Accelerogram(benchmark::State& state) {
  run_fields<wavproc::detail::write_exp_field>(state, accelerogram_values(), 12, 4);
}

// The writers made for the program's field shapes, on the same values.
template <char kind, int w, int d>
void run_shaped(benchmark::State& state, const std::vector<double>& values) {
  const wavproc::detail::FieldWriter write = wavproc::detail::field_writer(kind, w, d);
  char out[64];
  for (auto _ : state) {
    for (const double v : values) {
      write(out, v);
      benchmark::DoNotOptimize(out);
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

void BM_ShapedF12_4_Accelerogram(benchmark::State& state) { run_shaped<'F', 12, 4>(state, accelerogram_values()); }
void BM_ShapedF8_4_Frequency(benchmark::State& state) { run_shaped<'F', 8, 4>(state, frequency_values()); }
void BM_ShapedE12_4_Spectrum(benchmark::State& state) { run_shaped<'E', 12, 4>(state, spectrum_values()); }
BENCHMARK(BM_ShapedF12_4_Accelerogram);
BENCHMARK(BM_ShapedF8_4_Frequency);
BENCHMARK(BM_ShapedE12_4_Spectrum);

void BM_ListDouble(benchmark::State& state) {
  const std::vector<double> values = spectrum_values();
  char out[32];
  for (auto _ : state) {
    for (const double v : values) {
      benchmark::DoNotOptimize(wavproc::detail::write_list_double(out, v));
      benchmark::ClobberMemory();
    }
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

BENCHMARK(BM_FixedF12_4_Accelerogram);
BENCHMARK(BM_FixedF12_4_Spectrum);
BENCHMARK(BM_FixedF8_4_Frequency);
BENCHMARK(BM_ExpE12_4_Spectrum);
BENCHMARK(BM_ExpE12_4_Accelerogram);
BENCHMARK(BM_ListDouble);

}  // namespace

BENCHMARK_MAIN();
