// The pieces that the end-to-end tests share: the three-sample record with its answers, console
// text and files, a record of any length, the fatal report, and the checks of how a run ended.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "harness.h"

namespace pieces {

// The three-sample record (dt 0.01 s; NS 1, 2, 3; EW zeros) and the answers of a plain run of it.
inline const std::string kRecord = "Time NS EW\n0 1 0\n0.01 2 0\n0.02 3 0\n";
inline const std::string kAnswers = "in.txt\n0\n0\n0\n0\n0\nout.csv\n\n";

// The console text of each part of the dialogue for the three-sample record.
inline const std::string kAskInput = "\nEnter input file of waveform data\n";
inline const std::string kInput = kAskInput + "\n NT and DT= 3  0.01\n";
inline const std::string kPolarityAsk = "\n  Change +/-? (YES=1)?? :\n";
inline const std::string kPolarityComponents =
    "\n  Change from + to - of FILE 1 ? (YES=1)?? :\n"
    "  Change from + to - of FILE 2 ? (YES=1)?? :\n"
    "  Change from + to - of FILE 3 ? (YES=1)?? :\n";
inline const std::string kTransform =
    "\n  IF1,NF= 2 4\n"
    "\n  DUR,DOM,NOM,EOM=  0.04  157.079633 3  471.238898\n"
    "  Highest Frequency (hz)=  75.\n";
inline const std::string kBandAsk = "\n  Band Pass Filter? (YES=1)?? :\n";
inline const std::string kBandCorners = "\n   TRAPEZOIDAL BAND PATH FILTER\n   ENTER fL1<fL2<fH1<fH2 (Hz)\n";
inline const std::string kMenu =
    "\n  Integration/Differentiation:\n"
    "  NO Change         :                 (Enter=0)\n"
    "  Integration       : Ex.) acc -> vel (Enter=1)\n"
    "  Double Integration: Ex.) acc -> dis (Enter=2)\n"
    "  Differentiation:  : Ex.) Vel -> acc (Enter=3)\n";
inline const std::string kSpectrum = "\n Fourier Spectrum data are stored in \"amp2.csv\"\n";
inline const std::string kCutAsk = "\n Cutting data? (No=0,Yes=1)\n";
inline const std::string kSkipAsk = "\n Skip Data (no=0; yes=skip number)?\n";
inline const std::string kOutputAsk = "\n Enter output file name of waveform (csv format file)\n";
inline const std::string kWholeDialogue =
    kInput + kPolarityAsk + kTransform + kBandAsk + kMenu + kSpectrum + kCutAsk + kSkipAsk + kOutputAsk;

// The two files of a plain run of the three-sample record: their headers and their rows.
inline const std::string kAmpHeader = " frequency(Hz),NS                  ,EW                  \n";
inline const std::string kOutHeader = " time(s),NS                  ,EW                  \n";
inline const std::string kAmpRows = " 25.0000,  0.2828E-01,  0.0000E+00,\n 50.0000,  0.2000E-01,  0.0000E+00,\n";
inline const std::string kOutRows =
    " 0.000,      1.0000,      0.0000,      0.0000,\n"
    " 0.010,      2.0000,      0.0000,      0.0000,\n"
    " 0.020,      3.0000,      0.0000,      0.0000,\n";
inline const std::string kAmp = kAmpHeader + kAmpRows;
inline const std::string kOut = kOutHeader + kOutRows;

// A record of n rows at 0.01 s with small whole-number samples.
std::string record_of(int n);

// One generated run: the dialogue's answers (input in.txt, output out.csv) and the equivalent
// options of the command line.
struct Session {
  std::string answers;
  std::vector<std::string> args;
};
// The session of seed: a choice of polarity, band-pass (equal neighbouring corners included),
// operation, cut and skip, each drawn from the generator alone, so every platform draws the same.
Session session_of(std::uint32_t seed);

// The fatal report: its first line, the unit line, the format line when there is one, the direction.
std::string report(const std::string& first, const std::string& state, const std::string& format, bool reading);

// Checks that a run ended with status 0 and nothing on standard error.
void expect_success(const harness::Result& r);
// Checks that a run ended with the fatal report err (SIGABRT) after the console text out.
void expect_fatal_end(const harness::Result& r, const std::string& out, const std::string& err);

}  // namespace pieces
