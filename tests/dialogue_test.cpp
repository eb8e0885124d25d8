// The console dialogue end to end: every record in order, odd but valid answers, the fatal
// reports of bad answers and of the end of input, and the signals.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "harness.h"
#include "pieces.h"

namespace {

using namespace pieces;

TEST(Dialogue, WholeRunOfTheThreeSampleRecord) {
  auto r = harness::run(kAnswers, {{"in.txt", kRecord}});
  expect_success(r);
  EXPECT_EQ(r.out, kWholeDialogue);
  EXPECT_EQ(r.files.size(), 3u);
  EXPECT_EQ(r.files["in.txt"], kRecord);
  EXPECT_EQ(r.files["amp2.csv"], kAmp);
  EXPECT_EQ(r.files["out.csv"], kOut);
}

TEST(Dialogue, OddButValidAnswers) {
  struct Case {
    const char* what;
    std::string answers;
    std::string out;
  };
  const Case cases[] = {
      // Yes, then three noes: all three component questions are shown and nothing changes.
      {"yes then noes", "in.txt\n1\n0\n0\n0\n0\n0\n0\n0\nout.csv\n\n",
       kInput + kPolarityAsk + kPolarityComponents + kTransform + kBandAsk + kMenu + kSpectrum + kCutAsk + kSkipAsk +
           kOutputAsk},
      // The rest of an answer's line is discarded; blank lines are passed over without a new prompt.
      {"extra text, blank lines", "in.txt\n\n\n0 extra text\n  \n\t\n0,5\n0\n0\n0\nout.csv\n\n", kWholeDialogue},
      // A slash and a null value leave the answer at its start value 0 (no); 2*7 reads 7, also a no.
      {"slash, null, 2*7", "in.txt\n/\n,1\n2*7\n0\n0\nout.csv\n\n", kWholeDialogue},
      // Menu answers other than 1, 2, 3 change nothing.
      {"menu 4", "in.txt\n0\n0\n4\n0\n0\nout.csv\n\n", kWholeDialogue},
      {"menu -1", "in.txt\n0\n0\n-1\n0\n0\nout.csv\n\n", kWholeDialogue},
      // The final wait ends at the end of input as well.
      {"no final line", "in.txt\n0\n0\n0\n0\n0\nout.csv\n", kWholeDialogue},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = harness::run(c.answers, {{"in.txt", kRecord}});
    expect_success(r);
    EXPECT_EQ(r.out, c.out);
    EXPECT_EQ(r.files["amp2.csv"], kAmp);
    EXPECT_EQ(r.files["out.csv"], kOut);
  }
}

TEST(Dialogue, BadAnswersAreFatalWithTheFourLineReport) {
  const std::string console = "apparent state: unit 5 (unnamed)";
  struct Case {
    const char* what;
    std::string answers;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {"letter for an integer", "in.txt\ny\n", kInput + kPolarityAsk,
       report("invalid number: incomprehensible list input", console, "list io", true)},
      {"decimal point in an integer", "in.txt\n1.0\n", kInput + kPolarityAsk,
       report("invalid integer: read unexpected character", console, "list io", true)},
      {"exponent in an integer", "in.txt\n1e0\n", kInput + kPolarityAsk,
       report("invalid integer: read unexpected character", console, "list io", true)},
      {"integer beyond 32 bits", "in.txt\n99999999999\n", kInput + kPolarityAsk,
       report("invalid integer: value out of 32-bit range", console, "list io", true)},
      {"zero repeat count", "in.txt\n0*1\n", kInput + kPolarityAsk,
       report("bad repetition count: incomprehensible list input", console, "list io", true)},
      {"exponent without digits", "in.txt\n0\n1\n1e\n", kInput + kPolarityAsk + kTransform + kBandAsk + kBandCorners,
       report("exponent field: incomprehensible list input", console, "list io", true)},
      {"end of input at the file name", "", "\nEnter input file of waveform data\n",
       report("fmt: end of file", console, "(A30)", true)},
      {"end of input at a yes/no answer", "in.txt\n", kInput + kPolarityAsk,
       report("list in: end of file", console, "list io", true)},
      {"end of input inside the corners", "in.txt\n0\n1\n0.1 0.2\n",
       kInput + kPolarityAsk + kTransform + kBandAsk + kBandCorners,
       report("list in: end of file", console, "list io", true)},
      {"end of input at a cut time", "in.txt\n0\n0\n0\n1\n",
       kInput + kPolarityAsk + kTransform + kBandAsk + kMenu + kSpectrum + kCutAsk + " Enter Starting Time (sec)\n",
       report("list in: end of file", console, "list io", true)},
      {"end of input at the output name", "in.txt\n0\n0\n0\n0\n0\n", kWholeDialogue,
       report("fmt: end of file", console, "(A30)", true)},
      {"short last line at the output name", "in.txt\n0\n0\n0\n0\n0\nout.csv", kWholeDialogue,
       report("fmt: end of file", console, "(A30)", true)},
      // The last answer had no line end, so the unit already met its end: the next read fails at once.
      {"answer without line end, then more reads", "in.txt\n0", kInput + kPolarityAsk + kTransform + kBandAsk,
       report("read start: end of file", console, "list io", true)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto r = harness::run(c.answers, {{"in.txt", kRecord}});
    expect_fatal_end(r, c.out, c.err);
    EXPECT_EQ(r.files["in.txt"], kRecord);
  }
}

TEST(Dialogue, FileNames) {
  // A missing input file reads as empty: its header read meets the end of the file, and no file
  // of that name is left behind.
  auto missing = harness::run("data.txt\n", {});
  EXPECT_EQ(missing.out, "\nEnter input file of waveform data\n");
  EXPECT_EQ(missing.err, report("list in: end of file", "apparent state: unit 11 named data.txt", "list io", true));
  EXPECT_EQ(missing.signal, SIGABRT);
  EXPECT_TRUE(missing.files.empty());

  // An empty line for the input name is an all-blank name.
  auto blank = harness::run("\n", {});
  EXPECT_EQ(blank.err, report("open: null file name", "apparent state: unit 11 named ", "", true));
  EXPECT_EQ(blank.signal, SIGABRT);

  // An all-blank output name: "amp2.csv" is complete, and there is no "last format" line.
  auto out_blank = harness::run("in.txt\n0\n0\n0\n0\n0\n      \n", {{"in.txt", kRecord}});
  EXPECT_EQ(out_blank.out, kWholeDialogue);
  EXPECT_EQ(out_blank.err, report("open: null file name", "apparent state: unit 11 named ", "", true));
  EXPECT_EQ(out_blank.files["amp2.csv"], kAmp);
  EXPECT_EQ(out_blank.files.size(), 2u);

  // Leading blanks stay part of a name; characters past the 30th are lost; the input file's own
  // name as output name replaces it.
  auto lead = harness::run("  in.txt\n0\n0\n0\n0\n0\nin.txt" + std::string(24, ' ') + "ignored\n\n", {{"  in.txt", kRecord}});
  EXPECT_EQ(lead.status, 0);
  EXPECT_EQ(lead.files["  in.txt"], kRecord);
  EXPECT_EQ(lead.files["in.txt"], kOut);
  auto same = harness::run("in.txt\n0\n0\n0\n0\n0\nin.txt\n\n", {{"in.txt", kRecord}});
  EXPECT_EQ(same.files["in.txt"], kOut);
  // The spectrum file may still be taking its place when the output file of its name is opened:
  // the output file is what is left, alone.
  auto spectrum = harness::run("in.txt\n0\n0\n0\n0\n0\namp2.csv\n\n", {{"in.txt", kRecord}, {"amp2.csv", "older"}});
  EXPECT_EQ(spectrum.status, 0);
  EXPECT_EQ(spectrum.files, (std::map<std::string, std::string>{{"in.txt", kRecord}, {"amp2.csv", kOut}}));
}

TEST(Dialogue, OlderLongerFilesAreCutToWhatThisRunWrote) {
  const std::string old(5000, 'x');
  auto r = harness::run("in.txt\n0\n0\n0\n0\n0\nout.csv\n\n", {{"in.txt", kRecord}, {"amp2.csv", old}, {"out.csv", old}});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.files["amp2.csv"], kAmp);
  EXPECT_EQ(r.files["out.csv"], kOut);
}

// Sends sig once the program waits for the polarity answer, then gives the rest of the answers
// (the handler runs before the program could read them).
harness::Options signal_at_first_prompt(int sig, bool ignore_interrupt) {
  harness::Options o;
  if (ignore_interrupt) o.in_child = [] { ::signal(SIGINT, SIG_IGN); };
  o.feed = [sig](pid_t pid, int fd, const std::string& out_path) {
    const std::string name = "in.txt\n";
    (void)!::write(fd, name.data(), name.size());
    EXPECT_TRUE(harness::wait_until([&] { return harness::holds(out_path, "(YES=1)?? :\n") && harness::waiting(pid, fd); }));
    ::kill(pid, sig);
    const std::string rest = "0\n0\n0\n0\n0\nout.csv\n\n";
    (void)!::write(fd, rest.data(), rest.size());
    ::close(fd);
  };
  return o;
}

TEST(Dialogue, Signals) {
  auto interrupted = harness::run("", {{"in.txt", kRecord}}, signal_at_first_prompt(SIGINT, false));
  EXPECT_EQ(interrupted.out, kInput + kPolarityAsk);
  EXPECT_EQ(interrupted.err, "Interrupt\n");
  EXPECT_EQ(interrupted.status, 1);

  auto terminated = harness::run("", {{"in.txt", kRecord}}, signal_at_first_prompt(SIGTERM, false));
  EXPECT_EQ(terminated.out, kInput + kPolarityAsk);
  EXPECT_EQ(terminated.err, "Killed\n");
  EXPECT_EQ(terminated.status, 1);

  // An abort or arithmetic-fault signal from outside is reported and ends the run abnormally.
  auto aborted = harness::run("", {{"in.txt", kRecord}}, signal_at_first_prompt(SIGABRT, false));
  EXPECT_EQ(aborted.err, "IOT Trap\n");
  EXPECT_EQ(aborted.signal, SIGABRT);
  auto faulted = harness::run("", {{"in.txt", kRecord}}, signal_at_first_prompt(SIGFPE, false));
  EXPECT_EQ(faulted.err, "Floating Exception\n");
  EXPECT_EQ(faulted.signal, SIGABRT);

  // An interrupt ignored when the run starts stays ignored: the run goes on to its normal end.
  auto ignored = harness::run("", {{"in.txt", kRecord}}, signal_at_first_prompt(SIGINT, true));
  EXPECT_EQ(ignored.out, kWholeDialogue);
  EXPECT_EQ(ignored.err, "");
  EXPECT_EQ(ignored.status, 0);
  EXPECT_EQ(ignored.files["out.csv"], kOut);
}

// Reads from the terminal's master side until text has arrived (or the wait gives up).
std::string read_until(int master, const std::string& text) {
  std::string got;
  harness::wait_until([&] {
    pollfd p = {master, POLLIN, 0};
    bool closed = false;
    while (!closed && ::poll(&p, 1, 0) > 0) {
      char buf[256];
      const ssize_t n = ::read(master, buf, sizeof buf);
      closed = n <= 0;
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    return closed || got.find(text) != std::string::npos;
  });
  return got;
}

TEST(Dialogue, PromptsAreVisibleOnATerminalBeforeTheProgramWaits) {
  char dir_template[] = "/tmp/wavproc-pty-XXXXXX";
  ASSERT_NE(::mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  FILE* f = std::fopen((dir + "/in.txt").c_str(), "w");
  std::fputs(kRecord.c_str(), f);
  std::fclose(f);

  int master = -1;
  pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (::chdir(dir.c_str()) != 0) ::_exit(127);
    ::execl(WAVPROC_BINARY, "wavproc", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Each prompt must arrive while the program is still waiting for its answer.
  EXPECT_NE(read_until(master, "Enter input file of waveform data").find("waveform data"), std::string::npos);
  (void)!::write(master, "in.txt\n", 7);
  EXPECT_NE(read_until(master, "(YES=1)?? :").find("Change +/-?"), std::string::npos);
  (void)!::write(master, "0\n", 2);
  EXPECT_NE(read_until(master, "Band Pass Filter? (YES=1)?? :").find("Band Pass"), std::string::npos);
  (void)!::write(master, "0\n0\n", 4);
  EXPECT_NE(read_until(master, "(No=0,Yes=1)").find("Cutting data?"), std::string::npos);
  (void)!::write(master, "0\n", 2);
  EXPECT_NE(read_until(master, "skip number)?").find("Skip Data"), std::string::npos);
  (void)!::write(master, "0\n", 2);
  EXPECT_NE(read_until(master, "(csv format file)").find("output file name"), std::string::npos);
  (void)!::write(master, "out.csv\n\n", 9);
  int status = 0;
  ::waitpid(pid, &status, 0);
  ::close(master);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  std::remove((dir + "/in.txt").c_str());
  std::remove((dir + "/amp2.csv").c_str());
  std::remove((dir + "/out.csv").c_str());
  ::rmdir(dir.c_str());
}

}  // namespace
