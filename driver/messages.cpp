#include "driver/messages.h"

namespace rivulon {

void show_parameter_error(std::FILE* out, int code) {
  std::fputs("\nerror in parameters\n", out);
  switch (code) {
    case kMsgNotInteger:
    case kMsgNotInteger9:
      std::fputs("\nNot a valid integer", out);
      break;
    case kMsgIllegal:
      std::fputs("\nIllegal parameters", out);
      break;
    case kMsgNotPattern:
      std::fputs("\nNot a valid pattern", out);
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

}  // namespace rivulon
