#include "harness.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace harness {

namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void spill(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary);
  out << text;
  if (!out) throw std::runtime_error("cannot write " + path);
}

// Collects every regular file below dir (paths relative to top), then removes what it visited.
void collect_and_remove(const std::string& top, const std::string& rel, std::map<std::string, std::string>& files) {
  const std::string dir = rel.empty() ? top : top + "/" + rel;
  ::chmod(dir.c_str(), 0700);
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  while (dirent* e = ::readdir(d)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    const std::string path = dir + "/" + name;
    const std::string sub = rel.empty() ? name : rel + "/" + name;
    struct stat st = {};
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      collect_and_remove(top, sub, files);
      ::rmdir(path.c_str());
    } else {
      if (S_ISREG(st.st_mode)) {
        ::chmod(path.c_str(), 0600);
        files[sub] = slurp(path);
      }
      ::unlink(path.c_str());
    }
  }
  ::closedir(d);
}

// The state letter of process pid (R, S, D, T, Z...), which follows its command name in parentheses.
char state(pid_t pid) {
  const std::string stat = slurp("/proc/" + std::to_string(pid) + "/stat");
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : '?';
}

}  // namespace

std::vector<Result> run_together(const std::vector<std::string>& stdin_texts,
                                 const std::map<std::string, std::string>& files, const Options& options) {
  char base_template[] = "/tmp/wavproc-e2e-XXXXXX";
  if (::mkdtemp(base_template) == nullptr) throw std::runtime_error("mkdtemp failed");
  const std::string base = base_template;
  const std::string work = base + "/work";
  ::mkdir(work.c_str(), 0700);
  for (const auto& [name, text] : files) {
    const std::string path = work + "/" + name;
    const auto slash = path.rfind('/');
    ::mkdir(path.substr(0, slash).c_str(), 0700);
    spill(path, text);
  }

  // A program that ends early must not take the harness down with it when the feed writes on.
  ::signal(SIGPIPE, SIG_IGN);
  int pipe_fds[2] = {-1, -1};
  if (options.feed && ::pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
  const std::string program = options.program.empty() ? WAVPROC_BINARY : options.program;

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(options.program.empty() ? "wavproc" : options.program.c_str()));
  for (const std::string& arg : options.args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  std::vector<pid_t> pids;
  for (std::size_t i = 0; i < stdin_texts.size(); ++i) {
    const std::string n = std::to_string(i);
    spill(base + "/stdin" + n, stdin_texts[i]);
    pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
      if (::chdir(work.c_str()) != 0) ::_exit(127);
      int in = options.feed ? pipe_fds[0] : ::open((base + "/stdin" + n).c_str(), O_RDONLY);
      int out = ::open((base + "/stdout" + n).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int err = ::open((base + "/stderr" + n).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (in < 0 || out < 0 || err < 0) ::_exit(127);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::dup2(err, 2);
      if (options.feed) {
        ::close(pipe_fds[0]);
        ::close(pipe_fds[1]);
      }
      ::signal(SIGPIPE, SIG_DFL);
      if (options.in_child) options.in_child();
      ::execvp(program.c_str(), argv.data());
      ::_exit(127);
    }
    pids.push_back(pid);
  }
  if (options.feed) {
    ::close(pipe_fds[0]);
    options.feed(pids.at(0), pipe_fds[1], base + "/stdout0");
  }
  std::vector<Result> results(pids.size());
  for (std::size_t i = 0; i < pids.size(); ++i) {
    int wstatus = 0;
    while (::waitpid(pids[i], &wstatus, 0) < 0 && errno == EINTR) {
    }
    const std::string n = std::to_string(i);
    Result& r = results[i];
    if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
    if (WIFSIGNALED(wstatus)) r.signal = WTERMSIG(wstatus);
    r.out = slurp(base + "/stdout" + n);
    r.err = slurp(base + "/stderr" + n);
    ::unlink((base + "/stdin" + n).c_str());
    ::unlink((base + "/stdout" + n).c_str());
    ::unlink((base + "/stderr" + n).c_str());
  }
  if (options.inspect) options.inspect(work);
  std::map<std::string, std::string> left;
  collect_and_remove(work, "", left);
  for (Result& r : results) r.files = left;
  ::rmdir(work.c_str());
  ::rmdir(base.c_str());
  return results;
}

Result run(const std::string& stdin_text, const std::map<std::string, std::string>& files, const Options& options) {
  return run_together({stdin_text}, files, options).front();
}

std::string work_folder(const std::string& stdout_path) {
  return stdout_path.substr(0, stdout_path.rfind('/')) + "/work";
}

std::string read_source_file(const std::string& relative_path) {
  return slurp(std::string(WAVPROC_SOURCE_DIR) + "/" + relative_path);
}

bool wait_until(const std::function<bool()>& done) {
  for (int ms = 0; ms < 60000; ++ms) {
    if (done()) return true;
    ::usleep(1000);
  }
  return done();
}

bool holds(const std::string& path, const std::string& text) { return slurp(path).find(text) != std::string::npos; }

bool waiting(pid_t pid, int input) {
  // Bytes still in the pipe mean a wake-up not yet taken.
  int unread = 0;
  if (::ioctl(input, FIONREAD, &unread) != 0 || unread != 0) return false;
  return state(pid) == 'S';
}

bool stopped(pid_t pid) { return state(pid) == 'T'; }

bool has_open(pid_t pid, const std::string& path) {
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  DIR* d = ::opendir(fds.c_str());
  if (d == nullptr) return false;
  bool found = false;
  while (dirent* e = ::readdir(d)) {
    char target[4096];
    const ssize_t n = ::readlink((fds + "/" + e->d_name).c_str(), target, sizeof target);
    found = found || (n > 0 && std::string(target, static_cast<std::size_t>(n)) == path);
  }
  ::closedir(d);
  return found;
}

bool ended(pid_t pid) {
  siginfo_t info = {};
  return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid;
}

}  // namespace harness
