// The record layer: units, free-form and formatted records, fields, free-form reading, and the
// fatal report. Every byte the program reads or writes goes through here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string_view>

namespace wavproc {

// Why a statement failed; each value has one first line of the fatal report (reason_text).
enum class Reason : int {
  none,             // the statement succeeded
  end_branch,       // end of input met by a read that has an end-of-file branch: the caller takes it
  list_eof,         // "list in: end of file": a free-form read met the end while it looked for a value
  start_eof,        // "read start: end of file": a read began on a unit that met its end before
  fmt_eof,          // "fmt: end of file": the "(A30)" read met the end before 30 characters or a line end
  null_name,        // "open: null file name"
  truncation,       // "endfile: truncation failed in endfile"
  invalid_number,   // "invalid number: incomprehensible list input": a value without digits
  bad_repeat,       // "bad repetition count: incomprehensible list input": empty, zero, signed or >40 digits
  bad_exponent,     // "exponent field: incomprehensible list input": no exponent digit, or above 99999999
  invalid_integer,  // "invalid integer: read unexpected character": a point or exponent letter in an integer
  integer_range,    // "invalid integer: value out of 32-bit range": an integer answer that does not fit
  name_too_long,    // "open: file name longer than 30 characters": the name read was cut inside a word
  out_of_memory,    // "malloc failure: out of free space"
  cant_write,       // "list output start: can't write file": first write to a file opened for reading only
  open_failed,      // "open: " and the system's text
  read_failed,      // "list in: " and the system's text
  write_failed,     // "write: " and the system's text: data could not be written to the unit's stream
  sync_failed,      // "sync: " and the system's text: a replaced file's new text did not reach the disk
  close_failed,     // "close: " and the system's text: the system refused the new text at its close
};

// The first line of the fatal report for a reason, with the system's text for sys_errno where the
// reason carries one; written into out (at least 160 bytes), returns its length.
std::size_t reason_text(char* out, Reason reason, int sys_errno);

// One item slot of a free-form read.
struct Slot {
  enum class Kind { integer, real, text };
  Kind kind;
  void* target;
  int len;  // characters of a text slot

  static Slot of(std::int32_t& v) { return {Kind::integer, &v, 0}; }
  static Slot of(double& v) { return {Kind::real, &v, 0}; }
  template <std::size_t L>
  static Slot of(char (&v)[L]) { return {Kind::text, v, static_cast<int>(L)}; }
};

namespace detail {

// One op of a parsed format; read only by textio's own walk over the format.
struct FormatOp {
  enum class Kind : std::uint8_t { fixed, exp, text_in, skip, slash, literal, group, end_group };
  FormatOp() = default;
  FormatOp(Kind k, int width = 0, int digits = 0) : kind(k), w(width), d(digits) {}
  Kind kind = Kind::literal;
  int w = 0;      // width of a field, count of a skip, repeat of a group
  int d = 0;      // digits of a field
  int other = 0;  // group: index of its end; end_group: index of its group
  std::string_view lit;
};

// A writer of one field of fixed shape: the same w characters as write_fixed_field or
// write_exp_field (textio/textio_detail.h) give for its w and d.
using FieldWriter = void (*)(char* out, double v);

// One step of a one-record format, its groups unrolled: the quoted text, then the field (kind
// fixed or exp), or the text alone (kind literal) at the end.
struct FormatStep {
  std::string_view lit;
  FormatOp::Kind kind = FormatOp::Kind::literal;
  int w = 0;
  int d = 0;
  FieldWriter write = nullptr;  // the field's own writer, where its shape has one
};

}  // namespace detail

// A format in the field notation, parsed once: Fw.d, Ew.d, Aw, nX, /, quoted text, r( ... ).
class Format {
 public:
  // Parses text; a malformed format is a programming error and aborts.
  explicit Format(std::string_view text);
  std::string_view text() const { return text_; }

