// How the program is used from a shell: its command-line arguments, the version that the manual
// names, and wavproc-batch over several records.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "pieces.h"

namespace {

using namespace pieces;

harness::Result run_with(const std::vector<std::string>& args, const harness::Options& base = {}) {
  harness::Options o = base;
  o.args = args;
  return harness::run(kAnswers, {}, o);
}

TEST(Arguments, HelpAndVersionAnswerOnStandardOutput) {
  const auto help = run_with({"--help"});
  // Both modes: the command line and the dialogue.
  EXPECT_EQ(help.out.rfind("Usage: wavproc RECORD [options]\n       wavproc [--no-sync]\n", 0), 0u) << help.out;
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(help.files.empty());

  const auto short_help = run_with({"-h"});
  EXPECT_EQ(short_help.out, help.out);
  EXPECT_EQ(short_help.status, 0);

  // The manual's title line names the version that the program prints.
  const auto version = run_with({"--version"});
  const std::string manual = harness::read_source_file("doc/wavproc.1");
  const std::string title = manual.substr(0, manual.find('\n'));
  const std::string printed = version.out.substr(0, version.out.size() - 1);
  EXPECT_EQ(version.out.rfind("wavproc ", 0), 0u);
  EXPECT_NE(title.find('"' + printed + '"'), std::string::npos) << title << " / " << version.out;
  EXPECT_EQ(version.err, "");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.files.empty());
}

// Leaving out the wait for the disk changes nothing that a run shows or leaves behind.
TEST(Arguments, NoSyncRunsTheSameDialogue) {
  const auto plain = harness::run(kAnswers, {{"in.txt", kRecord}});
  harness::Options o;
  o.args = {"--no-sync"};
  const auto no_sync = harness::run(kAnswers, {{"in.txt", kRecord}}, o);
  EXPECT_EQ(no_sync.out, plain.out);
  EXPECT_EQ(no_sync.err, plain.err);
  EXPECT_EQ(no_sync.status, 0);
  EXPECT_EQ(no_sync.files, plain.files);
}

// The wait itself, seen from the system calls: one flush per replaced file by default, none with
// --no-sync.
TEST(Arguments, NoSyncLeavesOutTheFlushOfEachReplacedFile) {
  if (std::system("strace -qq -o /dev/null true > /dev/null 2>&1") != 0) {
    GTEST_SKIP() << "strace is not installed (Debian: strace) or may not trace here";
  }
  for (const bool no_sync : {false, true}) {
    SCOPED_TRACE(no_sync);
    harness::Options o;
    // LeakSanitizer cannot work under ptrace: a sanitizer build leaves its leak check out here.
    o.in_child = [] {
      const char* asan = std::getenv("ASAN_OPTIONS");
      ::setenv("ASAN_OPTIONS", (std::string(asan != nullptr ? asan : "") + ":detect_leaks=0").c_str(), 1);
    };
    o.program = "strace";
    o.args = {"-f", "-qq", "-e", "trace=fsync,fdatasync,sync,syncfs,sync_file_range", "-o", "calls.txt",
              WAVPROC_BINARY};
    if (no_sync) o.args.push_back("--no-sync");
    auto r = harness::run(kAnswers, {{"in.txt", kRecord}}, o);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string& calls = r.files["calls.txt"];
    std::size_t flushes = 0;
    for (std::size_t at = calls.find("fdatasync("); at != std::string::npos; at = calls.find("fdatasync(", at + 1)) {
      ++flushes;
    }
    EXPECT_EQ(flushes, no_sync ? 0u : 2u) << calls;  // amp2.csv and out.csv
    if (no_sync) {
      EXPECT_EQ(calls, "");
    }
  }
}

TEST(Arguments, AHelpTextThatCannotBeWrittenIsAFailure) {
  harness::Options full;
  full.in_child = [] { ::dup2(::open("/dev/full", O_WRONLY), 1); };
  const auto r = run_with({"--version"}, full);
  EXPECT_EQ(r.err, "wavproc: cannot write: No space left on device\n");
  EXPECT_EQ(r.status, 1);
}

const std::string kBatch = std::string(WAVPROC_SOURCE_DIR) + "/batch/wavproc-batch";

