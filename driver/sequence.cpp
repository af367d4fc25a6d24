#include "driver/sequence.h"

#include <limits>
#include <new>

#include "driver/fatal.h"
#include "driver/messages.h"

namespace rivulon {

namespace {

constexpr int64_t kFirstCapacity = 16;
constexpr int64_t kMaxBases = std::numeric_limits<int32_t>::max();

// Doubles the buffer; a failure (or a length the 32-bit count cannot hold)
// ends the run with status 142.
void grow(Sequence& seq) {
  const int64_t wanted = seq.capacity * 2;
  try {
    seq.buffer.resize(static_cast<size_t>(wanted));
  } catch (const std::bad_alloc&) {
    std::fputs(kAllocationMessage, stdout);
    fatal(kExitBufferGrowth, kAllocationReason);
  }
  seq.capacity = wanted;
}

}  // namespace

Sequence load_sequence(std::FILE* in) {
  Sequence seq;
  try {
    seq.buffer.resize(kFirstCapacity);
  } catch (const std::bad_alloc&) {
    std::fputs(kAllocationMessage, stdout);
    fatal(kExitFirstBuffer, kAllocationReason);
  }
  seq.capacity = kFirstCapacity;

  int c = std::getc(in);
  while (c != EOF) {
    if (seq.n == seq.capacity) grow(seq);
    if (seq.n == kMaxBases && c != '\n' && c != '\r' && c != ' ' && c != '>') {
      // One more base would not fit the 32-bit length.
      std::fputs(kAllocationMessage, stdout);
      fatal(kExitBufferGrowth, kAllocationReason);
    }
    switch (c) {
      case '\n':
      case '\r':
      case ' ':
        break;
      case '>':
        do {
          c = std::getc(in);
        } while (c != EOF && c != '\n' && c != '\r');
        break;
      case 'A':
      case 'a':
      case 'C':
      case 'c':
      case 'G':
      case 'g':
      case 'T':
      case 't':
        seq.buffer[static_cast<size_t>(seq.n++)] = static_cast<char>(c);
        break;
      default:
        std::fputs(kInvalidSequenceMessage, stdout);
        fatal(kExitInvalidSequence, kInvalidSequenceReason);
    }
    if (c == EOF) break;  // a header ran to the end of the file
    c = std::getc(in);
  }
  if (seq.n == seq.capacity) grow(seq);
  seq.buffer[static_cast<size_t>(seq.n)] = '\0';
  return seq;
}

}  // namespace rivulon
