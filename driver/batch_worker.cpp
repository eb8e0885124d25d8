// The batch worker, wavproc --batch-worker STATE K RESULTS JOBS: the records that wavproc-batch
// listed run one after another in this one process, each through the dialogue with its answers as
// the console input and without the wait for each file to reach the disk. A new process per record
// costs more than the run of a short record; here the store's pages, once touched, serve every run.
// A run that ends with status 0 comes back here: its results are moved into RESULTS and its summary
// line is written. Any other end (a refusal, a fatal report, a signal) ends this process as it ends
// a run of its own, with the same status and text; wavproc-batch then notes the record in hand and
// starts a worker again for the rest.
//
// The folder STATE, shared with wavproc-batch (K is this worker's number):
//   list    six NUL-ended fields a record: its number, its path, its stem, the input name of its
//           answers, the path of its answers, its output name
//   next    the number of the first record that no worker has claimed, taken under a lock
//   hand.K  "FIRST LAST": the records this worker claimed and has not finished, FIRST in hand
//   run.K   the folder the runs work in; err.K: the standard error of the run in hand
//   done.K  the summary lines of the records this worker finished
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "driver/driver.h"
#include "textio/textio.h"

namespace wavproc {

namespace {

// The status of a worker that failed itself, not in a run: no run ends with it.
constexpr int kWorkerFailed = 3;

// Where the worker's own complaints go: the batch's standard error, kept before the runs take
// descriptor 2.
int complaint_fd = 2;

// Writes the complaint and gives the worker's failing status.
int complain(const std::string& what) {
  const std::string line = "wavproc: batch worker: " + what + ": " + std::strerror(errno) + "\n";
  (void)!::write(complaint_fd, line.data(), line.size());
  return kWorkerFailed;
}

// Writes all of text to fd; false when the stream refused it.
bool write_all(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    text.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// Reads the whole file at path into text; false when it cannot be read.
bool read_all(const std::string& path, std::string& text) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  char block[1 << 16];
  ssize_t n;
  while ((n = ::read(fd, block, sizeof block)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    text.append(block, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return n == 0;
}

// Copies the file from to the new file to; false when it cannot.
bool copy_file(const std::string& from, const std::string& to) {
  std::string text;
  if (!read_all(from, text)) return false;
  const int fd = ::open(to.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool written = write_all(fd, text);
  return ::close(fd) == 0 && written;
}

// Sets fd, in place of descriptor target, to stand for the file at path.
bool stand_in(int target, const std::string& path, int flags) {
  const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool moved = ::dup2(fd, target) == target;
  ::close(fd);
  return moved;
}

// The plain files the last run left in the working folder, in name order, its input copy named in
// left out.
std::vector<std::string> files_here(std::string_view in) {
  std::vector<std::string> names;
  DIR* d = ::opendir(".");
  if (d == nullptr) return names;
  while (const dirent* e = ::readdir(d)) {
    struct stat st = {};
    if (e->d_name[0] == '.' || e->d_name == in || ::stat(e->d_name, &st) != 0 || !S_ISREG(st.st_mode)) continue;
    names.emplace_back(e->d_name);
  }
  ::closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

// Reads a decimal count from text; -1 when there is none.
long count_of(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  long n = -1;
  if (std::from_chars(text.data(), text.data() + text.size(), n).ec != std::errc()) return -1;
  return n;
}

// The first of the next n records, taken from the counter that every worker shares; -1 when the
// counter cannot be read or moved.
long claim(const std::string& path, long n) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return -1;
  char text[32];
  long first = -1;
  if (::flock(fd, LOCK_EX) == 0) {
    const ssize_t got = ::pread(fd, text, sizeof text, 0);
    if (got > 0) first = count_of({text, static_cast<std::size_t>(got)});
    // The counter only grows: its new text is never shorter than the one it replaces.
    const auto [end, ec] = std::to_chars(text, text + sizeof text, first + n);
    if (first >= 0 && (ec != std::errc() || ::pwrite(fd, text, static_cast<std::size_t>(end - text), 0) != end - text)) {
      first = -1;
    }
  }
  if (::close(fd) != 0) first = -1;
  return first;
}

// Sets the file hand to "first last", or to nothing when first is past last.
bool set_hand(int hand, long first, long last) {
  std::string text;
  if (first <= last) text = std::to_string(first) + " " + std::to_string(last) + "\n";
  return ::pwrite(hand, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
         ::ftruncate(hand, static_cast<off_t>(text.size())) == 0;
}

// The interrupt and the termination request wait while the worker moves results and writes its
// notes; a run takes them as a run of its own does.
void hold_stops(bool hold) {
  sigset_t stops;
  sigemptyset(&stops);
  sigaddset(&stops, SIGINT);
  sigaddset(&stops, SIGTERM);
  sigprocmask(hold ? SIG_BLOCK : SIG_UNBLOCK, &stops, nullptr);
}

}  // namespace

int batch_worker(const char* state_arg, const char* k_arg, const char* results_arg, const char* jobs_arg) {
  const std::string state = state_arg, k = k_arg, results = results_arg;
  const long jobs = count_of(jobs_arg);
  complaint_fd = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
  if (complaint_fd < 0) complaint_fd = 2;

  std::string list;
  if (!read_all(state + "/list", list)) return complain("cannot read " + state + "/list");
  std::vector<std::string_view> fields;
  for (std::size_t at = 0, end; (end = list.find('\0', at)) != std::string::npos; at = end + 1) {
    fields.emplace_back(list.data() + at, end - at);
  }
  const long records = static_cast<long>(fields.size() / 6);
  // Records are claimed a few at a time, so that the counter costs little per record, yet few
  // enough that every worker gets its share.
  const long chunk = std::clamp(records / (8 * std::max(jobs, 1L)), 1L, 16L);

  const std::string folder = state + "/run." + k;
  if ((::mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) || ::chdir(folder.c_str()) != 0) {
    return complain("no run folder " + folder);
  }
  const int dones = ::open((state + "/done." + k).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
  if (dones < 0) return complain("cannot write " + state + "/done." + k);
  const int hand = ::open((state + "/hand." + k).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (hand < 0) return complain("cannot write " + state + "/hand." + k);
  // A worker started again after a run ended its process goes on with the records it had claimed.
  long first = 0, last = -1;
  {
    char text[64];
    const ssize_t got = ::pread(hand, text, sizeof text - 1, 0);
    const std::string_view held(text, got > 0 ? static_cast<std::size_t>(got) : 0);
    if (const std::size_t blank = held.find(' '); blank != std::string_view::npos) {
      first = count_of(held.substr(0, blank));
      last = std::min(count_of(held.substr(blank + 1)), records - 1);
      if (first < 0) last = -1;
    }
  }

  // The runs take Ctrl-C as they would from a shell, even where the batch started this worker in
  // the background.
  std::signal(SIGINT, SIG_DFL);
  set_sync_before_rename(false);
  // With a worker on every processor this one may use, a run's work split over two threads only
  // adds handovers: each run keeps to this thread. 200 records of 4000 rows, -j 2 on 2 cores, took
  // 14 % less time so.
  cpu_set_t allowed;
  if (::sched_getaffinity(0, sizeof allowed, &allowed) == 0 && jobs >= CPU_COUNT(&allowed)) use_second_thread(false);
  hold_stops(true);
  const std::string err = state + "/err." + k;
  std::string left;  // the input copy the last run read, still in the folder
  for (;;) {
    if (first > last) {
      first = claim(state + "/next", chunk);
      if (first < 0) return complain("cannot claim records from " + state + "/next");
      if (first >= records) break;
      last = std::min(first + chunk, records) - 1;
    }
    const std::size_t j = 6 * static_cast<std::size_t>(first);
    const std::string record(fields[j + 1]), stem(fields[j + 2]), in(fields[j + 3]), answers(fields[j + 4]);
    const std::string log = results + "/" + stem + ".log";
    // The copy of an earlier record under another input name would be taken for a result.
    if (!left.empty() && left != in) ::unlink(left.c_str());
    left = in;
    ::unlink(in.c_str());
    std::string status = "0", note;
    // A link is the cheapest copy; the run only reads it, and replaces no file of that name.
    if (::link(record.c_str(), in.c_str()) != 0 && !copy_file(record, in)) {
      ::unlink(log.c_str());
      status = "-";
      note = "not run: the record could not be copied";
    } else if (!stand_in(0, answers, O_RDONLY) || !stand_in(1, log, O_WRONLY | O_CREAT | O_TRUNC) ||
               !stand_in(2, err, O_RDWR | O_CREAT | O_TRUNC)) {
      ::unlink(log.c_str());
      status = "-";
      note = "not run: its answers, its log or its standard error could not be opened";
    } else {
      if (!set_hand(hand, first, last)) return complain("cannot write " + state + "/hand." + k);
      hold_stops(false);
      run_in_turn();
      hold_stops(true);
      // The log is the console text followed by the standard error.
      struct stat st = {};
      if (::fstat(2, &st) == 0 && st.st_size > 0) {
        std::string text(static_cast<std::size_t>(st.st_size), '\0');
        if (::pread(2, text.data(), text.size(), 0) == st.st_size) (void)write_all(1, text);
      }
      std::string kept;
      for (const std::string& file : files_here(in)) {
        if (::rename(file.c_str(), (results + "/" + stem + "." + file).c_str()) == 0) {
          kept += " " + stem + "." + file;
        } else {
          status = "1";
        }
      }
      if (status == "0") {
        note = "done:" + kept;
      } else {
        note = "not kept: a result could not be moved into " + results;
        for (const std::string& file : files_here("")) ::unlink(file.c_str());
        left.clear();
      }
    }
    if (!write_all(dones, std::string(record) + "\t" + status + "\t" + note + "\n")) {
      return complain("cannot write " + state + "/done." + k);
    }
    ++first;
    if (!set_hand(hand, first, last)) return complain("cannot write " + state + "/hand." + k);
  }
  return 0;
}

}  // namespace wavproc
