#include "driver/run.h"

#include <sys/stat.h>

#include <cstdio>
#include <memory>

#include "detect/definition1.h"
#include "detect/definition2.h"
#include "detect/definition3.h"
#include "driver/dialogue.h"
#include "driver/fatal.h"
#include "driver/messages.h"
#include "driver/sequence.h"
#include "report/output_file.h"
#include "report/output_names.h"
#include "report/page.h"
#include "stats/significance.h"

namespace rivulon {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

int run_rivulon(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    show_parameter_error(stdout, kMsgUsage);
    fatal(kExitArguments);
  }
  RunSettings settings;
  settings.sequence_file = argv[1];
  if (argc == 3) settings.coding_file = std::string(argv[2]);

  run_dialogue(stdin, stdout, settings);
  settings.mismatch = -settings.mismatch;
  settings.gap = -settings.gap;
  settings.terminal_gap = -settings.terminal_gap;

  // The sequence file stays open until the end of the run.
  std::unique_ptr<std::FILE, FileCloser> input(std::fopen(settings.sequence_file.c_str(), "r"));
  struct stat info {};
  // A directory opens for reading here but yields no bytes: it is no sequence file.
  if (!input || (fstat(fileno(input.get()), &info) == 0 && S_ISDIR(info.st_mode))) {
    std::fputs("Error in openning input file for read\n", stdout);
    fatal(kExitSequenceUnreadable);
  }

  OutputFile provisional;
  bool written = provisional.open(report_page_name(settings.sequence_file));
  if (written) {
    write_provisional_page(provisional.stream());
    written = provisional.commit();
  }
  if (!written) std::fputs("\nerror in openning output file for write", stdout);

  const Sequence seq = load_sequence(input.get());
  if (std::ferror(input.get())) {  // a read error is not the end of the sequence
    std::fputs("Error in openning input file for read\n", stdout);
    fatal(kExitSequenceUnreadable);
  }
  const double p = match_probability(seq);
  int32_t M = settings.max_motif;
  if (M > seq.n / 2) M = seq.n / 2;

  SignificanceTables tables(M);
  const RunSettings& s = settings;
  switch (s.definition) {
    case 1:
      detect_definition1(s.gap, s.terminal_gap, s.mismatch, s.match, s.threshold, M,
                         s.sequence_file, s.coding_file, seq.bases(), seq.n, tables, p,
                         s.alignments, s.text_report);
      break;
    case 2:
      detect_definition2(s.gap, s.terminal_gap, s.mismatch, s.match, s.threshold, M,
                         s.sequence_file, s.coding_file, seq.bases(), seq.n, tables, p,
                         s.alignments, s.text_report);
      break;
    default:
      detect_definition3(s.gap, s.terminal_gap, s.mismatch, s.match, s.threshold, M,
                         s.sequence_file, s.coding_file, seq.bases(), seq.n, tables, p,
                         s.alignments, s.text_report);
      break;
  }
  return 0;
}

}  // namespace rivulon