// wavproc-batch with args in a fresh folder holding files; WAVPROC names the built program.
harness::Result batch(const std::vector<std::string>& args, const std::map<std::string, std::string>& files,
                      harness::Options o = {}) {
  o.program = "bash";
  o.args = {kBatch};
  o.args.insert(o.args.end(), args.begin(), args.end());
  const auto before = o.in_child;
  o.in_child = [before] {
    ::setenv("WAVPROC", WAVPROC_BINARY, 1);
    if (before) before();
  };
  return harness::run("", files, o);
}

// Three records, one of them too long for the transform: two complete results, each the same as
// a run by hand, one refusal in the summary and a status that says not every run succeeded.
TEST(Batch, ThreeRecordsGiveTwoResultsAndOneRefusal) {
  const auto single = harness::run(kAnswers, {{"in.txt", kRecord}});
  ASSERT_EQ(single.status, 0);
  const std::string too_long = record_of(32769);
  const std::string long_name = "a record whose name is longer than thirty characters.txt";

  auto r = batch({"-j", "2", "answers.txt", "res", "data/one.txt", "data/long.txt", long_name},
                 {{"answers.txt", kAnswers}, {"data/one.txt", kRecord}, {"data/long.txt", too_long},
                  {long_name, kRecord}});
  const std::string long_stem = long_name.substr(0, long_name.size() - 4);
  const std::string summary = "data/one.txt\t0\tdone: one.amp2.csv one.out.csv\n"
                              "data/long.txt\t1\trefused: NT>2**15 !!!!!\n" +
                              long_name + "\t0\tdone: " + long_stem + ".amp2.csv " + long_stem + ".out.csv\n";
  EXPECT_EQ(r.out, summary);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.files["res/summary.txt"], summary);
  for (const std::string& stem : {std::string("one"), long_stem}) {
    EXPECT_EQ(r.files["res/" + stem + ".amp2.csv"], single.files.at("amp2.csv"));
    EXPECT_EQ(r.files["res/" + stem + ".out.csv"], single.files.at("out.csv"));
    EXPECT_EQ(r.files["res/" + stem + ".log"], single.out);
  }
  EXPECT_NE(r.files["res/long.log"].find(" NT>2**15 !!!!!\n"), std::string::npos);
  EXPECT_EQ(r.files.size(), 4u + 8u);  // the four inputs, unchanged; no run folder is left
  EXPECT_EQ(r.files["data/one.txt"], kRecord);
}

