// Reference for the consensus base of a pattern column: the rule written out
// case by case for each own base, as first built.
#pragma once
#include <cstdint>

namespace rivulon::reference {

inline char pick_consensus_base_reference(char own, int32_t nA, int32_t nC, int32_t nG, int32_t nT) {
  switch (own) {
    case 'A':
      if (!(nA >= nC && nA >= nG && nA >= nT)) return nC >= nG ? (nC > nT ? 'C' : 'T') : (nG >= nT ? 'G' : 'T');
      return own;
    case 'C':
      if (!(nC >= nA && nC >= nG && nC >= nT)) return nA >= nG ? (nA > nT ? 'A' : 'T') : (nG >= nT ? 'G' : 'T');
      return own;
    case 'G':
      if (!(nG >= nA && nG >= nC && nG >= nT)) return nC >= nA ? (nC > nT ? 'C' : 'T') : (nA >= nT ? 'A' : 'T');
      return own;
    case 'T':
      if (!(nT >= nA && nT >= nC && nT >= nG)) return nC >= nA ? (nC > nG ? 'C' : 'G') : (nA >= nG ? 'A' : 'G');
      return own;
    default:
      return own;
  }
}

}  // namespace rivulon::reference
