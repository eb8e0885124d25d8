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
    FormatEntry{"cosmos", is_cosmos, read_cosmos},
    FormatEntry{"geonet", is_geonet, read_geonet},
    FormatEntry{"csmip", is_csmip, read_csmip},
    FormatEntry{"esm", is_esm, read_esm},
    FormatEntry{"smc", is_smc, read_smc},
    FormatEntry{"cwb", is_cwb, read_cwb},
    FormatEntry{"unam", is_unam, read_unam},
    FormatEntry{"columns", is_columns, read_columns},
};

}  // namespace

std::span<const FormatEntry> formats() { return kFormats; }

}  // namespace wavproc::import
