// Free-form reading of answers, header items and sample rows, and the "(Aw)" line read, over the
// blocks of an InBuffer. Both return a Reason and never end the process themselves.
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cassert>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "fast_float/fast_float.h"
#include "textio/decimal.h"
#include "textio/textio_detail.h"

namespace wavproc::detail {

// Gives back the block.
InBuffer::~InBuffer() { give_back_block(block_); }

// Reads fd from now on; the block is obtained on the first attach and kept for later ones.
void InBuffer::attach(int fd, void (*before_wait)()) {
  if (block_ == nullptr) block_ = take_block(kBlock);
  fd_ = fd;
  before_wait_ = before_wait;
  mark_ = false;
  cur_ = end_ = block_;
  end_at_ = 0;
  error_ = 0;
}

bool InBuffer::restart_at(std::int64_t to, std::int64_t delta) {
  if (fd_ < 0 || ::lseek(fd_, static_cast<off_t>(to + delta), SEEK_SET) < 0) return false;
  cur_ = end_ = block_;
  end_at_ = to;
  return true;
}

// Serves text's bytes in place, then the end.
void InBuffer::attach_text(std::string_view text) {
  fd_ = -1;
  before_wait_ = nullptr;
  cur_ = text.data();
  end_ = text.data() + text.size();
  end_at_ = static_cast<std::int64_t>(text.size());
  error_ = 0;
}

// Forgets the stream and its bytes; the block stays for the next attach.
void InBuffer::detach() {
  fd_ = -1;
  before_wait_ = nullptr;
  cur_ = end_ = nullptr;
  end_at_ = 0;
  error_ = 0;
}

// Refills the block from the descriptor; returns its first byte, kEnd or kError. After the end
// or a refusal the descriptor is let go (fd_ = -1), so later peeks repeat the answer without
// reading again: a terminal may deliver more after its end-of-input key.
int InBuffer::fill() {
  if (fd_ < 0) return error_ != 0 ? kError : kEnd;
  if (block_ == nullptr) {
    error_ = ENOMEM;
    fd_ = -1;
    return kError;
  }
  for (;;) {
    if (before_wait_ != nullptr) before_wait_();
    ssize_t n = ::read(fd_, block_, kBlock);
    if (n > 0) {
      cur_ = block_;
      end_ = block_ + n;
      end_at_ += n;
      if (mark_ && pass_mark()) return fill();
      return static_cast<unsigned char>(*cur_);
    }
    if (n < 0 && errno == EINTR) continue;
    cur_ = end_ = block_;
    fd_ = -1;
    if (n == 0) return kEnd;
    error_ = errno;
    return kError;
  }
}

// An editor may begin a saved file, or the console's answers, with the UTF-8 byte-order mark: the
// stream's first block loses it here, before any read sees it.
bool InBuffer::pass_mark() {
  static constexpr char kMark[] = "\xEF\xBB\xBF";
  mark_ = false;
  for (;;) {
    const std::size_t have = static_cast<std::size_t>(end_ - cur_);
    if (std::memcmp(cur_, kMark, std::min<std::size_t>(have, 3)) != 0) return false;
    if (have >= 3) break;
    const ssize_t got = ::read(fd_, block_ + have, kBlock - have);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    end_ += got;
    end_at_ += got;
  }
  cur_ += 3;
  return cur_ == end_;
}

namespace {

constexpr int kEnd = InBuffer::kEnd;
constexpr int kError = InBuffer::kError;
// Handed out by the in-block number scan where the block's bytes run out before the number ends.
constexpr int kBlockEnd = -3;

constexpr int kMaxDigits = 40;             // significant digits of a number that are used
constexpr std::int32_t kMaxExponent = 99999999;
constexpr std::int64_t kShiftCap = std::int64_t{1} << 50;  // far beyond any finite double
constexpr std::uint64_t kCountCap = std::uint64_t{1} << 40;  // far beyond any slot list

// True for the bytes '0' to '9'.
bool is_digit(int c) { return c >= '0' && c <= '9'; }
// True for what separates like a blank: blank, tab and CR.
bool is_blank(int c) { return c == ' ' || c == '\t' || c == '\r'; }

// The position in an InBuffer's block, held in locals for the byte loops and handed back to the
// buffer before it refills and when the statement ends. Sets the unit's end flag when the stream
// ends. A lone CR is read like a blank; one before LF belongs to the line end, and skipping it as
// a blank leaves the LF, so both come out right.
class Cursor {
 public:
  Cursor(InBuffer& in, bool& at_end)
      : in_(in), at_end_(at_end), p_(in.data()), e_(in.data() + in.available()) {}
  ~Cursor() { sync(); }
  Cursor(const Cursor&) = delete;
  Cursor& operator=(const Cursor&) = delete;

