// Bad input and faults end to end: what the user sees, how the run ends and which files are left,
// one group per row of the README's table "Bad input and faults".
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "harness.h"
#include "pieces.h"

namespace {

using Files = std::map<std::string, std::string>;

using namespace pieces;

constexpr int kSkipped = 77;  // exit status of a child that could not give up root

// User and group ids that nobody has: files given to them belong to "another user".
constexpr uid_t kOther = 23456;
constexpr gid_t kOtherGroup = 34567;

// The console text of a run that ends at the open or the close of "amp2.csv".
const std::string kUntilSpectrum = kWholeDialogue.substr(0, kWholeDialogue.find("\n Cutting"));

// Options whose child runs prepare (still privileged, in the run's folder), then, when it is root,
// becomes the unprivileged user so that file permissions apply; exits kSkipped if it cannot.
harness::Options unprivileged(std::function<void()> prepare) {
  harness::Options o;
  o.in_child = [prepare] {
    ::chmod(".", 0777);
    if (prepare) prepare();
    if (::getuid() != 0) return;
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(kSkipped);
  };
  return o;
}

// Options whose child may write files of at most limit bytes (the program ignores SIGXFSZ).
harness::Options file_size_limit(rlim_t limit) {
  harness::Options o;
  o.in_child = [limit] {
    const rlimit r{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &r);
  };
  return o;
}

// A run that ends with the fatal report.
struct FatalCase {
  const char* what;
  Files files;
  std::string answers;
  std::string out;
  std::string err;
  Files left;  // every file afterwards, with its content
};

// Runs a case and checks its console text, its report, the abnormal end and every file left.
void expect_fatal(const FatalCase& c, const harness::Options& options = {}) {
  SCOPED_TRACE(c.what);
  auto r = harness::run(c.answers, c.files, options);
  if (r.status == kSkipped) GTEST_SKIP() << "cannot run as an unprivileged user";
  expect_fatal_end(r, c.out, c.err);
  EXPECT_EQ(r.files, c.left);
}

// The same bytes on every run: 4096 of a linear congruential sequence, the kind of thing a binary
// file holds.
std::string garbage() {
  std::string g;
  std::uint32_t x = 12345;
  for (int i = 0; i < 4096; ++i) {
    x = (x * 1103515245u + 12345u) % 2147483648u;
    g += static_cast<char>((x >> 16) & 0xff);
  }
  return g;
}

TEST(BadInputFile, IsReportedForUnit11AndLeftAsItWas) {
  const std::string unit11 = "apparent state: unit 11 named ";
  const std::string bad_row = "Time NS EW\n0 1 0\n0.01 2 0\ngal gal gal\n";
  const std::string second_header = "Time NS EW\ns gal gal\n0 1 0\n";
  const FatalCase cases[] = {
      {"empty file", {{"in.txt", ""}}, "in.txt\n", kAskInput,
       report("list in: end of file", unit11 + "in.txt", "list io", true), {{"in.txt", ""}}},
      {"directory", {{"d/keep", "x"}}, "d\n", kAskInput,
       report("list in: Is a directory", unit11 + "d", "list io", true), {{"d/keep", "x"}}},
      {"binary garbage", {{"garbage.bin", garbage()}}, "garbage.bin\n", kAskInput,
       report("invalid number: incomprehensible list input", unit11 + "garbage.bin", "list io", true),
       {{"garbage.bin", garbage()}}},
      {"text in a data row", {{"in.txt", bad_row}}, "in.txt\n", kAskInput,
       report("invalid number: incomprehensible list input", unit11 + "in.txt", "list io", true),
       {{"in.txt", bad_row}}},
      {"second header line", {{"in.txt", second_header}}, "in.txt\n", kAskInput,
       report("invalid number: incomprehensible list input", unit11 + "in.txt", "list io", true),
       {{"in.txt", second_header}}},
  };
  for (const FatalCase& c : cases) expect_fatal(c);
}

TEST(BadInputFile, WithoutReadPermissionIsNeverEmptied) {
  const std::string unit11 = "apparent state: unit 11 named ";
  // No permission at all: every way of opening fails.
  expect_fatal({"unreadable", {{"secret.txt", kRecord}}, "secret.txt\n", kAskInput,
                report("open: Permission denied", unit11 + "secret.txt", "", true), {{"secret.txt", kRecord}}},
               unprivileged([] { ::chmod("secret.txt", 0); }));
  // Write permission only: the file is connected for writing, the read cannot reopen it, and the
  // close leaves its content alone since nothing was written.
  expect_fatal({"write-only", {{"secret.txt", kRecord}}, "secret.txt\n", kAskInput,
                report("list in: Permission denied", unit11 + "secret.txt", "list io", true), {{"secret.txt", kRecord}}},
               unprivileged([] { ::chmod("secret.txt", 0222); }));
}

TEST(BadInputFile, IsOnlyReadAndNothingIsCreatedForIt) {
  // A missing record in a folder that cannot be written: the end-of-file report, as anywhere.
  expect_fatal({"missing record, read-only folder", {}, "nosuch.txt\n", kAskInput,
                report("list in: end of file", "apparent state: unit 11 named nosuch.txt", "list io", true), {}},
               unprivileged([] { ::chmod(".", 0555); }));

  // An existing record is opened for reading only: a file watcher sees no write.
  int watch = -1;
  harness::Options o;
  o.feed = [&watch](pid_t, int fd, const std::string& stdout_path) {
    watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ::inotify_add_watch(watch, (harness::work_folder(stdout_path) + "/in.txt").c_str(), IN_MODIFY | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE);
    (void)!::write(fd, kAnswers.data(), kAnswers.size());
    ::close(fd);
  };
  auto r = harness::run("", {{"in.txt", kRecord}}, o);
  expect_success(r);
  alignas(inotify_event) char events[4096];
  const ssize_t n = ::read(watch, events, sizeof events);
  ::close(watch);
  std::uint32_t seen = 0;
  for (ssize_t at = 0; at < n;) {
    const auto* e = reinterpret_cast<const inotify_event*>(events + at);
    seen |= e->mask;
    at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
  }
  EXPECT_EQ(seen & (IN_MODIFY | IN_CLOSE_WRITE | IN_CLOSE_NOWRITE), std::uint32_t{IN_CLOSE_NOWRITE});
}

TEST(BadInputFile, LinesOfAMegabyteAreReadThrough) {
  const std::string mega(1 << 20, 'N');
  // A header item of 1 MB is cut to 20 characters, 1 MB of comment after a row is passed over, and
  // console answers of 1 MB keep their first value (or, for a file name, their first 30 characters).
  const std::string record = "Time " + mega + " EW\n0 1 0 " + mega + "\n0.01 2 0\n0.02 3 0\n";
  const std::string answers = "in.txt" + std::string(24, ' ') + mega + "\n0 " + mega + "\n0\n0\n0\n0\nout.csv\n\n";
  auto r = harness::run(answers, {{"in.txt", record}});
  EXPECT_EQ(r.out, kWholeDialogue);
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  const std::string name(20, 'N');
  EXPECT_EQ(r.files, (Files{{"in.txt", record},
                            {"amp2.csv", " frequency(Hz)," + name + ",EW                  \n" + kAmpRows},
                            {"out.csv", " time(s)," + name + ",EW                  \n" + kOutRows}}));
}

TEST(BadInputFile, MoreRowsThanTheTransformTakesAreRefused) {
  // Rows past the store's 33000 are counted, not stored; the refusal writes no file and ends with 1.
  for (int rows : {32769, 33001, 40000}) {
    SCOPED_TRACE(rows);
    const std::string record = record_of(rows);
    auto r = harness::run("in.txt\n0\n", {{"in.txt", record}});
    EXPECT_EQ(r.out, kAskInput + "\n NT and DT= " + std::to_string(rows) + "  0.01\n" + kPolarityAsk + "  NT>2**15 !!!!!\n");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.files, (Files{{"in.txt", record}}));
  }
}

