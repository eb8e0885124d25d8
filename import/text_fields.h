// The pieces every reader of import/ shares: lines with either line end, fields cut by column,
// decimals in the forms Fortran writes them, integers, and civil times as nanoseconds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "import/import.h"

namespace wavproc::import {

// The lines of a file without their ends (LF or CR LF); a last line without an end counts.
std::vector<std::string_view> split_lines(std::string_view bytes);

// The characters of line in columns first .. first+width-1 (1-based); shorter where the line ends.
std::string_view column(std::string_view line, std::size_t first, std::size_t width);

// The text without blanks, tabs and CRs at either end.
std::string_view trim(std::string_view text);

// The decimal that text (blanks around it allowed) writes, in any form Fortran writes: a leading
// sign or point, D or E exponents, or an exponent without its letter (`1.5057+0`, `-.21-03`);
// false when text is empty or not wholly one number, or the value is not finite.
bool read_decimal(std::string_view text, double& value);

// The integer that text (blanks around it allowed, a leading + too) writes; false otherwise.
bool read_integer(std::string_view text, long long& value);

// The blank- or tab-separated words of a line.
std::vector<std::string_view> words(std::string_view line);

// Fills samples with count values read from lines[first..], per_line fields of width characters on
// each line (a short last line allowed); values past count on the last line or on further non-blank
// lines give a warning. False with failure filled (file, 1-based line) on a value that is not a
// number or when the lines end before count values.
bool read_fixed_block(const std::vector<std::string_view>& lines, std::size_t first, std::size_t count,
                      std::size_t per_line, std::size_t width, const std::string& file,
                      std::vector<double>& samples, std::vector<std::string>& warnings, Failure& failure);

// Like read_fixed_block, for values separated by blanks; count 0 takes every value to the end.
bool read_free_block(const std::vector<std::string_view>& lines, std::size_t first, std::size_t count,
                     const std::string& file, std::vector<double>& samples,
                     std::vector<std::string>& warnings, Failure& failure);

// Whether the civil date and time exists (years 1800..2200, seconds 0..60).
bool valid_civil(int year, int month, int day, int hour, int minute, int second);

// Nanoseconds since 1970-01-01T00:00:00 of a civil date and time in the zone of the caller's choice.
std::int64_t civil_ns(int year, int month, int day, int hour, int minute, int second, std::int64_t nanos);

// The civil date and time of ns as "YYYY-MM-DDThh:mm:ss" plus ".fff..." where the fraction is not 0.
std::string civil_text(std::int64_t ns);

// The shortest decimal that reads back as value (std::to_chars).
std::string shortest(double value);

// text with its ASCII letters in upper case, and in lower case.
std::string upper(std::string_view text);
std::string lower(std::string_view text);

// text in double quotes, as errors quote what they could not read.
std::string quoted(std::string_view text);

// An outcome that failed with reason at line of file.
Outcome failed(const std::string& file, long line, std::string reason);

}  // namespace wavproc::import
