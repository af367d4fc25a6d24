// Prints the approximate tandem repeats of every record of a FASTA file,
// through the library's public face alone (letters other than A, C, G, T
// take part as they are; the batch program splits records at them):
//   find_repeats FILE.fa [DEFINITION]
#include <rivulon/rivulon.h>

#include <cctype>
#include <cstdio>
#include <fstream>
#include <string>
#include <variant>

int main(int argc, char** argv) {
  if (argc < 2) return std::fprintf(stderr, "usage: find_repeats FILE.fa [DEFINITION]\n"), 2;
  rivulon::Options options;
  if (argc > 2) options.definition = std::stoi(argv[2]);
  if (const std::string problem = options.validate(); !problem.empty()) return std::fprintf(stderr, "%s\n", problem.c_str()), 2;
  std::ifstream in(argv[1]);
  std::string line, name, bases;
  rivulon::Workspace workspace;
  auto report = [&] {
    if (bases.empty()) return;
    const rivulon::Result found = rivulon::find_repeats(bases, options, workspace);
    if (const auto* failure = std::get_if<rivulon::Failure>(&found)) {
      std::fprintf(stderr, "%s: %s\n", name.c_str(), failure->message.c_str());
    } else {
      for (const rivulon::Repeat& r : std::get<std::vector<rivulon::Repeat>>(found))
        std::printf("%s\t%lld\t%lld\t%d\t%s\t%s\n", name.c_str(), static_cast<long long>(r.start + 1),
                    static_cast<long long>(r.end), r.motif_length, r.units_text.c_str(), r.value_text.c_str());
    }
    bases.clear();
  };
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '>') report(), name = line.substr(1, line.find_first_of(" \t") - 1);
    else for (char c : line) if (std::isalpha(static_cast<unsigned char>(c))) bases += static_cast<char>(std::toupper(c));
  }
  report();
  return 0;
}
