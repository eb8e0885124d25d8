// wavproc: one waveform record per run, processed through a question-and-answer dialogue.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "driver/driver.h"
#include "textio/textio.h"

#ifndef WAVPROC_VERSION
#error "WAVPROC_VERSION is set by the build from the project's version"
#endif

namespace {

constexpr std::string_view kUsage =
    "Usage: wavproc [--no-sync]\n"
    "       wavproc --help | --version\n"
    "\n"
    "Processes one waveform record per run: reads a text record (a header line, then rows of\n"
    "a time and two components), writes the Fourier amplitude spectra to amp2.csv and the\n"
    "processed waveform (band-passed, integrated or differentiated, cut and decimated as\n"
    "chosen) to a comma-separated file.\n"
    "\n"
    "It takes no file arguments: it asks its questions on the console, starting with the\n"
    "input file name, and reads one answer a line. To answer from a file:\n"
    "  wavproc < answers.txt\n"
    "The manual (man wavproc, or doc/wavproc.1 in the sources) lists every question.\n"
    "\n"
    "  --no-sync   do not wait for each replaced file to reach the disk before it is\n"
    "              renamed over the older one. Kills and parallel runs stay safe: a file\n"
    "              is still the older file or this run's whole file. After an operating-\n"
    "              system crash or power loss, a file may instead be empty or hold the\n"
    "              older content.\n"
    "  -h, --help  show this help and exit\n"
    "  --version   show the version and exit\n";

// Writes text to stream and flushes it; returns 0, or 1 after a note on standard error when the
// text could not be written (a console tool never reports a lost help text as success).
int show(std::FILE* stream, std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stream) == text.size() && std::fflush(stream) == 0) return 0;
  const int error = errno;
  std::fprintf(stderr, "wavproc: cannot write: %s\n", std::strerror(error));
  return 1;
}

// Whether arg is one of the options that the program answers.
bool is_option(std::string_view arg) {
  return arg == "--help" || arg == "-h" || arg == "--version" || arg == "--no-sync";
}

// The argument to name in the complaint: the first that is no option, else the second option.
const char* unexpected_argument(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (!is_option(argv[i])) return argv[i];
  }
  return argv[2];
}

}  // namespace

// Without arguments, or with --no-sync alone, the dialogue; --help and --version answer and end;
// anything else is a mistake (a record name given on the command line, say) and ends before any
// file is opened.
int main(int argc, char** argv) {
  const std::string_view arg = argc > 1 ? argv[1] : "";
  if (argc <= 1 || (argc == 2 && arg == "--no-sync")) {
    wavproc::set_sync_before_rename(argc <= 1);
    wavproc::run();
    return 0;
  }
  if (argc == 2 && (arg == "--help" || arg == "-h")) return show(stdout, kUsage);
  if (argc == 2 && arg == "--version") return show(stdout, "wavproc " WAVPROC_VERSION "\n");
  std::fprintf(stderr, "wavproc: unexpected argument: %s\n\n", unexpected_argument(argc, argv));
  (void)show(stderr, kUsage);
  return 2;
}
