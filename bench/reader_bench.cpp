// Throughput of the free-form reader on waveform rows: three doubles a row, as the input file holds them.
#include <benchmark/benchmark.h>

#include <charconv>
#include <cstdint>
#include <string>

#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace {

// Appends v in fixed form with d decimals.
void append_fixed(std::string& text, double v, int d) {
  char buf[32];
  text.append(buf, std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, d).ptr);
}

// About 4 MB of rows like «0.0100  -12.345  6.789», with varied digits so no branch settles.
std::string make_rows() {
  std::string text;
  std::uint32_t seed = 12345;
  for (int i = 0; text.size() < (4u << 20); ++i) {
    seed = seed * 1664525u + 1013904223u;
    append_fixed(text, 0.01 * i, 4);
    text += "  ";
    append_fixed(text, static_cast<int>(seed >> 12) / 1000.0 - 524.288, 3);
    text += "  ";
    append_fixed(text, static_cast<int>(seed & 0xfff) / 1000.0, 3);
    text += '\n';
  }
  return text;
}

// Reads every row of the text with three double slots, as the row loop does.
void BM_ReadRows(benchmark::State& state) {
  const std::string text = make_rows();
  wavproc::detail::InBuffer in;
  double t = 0.0, x1 = 0.0, x2 = 0.0;
  const wavproc::Slot slots[] = {wavproc::Slot::of(t), wavproc::Slot::of(x1), wavproc::Slot::of(x2)};
  std::int64_t rows = 0;
  for (auto _ : state) {
    in.attach_text(text);
    bool at_end = false;
    while (wavproc::detail::read_free_form(in, at_end, slots, true).reason == wavproc::Reason::none) {
      benchmark::DoNotOptimize(x2);
      ++rows;
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
  state.counters["rows"] = benchmark::Counter(static_cast<double>(rows), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReadRows)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
