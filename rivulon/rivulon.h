// Rivulon: approximate tandem repeats in DNA, as a library.
//
// The contract, in the manner of the field's small alignment libraries:
//   - bases: any slice of any buffer (std::string_view); nothing after the
//     last base is read and no caller writes a sentinel. Letters are
//     compared as given: fold case (or not) before the call. A stretch is
//     examined as one sequence: split records at N runs first
//     (rivulon/genome.h reads genomes and splits their records).
//   - Options: the parameters as a user gives them, penalties as positive
//     numbers; validate() names the first one out of range. Sign convention,
//     what the threshold means per definition, the clamp of the longest
//     motif to half the stretch and the base composition are the library's
//     business.
//   - Workspace: reusable between calls, one call at a time; grown, never shrunk.
//   - The result: every repeat in the order of the text report (by start,
//     then as the definition lists them), or a Failure naming its cause.
//     Results never depend on the number of threads.
//
//   rivulon::Options options;               // definition 3, minimum score 50, motifs up to 500
//   options.definition = 1;                 // adjacent copies at similarity level 80
//   rivulon::Workspace workspace;
//   rivulon::Result found = rivulon::find_repeats(bases, options, workspace);
//   if (const auto* repeats = std::get_if<std::vector<rivulon::Repeat>>(&found)) ...
#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace rivulon {

class Executor;  // rivulon/executor.h

// The parameters of a detection, as a user gives them.
struct Options {
  int32_t match = 2;         // match score, 0..1,000,000
  int32_t mismatch = 7;      // mismatch penalty, 0..1,000,000 (0 is about 1,000 times slower)
  int32_t gap = 7;           // gap penalty, 0..1,000,000
  int32_t terminal_gap = 3;  // penalty of a gap at the end of a copy, 0..1,000,000
  int32_t max_motif = 500;   // longest motif, 1..500 (at most half the stretch is examined)
  int32_t definition = 3;    // 1: every adjacent pair of copies reaches the level;
                             // 2: the adjacent pairs reach it on average;
                             // 3: the stretch aligns with a repeating pattern with min_score
  int32_t level = 80;        // definitions 1, 2: similarity level, 50..100 x match
  int32_t min_score = 50;    // definition 3: minimum score, 30..150

  // The first parameter out of its range, as "--name must be ... (got N)";
  // "" when every parameter is valid.
  std::string validate() const;
};

// One parameter of Options as programs offer it: its option name, the field
// it sets, its range and what it means. The level's upper bound is 100 x the
// match score. Programs take their ranges, defaults and help from here.
struct Parameter {
  const char* option;        // "--match"
  const char* value_name;    // "N"
  int32_t Options::*field;
  int64_t lo, hi;            // the range; for the level, hi is 100 and is multiplied by the match score
  bool hi_times_match;
  const char* meaning;       // one line (or more, joined by "\n"), the range included
};

// Every parameter, in the order programs list them.
const std::vector<Parameter>& parameters();

// The parameter named `option` ("--gap"), or nullptr.
const Parameter* parameter(std::string_view option);

// One repeat; positions are 0-based in the bases given.
struct Repeat {
  int64_t start = 0;        // first base
  int64_t end = 0;          // one past the last base (never past the bases given)
  int64_t motif_start = 0;  // definitions 1, 2: the first copy; 3: the pattern's representative copy
  int32_t motif_length = 0;
  double units = 0;         // copies (definition 3 with a fraction)
  double value = 0;         // definitions 1, 2: similarity per base in match units; 3: the score
  int32_t definition = 0;
  std::string units_text;   // units and value as the text report prints them
  std::string value_text;
};

// Why a detection gave no repeats.
struct Failure {
  enum class Cause {
    kInvalidOptions,  // `message` names the parameter
    kTooLong,         // more than 2,147,483,646 bases
    kNoQuota,         // the significance model has no quota for `motif_length` with these parameters
    kInternalCheck,   // definition 2's trimming found no stretch it had promised (`motif_length`)
    kCancelled,       // the caller's cancellation flag was set
  };
  Cause cause = Cause::kInvalidOptions;
  int32_t motif_length = 0;
  int32_t window = 0;  // kNoQuota: the window length the model had no quota for
  std::string message;
};

