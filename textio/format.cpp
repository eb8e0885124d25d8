// Formatted records: parsing the field notation once, and the walk that writes a statement's
// records or reads its text item.
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "textio/textio.h"
#include "textio/units.h"

namespace wavproc {

namespace {

[[noreturn]] void malformed(std::string_view text) {
  std::fprintf(stderr, "wavproc: malformed format %.*s\n", static_cast<int>(text.size()), text.data());
  std::abort();
}

// Reads a run of digits at text[i]; returns -1 when there is none.
int read_count(std::string_view text, std::size_t& i) {
  if (i >= text.size() || text[i] < '0' || text[i] > '9') return -1;
  int v = 0;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
    v = v * 10 + (text[i] - '0');
    if (v > 1000) malformed(text);
    ++i;
  }
  return v;
}

}  // namespace

Format::Format(std::string_view text) : text_(text) {
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') malformed(text);
  int open_groups[4];
  int depth = 0;
  std::size_t i = 1;
  const std::size_t last = text.size() - 1;
  auto push = [&](Op op) {
    if (count_ == kMaxOps) malformed(text);
    ops_[count_++] = op;
  };
  while (i < last) {
    char c = text[i];
    if (c == ',' || c == ' ') {
      ++i;
      continue;
    }
    if (c == '/') {
      push({Op::Kind::slash});
      ++i;
      continue;
    }
    if (c == '\'') {
      std::size_t close = text.find('\'', i + 1);
      if (close == std::string_view::npos || close >= last) malformed(text);
      // Doubled quotes inside a literal are not needed by any of the program's formats.
      if (close + 1 < last && text[close + 1] == '\'') malformed(text);
      Op op{Op::Kind::literal};
      op.lit = text.substr(i + 1, close - i - 1);
      push(op);
      i = close + 1;
      continue;
    }
    if (c == ')') {
      if (depth == 0) malformed(text);
      int g = open_groups[--depth];
      Op op{Op::Kind::end_group};
      op.other = g;
      ops_[g].other = count_;
      push(op);
      ++i;
      continue;
    }
    int n = read_count(text, i);
    if (i >= last) malformed(text);
    c = text[i];
    if (c == '(') {
      if (depth == 4) malformed(text);
      open_groups[depth++] = count_;
      push({Op::Kind::group, n < 0 ? 1 : n});
      ++i;
    } else if (c == 'X' && n > 0) {
      push({Op::Kind::skip, n});
      ++i;
    } else if ((c == 'F' || c == 'E') && n < 0) {
      ++i;
      int w = read_count(text, i);
      if (w <= 0 || w > 40 || i >= last || text[i] != '.') malformed(text);
      ++i;
      int d = read_count(text, i);
      if (d < 0 || d >= w) malformed(text);
      push({c == 'F' ? Op::Kind::fixed : Op::Kind::exp, w, d});
    } else if (c == 'A' && n < 0) {
      ++i;
      int w = read_count(text, i);
      if (w <= 0) malformed(text);
      push({Op::Kind::text_in, w});
    } else {
      malformed(text);
    }
  }
  if (depth != 0) malformed(text);
}

void write_formatted(int unit, const Format& fmt, std::initializer_list<double> items) {
  detail::begin_statement(false, fmt.text());
  detail::prepare_output(unit);
  std::string& rec = detail::record();
  rec.clear();
  std::size_t pos = 0;  // where the next field goes; a move of nX lies beyond the record's end
  auto pad_to_pos = [&] {
    if (rec.size() < pos) rec.append(pos - rec.size(), ' ');
  };
  const double* item = items.begin();
  const double* const items_end = items.end();
  std::span<const Format::Op> ops = fmt.ops();
  int repeats[4];
  int depth = 0;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const Format::Op& op = ops[i];
    switch (op.kind) {
      case Format::Op::Kind::fixed:
      case Format::Op::Kind::exp: {
        if (item == items_end) goto done;
        pad_to_pos();
        std::size_t at = rec.size();
        rec.resize(at + static_cast<std::size_t>(op.w));
        if (op.kind == Format::Op::Kind::fixed) {
          write_fixed_field(rec.data() + at, *item, op.w, op.d);
        } else {
          write_exp_field(rec.data() + at, *item, op.w, op.d);
        }
        ++item;
        pos = rec.size();
        break;
      }
      case Format::Op::Kind::literal:
        pad_to_pos();
        rec.append(op.lit);
        pos = rec.size();
        break;
      case Format::Op::Kind::skip:
        pos += static_cast<std::size_t>(op.w);
        break;
      case Format::Op::Kind::slash:
        detail::commit_record(unit, rec);
        rec.clear();
        pos = 0;
        break;
      case Format::Op::Kind::group:
        assert(depth < 4);
        repeats[depth++] = op.w;
        break;
      case Format::Op::Kind::end_group:
        if (--repeats[depth - 1] > 0) {
          i = static_cast<std::size_t>(op.other);
        } else {
          --depth;
        }
        break;
      case Format::Op::Kind::text_in:
        assert(false && "an input field in an output format");
        break;
    }
  }
  // Every format of the program has more fields than the items it is given.
  assert(item == items_end);
done:
  detail::commit_record(unit, rec);
  detail::end_formatted();
}

void read_formatted_text(int unit, const Format& fmt, char* item, int len) {
  assert(fmt.ops().size() == 1 && fmt.ops()[0].kind == Format::Op::Kind::text_in && fmt.ops()[0].w == len);
  detail::begin_statement(true, fmt.text());
  detail::prepare_input(unit);
  detail::Unit& u = detail::units[unit];
  ReadOutcome r = read_text_line(u.in, u.at_end, item, len);
  if (r.reason != Reason::none) fatal(unit, r.reason, r.sys_errno);
  detail::end_formatted();
}

}  // namespace wavproc
