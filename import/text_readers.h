// The readers of the strong-motion text formats beyond PEER and K-NET: for each, whether bytes are
// in that format (from the content alone) and the traces of a file of it. Internal to import/.
#pragma once

#include <string>
#include <string_view>

#include "import/import.h"

namespace wavproc::import {

bool is_cosmos(std::string_view bytes);
Outcome read_cosmos(std::string_view bytes, const std::string& file);

bool is_csmip(std::string_view bytes);
Outcome read_csmip(std::string_view bytes, const std::string& file);

bool is_esm(std::string_view bytes);
Outcome read_esm(std::string_view bytes, const std::string& file);

bool is_geonet(std::string_view bytes);
Outcome read_geonet(std::string_view bytes, const std::string& file);

bool is_smc(std::string_view bytes);
Outcome read_smc(std::string_view bytes, const std::string& file);

bool is_cwb(std::string_view bytes);
Outcome read_cwb(std::string_view bytes, const std::string& file);

bool is_unam(std::string_view bytes);
Outcome read_unam(std::string_view bytes, const std::string& file);

}  // namespace wavproc::import
