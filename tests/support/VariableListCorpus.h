#pragma once
// The conformance corpus of variable lists, tests/data/variable-lists.tsv:
// each case a list and the plug-in's verdict on it. Each side's test builds
// its own verdict in the same words (the fields below) and compares.
#include <string>
#include <vector>

namespace drav {
namespace test {

struct ListCase {
  int line;             // in the file, for the failure message
  std::string list;     // unescaped
  std::string verdict;  // the rest of the line
};

// Reads the corpus of the source tree at `sourceDir` (DRAV_SOURCE_DIR).
std::vector<ListCase> VariableListCorpus(const std::string& sourceDir);

// A verdict in the corpus's words: "N slots" or "refused ID TOKEN", then the
// warnings and variables, all separated by tabs.
struct ListVerdictText {
  std::string head;
  std::vector<std::string> fields;
  std::string Text() const;
};
std::string SlotsField(int slots);
std::string MessageField(const char* what, unsigned int id, const std::string& token);
std::string VariableField(const std::string& name, int type, int width, int decimals, const std::string& kind,
                          int firstSlot);

// The text of message `id` as the host's catalogs give it, each "%d"
// replaced by the next word of `limits`, then " " and the token (if any).
std::string CatalogMessage(unsigned int id, const char* token, bool warning = false, const std::string& limits = "");
// "ID TOKEN" of a message "[ID] text TOKEN" that a side gave on a list, as
// the corpus writes it, after checking that its text is the catalog's with
// the limits it reports.
std::string MessageVerdict(const std::string& message, bool warning);

}  // namespace test
}  // namespace drav