TEST(BadInputFile, ValuesBeyondTheDoubleRange) {
  // Samples read as infinity (and 1e-999 as zero) run through every stage: the spectrum of an
  // infinite sample is infinite or undefined, and so is every sample the inverse gives back.
  const std::string record = "Time NS EW\n0 1e999 0\n0.01 2 -1e999\n0.02 3 1e-999\n0.03 4 0\n";
  auto r = harness::run(kAnswers, {{"in.txt", record}});
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.files["amp2.csv"], " frequency(Hz),NS                  ,EW                  \n"
                                 " 25.0000,         Inf,         NaN,\n"
                                 " 50.0000,         Inf,         NaN,\n");
  EXPECT_EQ(r.files["out.csv"], " time(s),NS                  ,EW                  \n"
                                " 0.000,         NaN,         NaN,      0.0000,\n"
                                " 0.010,         NaN,         NaN,      0.0000,\n"
                                " 0.020,         NaN,         NaN,      0.0000,\n"
                                " 0.030,         NaN,         NaN,      0.0000,\n");

  // An infinite sample time makes the interval unusable: the record is refused.
  const std::string endless_time = "Time NS EW\n0 1 0\n1e999 2 0\n";
  auto t = harness::run("in.txt\n0\n", {{"in.txt", endless_time}});
  EXPECT_EQ(t.out, kAskInput + "\n NT and DT= 2  Infinity\n" + kPolarityAsk + "  DT out of range !!!!!\n");
  EXPECT_EQ(t.status, 1);
  EXPECT_EQ(t.files, (Files{{"in.txt", endless_time}}));

  // Infinite cut answers: the start lies past the store (all zeros) and the window is held to the
  // store's 33000 samples.
  auto c = harness::run("in.txt\n0\n0\n0\n1\n1e999\n1e999\n0\nout.csv\n\n", {{"in.txt", kRecord}});
  EXPECT_NE(c.out.find("\n Number of Cutting Data = 2147483647\n Enter Duration (sec)\n"
                       " Number of data = 33000\n New nt = 33000\n"),
            std::string::npos);
  EXPECT_EQ(c.status, 0);
  const std::string& out = c.files["out.csv"];
  EXPECT_EQ(out.size(), 51u + 33000u * 47u);
  EXPECT_EQ(out.substr(51, 47), " 0.000,      0.0000,      0.0000,      0.0000,\n");
  EXPECT_EQ(out.substr(out.size() - 47), "******,      0.0000,      0.0000,      0.0000,\n");
}

