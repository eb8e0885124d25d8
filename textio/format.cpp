// Formatted records: parsing the field notation once, and the walk that writes a statement's
// records or reads its text item.
#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "textio/textio.h"
#include "textio/textio_detail.h"
#include "textio/units.h"

namespace wavproc {

using detail::FormatOp;
using detail::FormatStep;

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

// The op of a quoted text that opens at text[i]; moves i past its closing quote.
FormatOp read_literal(std::string_view text, std::size_t& i) {
  const std::size_t last = text.size() - 1;
  std::size_t close = text.find('\'', i + 1);
  if (close == std::string_view::npos || close >= last) malformed(text);
  // Doubled quotes inside a literal are not needed by any of the program's formats.
  if (close + 1 < last && text[close + 1] == '\'') malformed(text);
  FormatOp op{FormatOp::Kind::literal};
  op.lit = text.substr(i + 1, close - i - 1);
  i = close + 1;
  return op;
}

// The op of the field or move whose letter stands at text[i], after a count n (-1: none); moves i
// past it: nX, Fw.d, Ew.d or Aw.
FormatOp read_field(std::string_view text, std::size_t& i, int n) {
  const std::size_t last = text.size() - 1;
  const char c = text[i++];
  if (c == 'X' && n > 0) return {FormatOp::Kind::skip, n};
  if (n >= 0) malformed(text);
  if (c == 'F' || c == 'E') {
    int w = read_count(text, i);
    if (w <= 0 || w > 40 || i >= last || text[i] != '.') malformed(text);
    ++i;
    int d = read_count(text, i);
    if (d < 0 || d >= w) malformed(text);
    return {c == 'F' ? FormatOp::Kind::fixed : FormatOp::Kind::exp, w, d};
  }
  if (c != 'A') malformed(text);
  int w = read_count(text, i);
  if (w <= 0) malformed(text);
  return {FormatOp::Kind::text_in, w};
}

}  // namespace

Format::Format(std::string_view text) : text_(text) {
  if (text.size() < 2 || text.front() != '(' || text.back() != ')') malformed(text);
  parse();
  longest_ = measure();
  if (!unroll(0, count_)) step_count_ = 0;
}

void Format::parse() {
  const std::string_view text = text_;
  int open_groups[4];
  int depth = 0;
  std::size_t i = 1;
  const std::size_t last = text.size() - 1;
  auto push = [&](FormatOp op) {
    if (count_ == kMaxOps) malformed(text);
    ops_[count_++] = op;
  };
  while (i < last) {
    const char c = text[i];
    if (c == ',' || c == ' ') {
      ++i;
    } else if (c == '/') {
      push({FormatOp::Kind::slash});
      ++i;
    } else if (c == '\'') {
      push(read_literal(text, i));
    } else if (c == ')') {
      if (depth == 0) malformed(text);
      int g = open_groups[--depth];
      FormatOp op{FormatOp::Kind::end_group};
      op.other = g;
      ops_[g].other = count_;
      push(op);
      ++i;
    } else {
      int n = read_count(text, i);
      if (i >= last) malformed(text);
      if (text[i] == '(') {
        if (depth == 4) malformed(text);
        open_groups[depth++] = count_;
        push({FormatOp::Kind::group, n < 0 ? 1 : n});
        ++i;
      } else {
        push(read_field(text, i, n));
      }
    }
  }
  if (depth != 0) malformed(text);
}

std::size_t Format::measure() const {
  // Every field, text and move taken as often as its groups repeat it, each / one line end, and
  // the line end of the last record.
  std::size_t repeat[5] = {1};
  int level = 0;
  std::size_t longest = 1;
  for (int k = 0; k < count_; ++k) {
    const FormatOp& op = ops_[k];
    switch (op.kind) {
      case FormatOp::Kind::group:
        repeat[level + 1] = repeat[level] * static_cast<std::size_t>(op.w);
        ++level;
        break;
      case FormatOp::Kind::end_group:
        --level;
        break;
      case FormatOp::Kind::literal:
        longest += repeat[level] * op.lit.size();
        break;
      case FormatOp::Kind::slash:
        longest += repeat[level];
        break;
      default:
        longest += repeat[level] * static_cast<std::size_t>(op.w);
        break;
    }
  }
  return longest;
}