  // The next byte (0..255) without taking it, or kEnd / kError.
  int peek() { return p_ < e_ ? static_cast<unsigned char>(*p_) : refill(); }
  // Takes the byte that peek() returned.
  void advance() { ++p_; }
  bool failed() const { return in_.error() != 0; }
  int sys_errno() const { return in_.error(); }

  // The unread bytes of the block, for scans that run over them at once; take them with jump().
  const char* pos() const { return p_; }
  const char* limit() const { return e_; }
  void jump(const char* p) { p_ = p; }

  // Skips blanks, tabs and lone CRs.
  void skip_blanks() {
    while (is_blank(peek())) advance();
  }
  // Skips blanks, tabs, CRs and line ends: empty lines are passed over.
  void skip_space() {
    for (int c = peek(); is_blank(c) || c == '\n'; c = peek()) advance();
  }
  // Discards the rest of the line with its line end; false when the stream ends or fails first.
  bool discard_line() {
    for (;;) {
      const void* lf = p_ < e_ ? std::memchr(p_, '\n', static_cast<std::size_t>(e_ - p_)) : nullptr;
      if (lf != nullptr) {
        p_ = static_cast<const char*>(lf) + 1;
        return true;
      }
      p_ = e_;
      if (refill() < 0) return false;
    }
  }

 private:
  // Hands the position back, lets the buffer refill, and takes up its new bytes.
  int refill() {
    sync();
    int c = in_.peek();
    p_ = in_.data();
    e_ = p_ + in_.available();
    if (c == kEnd) at_end_ = true;
    return c;
  }
  // Hands the position back to the buffer.
  void sync() { in_.skip(static_cast<std::size_t>(p_ - in_.data())); }

  InBuffer& in_;
  bool& at_end_;
  const char* p_;
  const char* e_;
};

// The bytes of the block from a position, for reading a whole number without leaving the block;
// hit_end tells that the number may go on past them.
struct BlockRun {
  const char* p;
  const char* e;
  bool hit_end = false;

  // The next byte, or kBlockEnd where the bytes run out.
  int peek() {
    if (p < e) return static_cast<unsigned char>(*p);
    hit_end = true;
    return kBlockEnd;
  }
  // Takes the byte that peek() returned.
  void advance() { ++p; }
};

// A number as written: its significant digits (at most kMaxDigits, leading zeros dropped) and
// the power of ten they are to be scaled by.
struct Number {
  char digits[kMaxDigits + 24];  // room after the digits for the exponent text of the conversion
  int kept = 0;
  bool negative = false;
  bool any_digit = false;     // the mantissa held a digit, zeros included
  std::int64_t shift = 0;     // from integer digits beyond kMaxDigits and from fraction places
  std::int32_t exponent = 0;  // the written exponent with its sign

