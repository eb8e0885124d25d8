// The format table: every format wavproc-import knows, in the order in which recognition tries
// them. One row per format; the binary formats come first, since their bytes fit no text layout's test
// by chance; plain columns come last, as the layout every other format also fits.
#include <array>

#include "import/import.h"
#include "import/readers.h"

namespace wavproc::import {

namespace {

constexpr std::array kFormats{
    FormatEntry{"sac", is_sac, read_sac},
    FormatEntry{"mseed", is_mseed, read_mseed},
    FormatEntry{"peer", is_peer, read_peer},
    FormatEntry{"knet", is_knet, read_knet},
    FormatEntry{"columns", is_columns, read_columns},
};

}  // namespace

std::span<const FormatEntry> formats() { return kFormats; }

}  // namespace wavproc::import
