#include <csignal>
#include <string>
#include <vector>

#include "batch/run.h"
#include "report/output_file.h"

namespace {

// SIGINT, SIGTERM, SIGHUP (the terminal closed) and SIGPIPE (the reader of
// standard output gone) remove the temporaries of the outputs and end the
// process by the signal itself.
void on_signal(int signal_number) {
  rivulon::remove_open_temporaries();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

int main(int argc, char** argv) {
  for (const int s : rivulon::batch::kEndingSignals) std::signal(s, on_signal);
  return rivulon::batch::run_batch(std::vector<std::string>(argv + 1, argv + argc));
}
