// Fuzzes a whole run in process: an arbitrary input record file and arbitrary console answers go
// through the dialogue and every stage, in a scratch folder. Every end of the run (the plain stop,
// the refusal, the fatal report) comes back here through the record layer's end-of-run hook, so a
// fatal report is an allowed outcome; a sanitizer report, a hang or a crash is a finding. A run
// that ends with status 0 must leave both files complete.
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "driver/driver.h"
#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace {

namespace detail = wavproc::detail;
using wavproc::sc;
using wavproc::rs;

// Stops the run as a finding when a check fails.
void check(bool ok) {
  if (!ok) __builtin_trap();
}

// How a run ended: the exit status, or -1 for the abnormal end.
struct RunEnded {
  int status;
};

// The end-of-run hook: hands the way the run ended back to the caller of the stages.
void throw_end(int status) { throw RunEnded{status}; }

int scratch_dir = -1;  // the folder the runs work in
int home_dir = -1;     // the folder the fuzzer works in

// Removes every file the last run left in the scratch folder.
void clear_scratch() {
  int fd = ::dup(scratch_dir);
  check(fd >= 0);
  DIR* d = ::fdopendir(fd);
  check(d != nullptr);
  ::rewinddir(d);
  while (dirent* e = ::readdir(d)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    ::unlinkat(scratch_dir, e->d_name, 0);
  }
  ::closedir(d);
}

