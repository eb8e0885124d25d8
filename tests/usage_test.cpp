// How the program is used from a shell: its command-line arguments, the version that the manual
// names, and examples/batch.sh over several records.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
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

TEST(Arguments, AHelpTextThatCannotBeWrittenIsAFailure) {
  harness::Options full;
  full.in_child = [] { ::dup2(::open("/dev/full", O_WRONLY), 1); };
  const auto r = run_with({"--version"}, full);
  EXPECT_EQ(r.err, "wavproc: cannot write: No space left on device\n");
  EXPECT_EQ(r.status, 1);
}

// Three records, one of them too long for the transform: two complete results, each the same as
// a run by hand, one refusal in the summary and a status that says not every run succeeded.
TEST(Batch, ThreeRecordsGiveTwoResultsAndOneRefusal) {
  const auto single = harness::run(kAnswers, {{"in.txt", kRecord}});
  ASSERT_EQ(single.status, 0);
  const std::string too_long = record_of(32769);
  const std::string long_name = "a record whose name is longer than thirty characters.txt";

  harness::Options o;
  o.program = "bash";
  o.args = {std::string(WAVPROC_SOURCE_DIR) + "/examples/batch.sh", "-j", "2", "answers.txt", "res",
            "data/one.txt", "data/long.txt", long_name};
  o.in_child = [] { ::setenv("WAVPROC", WAVPROC_BINARY, 1); };
  auto r = harness::run("", {{"answers.txt", kAnswers}, {"data/one.txt", kRecord}, {"data/long.txt", too_long},
                             {long_name, kRecord}},
                        o);
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

}  // namespace