TEST(ConsoleInput, EndsAtEveryReadOfTheLongestDialogue) {
  // Every read of a run that answers yes wherever it can; the end of input after k lines.
  const std::string lines[] = {"in.txt", "1", "0", "0", "0", "1", "0 0 100 200", "0", "1", "0", "0.05", "0", "out.csv", ""};
  const std::string console = "apparent state: unit 5 (unnamed)";
  std::string all;
  for (const std::string& l : lines) all += l + "\n";
  auto whole = harness::run(all, {{"in.txt", kRecord}});
  ASSERT_EQ(whole.status, 0);
  ASSERT_EQ(whole.files.size(), 3u);

  for (std::size_t k = 0; k < std::size(lines); ++k) {
    SCOPED_TRACE(k);
    std::string answers;
    for (std::size_t i = 0; i < k; ++i) answers += lines[i] + "\n";
    auto r = harness::run(answers, {{"in.txt", kRecord}});
    // The console shows everything up to the prompt of the read that met the end.
    EXPECT_EQ(whole.out.substr(0, r.out.size()), r.out);
    const bool name_read = k == 0 || k == 12;
    if (k == 13) {
      // The final wait ends at the end of input as well.
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.out, whole.out);
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_EQ(r.signal, SIGABRT);
      EXPECT_EQ(r.err, name_read ? report("fmt: end of file", console, "(A30)", true)
                                 : report("list in: end of file", console, "list io", true));
    }
    // "amp2.csv" is written once the menu is answered, the output file once its name is.
    Files left{{"in.txt", kRecord}};
    if (k >= 8) left["amp2.csv"] = whole.files["amp2.csv"];
    if (k >= 13) left["out.csv"] = whole.files["out.csv"];
    EXPECT_EQ(r.files, left);
  }
}

TEST(OutputFault, FoldersAndFilesThatCannotBeWritten) {
  const FatalCase cases[] = {
      {"working folder read-only", {{"in.txt", kRecord}}, kAnswers, kUntilSpectrum,
       report("open: Permission denied", "apparent state: unit 10 named amp2.csv", "list io", false),
       {{"in.txt", kRecord}}},
      {"output folder read-only", {{"in.txt", kRecord}, {"ro/keep", "x"}}, "in.txt\n0\n0\n0\n0\n0\nro/out.csv\n\n",
       kWholeDialogue, report("open: Permission denied", "apparent state: unit 11 named ro/out.csv", "", true),
       {{"in.txt", kRecord}, {"ro/keep", "x"}, {"amp2.csv", kAmp}}},
      {"output file read-only", {{"in.txt", kRecord}, {"out.csv", "old"}}, kAnswers, kWholeDialogue,
       report("list output start: can't write file", "apparent state: unit 11 named out.csv", "list io", false),
       {{"in.txt", kRecord}, {"out.csv", "old"}, {"amp2.csv", kAmp}}},
  };
  const std::function<void()> prepare[] = {
      [] { ::chmod(".", 0555); },
      [] { ::chmod("ro", 0555); },
      [] { ::chmod("out.csv", 0444); },
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) expect_fatal(cases[i], unprivileged(prepare[i]));

  // A directory cannot be written by anyone.
  expect_fatal({"directory as output", {{"in.txt", kRecord}, {"d/keep", "x"}}, "in.txt\n0\n0\n0\n0\n0\nd\n\n",
                kWholeDialogue,
                report("list output start: can't write file", "apparent state: unit 11 named d", "list io", false),
                {{"in.txt", kRecord}, {"d/keep", "x"}, {"amp2.csv", kAmp}}});
}

TEST(OutputFault, FullDiskNeverEndsWithStatusZero) {
  const std::string record = record_of(2048);
  auto whole = harness::run(kAnswers, {{"in.txt", record}});
  ASSERT_EQ(whole.status, 0);
  const std::string amp = whole.files["amp2.csv"];
  const std::string out = whole.files["out.csv"];
  ASSERT_GT(amp.size(), 20000u);
  ASSERT_GT(out.size(), 65536u);
  const std::string dialogue = whole.out;
  const std::string before_cut = dialogue.substr(0, dialogue.find("\n Cutting"));

  // "amp2.csv" goes out in one piece at its close; the limit cuts it there.
  expect_fatal({"limit inside amp2.csv", {{"in.txt", record}}, kAnswers, before_cut,
                report("write: File too large", "apparent state: unit 10 named amp2.csv", "", false),
                {{"in.txt", record}, {"amp2.csv", amp.substr(0, 20000)}}},
               file_size_limit(20000));
  // The output file is written block by block while its rows are formatted.
  expect_fatal({"limit inside the output file", {{"in.txt", record}}, kAnswers, dialogue,
                report("write: File too large", "apparent state: unit 11 named out.csv", "(F6.3,4(',',F12.4))", false),
                {{"in.txt", record}, {"amp2.csv", amp}, {"out.csv", out.substr(0, 50000)}}},
               file_size_limit(50000));
  // An older, longer output file keeps nothing of its old content behind what this run wrote.
  expect_fatal({"limit inside a rewritten file", {{"in.txt", record}, {"out.csv", std::string(200000, 'x')}}, kAnswers,
                dialogue,
                report("write: File too large", "apparent state: unit 11 named out.csv", "(F6.3,4(',',F12.4))", false),
                {{"in.txt", record}, {"amp2.csv", amp}, {"out.csv", out.substr(0, 50000)}}},
               file_size_limit(50000));
  // A device that is always full, as the output file.
  expect_fatal({"/dev/full as output file", {{"in.txt", kRecord}}, "in.txt\n0\n0\n0\n0\n0\n/dev/full\n\n", kWholeDialogue,
                report("write: No space left on device", "apparent state: unit 11 named /dev/full", "", false),
                {{"in.txt", kRecord}, {"amp2.csv", kAmp}}});

  // Standard output on a full device: the first prompt cannot be shown, so the run stops there.
  harness::Options full_console;
  full_console.in_child = [] {
    const int fd = ::open("/dev/full", O_WRONLY);
    if (fd >= 0) ::dup2(fd, 1);
  };
  expect_fatal({"/dev/full as standard output", {{"in.txt", kRecord}}, kAnswers, "",
                report("write: No space left on device", "apparent state: unit 6 (unnamed)", "(A30)", true),
                {{"in.txt", kRecord}}},
               full_console);
}