using Result = std::variant<std::vector<Repeat>, Failure>;

// How a call runs: threads it may use, and what it tells or heeds meanwhile.
struct RunControl {
  int32_t threads = 1;                           // results never depend on it
  std::atomic<int32_t>* lengths_done = nullptr;  // when set, counts the motif lengths examined
  const std::atomic<bool>* cancel = nullptr;     // polled between motif lengths: when true, the
                                                 // call ends with kCancelled
  Executor* executor = nullptr;                  // when set, every parallel step runs on it, and
                                                 // `threads` is ignored; otherwise the call makes
                                                 // a pool of `threads` for itself
};

// What one detection needs besides its inputs (a copy of the bases, the
// per-position marks, the alignment matrices and pattern work spaces), kept
// between calls so that many stretches do not allocate it again and again:
// grown, never shrunk. One call at a time; results never depend on what an
// earlier call left in it.
class Workspace {
 public:
  Workspace();
  ~Workspace();
  Workspace(const Workspace&) = delete;
  Workspace& operator=(const Workspace&) = delete;

 private:
  friend Result find_repeats(std::string_view, const Options&, Workspace&, const RunControl&);
  struct State;
  std::unique_ptr<State> state_;
};

// The repeats of `bases`. May throw std::bad_alloc.
Result find_repeats(std::string_view bases, const Options& options, Workspace& workspace,
                    const RunControl& control = RunControl{});

// What a biologist reads off a repeat, as tandem repeat finders of the field
// report it, so that their users can compare.
struct RepeatStatistics {
  std::string consensus;        // the letter most copies hold at each column of their alignment (or the
                                // shortest motif the repeat is made of, when it explains the repeat as
                                // well), from the column the repeat's first base stands against
  int64_t length = 0;           // bases, end - start
  double copies = 0;            // consensus columns the repeat's alignment passes / consensus length
  int32_t percent_matches = 0;  // adjacent copies compared through their alignment to the consensus:
  int32_t percent_indels = 0;   // whole percents (cut) of compared positions that match, that are indels
  int64_t score = 0;            // the repeat aligned against its consensus repeated, with the run's weights
  int32_t composition[4] = {};  // A, C, G, T: whole percents (cut) of the repeat's bases (others not counted)
  double entropy = 0;           // of that composition, bits (0..2)
  std::string canonical_motif;  // the smallest rotation of the consensus or of its reverse complement
};

// The statistics of `repeat`, one of find_repeats()'s repeats of `bases` with
// `options`. May throw std::bad_alloc.
RepeatStatistics describe(std::string_view bases, const Repeat& repeat, const Options& options);

// One copy of a repeat, as its alignment to the consensus lays it out: a
// pass through the consensus, from column first_column (0 but for the first
// copy) to the consensus's end (or to where the alignment ends).
struct CopyAlignment {
  int64_t start = 0, end = 0;  // its bases, 0-based, [start, end) in the bases given
  int32_t first_column = 0;    // the consensus column its first letter stands against
  std::string letters;         // one per consensus column it passes: its base, or '-' where it has none
  // Bases it has between consensus columns: (the index in `letters` they
  // come before, the bases), in order.
  std::vector<std::pair<int32_t, std::string>> insertions;
  int32_t percent_matches = 0;  // of its columns (letters and inserted bases) that match, whole percents (cut)
};

// A repeat's copies aligned to its consensus.
struct CopyLayout {
  std::string consensus;
  // The bases the alignment takes, [aligned_start, aligned_end); a local
  // alignment may leave a few of the repeat's first or last bases out.
  int64_t aligned_start = 0, aligned_end = 0;
  int64_t score = 0;  // as RepeatStatistics::score
  std::vector<CopyAlignment> copies;
};

// The bases [start, end) aligned to `consensus` repeated (the alignment
// describe() scores, with RepeatStatistics::consensus), cut into copies
// where it passes the consensus's last column. May throw std::bad_alloc.
CopyLayout align_copies(std::string_view bases, int64_t start, int64_t end, const std::string& consensus,
                        const Options& options);

