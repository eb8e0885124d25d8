// Internals of the record layer that its tests, fuzz targets and benchmarks reach: the input
// buffer, the free-form and text readers, the field and item writers, and, in the test and fuzz
// builds only, the test hooks. Not part of the textio/ contract; textio/textio.h is.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

#include "textio/textio.h"

namespace wavproc::detail {

// A block of bytes for a unit: from the room lent by lend_block_room while it lasts, else from the
// heap; nullptr when there is no memory.
char* take_block(std::size_t bytes);
// The i-th (i < kStagingBlocks) block of kOutBlock bytes in which the second thread lays down
// records ahead of a unit's block, taken at the first ask and kept; nullptr when there is no memory.
inline constexpr int kStagingBlocks = 3;
char* staging_block(int i);
// Gives back a block that take_block gave (a block in the lent room stays where it is).
void give_back_block(char* block);

// Bytes of one input stream, read in large blocks from a file descriptor, or a fixed text.
class InBuffer {
 public:
  static constexpr int kEnd = -1;    // the stream has ended
  static constexpr int kError = -2;  // the system refused a read; error() holds its errno

  InBuffer() = default;
  ~InBuffer();
  InBuffer(const InBuffer&) = delete;
  InBuffer& operator=(const InBuffer&) = delete;

  // Reads from fd from now on; before a read that may wait, calls before_wait (may be null).
  void attach(int fd, void (*before_wait)());
  // Serves the bytes of text, then the end (text must outlive the reads).
  void attach_text(std::string_view text);
  // Forgets the stream and any buffered bytes.
  void detach();

  // The next byte (0..255) without taking it, or kEnd / kError.
  int peek() { return cur_ < end_ ? static_cast<unsigned char>(*cur_) : fill(); }
  // Takes the byte that peek() returned; only after peek() gave a byte.
  void advance() { ++cur_; }
  int error() const { return error_; }
  // The stream attached last starts here: a UTF-8 byte-order mark at its front is passed over.
  void skip_mark() { mark_ = true; }

  // The buffered bytes not taken yet, for scanning a run of bytes at once; take n with skip(n).
  const char* data() const { return cur_; }
  std::size_t available() const { return static_cast<std::size_t>(end_ - cur_); }
  void skip(std::size_t n) { cur_ += n; }

  // Where the next byte lies in the stream, counted from where it stood at the attach.
  std::int64_t offset() const { return end_at_ - static_cast<std::int64_t>(end_ - cur_); }
  // Goes on from stream offset `to` (as offset() counts) of a descriptor that can seek, dropping
  // the buffered bytes; false, with nothing changed, where the system refuses. delta is the
  // descriptor's position at the attach.
  bool restart_at(std::int64_t to, std::int64_t delta);

 private:
  int fill();
  // Takes a byte-order mark off the front of the block just filled, reading on where the first
  // read gave only part of one; true when no byte of the block is left.
  bool pass_mark();

  static constexpr std::size_t kBlock = 1 << 16;
  int fd_ = -1;
  void (*before_wait_)() = nullptr;
  const char* cur_ = nullptr;
  const char* end_ = nullptr;
  char* block_ = nullptr;  // kBlock bytes, obtained on first attach to a descriptor
  std::int64_t end_at_ = 0;  // the offset of end_: the bytes read since the attach
  int error_ = 0;
  bool mark_ = false;  // the next fill is the stream's first
};

// How a read ended: Reason::none, Reason::end_branch, or a failure with its errno where it has one.
struct ReadOutcome {
  Reason reason = Reason::none;
  int sys_errno = 0;
  bool cut_in_word = false;  // a text line read: its last column kept and the next are both characters
};

// The free-form read of one statement: fills slots in order from in, across as many lines as it
// needs, and discards the rest of the line its last value stood on. at_end is the unit's
// end-of-input flag (set here when the stream ends, read here at the start). With eof_branch the
// end of input gives Reason::end_branch instead of a failure. Slots not reached keep their values.
ReadOutcome read_free_form(InBuffer& in, bool& at_end, std::span<const Slot> slots, bool eof_branch);

// The plain row that read_free_form takes straight from the block, n values of real slots: a
// plain decimal each, separated by blanks or one comma, the rest of the line discarded. Reads the
// values from [p, e) and returns where the next line starts; null for any other text, and where
// the line end is not inside [p, e). The value-by-value reference.
const char* read_plain_values(const char* p, const char* e, int n, double* values);
// The same for the common shape, read in one pass over the row's bytes: n numbers of a minus sign,
// up to 8 digits, a point and up to 8 digits, separated by blanks, the line end within 32 bytes
// and 40 bytes readable from p. Gives the values and line of read_plain_values, or null.
const char* read_shaped_row(const char* p, const char* e, int n, double* values);

// The free-form reads of a run of rows (row, row + 1, ...) of n real slots, the slots of each
// given by slots_of, for as long as the rows in the first `most` bytes of the block have the
// common shape: each row taken as read_free_form takes it. Returns the rows taken; the next is left
// for read_free_form.
std::int64_t read_shaped_rows(InBuffer& in, bool at_end, int n, std::int64_t row, RowSlots slots_of,
                              const void* source, std::size_t most = SIZE_MAX);

// The rows of a long record read on two threads (textio/rows_beside.cpp): the second thread reads
// the rows of the common shape from the first line start past the middle of what is left of the
// file (the meeting line), into room; the unit's thread reads up to that line and takes them there.
class RowsBeside {
 public:
  // The second thread's rows, and where they end in the file (offsets from the file's start).
  struct Job {
    int fd = -1;
    int n = 0;
    std::int64_t from = 0;
    char* window = nullptr;  // the second thread's view of the file, at the front of the room
    std::size_t window_used = 0;
    double* values = nullptr;  // n values a row, after the window
    std::int64_t capacity = 0;
    std::atomic<bool> stop{false};
    std::int64_t rows = 0;
    std::int64_t end = 0;
  };

