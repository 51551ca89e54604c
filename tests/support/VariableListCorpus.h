#pragma once
// The corpus of variable lists, tests/data/variable-lists.tsv: each case a
// list and the plug-in's verdict on it. Each side's test writes its own
// verdict in the corpus's words and compares.
#include <string>
#include <vector>

namespace drav {
namespace test {

struct ListCase {
  int line;             // in the file, for the failure message
  std::string list;     // unescaped
  std::string verdict;  // the rest of the line
};
// The corpus of the source tree at `sourceDir` (DRAV_SOURCE_DIR).
std::vector<ListCase> VariableListCorpus(const std::string& sourceDir);

// "\tNAME TYPE WIDTH.DECIMALS KIND @SLOT", one variable of a verdict.
std::string VariableField(const std::string& name, int type, int width, int decimals, const std::string& kind,
                          int firstSlot);
// "ID TOKEN" of a message "[ID] text TOKEN" that a side gave on a list, after
// checking that its text is the catalog's with the limits it reports.
std::string MessageVerdict(const std::string& message, bool warning);

// The text of message `id` as the host's catalogs give it, each "%d"
// replaced by the next word of `limits`, then " " and the token (if any).
std::string CatalogMessage(unsigned int id, const char* token, bool warning = false, const std::string& limits = "");

}  // namespace test
}  // namespace drav