  // The parsed ops, in textio's own terms.
  std::span<const detail::FormatOp> ops() const { return {ops_, static_cast<std::size_t>(count_)}; }
  // The most bytes one output statement through this format can write, line ends included.
  std::size_t longest() const { return longest_; }
  // The steps of a format made only of fields and quoted texts, at most one text before each
  // field, unrolling to at most kMaxSteps steps; empty for any other format.
  std::span<const detail::FormatStep> steps() const {
    return {steps_, static_cast<std::size_t>(step_count_)};
  }

 private:
  static constexpr int kMaxOps = 24;
  static constexpr int kMaxSteps = 16;
  // Fills ops_ from text_; a malformed format aborts.
  void parse();
  // The most bytes one output statement through ops_ can write, line ends included.
  std::size_t measure() const;
  // Appends the unrolled steps of ops [from, to) to steps_; false when the format has no steps.
  bool unroll(int from, int to);

  std::string_view text_;
  detail::FormatOp ops_[kMaxOps];
  int count_ = 0;
  std::size_t longest_ = 0;
  detail::FormatStep steps_[kMaxSteps];
  int step_count_ = 0;
};

// A free-form output item: a text item at its full length, an integer or a double.
struct Item {
  enum class Kind { text, integer, real };
  Kind kind;
  std::string_view text;
  std::int32_t integer = 0;
  double real = 0.0;