  // Adds a digit before the point: beyond kMaxDigits it counts for the magnitude only.
  void add_integer_digit(int c) {
    any_digit = true;
    if (kept == 0 && c == '0') return;
    if (kept < kMaxDigits) {
      digits[kept++] = static_cast<char>(c);
    } else if (shift < kShiftCap) {
      ++shift;
    }
  }
  // Adds a digit after the point: beyond kMaxDigits it is ignored.
  void add_fraction_digit(int c) {
    any_digit = true;
    if (kept == kMaxDigits) return;
    if (kept != 0 || c != '0') digits[kept++] = static_cast<char>(c);
    if (shift > -kShiftCap) --shift;
  }
};

// What a numeric value position held: a repeat count with nothing after it, or a number
// (after a count or alone).
struct NumericValue {
  std::uint64_t copies = 1;
  bool null = false;
  Number number;
};

// The count that the kept digits of n spell, for a count written before «*»; 0 for a count
// that is zero or has more than kMaxDigits significant digits.
std::uint64_t count_of(const Number& n) {
  if (n.shift != 0) return 0;
  std::uint64_t v = 0;
  for (int i = 0; i < n.kept; ++i) {
    v = v * 10 + static_cast<std::uint64_t>(n.digits[i] - '0');
    if (v >= kCountCap) return kCountCap;
  }
  return v;
}

// True where c ends a value: a blank, tab, CR, line end, comma, slash or the end of the bytes.
bool ends_value(int c) { return c < 0 || is_blank(c) || c == '\n' || c == ',' || c == '/'; }

// Reads the value of an integer or a double slot from src into v, stopping at the first byte
// that cannot continue the number (left unread). Unsigned digits then «*» at the start are a
// repeat count (v.copies); the number after it is read, or v.null is set when none follows.
template <class Src>
Reason scan_numeric(Src& src, bool integer, NumericValue& v) {
  Number& n = v.number;
  bool counted = false;
  for (;;) {
    int c = src.peek();
    bool sign = false;
    if (c == '+' || c == '-') {
      n.negative = c == '-';
      sign = true;
      src.advance();
      c = src.peek();
    }
    if (c == '*') return Reason::bad_repeat;
    while (is_digit(c)) {
      n.add_integer_digit(c);
      src.advance();
      c = src.peek();
    }
    if (c != '*' || counted) break;
    src.advance();
    v.copies = count_of(n);
    if (sign || v.copies == 0) return Reason::bad_repeat;
    counted = true;
    n = Number{};
    if (ends_value(src.peek())) {
      v.null = true;
      return Reason::none;
    }
  }
  int c = src.peek();
  if (c == '.') {
    if (integer) return Reason::invalid_integer;
    src.advance();
    for (c = src.peek(); is_digit(c); c = src.peek()) {
      n.add_fraction_digit(c);
      src.advance();
    }
  }
  if (!n.any_digit) return Reason::invalid_number;
  if (c == 'E' || c == 'e' || c == 'D' || c == 'd') {
    if (integer) return Reason::invalid_integer;
    src.advance();
    c = src.peek();
    if (c == '+' || c == '-') {
      src.advance();
    }
  } else if (c == '+' || c == '-') {
    src.advance();
  } else {
    return Reason::none;
  }
  bool negative_exponent = c == '-';
  c = src.peek();
  if (!is_digit(c)) return Reason::bad_exponent;
  std::int32_t e = 0;
  for (; is_digit(c); c = src.peek()) {
    if (e <= kMaxExponent) e = e * 10 + (c - '0');
    src.advance();
  }
  if (e > kMaxExponent) return Reason::bad_exponent;
  n.exponent = negative_exponent ? -e : e;
  return Reason::none;
}

// The nearest double to n; ±infinity past the largest double, ±0 below the smallest, +0 for a
// number whose digits are all zeros.
double to_double(Number& n) {
  if (n.kept == 0) return 0.0;
  std::int64_t scale = n.shift + n.exponent;
  std::int64_t magnitude = scale + n.kept - 1;  // decimal exponent of the leading digit
  double inf = std::numeric_limits<double>::infinity();
  if (magnitude > 400) return n.negative ? -inf : inf;
  if (magnitude < -400) return n.negative ? -0.0 : 0.0;
  char* end = n.digits + n.kept;
  if (scale != 0) {
    *end++ = 'e';
    end = std::to_chars(end, std::end(n.digits), scale).ptr;
  }
  double v = 0.0;
  // fast_float rounds exactly as the standard's from_chars does, and is there on every platform.
  fast_float::from_chars_result r = fast_float::from_chars(n.digits, end, v);
  if (r.ec == std::errc::result_out_of_range) v = magnitude > 0 ? inf : 0.0;
  assert(r.ec == std::errc{} || r.ec == std::errc::result_out_of_range);
  return n.negative ? -v : v;
}

// The characters of a text value: up to cap of them are kept (the longest text slot of the
// statement), the rest are counted and dropped.
class TextValue {
 public:
  // False when the room for cap characters cannot be had.
  bool reserve(std::size_t cap) {
    cap_ = cap;
    if (cap <= sizeof(local_)) {
      chars_ = local_;
      return true;
    }
    heap_.reset(new (std::nothrow) char[cap]);
    chars_ = heap_.get();
    return chars_ != nullptr;
  }
  // Starts a new value.
  void clear() { len_ = 0; }
  // Appends one character; past cap it is only counted.
  void add(char c) {
    if (len_ < cap_) chars_[len_] = c;
    ++len_;
  }
  // Writes the value into a slot of len characters, cut or padded with blanks.
  void store(char* out, std::size_t len) const {
    std::size_t n = std::min({len, len_, cap_});
    std::memcpy(out, chars_, n);
    std::memset(out + n, ' ', len - n);
  }

