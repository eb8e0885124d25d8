// wavproc-import --check: what wavproc will make of a record, and what in it is probably a mistake.
#pragma once

#include <string>
#include <vector>

namespace wavproc::import {

// Reads each record as wavproc will and says on standard output its three names, its number of rows
// and its interval, then a warning per likely mistake. Status 0, or 1 when it warned or a record
// could not be read.
int check_records(const std::vector<std::string>& paths);

// The report of check_records for one record whose content is bytes; warned set when it warns.
std::string check_text(const std::string& path, std::string_view bytes, bool& warned);

}  // namespace wavproc::import
