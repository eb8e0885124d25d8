// The command line (wavproc RECORD [options]) end to end: the same files as the dialogue with the
// equivalent answers over generated runs, its reports, the default and long file names, and the
// options it refuses before anything is read.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "harness.h"
#include "pieces.h"

namespace {

using namespace pieces;

// The reports of a dialogue's console text: its lines without the questions and the empty lines.
std::string reports_of(const std::string& dialogue) {
  static const char* const kReports[] = {" NT and DT=", "  IF1,NF=", "  DUR,DOM,NOM,EOM=", "  Highest Frequency",
                                         " Number of Cutting Data =", " Number of data =", " New nt ="};
  std::istringstream lines(dialogue);
  std::string line, kept;
  while (std::getline(lines, line)) {
    for (const char* r : kReports) {
      if (line.rfind(r, 0) == 0) kept += line + "\n";
    }
  }
  return kept;
}

// Every generated session, on records of several lengths: both files the same bytes as the
// dialogue's, and standard output its reports. Every other run names its files, the others take
// the defaults; every third is quiet, every fifth without the syncs.
TEST(CommandLine, GivesTheDialoguesFilesForEveryGeneratedSession) {
  const int lengths[] = {2, 3, 5, 64, 100, 1000, 4097};
  for (std::uint32_t seed = 1; seed <= 28; ++seed) {
    const Session s = session_of(seed);
    const std::string record = record_of(lengths[seed % 7]);
    SCOPED_TRACE(s.answers);
    const auto dialogue = harness::run(s.answers, {{"in.txt", record}});
    expect_success(dialogue);

    harness::Options o;
    o.args = s.args;
    const bool named = seed % 2 == 0, quiet = seed % 3 == 0;
    const std::string output = named ? "w.csv" : "in.out.csv", spectrum = named ? "s.csv" : "amp2.csv";
    if (named) o.args.insert(o.args.end(), {"-o", output, "--spectrum", spectrum});
    if (quiet) o.args.push_back("--quiet");
    if (seed % 5 == 0) o.args.push_back("--no-sync");
    const auto line = harness::run("", {{"in.txt", record}}, o);
    expect_success(line);
    EXPECT_EQ(line.out, quiet ? "" : reports_of(dialogue.out));
    EXPECT_EQ(line.files.size(), 3u);
    EXPECT_EQ(line.files.at("in.txt"), record);
    EXPECT_EQ(line.files.at(spectrum), dialogue.files.at("amp2.csv"));
    EXPECT_EQ(line.files.at(output), dialogue.files.at("out.csv"));
  }
}

// Names far past the dialogue's 30 characters, blanks and commas included, in a folder whose name
// is longer still; the default waveform file goes to the working folder.
TEST(CommandLine, TakesFileNamesOfAnyLength) {
  const std::string folder(200, 'f');
  const std::string record = folder + "/a record, named at length " + std::string(150, 'r') + ".txt";
  harness::Options o;
  o.args = {record, "--spectrum", folder + "/" + std::string(180, 's') + ".csv", "--quiet"};
  const auto r = harness::run("", {{record, kRecord}}, o);
  expect_success(r);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.files.at(folder + "/" + std::string(180, 's') + ".csv"), kAmp);
  EXPECT_EQ(r.files.at("a record, named at length " + std::string(150, 'r') + ".out.csv"), kOut);
}

// A refused record and a fatal error end as in the dialogue: the same message and status, the same
// fatal report for the record's unit; the refusal shows with --quiet too, and nothing waits for
// standard input.
TEST(CommandLine, RefusalsAndFatalErrorsEndAsInTheDialogue) {
  harness::Options o;
  o.args = {"in.txt", "--quiet"};
  const auto refused = harness::run("", {{"in.txt", record_of(32769)}}, o);
  EXPECT_EQ(refused.out, "  NT>2**15 !!!!!\n");
  EXPECT_EQ(refused.status, 1);
  EXPECT_EQ(refused.files.size(), 1u);

  o.args = {"missing.txt"};
  const auto missing = harness::run("", {}, o);
  expect_fatal_end(missing, "",
                   report("list in: end of file", "apparent state: unit 11 named missing.txt", "list io", true));
  EXPECT_TRUE(missing.files.empty());

  o.args = {"in.txt", "-o", "no/such/folder/out.csv"};
  const auto unwritable = harness::run("", {{"in.txt", kRecord}}, o);
  expect_fatal_end(unwritable, reports_of(kWholeDialogue),
                   report("open: No such file or directory", "apparent state: unit 11 named no/such/folder/out.csv", "",
                          false));
  EXPECT_EQ(unwritable.files.at("amp2.csv"), kAmp);
}