TEST(ClosedStream, NeverTakesAFileInItsPlace) {
  // With standard error closed, the report of a bad row must not land in the input file (its
  // descriptor would otherwise be the one the file was given).
  const std::string bad_row = "Time NS EW\n0 1 0\ngal 2 0\n";
  harness::Options no_stderr;
  no_stderr.in_child = [] { ::close(2); };
  auto e = harness::run("in.txt\n", {{"in.txt", bad_row}}, no_stderr);
  EXPECT_EQ(e.signal, SIGABRT);
  EXPECT_EQ(e.err, "");
  EXPECT_EQ(e.files, (Files{{"in.txt", bad_row}}));

  // With standard output closed the console text is lost, but the files are complete.
  harness::Options no_stdout;
  no_stdout.in_child = [] { ::close(1); };
  auto o = harness::run(kAnswers, {{"in.txt", kRecord}}, no_stdout);
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.err, "");
  EXPECT_EQ(o.files, (Files{{"in.txt", kRecord}, {"amp2.csv", kAmp}, {"out.csv", kOut}}));

  // With standard input closed the first read meets the end of input.
  harness::Options no_stdin;
  no_stdin.in_child = [] { ::close(0); };
  expect_fatal({"closed standard input", {{"in.txt", kRecord}}, kAnswers, kAskInput,
                report("fmt: end of file", "apparent state: unit 5 (unnamed)", "(A30)", true), {{"in.txt", kRecord}}},
               no_stdin);
}

// Gives the answers up to the output file name, has the program stop itself before the 20th write
// of a file's block (amid the output file, after "amp2.csv"), sends sig and lets it go on; the final
// line is never given.
harness::Options signal_while_writing(int sig) {
  harness::Options o;
  o.program = harness::kKillableProgram;
  o.in_child = [] { ::setenv("WAVPROC_STOP_AT_STEP", "20", 1); };
  o.feed = [sig](pid_t pid, int fd, const std::string&) {
    const std::string answers = "in.txt\n0\n0\n0\n0\n0\nout.csv\n";
    (void)!::write(fd, answers.data(), answers.size());
    EXPECT_TRUE(harness::wait_until([&] { return harness::stopped(pid); }));
    ::kill(pid, sig);
    ::kill(pid, SIGCONT);
    ::close(fd);
  };
  return o;
}

TEST(Signal, InTheMiddleOfTheOutputFileLeavesWholeLines) {
  const std::string record = record_of(32768);
  auto whole = harness::run(kAnswers, {{"in.txt", record}});
  ASSERT_EQ(whole.status, 0);
  const std::string out = whole.files["out.csv"];
  ASSERT_GT(out.size(), 1500000u);

  for (auto [sig, message] : {std::pair{SIGINT, "Interrupt\n"}, std::pair{SIGTERM, "Killed\n"}}) {
    SCOPED_TRACE(message);
    auto r = harness::run("", {{"in.txt", record}}, signal_while_writing(sig));
    EXPECT_EQ(r.err, message);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, whole.out);
    EXPECT_EQ(r.files["in.txt"], record);
    EXPECT_EQ(r.files["amp2.csv"], whole.files["amp2.csv"]);
    // The blocks written before the signal: a start of the complete output that ends at a line end.
    ASSERT_EQ(r.files.count("out.csv"), 1u);
    const std::string& got = r.files["out.csv"];
    EXPECT_FALSE(got.empty());
    EXPECT_LT(got.size(), out.size());
    EXPECT_EQ(out.substr(0, got.size()), got);
    EXPECT_EQ(got.back(), '\n');
  }
}

