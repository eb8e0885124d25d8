// The program's second thread: one job at a time beside the thread that runs the stages, so that
// work that splits in two (two components' transforms, the rows of a long file) takes both cores.
// The thread is started with every signal blocked, so the handlers always run on the stages' thread
// and find the units as that thread left them; it never touches a unit, and ends with the process.
// It is kept off the processor the stages' thread is on when a job is handed over: the system
// would otherwise wake it beside the thread that woke it, to run only once that one waits.
#include <pthread.h>
#include <sched.h>

#include <atomic>
#include <csignal>

#include "textio/textio.h"

namespace wavproc {

namespace {

enum class State { not_started, running, unavailable };

State state = State::not_started;
bool wanted = true;
pthread_t helper;
cpu_set_t allowed;   // the processors the program may run on
int kept_off = -1;   // the processor the helper may not run on now
void (*job_fn)(void*) = nullptr;
void* job_arg = nullptr;
std::atomic<unsigned> posted{0};    // jobs handed to the thread
std::atomic<unsigned> finished{0};  // jobs it has done

[[noreturn]] void* serve(void*) {
  unsigned seen = 0;
  for (;;) {
    posted.wait(seen, std::memory_order_acquire);
    seen = posted.load(std::memory_order_acquire);
    job_fn(job_arg);
    finished.store(seen, std::memory_order_release);
    finished.notify_one();
  }
}

// Starts the thread with every signal blocked; false when the system gives no thread, or the
// program may run on one processor only.
bool start() {
  if (::sched_getaffinity(0, sizeof allowed, &allowed) != 0 || CPU_COUNT(&allowed) < 2) return false;
  sigset_t all, old;
  ::sigfillset(&all);
  ::pthread_sigmask(SIG_SETMASK, &all, &old);
  // Started and let go: it is never joined, and ends with the process.
  pthread_attr_t attr;
  bool started = false;
  if (::pthread_attr_init(&attr) == 0) {
    started = ::pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED) == 0 &&
              ::pthread_create(&helper, &attr, serve, nullptr) == 0;
    ::pthread_attr_destroy(&attr);
  }
  ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
  return started;
}

}  // namespace

void use_second_thread(bool use) { wanted = use; }

bool second_thread_free() {
  if (!wanted) return false;
  if (state == State::not_started) state = start() ? State::running : State::unavailable;
  return state == State::running;
}

void run_beside(void (*job)(void*), void* arg) {
  if (!second_thread_free()) {
    job(arg);
    return;
  }
  const int here = ::sched_getcpu();
  if (here >= 0 && here != kept_off && CPU_ISSET(static_cast<unsigned>(here), &allowed)) {
    cpu_set_t others = allowed;
    CPU_CLR(static_cast<unsigned>(here), &others);
    if (::pthread_setaffinity_np(helper, sizeof others, &others) == 0) kept_off = here;
  }
  job_fn = job;
  job_arg = arg;
  posted.fetch_add(1, std::memory_order_release);
  posted.notify_one();
}

void finish_beside() {
  const unsigned want = posted.load(std::memory_order_relaxed);
  for (unsigned now = finished.load(std::memory_order_acquire); now != want;
       now = finished.load(std::memory_order_acquire)) {
    finished.wait(now, std::memory_order_acquire);
  }
}

}  // namespace wavproc