bool Format::unroll(int from, int to) {
  for (int k = from; k < to; ++k) {
    const FormatOp& op = ops_[k];
    switch (op.kind) {
      case FormatOp::Kind::group:
        for (int r = 0; r < op.w; ++r) {
          if (!unroll(k + 1, op.other)) return false;
        }
        k = op.other;
        break;
      case FormatOp::Kind::literal:
        // A text after a text would need a step of its own: such a format is walked op by op.
        if (step_count_ > 0 && steps_[step_count_ - 1].kind == FormatOp::Kind::literal) return false;
        if (step_count_ == kMaxSteps) return false;
        steps_[step_count_++].lit = op.lit;
        break;
      case FormatOp::Kind::fixed:
      case FormatOp::Kind::exp:
        // A field completes the step its text opened, or makes a step without text.
        if (step_count_ == 0 || steps_[step_count_ - 1].kind != FormatOp::Kind::literal) {
          if (step_count_ == kMaxSteps) return false;
          ++step_count_;
        }
        steps_[step_count_ - 1].kind = op.kind;
        steps_[step_count_ - 1].w = op.w;
        steps_[step_count_ - 1].d = op.d;
        steps_[step_count_ - 1].write = detail::field_writer(op.kind == FormatOp::Kind::fixed ? 'F' : 'E', op.w, op.d);
        break;
      default:
        return false;
    }
  }
  return true;
}

namespace {

// Formats up to this many bytes a statement are laid down straight in the unit's block.
constexpr std::size_t kDirect = 1024;
// A statement that fits in kDirect fits in the spill of a block written up to a multiple of its
// piece, so that every write of such statements ends at one.
static_assert(kDirect <= detail::kOutSpill);

// The records of a statement assembled in the shared record buffer and committed one by one.
class RecordSink {
 public:
  explicit RecordSink(int unit) : unit_(unit), rec_(detail::record()) { rec_.clear(); }
  // Room for n bytes at position pos of the record, the positions before it blank-filled.
  char* reserve_at(std::size_t pos, std::size_t n) {
    if (rec_.size() < pos) rec_.append(pos - rec_.size(), ' ');
    rec_.resize(pos + n);
    return rec_.data() + pos;
  }
  // Ends the record with its line end and begins an empty one.
  void end_record() {
    detail::commit_record(unit_, rec_);
    rec_.clear();
  }

 private:
  int unit_;
  std::string& rec_;
};

// The records of a statement written straight after the unit's buffered ones; the block has room
// for the whole statement. Each record counts as buffered only once its line end is in place, in
// one store of `used`, so a signal handler that writes the block never sees half a record.
class BlockSink {
 public:
  explicit BlockSink(detail::Unit& u) : u_(u), rec_(u.block + u.used) { u.last_write = true; }
  char* reserve_at(std::size_t pos, std::size_t n) {
    if (len_ < pos) std::memset(rec_ + len_, ' ', pos - len_);
    len_ = pos + n;
    return rec_ + pos;
  }
  void end_record() {
    rec_[len_] = '\n';
    rec_ += len_ + 1;
    len_ = 0;
    u_.used = static_cast<std::size_t>(rec_ - u_.block);
  }