 private:
  char local_[256];
  std::unique_ptr<char[]> heap_;
  char* chars_ = local_;
  std::size_t cap_ = 0;
  std::size_t len_ = 0;
};

// Reads a quoted value whose opening quote is next; false when the input ends before the closing
// quote (the value is then incomplete).
bool scan_quoted(Cursor& cur, TextValue& t) {
  int quote = cur.peek();
  cur.advance();
  bool backslash = false;  // a backslash waits: before a line end it stands for a line feed
  for (;;) {
    int c = cur.peek();
    if (c < 0) return false;
    cur.advance();
    if (c == '\r') {
      if (cur.peek() == '\n') {
        cur.advance();
        c = '\n';
      } else {
        if (backslash) t.add('\\');
        backslash = false;
        t.add('\r');
        continue;
      }
    }
    if (c == '\n') {
      if (backslash) t.add('\n');
      backslash = false;
      continue;
    }
    if (backslash) t.add('\\');
    backslash = c == '\\';
    if (backslash) continue;
    if (c == quote) {
      if (cur.peek() != quote) return true;
      cur.advance();
    }
    t.add(static_cast<char>(c));
  }
}

// Reads an unquoted text value up to a blank, tab, comma, slash or line end (left unread). With
// allow_count, digits then «*» at its start make a count: copies gets it and true comes back.
bool scan_unquoted(Cursor& cur, TextValue& t, bool allow_count, std::uint64_t& copies) {
  std::uint64_t count = 0;
  bool all_digits = allow_count;
  for (int c = cur.peek(); !ends_value(c); c = cur.peek()) {
    if (c == '*' && all_digits && count > 0) {
      cur.advance();
      copies = count;
      return true;
    }
    if (is_digit(c)) {
      count = std::min(count * 10 + static_cast<std::uint64_t>(c - '0'), kCountCap);
    } else {
      all_digits = false;
    }
    t.add(static_cast<char>(c));
    cur.advance();
  }
  return false;
}

// One value as it will be copied into the slots it reaches.
struct Value {
  enum class Kind { null, number, text };
  Kind kind = Kind::null;
  std::uint64_t copies = 0;  // slots it still fills
  double number = 0.0;
};

// Writes one copy of v into slot s: a number goes to integer and double slots, a text to text
// slots; any other pairing is a null value and leaves the slot alone.
Reason store(const Slot& s, const Value& v, const TextValue& text) {
  switch (s.kind) {
    case Slot::Kind::integer:
      if (v.kind == Value::Kind::number) {
        double t = std::trunc(v.number);
        if (!(t >= -2147483648.0 && t < 2147483648.0)) return Reason::integer_range;
        *static_cast<std::int32_t*>(s.target) = static_cast<std::int32_t>(t);
      }
      break;
    case Slot::Kind::real:
      if (v.kind == Value::Kind::number) *static_cast<double*>(s.target) = v.number;
      break;
    case Slot::Kind::text:
      if (v.kind == Value::Kind::text) {
        assert(s.len >= 0);
        text.store(static_cast<char*>(s.target), static_cast<std::size_t>(s.len));
      }
      break;
  }
  return Reason::none;
}

// The nearest double to ±m/10^places, for m <= 2^53 and places <= 22: m and 10^places are exact
// doubles, and one division rounds their quotient correctly. All-zero digits give +0, whatever
// the sign.
double decimal_value(std::uint64_t m, int places, bool negative) {
  if (m == 0) return 0.0;
  const double v = static_cast<double>(m) / kExactPow10[places];
  return negative ? -v : v;
}

// Reads a plain decimal ([sign] digits [. digits], at most 19 digits) from [p, e) that a value end
// follows inside those bytes, and whose digits form an integer m <= 2^53 with at most 22 of them
// after the point. Then m and 10^places are exact doubles and one division rounds m/10^places
// correctly, the same double as the full conversion. Sets x and returns where the number stops;
// null for any other text, which the full scan then reads.
const char* scan_plain_decimal(const char* p, const char* e, double& x) {
  bool negative = false;
  if (p < e && (*p == '-' || *p == '+')) {
    negative = *p == '-';
    ++p;
  }
  std::uint64_t m = 0;
  const char* q = p;
  for (; q < e && is_digit(static_cast<unsigned char>(*q)); ++q) m = m * 10 + static_cast<std::uint64_t>(*q - '0');
  const std::ptrdiff_t integers = q - p;
  std::ptrdiff_t places = 0;
  if (q < e && *q == '.') {
    const char* f = ++q;
    for (; q < e && is_digit(static_cast<unsigned char>(*q)); ++q) m = m * 10 + static_cast<std::uint64_t>(*q - '0');
    places = q - f;
  }
  const std::ptrdiff_t digits = integers + places;
  if (digits == 0 || digits > 19 || q == e || !ends_value(static_cast<unsigned char>(*q))) return nullptr;
  if (m > (std::uint64_t{1} << 53) || places > 22) return nullptr;
  x = decimal_value(m, static_cast<int>(places), negative);
  return q;
}

// The digit values of a word of text read from memory, one a byte, the first byte lowest; the
// bytes that are no digit show the high bit. A byte's own high bit and a sum that cannot carry
// into the next byte decide, so every byte is tested alone.
std::uint64_t digit_values(std::uint64_t word, std::uint64_t& non_digits) {
  const std::uint64_t v = word ^ 0x3030303030303030ULL;  // '0'..'9' become 0..9
  non_digits = (((v & 0x7F7F7F7F7F7F7F7FULL) + 0x7676767676767676ULL) | v) & 0x8080808080808080ULL;
  return v;
}

// The number that the first count (1 to 8) digit values of a word spell: they are moved to the
// top, below them come zeros, and three multiplications add the eight digits up in pairs.
std::uint64_t digits_number(std::uint64_t values, int count) {
  std::uint64_t v = values << (8 * (8 - count));
  v = v * 10 + (v >> 8);
  v = (((v & 0x000000FF000000FFULL) * 0x000F424000000064ULL) +
       (((v >> 16) & 0x000000FF000000FFULL) * 0x0000271000000001ULL)) >> 32;
  return v;
}

// Reads a plain decimal as scan_plain_decimal does, to the same double and the same stop, eight
// bytes at a time: a sign, at most 8 digits, optionally a point and at most 8 digits, then a value
// end. Every other text, and a number near the end of the bytes, goes to scan_plain_decimal.
const char* scan_short_decimal(const char* p, const char* e, double& x) {
  // A sign, two words, the point and the byte after the second word lie within 19 bytes.
  if constexpr (std::endian::native != std::endian::little) return scan_plain_decimal(p, e, x);
  if (e - p < 19) return scan_plain_decimal(p, e, x);
  const char* const start = p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  std::uint64_t word = 0;
  std::uint64_t non_digits = 0;
  std::memcpy(&word, p, 8);
  std::uint64_t values = digit_values(word, non_digits);
  const int integers = std::countr_zero(non_digits) / 8;
  std::uint64_t m = integers > 0 ? digits_number(values, integers) : 0;
  const char* q = p + integers;
  int places = 0;
  if (*q == '.') {
    ++q;
    std::memcpy(&word, q, 8);
    values = digit_values(word, non_digits);
    places = std::countr_zero(non_digits) / 8;
    if (places > 0) m = m * kPow10[places] + digits_number(values, places);
    q += places;
  }
  if (integers + places == 0 || !ends_value(static_cast<unsigned char>(*q)) || m > (std::uint64_t{1} << 53)) {
    return scan_plain_decimal(start, e, x);
  }
  x = decimal_value(m, places, negative);
  return q;
}

// Reads the value of a numeric slot at the cursor into v. A number that ends inside the block is
// read straight from it; one that may run past the block's end is read again byte by byte.
Reason read_numeric(Cursor& cur, bool integer, Value& v) {
  if (!integer) {
    double x = 0.0;
    if (const char* stop = scan_short_decimal(cur.pos(), cur.limit(), x)) {
      cur.jump(stop);
      v.copies = 1;
      v.kind = Value::Kind::number;
      v.number = x;
      return Reason::none;
    }
  }
  NumericValue nv;
  BlockRun run{cur.pos(), cur.limit()};
  Reason r = scan_numeric(run, integer, nv);
  if (!run.hit_end) {
    cur.jump(run.p);
  } else {
    nv = NumericValue{};
    r = scan_numeric(cur, integer, nv);
    if (cur.failed()) return Reason::read_failed;
  }
  if (r != Reason::none) return r;
  v.copies = nv.copies;
  v.kind = nv.null ? Value::Kind::null : Value::Kind::number;
  if (!nv.null) v.number = to_double(nv.number);
  return Reason::none;
}

}  // namespace

const char* read_plain_values(const char* p, const char* e, int n, double* values) {
  const auto skip_blanks = [&] {
    while (p < e && is_blank(static_cast<unsigned char>(*p))) ++p;
  };
  for (int i = 0; i < n; ++i) {
    skip_blanks();
    if (i > 0 && p < e && *p == ',') {
      ++p;
      skip_blanks();
    }
    // A line end, a null value, a slash or the block's end before a value: the full read.
    if (p == e || *p == '\n' || *p == ',' || *p == '/') return nullptr;
    p = scan_short_decimal(p, e, values[i]);
    if (p == nullptr) return nullptr;
  }
  skip_blanks();
  if (p == e) return nullptr;
  if (*p != '\n') {
    p = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(e - p)));
    if (p == nullptr) return nullptr;
  }
  return p + 1;
}

