#include "driver/messages.h"

#include <algorithm>

#include "cli/progress_line.h"

namespace rivulon {

void show_parameter_error(std::FILE* out, int code) {
  std::fputs("\nerror in parameters\n", out);
  switch (code) {
    case kMsgNotInteger:
      std::fputs("\nNot a valid integer", out);
      break;
    case kMsgNegativeParameter:
      std::fputs("\nAlignment Parameter are positive integers.", out);
      break;
    case kMsgUsage:
      std::fputs(
          "\nTo run rivulon only specify the input files (1 input sequence and an optional file "
          "with CDRs",
          out);
      break;
    case kMsgBugCheck:
      std::fprintf(out, "\nbug check!\nnotify the code owner\n email:%s\n", kContactAddress);
      break;
    default:
      break;
  }
}

const char* const kHelpText =
    "Usage: rivulon SEQUENCE_FILE [CODING_REGION_FILE]\n"
    "Finds approximate tandem repeats in one DNA sequence. The parameters are asked\n"
    "for on the console (or read from standard input); the report page\n"
    "atr_NAME.html, and on request the alignments page align_NAME.html and the text\n"
    "report atr_NAME.txt, are written in the current folder.\n"
    "\n"
    "  SEQUENCE_FILE        FASTA or plain text of A, C, G, T (either case)\n"
    "  CODING_REGION_FILE   coding regions (a GenBank record's CDS entries) to annotate\n"
    "                       the repeats with\n"
    "  --help, --version    as the only argument: this text, or the version\n"
    "\n"
    "A sequence file named --help or --version is given as ./--help or ./--version.\n"
    "Whole genomes, many records, BED/GFF3 output: rivulon-batch --help.\n";

void show_version(std::FILE* out) { std::fputs("rivulon " RIVULON_VERSION "\n", out); }

std::string progress_text(int32_t lengths_done, int32_t max_motif, double elapsed) {
  const int32_t M = std::max(max_motif, 1);
  const int32_t done = std::min(lengths_done, M);
  const int32_t current = std::min(lengths_done + 1, M);
  const double share = cli::motif_work_share(done, M);
  char head[64];
  std::snprintf(head, sizeof head, "motif length %d of %d  %.1f%%  ", current, M, 100.0 * share);
  return head + cli::clock_text(elapsed) + " elapsed" + cli::remaining_text(share, elapsed);
}

void show_no_quota(std::FILE* err, int32_t motif_length, int32_t window) {
  std::fprintf(err,
               "rivulon: motif length %d cannot be screened (window length %d, no good-window "
               "quota exists); the gap penalty is too small against the match score and the "
               "threshold\n",
               motif_length, window);
}

const char* no_quota_reason(int32_t motif_length, int32_t window) {
  static char reason[256];
  std::snprintf(reason, sizeof reason,
                "Motif length %d cannot be screened (window length %d, no good-window quota "
                "exists): the gap penalty is too small against the match score and the threshold.",
                motif_length, window);
  return reason;
}

}  // namespace rivulon
