// The record wavproc reads, as wavproc-import lays it down: a header line "time <name 1> <name 2>"
// and rows "t c1 c2", every number the shortest decimal that reads back as the same double.
#pragma once

#include <span>
#include <string>

namespace wavproc::import {

// The text of a record of two components at interval dt; time i is i times dt's decimal, so that
// time 2 minus time 1 reads back as dt exactly. Names holding a slash are quoted, as wavproc's header reading
// would otherwise end at the slash.
std::string record_text(double dt, const std::string& name1, const std::string& name2,
                        std::span<const double> c1, std::span<const double> c2);

// Replaces the file at path with text whole: written to a temporary file in its folder, flushed to
// the disk and renamed over it; a FIFO or device is written directly. Empty on success, otherwise the
// reason.
std::string replace_file(const std::string& path, const std::string& text);

}  // namespace wavproc::import
