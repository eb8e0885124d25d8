// Fuzzes the free-form reader and the "(Aw)" line read: a sequence of read statements, with slot
// layouts taken from the first bytes of the input, runs over the rest of it. The same sequence is
// run twice, once over the bytes in one piece and once over a pipe that delivers them in small
// pieces, so every number and text value also meets a block boundary; both must agree exactly.
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace {

using wavproc::detail::InBuffer;
using wavproc::Reason;
using wavproc::detail::ReadOutcome;
using wavproc::Slot;

// Stops the run as a finding when a check fails.
void check(bool ok) {
  if (!ok) __builtin_trap();
}

struct Statement {
  enum class Kind { list, list_or_end, line, line_end };
  Kind kind = Kind::list;
  std::vector<Slot::Kind> slots;
  std::vector<int> lens;  // characters of each text slot
  int len = 0;            // characters of a line read
};

// What one statement left: its outcome, the unit's end flag and the bytes of every slot.
struct Step {
  Reason reason;
  int sys_errno;
  bool at_end;
  std::vector<unsigned char> slots;
  bool operator==(const Step&) const = default;
};

// The slots of one statement, each in storage of exactly its own size.
class SlotStore {
 public:
  explicit SlotStore(const Statement& st) {
    for (std::size_t i = 0; i < st.slots.size(); ++i) {
      switch (st.slots[i]) {
        case Slot::Kind::integer: add(Slot::Kind::integer, sizeof(std::int32_t), 0); break;
        case Slot::Kind::real: add(Slot::Kind::real, sizeof(double), 0); break;
        case Slot::Kind::text: add(Slot::Kind::text, static_cast<std::size_t>(st.lens[i]), st.lens[i]); break;
      }
    }
  }
  ~SlotStore() {
    for (Slot& s : slots_) delete[] static_cast<unsigned char*>(s.target);
  }
  SlotStore(const SlotStore&) = delete;
  SlotStore& operator=(const SlotStore&) = delete;

  const std::vector<Slot>& slots() const { return slots_; }
  void append_bytes(std::vector<unsigned char>& out) const {
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      const auto* p = static_cast<const unsigned char*>(slots_[i].target);
      out.insert(out.end(), p, p + sizes_[i]);
    }
  }

 private:
  void add(Slot::Kind kind, std::size_t bytes, int len) {
    auto* p = new unsigned char[bytes];
    std::memset(p, 0xA5, bytes);
    slots_.push_back({kind, p, len});
    sizes_.push_back(bytes);
  }
  std::vector<Slot> slots_;
  std::vector<std::size_t> sizes_;
};

// The outcomes a statement of each kind may have; anything else is a finding.
bool allowed(Statement::Kind kind, Reason r) {
  switch (r) {
    case Reason::none: return true;
    case Reason::end_branch: return kind == Statement::Kind::list_or_end;
    case Reason::list_eof:
    case Reason::start_eof: return kind == Statement::Kind::list || (r == Reason::start_eof && kind == Statement::Kind::line);
    case Reason::fmt_eof: return kind == Statement::Kind::line;
    case Reason::invalid_number:
    case Reason::bad_repeat:
    case Reason::bad_exponent:
    case Reason::invalid_integer:
    case Reason::integer_range: return kind == Statement::Kind::list || kind == Statement::Kind::list_or_end;
    default: return false;
  }
}

// Runs the statements on in until one fails as the program's would (fatally); text is the whole
// input when in serves it in one piece (then each success must leave the reader at a line start).
std::vector<Step> run(InBuffer& in, const std::vector<Statement>& program, std::string_view text, bool whole) {
  std::vector<Step> steps;
  bool at_end = false;
  for (const Statement& st : program) {
    SlotStore store(st);
    ReadOutcome r;
    // Exactly the line's length, never a null pointer (the program's items are never null).
    const std::unique_ptr<char[]> line(new char[static_cast<std::size_t>(st.len)]);
    std::memset(line.get(), 0xA5, static_cast<std::size_t>(st.len));
    switch (st.kind) {
      case Statement::Kind::list:
      case Statement::Kind::list_or_end:
        r = wavproc::detail::read_free_form(in, at_end, store.slots(), st.kind == Statement::Kind::list_or_end);
        break;
      case Statement::Kind::line:
        r = wavproc::detail::read_text_line(in, at_end, line.get(), st.len);
        break;
      case Statement::Kind::line_end:
        r = wavproc::detail::read_free_form(in, at_end, {}, false);
        break;
    }
    check(allowed(st.kind, r.reason));
    if (whole && r.reason == Reason::none) {
      // The next statement begins on a new line.
      const auto pos = static_cast<std::size_t>(in.data() - text.data());
      check(pos == text.size() || (pos > 0 && pos <= text.size() && text[pos - 1] == '\n'));
    }
    Step step{r.reason, r.sys_errno, at_end, {}};
    store.append_bytes(step.slots);
    step.slots.insert(step.slots.end(), line.get(), line.get() + st.len);
    steps.push_back(std::move(step));
    if (r.reason != Reason::none && r.reason != Reason::end_branch) break;
  }
  return steps;
}