 private:
  detail::Unit& u_;
  char* rec_;
  std::size_t len_ = 0;
};

// Walks fmt with items, writing fields and texts through sink, up to the first field that finds no
// item left: the records of one statement but the line end of the last.
template <class Sink>
void write_fields(const Format& fmt, std::span<const double> items, Sink& sink) {
  std::size_t pos = 0;  // where the next field goes; a move of nX lies beyond the record's end
  const double* item = items.data();
  const double* const items_end = items.data() + items.size();
  std::span<const FormatOp> ops = fmt.ops();
  int repeats[4];
  int depth = 0;
  for (std::size_t i = 0; i < ops.size(); ++i) {
    const FormatOp& op = ops[i];
    switch (op.kind) {
      case FormatOp::Kind::fixed:
        if (item == items_end) return;
        detail::write_fixed_field(sink.reserve_at(pos, static_cast<std::size_t>(op.w)), *item++, op.w, op.d);
        pos += static_cast<std::size_t>(op.w);
        break;
      case FormatOp::Kind::exp:
        if (item == items_end) return;
        detail::write_exp_field(sink.reserve_at(pos, static_cast<std::size_t>(op.w)), *item++, op.w, op.d);
        pos += static_cast<std::size_t>(op.w);
        break;
      case FormatOp::Kind::literal:
        std::memcpy(sink.reserve_at(pos, op.lit.size()), op.lit.data(), op.lit.size());
        pos += op.lit.size();
        break;
      case FormatOp::Kind::skip:
        pos += static_cast<std::size_t>(op.w);
        break;
      case FormatOp::Kind::slash:
        sink.end_record();
        pos = 0;
        break;
      case FormatOp::Kind::group:
        assert(depth < 4);
        repeats[depth++] = op.w;
        break;
      case FormatOp::Kind::end_group:
        if (--repeats[depth - 1] > 0) {
          i = static_cast<std::size_t>(op.other);
        } else {
          --depth;
        }
        break;
      case FormatOp::Kind::text_in:
        assert(false && "an input field in an output format");
        break;
    }
  }
  // Every format of the program has more fields than the items it is given.
  assert(item == items_end);
}

// The records of one statement through sink: fmt walked with items, and the last line end.
template <class Sink>
void write_records(const Format& fmt, std::span<const double> items, Sink& sink) {
  write_fields(fmt, items, sink);
  sink.end_record();
}

// Writes the one record of an unrolled format with items straight after the unit's buffered
// records (the block has room for it), and counts it as buffered in one store of `used`.
void write_steps(detail::Unit& u, std::span<const FormatStep> steps, std::span<const double> items) {
  u.last_write = true;
  char* p = u.block + u.used;
  const double* item = items.data();
  const double* const items_end = items.data() + items.size();
  for (const FormatStep& step : steps) {
    if (step.lit.size() == 1) {
      *p++ = step.lit[0];
    } else if (!step.lit.empty()) {
      std::memcpy(p, step.lit.data(), step.lit.size());
      p += step.lit.size();
    }
    if (step.kind == FormatOp::Kind::literal) continue;
    if (item == items_end) break;
    if (step.write != nullptr) {
      step.write(p, *item++);
    } else if (step.kind == FormatOp::Kind::fixed) {
      detail::write_fixed_field(p, *item++, step.w, step.d);
    } else {
      detail::write_exp_field(p, *item++, step.w, step.d);
    }
    p += step.w;
  }
  *p++ = '\n';
  u.used = static_cast<std::size_t>(p - u.block);
}

// Writes the records of one statement of fmt with items on a unit made ready for output.
void write_statement(int unit, const Format& fmt, std::span<const double> items) {
  detail::Unit& u = detail::units[unit];
  if (fmt.longest() <= kDirect && !u.failed) {
    if (u.used + fmt.longest() > detail::kOutRoom) {
      if (int err = detail::make_room(u)) fatal(unit, Reason::write_failed, err);
    }
    if (!fmt.steps().empty()) {
      write_steps(u, fmt.steps(), items);
    } else {
      BlockSink sink(u);
      write_records(fmt, items, sink);
    }
  } else {
    RecordSink sink(unit);
    write_records(fmt, items, sink);
  }
}

constexpr int kMaxRowItems = 8;

// The one record that write_steps writes for n items, laid out once: its texts and line end in
// place, and where each field goes with the writer of its shape.
struct RowLayout {
  char text[kDirect];
  std::size_t stride = 0;  // the record's length, line end included
  int fields = 0;
  std::size_t at[kMaxRowItems] = {};
  detail::FieldWriter write[kMaxRowItems] = {};
  int item[kMaxRowItems] = {};  // the item each field shows
};

// Lays out the record of steps for n items as write_steps walks them; false when a field it
// reaches has no writer of its own, or the format has no steps.
bool lay_out_row(std::span<const FormatStep> steps, int n, RowLayout& row) {
  if (steps.empty()) return false;
  std::size_t pos = 0;
  for (const FormatStep& step : steps) {
    if (!step.lit.empty()) std::memcpy(row.text + pos, step.lit.data(), step.lit.size());
    pos += step.lit.size();
    if (step.kind == FormatOp::Kind::literal) continue;
    if (row.fields == n) break;
    if (step.write == nullptr) return false;
    row.at[row.fields] = pos;
    row.item[row.fields] = row.fields;
    row.write[row.fields++] = step.write;
    pos += static_cast<std::size_t>(step.w);
  }
  row.text[pos++] = '\n';
  row.stride = pos;
  return true;
}

// Writes the fields of the items in `same` (bit i for item i), whose value is that of row 0 in
// every row, into the record's text once, and leaves them out of the fields laid row by row.
void lay_same_fields(RowLayout& row, std::uint32_t same, RowItems fill, const void* source) {
  if (same == 0) return;
  double items[kMaxRowItems] = {};
  fill(source, 0, items);
  int kept = 0;
  for (int f = 0; f < row.fields; ++f) {
    if ((same >> row.item[f] & 1) != 0) {
      row.write[f](row.text + row.at[f], items[row.item[f]]);
      continue;
    }
    row.at[kept] = row.at[f];
    row.write[kept] = row.write[f];
    row.item[kept++] = row.item[f];
  }
  row.fields = kept;
}

// Lays down the records of rows [r, end) at out.
void lay_rows_at(char* out, const RowLayout& row, std::int64_t r, std::int64_t end, RowItems fill,
                 const void* source) {
  double items[kMaxRowItems] = {};
  for (; r < end; ++r, out += row.stride) {
    std::memcpy(out, row.text, row.stride);
    fill(source, r, items);
    for (int f = 0; f < row.fields; ++f) row.write[f](out + row.at[f], items[row.item[f]]);
  }
}

// Lays down the records of rows [r, end) behind the unit's buffered ones. Each record counts as
// buffered once it is whole, so a signal handler that writes the block never sees half a record.
void lay_rows(detail::Unit& u, const RowLayout& row, std::int64_t r, std::int64_t end, RowItems fill,
              const void* source) {
  for (; r < end; ++r) {
    lay_rows_at(u.block + u.used, row, r, r + 1, fill, source);
    u.used = u.used + row.stride;
  }
}

// The blocks of a file that two threads lay down, numbered from 0: block b holds the rows that
// start in the b-th piece of kOutBlock bytes of the file from `edge`, a multiple of kOutBlock, so
// that each write of the unit ends at the next multiple. Either thread takes the lowest block nobody
// has taken, at most kAhead blocks past the last one in the unit, and lays it in a staging block;
// the unit's thread lays the block whose turn it is straight in the unit's block, and copies in the
// others as their turn comes.
struct SharedBlocks {
  static constexpr int kAhead = detail::kStagingBlocks;
  const RowLayout* row;
  RowItems fill;
  const void* source;
  std::int64_t first;  // the row that starts at file offset `start`
  std::int64_t start;
  std::int64_t edge;   // where block 0's piece begins: the first multiple of kOutBlock past start
  std::int64_t count;  // the end of the rows
  std::int64_t blocks;
  char* staging[kAhead] = {};
  std::atomic<std::int64_t> next{0};        // the lowest block not taken
  std::atomic<std::int64_t> in_unit{0};     // the blocks before this one are in the unit or out
  std::atomic<std::int64_t> ready[kAhead];  // the block whose records staging[i] holds whole

