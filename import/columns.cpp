// Plain columns, the layout people make themselves: comma-, tab- or blank-separated numbers, with or
// without a header line of names, with # comment lines; a time column or none (the interval then
// comes from --dt).
#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

bool is_columns(std::string_view) { return false; }

Outcome read_columns(std::string_view, const std::string& file) {
  return failed(file, 0, "plain columns are not read yet");
}

}  // namespace wavproc::import
