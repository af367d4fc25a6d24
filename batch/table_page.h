// The summary page made from a table instead of a search: the TSV of an
// earlier run over the same input (or the workflow's pieces gathered into
// one), read back with the input's records for their names and lengths.
#pragma once
#include "batch/options.h"

namespace rivulon::batch {

// Writes options.html from the rows of options.from_table; the exit status.
// The table must have been written with the same parameters (its
// "#parameters:" line equal to what this run would write), and its rows
// must follow the input's records in order, by start within a record.
int page_from_table(const BatchOptions& options);

}  // namespace rivulon::batch