// Each mistake of the call: its one line, status 2, nothing read or written (the record as it was,
// no other file).
TEST(CommandLine, RefusesBadOptionsBeforeAnythingIsRead) {
  struct Case {
    std::vector<std::string> args;
    std::string says;
  };
  const Case cases[] = {
      {{"in.txt", "--bandpass", "20,25,0.1,0.2"}, "--bandpass: the corners must be in order, 0 <= FL1 <= FL2 <= FH1 <= FH2 (Hz)"},
      {{"in.txt", "--bandpass", "-1,0,1,2"}, "--bandpass: the corners must be in order, 0 <= FL1 <= FL2 <= FH1 <= FH2 (Hz)"},
      {{"in.txt", "--bandpass", "0.1,0.2,20"}, "--bandpass takes four corners FL1,FL2,FH1,FH2 in Hz, not '0.1,0.2,20'"},
      {{"in.txt", "--bandpass", "0.1,0.2,20,25,30"}, "--bandpass takes four corners FL1,FL2,FH1,FH2 in Hz, not '0.1,0.2,20,25,30'"},
      {{"in.txt", "--bandpass", "0.1,0.2,2O,25"}, "--bandpass takes four corners FL1,FL2,FH1,FH2 in Hz, not '0.1,0.2,2O,25'"},
      {{"in.txt", "--bandpass", "0,0,1,inf"}, "--bandpass takes four corners FL1,FL2,FH1,FH2 in Hz, not '0,0,1,inf'"},
      {{"in.txt", "--cut", "-1,5"}, "--cut: the start and the duration cannot be negative"},
      {{"in.txt", "--cut", "1,-5"}, "--cut: the start and the duration cannot be negative"},
      {{"in.txt", "--cut", "10"}, "--cut takes START,DURATION in seconds, not '10'"},
      {{"in.txt", "--skip", "-1"}, "--skip: the number of samples left out cannot be negative"},
      {{"in.txt", "--skip", "1.5"}, "--skip takes a whole number of samples, not '1.5'"},
      {{"in.txt", "--skip", "99999999999"}, "--skip takes a whole number of samples, not '99999999999'"},
      {{"in.txt", "--skip"}, "--skip needs a value: a whole number of samples"},
      {{"in.txt", "-o"}, "-o needs a value: a file name"},
      {{"in.txt", "--flip", "3"}, "--flip takes the components to reverse, 1, 2 or 1,2, not '3'"},
      {{"in.txt", "--verbose"}, "unknown option: --verbose"},
      {{"in.txt", "--quiet=yes"}, "--quiet takes no value"},
      {{"in.txt", "--skip", "1", "--skip=2"}, "--skip given twice"},
      {{"--no-sync", "--no-sync"}, "--no-sync given twice"},
      {{"in.txt", "--integrate", "--differentiate"}, "--integrate, --double-integrate and --differentiate: choose one"},
      {{"in.txt", "in.txt"}, "one record per run: 'in.txt' and 'in.txt'"},
      {{"in.txt", "-o", "./in.txt"}, "the waveform file would replace the record: ./in.txt"},
      {{"in.txt", "--spectrum", "in.txt"}, "the spectrum file would replace the record: in.txt"},
      {{"in.txt", "-o", "x.csv", "--spectrum", "x.csv"}, "the waveform and the spectrum file are one file: x.csv"},
      {{"in.txt", "-o", "x.csv "}, "-o takes a file name that does not end in a blank"},
      {{""}, "a record name that is empty or ends in a blank: ''"},
      {{"--skip", "1"}, "--skip needs a record: wavproc RECORD [options]"},
      {{"--help", "in.txt"}, "--help takes no other arguments"},
      {{"--version", "--no-sync"}, "--version takes no other arguments"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    harness::Options o;
    o.args = c.args;
    const auto r = harness::run(kAnswers, {{"in.txt", kRecord}}, o);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "wavproc: " + c.says + "\nRun 'wavproc --help' for the usage.\n");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(r.files, (std::map<std::string, std::string>{{"in.txt", kRecord}}));
  }
}

}  // namespace
