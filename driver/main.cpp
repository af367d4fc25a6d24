// Entry of the rivulon program: every failure arrives here as a FatalError
// carrying the exit status, or as an allocation that failed; nothing else
// ends the process (but SIGINT and SIGTERM, see run_guard.h).
#include <cstdio>
#include <new>

#include "driver/fatal.h"
#include "driver/messages.h"
#include "driver/run.h"
#include "driver/run_guard.h"

int main(int argc, char** argv) {
  int status = 0;
  try {
    status = rivulon::run_rivulon(argc, argv);
  } catch (const rivulon::FatalError& failure) {
    std::fflush(stdout);
    rivulon::put_failure_page(failure.reason != nullptr ? failure.reason : "The run failed.",
                              failure.status);
    status = failure.status;
  } catch (const std::bad_alloc&) {
    std::fputs(rivulon::kAllocationMessage, stdout);
    std::fflush(stdout);
    rivulon::put_failure_page(rivulon::kAllocationReason, rivulon::kExitBufferGrowth);
    status = rivulon::kExitBufferGrowth;
  }
  rivulon::unlock_report_page();
  return status;
}
