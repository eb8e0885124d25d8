// wavproc-import: writes wavproc records from the files that data centres publish and from plain
// columns. Reads the command line, reads every file through the format table, groups the traces
// into records, and writes each record whole.
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "import/import.h"

namespace {

constexpr const char* kUsage =
    "Usage: wavproc-import [OPTION]... -o RECORD FILE [FILE]\n"
    "       wavproc-import [OPTION]... -d FOLDER FILE...\n"
    "       wavproc-import --check RECORD...\n";

}  // namespace

int main(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::fputs("wavproc-import " WAVPROC_VERSION "\n", stdout);
      return 0;
    }
  }
  std::fputs(kUsage, stderr);
  return 2;
}