  Item(std::string_view t) : kind(Kind::text), text(t) {}
  Item(const char* t) : kind(Kind::text), text(t) {}
  Item(std::int32_t v) : kind(Kind::integer), integer(v) {}
  Item(double v) : kind(Kind::real), real(v) {}
};

inline constexpr int kUnits = 100;
inline constexpr int kStderr = 0;
inline constexpr int kConsoleIn = 5;
inline constexpr int kConsoleOut = 6;

// Connects the console units, installs the signal handlers and registers the end-of-run closing.
void start_up();

// Lends the record layer room for its units' blocks (64 KiB each, 68 KiB for output), taken from it
// while it lasts in place of the heap and never given back; room must stay for the life of the
// process. Room in a store mapped in large pages has its pages mapped already, where a block from
// the heap costs a page fault for each 4 KiB it fills.
void lend_block_room(std::span<char> room);
// Room for every block one run takes (textio/blocks.cpp counts them): lent this much, a run's
// blocks never come from the heap.
inline constexpr std::size_t kRunBlockRoom = std::size_t{10} * (68 << 10);

// Whether work that splits in two may run on a second thread (the default); without it every job
// runs in the calling thread. The bytes written are the same either way.
void use_second_thread(bool use);
// True when jobs can go to the second thread (started here at the first ask, and the file thread
// of close_unit_beside with it where files are synced); false when it is not wanted or the system gives none. Only the
// stages' thread asks.
bool second_thread_free();
// Runs job(arg) on the second thread while the caller goes on, or at once in the caller when there
// is none; one job at a time, each ended by finish_beside() before the next. The job touches no
// unit and ends no run.
void run_beside(void (*job)(void*), void* arg);
// The same with a callable job(), which must live until finish_beside().
template <class Job>
void run_beside(Job& job) {
  run_beside([](void* j) { (*static_cast<Job*>(j))(); }, &job);
}
// Waits until the job handed to the second thread has ended.
void finish_beside();

// Whether each replaced file is put on the disk before it takes the older file's place (the
// default). Without the wait a kill still leaves the older file or the whole new one, but after an
// operating-system crash or power loss a file may be empty or hold the older content.
void set_sync_before_rename(bool sync);

// What a file is connected for: a record that is only read (opened for reading, nothing created),
// or a file that the run writes (replaced whole at the close, or rewritten in place).
enum class Access { read, write };

// Connects unit to the file named by the text item name (trailing blanks removed), for access;
// fatal on failure. For writing, an existing file is opened for update, else for reading only,
// and a missing one is created.
void open_unit(int unit, std::string_view name, Access access = Access::write);
// Disconnects unit; a rewritten file is cut at what this connection wrote. Fatal when that fails.
void close_unit(int unit);
// The same, but a replaced file is put in its place (the wait for the disk, the swap, the removal
// of the older file) by another thread while the caller goes on. Nothing shows it: the console text
// written meanwhile is held until the file is in place, a file opened at its name finds it there,
// files take their places in the order closed, and a failure is reported as the close would have.
void close_unit_beside(int unit);

// One free-form output statement on unit.
void write_list(int unit, std::initializer_list<Item> items);
// One formatted output statement on unit: the records that fmt gives with these items.
void write_formatted(int unit, const Format& fmt, std::initializer_list<double> items);
// Sets items[0..n) to the items of row `row` of a run of formatted statements.
using RowItems = void (*)(const void* source, std::int64_t row, double* items);
// count formatted output statements on unit, statement r with the n (at most 8) items that fill
// gives for row r: the same bytes as count calls of write_formatted, the records laid down
// straight in the unit's block where the format allows. Bit i of same says that item i has the
// same value in every row (that of row 0): its field is then written once, not row by row.
void write_formatted_rows(int unit, const Format& fmt, std::int64_t count, int n, RowItems fill,
                          const void* source, std::uint32_t same = 0);
// The same with a callable fill(row, items).
template <class Fill>
void write_formatted_rows(int unit, const Format& fmt, std::int64_t count, int n, const Fill& fill,
                          std::uint32_t same = 0) {
  write_formatted_rows(
      unit, fmt, count, n,
      [](const void* source, std::int64_t row, double* items) { (*static_cast<const Fill*>(source))(row, items); },
      &fill, same);
}

// One free-form input statement on unit without an end-of-file branch; every failure is fatal.
void read_list(int unit, std::initializer_list<Slot> slots);
// The same with an end-of-file branch: false when the end of input was met (the caller's branch).
bool read_list_or_end(int unit, std::initializer_list<Slot> slots);
// Sets slots[0..n) to the slots of row `row` of a run of free-form input statements.
using RowSlots = void (*)(const void* source, std::int64_t row, Slot* slots);
inline constexpr int kMaxRowSlots = 8;
// Free-form input statements on unit with an end-of-file branch, statement r filling the n (at
// most kMaxRowSlots) slots that slots_of gives for row r, until the end of input; returns the
// statements read before it. The same as read_list_or_end called until it returns false. With room
// (scratch memory, all zero, which is left all zero), the rows of a long record are read on two
// threads.
std::int64_t read_list_rows(int unit, int n, RowSlots slots_of, const void* source, std::span<double> room = {});
// The same with a callable slots_of(row, slots).
template <class SlotsOf>
std::int64_t read_list_rows(int unit, int n, const SlotsOf& slots_of, std::span<double> room = {}) {
  return read_list_rows(
      unit, n, [](const void* source, std::int64_t row, Slot* slots) { (*static_cast<const SlotsOf*>(source))(row, slots); },
      &slots_of, room);
}
// The free-form read without items at the end of the run: waits for one line; the end of input ends
// the wait too.
void read_line_end(int unit);
// One formatted "(A30)"-style input statement: fills item from one line; failures are fatal.
// Returns true when the line ran on past the item inside a word (a character in the item's last
// column and in the next): a name read so is cut, and names some other file.
bool read_formatted_text(int unit, const Format& fmt, char* item, int len);

// For the next of several runs in one process, after a run whose files are all closed: the console
// units connected afresh to descriptors 0, 1 and 2 as start-up connects them (nothing read,
// buffered or failed before carries over), and no statement recorded.
void start_next_run();
// Closes every unit as the plain stop does, without ending the process; a failure is fatal.
void close_every_unit();

// Closes every unit and ends the process with status 0, writing nothing.
[[noreturn]] void plain_stop();
// Closes every unit and ends the process with status 1 (a record the program refuses).
[[noreturn]] void refusal_stop();
// The fatal run-time error report for unit (file name as given for a failing open), the closing,
// and the abnormal end.
[[noreturn]] void fatal(int unit, Reason reason, int sys_errno = 0, std::string_view open_name = {});

}  // namespace wavproc