// A call that would lose or overwrite a result, or that is wrong, is refused before the first
// run: status 2, a message naming the fault, nothing run.
TEST(Batch, NamesAndCallsThatWouldLoseResultsAreRefusedBeforeTheFirstRun) {
  const std::string wanted = "answers.txt\nres\ndata/one.txt\n";
  struct Case {
    std::vector<std::string> args;
    std::map<std::string, std::string> files;
    std::string message;
    const char* wavproc;  // WAVPROC, when not the built program
  };
  const auto with_output = [](const std::string& name) {
    return std::map<std::string, std::string>{{"answers.txt", "in.txt\n0\n0\n0\n0\n0\n" + name + "\n\n"},
                                              {"data/one.txt", kRecord}};
  };
  const std::map<std::string, std::string> plain = {{"answers.txt", kAnswers}, {"data/one.txt", kRecord}};
  auto holding = plain;
  holding["res/summary.txt"] = "data/one.txt\t0\tdone: one.amp2.csv one.out.csv\n";
  auto tabbed = plain;
  tabbed["data/a\tb.txt"] = kRecord;
  auto lined = plain;
  lined["data/a\nb.txt"] = kRecord;
  const std::vector<std::string> one = {"answers.txt", "res", "data/one.txt"};
  const Case cases[] = {
      {one, with_output("../v.csv"), "the output name \"../v.csv\" in answers.txt is not a plain file name", nullptr},
      {one, with_output(".v.csv"), "the output name \".v.csv\" in answers.txt begins with a point", nullptr},
      {one, with_output("log"), "data/one.txt would write one.log, as data/one.txt does", nullptr},
      {{"answers.txt", "res", "data/one.txt", "data/a\tb.txt"}, tabbed,
       "a record's name holds a tab or a newline: $'data/a\\tb.txt'", nullptr},
      {{"answers.txt", "res", "data/a\nb.txt"}, lined, "a record's name holds a tab or a newline: $'data/a\\nb.txt'",
       nullptr},
      {{"-j", "2147483648", "answers.txt", "res", "data/one.txt"}, plain,
       "-j takes a number of runs from 1 to 1024, not 2147483648", nullptr},
      {one, plain, "no program at /tmp (set WAVPROC to wavproc's path)", "/tmp"},
      {one, plain, "WAVPROC: no program no-such-wavproc on PATH", "no-such-wavproc"},
      {one, plain, "/bin/true is not a wavproc of this release: it has no batch workers", "/bin/true"},
      {one, holding, "already holds a batch (--resume goes on with it)", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    harness::Options o;
    const char* program = c.wavproc;
    if (program) o.in_child = [program] { ::setenv("WAVPROC", program, 1); };
    const auto r = batch(c.args, c.files, o);
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("wavproc-batch: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.files.size(), c.files.size());  // no run, no log, no summary
  }
}

// Names that the old batch mishandled are carried: an input copy named .stderr, and a program
// named by WAVPROC and found on PATH.
TEST(Batch, AHiddenInputNameAndAProgramOnPathRunAsByHand) {
  const auto single = harness::run(kAnswers, {{"in.txt", kRecord}});
  harness::Options o;
  o.in_child = [] {
    const std::string dir = WAVPROC_BINARY;
    ::setenv("PATH", (dir.substr(0, dir.rfind('/')) + ":" + std::getenv("PATH")).c_str(), 1);
    ::setenv("WAVPROC", "wavproc", 1);
  };
  o.program = "bash";
  o.args = {kBatch, "answers.txt", "res", "data/one.txt"};
  auto r = harness::run("", {{"answers.txt", ".stderr" + kAnswers.substr(6)}, {"data/one.txt", kRecord}}, o);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.files["res/one.out.csv"], single.files.at("out.csv"));
  EXPECT_EQ(r.files["res/one.log"], single.out);
}

// One worker runs records of falling and rising lengths, each with answers of its own from the
// generated sessions, with a refused and a fatal one among them: every record's files and log are
// those of a run of its own (nothing of a longer record carries over to a shorter one), and a run
// that ends the worker's process is noted as it ended.
TEST(Batch, OneWorkerGivesEveryRecordTheFilesOfARunOfItsOwn) {
  const int lengths[] = {4097, 1, 1000, 2, 64, 3, 0, 100, 5, 4097, 2};
  std::map<std::string, std::string> files = {{"answers.txt", kAnswers}};
  std::vector<std::string> args = {"-j", "1", "answers.txt", "res"};
  std::vector<harness::Result> single;
  std::string summary;
  for (std::uint32_t i = 0; i < std::size(lengths); ++i) {
    const std::string stem = "r" + std::to_string(i);
    const Session s = session_of(i + 1);
    // Length 0 stands for a record with a sample that is not a number: a fatal report.
    const std::string record = lengths[i] > 0 ? record_of(lengths[i]) : "Time NS EW\n0 1 0\n0.01 x 0\n";
    files["data/" + stem + ".txt"] = record;
    files["data/" + stem + ".answers"] = s.answers;
    args.push_back("data/" + stem + ".txt");
    single.push_back(harness::run(s.answers, {{"in.txt", record}}));
    const harness::Result& one = single.back();
    summary += "data/" + stem + ".txt\t";
    if (one.status == 0) {
      summary += "0\tdone: " + stem + ".amp2.csv " + stem + ".out.csv\n";
    } else if (one.status == 1) {
      summary += "1\trefused: NT<2 !!!!!\n";
    } else {
      summary += "134\tfatal error: " + one.err.substr(0, one.err.find('\n')) + "\n";
    }
  }
  auto r = batch(args, files);
  EXPECT_EQ(r.out, summary);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 1);
  for (std::size_t i = 0; i < single.size(); ++i) {
    SCOPED_TRACE(i);
    const std::string res = "res/r" + std::to_string(i);
    EXPECT_EQ(r.files[res + ".log"], single[i].out + single[i].err);
    if (single[i].status != 0) continue;
    EXPECT_EQ(r.files[res + ".amp2.csv"], single[i].files.at("amp2.csv"));
    EXPECT_EQ(r.files[res + ".out.csv"], single[i].files.at("out.csv"));
  }
}