// The pipe's writing side, fed one piece at a time just before the reader waits for bytes.
struct Feed {
  int fd = -1;
  std::string_view text;
  std::size_t pos = 0;
  unsigned seed = 0;
  std::size_t least = 1;
  unsigned piece = 0;
};
Feed feed;

// Writes the next piece of the text into the pipe, or closes it when all are written.
void feed_next_piece() {
  if (feed.fd < 0) return;
  if (feed.pos == feed.text.size()) {
    ::close(feed.fd);
    feed.fd = -1;
    return;
  }
  std::size_t n = 1 + (feed.seed * 31u + feed.piece++ * 17u) % (feed.seed + 2u);
  if (n < feed.least) n = feed.least;
  if (n > feed.text.size() - feed.pos) n = feed.text.size() - feed.pos;
  check(::write(feed.fd, feed.text.data() + feed.pos, n) == static_cast<ssize_t>(n));
  feed.pos += n;
}

// The one-pass read of a row of the common shape against the value-by-value read: where it takes
// the row of n values at the start of text, both give the same values to the bit and the same
// next line. The bytes after the text are blanks (the one-pass read looks 40 bytes ahead).
void check_shaped_row(std::string_view text, int n) {
  std::string padded(text);
  padded.append(48, ' ');
  const char* const e = padded.data() + padded.size();
  double got[8], want[8];
  const char* stop = wavproc::detail::read_shaped_row(padded.data(), e, n, got);
  if (stop == nullptr) return;
  check(wavproc::detail::read_plain_values(padded.data(), e, n, want) == stop);
  check(std::memcmp(got, want, sizeof(double) * static_cast<std::size_t>(n)) == 0);
}

}  // namespace

// Input: a byte with the statement count (and the piece sizes of the pipe), then per statement a
// byte with its kind and slot count (or line length) and a byte per slot; the rest is the text read.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  std::size_t at = 0;
  const unsigned head = data[at++];
  const unsigned count = 1 + head % 8;
  std::vector<Statement> program;
  for (unsigned i = 0; i < count && at < size; ++i) {
    const unsigned b = data[at++];
    Statement st;
    st.kind = static_cast<Statement::Kind>(b % 4);
    if (st.kind == Statement::Kind::line) st.len = static_cast<int>((b / 4) % 64);
    if (st.kind == Statement::Kind::list || st.kind == Statement::Kind::list_or_end) {
      const unsigned n = (b / 4) % 6;
      for (unsigned k = 0; k < n && at < size; ++k) {
        const unsigned s = data[at++];
        st.slots.push_back(static_cast<Slot::Kind>(s % 3));
        // Mostly the lengths the program reads, sometimes longer than the reader keeps on its stack.
        const unsigned t = s / 3;
        st.lens.push_back(static_cast<int>(t <= 40 ? t : 200 + t * 2));
      }
    }
    program.push_back(std::move(st));
  }
  const std::string_view text(reinterpret_cast<const char*>(data + at), size - at);
  check_shaped_row(text, static_cast<int>(1 + head / 8 % 8));

  static InBuffer whole;
  whole.attach_text(text);
  const std::vector<Step> expected = run(whole, program, text, true);
  whole.detach();

  int fds[2];
  check(::pipe2(fds, O_CLOEXEC) == 0);
  feed = Feed{fds[1], text, 0, head / 8, text.size() / 256 + 1, 0};
  static InBuffer pieces;
  pieces.attach(fds[0], feed_next_piece);
  const std::vector<Step> got = run(pieces, program, text, false);
  pieces.detach();
  if (feed.fd >= 0) ::close(feed.fd);
  ::close(fds[0]);

  check(got == expected);
  return 0;
}