TEST(Signal, InterruptEndsAnEndlessInputFile) {
  // A device that never ends is read for as long as it gives bytes; an interrupt stops the run.
  harness::Options o;
  o.feed = [](pid_t pid, int fd, const std::string&) {
    const std::string name = "/dev/zero\n";
    (void)!::write(fd, name.data(), name.size());
    EXPECT_TRUE(harness::wait_until([&] { return harness::has_open(pid, "/dev/zero"); }));
    ::kill(pid, SIGINT);
    ::close(fd);
  };
  auto r = harness::run("", {}, o);
  EXPECT_EQ(r.out, kAskInput);
  EXPECT_EQ(r.err, "Interrupt\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.files.empty());
}

// Runs with older, longer files in place and kills the program by SIGKILL at each write of a
// file's block and at each placing of a file in turn, until a run gets through. A temporary file
// left behind holds the start of the new file, in whole 64 KiB pieces until its last write, or,
// once swapped in, the older file.
TEST(Kill, LeavesEveryFileOlderOrWhole) {
  const std::string record = record_of(8192);
  auto whole = harness::run(kAnswers, {{"in.txt", record}});
  ASSERT_EQ(whole.status, 0);
  const std::string amp = whole.files["amp2.csv"], out = whole.files["out.csv"];
  const std::string old_amp(amp.size() + 3000, 'a'), old_out(out.size() + 3000, 'o');
  harness::Options o;
  o.program = harness::kKillableProgram;
  bool finished = false;
  int step = 1;
  for (; step < 60 && !finished; ++step) {
    SCOPED_TRACE(step);
    o.in_child = [step] { ::setenv("WAVPROC_KILL_AT_STEP", std::to_string(step).c_str(), 1); };
    auto r = harness::run(kAnswers, {{"in.txt", record}, {"amp2.csv", old_amp}, {"out.csv", old_out}}, o);
    finished = r.status == 0;
    if (!finished) {
      EXPECT_EQ(r.signal, SIGKILL);
    }
    EXPECT_EQ(r.files["in.txt"], record);
    EXPECT_TRUE(r.files["amp2.csv"] == old_amp || r.files["amp2.csv"] == amp);
    EXPECT_TRUE(r.files["out.csv"] == old_out || r.files["out.csv"] == out);
    // At most the temporary file of the file being written, named for what it is.
    for (const auto& [name, text] : r.files) {
      if (name == "in.txt" || name == "amp2.csv" || name == "out.csv") continue;
      EXPECT_FALSE(finished) << name;
      EXPECT_TRUE(name.ends_with(".tmp") && (name.starts_with("amp2.csv.wavproc-") || name.starts_with("out.csv.wavproc-")))
          << name;
      const bool spectrum = name.starts_with("amp2.csv");
      const std::string& full = spectrum ? amp : out;
      if (text == (spectrum ? old_amp : old_out)) continue;
      EXPECT_TRUE(full.starts_with(text)) << name;
      EXPECT_TRUE(text.size() % 65536 == 0 || text.size() == full.size()) << name << " holds " << text.size();
    }
  }
  EXPECT_TRUE(finished);
  EXPECT_GT(step, 8);  // several blocks of each file were met
}

TEST(Parallel, RunsInOneFolderLeaveOneRunsWholeFiles) {
  // Older files present as well: a run may find the file it opened replaced by the other's.
  const Files records{{"a.txt", record_of(3000)}, {"b.txt", record_of(5000)}, {"amp2.csv", "older"}, {"out.csv", "older"}};
  const std::vector<std::string> answers{"a.txt\n0\n0\n0\n0\n0\nout.csv\n\n", "b.txt\n0\n0\n0\n0\n0\nout.csv\n\n"};
  auto a = harness::run(answers[0], records);
  auto b = harness::run(answers[1], records);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    auto both = harness::run_together(answers, records);
    EXPECT_EQ(both[0].status, 0);
    EXPECT_EQ(both[1].status, 0);
    const Files& left = both[0].files;
    EXPECT_EQ(left.size(), 4u);
    for (const char* name : {"amp2.csv", "out.csv"}) {
      ASSERT_EQ(left.count(name), 1u);
      EXPECT_TRUE(left.at(name) == a.files[name] || left.at(name) == b.files[name]) << name;
    }
  }
}

// Reads fd to its end.
std::string read_all(int fd) {
  std::string text;
  char buf[65536];
  for (ssize_t n; (n = ::read(fd, buf, sizeof buf)) > 0;) text.append(buf, static_cast<std::size_t>(n));
  return text;
}

// A feed that names the FIFO in.fifo as the input file, with the answers of a plain run, and writes
// the three-sample record into it after the program has opened it.
void feed_record_through_fifo(pid_t, int fd, const std::string& stdout_path) {
  const std::string fifo = harness::work_folder(stdout_path) + "/in.fifo";
  ::mkfifo(fifo.c_str(), 0600);
  const std::string answers = "in.fifo\n0\n0\n0\n0\n0\nout.csv\n\n";
  (void)!::write(fd, answers.data(), answers.size());
  const int w = ::open(fifo.c_str(), O_WRONLY);
  (void)!::write(w, kRecord.data(), kRecord.size());
  ::close(w);
  ::close(fd);
}

