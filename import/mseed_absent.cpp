// The miniSEED reader of an importer built without libmseed: it names what is missing.
#include "import/readers.h"
#include "import/text_fields.h"

namespace wavproc::import {

Outcome read_mseed(std::string_view, const std::string& file) {
  return failed(file, 0, "miniSEED needs libmseed, which this wavproc-import was built without (Debian: libmseed-dev)");
}

}  // namespace wavproc::import
