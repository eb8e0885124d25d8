// The shared pieces of the end-to-end tests (pieces.h).
#include "pieces.h"

#include <gtest/gtest.h>

#include <csignal>
#include <random>

namespace pieces {

namespace {

// A decimal of hundredths, as both modes read it: 1234 gives "12.34".
std::string hundredths(std::uint32_t n) { return std::to_string(n / 100) + "." + std::to_string(n % 100 / 10) + std::to_string(n % 10); }

}  // namespace

Session session_of(std::uint32_t seed) {
  std::mt19937 gen(seed);
  const auto draw = [&gen] { return static_cast<std::uint32_t>(gen()); };
  Session s;
  s.answers = "in.txt\n";
  s.args = {"in.txt"};
  const std::uint32_t flip = draw() % 4;  // none, 1, 2, both
  if (flip == 0) {
    s.answers += "0\n";
  } else {
    s.answers += "1\n" + std::to_string(flip & 1) + "\n" + std::to_string((flip >> 1) & 1) + "\n0\n";
    s.args.insert(s.args.end(), {"--flip", flip == 1 ? "1" : flip == 2 ? "2" : "1,2"});
  }
  if (draw() % 2 != 0) {
    std::uint32_t f[4];
    f[0] = draw() % 300;
    for (int i = 1; i < 4; ++i) {
      const std::uint32_t wide = draw() % 3;  // 0: equal neighbours
      f[i] = f[i - 1] + wide * (draw() % 1500);
    }
    const std::string corners = hundredths(f[0]) + "," + hundredths(f[1]) + "," + hundredths(f[2]) + "," + hundredths(f[3]);
    s.answers += "1\n" + hundredths(f[0]) + " " + hundredths(f[1]) + " " + hundredths(f[2]) + " " + hundredths(f[3]) + "\n";
    s.args.insert(s.args.end(), {"--bandpass", corners});
  } else {
    s.answers += "0\n";
  }
  const std::uint32_t nit = draw() % 4;
  s.answers += std::to_string(nit) + "\n";
  if (nit != 0) s.args.push_back(nit == 1 ? "--integrate" : nit == 2 ? "--double-integrate" : "--differentiate");
  if (draw() % 3 == 0) {
    const std::string start = hundredths(draw() % 2000), duration = hundredths(draw() % 3000);
    s.answers += "1\n" + start + "\n" + duration + "\n";
    s.args.insert(s.args.end(), {"--cut", start + "," + duration});
  } else {
    s.answers += "0\n";
  }
  const std::uint32_t skip = draw() % 4;
  s.answers += std::to_string(skip) + "\nout.csv\n\n";
  if (skip != 0) s.args.insert(s.args.end(), {"--skip", std::to_string(skip)});
  return s;
}

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
