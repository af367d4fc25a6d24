// Ending a run on a failure.
//
// Every failure prints its message on standard output first and then calls
// `fatal` with the exit status that names the cause. `fatal` throws; the
// exception is caught once, in main, which ends the process with that status.
// Library code therefore never ends the process itself and stays testable.
#pragma once

namespace rivulon {

struct FatalError {
  int status;          // exit status of the process (0 never occurs)
  const char* reason;  // what the failure page says, when the run had put one up; static text
};

[[noreturn]] inline void fatal(int status, const char* reason = nullptr) {
  throw FatalError{status, reason};
}

// Exit statuses, one per cause.
constexpr int kExitCodingFileUnreadable = 1;
constexpr int kExitSequenceUnreadable = 140;
constexpr int kExitFirstBuffer = 141;
constexpr int kExitBufferGrowth = 142;
constexpr int kExitInternalCheck = 1000;
constexpr int kExitArguments = 2000;
constexpr int kExitParameter = 3000;
constexpr int kExitNoQuota = 5000;
constexpr int kExitInvalidSequence = 5505;
constexpr int kExitPagesUnwritten = 73;  // a requested page could not be written
constexpr int kExitFolderBusy = 75;      // another run is writing the same report in this folder

}  // namespace rivulon
