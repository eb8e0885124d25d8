// Starts a program in a given folder with a given file as its standard input, by exec, so that a
// timer that starts this launcher times the program itself plus one exec of a small static file.
// Every command of the end-to-end benchmark starts through it, the I/O floor included.
// With --peak-rss it runs the program as its child instead, its standard output on /dev/null, and
// prints the child's peak resident memory in KiB: a small parent, since the peak that the system
// keeps for a process includes the image it was forked from.
// Usage: run_in [--peak-rss] FOLDER INPUT PROGRAM [ARGUMENTS...]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Enters folder, takes input as standard input and replaces this process by argv[0]; returns only
// on failure, after saying why.
void exec_in(const char* folder, const char* input, char** argv) {
  if (::chdir(folder) != 0) {
    std::fprintf(stderr, "run_in: chdir %s: %s\n", folder, std::strerror(errno));
    return;
  }
  const int fd = ::open(input, O_RDONLY);
  if (fd < 0 || ::dup2(fd, 0) < 0) {
    std::fprintf(stderr, "run_in: input %s: %s\n", input, std::strerror(errno));
    return;
  }
  if (fd != 0) ::close(fd);
  ::execv(argv[0], argv);
  std::fprintf(stderr, "run_in: exec %s: %s\n", argv[0], std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
  const bool peak = argc > 1 && std::strcmp(argv[1], "--peak-rss") == 0;
  const int first = peak ? 2 : 1;
  if (argc < first + 3) {
    std::fputs("usage: run_in [--peak-rss] FOLDER INPUT PROGRAM [ARGUMENTS...]\n", stderr);
    return 2;
  }
  if (!peak) {
    exec_in(argv[first], argv[first + 1], argv + first + 2);
    return 2;
  }
  const pid_t child = ::fork();
  if (child < 0) {
    std::perror("run_in: fork");
    return 2;
  }
  if (child == 0) {
    // The console text is not wanted here: the peak is the only output.
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (null_fd >= 0) ::dup2(null_fd, 1);
    exec_in(argv[first], argv[first + 1], argv + first + 2);
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage = {};
  if (::wait4(child, &status, 0, &usage) < 0) {
    std::perror("run_in: wait4");
    return 2;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "run_in: %s did not end with status 0\n", argv[first + 2]);
    return 1;
  }
  std::printf("%ld\n", usage.ru_maxrss);
  return 0;
}
