// Every text the program prints besides its prompts: failures of the command
// line, the dialogue, the files and the detection.
#pragma once
#include <cstdint>
#include <cstdio>

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

// The explanation of status 5000, on standard error.
void show_no_quota(std::FILE* err, int32_t motif_length, int32_t window);

}  // namespace rivulon
