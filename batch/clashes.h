// Outputs that would destroy what the run reads or writes: the input, its
// index, or another output of the same run.
#pragma once
#include <string>

#include "batch/options.h"

namespace rivulon::batch {

// One line naming an output that is the input, the input's index (.fai,
// .gzi) or another output of the run (the same file, reached by any name:
// the same device and inode, or the same path once resolved), and what it
// clashes with; empty when the outputs are sound. Devices such as /dev/null
// may take several outputs; standard output takes one.
std::string clashing_outputs(const BatchOptions& options);

}  // namespace rivulon::batch
