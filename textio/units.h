// Private to textio: the unit table and the statement bookkeeping that the fatal report reads.
#pragma once

#include <limits.h>
#include <sys/stat.h>
#include <sys/types.h>

#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "textio/textio.h"
#include "textio/textio_detail.h"

namespace wavproc::detail {

// A replaced or rewritten file is written in pieces of kOutBlock bytes, each beginning at a
// multiple of kOutBlock in the file: the system's cache takes such a piece in one large page of its
// own, where a piece across a page's edge costs small pages and their handling (synced, 0.5 to 0.6 ms
// a run of 32768 rows on the machine measured). A unit's block holds up to kOutSpill bytes more: the
// records past the file's next multiple wait there, a part of one at the block's front after a write.
inline constexpr std::size_t kOutBlock = 1 << 16;
inline constexpr std::size_t kOutSpill = 1 << 12;
inline constexpr std::size_t kOutRoom = kOutBlock + kOutSpill;
inline constexpr std::size_t kNameMax = 256;
// The longest path a unit keeps, its NUL included: a name from the command line may be as long as
// the system takes.
inline constexpr std::size_t kPathMax = PATH_MAX;

// What a unit is connected to; each kind is one state of a unit:
//   none         not connected: no stream, nothing buffered.
//   console      units 0, 5, 6 (standard error, input, output): the stream stays open at close.
//   special      a FIFO, a device or the console's own file: no stream until its first statement
//                opens it, for that statement's direction; never renamed or cut.
//   record       a file connected for reading only: the record, a folder, a file this user may not
//                write. No stream for a missing record (it reads as empty) or for one that can only
//                be written (its first read reports why).
//   replacement  the stream is the file's temporary file in its folder: put in the file's place at
//                close once written, removed when nothing was written.
//   in_place     the stream is the file itself, rewritten in place under an exclusive lock held
//                until the close, and cut there at what was written.
// A closing that failed leaves the kind as it was and no stream, so that the report can name the
// file; the next closing lets the unit go.
enum class Stream : unsigned char { none, console, special, record, replacement, in_place };

// One numbered connection. Output goes through block: whole records are appended and `used`
// moves past them in one store, so a signal handler that writes block[0, used) never cuts a record.
struct Unit {
  Stream kind = Stream::none;
  int fd = -1;
  std::size_t name_len = 0;
  bool readable = false;
  bool writable = false;
  bool last_write = false;
  bool at_end = false;
  bool failed = false;  // a write failed: buffered output is dropped, nothing more is written
  bool may_block = false;  // writes may wait (pipe, FIFO, terminal): written a few records at a time
  bool started = false;    // the first write has begun the file's new content
  int twin = -1;    // a console descriptor (1 or 2) that the file is: output goes through a copy of it
  int dir_fd = -1;  // the folder of the file the name finally names (symbolic links followed)
  char base[kNameMax] = {};      // that file's name in the folder
  char temp[kNameMax + 48] = {};  // the temporary file's name in the folder
  InBuffer in;
  char* block = nullptr;
  volatile std::size_t used = 0;
  volatile std::size_t sent = 0;  // bytes of block already written by a write that waits
  off_t written = 0;  // bytes this connection has put into the stream
  // Last, so that a unit's first page holds everything but the tail of a long name: each page of
  // the table that a run touches costs a page fault.
  char name[kPathMax] = {};  // the file name as opened, NUL-terminated (name_len bytes)
};

extern Unit units[kUnits];

// The units connected at some time in this process: only they can need a closing. Kept apart from
// the unit table, whose entries are large, so that a pass over every unit touches the memory of
// none of the others (each first touch of a page costs a page fault).
extern std::uint64_t touched[(kUnits + 63) / 64];
inline void mark_touched(int unit) { touched[unit / 64] |= std::uint64_t{1} << (unit % 64); }
inline bool was_touched(int unit) { return (touched[unit / 64] >> (unit % 64) & 1) != 0; }

// The statement bookkeeping of the fatal report: the recorded format (empty: none) and direction.
extern std::string_view last_format;
extern bool lately_reading;

// The signals whose handlers touch the unit table.
inline constexpr int kHandled[] = {SIGFPE, SIGABRT, SIGINT, SIGTERM};

// Blocks the signals whose handlers touch the unit table, for the life of the object.
class SignalGuard {
 public:
  SignalGuard();
  ~SignalGuard();
  SignalGuard(const SignalGuard&) = delete;
  SignalGuard& operator=(const SignalGuard&) = delete;

