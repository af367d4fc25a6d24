// Entry of the rivulon program: every failure arrives here as a FatalError
// carrying the exit status; nothing else ends the process.
#include <cstdio>

#include "driver/fatal.h"
#include "driver/run.h"

int main(int argc, char** argv) {
  try {
    return rivulon::run_rivulon(argc, argv);
  } catch (const rivulon::FatalError& failure) {
    std::fflush(stdout);
    return failure.status;
  }
}
