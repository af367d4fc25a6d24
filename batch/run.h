// rivulon-batch: the whole program but for the process around it.
#pragma once
#include <csignal>
#include <string>
#include <vector>

namespace rivulon::batch {

// Exit statuses.
constexpr int kExitDone = 0;
constexpr int kExitInput = 1;         // the input cannot be read or holds no record
constexpr int kExitUsage = 2;         // a bad command line; nothing was written
constexpr int kExitOutput = 3;        // an output could not be written
constexpr int kExitOutOfMemory = 4;
constexpr int kExitNotExamined = 5;  // stretches were left out (named on standard error)

// The signals that end a run after its temporaries are removed; they are
// held back while the outputs are put in place.
inline constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// Tells the user one line on standard error: "rivulon-batch: <line>".
void say(const std::string& line);

// Runs the program on the arguments after its name and returns the exit status.
int run_batch(const std::vector<std::string>& args);

}  // namespace rivulon::batch
