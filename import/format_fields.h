// The pieces the readers of the self-describing strong-motion formats (COSMOS, CSMIP, ESM, GeoNet,
// SMC, Taiwan, UNAM) share beyond text_fields.h: words found in any letter case, Fortran format
// statements, blocks that end at an end line, units and compass directions named in words, and
// seconds with their decimals as nanoseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/import.h"

namespace wavproc::import {

// An outcome that failed as failure says.
Outcome failed(Failure failure);

// The position of word in text, letter case ignored, or npos.
std::size_t find_nocase(std::string_view text, std::string_view word);

// Whether text contains word, letter case ignored.
bool contains_nocase(std::string_view text, std::string_view word);

// The decimal that text writes times 10^shift, rounded once: "5.000000" with shift -3 gives the
// double nearest 0.005 (the shortest decimal of the source's interval), not 5.0 / 1000.
bool read_decimal_shifted(std::string_view text, int shift, double& value);

// A Fortran data format such as (8F10.5), (1E15.6), (10I8), 8f9.6: fields per line and width.
struct FortranFormat {
  std::size_t per_line = 0;
  std::size_t width = 0;
};

// The first Fortran edit descriptor (nFw.d, nEw.d, nIw, nGw.d, nDw.d) in text; false if none.
bool read_fortran_format(std::string_view text, FortranFormat& format);

// Whether line holds numbers only: a data line, not a header or an end line.
bool looks_numeric(std::string_view line);

// The text of value index (0-based) of a block laid out by format from lines[first] on.
std::string_view fixed_field(const std::vector<std::string_view>& lines, std::size_t first,
                             FortranFormat format, std::size_t index);

// Reads a block of count values laid out by format from lines[first] on, as read_fixed_block does,
// where the block may be followed by an end line or the next header: a block cut short before
// such a line is refused as fewer values than declared, and data lines past the declared count
// are skipped with a warning (unless followed says that the next block follows without a line
// of its own). next is the index of the first line after the block.
bool read_declared_block(const std::vector<std::string_view>& lines, std::size_t first,
                         std::size_t count, FortranFormat format, const std::string& file,
                         std::vector<double>& samples, std::vector<std::string>& warnings,
                         Failure& failure, std::size_t& next, bool followed = false);

// Whether every line of lines[first, last) is a full row of format.per_line fields; false with
// failure naming the first short row (reading on across lines would shift every later sample).
bool rows_complete(const std::vector<std::string_view>& lines, std::size_t first, std::size_t last,
                   FortranFormat format, const std::string& file, Failure& failure);

// The unit a unit text names, as traces carry it ("gal", "g", "mm/s2", "cm/s", "cm", "mm/s",
// "mm", "counts"), and its quantity; unit empty when the text names none of these.
struct UnitName {
  std::string unit;
  Quantity quantity = Quantity::unknown;
};
UnitName unit_of_text(std::string_view text);

// The azimuth (degrees clockwise from north) of a compass component such as N28W, S16E, N00E.
bool compass_azimuth(std::string_view text, double& azimuth);

// The component code of an azimuth in degrees: three digits ("090", "360").
std::string azimuth_code(double azimuth);

// Reads seconds written with up to nine decimals ("39.137490", "4.4", "18") exactly.
bool read_seconds(std::string_view text, int& second, std::int64_t& nanos);

}  // namespace wavproc::import
