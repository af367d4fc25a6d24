// Every text the program prints besides its prompts: failures of the command
// line, the dialogue, the files and the detection.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

namespace rivulon {

// Message codes of show_parameter_error.
constexpr int kMsgNotInteger = 0;
constexpr int kMsgNegativeParameter = 15;
constexpr int kMsgUsage = 18;
constexpr int kMsgBugCheck = 20;

// Where message 20 sends the user: the project's issue tracker.
inline constexpr const char* kContactAddress = "the Rivulon issue tracker";

// Prints "\nerror in parameters\n" and then the text of `code` to `out`.
void show_parameter_error(std::FILE* out, int code);

// Byte-exact, do not correct: users and scripts match these texts as they are,
// spelling included ("openning", "sapce").
inline constexpr const char* kSequenceUnreadableMessage = "Error in openning input file for read\n";
inline constexpr const char* kInvalidSequenceMessage = "error! input file is not valid\n";
inline constexpr const char* kAllocationMessage = "allocation error.check sufficient sapce is available";
inline constexpr const char* kCodingFileUnreadableMessage = "\ncan't open file,press any key\n";
inline constexpr const char* kFileNamePrompt = "\nFile name: ";
// A page that could not be written: the report page under definition 2 and
// the provisional page say "output", every other page "input".
inline constexpr const char* kInputWriteError = "\nerror in openning input file for write";
inline constexpr const char* kOutputWriteError = "\nerror in openning output file for write";

// Printed when another run holds the folder's lock on the report page (%s).
inline constexpr const char* kFolderBusyMessage =
    "rivulon: another run is writing %s in this folder; try again when it has finished\n";
// Standard error's line when requested pages could not be written; their names follow.
inline constexpr const char* kPagesUnwrittenLine = "rivulon: these pages could not be written: ";

// The explanation of status 5000, on standard error.
void show_no_quota(std::FILE* err, int32_t motif_length, int32_t window);

// What the failure page says of each cause.
inline constexpr const char* kSequenceUnreadableReason = "The sequence file could not be read.";
inline constexpr const char* kInvalidSequenceReason =
    "The sequence file holds a character that is no base (A, C, G, T in either case), space, line end or header line.";
inline constexpr const char* kAllocationReason = "Not enough memory.";
inline constexpr const char* kCodingFileUnreadableReason = "The coding-region file could not be read.";
inline constexpr const char* kBugCheckReason = "An internal check failed (bug check).";
inline constexpr const char* kPagesUnwrittenReason = "The report page could not be written.";
// `rivulon --help` and `rivulon --version` (the only argument), on standard output.
extern const char* const kHelpText;
void show_version(std::FILE* out);

// The progress line while the motif lengths are screened: "motif length 12 of
// 500  1.2%  0:00:03 elapsed  about 0:04:10 left", the share being that of
// the expected work (longer motifs take longer).
std::string progress_text(int32_t lengths_done, int32_t max_motif, double elapsed_seconds);

// After a run on a terminal, on standard error: where each page went.
inline constexpr const char* kReportPageWritten = "Report page:     %s\n";
inline constexpr const char* kAlignmentsPageWritten = "Alignments page: %s\n";
inline constexpr const char* kTextReportWritten = "Text report:     %s\n";

// The reason of status 5000, in a buffer of its own (valid until the next call).
const char* no_quota_reason(int32_t motif_length, int32_t window);

}  // namespace rivulon
