// Fuzzes the field renderers with arbitrary doubles: Fw.d and Ew.d in the widths the two output
// files use (the general writers and the ones made for those shapes) and in any width the renderers
// accept, and the free-form texts of doubles and integers.
// Every text is checked against one built independently from the C library's exact conversion.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "field_reference.h"
#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace {

struct Field {
  bool exp;
  int w;
  int d;
};

// The fields of "amp2.csv" and of the output waveform file.
constexpr Field kProgramFields[] = {{false, 8, 4}, {false, 6, 3}, {false, 12, 4}, {true, 12, 4}};

// Stops the run as a finding when a check fails.
void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Renders one field into a buffer of exactly w bytes (so a write past it is a finding) and
// compares it with the expected text.
void check_field(const Field& f, double v) {
  char* out = new char[static_cast<std::size_t>(f.w)];
  std::memset(out, 0, static_cast<std::size_t>(f.w));
  if (f.exp) {
    wavproc::detail::write_exp_field(out, v, f.w, f.d);
  } else {
    wavproc::detail::write_fixed_field(out, v, f.w, f.d);
  }
  const std::string got(out, static_cast<std::size_t>(f.w));
  check(got.find('\0') == std::string::npos);
  check(got == (f.exp ? field_reference::ref_exp(v, f.w, f.d) : field_reference::ref_fixed(v, f.w, f.d)));
  // The writer made for the field's shape, where it has one, gives the same text.
  if (const wavproc::detail::FieldWriter shaped = wavproc::detail::field_writer(f.exp ? 'E' : 'F', f.w, f.d)) {
    std::memset(out, 0, static_cast<std::size_t>(f.w));
    shaped(out, v);
    check(std::string(out, static_cast<std::size_t>(f.w)) == got);
  }
  delete[] out;
}

}  // namespace

// Input: eight bytes of a double's bits, then optionally a byte each for a free width and digit
// count, and four bytes of an integer.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 8) return 0;
  double v = 0;
  std::memcpy(&v, data, 8);

  for (const Field& f : kProgramFields) check_field(f, v);

  if (size >= 10) {
    const int w = 1 + data[8] % 40;
    const int d = data[9] % w;
    check_field({false, w, d}, v);
    if (d >= 1) check_field({true, w, d}, v);
  }

  char text[32];
  const std::size_t len = wavproc::detail::write_list_double(text, v);
  check(len <= 24);
  check(std::string(text, len) == field_reference::ref_list(v));

  if (size < 14) return 0;
  std::int32_t n = 0;
  std::memcpy(&n, data + 10, 4);
  const std::size_t ilen = wavproc::detail::write_list_integer(text, n);
  char want[32];
  std::snprintf(want, sizeof want, " %d", n);
  check(std::string(text, ilen) == want);
  return 0;
}
