// A FASTA file's index (.fai, and .gzi for bgzip) checked against the file
// before it is trusted: an index made for another version of the file gives
// other bases under a record's name, without any error from the reader.
#pragma once
#include <string>
#include <vector>

namespace rivulon {

// Checks `fasta`'s index `fasta`.fai (and for a bgzip file `fasta`.gzi).
// Returns one line saying what is wrong and to re-index, or "" when the
// index fits the file. The index is provably wrong when a line of it is not
// of the form name, length, offset, bases per line, bytes per line (with a
// line length of 0 for a record that has bases); when a record's bases would
// run past the end of the file; or when the bytes before a record's offset
// are not its header line ">name..." and a line end. For a bgzip file the
// .gzi must be a list of (compressed, uncompressed) offsets that both
// increase, each compressed offset inside the file and at the start of a
// BGZF block; the record checks then read through it. An index older than
// the file is only noted in `warning` (a copy or an unpacked archive changes
// times). A missing index is left to the reader to report.
// Every line of the .fai is checked for its form; the records named in
// `records` (those the run reads) also against the file.
std::string check_fasta_index(const std::string& fasta, const std::vector<std::string>& records,
                              std::string& warning);

}  // namespace rivulon