#if defined(__SSE2__)
namespace {

// One bit per byte of the 16 bytes of v, set where the byte of v is all ones.
std::uint32_t byte_bits(__m128i v) { return static_cast<std::uint32_t>(_mm_movemask_epi8(v)); }

// The number that the count (0 to 8) digits at p spell.
std::uint64_t digits_at(const char* p, int count) {
  if (count == 0) return 0;
  std::uint64_t word = 0;
  std::memcpy(&word, p, 8);
  std::uint64_t non_digits = 0;
  return digits_number(digit_values(word, non_digits), count);
}

}  // namespace

const char* read_shaped_row(const char* p, const char* e, int n, double* values) {
  if (e - p < 40 || n < 1) return nullptr;
  // One bit per byte of the first 32 bytes for each kind of byte the shape allows.
  std::uint32_t line_end = 0, number = 0, point = 0, minus = 0, blank = 0;
  for (int half = 0; half < 2; ++half) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * half));
    const __m128i is_point = _mm_cmpeq_epi8(v, _mm_set1_epi8('.'));
    const __m128i is_minus = _mm_cmpeq_epi8(v, _mm_set1_epi8('-'));
    const __m128i is_digit =
        _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8('0' - 1)), _mm_cmplt_epi8(v, _mm_set1_epi8('9' + 1)));
    const int at = 16 * half;
    line_end |= byte_bits(_mm_cmpeq_epi8(v, _mm_set1_epi8('\n'))) << at;
    blank |= byte_bits(_mm_cmpeq_epi8(v, _mm_set1_epi8(' '))) << at;
    point |= byte_bits(is_point) << at;
    minus |= byte_bits(is_minus) << at;
    number |= byte_bits(_mm_or_si128(is_digit, _mm_or_si128(is_point, is_minus))) << at;
  }
  // The line end within the first 32 bytes (every word read below then lies inside the first 40),
  // a CR before it taken as a blank.
  if (line_end == 0) return nullptr;
  const int length = std::countr_zero(line_end);
  const std::uint32_t row = (std::uint32_t{1} << length) - 1;
  if (length > 0 && p[length - 1] == '\r') blank |= std::uint32_t{1} << (length - 1);
  // The shape, checked once for the row: numbers made of digits, points and minus signs only,
  // separated by blanks, each minus sign first in its number.
  number &= row;
  if ((number | (blank & row)) != row) return nullptr;
  std::uint32_t starts = number & ~(number << 1);
  std::uint32_t ends = number & ~(number >> 1);
  if (((minus & row) & ~starts) != 0) return nullptr;
  for (int i = 0; i < n; ++i) {
    if (starts == 0) return nullptr;  // fewer than n numbers
    int first = std::countr_zero(starts);
    const int stop = std::countr_zero(ends) + 1;
    starts &= starts - 1;
    ends &= ends - 1;
    const bool negative = ((minus >> first) & 1) != 0;
    first += negative ? 1 : 0;
    const std::uint32_t own_point = point & (static_cast<std::uint32_t>((std::uint64_t{1} << stop) - 1) >> first << first);
    if ((own_point & (own_point - 1)) != 0) return nullptr;  // two points
    const int at = own_point != 0 ? std::countr_zero(own_point) : stop;
    const int integers = at - first;
    const int places = own_point != 0 ? stop - at - 1 : 0;
    if (integers > 8 || places > 8 || integers + places == 0) return nullptr;
    std::uint64_t m = 0;
    if (integers + places <= 7) {
      // All digits lie in the word at the number's first digit: the point is taken out of it and
      // the digits are added up at once.
      std::uint64_t word = 0;
      std::memcpy(&word, p + first, 8);
      const int whole_bits = 8 * integers;
      std::uint64_t joined = word & ((std::uint64_t{1} << whole_bits) - 1);
      if (places > 0) joined |= (word >> (whole_bits + 8)) << whole_bits;
      std::uint64_t non_digits = 0;
      m = digits_number(digit_values(joined, non_digits), integers + places);
    } else {
      m = digits_at(p + first, integers);
      if (places > 0) m = m * kPow10[places] + digits_at(p + at + 1, places);
      if (m > (std::uint64_t{1} << 53)) return nullptr;
    }
    values[i] = decimal_value(m, places, negative);
  }
  if (starts != 0) return nullptr;  // more than n numbers
  return p + length + 1;
}
#else
const char* read_shaped_row(const char*, const char*, int, double*) { return nullptr; }
#endif