  // The first row that starts at or past file offset `at` (at >= start).
  std::int64_t row_at(std::int64_t at) const {
    const auto stride = static_cast<std::int64_t>(row->stride);
    return std::min(count, first + (at - start + stride - 1) / stride);
  }
  std::int64_t begin_row(std::int64_t b) const { return row_at(edge + b * static_cast<std::int64_t>(detail::kOutBlock)); }
  std::int64_t end_row(std::int64_t b) const { return begin_row(b + 1); }
  static std::size_t slot(std::int64_t b) { return static_cast<std::size_t>(b % kAhead); }

  // Takes the lowest block not taken whose staging block is free; -1 when there is none now.
  std::int64_t take() {
    std::int64_t b = next.load(std::memory_order_relaxed);
    while (b < blocks && b < in_unit.load(std::memory_order_acquire) + kAhead) {
      if (next.compare_exchange_weak(b, b + 1, std::memory_order_relaxed)) return b;
    }
    return -1;
  }
  // Lays block b in its staging block and marks it ready.
  void lay_staged(std::int64_t b) {
    lay_rows_at(staging[slot(b)], *row, begin_row(b), end_row(b), fill, source);
    ready[slot(b)].store(b, std::memory_order_release);
    ready[slot(b)].notify_one();
  }
};

// The second thread's part: blocks taken and laid until every block is taken.
void lay_blocks_beside(void* arg) {
  auto& s = *static_cast<SharedBlocks*>(arg);
  for (;;) {
    const std::int64_t in_unit = s.in_unit.load(std::memory_order_acquire);
    if (s.next.load(std::memory_order_relaxed) >= s.blocks) return;
    const std::int64_t b = s.take();
    if (b >= 0) {
      s.lay_staged(b);
    } else {
      s.in_unit.wait(in_unit, std::memory_order_acquire);
    }
  }
}

// Writes rows [r, count) to the unit on two threads: the rows that start before the file's next
// multiple of kOutBlock behind the records its block holds already, then blocks of the rows that
// start in each following kOutBlock bytes: the same bytes in the same writes as one thread gives.
// The second thread starts on the blocks while this one fills the unit's block. False, with nothing
// written, where there is no second thread or no staging block, or where every row starts before
// that multiple.
bool write_in_blocks(detail::Unit& u, int unit, const RowLayout& row, std::int64_t r, std::int64_t count,
                     RowItems fill, const void* source) {
  constexpr auto piece = static_cast<std::int64_t>(detail::kOutBlock);
  const auto stride = static_cast<std::int64_t>(row.stride);
  if (!second_thread_free()) return false;
  SharedBlocks s;
  s.row = &row;
  s.fill = fill;
  s.source = source;
  s.first = r;
  s.start = u.written + static_cast<std::int64_t>(u.used);
  s.edge = (s.start / piece + 1) * piece;
  s.count = count;
  const std::int64_t last = s.start + (count - 1 - r) * stride;  // where the last row starts
  if (last < s.edge) return false;
  s.blocks = (last - s.edge) / piece + 1;
  for (auto& ready : s.ready) ready.store(-1, std::memory_order_relaxed);
  for (int i = 0; i < SharedBlocks::kAhead; ++i) {
    s.staging[i] = detail::staging_block(i);
    if (s.staging[i] == nullptr) return false;
  }
  // The block must hold nothing past edge - piece, so that the rows before edge fit behind it. A
  // write leaves written + used, and so the blocks, as they are.
  if (u.written < s.edge - piece) {
    if (int err = detail::make_room(u)) fatal(unit, Reason::write_failed, err);
  }
  run_beside(lay_blocks_beside, &s);
  lay_rows(u, row, r, s.begin_row(0), fill, source);
  for (std::int64_t b = 0; b < s.blocks; ++b) {
    if (int err = detail::make_room(u)) {
      // The second thread takes no more blocks and is done before the run ends.
      s.next.store(s.blocks, std::memory_order_relaxed);
      s.in_unit.store(s.blocks, std::memory_order_release);
      s.in_unit.notify_one();
      finish_beside();
      fatal(unit, Reason::write_failed, err);
    }
    // While block b is not ready, this thread lays blocks too: b itself straight in the unit.
    bool laid_here = false;
    for (std::int64_t held = s.ready[SharedBlocks::slot(b)].load(std::memory_order_acquire); held != b;
         held = s.ready[SharedBlocks::slot(b)].load(std::memory_order_acquire)) {
      const std::int64_t mine = s.take();
      if (mine == b) {
        lay_rows(u, row, s.begin_row(b), s.end_row(b), fill, source);
        laid_here = true;
        break;
      }
      if (mine >= 0) {
        s.lay_staged(mine);
      } else {
        s.ready[SharedBlocks::slot(b)].wait(held, std::memory_order_acquire);
      }
    }
    if (!laid_here) {
      const auto bytes = static_cast<std::size_t>(s.end_row(b) - s.begin_row(b)) * row.stride;
      std::memcpy(u.block + u.used, s.staging[SharedBlocks::slot(b)], bytes);
      // The records count as buffered only once all of them are in the unit's block.
      std::atomic_signal_fence(std::memory_order_release);
      u.used = u.used + bytes;
    }
    s.in_unit.store(b + 1, std::memory_order_release);
    s.in_unit.notify_one();
  }
  finish_beside();
  return true;
}

}  // namespace

