// Speed of the forward transform at the program's usual and largest lengths, against an FFTW
// in-place complex transform of the same length planned with FFTW_ESTIMATE; the run ends with the
// time ratio wvfast / FFTW for each length.
#include "fft/fft.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <complex>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

// How many transforms run on the same data before it is refreshed: each forward transform of
// random data grows it by about sqrt(n), and the values must stay far from overflow.
constexpr benchmark::IterationCount kRefreshEvery = 32;

// An FFTW-aligned array of n complex values, freed with the object.
class AlignedArray {
 public:
  explicit AlignedArray(int n) : data_(fftw_alloc_complex(static_cast<std::size_t>(n))), n_(n) {}
  ~AlignedArray() { fftw_free(data_); }
  AlignedArray(const AlignedArray&) = delete;
  AlignedArray& operator=(const AlignedArray&) = delete;

  fftw_complex* fftw() { return data_; }
  // FFTW's complex type is two doubles, real part first, as std::complex<double> is.
  std::complex<double>* values() { return reinterpret_cast<std::complex<double>*>(data_); }
  // Writes the same uniform random values in [-1, 1) for every array of the same length.
  void fill_random() {
    std::mt19937_64 gen(12345);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    std::generate(values(), values() + n_, [&] { return std::complex<double>(u(gen), u(gen)); });
  }

 private:
  fftw_complex* data_;
  int n_;
};

void wvfast_forward(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  AlignedArray a(n);
  a.fill_random();
  wavproc::wvfast(n, a.values(), n, -1);
  benchmark::IterationCount done = 0;
  for (auto _ : state) {
    wavproc::wvfast(n, a.values(), n, -1);
    benchmark::DoNotOptimize(a.values());
    if (++done % kRefreshEvery == 0) {
      state.PauseTiming();
      a.fill_random();
      state.ResumeTiming();
    }
  }
}

void fftw_forward(benchmark::State& state) {
  const int n = static_cast<int>(state.range(0));
  AlignedArray a(n);
  fftw_plan plan = fftw_plan_dft_1d(n, a.fftw(), a.fftw(), FFTW_FORWARD, FFTW_ESTIMATE);
  a.fill_random();
  fftw_execute(plan);
  benchmark::IterationCount done = 0;
  for (auto _ : state) {
    fftw_execute(plan);
    benchmark::DoNotOptimize(a.fftw());
    if (++done % kRefreshEvery == 0) {
      state.PauseTiming();
      a.fill_random();
      state.ResumeTiming();
    }
  }
  fftw_destroy_plan(plan);
}

BENCHMARK(wvfast_forward)->Arg(4096)->Arg(32768)->Unit(benchmark::kMicrosecond);
BENCHMARK(fftw_forward)->Arg(4096)->Arg(32768)->Unit(benchmark::kMicrosecond);

// The console report, keeping the real time per transform of each benchmark and length: the
// median when repetitions were asked for, else the one run's.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool single = run.run_type == Run::RT_Iteration;
      const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
      if (single || median) times_[run.run_name.function_name + "/" + run.run_name.args] = run.GetAdjustedRealTime();
    }
    ConsoleReporter::ReportRuns(runs);
  }

  // Prints "wvfast / FFTW at n = <n>: <ratio>" for each length that both benchmarks measured.
  void print_ratios() const {
    for (const char* n : {"4096", "32768"}) {
      const auto ours = times_.find(std::string("wvfast_forward/") + n);
      const auto theirs = times_.find(std::string("fftw_forward/") + n);
      if (ours == times_.end() || theirs == times_.end()) continue;
      std::printf("wvfast / FFTW at n = %s: %.2f\n", n, ours->second / theirs->second);
    }
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  reporter.print_ratios();
  fftw_cleanup();
  return 0;
}