namespace {

// Reads a whole row of real slots from the block at the cursor when it is written the plain way:
// on one line, each value a plain decimal, separated by blanks or one comma, the line end (after
// anything past the last value) inside the block. A row of the common shape is read in one pass
// over its bytes, any other by the value-by-value scan. Fills the slots, takes the row with its
// line end and returns true; otherwise changes nothing and returns false, for the full read.
bool read_plain_row(Cursor& cur, std::span<const Slot> slots) {
  constexpr std::size_t kMaxSlots = 8;
  if (slots.size() > kMaxSlots) return false;
  for (const Slot& s : slots) {
    if (s.kind != Slot::Kind::real) return false;
  }
  double values[kMaxSlots];
  const int n = static_cast<int>(slots.size());
  const char* stop = read_shaped_row(cur.pos(), cur.limit(), n, values);
  if (stop == nullptr) stop = read_plain_values(cur.pos(), cur.limit(), n, values);
  if (stop == nullptr) return false;
  cur.jump(stop);
  for (std::size_t i = 0; i < slots.size(); ++i) *static_cast<double*>(slots[i].target) = values[i];
  return true;
}

// Reads the value of a text slot at the cursor into v and text; Reason::list_eof when a quoted
// value meets the end of input before its closing quote.
Reason read_text(Cursor& cur, Value& v, TextValue& text) {
  text.clear();
  v.copies = 1;
  v.kind = Value::Kind::text;
  bool quoted = cur.peek() == '\'' || cur.peek() == '"';
  if (!quoted && scan_unquoted(cur, text, true, v.copies)) {
    text.clear();
    int c = cur.peek();
    quoted = c == '\'' || c == '"';
    if (!quoted && ends_value(c)) v.kind = Value::Kind::null;
    if (!quoted) scan_unquoted(cur, text, false, v.copies);
  }
  if (quoted && !scan_quoted(cur, text)) return cur.failed() ? Reason::read_failed : Reason::list_eof;
  return cur.failed() ? Reason::read_failed : Reason::none;
}

// The outcome of a failure; a read error carries the system's errno.
ReadOutcome fail(Reason reason, const Cursor& cur) {
  return {reason, reason == Reason::read_failed ? cur.sys_errno() : 0};
}

// Ends a statement: the rest of the line and its line end are discarded. Other text on a last
// line without line end is the end of input for a caller with a branch.
ReadOutcome end_statement(Cursor& cur, bool eof_branch) {
  cur.skip_blanks();
  int c = cur.peek();
  if (c == '\n') {
    cur.advance();
  } else if (c >= 0 && !cur.discard_line() && !cur.failed() && eof_branch) {
    return {Reason::end_branch};
  }
  if (cur.failed()) return fail(Reason::read_failed, cur);
  return {};
}

}  // namespace