TEST(SpecialFile, FifosAreReadToTheirEndAndGetEveryByte) {
  // The input file a FIFO whose writer comes after the program opened it: the record ends with the
  // writer's close.
  harness::Options in;
  in.feed = feed_record_through_fifo;
  auto r = harness::run("", {}, in);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.files, (Files{{"amp2.csv", kAmp}, {"out.csv", kOut}}));

  // The output file a FIFO whose reader comes later: it gets every byte, more than a pipe holds.
  const std::string record = record_of(4096);
  const std::string expected = harness::run(kAnswers, {{"in.txt", record}}).files["out.csv"];
  std::string got;
  harness::Options out;
  out.feed = [&got](pid_t pid, int fd, const std::string& stdout_path) {
    const std::string fifo = harness::work_folder(stdout_path) + "/out.fifo";
    ::mkfifo(fifo.c_str(), 0600);
    const std::string answers = "in.txt\n0\n0\n0\n0\n0\nout.fifo\n\n";
    (void)!::write(fd, answers.data(), answers.size());
    EXPECT_TRUE(harness::wait_until([&] { return harness::waiting(pid, fd); }));  // for a reader
    const int rd = ::open(fifo.c_str(), O_RDONLY);
    got = read_all(rd);
    ::close(rd);
    ::close(fd);
  };
  auto o = harness::run("", {{"in.txt", record}}, out);
  EXPECT_EQ(o.status, 0);
  EXPECT_GT(expected.size(), 65536u);
  EXPECT_EQ(got, expected);
}

TEST(SpecialFile, SignalsEndARunBlockedOnAFifo) {
  // Waiting for a FIFO's reader, and blocked in a write to a reader that does not read.
  const std::string record = record_of(8192);
  const std::string expected = harness::run(kAnswers, {{"in.txt", record}}).files["out.csv"];
  for (bool reader : {false, true}) {
    for (auto [sig, message] : {std::pair{SIGINT, "Interrupt\n"}, std::pair{SIGTERM, "Killed\n"}}) {
      SCOPED_TRACE(std::string(message) + (reader ? "with a reader" : "without a reader"));
      bool ended = false;
      std::string got;
      harness::Options o;
      const int signal_number = sig;  // clang before 16 cannot capture a structured binding
      o.feed = [&, reader, signal_number](pid_t pid, int fd, const std::string& stdout_path) {
        const std::string fifo = harness::work_folder(stdout_path) + "/out.fifo";
        ::mkfifo(fifo.c_str(), 0600);
        const std::string answers = "in.txt\n0\n0\n0\n0\n0\nout.fifo\n";
        (void)!::write(fd, answers.data(), answers.size());
        const int rd = reader ? ::open(fifo.c_str(), O_RDONLY) : -1;
        EXPECT_TRUE(harness::wait_until([&] { return harness::waiting(pid, fd); }));
        ::kill(pid, signal_number);
        ended = harness::wait_until([&] { return harness::ended(pid); });
        if (!ended) ::kill(pid, SIGKILL);
        if (rd >= 0) got = read_all(rd);
        if (rd >= 0) ::close(rd);
        ::close(fd);
      };
      auto r = harness::run("", {{"in.txt", record}}, o);
      EXPECT_TRUE(ended);
      EXPECT_EQ(r.status, 1);
      EXPECT_EQ(r.err, message);
      // What the reader got is whole lines, a start of the output.
      EXPECT_EQ(expected.substr(0, got.size()), got);
      if (reader) {
        EXPECT_EQ(got.back(), '\n');
      }
    }
  }
}

TEST(LongName, CutInsideAWordIsRefused) {
  const std::string cut_input = "station_A_record_of_2024_05.tx";  // the first 30 characters
  const std::string cut_output = "results_station_A_velocity.csv";
  expect_fatal({"input name", {{cut_input, kRecord}}, cut_input + "t\n", kAskInput,
                report("open: file name longer than 30 characters", "apparent state: unit 11 named " + cut_input, "", true),
                {{cut_input, kRecord}}});
  expect_fatal({"output name", {{"in.txt", kRecord}, {cut_output, "older"}}, "in.txt\n0\n0\n0\n0\n0\n" + cut_output + ".new\n",
                kWholeDialogue,
                report("open: file name longer than 30 characters", "apparent state: unit 11 named " + cut_output, "", true),
                {{"in.txt", kRecord}, {cut_output, "older"}, {"amp2.csv", kAmp}}});

  // A name of exactly 30 characters ends at its line end (CR LF too) or at a blank before a note.
  for (const std::string after : {"\r\n", " station A, second try\n"}) {
    auto r = harness::run("in.txt\n0\n0\n0\n0\n0\n" + cut_output + after + "\n", {{"in.txt", kRecord}});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.files, (Files{{"in.txt", kRecord}, {"amp2.csv", kAmp}, {cut_output, kOut}}));
  }
  // A blank in column 30 with text after it: the first 29 characters name the file, and an older
  // file of that name is replaced; the rest is a note.
  const std::string name29 = cut_output.substr(0, 29);
  auto r = harness::run("in.txt\n0\n0\n0\n0\n0\n" + name29 + " v2.csv\n\n", {{"in.txt", kRecord}, {name29, "older"}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.files, (Files{{"in.txt", kRecord}, {"amp2.csv", kAmp}, {name29, kOut}}));
}

TEST(ByteOrderMark, OnTheAnswersAndOnTheRecordIsPassedOver) {
  const std::string mark = "\xEF\xBB\xBF";
  auto r = harness::run(mark + kAnswers, {{"in.txt", mark + kRecord}});
  EXPECT_EQ(r.out, kWholeDialogue);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.files, (Files{{"in.txt", mark + kRecord}, {"amp2.csv", kAmp}, {"out.csv", kOut}}));
}

