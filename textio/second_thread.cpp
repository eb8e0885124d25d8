// The threads beside the one that runs the stages. The second thread takes one job at a time, so
// that work that splits in two (two components' transforms, the rows of a long file read or
// written) takes both cores; the file thread, which the second thread starts as its first job, puts
// a replaced file in its place (its wait for the disk, the swap and the removal of the older file)
// while the stages go on. Both are started with every signal blocked, so the handlers always run on
// the stages' thread. The second thread never touches a unit (it reads a record's rows through reads
// of its own); the file thread only the one unit handed to it, which the stages' thread leaves alone
// until the job ends.
// The second thread is kept off the processor the stages' thread is on when a job is handed over:
// the system would otherwise wake it beside the thread that woke it, to run only once that one
// waits.
// The file thread serves only runs that wait for the disk (files synced before they are placed):
// without that wait a placing is a few hundred microseconds of work, less than the thread's own
// cost on the 2-core virtual machine measured (its start, the handovers, the end of a process of
// three threads): 32768 rows without syncs took 9.4 to 10.2 ms without it, 10.2 to 10.4 ms with it.
#include <pthread.h>
#include <sched.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdint>

#include "textio/textio.h"
#include "textio/units.h"

namespace wavproc {

namespace {

enum class State { not_started, running, unavailable };

// A thread that runs the jobs handed to it, one at a time, in the order given.
struct Worker {
  State state = State::not_started;
  pthread_t thread;
  void (*fn)(void*) = nullptr;
  void* arg = nullptr;
  std::atomic<unsigned> posted{0};    // jobs handed to the thread
  std::atomic<unsigned> finished{0};  // jobs it has done
};

Worker second;
Worker files;
bool wanted = true;
bool files_asked = false;  // the second thread was given the file thread's start
cpu_set_t allowed;         // the processors the program may run on
int kept_off = -1;         // the processor the second thread may not run on now

// Asks the system to run the calling thread, which mostly waits for the disk, as soon as it wakes:
// the shortest time slice the scheduler takes (0.1 ms; Linux 6.12 on) lets its wake-up preempt a
// thread that computes, and its nice value is kept. Without it, the file thread woken in the middle
// of amp2.csv's sync (its data written, its inode next) waited up to a slice behind the two
// computing threads, 1.4 ms on the machine measured, with the disk idle. Where the system has no
// such slice, nothing changes.
void wake_promptly() {
#if defined(SYS_sched_getattr) && defined(SYS_sched_setattr)
  // The first version of the system's struct sched_attr (48 bytes).
  struct {
    std::uint32_t size;
    std::uint32_t policy;
    std::uint64_t flags;
    std::int32_t nice;
    std::uint32_t priority;
    std::uint64_t runtime;
    std::uint64_t deadline;
    std::uint64_t period;
  } attr = {};
  if (::syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0 || attr.policy != SCHED_OTHER) return;
  attr.size = sizeof attr;
  attr.flags = 0;
  attr.runtime = 100000;  // ns
  (void)::syscall(SYS_sched_setattr, 0, &attr, 0);
#endif
}

// The worker's thread: each job as it is handed over, then the next wait.
[[noreturn]] void* serve(void* w) {
  Worker& worker = *static_cast<Worker*>(w);
  if (&worker == &files) wake_promptly();
  unsigned seen = 0;
  for (;;) {
    worker.posted.wait(seen, std::memory_order_acquire);
    seen = worker.posted.load(std::memory_order_acquire);
    worker.fn(worker.arg);
    worker.finished.store(seen, std::memory_order_release);
    worker.finished.notify_one();
  }
}

// Starts the worker's thread with every signal blocked, and sets *on to the processors the program
// may run on; false when the system gives no thread, or the program may run on one processor only.
bool start(Worker& worker, cpu_set_t* on) {
  if (::sched_getaffinity(0, sizeof *on, on) != 0 || CPU_COUNT(on) < 2) return false;
  sigset_t all, old;
  ::sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  // Started and let go: it is never joined, and ends with the process.
  pthread_attr_t attr;
  bool started = false;
  if (::pthread_attr_init(&attr) == 0) {
    started = ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0 &&
              ::pthread_create(&worker.thread, &attr, serve, &worker) == 0;
    ::pthread_attr_destroy(&attr);
  }
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return started;
}

// True when the worker's thread runs (started here at the first ask).
bool available(Worker& worker) {
  if (!wanted) return false;
  if (worker.state == State::not_started) {
    cpu_set_t on;
    worker.state = start(worker, &on) ? State::running : State::unavailable;
    if (&worker == &second) allowed = on;
  }
  return worker.state == State::running;
}

// The second thread's first job in a run that waits for the disk: the file thread's start, which
// would otherwise take the stages' thread's time (a thread's creation is some 0.1 ms here).
void start_files(void*) {
  cpu_set_t on;
  files.state = start(files, &on) ? State::running : State::unavailable;
}

// Hands job(arg) to the worker's running thread.
void post(Worker& worker, void (*job)(void*), void* arg) {
  worker.fn = job;
  worker.arg = arg;
  worker.posted.fetch_add(1, std::memory_order_release);
  worker.posted.notify_one();
}

// True when the worker has done every job handed to it.
bool idle(const Worker& worker) {
  return worker.finished.load(std::memory_order_acquire) == worker.posted.load(std::memory_order_relaxed);
}

// Waits until the worker has done every job handed to it.
void finish(Worker& worker) {
  const unsigned want = worker.posted.load(std::memory_order_relaxed);
  for (unsigned now = worker.finished.load(std::memory_order_acquire); now != want;
       now = worker.finished.load(std::memory_order_acquire)) {
    worker.finished.wait(now, std::memory_order_acquire);
  }
}

}  // namespace

void use_second_thread(bool use) { wanted = use; }

bool second_thread_free() {
  const bool free = available(second);
  // The file thread is started with it, well before a file is closed, by the second thread; its
  // first job is done before the next one is handed over, and before the file thread is asked for.
  if (detail::sync_before_rename && !files_asked) {
    files_asked = true;
    if (free) post(second, start_files, nullptr);
  }
  return free;
}

void run_beside(void (*job)(void*), void* arg) {
  if (!available(second)) {
    job(arg);
    return;
  }
  finish(second);
  const int here = ::sched_getcpu();
  if (here >= 0 && here != kept_off && CPU_ISSET(static_cast<unsigned>(here), &allowed)) {
    cpu_set_t others = allowed;
    CPU_CLR(static_cast<unsigned>(here), &others);
    if (::pthread_setaffinity_np(second.thread, sizeof others, &others) == 0) kept_off = here;
  }
  post(second, job, arg);
}

void finish_beside() { finish(second); }

namespace detail {

bool run_on_file_thread(void (*job)(void*), void* arg) {
  if (!sync_before_rename) return false;
  finish(second);
  if (!available(files)) return false;
  post(files, job, arg);
  return true;
}

void finish_file_job() { finish(files); }

void finish_file_job_from_signal() {
  const timespec pause = {0, 50000};
  while (!idle(files)) ::nanosleep(&pause, nullptr);
}

}  // namespace detail

}  // namespace wavproc
