// Features of an annotation (GFF3 or BED) that repeats are told to overlap.
#pragma once
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace rivulon::batch {

class Annotation {
 public:
  // Reads a GFF3 file (its gene, mRNA, CDS and exon features, either strand)
  // or a BED file (every line), plain or gzip; GFF3 when the name ends in
  // .gff or .gff3 (before .gz) or the first feature line has nine columns.
  // Nothing, with `error` set, when the file cannot be read or a line holds
  // no feature.
  static std::optional<Annotation> read(const std::string& path, std::string& error);

  // The names of the features on `seqid` that share a base with [start, end)
  // (0-based), by their start, each once; "." when there are none. A GFF3
  // feature is named by its Name, else its ID, else its type and place; a BED
  // feature by its name column, else its place.
  std::string names_overlapping(const std::string& seqid, int64_t start, int64_t end) const;

 private:
  struct Feature {
    int64_t start, end;  // 0-based, end exclusive
    std::string name;
  };
  struct Features {
    std::vector<Feature> by_start;
    int64_t longest = 0;
  };
  std::map<std::string, Features> features_;
};

}  // namespace rivulon::batch
