// What a run leaves in its output folder when it does not finish.
//
// While the run works, the provisional page stands under the report page's
// name. From the moment it is in place, a run that ends without its report
// page (a failure status, SIGINT or SIGTERM, out of memory, a report page that
// could not be written) puts a failure page there instead, naming the cause
// and the exit status. SIGINT and SIGTERM also remove the run's temporary
// files and then end the process by the signal itself (a shell reports
// 128 + signal). Only SIGKILL and a power cut leave the provisional page and
// at most a few temporary files, which the next run in the folder removes.
//
// Two runs writing the same report in one folder exclude each other through
// an advisory lock (flock) on a lock file named after the report page,
// ".rivulon-<hash>.lock", which the run removes when it ends; and a run holds
// its folder shared (report/output_file.h), so that a batch run writing pages
// into the same folder excludes it.
#pragma once
#include <string>

namespace rivulon {

// Takes the folder's lock for `report_page` and installs the handlers for
// SIGINT and SIGTERM. False when another run holds the lock. A lock file that
// cannot be created (a folder that is not writable) is no reason to stop:
// the run goes on unlocked and its pages fail as they would.
bool lock_report_page(const std::string& report_page);

// The provisional page is in place under `report_page`: from now on a run
// that ends without its report page puts the failure page there.
void guard_report_page(const std::string& report_page);

// The run has put its report page in place (or tried to: a report page that
// could not be written is reported as such): no failure page is due.
void report_page_settled();

// Puts the failure page when one is due. Async-signal-safe and allocation-free.
void put_failure_page(const char* reason, int status);

// Removes the lock file and releases the lock.
void unlock_report_page();

}  // namespace rivulon
