// The record check: the header's three names as wavproc's free-form reading takes them (blanks,
// commas and line ends separate, quotes enclose, a slash ends the read), the rows as three numbers
// at a time, and the interval as time 2 minus time 1.
#include "import/check.h"

#include <cmath>
#include <cstdio>
#include <string_view>

#include "import/text_fields.h"

namespace wavproc::import {

namespace {

constexpr std::size_t kNameLength = 20;
constexpr std::size_t kMostRows = 32768;

// One header item as the free-form reading takes it, and how its taking went.
struct Item {
  std::string text;
  bool cut_at_slash = false;
};

// The items of a header line: up to three, with what follows them.
std::vector<Item> header_items(std::string_view line, bool& slash_seen, std::size_t& extra) {
  std::vector<Item> items;
  std::size_t at = 0;
  extra = 0;
  while (at < line.size()) {
    char c = line[at];
    if (c == ' ' || c == '\t' || c == ',') {
      ++at;
      continue;
    }
    Item item;
    if (c == '\'' || c == '"') {
      std::size_t end = at + 1;
      while (end < line.size()) {
        if (line[end] == c && end + 1 < line.size() && line[end + 1] == c) {
          item.text += c;
          end += 2;
          continue;
        }
        if (line[end] == c) break;
        item.text += line[end++];
      }
      at = end + 1;
    } else {
      std::size_t end = at;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != ',' && line[end] != '/') ++end;
      item.text = std::string(line.substr(at, end - at));
      at = end;
      if (at < line.size() && line[at] == '/') {
        item.cut_at_slash = true;
        slash_seen = true;
      }
    }
    if (items.size() < 3) {
      items.push_back(item);
    } else {
      ++extra;
    }
    if (slash_seen) break;
  }
  return items;
}

}  // namespace

std::string check_text(const std::string& path, std::string_view bytes, bool& warned) {
  std::vector<std::string> warnings;
  auto lines = split_lines(bytes);
  if (lines.empty()) {
    warned = true;
    return path + ": empty: wavproc finds no header line\n";
  }
  bool slash = false;
  std::size_t extra = 0;
  auto items = header_items(lines[0], slash, extra);
  std::string names;
  for (const auto& item : items) {
    double v = 0;
    if (read_decimal(item.text, v)) {
      warnings.push_back("the name " + quoted(item.text) +
                         " is a number: the file probably has no header line, and wavproc takes its first row as the names");
    }
    if (item.cut_at_slash) {
      warnings.push_back("the header is cut at the slash after " + quoted(item.text) +
                         ": wavproc ends the names there (quote a name that holds a slash)");
    }
    if (item.text.size() > kNameLength) {
      warnings.push_back("the name " + quoted(item.text) + " is cut to its first 20 characters");
    }
    names += (names.empty() ? "" : " ") + quoted(item.text.substr(0, kNameLength));
  }
  if (extra > 0) {
    warnings.push_back("the header line holds " + std::to_string(3 + extra) +
                       " items: names cut at a blank or comma? wavproc takes the first three");
  }
  if (items.size() < 3 && !slash) {
    warnings.push_back("the header line holds " + std::to_string(items.size()) +
                       " names: wavproc takes the missing ones from the next line and loses the rest of it");
  }
  std::vector<double> values;
  std::vector<std::size_t> value_lines;
  bool odd_row = false;
  for (std::size_t k = 1; k < lines.size(); ++k) {
    std::vector<std::string_view> parts;
    std::string_view line = lines[k];
    std::size_t at = 0;
    while (at < line.size()) {
      while (at < line.size() && (line[at] == ' ' || line[at] == '\t' || line[at] == ',')) ++at;
      std::size_t end = at;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != ',') ++end;
      if (end > at) parts.push_back(line.substr(at, end - at));
      at = end;
    }
    if (parts.empty()) continue;
    if (parts.size() != 3 && !odd_row) {
      odd_row = true;
      warnings.push_back("line " + std::to_string(k + 1) + " holds " + std::to_string(parts.size()) +
                         " numbers: wavproc reads three at a time across lines, so the rows shift");
    }
    for (auto p : parts) {
      double v = 0;
      if (!read_decimal(p, v)) {
        warned = true;
        return path + ": line " + std::to_string(k + 1) + ": " + quoted(p) +
               " is not a number: wavproc stops with \"invalid number\"\n";
      }
      values.push_back(v);
      value_lines.push_back(k + 1);
    }
  }
  std::size_t rows = values.size() / 3;
  if (values.size() % 3 != 0) {
    warnings.push_back(std::to_string(values.size() % 3) + " number(s) left over after the last whole row");
  }
  std::string report = path + ": names " + (names.empty() ? "(none)" : names) + ", " + std::to_string(rows) + " rows";
  if (rows >= 2) {
    double dt = values[3] - values[0];
    report += ", dt " + shortest(dt) + " s";
    if (!(dt > 0) || !std::isfinite(dt) || dt > 1.0) {
      warnings.push_back("the interval " + shortest(dt) + " s does not look like one: is the first column the time?");
    } else {
      for (std::size_t r = 2; r < rows; ++r) {
        double step = values[3 * r] - values[3 * (r - 1)];
        if (std::fabs(step - dt) > dt * 1e-6) {
          warnings.push_back("uneven time step at line " + std::to_string(value_lines[3 * r]) + ": " +
                             shortest(values[3 * (r - 1)]) + " to " + shortest(values[3 * r]) +
                             " where the interval is " + shortest(dt) + " s");
          break;
        }
      }
    }
  } else {
    warnings.push_back("fewer than two rows: wavproc finds no interval");
  }
  if (rows > kMostRows) warnings.push_back("more than 32768 rows: wavproc refuses the record");
  report += "\n";
  for (const auto& w : warnings) report += path + ": warning: " + w + "\n";
  warned = warned || !warnings.empty();
  return report;
}

int check_records(const std::vector<std::string>& paths) {
  int status = 0;
  for (const auto& path : paths) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
      std::fprintf(stderr, "wavproc-import: %s: cannot be read\n", path.c_str());
      status = 1;
      continue;
    }
    std::string bytes;
    char buf[1 << 16];
    std::size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
    std::fclose(f);
    bool warned = false;
    std::string report = check_text(path, bytes, warned);
    std::fputs(report.c_str(), stdout);
    if (warned) status = 1;
  }
  return status;
}

}  // namespace wavproc::import
