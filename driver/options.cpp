// The command line: which mode the arguments ask for, and the choices of a run without the
// dialogue, each checked before any file is read.
#include <sys/stat.h>

#include <charconv>
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "driver/driver.h"
#include "fast_float/fast_float.h"

namespace wavproc {

namespace {

enum class Opt { flip, bandpass, integrate, double_integrate, differentiate, cut, skip, output, spectrum, quiet,
                 no_sync, help, version, count };

struct OptionName {
  std::string_view name;
  Opt opt;
  std::string_view value;  // the form of its value, as a mistake names it; empty: it takes none
};

constexpr OptionName kOptions[] = {
    {"--flip", Opt::flip, "1, 2 or 1,2"},
    {"--bandpass", Opt::bandpass, "four corners FL1,FL2,FH1,FH2 in Hz"},
    {"--integrate", Opt::integrate, ""},
    {"--double-integrate", Opt::double_integrate, ""},
    {"--differentiate", Opt::differentiate, ""},
    {"--cut", Opt::cut, "START,DURATION in seconds"},
    {"--skip", Opt::skip, "a whole number of samples"},
    {"-o", Opt::output, "a file name"},
    {"--output", Opt::output, "a file name"},
    {"--spectrum", Opt::spectrum, "a file name"},
    {"--quiet", Opt::quiet, ""},
    {"--no-sync", Opt::no_sync, ""},
    {"-h", Opt::help, ""},
    {"--help", Opt::help, ""},
    {"--version", Opt::version, ""},
};

// The option of that name, or null.
const OptionName* find_option(std::string_view name) {
  for (const OptionName& o : kOptions) {
    if (o.name == name) return &o;
  }
  return nullptr;
}

// Reads text whole as a finite double, locale-free and exactly rounded; false when it is not one.
bool read_real(std::string_view text, double& v) {
  if (text.empty()) return false;
  const char* end = text.data() + text.size();
  const fast_float::from_chars_result r = fast_float::from_chars(text.data(), end, v);
  return r.ec == std::errc() && r.ptr == end && std::isfinite(v);
}

// Reads text as exactly out.size() doubles separated by commas; false when it is not that.
bool read_reals(std::string_view text, std::span<double> out) {
  for (std::size_t i = 0; i < out.size(); ++i) {
    const std::size_t comma = i + 1 < out.size() ? text.find(',') : std::string_view::npos;
    if (i + 1 < out.size() && comma == std::string_view::npos) return false;
    if (!read_real(text.substr(0, comma), out[i])) return false;
    text.remove_prefix(comma == std::string_view::npos ? text.size() : comma + 1);
  }
  return true;
}

// The default waveform file of a record: its name without folder and last extension, plus
// ".out.csv", in the working folder (data/kobe.txt gives kobe.out.csv).
std::string default_output(std::string_view record) {
  const std::size_t slash = record.rfind('/');
  std::string_view stem = slash == std::string_view::npos ? record : record.substr(slash + 1);
  const std::size_t dot = stem.rfind('.');
  if (dot != std::string_view::npos && dot > 0) stem = stem.substr(0, dot);
  return std::string(stem) + ".out.csv";
}

// Whether the names a and b name one file: the same text, or the same file on the disk.
bool one_file(const std::string& a, const std::string& b) {
  if (a == b) return true;
  struct stat sa = {}, sb = {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// Takes the value of one option into the command line; returns what is wrong with it, if anything.
std::optional<std::string> take(const OptionName& o, std::string_view value, CommandLine& c) {
  Choices& ch = c.choices;
  const std::string name(o.name);
  switch (o.opt) {
    case Opt::flip:
      for (;;) {
        const std::size_t comma = value.find(',');
        const std::string_view item = value.substr(0, comma);
        if (item == "1") {
          ch.flip1 = true;
        } else if (item == "2") {
          ch.flip2 = true;
        } else {
          return name + " takes the components to reverse, 1, 2 or 1,2, not '" + std::string(value) + "'";
        }
        if (comma == std::string_view::npos) return std::nullopt;
        value.remove_prefix(comma + 1);
      }
    case Opt::bandpass: {
      double f[4];
      if (!read_reals(value, f)) return name + " takes four corners FL1,FL2,FH1,FH2 in Hz, not '" + std::string(value) + "'";
      if (!(0.0 <= f[0] && f[0] <= f[1] && f[1] <= f[2] && f[2] <= f[3])) {
        return name + ": the corners must be in order, 0 <= FL1 <= FL2 <= FH1 <= FH2 (Hz)";
      }
      ch.bandpass = true;
      ch.fl1 = f[0];
      ch.fl2 = f[1];
      ch.fh1 = f[2];
      ch.fh2 = f[3];
      return std::nullopt;
    }
    case Opt::integrate:
    case Opt::double_integrate:
    case Opt::differentiate:
      if (ch.nit != 0) return std::string("--integrate, --double-integrate and --differentiate: choose one");
      ch.nit = o.opt == Opt::integrate ? 1 : o.opt == Opt::double_integrate ? 2 : 3;
      return std::nullopt;
    case Opt::cut: {
      double w[2];
      if (!read_reals(value, w)) return name + " takes START,DURATION in seconds, not '" + std::string(value) + "'";
      if (w[0] < 0.0 || w[1] < 0.0) return name + ": the start and the duration cannot be negative";
      ch.cut = true;
      ch.stime = w[0];
      ch.cutdur = w[1];
      return std::nullopt;
    }
    case Opt::skip: {
      const char* end = value.data() + value.size();
      const std::from_chars_result r = std::from_chars(value.data(), end, ch.skip);
      if (value.empty() || r.ec != std::errc() || r.ptr != end) {
        return name + " takes a whole number of samples, not '" + std::string(value) + "'";
      }
      if (ch.skip < 0) return name + ": the number of samples left out cannot be negative";
      return std::nullopt;
    }
    case Opt::output:
    case Opt::spectrum:
      // A trailing blank would be dropped at the open, which would then name another file.
      if (value.empty() || value.back() == ' ') return name + " takes a file name that does not end in a blank";
      (o.opt == Opt::output ? ch.output : ch.spectrum) = value;
      return std::nullopt;
    case Opt::quiet:
      ch.quiet = true;
      return std::nullopt;
    case Opt::no_sync:
      c.sync = false;
      return std::nullopt;
    case Opt::help:
    case Opt::version:
    case Opt::count:
      return std::nullopt;
  }
  return std::nullopt;
}

// The command line of a mistake: what is wrong, in one line.
CommandLine mistake(std::string what) {
  CommandLine c;
  c.action = CommandLine::Action::mistake;
  c.mistake = std::move(what);
  return c;
}

}  // namespace

CommandLine read_command_line(int argc, const char* const* argv) {
  CommandLine c;
  Choices& ch = c.choices;
  bool seen[static_cast<int>(Opt::count)] = {};
  bool have_record = false;
  std::string_view first_option;  // the first option that only a run on the command line takes
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg.empty() || arg[0] != '-' || arg == "-") {
      if (arg.empty() || arg.back() == ' ') return mistake("a record name that is empty or ends in a blank: '" + std::string(arg) + "'");
      if (have_record) return mistake("one record per run: '" + ch.record + "' and '" + std::string(arg) + "'");
      ch.record = arg;
      have_record = true;
      continue;
    }
    // A long option may carry its value after '=': --skip=1.
    const std::size_t equals = arg.starts_with("--") ? arg.find('=') : std::string_view::npos;
    const std::string_view name = arg.substr(0, equals);
    const OptionName* o = find_option(name);
    if (o == nullptr) return mistake("unknown option: " + std::string(arg));
    if (seen[static_cast<int>(o->opt)]) return mistake(std::string(name) + " given twice");
    seen[static_cast<int>(o->opt)] = true;
    std::string_view value;
    if (o->value.empty()) {
      if (equals != std::string_view::npos) return mistake(std::string(name) + " takes no value");
    } else if (equals != std::string_view::npos) {
      value = arg.substr(equals + 1);
    } else if (i + 1 < argc) {
      value = argv[++i];
    } else {
      return mistake(std::string(name) + " needs a value: " + std::string(o->value));
    }
    if (auto wrong = take(*o, value, c)) return mistake(std::move(*wrong));
    if (o->opt != Opt::no_sync && o->opt != Opt::help && o->opt != Opt::version && first_option.empty()) {
      first_option = name;
    }
  }

  const bool help = seen[static_cast<int>(Opt::help)];
  if (help || seen[static_cast<int>(Opt::version)]) {
    if (argc != 2) return mistake(std::string(help ? "--help" : "--version") + " takes no other arguments");
    c.action = help ? CommandLine::Action::help : CommandLine::Action::version;
    return c;
  }
  if (!have_record) {
    if (!first_option.empty()) return mistake(std::string(first_option) + " needs a record: wavproc RECORD [options]");
    return c;
  }
  if (ch.output.empty()) ch.output = default_output(ch.record);
  if (one_file(ch.output, ch.record)) return mistake("the waveform file would replace the record: " + ch.output);
  if (one_file(ch.spectrum, ch.record)) return mistake("the spectrum file would replace the record: " + ch.spectrum);
  if (one_file(ch.output, ch.spectrum)) return mistake("the waveform and the spectrum file are one file: " + ch.output);
  c.action = CommandLine::Action::run;
  return c;
}

}  // namespace wavproc