  RowsBeside() = default;
  RowsBeside(const RowsBeside&) = delete;
  RowsBeside& operator=(const RowsBeside&) = delete;

  // Starts the second thread on the rest of in's stream, a regular file on fd, rows of n real
  // slots, where that rest is long and the second thread is free; room is scratch, all zero, that
  // is left all zero again. Nothing happens otherwise, and the other calls change nothing.
  void start(const InBuffer& in, int fd, int n, std::span<double> room);
  // The bytes of in's block that this thread may read rows from before the meeting line (all of
  // them when nothing was started or the line is passed).
  std::size_t before_meeting(const InBuffer& in) const;
  // True when in's next byte starts the meeting line: the second thread's rows come next.
  bool at_meeting(const InBuffer& in) const;
  // True when in has read past the start of the meeting line: a row ran across it.
  bool passed(const InBuffer& in) const;
  // At the meeting line: waits for the second thread, gives its rows to the slots of rows row,
  // row + 1, ... and moves in past them; returns the rows taken (0: in reads on from the line).
  std::int64_t take(InBuffer& in, std::int64_t row, RowSlots slots_of, const void* source);
  // Stops the second thread and drops its rows; to be called before this thread ends the read.
  void give_up();

 private:
  void clear();

  Job job_;
  bool active_ = false;
  std::int64_t delta_ = 0;  // the file offset of in's offset 0
  std::int64_t meet_ = 0;   // the meeting line, as in.offset() counts
};

// The "(Aw)" read with w equal to len: the next len characters of the line into item (blank-padded
// where the line is shorter), then the rest of the line and its line end are skipped.
ReadOutcome read_text_line(InBuffer& in, bool& at_end, char* item, int len);

// The field Fw.d of v: exactly w characters into out (1 <= w <= 40, 0 <= d < w).
void write_fixed_field(char* out, double v, int w, int d);
// The field Ew.d of v: exactly w characters into out (1 <= w <= 40, 1 <= d < w).
void write_exp_field(char* out, double v, int w, int d);
// The writer made for the field of kind 'F' or 'E', width w and d digits, for the shapes of the
// program's two files (F6.3, F8.4, F12.4, E12.4); null for every other shape.
FieldWriter field_writer(char kind, int w, int d);
// The free-form text of a double item: a blank, a minus or a blank, then the magnitude with nine
// significant digits («  0.01», « -3.5», «  1.E-005»); returns its length (at most 24).
std::size_t write_list_double(char* out, double v);
// The free-form text of an integer item: a blank, a minus for a negative value, the digits.
std::size_t write_list_integer(char* out, std::int32_t v);


#ifdef WAVPROC_TEST_HOOKS
// The hooks by which the test and fuzz programs step into a run (textio/test_hooks.cpp). Only the
// libraries built for those programs define WAVPROC_TEST_HOOKS; the shipped program has none of this.

// When set (only by the in-process fuzz run), every end of a run calls it after the closing,
// instead of ending the process: with the exit status, or -1 for the abnormal end. It must not
// return (it throws to the caller of the stages).
extern void (*end_of_run)(int status);

// When set (only by a test build), called before each write of a file's block and before a
// rewritten file is put in place: the moments at which a test ends the run from outside.
extern void (*file_step)();

// True when no unit but the console ones is connected: every run closes what it opened.
bool only_consoles_connected();
#endif

}  // namespace wavproc::detail
