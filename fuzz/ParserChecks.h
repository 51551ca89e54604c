#pragma once
// Runs a StreamParser over a text, reads every getter and checks the
// promises every caller of the parser relies on. Shared by the parser target
// and the rebuild target (which parses what the entry rebuilt).
#include <string>

#include "host/DACAdapter.h"

// What a parse produced, for comparing two parses of one text.
struct ParseSummary {
  int result = -1;
  int variables = 0;
  std::string name, rewindName, error;
  bool operator==(const ParseSummary& other) const {
    return result == other.result && variables == other.variables && name == other.name &&
           rewindName == other.rewindName && error == other.error;
  }
};

// Aborts (through FUZZ_CHECK) when a promise is broken.
ParseSummary ParseAndCheck(const std::string& text, DACAdapterBase* adapter);
