// End-to-end harness: runs the built wavproc in a fresh temporary folder with given files and a
// given standard input, and collects standard output, standard error, the way it ended and every
// file it left behind.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace harness {

struct Result {
  std::string out;                            // standard output, byte for byte
  std::string err;                            // standard error, byte for byte
  int status = -1;                            // exit status, or -1 when a signal ended the run
  int signal = 0;                             // the signal that ended the run, or 0
  std::map<std::string, std::string> files;   // every regular file left in the folder, by path
};

struct Options {
  // Runs in the child just before the program starts (in the folder): limits, signal dispositions.
  std::function<void()> in_child;
  // When set, standard input is a pipe kept open and this runs in the parent with the child's pid,
  // the pipe's write end (close it to end the input) and the path of the file that collects the
  // standard output; otherwise standard input is a file holding stdin_text.
  std::function<void(pid_t, int, const std::string&)> feed;
  // The command-line arguments after the program's name.
  std::vector<std::string> args;
  // The program to run instead of wavproc (a script's interpreter), found on PATH.
  std::string program;
};

// Runs wavproc (or options.program) with stdin_text as its standard input in a new folder holding files.
Result run(const std::string& stdin_text, const std::map<std::string, std::string>& files = {},
           const Options& options = {});

// Waits (up to ten seconds) until the file at path holds text; returns whether it does.
bool wait_for_output(const std::string& path, const std::string& text);

// The text of a file of the source tree (examples, expected outputs).
std::string read_source_file(const std::string& relative_path);

}  // namespace harness