ReadOutcome read_free_form(InBuffer& in, bool& at_end, std::span<const Slot> slots, bool eof_branch) {
  if (slots.empty()) {
    if (at_end) return {};
    Cursor cur(in, at_end);
    cur.discard_line();
    return cur.failed() ? fail(Reason::read_failed, cur) : ReadOutcome{};
  }
  if (at_end) return {eof_branch ? Reason::end_branch : Reason::start_eof};

  // Nearly every row of a record is written the plain way, and is read straight from the block.
  {
    Cursor cur(in, at_end);
    if (read_plain_row(cur, slots)) return {};
  }

  TextValue text;
  std::size_t longest = 0;
  for (const Slot& s : slots) {
    if (s.kind == Slot::Kind::text) longest = std::max(longest, static_cast<std::size_t>(std::max(s.len, 0)));
  }
  if (!text.reserve(longest)) return {Reason::out_of_memory};

  Cursor cur(in, at_end);
  Value v;
  bool separator_due = false;  // a value was read: one comma after it is its separator
  for (const Slot& s : slots) {
    if (v.copies == 0) {
      if (separator_due) {
        cur.skip_blanks();
        if (cur.peek() == ',') cur.advance();
        separator_due = false;
      }
      cur.skip_space();
      int c = cur.peek();
      if (c == kError) return fail(Reason::read_failed, cur);
      if (c == kEnd) return {eof_branch ? Reason::end_branch : Reason::list_eof};
      if (c == ',') {
        cur.advance();
        continue;
      }
      if (c == '/') {
        cur.advance();
        break;
      }
      Reason r = s.kind == Slot::Kind::text ? read_text(cur, v, text)
                                            : read_numeric(cur, s.kind == Slot::Kind::integer, v);
      if (r == Reason::list_eof && eof_branch) r = Reason::end_branch;
      if (r != Reason::none) return fail(r, cur);
      separator_due = true;
    }
    --v.copies;
    if (Reason r = store(s, v, text); r != Reason::none) return {r};
  }
  return end_statement(cur, eof_branch);
}

