// Recognising miniSEED from its first record's fixed header, without the library that decodes it,
// so that a miniSEED file is named as such even where the importer was built without that library.
#include <cstdint>
#include <string_view>

#include "import/readers.h"

namespace wavproc::import {

namespace {

// The 16-bit number at offset, in the given byte order.
unsigned u16_at(std::string_view bytes, std::size_t offset, bool big_endian) {
  auto hi = static_cast<unsigned char>(bytes[offset + (big_endian ? 0 : 1)]);
  auto lo = static_cast<unsigned char>(bytes[offset + (big_endian ? 1 : 0)]);
  return (static_cast<unsigned>(hi) << 8) | lo;
}

// Whether the start time's year and day of year are plausible in the given byte order.
bool plausible_time(std::string_view bytes, bool big_endian) {
  unsigned year = u16_at(bytes, 20, big_endian);
  unsigned day = u16_at(bytes, 22, big_endian);
  return year >= 1900 && year <= 2100 && day >= 1 && day <= 366;
}

}  // namespace

bool is_mseed(std::string_view bytes) {
  if (is_mseed3(bytes)) return true;
  if (bytes.size() < 48) return false;
  for (std::size_t k = 0; k < 6; ++k) {
    char c = bytes[k];
    if (!(c >= '0' && c <= '9') && c != ' ' && c != '\0') return false;
  }
  std::string_view quality = "DRQM";
  if (quality.find(bytes[6]) == std::string_view::npos || (bytes[7] != ' ' && bytes[7] != '\0')) return false;
  return plausible_time(bytes, true) || plausible_time(bytes, false);
}

bool is_mseed3(std::string_view bytes) {
  return bytes.size() >= 40 && bytes[0] == 'M' && bytes[1] == 'S' && bytes[2] == 3;
}

}  // namespace wavproc::import