// True when a process of the process group pgid is stopped.
bool group_member_stopped(pid_t pgid) {
  DIR* d = ::opendir("/proc");
  if (d == nullptr) return false;
  bool found = false;
  while (const dirent* e = ::readdir(d)) {
    std::ifstream file("/proc/" + std::string(e->d_name) + "/stat");
    std::string stat;
    if (!std::getline(file, stat)) continue;
    // pid (name) state ppid pgrp ...: the name may hold blanks, so read after its last ')'.
    std::istringstream rest(stat.substr(stat.rfind(')') + 1));
    char state = 0;
    long ppid = 0, pgrp = 0;
    if (rest >> state >> ppid >> pgrp && pgrp == pgid && state == 'T') found = true;
  }
  ::closedir(d);
  return found;
}

// Ctrl-C (to the whole process group) or SIGTERM (to the batch alone) stops the run under way and
// starts no other; the summary lists what the folder holds. The worker is held still (SIGSTOP) at
// the first write of the second record's files by the test build's hook. A batch called again
// with --resume passes over the complete record and runs the others.
TEST(Batch, AStoppedBatchListsWhatItLeftAndGoesOnWithResume) {
  const auto single = harness::run(kAnswers, {{"in.txt", kRecord}});
  const std::map<std::string, std::string> files = {
      {"answers.txt", kAnswers}, {"data/one.txt", kRecord}, {"data/two.txt", kRecord}, {"data/three.txt", kRecord}};
  for (const int sig : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(sig);
    harness::Options o;
    o.in_child = [] {
      ::setpgid(0, 0);
      ::setenv("WAVPROC", harness::kKillableProgram, 1);
      // A run of the three-sample record takes four of the hook's steps: the fifth is the second
      // record's first, in the one process of the worker.
      ::setenv("WAVPROC_STOP_AT_STEP", "5", 1);
    };
    o.program = "bash";
    o.args = {kBatch, "-j", "1", "answers.txt", "res", "data/one.txt", "data/two.txt", "data/three.txt"};
    o.feed = [sig](pid_t pid, int fd, const std::string&) {
      ASSERT_TRUE(harness::wait_until([&] { return group_member_stopped(pid); }));
      ::kill(sig == SIGINT ? -pid : pid, sig);
      ::close(fd);
    };
    auto r = harness::run("", files, o);
    const std::string summary = "data/one.txt\t0\tdone: one.amp2.csv one.out.csv\n"
                                "data/two.txt\t1\tstopped: Interrupt\n"
                                "data/three.txt\t-\tnot finished\n";
    EXPECT_EQ(r.out, summary) << r.err;
    EXPECT_EQ(r.status, sig == SIGINT ? 130 : 143);
    // The console text up to the spectrum file, then the interrupt's message.
    const std::string two = r.files["res/two.log"];
    ASSERT_TRUE(two.ends_with("\nInterrupt\n")) << two;
    EXPECT_EQ(single.out.rfind(two.substr(0, two.size() - 10), 0), 0u) << two;
    std::map<std::string, std::string> left;
    for (const auto& [path, text] : r.files) {
      if (path.rfind("res/", 0) == 0) left[path] = text;
    }
    EXPECT_EQ(left.size(), 5u);  // one's three files, two's log, the summary
    EXPECT_EQ(left["res/one.out.csv"], single.files.at("out.csv"));

    if (sig == SIGTERM) {
      auto again = files;
      for (const auto& [path, text] : left) again[path] = text;
      again["res/one.log"] = "kept\n";
      auto resumed = batch({"--resume", "answers.txt", "res", "data/one.txt", "data/two.txt", "data/three.txt"},
                           again);
      EXPECT_EQ(resumed.out, "data/one.txt\t0\tdone: one.amp2.csv one.out.csv\n"
                             "data/two.txt\t0\tdone: two.amp2.csv two.out.csv\n"
                             "data/three.txt\t0\tdone: three.amp2.csv three.out.csv\n");
      EXPECT_EQ(resumed.status, 0);
      EXPECT_EQ(resumed.files["res/one.log"], "kept\n");
      EXPECT_EQ(resumed.files["res/three.log"], single.out);
    }
  }
}

}  // namespace