TEST(Rewrite, KeepsPermissionBitsLinksAndWritesInPlaceWhereItMust) {
  const std::string older(5000, 'x');
  // Through a symbolic link: the file it points to is replaced, keeping its permission bits.
  harness::Options linked;
  linked.in_child = [] {
    ::chmod("data/out.csv", 0640);
    (void)!::symlink("data/out.csv", "link.csv");
  };
  bool still_linked = false;
  mode_t mode = 0;
  linked.inspect = [&](const std::string& folder) {
    struct stat st = {};
    still_linked = ::lstat((folder + "/link.csv").c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    if (::stat((folder + "/data/out.csv").c_str(), &st) == 0) mode = st.st_mode & 07777;
  };
  auto l = harness::run("in.txt\n0\n0\n0\n0\n0\nlink.csv\n\n", {{"in.txt", kRecord}, {"data/out.csv", older}}, linked);
  EXPECT_EQ(l.status, 0);
  EXPECT_TRUE(still_linked);
  EXPECT_EQ(mode, 0640u);
  EXPECT_EQ(l.files, (Files{{"in.txt", kRecord}, {"amp2.csv", kAmp}, {"data/out.csv", kOut}}));

  // The console's own file as output file: written through the console's stream, after its text.
  auto console = harness::run("in.txt\n0\n0\n0\n0\n0\n/dev/stdout\n\n", {{"in.txt", kRecord}});
  EXPECT_EQ(console.status, 0);
  EXPECT_EQ(console.out, kWholeDialogue + kOut);
  EXPECT_EQ(console.files, (Files{{"in.txt", kRecord}, {"amp2.csv", kAmp}}));

  // A file with a second hard link is rewritten in place: both names show the new text.
  harness::Options hard;
  hard.in_child = [] { (void)!::link("out.csv", "other.csv"); };
  auto h = harness::run(kAnswers, {{"in.txt", kRecord}, {"out.csv", older}}, hard);
  EXPECT_EQ(h.status, 0);
  EXPECT_EQ(h.files, (Files{{"in.txt", kRecord}, {"amp2.csv", kAmp}, {"out.csv", kOut}, {"other.csv", kOut}}));

  // In a folder that cannot be written, the older, longer files are emptied and rewritten.
  auto r = harness::run(kAnswers, {{"in.txt", kRecord}, {"amp2.csv", older}, {"out.csv", older}}, unprivileged([] {
                          ::chmod("amp2.csv", 0666);
                          ::chmod("out.csv", 0666);
                          ::chmod(".", 0555);
                        }));
  if (r.status == kSkipped) GTEST_SKIP() << "cannot run as an unprivileged user";
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.files, (Files{{"in.txt", kRecord}, {"amp2.csv", kAmp}, {"out.csv", kOut}}));
}

// Skips the test unless it runs as root, which can give files to other users' ids.
#define NEEDS_ROOT() \
  if (::geteuid() != 0) GTEST_SKIP() << "needs root, to give files and links to another user's id"

TEST(SharedFolder, LinksAndFilesOfAnotherUserAreRefused) {
  NEEDS_ROOT();
  // The run's folder as /tmp is: sticky and writable by everyone, owned by root.
  const std::string victim = "precious\n";
  harness::Options planted_link;
  planted_link.in_child = [] {
    ::chmod(".", 01777);
    (void)!::symlink("victim.txt", "amp2.csv");
    (void)!::lchown("amp2.csv", kOther, kOther);
  };
  expect_fatal({"a link of another user", {{"in.txt", kRecord}, {"victim.txt", victim}}, kAnswers, kUntilSpectrum,
                report("open: Permission denied", "apparent state: unit 10 named amp2.csv", "list io", false),
                {{"in.txt", kRecord}, {"victim.txt", victim}}},
               planted_link);
  // Another user's file is not written either; another user's record is read as any other.
  harness::Options planted_file;
  planted_file.in_child = [] {
    ::chmod(".", 01777);
    (void)!::chown("out.csv", kOther, kOther);
    (void)!::chown("in.txt", kOther, kOther);
  };
  expect_fatal({"a file of another user", {{"in.txt", kRecord}, {"out.csv", "older"}}, kAnswers, kWholeDialogue,
                report("open: Permission denied", "apparent state: unit 11 named out.csv", "", true),
                {{"in.txt", kRecord}, {"amp2.csv", kAmp}, {"out.csv", "older"}}},
               planted_file);
  // A link of the folder's owner is followed, as the system follows it.
  harness::Options owners_link;
  owners_link.in_child = [] {
    ::chmod(".", 01777);
    (void)!::symlink("victim.txt", "amp2.csv");
  };
  auto r = harness::run(kAnswers, {{"in.txt", kRecord}, {"victim.txt", victim}}, owners_link);
  expect_success(r);
  EXPECT_EQ(r.files, (Files{{"in.txt", kRecord}, {"victim.txt", kAmp}, {"out.csv", kOut}}));
}

TEST(Rewrite, ATemporaryFileThatCannotBeMadeIsFatalAndLeavesTheFile) {
  // Four descriptors: the record comes through a FIFO (one), and the folder of "amp2.csv" takes
  // the last, so that its temporary file cannot be made.
  harness::Options o;
  o.in_child = [] {
    for (int fd = 3; fd < 64; ++fd) ::close(fd);
    const rlimit r{4, 4};
    ::setrlimit(RLIMIT_NOFILE, &r);
  };
  o.feed = feed_record_through_fifo;
  auto r = harness::run("", {{"amp2.csv", "older"}}, o);
  expect_fatal_end(r, kUntilSpectrum,
                   report("open: Too many open files", "apparent state: unit 10 named amp2.csv", "list io", false));
  EXPECT_EQ(r.files, (Files{{"amp2.csv", "older"}}));
}