// A repeat with its statistics.
struct Call {
  Repeat repeat;
  RepeatStatistics statistics;
  size_t source = 0;  // the index of the repeat it was made from, among those given
};

// Each of find_repeats()'s repeats of `bases` with `options` as the locus it
// stands in, in the order given: its consensus is aligned over the stretch
// around it until the alignment ends on both sides, which gives the locus its
// bounds, and laid out again with the locus's own consensus until that holds
// still. A call keeps the detector's motif, units and value. May throw
// std::bad_alloc.
std::vector<Call> loci_of(std::string_view bases, const std::vector<Repeat>& repeats, const Options& options);

// One call per locus, in order of start: best first (highest statistics
// score, then shorter consensus, then earlier start), a call that overlaps
// one already kept by more than half of the shorter of the two is left out.
std::vector<Call> choose_loci(std::vector<Call> calls);

// choose_loci(loci_of(bases, repeats, options)).
std::vector<Call> one_per_locus(std::string_view bases, const std::vector<Repeat>& repeats, const Options& options);

// A second search, for what a definition's significance screening leaves
// out: two or more adjacent copies of a motif of 7 bases or more (up to
// options.max_motif), found where each base of a stretch compared with the
// one a motif length further on gives an array that scores at least
// options.min_score against its first copy (without indels). Best first,
// each such array that no locus explains as well (one of `loci`, or one laid
// out before it, covering half of it with at least that score) is laid out
// as loci_of() lays out a call, and kept when it scores options.min_score
// against its consensus with 1.8 copies or more. The calls, by start, have
// definition 0, the consensus's length as motif length, the locus's first
// copy as motif, its copies as units and its score as value; their source
// is SIZE_MAX. Hand them to choose_loci() with `loci`. May throw
// std::bad_alloc.
std::vector<Call> find_adjacent_copies(std::string_view bases, const std::vector<Call>& loci, const Options& options);

// Which calls are reported, as the batch program reports them.
struct Reporting {
  bool one_per_locus = true;    // one call per locus (loci_of, choose_loci); false: every repeat as found
  bool adjacent_copies = true;  // with one_per_locus and definition 3: also find_adjacent_copies()'s calls
  // Calls kept: copies, length (bases), percent matches of adjacent copies,
  // score against the consensus, each at least this.
  double min_copies = 0;
  int64_t min_length = 0;
  int32_t min_identity = 0;
  int64_t min_consensus_score = 0;
  // Polled between calls: when set, report_calls() returns at once with
  // what it has, which the caller should discard.
  const std::atomic<bool>* cancel = nullptr;
  // When set, the calls' statistics are worked out on its threads (the
  // calls, and their order, are the same).
  Executor* executor = nullptr;
};

// The calls reported for find_repeats()'s `repeats` of `bases` with
// `options`: one per locus by start (each with the index of the repeat it
// was made from as source, SIZE_MAX for the adjacent-copy search's), or
// every repeat with its statistics in the order given (source: its index);
// then those that pass the filters. May throw std::bad_alloc.
std::vector<Call> report_calls(std::string_view bases, const std::vector<Repeat>& repeats, const Options& options,
                               const Reporting& reporting);

// The smallest rotation of `motif` or of its reverse complement, upper case:
// "TA", "AT" and "TATA" reversed give "AT".
std::string canonical_motif(std::string_view motif);

// `bases` shuffled so that every dinucleotide occurs as often as before, and
// the first and last letters stay: a stretch with the same composition and
// neighbour frequencies but no tandem structure beyond chance. The same seed
// gives the same shuffle on every platform.
std::string shuffle_dinucleotides(std::string_view bases, uint64_t seed);

// The motif lengths a stretch of n bases is examined for: max_motif, at most n / 2.
int32_t motif_lengths_examined(const Options& options, int64_t n);

// The library's version, "MAJOR.MINOR.PATCH".
const char* version();

}  // namespace rivulon
