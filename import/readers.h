// The readers of import/, one format family per file; formats.cpp lists them in the format table.
// Each pair: whether bytes look like the format, and the traces of the file.
#pragma once

#include <string>
#include <string_view>

#include "import/import.h"

namespace wavproc::import {

bool is_peer(std::string_view bytes);  Outcome read_peer(std::string_view bytes, const std::string& file);
bool is_knet(std::string_view bytes);  Outcome read_knet(std::string_view bytes, const std::string& file);
bool is_columns(std::string_view bytes);  Outcome read_columns(std::string_view bytes, const std::string& file);
bool is_sac(std::string_view bytes);  Outcome read_sac(std::string_view bytes, const std::string& file);
// miniSEED 2 or 3 (recognised without libmseed); only miniSEED 2 is read.
bool is_mseed(std::string_view bytes);  Outcome read_mseed(std::string_view bytes, const std::string& file);
bool is_mseed3(std::string_view bytes);
// Plain columns when --dt says that the file has no time column (a header that names one still does).
Outcome read_columns_untimed(std::string_view bytes, const std::string& file);
bool is_cosmos(std::string_view bytes);  Outcome read_cosmos(std::string_view bytes, const std::string& file);
bool is_csmip(std::string_view bytes);  Outcome read_csmip(std::string_view bytes, const std::string& file);
bool is_geonet(std::string_view bytes);  Outcome read_geonet(std::string_view bytes, const std::string& file);
bool is_esm(std::string_view bytes);  Outcome read_esm(std::string_view bytes, const std::string& file);
bool is_smc(std::string_view bytes);  Outcome read_smc(std::string_view bytes, const std::string& file);
bool is_cwb(std::string_view bytes);  Outcome read_cwb(std::string_view bytes, const std::string& file);
bool is_unam(std::string_view bytes);  Outcome read_unam(std::string_view bytes, const std::string& file);

}  // namespace wavproc::import
