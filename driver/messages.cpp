#include "driver/messages.h"

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