 private:
  sigset_t old_;
};

// The record being assembled by the current output statement.
std::string& record();
// Makes sure the unit can take a record: connected for writing, with its block; fatal otherwise.
void prepare_output(int unit);
// Appends one record and its line end to the unit's block, writing the block out when full.
void commit_record(int unit, std::string_view rec);
// Makes sure the unit can be read: a unit open for writing only is opened again for reading.
void prepare_input(int unit);
// Records the start of a statement for the fatal report: its direction and its format ("list io").
void begin_statement(bool reading, std::string_view format);
// Records the end of a formatted statement: no format is recorded any more.
void end_formatted();

// Writes the unit's buffered records to its stream; on failure returns the errno (0 on success)
// and marks the unit failed, dropping what was buffered.
int flush_unit(Unit& u);
// Makes room in the unit's block as flush_unit does, except in a replaced or rewritten file whose
// buffered bytes reach a multiple of kOutBlock in the file: only the bytes before the last such
// multiple are written, and the rest move to the block's front. Same result and errors otherwise.
int make_room(Unit& u);
// The one closing of a unit, for every end of a connection: flushes, puts a replaced file in place
// or cuts a file rewritten in place at what this connection wrote, closes a named file and
// disconnects; returns Reason::none, or the reason with *sys_errno set. in_signal: from inside a
// signal handler, async-signal-safe: writes only what a stream takes at once, and marks the unit
// disconnected without freeing anything.
Reason close_stream(Unit& u, int* sys_errno, bool in_signal);
// The closing of every unit, in order; the first failure is fatal.
void close_all();
// The closing of every unit from inside a signal handler: async-signal-safe, failures ignored.
void close_all_from_signal();

// The length of the next piece of bytes [p, p + len) for a stream whose writes may wait: whole
// records, at most PIPE_BUF bytes, so that a pipe takes each piece whole or not at all.
std::size_t whole_records(const char* p, std::size_t len);

// textio/signals.cpp: installs the handlers of the four signals (an interrupt ignored at the start
// stays ignored); and writes what the stream takes at once of text to fd, never waiting, from a
// signal handler (whole pieces while the stream is ready), returning the bytes written.
void install_signal_handlers();
std::size_t write_now(int fd, const char* text, std::size_t len);

// textio/replace.cpp, the whole-file replacement.
extern bool sync_before_rename;
// Creates the unit's temporary file in its folder under an unpredictable name; returns its
// descriptor, or -1 with errno set.
int create_temp(Unit& u, mode_t mode);
// Starts the new content of a file at its first write: a file rewritten in place is emptied.
void begin_rewrite(int unit);
// Puts a replaced file's temporary file in place, or removes it; Reason::none or the reason with
// *sys_errno set. With older, a swapped-out older file is left under the temporary name (*older
// set) for remove_older. Safe inside a signal handler.
Reason put_in_place(Unit& u, int* sys_errno, bool* older = nullptr);
// Removes the older file that a swap left under temp in the folder dir (base holds the new file).
void remove_older(int dir, const char* temp, const char* base);
// Cuts a file rewritten in place at what this connection wrote; 0 or the errno.
int cut_at_written(const Unit& u);
// Opens the folder of the file that path finally names, symbolic links followed, and writes the
// file's name in it into base; the folder's descriptor, or -1 with errno set.
int open_final_folder(const char* path, char* base);
// Connects a file that the run writes, as a temporary file or in place (st: null when missing);
// 0 or the errno of the failure.
int open_to_write(Unit& u, int at, const char* file, const struct stat* st);

// textio/second_thread.cpp, the file thread. Runs job(arg) there while the caller goes on; false
// when there is no such thread (the caller does the job itself). One job at a time.
bool run_on_file_thread(void (*job)(void*), void* arg);
// Waits until the file thread's job has ended.
void finish_file_job();
// The same from inside a signal handler: async-signal-safe, it looks again every 50 us.
void finish_file_job_from_signal();
// Forgets the unit's stream and state; it is free for another open.
void disconnect(Unit& u);

// textio/placing.cpp, a replaced file put in its place beside the stages. Hands the close of unit
// (a replaced file, the only file connected) to the file thread once its block is written; false
// when it cannot, and the caller closes it as usual.
bool place_beside(int unit);
// True when the file whose placing is under way has the folder and name that other has.
bool placing_at(const Unit& other);
// Settles that placing, if any: waits for it, lets the unit go, and on failure reports it as of the
// moment it was handed over (fatal). Every statement that shows the console text, or depends on the
// file's new place, settles it first.
void settle_placing();
// Waits until that placing has put the new file in its place (the older one may still be being
// removed); on failure settles it (fatal). Files take their places in the order they were closed.
void await_placed();
// Waits for that placing from inside a signal handler (async-signal-safe); the handler's closing
// then finds the unit without a stream.
void settle_placing_from_signal();

// The moment before a write of a file's block or the placing of a rewritten file: the test build's
// file_step hook, where it is set; nothing in the shipped program.
inline void at_file_step() {
#ifdef WAVPROC_TEST_HOOKS
  if (file_step != nullptr) file_step();
#endif
}

// The end of a run, after the closing, with its exit status: the fuzz build's end_of_run hook,
// where it is set (it does not return); nothing in the shipped program.
inline void at_end_of_run([[maybe_unused]] int status) {
#ifdef WAVPROC_TEST_HOOKS
  if (end_of_run != nullptr) end_of_run(status);
#endif
}

}  // namespace wavproc::detail