void write_formatted(int unit, const Format& fmt, std::initializer_list<double> items) {
  detail::begin_statement(false, fmt.text());
  detail::prepare_output(unit);
  write_statement(unit, fmt, items);
  detail::end_formatted();
}

void write_formatted_rows(int unit, const Format& fmt, std::int64_t count, int n, RowItems fill,
                          const void* source, std::uint32_t same) {
  assert(n >= 0 && n <= kMaxRowItems);
  if (count <= 0) return;  // no statement: the unit is not touched
  detail::begin_statement(false, fmt.text());
  detail::prepare_output(unit);
  detail::Unit& u = detail::units[unit];
  double items[kMaxRowItems] = {};
  RowLayout row;
  const bool laid = fmt.longest() <= kDirect && lay_out_row(fmt.steps(), n, row);
  if (laid) lay_same_fields(row, same, fill, source);
  const std::span<const double> row_items(items, static_cast<std::size_t>(n));
  for (std::int64_t r = 0; r < count;) {
    if (!laid || u.failed) {
      fill(source, r++, items);
      write_statement(unit, fmt, row_items);
      continue;
    }
    // The block is written out where a statement at a time would write it: whenever the longest
    // statement no longer fits behind the records buffered.
    if (u.used + fmt.longest() > detail::kOutRoom) {
      if (int err = detail::make_room(u)) fatal(unit, Reason::write_failed, err);
    }
    const auto fit = static_cast<std::int64_t>((detail::kOutRoom - fmt.longest() - u.used) / row.stride) + 1;
    const std::int64_t end = std::min(count, r + fit);
    u.last_write = true;
    // Rows that do not all fit in this block can be laid on two threads, the second one starting
    // while this one fills the block.
    if (end < count && write_in_blocks(u, unit, row, r, count, fill, source)) break;
    lay_rows(u, row, r, end, fill, source);
    r = end;
  }
  detail::end_formatted();
}

bool read_formatted_text(int unit, const Format& fmt, char* item, int len) {
  assert(fmt.ops().size() == 1 && fmt.ops()[0].kind == FormatOp::Kind::text_in && fmt.ops()[0].w == len);
  detail::begin_statement(true, fmt.text());
  detail::prepare_input(unit);
  detail::Unit& u = detail::units[unit];
  detail::ReadOutcome r = detail::read_text_line(u.in, u.at_end, item, len);
  if (r.reason != Reason::none) fatal(unit, r.reason, r.sys_errno);
  detail::end_formatted();
  return r.cut_in_word;
}

}  // namespace wavproc
