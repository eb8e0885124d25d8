// wavproc: one waveform record per run, processed as the command line or a question-and-answer
// dialogue chooses.
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
    "Usage: wavproc RECORD [options]\n"
    "       wavproc [--no-sync]\n"
    "       wavproc --help | --version\n"
    "\n"
    "Processes one waveform record per run: reads a text record (a header line,\n"
    "then rows of a time and two components), writes its Fourier amplitude spectra\n"
    "and the processed waveform (band-passed, integrated or differentiated, cut and\n"
    "decimated as chosen) to comma-separated files.\n"
    "\n"
    "With a RECORD it asks nothing: the options make the choices, and standard\n"
    "output gets the run's reports (NT and DT=, IF1,NF=, the grid, the cut).\n"
    "  --flip 1,2                  reverse the polarity of component 1, 2 or both\n"
    "  --bandpass FL1,FL2,FH1,FH2  trapezoidal band-pass, corners in Hz,\n"
    "                              0 <= FL1 <= FL2 <= FH1 <= FH2: nothing up to FL1,\n"
    "                              a rise to FL2, everything from FL2 to FH1, a fall\n"
    "                              to FH2, nothing above\n"
    "  --integrate                 integrate once (acceleration to velocity)\n"
    "  --double-integrate          integrate twice (acceleration to displacement)\n"
    "  --differentiate             differentiate once (velocity to acceleration)\n"
    "  --cut START,DURATION        keep the window from START s after the first\n"
    "                              sample, DURATION s long\n"
    "  --skip N                    leave out N samples between two written samples\n"
    "                              (default 0: every sample)\n"
    "  -o, --output FILE           the waveform file (default: the record's name\n"
    "                              without folder and extension, plus .out.csv)\n"
    "  --spectrum FILE             the spectrum file (default amp2.csv)\n"
    "  --quiet                     print nothing on success\n"
    "\n"
    "Without a RECORD it asks its questions on the console, starting with the input\n"
    "file name, and reads one answer a line. To answer from a file:\n"
    "  wavproc < answers.txt\n"
    "The manual (man wavproc; doc/wavproc.1 in the sources) lists every question.\n"
    "\n"
    "In both modes:\n"
    "  --no-sync   do not wait for each replaced file to reach the disk before it is\n"
    "              renamed over the older one. Kills and parallel runs stay safe: a\n"
    "              file is still the older file or this run's whole file. After an\n"
    "              operating-system crash or power loss, a file may instead be empty\n"
    "              or hold the older content.\n"
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

}  // namespace

// Without arguments, or with --no-sync alone, the dialogue; with a record, the run on the command
// line; --help and --version answer and end; a mistake of the call ends before any file is opened.
// --batch-worker runs the records of a batch in one process.
int main(int argc, char** argv) {
  // wavproc-batch's own call, for its workers; not a user's.
  if (argc >= 2 && std::string_view(argv[1]) == "--batch-worker") {
    if (argc == 6) return wavproc::batch_worker(argv[2], argv[3], argv[4], argv[5]);
    std::fprintf(stderr, "wavproc: --batch-worker takes STATE K RESULTS JOBS (wavproc-batch's call)\n");
    return 2;
  }
  // Static: the run ends the process from inside, and its choices must last until then.
  static const wavproc::CommandLine command = wavproc::read_command_line(argc, argv);
  switch (command.action) {
    case wavproc::CommandLine::Action::dialogue:
      wavproc::set_sync_before_rename(command.sync);
      wavproc::run(nullptr);
    case wavproc::CommandLine::Action::run:
      wavproc::set_sync_before_rename(command.sync);
      wavproc::run(&command.choices);
    case wavproc::CommandLine::Action::help:
      return show(stdout, kUsage);
    case wavproc::CommandLine::Action::version:
      return show(stdout, "wavproc " WAVPROC_VERSION "\n");
    case wavproc::CommandLine::Action::mistake:
      break;
  }
  std::fprintf(stderr, "wavproc: %s\nRun 'wavproc --help' for the usage.\n", command.mistake.c_str());
  return 2;
}
