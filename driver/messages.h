// Texts the program prints on failures of the command line and the dialogue.
#pragma once
#include <cstdio>

namespace rivulon {

// Message codes of show_parameter_error.
constexpr int kMsgNotInteger = 0;
constexpr int kMsgNotInteger9 = 9;
constexpr int kMsgIllegal = 10;
constexpr int kMsgNotPattern = 12;
constexpr int kMsgNegativeParameter = 15;
constexpr int kMsgUsage = 18;
constexpr int kMsgBugCheck = 20;

// Where message 20 sends the user: the project's issue tracker.
inline constexpr const char* kContactAddress = "the Rivulon issue tracker";

// Prints "\nerror in parameters\n" and then the text of `code` to `out`.
// Codes without a text print the heading only.
void show_parameter_error(std::FILE* out, int code);

}  // namespace rivulon
