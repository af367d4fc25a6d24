// The run driver: command line, dialogue, provisional page, loading, tables
// and dispatch to one definition's detector.
#pragma once

namespace rivulon {

// Runs the whole program with the console on standard input and output.
// Returns 0 after a complete run; every failure throws FatalError (after
// printing its message), which main turns into the exit status.
int run_rivulon(int argc, char** argv);

}  // namespace rivulon