TEST(Rewrite, AFileWhoseSyncOrCloseFailedIsNotPutInPlace) {
  for (const std::string step : {"sync", "close"}) {
    harness::Options o;
    o.program = harness::kKillableProgram;
    o.in_child = [step] { ::setenv("WAVPROC_FAIL", step.c_str(), 1); };
    expect_fatal({step.c_str(), {{"in.txt", kRecord}, {"amp2.csv", "older"}}, kAnswers, kUntilSpectrum,
                  report(step + ": Input/output error", "apparent state: unit 10 named amp2.csv", "", false),
                  {{"in.txt", kRecord}, {"amp2.csv", "older"}}},
                 o);
  }
}

// Starts wavproc in folder with answers as its standard input; returns its pid.
pid_t start_in(const std::string& folder, const std::string& answers) {
  int p[2];
  if (::pipe(p) != 0) return -1;
  (void)!::write(p[1], answers.data(), answers.size());
  ::close(p[1]);
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (::chdir(folder.c_str()) != 0 || null_fd < 0) ::_exit(127);
    ::dup2(p[0], 0);
    ::dup2(null_fd, 1);
    ::dup2(null_fd, 2);
    ::execl(WAVPROC_BINARY, "wavproc", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(p[0]);
  return pid;
}

// True when process pid waits for a file lock held by another.
bool waits_for_lock(pid_t pid) {
  std::ifstream locks("/proc/locks");
  char mark[24];
  std::snprintf(mark, sizeof mark, " %ld ", static_cast<long>(pid));
  for (std::string line; std::getline(locks, line);) {
    if (line.find("->") != std::string::npos && line.find(mark) != std::string::npos) return true;
  }
  return false;
}

TEST(Rewrite, RunsThatRewriteOneFileInPlaceTakeTurns) {
  // Run A stops after the first block of its output file, which has a second link; run B starts
  // then and must wait until A has ended: the file is then B's whole file, never a mix.
  const Files records{{"a.txt", record_of(4096)}, {"b.txt", record_of(5000)}, {"out.csv", "older"}};
  const std::string answers_a = "a.txt\n0\n0\n0\n0\n0\nout.csv\n\n", answers_b = "b.txt\n0\n0\n0\n0\n0\nout.csv\n\n";
  const auto b_alone = harness::run(answers_b, records);
  ASSERT_GT(b_alone.files.at("out.csv").size(), 3u * 65536u);
  harness::Options o;
  o.program = harness::kKillableProgram;
  // Steps 1 to 3 write and place "amp2.csv"; step 5 is the second block of the output file.
  o.in_child = [] {
    ::setenv("WAVPROC_STOP_AT_STEP", "5", 1);
    (void)!::link("out.csv", "other.csv");
  };
  int b_status = -1;
  bool b_waited = false;
  o.feed = [&](pid_t a, int fd, const std::string& stdout_path) {
    (void)!::write(fd, answers_a.data(), answers_a.size());
    ::close(fd);
    siginfo_t info = {};
    if (::waitid(P_PID, static_cast<id_t>(a), &info, WSTOPPED) != 0) return;
    const pid_t b = start_in(harness::work_folder(stdout_path), answers_b);
    for (;;) {
      b_waited = waits_for_lock(b);
      if (b_waited || ::waitid(P_PID, static_cast<id_t>(b), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid == b) break;
      std::this_thread::yield();
    }
    ::kill(a, SIGCONT);
    ::waitpid(b, &b_status, 0);
  };
  auto r = harness::run("", records, o);
  EXPECT_TRUE(b_waited);
  expect_success(r);
  EXPECT_EQ(b_status, 0);
  Files left = b_alone.files;
  left["other.csv"] = b_alone.files.at("out.csv");
  // Compared whole, without printing files of 200 kB.
  EXPECT_TRUE(r.files == left) << "the files are not run B's whole files";
}

TEST(Rewrite, TheReplacedFileKeepsItsGroupInASetgidFolder) {
  NEEDS_ROOT();
  // A new file in a setgid folder would take the folder's group; the older file's is given it.
  harness::Options o;
  o.in_child = [] {
    (void)!::chown("g", 0, kOtherGroup);
    ::chmod("g", 02777);
    (void)!::chown("g/out.csv", 0, 0);
  };
  gid_t group = kOtherGroup;
  o.inspect = [&group](const std::string& folder) {
    struct stat st = {};
    if (::stat((folder + "/g/out.csv").c_str(), &st) == 0) group = st.st_gid;
  };
  auto r = harness::run("in.txt\n0\n0\n0\n0\n0\ng/out.csv\n\n", {{"in.txt", kRecord}, {"g/out.csv", "older"}}, o);
  expect_success(r);
  EXPECT_EQ(group, 0u);
  EXPECT_EQ(r.files, (Files{{"in.txt", kRecord}, {"amp2.csv", kAmp}, {"g/out.csv", kOut}}));
}

}  // namespace
