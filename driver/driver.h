// The waveform processing driver: the record store, the shared scalars, and the stages of a run
// in the order the run sequence calls them.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "textio/textio.h"

namespace wavproc {

// Capacity of every array of the record store, in samples (entries 1..mom; entry 0 is unused).
inline constexpr int mom = 33000;
// The longest record that can be transformed has 2 to this power samples.
inline constexpr int kLongestPower = 15;
// The unit of the spectrum file "amp2.csv", and the unit of the record read and of the waveform
// written (one after the other).
inline constexpr int kSpectrumUnit = 10;
inline constexpr int kFileUnit = 11;

class Format;
struct Item;
struct Slot;
enum class Access;
// 2π as the driver writes it wherever a frequency turns into an angular frequency.
inline constexpr double kTwoPi = 6.283185307;

using cplx = std::complex<double>;

// A large page of the system's memory (2 MiB on x86-64 and AArch64 with 4 KiB pages).
inline constexpr std::size_t kStorePage = std::size_t{1} << 21;

// The record store: static, all zero at start, indexed from 1 as the stages' formulas are. Aligned
// to, and a whole number of, the system's large pages, so that it can be mapped in them (run()).
// The arrays that every run works on come first; component 3's, seldom touched (sc.zero3), last.
struct alignas(kStorePage) RecordStore {
  cplx fx1[mom + 1], fx2[mom + 1];
  double time[mom + 1];
  double xr1[mom + 1], xr2[mom + 1];
  double x1[mom + 1], x2[mom + 1];
  double xr3[mom + 1], x3[mom + 1];
  cplx fx3[mom + 1];
  // The record layer's blocks (lend_block_room): here, past the arrays, they lie in large pages
  // that a run maps anyway. A block that did not fit came from the heap and cost sixteen page
  // faults as it filled: a 32768-row run took 0.6 to 0.75 ms longer.
  char blocks[kRunBlockRoom];
};
static_assert(sizeof(RecordStore) == 2 * kStorePage, "the blocks fit in the store's last large page");

// The scalars passed between stages, and the answers of the dialogue; all zero at start.
struct Scalars {
  std::int32_t nt, nf, if1, nom, nstime, ndur;
  double dt, dur, dom, eom;
  std::int32_t myes, my1, my2, my3, nbd, nit, icut, iskip;
  // The cut's start and duration, seconds: the duration has a name of its own, so that dur stays the
  // transform duration for the whole run.
  double fl1, fl2, fh1, fh2, stime, cutdur;
  // The file names as answered: the record read, and the waveform file written.
  char infile[30], outfile[30];
  char head1[20], head2[20], head3[20];
  // Component 3 is all zeros (of either sign) and its arrays xr3, fx3, x3 are neither worked on
  // nor read: every stage would give zeros again, and a zero field is the same text whatever its
  // sign. Set by the input stage; cleared, with fx3 filled, where a stage would not give zeros.
  bool zero3;
};

extern RecordStore rs;
extern Scalars sc;

// The choices of a run on the command line (wavproc RECORD [options]): the answers the dialogue
// would read, set into the scalars before the first stage, and the file names, of any length.
struct Choices {
  std::string record;
  std::string output;                 // the waveform file
  std::string spectrum = "amp2.csv";  // the spectrum file
  bool flip1 = false, flip2 = false;
  bool bandpass = false;
  double fl1 = 0.0, fl2 = 0.0, fh1 = 0.0, fh2 = 0.0;
  std::int32_t nit = 0;
  bool cut = false;
  double stime = 0.0, cutdur = 0.0;
  std::int32_t skip = 0;  // the skip answer: samples left out between two written samples
  bool quiet = false;     // no reports: nothing on standard output but a refusal
};

// What the arguments ask for: the dialogue, a run on the command line, the usage or the version,
// or nothing at all for a mistake of the call (then what is wrong, in one line).
struct CommandLine {
  enum class Action { dialogue, run, help, version, mistake };
  Action action = Action::dialogue;
  bool sync = true;  // each replaced file put on the disk before its rename (no --no-sync)
  Choices choices;
  std::string mistake;
};
// Reads and checks the arguments after the program's name. Reads no file and ends nothing: a
// mistake is returned, never reported.
CommandLine read_command_line(int argc, const char* const* argv);

// The choices of the run on the command line; null in the dialogue, whose stages ask instead.
extern const Choices* choices;

// A record that only the dialogue shows (a question, the empty record before it, the note on the
// spectrum file); the command line asks nothing.
void prompt(std::initializer_list<Item> items);
// A report of the run (the counts, the grid, the cut): shown in both modes, but not with --quiet.
void report(std::initializer_list<Item> items);
// The answer to the question just asked, read from the console into slots; on the command line the
// slots hold it already, taken from the choices before the first stage.
void answer(std::initializer_list<Slot> slots);

// Connects kFileUnit for access to the file named on the command line (given), or in the dialogue:
// writes the question ask and reads the answer's first 30 characters into name. The input file of
// stage 1 (read only), the output file of stage 10.
void open_answered_file(const Format& ask, char (&name)[30], std::string_view given, Access access);

// Stage 1: asks for the input file, reads its header and rows; sets nt and dt and reports them.
void input_stage();
// Stage 2: the polarity questions, and the sign change of the components named.
void polarity_stage();
// Stage 3: chooses nf and if1 and reports them; ends the run for a record it cannot transform.
void transform_length_stage();
// Stage 4: loads and pads fx1..fx3, transforms them forward, scales by dt, sets the frequency grid.
// Component 2's transform may still run on the second thread when it returns.
void forward_stage();
// Stage 5: the band-pass question, its corners, and the trapezoidal gain.
void bandpass_stage();
// Stage 6: the integration/differentiation menu and the chosen operation.
void integration_stage();
// Stage 7: writes the amplitude spectra of components 1 and 2 to "amp2.csv".
void spectrum_stage();
// Stage 8: rebuilds the negative frequencies, transforms back, keeps the real parts in xr1..xr3.
// Component 2's transform back may still run on the second thread when it returns.
void inverse_stage();
// Waits until a transform of component 2 left running by forward_stage or inverse_stage has
// ended: every stage after them calls it before it reads or changes the store's arrays.
void await_component_2();
// Stage 9: the cutting dialogue and the window copied into x1..x3.
void cutting_stage();
// Stage 10: the skip answer, the output file name and the output waveform file.
void output_stage();

// The spectra of the three components, indexed from 1 as the store's, on the frequency grid of
// lines 1..nom, dom rad/s apart (line i at (i-1)·dom). fx3 is null while component 3 is all zeros:
// it is then left alone.
struct Spectra {
  cplx* fx1;
  cplx* fx2;
  cplx* fx3;
  std::int32_t nom;
  double dom;
};
// The store's spectra fx1..fx3 on the grid of nom and dom, with fx3 null while sc.zero3 holds,
// once component 2's forward transform has ended.
Spectra stored_spectra();

// Multiplies lines 1..nom of the spectra by the trapezoidal gain of corners fl1 <= fl2 <= fh1 <= fh2 (Hz).
void apply_bandpass(const Spectra& s, double fl1, double fl2, double fh1, double fh2);
// Integrates (nit 1), double-integrates (2) or differentiates (3) lines 2..nom; other nit: nothing.
void apply_integration(const Spectra& s, std::int32_t nit);

// The dialogue and every stage in order, then the final wait for one more console line (in the
// dialogue only).
void run_stages();
// The whole run: the answers of given (null: the dialogue), start-up, the stages, the plain stop.
[[noreturn]] void run(const Choices* given);
// One more dialogue in this process, for a caller that runs one record after another (the batch
// worker), with the console on descriptors 0, 1 and 2 as they are now. Returns when the run ends
// with status 0, its files closed and the store and scalars as a new process finds them; any other
// end ends the process as it ends a run of its own, with the same status.
void run_in_turn();

// wavproc --batch-worker STATE K RESULTS JOBS: runs the records that wavproc-batch listed in the
// folder STATE, as worker K of JOBS, moving each run's results into RESULTS; returns the exit
// status (0: no record left to claim).
int batch_worker(const char* state, const char* k, const char* results, const char* jobs);

}  // namespace wavproc