std::int64_t read_shaped_rows(InBuffer& in, bool at_end, int n, std::int64_t row, RowSlots slots_of,
                              const void* source, std::size_t most) {
  if (at_end || n > kMaxRowSlots) return 0;
  const char* const start = in.data();
  const char* const e = start + std::min(in.available(), most);
  const char* p = start;
  Slot slots[kMaxRowSlots];
  double values[kMaxRowSlots];
  std::int64_t taken = 0;
  for (;; ++taken) {
    slots_of(source, row + taken, slots);
    for (int i = 0; i < n; ++i) {
      if (slots[i].kind != Slot::Kind::real) return taken;
    }
    const char* stop = read_shaped_row(p, e, n, values);
    if (stop == nullptr) break;
    for (int i = 0; i < n; ++i) *static_cast<double*>(slots[i].target) = values[i];
    p = stop;
    in.skip(static_cast<std::size_t>(stop - in.data()));
  }
  return taken;
}

ReadOutcome read_text_line(InBuffer& in, bool& at_end, char* item, int len) {
  assert(len >= 0);
  if (at_end) return {Reason::start_eof};
  TextValue text;
  if (!text.reserve(static_cast<std::size_t>(len))) return {Reason::out_of_memory};
  Cursor cur(in, at_end);
  for (int taken = 0; taken < len; ++taken) {
    int c = cur.peek();
    if (c == '\n') break;
    if (c == kError) return fail(Reason::read_failed, cur);
    if (c == kEnd) return {Reason::fmt_eof};
    cur.advance();
    if (c == '\r' && cur.peek() == '\n') break;
    text.add(static_cast<char>(c));
  }
  text.store(item, static_cast<std::size_t>(len));
  // A name cut inside a word: the last column kept and the first one lost are both characters
  // (a CR counts as one unless a line feed follows it).
  bool cut_in_word = false;
  if (len > 0 && item[len - 1] != ' ' && item[len - 1] != '\t') {
    int c = cur.peek();
    if (c == '\r') {
      cur.advance();
      cut_in_word = cur.peek() != '\n';
    } else {
      cut_in_word = c >= 0 && c != '\n' && c != ' ' && c != '\t';
    }
  }
  if (!cur.discard_line() && cur.failed()) return fail(Reason::read_failed, cur);
  return {Reason::none, 0, cut_in_word};
}

}  // namespace wavproc::detail
