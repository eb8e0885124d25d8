// Compares whole runs of two or more commands taken in turn, one run of each after the other, and
// prints each command's median and the median of its run-by-run difference from the first command,
// with how often it was the faster one. On a machine whose speed drifts over seconds (the 2-core
// virtual machine of bench/e2e.sh: its floors moved by a third between two runs of the script), a
// difference of a few tenths of a millisecond between two builds shows here, where medians taken one
// command after the other bury it. The order within a round alternates, so no command always runs
// right after the same one.
// Usage: paired RUNS WARMUP COMMAND... [-- COMMAND...]...
//   each COMMAND is a program's path (not looked up in PATH) and its arguments (typically bench/run_in FOLDER INPUT PROGRAM
//   ...); its standard output goes to /dev/null.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

extern char** environ;

namespace {

double now_ms() {
  timespec t = {};
  ::clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 != 0 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The wall time of one run of argv, in ms, from its spawn to its end; exits where it cannot start.
double time_run(char** argv) {
  posix_spawn_file_actions_t actions;
  ::posix_spawn_file_actions_init(&actions);
  ::posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const double start = now_ms();
  if (const int err = ::posix_spawn(&child, argv[0], &actions, nullptr, argv, environ); err != 0) {
    std::fprintf(stderr, "paired: %s: %s\n", argv[0], std::strerror(err));
    std::exit(2);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  const double end = now_ms();
  ::posix_spawn_file_actions_destroy(&actions);
  return end - start;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fputs("usage: paired RUNS WARMUP COMMAND... [-- COMMAND...]...\n", stderr);
    return 2;
  }
  const int runs = std::atoi(argv[1]);
  const int warmup = std::atoi(argv[2]);
  if (runs < 1 || warmup < 0) {
    std::fputs("paired: RUNS must be at least 1 and WARMUP at least 0\n", stderr);
    return 2;
  }
  std::vector<char**> commands = {argv + 3};
  for (int i = 3; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) {
      argv[i] = nullptr;
      commands.push_back(argv + i + 1);
    }
  }
  const std::size_t n = commands.size();
  std::vector<std::vector<double>> times(n);
  for (int round = -warmup; round < runs; ++round) {
    for (std::size_t k = 0; k < n; ++k) {
      const std::size_t c = round % 2 != 0 ? n - 1 - k : k;
      const double t = time_run(commands[c]);
      if (round >= 0) times[c].push_back(t);
    }
  }
  for (std::size_t c = 0; c < n; ++c) {
    std::vector<double> diff(times[c].size());
    int faster = 0;
    for (std::size_t i = 0; i < diff.size(); ++i) {
      diff[i] = times[c][i] - times[0][i];
      faster += diff[i] < 0 ? 1 : 0;
    }
    std::printf("command %zu: median %.3f ms, against command 1 %+.3f ms (faster in %d of %d rounds)\n", c + 1,
                median(times[c]), median(diff), faster, runs);
  }
  return 0;
}
