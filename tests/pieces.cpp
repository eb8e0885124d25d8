// The shared pieces of the end-to-end tests (pieces.h).
#include "pieces.h"

#include <gtest/gtest.h>

#include <csignal>

namespace pieces {

std::string record_of(int n) {
  std::string r = "Time NS EW\n";
  for (int i = 0; i < n; ++i) {
    r += std::to_string(i / 100) + "." + std::to_string(i % 100 / 10) + std::to_string(i % 10) + " " +
         std::to_string(i % 7 - 3) + " " + std::to_string(i % 5 - 2) + "\n";
  }
  return r;
}

std::string report(const std::string& first, const std::string& state, const std::string& format, bool reading) {
  std::string r = first + "\n" + state + "\n";
  if (!format.empty()) r += "last format: " + format + "\n";
  r += reading ? "lately reading sequential formatted external IO\n" : "lately writing sequential formatted external IO\n";
  return r;
}

void expect_success(const harness::Result& r) {
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.err, "");
}

void expect_fatal_end(const harness::Result& r, const std::string& out, const std::string& err) {
  EXPECT_EQ(r.out, out);
  EXPECT_EQ(r.err, err);
  EXPECT_EQ(r.signal, SIGABRT);
}

}  // namespace pieces
