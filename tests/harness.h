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
  // When set, runs in the parent with the run's folder once the program has ended, before the
  // files are collected (for what the file texts do not show: links, permission bits).
  std::function<void(const std::string&)> inspect;
  // The program to run instead of the built wavproc: a path, or a name found on PATH (a script's
  // interpreter).
  std::string program;
};

// Runs wavproc (or options.program) with stdin_text as its standard input in a new folder holding files.
Result run(const std::string& stdin_text, const std::map<std::string, std::string>& files = {},
           const Options& options = {});

// Starts one wavproc per standard input text at once, all in one new folder holding files, and
// waits for all; each result holds the files the folder holds at the end. No feed.
std::vector<Result> run_together(const std::vector<std::string>& stdin_texts,
                                 const std::map<std::string, std::string>& files = {}, const Options& options = {});

// The folder a run works in, from the path of its standard output file (as feed is given it).
std::string work_folder(const std::string& stdout_path);

// wavproc built with the test hook that ends it by SIGKILL at the n-th write or placing of a
// file, n taken from the environment variable WAVPROC_KILL_AT_STEP.
inline const char* kKillableProgram = WAVPROC_KILLABLE_BINARY;

// wavproc-import, for Options::program.
inline const char* kImportProgram = WAVPROC_IMPORT_BINARY;

// Waits (up to ten seconds) until the file at path holds text; returns whether it does.
bool wait_for_output(const std::string& path, const std::string& text);

// The text of a file of the source tree (examples, expected outputs).
std::string read_source_file(const std::string& relative_path);

}  // namespace harness
