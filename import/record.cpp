// The record writer: one wavproc record from two components, and the whole-file replacement.
#include "import/record.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace wavproc::import {

namespace {

// Appends the shortest decimal that reads back as value.
void put(std::string& out, double value) {
  char buf[32];
  auto result = std::to_chars(buf, buf + sizeof buf, value);
  out.append(buf, result.ptr);
}

// A header item as wavproc reads it back: quoted where it holds a slash.
std::string header_item(const std::string& name) {
  if (name.find('/') == std::string::npos) return name;
  return "'" + name + "'";
}

// Writes all of text to fd; false with errno set on failure.
bool write_all(int fd, const std::string& text) {
  const char* at = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, at, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes the times i*dt as the exact decimal multiples of dt's shortest decimal (38.98, never
// 38.980000000000004); time 1 is 0 and time 2 is dt's own text, so wavproc reads dt back exactly.
// A dt of too many digits for exact integer multiples gives the shortest decimal of i*dt instead.
class TimeWriter {
 public:
  explicit TimeWriter(double dt) : dt_(dt) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, dt, std::chars_format::scientific);
    std::string_view text(buf, static_cast<std::size_t>(r.ptr - buf));
    std::size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e)) {
      if (c >= '0' && c <= '9') digits += c;
    }
    int exponent = 0;
    std::string_view exp_text = text.substr(e + 1);
    if (!exp_text.empty() && exp_text[0] == '+') exp_text.remove_prefix(1);
    std::from_chars(exp_text.data(), exp_text.data() + exp_text.size(), exponent);
    exponent_ = exponent - static_cast<int>(digits.size()) + 1;
    std::from_chars(digits.data(), digits.data() + digits.size(), mantissa_);
    exact_ = dt > 0 && mantissa_ < (std::uint64_t{1} << 40) && exponent_ > -300 && exponent_ < 20;
  }

  void put_time(std::string& out, std::size_t i) const {
    if (!exact_) {
      put(out, static_cast<double>(i) * dt_);
      return;
    }
    std::uint64_t n = mantissa_ * i;
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, n);
    std::string digits(buf, r.ptr);
    if (exponent_ >= 0) {
      out += digits;
      if (n != 0) out.append(static_cast<std::size_t>(exponent_), '0');
      return;
    }
    auto places = static_cast<std::size_t>(-exponent_);
    if (digits.size() <= places) digits.insert(0, places - digits.size() + 1, '0');
    std::string whole = digits.substr(0, digits.size() - places);
    std::string fraction = digits.substr(digits.size() - places);
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    out += whole;
    if (!fraction.empty()) out += "." + fraction;
  }

 private:
  double dt_;
  std::uint64_t mantissa_ = 0;
  int exponent_ = 0;
  bool exact_ = false;
};

}  // namespace

std::string record_text(double dt, const std::string& name1, const std::string& name2,
                        std::span<const double> c1, std::span<const double> c2) {
  std::string out = "time " + header_item(name1) + " " + header_item(name2) + "\n";
  out.reserve(out.size() + c1.size() * 40);
  TimeWriter times(dt);
  for (std::size_t i = 0; i < c1.size(); ++i) {
    times.put_time(out, i);
    out += ' ';
    put(out, c1[i]);
    out += ' ';
    put(out, i < c2.size() ? c2[i] : 0.0);
    out += '\n';
  }
  return out;
}

std::string replace_file(const std::string& path, const std::string& text) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
    if (S_ISDIR(st.st_mode)) return path + ": is a folder";
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return path + ": " + std::strerror(errno);
    bool ok = write_all(fd, text);
    int err = errno;
    ::close(fd);
    return ok ? std::string() : path + ": " + std::strerror(err);
  }
  // A symbolic link keeps pointing where it did: the file it names is the one replaced.
  std::string target = path;
  if (char* real = ::realpath(path.c_str(), nullptr)) {
    target = real;
    std::free(real);
  }
  std::string temp = target + ".XXXXXX";
  std::vector<char> name(temp.begin(), temp.end());
  name.push_back('\0');
  int fd = ::mkstemp(name.data());
  if (fd < 0) return path + ": " + std::strerror(errno);
  bool ok = write_all(fd, text) && ::fsync(fd) == 0;
  int err = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    err = errno;
  }
  if (ok && ::rename(name.data(), target.c_str()) != 0) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(name.data());
    return path + ": " + std::strerror(err);
  }
  return {};
}

}  // namespace wavproc::import