// Connects the console once, with the fuzzer's own signal handlers kept: standard input is a
// memory file that holds each run's answers, standard output goes nowhere.
void set_up() {
  char path[] = "/tmp/wavproc-fuzz-XXXXXX";
  check(::mkdtemp(path) != nullptr);
  scratch_dir = ::open(path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  home_dir = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  check(scratch_dir >= 0 && home_dir >= 0);

  int answers = ::memfd_create("answers", MFD_CLOEXEC);
  check(answers >= 0 && ::dup2(answers, 0) == 0);
  ::close(answers);
  int null_fd = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  check(null_fd >= 0 && ::dup2(null_fd, 1) == 1);
  ::close(null_fd);

  constexpr int kSignals[] = {SIGFPE, SIGABRT, SIGINT, SIGTERM};
  struct sigaction saved[4];
  for (int i = 0; i < 4; ++i) sigaction(kSignals[i], nullptr, &saved[i]);
  wavproc::start_up();
  for (int i = 0; i < 4; ++i) sigaction(kSignals[i], &saved[i], nullptr);
  detail::end_of_run = throw_end;
}

// The first line of the answers as the "(A30)" read takes it, trailing blanks removed: the name
// of the input file.
std::string_view first_name(std::string_view answers) {
  std::string_view line = answers.substr(0, answers.find('\n'));
  if (line.size() < answers.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
  line = line.substr(0, 30);
  while (!line.empty() && line.back() == ' ') line.remove_suffix(1);
  return line;
}

// True when some line of the answers, read as a file name, could reach outside the scratch folder
// (an absolute path other than the root itself, or a step up).
bool leaves_scratch(std::string_view answers) {
  while (!answers.empty()) {
    std::size_t end = answers.find('\n');
    std::string_view name = answers.substr(0, std::min<std::size_t>(end, 30));
    while (!name.empty() && name.back() == ' ') name.remove_suffix(1);
    if (name.find('/') != std::string_view::npos) {
      const bool only_slashes = name.find_first_not_of('/') == std::string_view::npos;
      if ((name.front() == '/' && !only_slashes) || name.find("..") != std::string_view::npos) return true;
    }
    if (end == std::string_view::npos) break;
    answers.remove_prefix(end + 1);
  }
  return false;
}

// The size of a file in the scratch folder, or -1 when it is missing.
off_t size_of(const std::string& name) {
  struct stat st = {};
  if (::fstatat(scratch_dir, name.c_str(), &st, 0) != 0) return -1;
  return st.st_size;
}

// Checks that a run that ended with status 0 left "amp2.csv" and the output file complete.
void check_files_complete() {
  std::string out(sc.outfile, sizeof sc.outfile);
  while (!out.empty() && out.back() == ' ') out.pop_back();
  const std::int64_t rows = sc.nt > 0 ? (std::int64_t{sc.nt} - 1 + sc.iskip) / sc.iskip : 0;
  // A header of 50 characters and rows of 46, each with its line end.
  struct stat st = {};
  if (::fstatat(scratch_dir, out.c_str(), &st, 0) == 0 && S_ISREG(st.st_mode)) {
    check(st.st_size == 51 + 47 * rows);
  } else {
    // Only a name outside the folder (the root, a device) can be written without leaving a file.
    check(out.find('/') != std::string::npos);
  }
  if (out != "amp2.csv") check(size_of("amp2.csv") == 57 + 36 * (std::int64_t{sc.nom} - 1));
}

// Checks that a run that ended with status 0 wrote no array of the store past index
// max(nf, ndur) + 1: the batch worker clears only that far before its next run.
void check_store_clear_past_reach() {
  const auto from = static_cast<std::size_t>(std::min(std::max(sc.nf, sc.ndur) + 1, wavproc::mom)) + 1;
  const auto end = static_cast<std::size_t>(wavproc::mom) + 1;
  for (const double* a : {rs.time, rs.xr1, rs.xr2, rs.xr3, rs.x1, rs.x2, rs.x3}) {
    check(std::all_of(a + from, a + end, [](double v) { return v == 0.0; }));
  }
  for (const wavproc::cplx* a : {rs.fx1, rs.fx2, rs.fx3}) {
    check(std::all_of(a + from, a + end, [](wavproc::cplx v) { return v == wavproc::cplx(); }));
  }
}

// Zeros the record store as far as the last run can have written it, and every scalar.
void reset_store(std::size_t file_size) {
  const std::int64_t reach = std::max<std::int64_t>({static_cast<std::int64_t>(file_size) + 2, sc.nf, sc.ndur, sc.nt});
  const auto n = static_cast<std::size_t>(std::min<std::int64_t>(reach, wavproc::mom) + 1);
  for (double* a : {rs.time, rs.xr1, rs.xr2, rs.xr3, rs.x1, rs.x2, rs.x3}) std::fill(a, a + n, 0.0);
  for (wavproc::cplx* a : {rs.fx1, rs.fx2, rs.fx3}) std::fill(a, a + n, wavproc::cplx());
  sc = wavproc::Scalars{};
}

}  // namespace

// Prepares the folders and the console before the first input.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  set_up();
  return 0;
}

// Input: the console answers, a NUL byte, then the bytes of the input record file (created under
// the name the first answer line gives; no file when nothing follows the NUL).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::size_t split = all.find('\0');
  const std::string_view answers = all.substr(0, split);
  const std::string_view file = split == std::string_view::npos ? std::string_view() : all.substr(split + 1);
  if (leaves_scratch(answers)) return 0;

  const std::string name(first_name(answers));
  if (!file.empty() && !name.empty()) {
    int fd = ::openat(scratch_dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0) {
      check(::write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size()));
      ::close(fd);
    }
  }
  check(::ftruncate(0, 0) == 0);
  check(::pwrite(0, answers.data(), answers.size(), 0) == static_cast<ssize_t>(answers.size()));
  check(::lseek(0, 0, SEEK_SET) == 0);
  wavproc::start_next_run();

  check(::fchdir(scratch_dir) == 0);
  int status = -2;
  try {
    wavproc::run_stages();
    wavproc::plain_stop();
  } catch (const RunEnded& e) {
    status = e.status;
  }
  check(::fchdir(home_dir) == 0);

  check(status >= -1 && status <= 1);
  check(detail::only_consoles_connected());
  if (status == 0) {
    check_files_complete();
    check_store_clear_past_reach();
  }
  clear_scratch();
  reset_store(file.size());
  return 0;
}
