// Fuzzes wavproc-import's readers: every reader of the format table reads the input whether or not
// its format recognises it, plain columns also without a time column, and the record check reads
// it as a record. None may crash; each trace read must be sound (an interval above zero, samples
// that are numbers), and a trace laid down as a record must give its interval back.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "import/check.h"
#include "import/import.h"
#include "import/readers.h"
#include "import/record.h"

namespace {

// Stops the run as a finding when a check fails.
void check(bool ok) {
  if (!ok) __builtin_trap();
}

void check_outcome(const wavproc::import::Outcome& out) {
  if (out.failed) {
    check(out.traces.empty() && !out.failure.reason.empty());
    return;
  }
  for (const auto& t : out.traces) {
    check(t.dt >= 0 && std::isfinite(t.dt));
    for (double v : t.samples) check(std::isfinite(v));
    if (t.dt > 0 && t.samples.size() >= 2) {
      std::string text = wavproc::import::record_text(t.dt, t.component, "zeros", {t.samples.data(), 2}, {});
      check(text.find('\n') != std::string::npos);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);
  for (const auto& format : wavproc::import::formats()) {
    format.recognise(bytes);
    check_outcome(format.read(bytes, "f"));
  }
  check_outcome(wavproc::import::read_columns_untimed(bytes, "f"));
  bool warned = false;
  check(!wavproc::import::check_text("f", bytes, warned).empty());
  return 0;
}
